// Questions about files that the procedures ask: existence and last-write date.
#ifndef KESTARIO_PLATFORM_FILES_H_
#define KESTARIO_PLATFORM_FILES_H_

#include "platform/system.h"

namespace kestario {

// True when at least one file or folder matches the path; wildcards ("*", "?") are allowed.
bool FileExists(const char* path);

// True when the file opens for reading and its last-write date, in local time, is on or after
// `date`, written year/month/day ("%d" rules for each part; a missing or non-numeric part is 0).
// Each part is compared by its low 16 bits as an unsigned number, so -1 acts as 65535.
// When `fileDate` is given it receives the file's date, or stays untouched when the file could
// not be opened; `opened` tells which.
bool IsFileDateOnOrAfter(const char* path, const char* date, LocalDate* fileDate = nullptr,
                         bool* opened = nullptr);

// The SHA-256 of the file `path` as `system` reads it (CreateFileA for reading, ReadFile to its
// end); false when it does not open or a read fails. `*size` (or null) gets its length.
bool HashFile(System& system, const char* path, Sha256Digest* digest, uint64_t* size = nullptr);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_FILES_H_
