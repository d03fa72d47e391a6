#include "platform/folder_handle_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestario {

namespace {

// One step of a path: not empty, no separator, neither "." nor "..".
bool IsPlainStep(const char* name) {
  return name && *name && !strchr(name, '/') && strcmp(name, ".") != 0 && strcmp(name, "..") != 0;
}

}  // namespace

int PosixFolderDescriptor(FileHandle folder) {
  return folder == kNoFile ? -1 : static_cast<int>(folder - 1);
}

FileHandle PosixOpenFolder(const char* path, FileIdentity* identity) {
  if (!path || path[0] != '/') return kNoFile;
  const int kStep = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = open("/", kStep);
  const char* at = path;
  char step[256];
  while (fd >= 0) {
    while (*at == '/') ++at;
    if (*at == '\0') break;
    size_t length = strcspn(at, "/");
    if (length >= sizeof step) {
      close(fd);
      return kNoFile;
    }
    memcpy(step, at, length);
    step[length] = '\0';
    at += length;
    int next = -1;
    if (IsPlainStep(step)) {
      bool last = at[strspn(at, "/")] == '\0';
      if (last) next = openat(fd, step, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (next < 0 && (!last || errno == EACCES)) next = openat(fd, step, kStep);
    }
    close(fd);
    fd = next;
  }
  struct stat info;
  if (fd < 0) return kNoFile;
  if (fstat(fd, &info) != 0 || !S_ISDIR(info.st_mode)) {
    close(fd);
    return kNoFile;
  }
  identity->volume = static_cast<uint64_t>(info.st_dev);
  identity->index = static_cast<uint64_t>(info.st_ino);
  return static_cast<FileHandle>(fd) + 1;
}

bool PosixGetFileStamp(FileHandle folder, const char* name, FileStamp* stamp) {
  struct stat info;
  int at = folder == kNoFile ? AT_FDCWD : PosixFolderDescriptor(folder);
  if (!name || !*name || (folder != kNoFile && !IsPlainStep(name)) ||
      fstatat(at, name, &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  stamp->identity.volume = static_cast<uint64_t>(info.st_dev);
  stamp->identity.index = static_cast<uint64_t>(info.st_ino);
  stamp->size = static_cast<uint64_t>(info.st_size);
  stamp->writeTime = static_cast<uint64_t>(info.st_mtim.tv_sec) * 1000000000u +
                     static_cast<uint64_t>(info.st_mtim.tv_nsec);
  stamp->link = S_ISLNK(info.st_mode);
  stamp->folder = S_ISDIR(info.st_mode);
  return true;
}

bool PosixDeleteFileInFolder(FileHandle folder, const char* name) {
  // unlinkat without AT_REMOVEDIR never removes a folder.
  return folder != kNoFile && IsPlainStep(name) &&
         unlinkat(PosixFolderDescriptor(folder), name, 0) == 0;
}

}  // namespace kestario
