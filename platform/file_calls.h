// The system's calls on files and folders by name: delete, copy, move, attributes, stamps and
// listings, and the questions asked before a change (part of System, system.h). The calls on an
// open file are in file_handle_calls.h.
#ifndef KESTARIO_PLATFORM_FILE_CALLS_H_
#define KESTARIO_PLATFORM_FILE_CALLS_H_

#include <cstdint>

#include "text/byte_buffer.h"
#include "text/text_string.h"

#include "platform/machine_calls.h"
#include "platform/sha256.h"

namespace kestario {

// The byte that separates folders in a path: the backslash on Windows, "/" on Linux.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
constexpr const char* kPathSeparatorText = "\\";
#else
constexpr char kPathSeparator = '/';
constexpr const char* kPathSeparatorText = "/";
#endif

// File attributes, with their Win32 values.
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr uint32_t kFileAttributeReadOnly = 0x01u;
constexpr uint32_t kFileAttributeHidden = 0x02u;
constexpr uint32_t kFileAttributeDirectory = 0x10u;
constexpr uint32_t kFileAttributeNormal = 0x80u;

// Access rights, with their Win32 values. On a folder, kFileReadData lists it, kFileWriteData
// adds a file to it, kFileExecute passes through it and kFileDeleteChild removes a name from it.
constexpr uint32_t kFileReadData = 0x0001u;
constexpr uint32_t kFileWriteData = 0x0002u;
constexpr uint32_t kFileExecute = 0x0020u;
constexpr uint32_t kFileDeleteChild = 0x0040u;
constexpr uint32_t kDeleteAccess = 0x00010000u;

// Program kinds of GetBinaryTypeA, with their Win32 values (the others are programs that a 64-bit
// Windows does not start).
constexpr uint32_t kScs32BitBinary = 0;
constexpr uint32_t kScs64BitBinary = 6;
// MoveFileExA flags, with their Win32 values.
constexpr uint32_t kMoveFileReplaceExisting = 0x1u;
constexpr uint32_t kMoveFileDelayUntilReboot = 0x4u;
constexpr uint32_t kMoveFileWriteThrough = 0x8u;

// CopyFileOverA flags.
constexpr uint32_t kCopyKeepReplaced = 0x1u;  // a replaced file is kept, not dropped
constexpr uint32_t kCopyReplaceInUse = 0x2u;  // a file that a running program holds is replaced
constexpr uint32_t kCopyMarkNew = 0x4u;       // a new destination is marked as made by the call

// The full names beside a file under which MoveFileAsideA and CopyFileOverA keep it, all made by
// the caller (in the file's own folder, names that nothing else uses).
struct KeptFileNames {
  const char* kept;        // the old file, given the hidden attribute
  const char* keptHidden;  // the old file, hidden already
  const char* mark;        // a second name of a new file
  const char* staged;      // the new file before it is in place
};
// Which of those names a call left a file under.
enum class KeptAs : uint8_t { kNone, kKept, kKeptHidden, kMark, kStaged };

// How a CopyFileOverA (which may keep the replaced file, or meet a running program) ended.
enum class CopyOutcome : uint8_t {
  kFailed,     // nothing changed: the destination is as it was
  kCopied,     // the new file is in place (a replaced file kept under the kept name when asked)
  kSetAside,   // the destination was in use: renamed to the kept name, the new file in place
  kAtRestart,  // the destination is held: the staged copy replaces it at the next restart
};

// Which file an open handle is (GetFileInformationByHandle): one file when both numbers are
// equal (Windows: volume serial number and file index; Linux: device and inode).
struct FileIdentity {
  uint64_t volume;
  uint64_t index;
};

// What a name is now, its last step not followed (GetFileStampA): which file, its size, last write
// (FILETIME; Linux ns since 1970), and whether it is a link (or reparse point) or a folder.
struct FileStamp {
  FileIdentity identity;
  uint64_t size;
  uint64_t writeTime;
  bool link;
  bool folder;
};

struct LocalDate {  // as FileTimeToSystemTime gives its fields
  uint16_t year;
  uint16_t month;
  uint16_t day;
};

class FileCalls : public MachineCalls {
 public:
  ~FileCalls() override;

