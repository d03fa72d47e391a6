// Starting the programs that a LAUNCH procedure names.
#ifndef KESTARIO_PLATFORM_PROCESS_H_
#define KESTARIO_PLATFORM_PROCESS_H_

#include <cstdint>

#include "text/text_string.h"

namespace kestario {

// The part of `path` before its last path separator, into `directory`. False when the path has no
// separator, when the separator is its first character, or when memory runs out.
bool GetDirectoryPart(const char* path, TextString* directory);

// Starts `program` with `parameters` in the program's own folder, and waits for it to end when
// `wait` is nonzero. The command line is the program, one space and the parameters; a program
// path with a space in it that names an existing file is put in double quotes, so that the system
// can never start a shorter prefix of it. True when the program started (and, if asked, was
// waited for); its exit code is not examined.
bool LaunchProgram(const char* program, const char* parameters, int32_t wait);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_PROCESS_H_
