// The copy of the Windows build (System::CopyFileA and System::CopyFileOverA), with the contracts
// of those calls: the destination is the old file or the whole new one at every moment.
#ifndef KESTARIO_PLATFORM_COPY_WIN32_H_
#define KESTARIO_PLATFORM_COPY_WIN32_H_

#include <cstdint>

#include "platform/system.h"

namespace kestario {

// Copies `from` onto `to` (failing when `to` exists and `failIfExists`). `names` and `flags`
// (kCopyKeepReplaced, kCopyMarkNew, kCopyReplaceInUse) as for CopyFileOverA, which `as` (or null)
// tells which of the names the copy left a file under; a plain CopyFileA passes null, 0 and null.
// With `pin` (or null) the bytes written are hashed as they are written (into a temporary file
// that nobody else may write meanwhile) and the file takes its name only when they match.
CopyOutcome Win32CopyFile(const char* from, const char* to, bool failIfExists,
                          const KeptFileNames* names, uint32_t flags, ContentPin* pin, KeptAs* as);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_COPY_WIN32_H_
