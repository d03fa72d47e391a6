# Windows build settings: a small, self-contained, hardened GUI program.
#
# Included from the top-level CMakeLists.txt before the subdirectories when building for WIN32
# (the "windows" preset cross-builds with cmake/mingw-w64.cmake). Provides:
#   kestario_windows_resources  OBJECT library: the resources (message catalog, manifest,
#                               version block, the message table of the events).
#   kestario_checker_resources  OBJECT library: the resources of updater-check.exe (the same
#                               catalog and manifest, its own version block:
#                               resources/updater-check.rc), linked by tools/checker.
#   kestario_report_resources   OBJECT library: the resources of updater-report.exe (the
#                               manifest and its own version block: resources/updater-report.rc),
#                               linked by tools/report.
#   KESTARIO_WINDOWS_MAIN       the source of the WinMain entry point (engine/main_win32.cc).
#   KESTARIO_WINDOWS_RESOURCES  the resource description (resources/updater.rc), built by the
#                               OBJECT library above; not to be added to a target directly.
#   kestario_windows_executable(<target>)
#                               makes <target> the GUI program: resources, GUI
#                               subsystem. engine/CMakeLists.txt calls it for `updater`.
enable_language(RC)

# Every executable lands directly in the build folder: build/windows/updater.exe.
set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})

# Target Windows 8 and later: SetDefaultDllDirectories is declared from 0x0602 on (Windows 7
# has it with update KB2533623).
add_compile_definitions(_WIN32_WINNT=0x0602 WINVER=0x0602 WIN32_LEAN_AND_MEAN NOMINMAX)

# Small code: optimise for size and let the linker drop every unused function and datum. The
# program has one thread, so function-local statics need no locking (which would pull in the
# threads library).
add_compile_options($<$<COMPILE_LANGUAGE:C,CXX>:-Os> $<$<COMPILE_LANGUAGE:C,CXX>:-ffunction-sections>
                    $<$<COMPILE_LANGUAGE:C,CXX>:-fdata-sections>
                    $<$<COMPILE_LANGUAGE:CXX>:-fno-threadsafe-statics>)

# Self-contained: the C and C++ runtimes are linked in, so the program imports only system DLLs
# (KERNEL32, USER32, ADVAPI32, msvcrt). Stripped of symbols. Hardened: ASLR with a relocatable
# image (--dynamicbase), 64-bit high-entropy ASLR, and DEP (--nxcompat).
add_link_options(
  -static -static-libgcc -static-libstdc++
  -s
  -Wl,--gc-sections
  -Wl,--dynamicbase -Wl,--high-entropy-va -Wl,--nxcompat
)

set(KESTARIO_WINDOWS_MAIN ${CMAKE_SOURCE_DIR}/engine/main_win32.cc)
set(KESTARIO_WINDOWS_RESOURCES ${CMAKE_SOURCE_DIR}/resources/updater.rc)

# The catalog's STRINGTABLE body, generated from texts.def at build time.
set(KESTARIO_GENERATED_DIR ${CMAKE_BINARY_DIR}/generated)
add_custom_command(
  OUTPUT ${KESTARIO_GENERATED_DIR}/texts.rc
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTARIO_GENERATED_DIR}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_SOURCE_DIR}/resources/texts.def
          -DOUTPUT=${KESTARIO_GENERATED_DIR}/texts.rc
          -P ${CMAKE_SOURCE_DIR}/resources/texts_to_rc.cmake
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/texts.def ${CMAKE_SOURCE_DIR}/resources/texts_to_rc.cmake
  COMMENT "Generating the message catalog's STRINGTABLE from texts.def"
  VERBATIM)
# The message table of the events that a run writes to the Application log (EVENTLOG), generated
# from events.def at build time and compiled by MinGW's windmc into events.rc and MSG00409.bin,
# which updater.rc includes: Event Viewer shows the events' texts from it once the source
# "Kestario Updater" is registered (docs/deploy.md).
find_program(KESTARIO_WINDMC NAMES ${KESTARIO_MINGW_PREFIX}-windmc x86_64-w64-mingw32-windmc
             REQUIRED)
add_custom_command(
  OUTPUT ${KESTARIO_GENERATED_DIR}/events.rc ${KESTARIO_GENERATED_DIR}/MSG00409.bin
  COMMAND ${CMAKE_COMMAND} -E make_directory ${KESTARIO_GENERATED_DIR}
  COMMAND ${CMAKE_COMMAND} -DINPUT=${CMAKE_SOURCE_DIR}/resources/events.def
          -DOUTPUT=${KESTARIO_GENERATED_DIR}/events.mc
          -P ${CMAKE_SOURCE_DIR}/resources/events_to_mc.cmake
  COMMAND ${KESTARIO_WINDMC} -U -h ${KESTARIO_GENERATED_DIR} -r ${KESTARIO_GENERATED_DIR}
          ${KESTARIO_GENERATED_DIR}/events.mc
  DEPENDS ${CMAKE_SOURCE_DIR}/resources/events.def
          ${CMAKE_SOURCE_DIR}/resources/events_to_mc.cmake
  COMMENT "Generating the event message table from events.def (windmc)"
  VERBATIM)
