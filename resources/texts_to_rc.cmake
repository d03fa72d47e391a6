# Turns the message catalog of texts.def (UTF-8, C string literals) into the two STRINGTABLEs of
# the Windows programs: Japanese (KESTARIO_MESSAGE) and English (KESTARIO_MESSAGE_ENGLISH), one
# line "number, "text"" per message, each table under its LANGUAGE statement.
#
# Run as: cmake -DINPUT=texts.def -DOUTPUT=texts.rc -P texts_to_rc.cmake
#
# C and RC literals differ in one escape that the catalog uses: a double quote is \" in C and ""
# in RC. Backslash-n (line feed) and double backslash read the same in both and are kept as they
# are. The output stays UTF-8; catalog.rc reads it under "#pragma code_page(65001)".
# Fails when a message is in one language only, or when its two texts differ in their "%s".
if(NOT DEFINED INPUT OR NOT DEFINED OUTPUT)
  message(FATAL_ERROR "texts_to_rc.cmake needs -DINPUT=... and -DOUTPUT=...")
endif()

file(STRINGS "${INPUT}" lines ENCODING UTF-8)
string(ASCII 1 placeholder)
set(japanese "")
set(english "")
set(numbers_japanese "")
set(numbers_english "")
foreach(line IN LISTS lines)
  if(line MATCHES "^KESTARIO_MESSAGE(_ENGLISH)?\\(([0-9]+), \"(.*)\"\\)$")
    set(language "${CMAKE_MATCH_1}")
    set(number "${CMAKE_MATCH_2}")
    set(text "${CMAKE_MATCH_3}")
    # The placeholders, for the comparison of the two languages.
    string(REGEX MATCHALL "%s" placeholders "${text}")
    list(LENGTH placeholders placeholder_count)
    set(placeholders${language}_${number} ${placeholder_count})
    # Keep escaped backslashes apart while quotes are rewritten, so that \\" stays a backslash
    # followed by the closing quote.
    string(REPLACE "\\\\" "${placeholder}" text "${text}")
    string(REPLACE "\\\"" "\"\"" text "${text}")
    string(REPLACE "\"\"" "" unquoted "${text}")
    if(unquoted MATCHES "\"")
      message(FATAL_ERROR "texts.def: message ${number} has an unescaped double quote")
    endif()
    string(REPLACE "${placeholder}" "\\\\" text "${text}")
    if(language STREQUAL "")
      string(APPEND japanese "  ${number}, \"${text}\"\n")
      list(APPEND numbers_japanese ${number})
    else()
      string(APPEND english "  ${number}, \"${text}\"\n")
      list(APPEND numbers_english ${number})
    endif()
  elseif(line MATCHES "^KESTARIO_MESSAGE")
    message(FATAL_ERROR "texts.def: cannot read the line: ${line}")
  endif()
endforeach()
if(numbers_japanese STREQUAL "")
  message(FATAL_ERROR "texts.def: no KESTARIO_MESSAGE found in ${INPUT}")
endif()
if(NOT numbers_japanese STREQUAL numbers_english)
  message(FATAL_ERROR "texts.def: the Japanese messages (${numbers_japanese}) and the English "
                      "ones (${numbers_english}) differ in their numbers")
endif()
foreach(number IN LISTS numbers_japanese)
  if(NOT placeholders_${number} EQUAL placeholders_ENGLISH_${number})
    message(FATAL_ERROR "texts.def: message ${number} has ${placeholders_${number}} placeholders "
                        "in Japanese and ${placeholders_ENGLISH_${number}} in English")
  endif()
endforeach()

set(body "// Generated from texts.def by texts_to_rc.cmake; do not edit.\n\n")
string(APPEND body "LANGUAGE LANG_JAPANESE, SUBLANG_DEFAULT\nSTRINGTABLE\nBEGIN\n${japanese}END\n\n")
string(APPEND body "LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US\nSTRINGTABLE\nBEGIN\n${english}END\n")

# Write only when the text changed, so that the resource is not rebuilt for nothing.
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL body)
  file(WRITE "${OUTPUT}" "${body}")
endif()
