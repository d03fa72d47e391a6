// File operations of the Linux build, with the contracts of their Win32 namesakes.
#ifndef KESTARIO_PLATFORM_FILE_OPS_POSIX_H_
#define KESTARIO_PLATFORM_FILE_OPS_POSIX_H_

#include "platform/system.h"

namespace kestario {

// Removes one file (unlink). A folder, a missing file, an empty or null name fails. No wildcard
// is ever expanded.
bool PosixDeleteFile(const char* path);

// Copies the regular file `from` onto `to`, keeping its permission bits and modification time.
// Fails when the source is missing or not a regular file, the destination is empty, ends in "/",
// is a folder, lies in a missing folder, exists while `failIfExists`, or exists without write
// permission (owner write bit clear, or access(W_OK) refused). The data goes to a temporary file
// ".NAME.XXXXXX" beside the destination, which is renamed over it only when complete; on any
// failure (a full disk, the file size limit) the old destination is untouched and the temporary
// file removed. Copying a file onto itself (same device and inode) succeeds without touching it.
bool PosixCopyFile(const char* from, const char* to, bool failIfExists);

// Whether anything matches. Only the last path component may hold wildcards: "*" (any run of
// bytes) and "?" (one byte); every other byte, "[" and "\" included, is literal, and names
// starting with "." match too (so do the "." and ".." entries, as on Windows). A path without
// wildcards exists when it names a file or a folder. Matching is case-sensitive.
bool PosixFindAnyMatch(const char* path);

// The local date of the file's modification time; false when it does not open for reading or is
// a folder.
bool PosixGetFileLocalDate(const char* path, LocalDate* date);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_FILE_OPS_POSIX_H_
