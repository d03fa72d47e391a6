# Turns the message catalog of texts.def (UTF-8, C string literals) into the body of an RC
# STRINGTABLE: one line "number, "text"" per KESTARIO_MESSAGE.
#
# Run as: cmake -DINPUT=texts.def -DOUTPUT=texts.rc -P texts_to_rc.cmake
#
# C and RC literals differ in one escape that the catalog uses: a double quote is \" in C and ""
# in RC. Backslash-n (line feed) and double backslash read the same in both and are kept as they
# are. The output stays UTF-8; updater.rc reads it under "#pragma code_page(65001)".
if(NOT DEFINED INPUT OR NOT DEFINED OUTPUT)
  message(FATAL_ERROR "texts_to_rc.cmake needs -DINPUT=... and -DOUTPUT=...")
endif()

file(STRINGS "${INPUT}" lines ENCODING UTF-8)
string(ASCII 1 placeholder)
set(body "// Generated from texts.def by texts_to_rc.cmake; do not edit.\n")
set(count 0)
foreach(line IN LISTS lines)
  if(line MATCHES "^KESTARIO_MESSAGE\\(([0-9]+), \"(.*)\"\\)$")
    set(number "${CMAKE_MATCH_1}")
    set(text "${CMAKE_MATCH_2}")
    # Keep escaped backslashes apart while quotes are rewritten, so that \\" stays a backslash
    # followed by the closing quote.
    string(REPLACE "\\\\" "${placeholder}" text "${text}")
    string(REPLACE "\\\"" "\"\"" text "${text}")
    string(REPLACE "\"\"" "" unquoted "${text}")
    if(unquoted MATCHES "\"")
      message(FATAL_ERROR "texts.def: message ${number} has an unescaped double quote")
    endif()
    string(REPLACE "${placeholder}" "\\\\" text "${text}")
    string(APPEND body "  ${number}, \"${text}\"\n")
    math(EXPR count "${count} + 1")
  elseif(line MATCHES "^KESTARIO_MESSAGE")
    message(FATAL_ERROR "texts.def: cannot read the line: ${line}")
  endif()
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "texts.def: no KESTARIO_MESSAGE found in ${INPUT}")
endif()

# Write only when the text changed, so that the resource is not rebuilt for nothing.
set(old "")
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" old)
endif()
if(NOT old STREQUAL body)
  file(WRITE "${OUTPUT}" "${body}")
endif()
