#include "platform/file_ops_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace kestario {

namespace {

bool HasWildcard(const char* text) { return strpbrk(text, "*?") != nullptr; }

// Writes all bytes; false on any error (ENOSPC, EFBIG ...).
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

bool CopyData(int source, int target) {
  static constexpr size_t kChunk = 64 * 1024;
  char* buffer = static_cast<char*>(malloc(kChunk));
  if (!buffer) return false;
  bool ok = true;
  for (;;) {
    ssize_t got = read(source, buffer, kChunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    if (got == 0) break;
    if (!WriteAll(target, buffer, static_cast<size_t>(got))) {
      ok = false;
      break;
    }
  }
  free(buffer);
  return ok;
}

// Ignores SIGXFSZ for its lifetime, so that exceeding the file size limit is an EFBIG result.
class FileSizeSignalIgnored {
 public:
  FileSizeSignalIgnored() {
    struct sigaction ignore;
    memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    saved_ = sigaction(SIGXFSZ, &ignore, &previous_) == 0;
  }
  ~FileSizeSignalIgnored() {
    if (saved_) sigaction(SIGXFSZ, &previous_, nullptr);
  }
  FileSizeSignalIgnored(const FileSizeSignalIgnored&) = delete;
  FileSizeSignalIgnored& operator=(const FileSizeSignalIgnored&) = delete;

 private:
  struct sigaction previous_;
  bool saved_;
};

// Makes "<folder>/.<name>.XXXXXX" for `to`; null when memory runs out or `to` ends in "/".
char* TemporaryTemplate(const char* to) {
  const char* slash = strrchr(to, '/');
  const char* name = slash ? slash + 1 : to;
  if (!*name) return nullptr;
  size_t folderLength = slash ? static_cast<size_t>(slash - to) + 1 : 0;
  size_t nameLength = strlen(name);
  static const char kSuffix[] = ".XXXXXX";
  size_t total = folderLength + 1 + nameLength + sizeof kSuffix;
  char* result = static_cast<char*>(malloc(total));
  if (!result) return nullptr;
  memcpy(result, to, folderLength);
  result[folderLength] = '.';
  memcpy(result + folderLength + 1, name, nameLength);
  memcpy(result + folderLength + 1 + nameLength, kSuffix, sizeof kSuffix);
  return result;
}

}  // namespace

bool PosixDeleteFile(const char* path) {
  if (!path || !*path) return false;
  struct stat info;
  if (lstat(path, &info) != 0 || S_ISDIR(info.st_mode)) return false;
  return unlink(path) == 0;
}

bool PosixCopyFile(const char* from, const char* to, bool failIfExists) {
  if (!from || !*from || !to || !*to) return false;
  int source = open(from, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (source < 0) return false;
  struct stat sourceInfo;
  if (fstat(source, &sourceInfo) != 0 || !S_ISREG(sourceInfo.st_mode) ||
      fcntl(source, F_SETFL, 0) != 0) {
    close(source);
    return false;
  }

  struct stat targetInfo;
  if (stat(to, &targetInfo) == 0) {
    if (targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino) {
      close(source);
      return !failIfExists;  // the same file: nothing to copy, never truncated
    }
    if (failIfExists || S_ISDIR(targetInfo.st_mode) || (targetInfo.st_mode & S_IWUSR) == 0 ||
        access(to, W_OK) != 0) {
      close(source);
      return false;
    }
  } else if (errno != ENOENT) {
    close(source);
    return false;
  }

  char* temporary = TemporaryTemplate(to);
  if (!temporary) {
    close(source);
    return false;
  }
  FileSizeSignalIgnored sizeSignal;
  int target = mkostemp(temporary, O_CLOEXEC);
  if (target < 0) {
    free(temporary);
    close(source);
    return false;
  }
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = sourceInfo.st_mtim;
  bool ok = CopyData(source, target) &&
            (fchmod(target, sourceInfo.st_mode & 07777) == 0 ||
             fchmod(target, sourceInfo.st_mode & 0777) == 0) &&
            futimens(target, times) == 0;
  if (close(target) != 0) ok = false;
  close(source);
  if (ok) {
    if (failIfExists) {
      // Never replace a file that appeared meanwhile.
      ok = renameat2(AT_FDCWD, temporary, AT_FDCWD, to, RENAME_NOREPLACE) == 0;
      if (!ok && (errno == EINVAL || errno == ENOSYS)) {
        ok = link(temporary, to) == 0;
      }
    } else {
      ok = rename(temporary, to) == 0;
    }
  }
  // After a successful rename the temporary name is gone; after a link it remains.
  if (!ok || failIfExists) unlink(temporary);
  free(temporary);
  return ok;
}

bool PosixFindAnyMatch(const char* path) {
  if (!path || !*path) return false;
  if (!HasWildcard(path)) {
    struct stat info;
    return stat(path, &info) == 0;
  }
  const char* slash = strrchr(path, '/');
  const char* pattern = slash ? slash + 1 : path;
  char* folder = nullptr;
  if (slash) {
    size_t length = static_cast<size_t>(slash - path);
    folder = static_cast<char*>(malloc(length + 2));
    if (!folder) return false;
    memcpy(folder, path, length);
    if (length == 0) folder[length++] = '/';
    folder[length] = '\0';
    if (HasWildcard(folder)) {
      free(folder);
      return false;  // wildcards only in the last component, as FindFirstFile has them
    }
  }
  // fnmatch pattern: "[" written as "[[]" so that it is literal; FNM_NOESCAPE keeps "\" literal.
  size_t extra = 0;
  for (const char* p = pattern; *p; ++p) extra += (*p == '[') ? 2 : 0;
  size_t patternLength = strlen(pattern);
  char* literal = static_cast<char*>(malloc(patternLength + extra + 1));
  if (!literal) {
    free(folder);
    return false;
  }
  char* write = literal;
  for (const char* p = pattern; *p; ++p) {
    if (*p == '[') {
      memcpy(write, "[[]", 3);
      write += 3;
    } else {
      *write++ = *p;
    }
  }
  *write = '\0';

  bool found = false;
  DIR* directory = opendir(folder ? folder : ".");
  if (directory) {
    while (struct dirent* entry = readdir(directory)) {
      if (fnmatch(literal, entry->d_name, FNM_NOESCAPE) == 0) {
        found = true;
        break;
      }
    }
    closedir(directory);
  }
  free(literal);
  free(folder);
  return found;
}

bool PosixGetFileLocalDate(const char* path, LocalDate* date) {
  if (!path || !*path || !date) return false;
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
  close(fd);
  if (!ok) return false;
  struct tm local;
  time_t seconds = info.st_mtim.tv_sec;
  if (!localtime_r(&seconds, &local)) return false;
  date->year = static_cast<uint16_t>(local.tm_year + 1900);
  date->month = static_cast<uint16_t>(local.tm_mon + 1);
  date->day = static_cast<uint16_t>(local.tm_mday);
  return true;
}

}  // namespace kestario
