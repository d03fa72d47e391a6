// The handle-based file calls of the Linux build (System::CreateFileA and the calls on its
// handles), with the contracts of their Win32 namesakes. A handle is the descriptor plus one.
#ifndef KESTARIO_PLATFORM_FILE_HANDLE_POSIX_H_
#define KESTARIO_PLATFORM_FILE_HANDLE_POSIX_H_

#include "platform/system.h"

namespace kestario {

FileHandle PosixCreateFile(const char* path, FileAccess access);
bool PosixReadFile(FileHandle file, uint64_t offset, char* buffer, uint32_t size, uint32_t* done);
bool PosixWriteFile(FileHandle file, uint64_t offset, const char* bytes, uint32_t length,
                    uint32_t* done);
bool PosixFlushFile(FileHandle file);
bool PosixLockFile(FileHandle file, uint32_t flags, uint64_t offset, uint64_t length);
bool PosixUnlockFile(FileHandle file, uint64_t offset, uint64_t length);
bool PosixGetFileSize(FileHandle file, uint64_t* size);
bool PosixGetFileIdentity(FileHandle file, FileIdentity* identity);
bool PosixSetEndOfFile(FileHandle file, uint64_t size);
void PosixCloseFile(FileHandle file);

// Writes all `length` bytes to the descriptor `fd`, again after an interrupted write; false on any
// error (ENOSPC, EFBIG, a closed descriptor, a pipe nobody reads ...) or a write of nothing.
bool WriteAll(int fd, const char* data, size_t length);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_FILE_HANDLE_POSIX_H_
