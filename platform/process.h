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
//
// When `outcome` is given it receives what the run log tells of the start: the command line
// handed to the system, and, after a wait, the program's exit code when the system gives it.
struct LaunchOutcome {
  TextString commandLine;
  bool started = false;
  bool waited = false;
  bool exitCodeKnown = false;
  uint32_t exitCode = 0;
};
bool LaunchProgram(const char* program, const char* parameters, int32_t wait,
                   LaunchOutcome* outcome = nullptr);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_PROCESS_H_
