// File operations of the Linux build, with the contracts of their Win32 namesakes.
#ifndef KESTARIO_PLATFORM_FILE_OPS_POSIX_H_
#define KESTARIO_PLATFORM_FILE_OPS_POSIX_H_

#include "platform/system.h"

namespace kestario {

// Removes one file (unlink). A folder, a missing file, an empty or null name fails. No wildcard
// is ever expanded. With `keepAs`, the file is renamed there instead (never replacing a file).
bool PosixDeleteFile(const char* path, const char* keepAs = nullptr);

// Copies the regular file `from` onto `to`. Fails when the source is missing or not a regular
// file, the destination is empty, ends in "/", is a folder, lies in a missing folder, exists while
// `failIfExists`, or exists without write permission (owner write bit clear, or access(W_OK)
// refused). The data goes to a temporary file in the destination's folder (unnamed, O_TMPFILE,
// where the file system allows it; else ".NAME.XXXXXX"), moved by the kernel (a reflink, or
// copy_file_range), flushed with fsync and renamed over the destination only when complete; the
// folder is flushed too. On any failure (a full disk, the file size limit, a source that changed
// while it was read, SIGTERM, SIGINT or SIGHUP) the old destination is untouched and no temporary
// file is left; such a signal is delivered then. A replaced file keeps its owner (where
// the process may give files away), its permission bits and its access list; a new file takes the
// source's permission bits. Set-user-ID and set-group-ID bits are never set. Both get the source's
// modification time. A destination that is a symbolic link is written through (its target is
// replaced, the link stays); a hard link is replaced under its name only. A writable destination
// in a folder that refuses new files is written in place. Copying a file onto itself (same device
// and inode) succeeds without touching it. `keeping` (or null) asks to keep what it names.
struct CopyKeeping {
  const char* keepAs = nullptr;       // a replaced file is kept under this name: a hard link made
                                      // just before the rename, so it keeps all the old file had
  const char* markAs = nullptr;       // a new file gets this name too, just before its own
  const char* temporaryAs = nullptr;  // the temporary file's name whenever it has one (so that a
                                      // run killed meanwhile knows it)
  ContentPin* pin = nullptr;          // the new file takes the name only when its bytes match
  static constexpr int kKept = 1;
  static constexpr int kMarked = 2;
  int result = 0;  // after a copy: kKept, kMarked or 0 (neither)
};
// With `keepAs`, `markAs` or `pin`, a destination that would have to be written in place fails.
// With `pin`, the bytes in the temporary file are read back and hashed once they are complete
// (from the page cache: the copy costs one hash more), and a copy onto itself hashes the file.
bool PosixCopyFile(const char* from, const char* to, bool failIfExists,
                   CopyKeeping* keeping = nullptr);
// The SHA-256 of the bytes of the open file `fd` from offset 0 to its end (pread: the offset of
// the descriptor is left as it was); `*size` (or null) gets their count.
bool PosixHashOpenFile(int fd, Sha256Digest* digest, uint64_t* size = nullptr);

// A private copy of the program `path` for fexecve: read once, hashed as it is read, and only when
// the bytes match `pin` put in a memory file sealed against every change; its descriptor, or -1
// (pin->differs when the bytes differ). `path` must be a regular file that this user may execute
// (as execve would ask). A "#!" script's copy stays open across exec, for its interpreter to read
// as /dev/fd/N; a program's is closed by the exec.
int PosixSealedProgramCopy(const char* path, ContentPin* pin);

// For tests: copy as on a file system without unnamed temporary files.
void PosixCopyUsesNamedTemporariesOnly(bool namedOnly);

// Whether anything matches. Only the last path component may hold wildcards: "*" (any run of
// bytes) and "?" (one byte); every other byte, "[" and "\" included, is literal, and names
// starting with "." match too (so do the "." and ".." entries, as on Windows). A path without
// wildcards exists when it names a file or a folder. Matching is case-sensitive.
bool PosixFindAnyMatch(const char* path);

// MoveFileExA: rename, without replacing an existing `to` unless kMoveFileReplaceExisting
// (renameat2 with RENAME_NOREPLACE, or a link and an unlink where the file system lacks it);
// kMoveFileWriteThrough flushes both folders afterwards. kMoveFileDelayUntilReboot fails.
bool PosixMoveFile(const char* from, const char* to, uint32_t flags);
// The same from one name to another in the open folder `folder` (a descriptor), relative to it;
// kMoveFileWriteThrough flushes the folder.
bool PosixMoveFileInFolder(int folder, const char* from, const char* to, uint32_t flags);

// The local date of the file's modification time; false when it does not open for reading or is
// a folder.
bool PosixGetFileLocalDate(const char* path, LocalDate* date);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_FILE_OPS_POSIX_H_
