# Settings of a shipped build (KESTARIO_RELEASE=ON; scripts/release turns it on): the programs
# are byte for byte the same whatever the folder they were built in and whenever they were built.
#
# - The source and build folders are mapped out of every object (__FILE__, debug information):
#   the source folder reads ".", the build folder "build".
# - Static libraries are deterministic: no dates, owners or modes in the archive members.
# - The PE header of a Windows program carries no link time (its TimeDateStamp is 0).
# - The Linux programs are stripped, as the Windows ones always are.
# Times that the tools read from the environment (SOURCE_DATE_EPOCH, TZ) are fixed by the
# caller; scripts/release sets them from the commit.
add_compile_options(-ffile-prefix-map=${CMAKE_SOURCE_DIR}=. -ffile-prefix-map=${CMAKE_BINARY_DIR}=build)

foreach(language C CXX)
  set(CMAKE_${language}_ARCHIVE_CREATE "<CMAKE_AR> qcD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${language}_ARCHIVE_APPEND "<CMAKE_AR> qD <TARGET> <LINK_FLAGS> <OBJECTS>")
  set(CMAKE_${language}_ARCHIVE_FINISH "<CMAKE_RANLIB> -D <TARGET>")
endforeach()

if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
else()
  add_link_options(-s)
endif()