  // DeleteFileA: removes one file; a folder, a missing file or an empty name fails.
  virtual bool DeleteFileA(const char* path) = 0;
  // MoveFileAsideA: DeleteFileA, but the file is renamed to `names.kept` and hidden
  // (`names.keptHidden` when it was hidden already) instead of removed: it fails exactly where
  // DeleteFileA fails, and a link is moved, never its target. `*as` tells which name it took.
  virtual bool MoveFileAsideA(const char* path, const KeptFileNames& names, KeptAs* as) = 0;
  // CopyFileA: copies `from` onto `to`, replacing an existing file unless `failIfExists`.
  virtual bool CopyFileA(const char* from, const char* to, bool failIfExists) = 0;
  // CopyFileOverA: CopyFileA(from, to, FALSE) for a copy that may have to be undone or may meet a
  // running program. `names` (null with none of the flags) are the names beside the destination;
  // `*as` tells which one the call left a file under (kNone for none). With kCopyKeepReplaced or
  // kCopyMarkNew the new file has the staged name whenever it has one before it is in place
  // (Linux: the temporary file's), and a destination that could only be written in place fails.
  // - kCopyKeepReplaced: a replaced file is not dropped but kept, hidden (a hard link made just
  //   before the new file takes the name; on a Windows volume without hard links, a rename
  //   first): the old file itself, its bytes, times, owner and access.
  // - kCopyMarkNew: a new destination gets the mark as a second name (a hard link; an empty file
  //   on a Windows volume without hard links) just before it takes its own.
  // - kCopyReplaceInUse (Windows): a destination that a running program holds (a sharing
  //   violation) is renamed to the kept name, hidden, and the new file takes its name
  //   (kSetAside; the renamed file is deleted at the next restart when the process may,
  //   MOVEFILE_DELAY_UNTIL_REBOOT). One that cannot even be renamed is replaced at the next
  //   restart from a copy with the staged name (MOVEFILE_DELAY_UNTIL_REBOOT), when the process
  //   may: kAtRestart. Linux holds no such files: with this flag alone this is CopyFileA.
  // With `pin` (or null), the bytes written to the new file are hashed and it takes the name only
  // when they match (ContentPin); a destination that could only be written in place fails.
  virtual CopyOutcome CopyFileOverA(const char* from, const char* to, const KeptFileNames* names,
                                    uint32_t flags, ContentPin* pin, KeptAs* as) = 0;
  // MoveFileExA: renames a file (or a folder) on its volume; replaces an existing `to` only with
  // kMoveFileReplaceExisting; kMoveFileWriteThrough returns when the rename is on the disk;
  // kMoveFileDelayUntilReboot (Windows, administrators only; `to` null deletes) records it for the
  // next restart instead (Linux: false).
  virtual bool MoveFileExA(const char* from, const char* to, uint32_t flags) = 0;
  // SetFileAttributesA. Linux keeps no attributes (a leading "." hides a file): true, and nothing
  // changes.
  virtual bool SetFileAttributesA(const char* path, uint32_t attributes) = 0;
  // CreateFileA and GetFinalPathNameByHandleA (Linux: realpath): the full path of the file that
  // `path` names, links followed; false when it names nothing.
  virtual bool GetFinalPathNameA(const char* path, TextString* finalPath) = 0;
  // CreateFileA with FILE_FLAG_OPEN_REPARSE_POINT and GetFileInformationByHandle (Linux: lstat):
  // the stamp of what `path` names, a link at its last step not followed; false when nothing.
  virtual bool GetFileStampA(const char* path, FileStamp* stamp) = 0;
  // FindFirstFileA and FindNextFileA: the names in `folder` that end in `suffix` (no folders),
  // each ended by a NUL byte, appended to `names`; false when the folder cannot be listed.
  virtual bool ListFilesA(const char* folder, const char* suffix, ByteBuffer* names) = 0;
  // The renames MoveFileExA(kMoveFileDelayUntilReboot) left for the restart onto the file `to` (as
  // named or links followed) from a file whose name matches `pattern` (one "*"), but `keep`: each
  // source, NUL-ended, into `sources`; `cancel` takes them off the list and deletes them. False
  // when the list cannot be read or changed. Linux has no such list: true, none found.
  virtual bool PendingRenamesOntoA(const char* to, const char* pattern, const char* keep,
                                   bool cancel, ByteBuffer* sources) = 0;
  // GetDiskFreeSpaceExA: bytes free to this user on `folder`'s volume, its serial (Linux: statvfs).
  virtual bool GetDiskFreeSpaceExA(const char* folder, uint64_t* available, uint64_t* volume) = 0;
  // This account's own folder `name` among the machine's shared data, which survives a restart:
  // Windows "<ProgramData>\<name>\<the account's SID>" (CSIDL_COMMON_APPDATA; `name` may hold
  // several steps, "A\B"), Linux "<the build's base, /var/tmp>/<name>-<uid>". `create` makes it,
  // for the account alone (and SYSTEM and Administrators, or root). False when missing (without
  // `create`) or untrusted: not a folder, a link, or another account's.
  virtual bool GetPrivateDataFolderA(const char* name, TextString* folder, bool create) = 0;
  // FindFirstFileA followed by FindClose: whether anything (file or folder) matches the path,
  // which may hold the wildcards "*" and "?".
  virtual bool AnyFileMatchesA(const char* path) = 0;
  // GetFileAttributesA: the attributes of the file or folder `path` names (a folder has
  // kFileAttributeDirectory), kInvalidFileAttributes when it names nothing. No wildcards. On
  // Linux a file whose owner may not write it is kFileAttributeReadOnly, and none is hidden.
  virtual uint32_t GetFileAttributesA(const char* path) = 0;
  // GetFullPathNameA: `path` made full from the current folder, into `full` (Windows also
  // resolves "." and "..", makes "/" a "\" and drops the dots and blanks at the end); false when
  // it cannot be made.
  virtual bool GetFullPathNameA(const char* path, TextString* full) = 0;
  // CreateFileA (read, shared, existing only), GetFileTime, FileTimeToLocalFileTime and
  // FileTimeToSystemTime: the file's last-write date in local time; false when it cannot be opened.
  virtual bool GetFileLocalDate(const char* path, LocalDate* date) = 0;

  // Questions asked before a change is predicted (changing nothing).
  // AccessCheck, with GetFileSecurityA and the running user's token: whether `path` grants every
  // right of `access`; kDeleteAccess is also granted by the folder's kFileDeleteChild. A file on
  // another machine's share, whose ACL names that machine's accounts, grants everything. Linux
  // answers as the kernel would answer the effective user: read-only mounts, the immutable and
  // append-only flags and, for kDeleteAccess, what unlink checks (file_checks_posix.h).
  virtual bool AccessCheckA(const char* path, uint32_t access) = 0;
  // GetBinaryTypeA: whether `path` is a program image, and its kind. Linux: only what execve
  // would start now (file_checks_posix.h).
  virtual bool GetBinaryTypeA(const char* path, uint32_t* type) = 0;
};

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_FILE_CALLS_H_
