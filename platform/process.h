// Starting the programs that a LAUNCH procedure names.
#ifndef KESTARIO_PLATFORM_PROCESS_H_
#define KESTARIO_PLATFORM_PROCESS_H_

#include <cstddef>
#include <cstdint>

#include "platform/sha256.h"
#include "text/text_string.h"

namespace kestario {

// The part of `path` before its last path separator, into `directory`. False when the path has no
// separator, when the separator is its first character, or when memory runs out.
bool GetDirectoryPart(const char* path, TextString* directory);

// Decides which part of a LAUNCH `FILE` item is the program, from the item alone:
// - the whole item, when it names a file that is not a folder;
// - otherwise the longest run of its words (ended by a blank) that names one, the words after it
//   being parameters, unless the item goes on as a path: when the whole item or any part of it
//   ended by a separator after that run names a folder, or when the next word holds a separator
//   without being an absolute path or an option ("-x"; on Windows also "/x"), the item is
//   ambiguous and false is returned;
// - otherwise the whole item (which then fails to start).
// On Windows a name without an extension also names "NAME.exe". `*programLength` receives the
// program's length in bytes. False too when memory runs out.
bool FindProgramInItem(const char* item, size_t* programLength);

// Starts the program that `program` (a FILE item) names, as FindProgramInItem decides it, with
// the rest of the item and `parameters`, in the program's own folder, and waits for it to end
// when `wait` is nonzero. The command line is the program (in double quotes when it holds a
// blank, so that the system never searches a shorter prefix of it), the rest of the item, one
// space and the parameters. On Windows the program is first made a full path (GetFullPathNameA:
// a relative one from the current folder, so that CreateProcess never searches for it) and is
// always in double quotes, and a batch file (IsBatchFileName) is started through cmd.exe of the
// system folder with the command line of BuildBatchCommandLine. False when the item is ambiguous,
// the program has no folder part, a batch file's parameters cannot be passed, or the program did
// not start (or, if asked, could not be waited for); its exit code is not examined.
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
// With `pin` (or null), what starts is exactly the bytes of the program (of the batch file or "#!"
// script, where the command line runs one) that were checked against it (CreateProcessPinnedA);
// on other bytes nothing starts and pin->differs is set.
bool LaunchProgram(const char* program, const char* parameters, int32_t wait,
                   LaunchOutcome* outcome = nullptr, ContentPin* pin = nullptr);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_PROCESS_H_
