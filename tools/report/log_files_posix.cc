#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/console/console_output.h"
#include "tools/report/log_files.h"
#include "tools/report/text_decode.h"

namespace kestario {
namespace report {
namespace {

std::string Reason(int error) { return std::strerror(error); }

constexpr const char* kNotAFile = "not a regular file (a FIFO, device or socket): not read";

}  // namespace

LogFile::~LogFile() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool LogFile::Open(const std::string& path, std::string* error) {
  // Without blocking: opening a FIFO for reading waits for a writer, and reading a FIFO or a
  // device waits for its data. Only a regular file is read; what was opened is checked, not the
  // name, which may have changed in between.
  int fd;
  do {
    fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) {
    *error = Reason(errno);
    return false;
  }
  struct stat info;
  if (fstat(fd, &info) != 0) {
    int failure = errno;
    close(fd);
    *error = Reason(failure);
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    close(fd);
    *error = S_ISDIR(info.st_mode) ? Reason(EISDIR) : kNotAFile;
    return false;
  }
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  handle_ = fd;
  return true;
}

int64_t LogFile::Read(char* buffer, size_t size, std::string* error) {
  for (;;) {
    ssize_t got = read(static_cast<int>(handle_), buffer, size);
    if (got >= 0) return got;
    if (errno != EINTR) {
      *error = Reason(errno);
      return -1;
    }
  }
}

bool IsFolder(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool ListFolder(const std::string& folder, std::vector<std::string>* files, std::string* error) {
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    *error = Reason(errno);
    return false;
  }
  std::string prefix = folder;
  if (prefix.empty() || prefix.back() != '/') prefix.push_back('/');
  std::vector<std::string> found;
  errno = 0;
  while (struct dirent* entry = readdir(dir)) {
    std::string path = prefix + entry->d_name;
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) found.push_back(path);
    errno = 0;
  }
  int failure = errno;
  closedir(dir);
  if (failure != 0) {
    *error = Reason(failure);
    return false;
  }
  std::sort(found.begin(), found.end());
  *files = std::move(found);
  return true;
}

bool WriteWholeFile(const std::string& path, const std::string& bytes, std::string* error) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0644);
  if (fd < 0) {
    *error = Reason(errno);
    return false;
  }
  bool written = console::WriteAll(fd, bytes.data(), bytes.size());
  int failure = errno;
  if (close(fd) != 0 && written) {
    written = false;
    failure = errno;
  }
  if (!written) *error = Reason(failure);
  return written;
}

std::string ShownPath(const std::string& path) { return Decoded(path); }

}  // namespace report
}  // namespace kestario
