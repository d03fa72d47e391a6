# Turns the events of events.def into the message text file (.mc) from which windmc builds the
# message table of updater.exe: one English entry per KESTARIO_EVENT, whose MessageId is the event
# ID (no severity or facility bits, so that the ID that ReportEventW is given is the one Event
# Viewer shows and looks up).
#
# Run as: cmake -DINPUT=events.def -DOUTPUT=events.mc -P events_to_mc.cmake
if(NOT DEFINED INPUT OR NOT DEFINED OUTPUT)
  message(FATAL_ERROR "events_to_mc.cmake needs -DINPUT=... and -DOUTPUT=...")
endif()

file(STRINGS "${INPUT}" lines ENCODING UTF-8)
set(body "; Generated from events.def by events_to_mc.cmake; do not edit.\n")
string(APPEND body "MessageIdTypedef=DWORD\n")
string(APPEND body "LanguageNames=(English=0x409:MSG00409)\n")
foreach(line IN LISTS lines)
  if(line MATCHES "^KESTARIO_EVENT\\(([0-9]+), ([A-Za-z0-9]+), \"(.*)\"\\)$")
    set(id "${CMAKE_MATCH_1}")
    set(name "${CMAKE_MATCH_2}")
    set(text "${CMAKE_MATCH_3}")
    if(text MATCHES "[\"\\\\@]")
      message(FATAL_ERROR "events.def: event ${id} holds a quote, a backslash or an @")
    endif()
    # The text on one line, ended by %0 so that the message table adds no line break of its own.
    string(APPEND body "\nMessageId=${id}\nSymbolicName=${name}\n"
                       "Language=English\n${text}%0\n.\n")
  elseif(line MATCHES "^KESTARIO_EVENT")
    message(FATAL_ERROR "events.def: cannot read the line: ${line}")
  endif()
endforeach()
if(NOT body MATCHES "MessageId=")
  message(FATAL_ERROR "events.def: no KESTARIO_EVENT found in ${INPUT}")
endif()
# Written only when the text changed (as configure_file does), so that nothing is rebuilt for
# nothing; the text holds no @ for it to replace.
file(CONFIGURE OUTPUT "${OUTPUT}" CONTENT "${body}" @ONLY)
