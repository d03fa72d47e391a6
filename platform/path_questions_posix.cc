#include "platform/path_questions.h"

#include <dirent.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kestario {

PathKind GetPathKindA(const char* path) {
  struct stat info;
  if (path == nullptr || stat(path, &info) != 0) {
    return path != nullptr && errno != ENOENT ? PathKind::kUnreachable : PathKind::kNothing;
  }
  if (S_ISDIR(info.st_mode)) return PathKind::kFolder;
  if (S_ISREG(info.st_mode)) return PathKind::kFile;
  if (S_ISFIFO(info.st_mode)) return PathKind::kPipe;
  if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) return PathKind::kDevice;
  return PathKind::kOther;
}

bool IsDiskFileA(const char* path) {
  PathKind kind = GetPathKindA(path);
  return kind != PathKind::kPipe && kind != PathKind::kDevice && kind != PathKind::kOther;
}

bool WouldOpenForWritingA(const char* path, bool exists) {
  if (exists) {
    struct stat info;
    if (stat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    return access(path, W_OK) == 0;
  }
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return access(".", W_OK | X_OK) == 0;
  size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
  char* folder = static_cast<char*>(std::malloc(length + 1));
  if (folder == nullptr) return false;
  std::memcpy(folder, path, length);
  folder[length] = '\0';
  bool writable = access(folder, W_OK | X_OK) == 0;
  std::free(folder);
  return writable;
}

bool IsSameFileA(const char* left, const char* right) {
  struct stat a, b;
  return stat(left, &a) == 0 && stat(right, &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

bool ListMatchingNamesA(const char* folder, const char* pattern, ByteBuffer* names) {
  DIR* directory = opendir(folder);
  if (directory == nullptr) return false;
  bool ok = true;
  while (struct dirent* entry = readdir(directory)) {
    if (!NameMatchesWildcard(pattern, entry->d_name)) continue;
    ok = ok && names->AppendBytes(entry->d_name, static_cast<uint32_t>(strlen(entry->d_name)) + 1);
  }
  closedir(directory);
  return ok;
}

bool GetWriteTargetA(const char* path, TextString* target) {
  struct stat info;
  if (lstat(path, &info) != 0 || !S_ISLNK(info.st_mode)) return target->SetText(path);
  char* resolved = realpath(path, nullptr);
  if (resolved == nullptr) return false;
  bool set = target->SetText(resolved);
  std::free(resolved);
  return set;
}

bool IsSizeNotLengthA(const char* path) {
  struct statfs volume;
  if (statfs(path, &volume) != 0) return false;
  switch (volume.f_type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
      return true;
    default:
      return false;
  }
}

bool GetComparablePathA(const char* path, TextString* full) {
  char* resolved = realpath(path, nullptr);
  if (resolved == nullptr) return false;
  bool set = full->SetText(resolved);
  std::free(resolved);
  return set;
}

bool IsPathSeparator(char c) { return c == '/'; }

char FoldNameCase(char c) { return c; }

size_t StoredNameLength(const char* /*name*/, size_t length) { return length; }

}  // namespace kestario
