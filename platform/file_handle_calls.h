// The system's calls on an open file: open, read, write, flush, lock, size, identity and close,
// and on the names in an open folder (part of System, system.h).
#ifndef KESTARIO_PLATFORM_FILE_HANDLE_CALLS_H_
#define KESTARIO_PLATFORM_FILE_HANDLE_CALLS_H_

#include <cstdint>

#include "platform/file_calls.h"

namespace kestario {

// An open file, as CreateFileA gives it; kNoFile stands for INVALID_HANDLE_VALUE.
using FileHandle = uintptr_t;
constexpr FileHandle kNoFile = 0;

// What CreateFileA opens a file for.
enum class FileAccess {
  kRead,       // GENERIC_READ; the file must exist (OPEN_EXISTING)
  kReadWrite,  // GENERIC_READ | GENERIC_WRITE: read, write, set the end; OPEN_ALWAYS
  kAppend,     // FILE_APPEND_DATA only: no reading, every write lands at the end; OPEN_ALWAYS
};
// WriteFile's offset for "at the file's end" (an OVERLAPPED offset of 0xFFFFFFFF:0xFFFFFFFF).
constexpr uint64_t kFileEnd = UINT64_MAX;
// LockFileEx flags, with their Win32 values.
constexpr uint32_t kLockFailImmediately = 0x1;
constexpr uint32_t kLockExclusive = 0x2;

class FileHandleCalls : public FileCalls {
 public:
  ~FileHandleCalls() override;

  // CreateFileA of a regular file, shared for reading, writing and deleting: others may read,
  // write, delete or replace it meanwhile, and a deleted or replaced file stays open under the
  // handle. Only a regular file opens, and nothing waits for anything else (Linux O_NONBLOCK |
  // O_NOCTTY and fstat; Windows GetFileType). Not inherited by started programs. kNoFile on
  // failure.
  virtual FileHandle CreateFileA(const char* path, FileAccess access) = 0;
  // ReadFile and WriteFile at `offset` (an OVERLAPPED offset; Linux pread and pwrite). WriteFile
  // at kFileEnd appends in one piece, however many processes append to the file at once (as
  // FILE_APPEND_DATA and O_APPEND do); a handle opened with kAppend writes only there. Both set
  // `*done` to the bytes moved; WriteFile is true only when all were written (a full disk or the
  // file size limit leaves a part written and gives false; on Linux SIGXFSZ is ignored meanwhile).
  virtual bool ReadFile(FileHandle file, uint64_t offset, char* buffer, uint32_t size,
                        uint32_t* done) = 0;
  virtual bool WriteFile(FileHandle file, uint64_t offset, const char* bytes, uint32_t length,
                         uint32_t* done) = 0;
  // FlushFileBuffers: the file's data and size are on the disk when it returns true.
  virtual bool FlushFileBuffers(FileHandle file) = 0;
  // LockFileEx and UnlockFileEx on bytes `offset` to `offset + length - 1`, which need not exist:
  // a lock that other processes and machines respect on the same file (byte-range locks; on Linux
  // fcntl, per open file). Shared unless kLockExclusive; waits for the range unless
  // kLockFailImmediately. On Windows another handle can neither read nor write locked bytes.
  virtual bool LockFileEx(FileHandle file, uint32_t flags, uint64_t offset, uint64_t length) = 0;
  virtual bool UnlockFileEx(FileHandle file, uint64_t offset, uint64_t length) = 0;
  // GetFileSizeEx and GetFileInformationByHandle (the file's identity).
  virtual bool GetFileSizeEx(FileHandle file, uint64_t* size) = 0;
  virtual bool GetFileInformationByHandle(FileHandle file, FileIdentity* identity) = 0;
  // SetFilePointerEx to `size` and SetEndOfFile: cuts the file there (or extends it with zeros).
  virtual bool SetEndOfFile(FileHandle file, uint64_t size) = 0;
  // CloseHandle on a file handle from CreateFileA or OpenFolderA.
  virtual void CloseHandle(FileHandle file) = 0;

  // OpenFolderA: opens the folder `path` (a full path) without following a link or junction at any
  // step of it, and gives its identity; kNoFile when it cannot be opened so. Linux: openat with
  // O_NOFOLLOW | O_DIRECTORY step by step from the root, fstat. Windows: CreateFileA with
  // FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, shared for reading and writing
  // but not for deleting, refused when it is a reparse point or when its final path
  // (GetFinalPathNameByHandleA) is not `path`, which a junction on the way would change; while
  // the handle is open the folder can be neither renamed nor removed, and no folder above it
  // renamed. CloseHandle closes it.
  virtual FileHandle OpenFolderA(const char* path, FileIdentity* identity) = 0;
  // The calls below act on `name`, one step (no separator), in a folder from OpenFolderA, and
  // never follow a link at it: GetFileStampA (fstatat), MoveFileExA from one name in the folder
  // to another (renameat; the flags of MoveFileExA but kMoveFileDelayUntilReboot, write-through
  // flushing the folder), DeleteFileA (unlinkat; a folder fails) and clearing the `attributes`
  // bits of SetFileAttributesA (kFileAttributeNormal when none stays; Linux: true, nothing to
  // clear). Linux acts relative to the descriptor, so a folder above it that is renamed or
  // replaced meanwhile changes nothing; Windows acts on the folder's final path while the handle
  // keeps it where it is.
  virtual bool GetFileStampInFolderA(FileHandle folder, const char* name, FileStamp* stamp) = 0;
  virtual bool MoveFileInFolderA(FileHandle folder, const char* from, const char* to,
                                 uint32_t flags) = 0;
  virtual bool DeleteFileInFolderA(FileHandle folder, const char* name) = 0;
  virtual bool ClearFileAttributesInFolderA(FileHandle folder, const char* name,
                                            uint32_t attributes) = 0;
};

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_FILE_HANDLE_CALLS_H_
