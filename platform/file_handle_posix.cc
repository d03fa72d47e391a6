#include "platform/file_handle_posix.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "platform/signal_ignored_posix.h"

namespace kestario {

namespace {

int Descriptor(FileHandle file) { return file == kNoFile ? -1 : static_cast<int>(file - 1); }

// Offsets beyond off_t's range are refused, as an invalid parameter.
bool FitsOffset(uint64_t offset) { return offset <= static_cast<uint64_t>(INT64_MAX); }

// A byte-range lock on the open file (not on the process, so that closing another descriptor of
// the same file keeps it); the classic per-process lock where the kernel has no such locks.
bool SetLock(int fd, short type, bool wait, uint64_t offset, uint64_t length) {
  if (fd < 0 || !FitsOffset(offset) || length > static_cast<uint64_t>(INT64_MAX) - offset) {
    return false;
  }
  struct flock range = {};
  range.l_type = type;
  range.l_whence = SEEK_SET;
  range.l_start = static_cast<off_t>(offset);
  range.l_len = static_cast<off_t>(length);
  const int commands[] = {wait ? F_OFD_SETLKW : F_OFD_SETLK, wait ? F_SETLKW : F_SETLK};
  for (int command : commands) {
    int result;
    do {
      result = fcntl(fd, command, &range);
    } while (result != 0 && errno == EINTR);
    if (result == 0) return true;
    if (errno != EINVAL) return false;
  }
  return false;
}

}  // namespace

FileHandle PosixCreateFile(const char* path, FileAccess access) {
  if (!path || !*path) return kNoFile;
  // Anything but a regular file is refused before it is opened: opening a device or a named pipe
  // can act on it or wait.
  struct stat info;
  if (stat(path, &info) == 0 && !S_ISREG(info.st_mode)) return kNoFile;
  int flags = O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
  switch (access) {
    case FileAccess::kRead:
      flags |= O_RDONLY;
      break;
    case FileAccess::kReadWrite:
      flags |= O_RDWR | O_CREAT;
      break;
    case FileAccess::kAppend:
      flags |= O_WRONLY | O_APPEND | O_CREAT;
      break;
  }
  int fd;
  do {
    fd = open(path, flags, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return kNoFile;
  // What was opened may have been swapped in since the look: it is checked again.
  struct stat opened;
  if (fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) ||
      fcntl(fd, F_SETFL, flags & O_APPEND) != 0) {
    close(fd);
    return kNoFile;
  }
  return static_cast<FileHandle>(fd) + 1;
}

bool PosixReadFile(FileHandle file, uint64_t offset, char* buffer, uint32_t size, uint32_t* done) {
  *done = 0;
  int fd = Descriptor(file);
  if (fd < 0 || !FitsOffset(offset)) return false;
  while (*done < size) {
    ssize_t got = pread(fd, buffer + *done, size - *done, static_cast<off_t>(offset + *done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return false;
    if (got == 0) break;  // the end of the file
    *done += static_cast<uint32_t>(got);
  }
  return true;
}

bool PosixWriteFile(FileHandle file, uint64_t offset, const char* bytes, uint32_t length,
                    uint32_t* done) {
  *done = 0;
  int fd = Descriptor(file);
  if (fd < 0) return false;
  SignalIgnored sizeSignal(SIGXFSZ);  // exceeding the file size limit is an EFBIG result
  if (offset != kFileEnd) {
    if (!FitsOffset(offset)) return false;
    while (*done < length) {
      ssize_t put = pwrite(fd, bytes + *done, length - *done, static_cast<off_t>(offset + *done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      *done += static_cast<uint32_t>(put);
    }
    return true;
  }
  // At the end: one write with O_APPEND, which the kernel puts at the end in one piece. What is
  // cut short (a full disk, the size limit) is not continued, since others may append meanwhile.
  int flags = fcntl(fd, F_GETFL);
  if (flags < 0) return false;
  bool appending = (flags & O_APPEND) != 0;
  if (!appending && fcntl(fd, F_SETFL, flags | O_APPEND) != 0) return false;
  ssize_t put;
  do {
    put = write(fd, bytes, length);
  } while (put < 0 && errno == EINTR);
  if (!appending) fcntl(fd, F_SETFL, flags);
  if (put > 0) *done = static_cast<uint32_t>(put);
  return put >= 0 && *done == length;
}

bool PosixFlushFile(FileHandle file) {
  int fd = Descriptor(file);
  return fd >= 0 && fsync(fd) == 0;
}

bool PosixLockFile(FileHandle file, uint32_t flags, uint64_t offset, uint64_t length) {
  return SetLock(Descriptor(file), (flags & kLockExclusive) ? F_WRLCK : F_RDLCK,
                 (flags & kLockFailImmediately) == 0, offset, length);
}

bool PosixUnlockFile(FileHandle file, uint64_t offset, uint64_t length) {
  return SetLock(Descriptor(file), F_UNLCK, false, offset, length);
}

bool PosixGetFileSize(FileHandle file, uint64_t* size) {
  struct stat info;
  int fd = Descriptor(file);
  if (fd < 0 || fstat(fd, &info) != 0) return false;
  *size = static_cast<uint64_t>(info.st_size);
  return true;
}

bool PosixGetFileIdentity(FileHandle file, FileIdentity* identity) {
  struct stat info;
  int fd = Descriptor(file);
  if (fd < 0 || fstat(fd, &info) != 0) return false;
  identity->volume = static_cast<uint64_t>(info.st_dev);
  identity->index = static_cast<uint64_t>(info.st_ino);
  return true;
}

bool PosixSetEndOfFile(FileHandle file, uint64_t size) {
  int fd = Descriptor(file);
  if (fd < 0 || !FitsOffset(size)) return false;
  SignalIgnored sizeSignal(SIGXFSZ);
  int result;
  do {
    result = ftruncate(fd, static_cast<off_t>(size));
  } while (result != 0 && errno == EINTR);
  return result == 0;
}

void PosixCloseFile(FileHandle file) {
  int fd = Descriptor(file);
  if (fd >= 0) close(fd);
}

bool WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t done = write(fd, data, length);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (done == 0) return false;
    data += done;
    length -= static_cast<size_t>(done);
  }
  return true;
}

}  // namespace kestario
