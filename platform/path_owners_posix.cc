#include "platform/path_owners_posix.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace kestario {
namespace {

// At most this many links are followed on one path, as the kernel does (ELOOP).
constexpr int kMostLinks = 40;

bool TrustedOwner(uid_t owner) { return owner == 0 || owner == geteuid(); }

// Whether the entry `status` (of a folder when `folder`) could be changed by someone else.
bool Unsafe(const struct stat& status, bool folder) {
  if (!TrustedOwner(status.st_uid)) return true;
  if ((status.st_mode & (S_IWGRP | S_IWOTH)) == 0) return false;
  // A sticky folder of root: others may add names to it, but not take or change ours.
  return !(folder && S_ISDIR(status.st_mode) && (status.st_mode & S_ISVTX) != 0 &&
           status.st_uid == 0);
}

// Walks `path` (absolute) component by component with lstat; `links` counts the links followed.
bool WalkUnsafe(const char* path, int* links) {
  if (path[0] != '/') return true;
  size_t length = strlen(path);
  char* walked = static_cast<char*>(malloc(length + 2));
  if (walked == nullptr) return true;
  struct stat status;
  bool unsafe = lstat("/", &status) != 0 || Unsafe(status, true);
  size_t at = 0;  // the end of the part of `path` walked so far
  walked[0] = '\0';
  while (!unsafe) {
    while (path[at] == '/') ++at;
    if (path[at] == '\0') break;
    size_t end = at;
    while (path[end] != '/' && path[end] != '\0') ++end;
    memcpy(walked, path, end);
    walked[end] = '\0';
    bool last = path[end + strspn(path + end, "/")] == '\0';
    if (lstat(walked, &status) != 0) {
      // Missing: the folder walked so far (already checked) decides.
      unsafe = errno != ENOENT && errno != ENOTDIR;
      break;
    }
    if (S_ISLNK(status.st_mode)) {
      // The link's folder has been checked; where it leads is checked as a path of its own.
      char target[PATH_MAX];
      ssize_t size = readlink(walked, target, sizeof target - 1);
      if (size <= 0 || ++*links > kMostLinks) {
        unsafe = true;
        break;
      }
      target[size] = '\0';
      if (target[0] == '/') {
        unsafe = WalkUnsafe(target, links);
      } else {
        // Relative to the link's folder.
        char* slash = strrchr(walked, '/');
        size_t folder = static_cast<size_t>(slash - walked) + 1;
        char* joined = static_cast<char*>(malloc(folder + static_cast<size_t>(size) + 1));
        if (joined == nullptr) {
          unsafe = true;
          break;
        }
        memcpy(joined, walked, folder);
        memcpy(joined + folder, target, static_cast<size_t>(size) + 1);
        unsafe = WalkUnsafe(joined, links);
        free(joined);
      }
    } else {
      unsafe = Unsafe(status, !last);
    }
    at = end;
  }
  free(walked);
  return unsafe;
}

}  // namespace

bool OthersCanChangePath(const char* path) {
  int links = 0;
  return path == nullptr || WalkUnsafe(path, &links);
}

}  // namespace kestario