add_custom_target(kestario_windows_texts
                  DEPENDS ${KESTARIO_GENERATED_DIR}/texts.rc ${KESTARIO_GENERATED_DIR}/events.rc)

# The manifest, with the product's version in its assembly identity.
configure_file(${CMAKE_SOURCE_DIR}/resources/updater.manifest.in
               ${KESTARIO_GENERATED_DIR}/updater.manifest @ONLY)

add_library(kestario_windows_resources OBJECT ${KESTARIO_WINDOWS_RESOURCES})
add_dependencies(kestario_windows_resources kestario_windows_texts)
target_include_directories(kestario_windows_resources PRIVATE
  ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources ${KESTARIO_GENERATED_DIR})
# The version numbers of both programs' version blocks (resources/version.rc): project().
set(KESTARIO_VERSION_DEFINITIONS
  KESTARIO_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  KESTARIO_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  KESTARIO_VERSION_PATCH=${PROJECT_VERSION_PATCH})
target_compile_definitions(kestario_windows_resources PRIVATE ${KESTARIO_VERSION_DEFINITIONS})
# What both programs' resource descriptions include.
set(KESTARIO_RESOURCE_DEPENDS
  ${KESTARIO_GENERATED_DIR}/texts.rc ${KESTARIO_GENERATED_DIR}/updater.manifest
  ${CMAKE_SOURCE_DIR}/resources/catalog.rc ${CMAKE_SOURCE_DIR}/resources/version.rc)
set_source_files_properties(${KESTARIO_WINDOWS_RESOURCES} PROPERTIES
  OBJECT_DEPENDS "${KESTARIO_RESOURCE_DEPENDS};${KESTARIO_GENERATED_DIR}/events.rc;${KESTARIO_GENERATED_DIR}/MSG00409.bin")

# The resources of a command-line tool: an object library of resources/`rc`, which includes the
# files `depends` (a list), with the program's include folders and version numbers.
function(kestario_tool_resources target rc depends)
  add_library(${target} OBJECT ${CMAKE_SOURCE_DIR}/resources/${rc})
  target_include_directories(${target} PRIVATE
    ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/resources ${KESTARIO_GENERATED_DIR})
  target_compile_definitions(${target} PRIVATE ${KESTARIO_VERSION_DEFINITIONS})
  set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/${rc} PROPERTIES
    OBJECT_DEPENDS "${depends}")
endfunction()

kestario_tool_resources(kestario_checker_resources updater-check.rc "${KESTARIO_RESOURCE_DEPENDS}")
add_dependencies(kestario_checker_resources kestario_windows_texts)
kestario_tool_resources(kestario_report_resources updater-report.rc
  "${KESTARIO_GENERATED_DIR}/updater.manifest;${CMAKE_SOURCE_DIR}/resources/version.rc")

# Makes `target` (whose sources hold engine/main_win32.cc) the Windows program: the resources
# linked in as objects, GUI subsystem (no console window).
function(kestario_windows_executable target)
  target_link_libraries(${target} PRIVATE kestario_windows_resources)
  target_link_options(${target} PRIVATE -mwindows)
  set_target_properties(${target} PROPERTIES WIN32_EXECUTABLE ON)
endfunction()

# Test helpers that run under Wine (console programs): the profile probe, a stand-alone box and
# the reader of open boxes, a program that holds a file open without sharing, and one that leaves
# a trace of having been started; and the benchmark's floors (bench/): a bare CopyFileA, the
# calls of EXIST procedures, and the run log's file calls.
# A console helper of the Wine tests or the benchmark, from the one source file `source` of the
# tree, with the build's flags and the libraries named after it.
function(kestario_windows_helper target source)
  add_executable(${target} ${CMAKE_SOURCE_DIR}/${source})
  target_link_libraries(${target} PRIVATE ${ARGN} kestario_flags)
endfunction()

kestario_windows_helper(profile_probe tests/wine/profile_probe.cc)
kestario_windows_helper(box_probe tests/wine/box_probe.cc)
kestario_windows_helper(hold_open tests/wine/hold_open.cc)
kestario_windows_helper(launch_marker tests/wine/launch_marker.cc)
kestario_windows_helper(copy_baseline bench/copy_baseline_win.cc)
kestario_windows_helper(exist_baseline bench/exist_baseline_win.cc)
kestario_windows_helper(append_baseline bench/append_baseline.cc kestario_platform)
kestario_windows_helper(box_reader tests/wine/box_reader.cc)
# Builds an event's text from a program's message table, as Event Viewer does.
kestario_windows_helper(event_text tests/wine/event_text.cc)
# Starts a program on a window station of its own, which nobody can see.
kestario_windows_helper(station_launcher tests/wine/station_launcher.cc)
