#include "platform/file_ops_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <fnmatch.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "platform/file_handle_posix.h"
#include "platform/signal_ignored_posix.h"

namespace kestario {

namespace {

bool HasWildcard(const char* text) { return strpbrk(text, "*?") != nullptr; }

// The signals that end a run and can be caught: a copy holds them back while it has a temporary
// file, and gives way to them between chunks, so that nothing is left behind when they end it.
class EndingSignalsHeld {
 public:
  EndingSignalsHeld() {
    sigemptyset(&set_);
    for (int signal : kSignals) sigaddset(&set_, signal);
    held_ = sigprocmask(SIG_BLOCK, &set_, &previous_) == 0;
  }
  // Restoring the mask delivers a signal that arrived meanwhile, with its usual effect.
  ~EndingSignalsHeld() {
    if (held_) sigprocmask(SIG_SETMASK, &previous_, nullptr);
  }
  EndingSignalsHeld(const EndingSignalsHeld&) = delete;
  EndingSignalsHeld& operator=(const EndingSignalsHeld&) = delete;

  // Whether one of them is waiting (and was not blocked before the copy began).
  bool Arrived() const {
    sigset_t pending;
    if (!held_ || sigpending(&pending) != 0) return false;
    for (int signal : kSignals) {
      if (sigismember(&pending, signal) && !sigismember(&previous_, signal)) return true;
    }
    return false;
  }

 private:
  static constexpr int kSignals[] = {SIGTERM, SIGINT, SIGHUP};
  sigset_t set_;
  sigset_t previous_;
  bool held_;
};

constexpr int EndingSignalsHeld::kSignals[];

// Copies `source` from its current offset to the end into `target` at its offset, adding the bytes
// to *copied. The kernel moves them: a reflink where the file system shares blocks, otherwise
// copy_file_range in chunks, with read and write as the fallback. False on any error, and when
// one of the ending signals arrived.
bool CopyData(int source, int target, const EndingSignalsHeld& signals, uint64_t* copied) {
  if (*copied == 0 && ioctl(target, FICLONE, source) == 0) {
    struct stat cloned;
    if (fstat(target, &cloned) != 0) return false;
    *copied = static_cast<uint64_t>(cloned.st_size);
    return true;
  }
  static constexpr size_t kKernelChunk = 8u << 20;
  static constexpr size_t kBufferSize = 256u << 10;
  bool kernel = true;
  char* buffer = nullptr;
  bool ok = true;
  for (;;) {
    if (signals.Arrived()) {
      ok = false;
      break;
    }
    ssize_t done;
    if (kernel) {
      done = copy_file_range(source, nullptr, target, nullptr, kKernelChunk, 0);
      if (done < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                       errno == EOPNOTSUPP || errno == EBADF)) {
        kernel = false;  // another file system, or none that copies: go on by hand
        continue;
      }
      if (done == 0) {
        kernel = false;  // the end, unless a file system stops early: read() has the last word
        continue;
      }
    } else {
      if (!buffer) buffer = static_cast<char*>(malloc(kBufferSize));
      if (!buffer) {
        ok = false;
        break;
      }
      done = read(source, buffer, kBufferSize);
      if (done == 0) break;
      if (done > 0 && !WriteAll(target, buffer, static_cast<size_t>(done))) {
        ok = false;
        break;
      }
    }
    if (done < 0) {
      if (errno == EINTR) continue;
      ok = false;
      break;
    }
    *copied += static_cast<uint64_t>(done);
  }
  free(buffer);
  return ok;
}

// Whether the source still is what it was when the copy began, and all of it was copied.
bool SourceUnchanged(int source, const struct stat& before, uint64_t copied) {
  struct stat after;
  return fstat(source, &after) == 0 && after.st_size == before.st_size &&
         copied == static_cast<uint64_t>(before.st_size) &&
         after.st_mtim.tv_sec == before.st_mtim.tv_sec &&
         after.st_mtim.tv_nsec == before.st_mtim.tv_nsec &&
         after.st_ctim.tv_sec == before.st_ctim.tv_sec &&
         after.st_ctim.tv_nsec == before.st_ctim.tv_nsec;
}

bool g_namedTemporariesOnly = false;

// Whether the bytes of `fd` match `pin`; sets pin->found and pin->differs when they do not (a
// file that cannot be read is false, and differs from nothing).
bool MatchesPin(int fd, ContentPin* pin) {
  Sha256Digest found;
  if (!PosixHashOpenFile(fd, &found)) return false;
  if (found == pin->expected) return true;
  pin->found = found;
  pin->differs = true;
  return false;
}

// Fills the last six bytes of `name` ("...XXXXXX") with letters and digits that differ from call
// to call.
void FillRandomSuffix(char* name) {
  static const char kDigits[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  static uint64_t counter = 0;
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  uint64_t value = (static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(getpid()) << 32)) +
                   (++counter) * 0x9E3779B97F4A7C15ull;
  char* end = name + strlen(name);
  for (char* p = end - 6; p < end; ++p) {
    *p = kDigits[value % 62];
    value /= 62;
  }
}

// The temporary file of one copy: unnamed (O_TMPFILE) where the file system has them, so that
// a crash leaves nothing behind; otherwise ".NAME.XXXXXX" beside the destination.
struct Temporary {
  int fd = -1;
  char* path = nullptr;  // "<folder>/.<name>.XXXXXX", or the one name it was given
  bool named = false;    // whether `path` exists now
  bool fixed = false;    // `path` is the name given: no random letters
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

// Opens the temporary file in the folder `folderFd`; false with errno set when it cannot.
bool OpenTemporary(int folderFd, Temporary* temporary) {
  if (!g_namedTemporariesOnly) {
    temporary->fd = openat(folderFd, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (temporary->fd >= 0) return true;
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return false;
  }
  temporary->fd = temporary->fixed
                      ? open(temporary->path, O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600)
                      : mkostemp(temporary->path, O_CLOEXEC);
  temporary->named = temporary->fd >= 0;
  return temporary->named;
}

// Gives the unnamed temporary file a name: `to` itself when `exclusive`, else a fresh
// ".NAME.XXXXXX" (temporary->path).
// Gives the open file `fd` the name `name`, which must not exist yet.
bool LinkOpenFile(int fd, const char* name) {
  if (linkat(fd, "", AT_FDCWD, name, AT_EMPTY_PATH) == 0) return true;
  char procPath[64];
  snprintf(procPath, sizeof procPath, "/proc/self/fd/%d", fd);
  return linkat(AT_FDCWD, procPath, AT_FDCWD, name, AT_SYMLINK_FOLLOW) == 0;
}

bool NameTemporary(Temporary* temporary, const char* to, bool exclusive) {
  for (int attempt = 0; attempt < 100; ++attempt) {
    const char* name = to;
    if (!exclusive) {
      if (!temporary->fixed) FillRandomSuffix(temporary->path);
      name = temporary->path;
    }
    if (!LinkOpenFile(temporary->fd, name)) {
      if (errno == EEXIST && !exclusive && !temporary->fixed) continue;
      return false;
    }
    temporary->named = !exclusive;
    return true;
  }
  return false;
}

// Carries the POSIX access list of the file `from` (if it has one) over to `target`.
bool CopyAccessList(const char* from, int target) {
  static const char kName[] = "system.posix_acl_access";
  ssize_t size = getxattr(from, kName, nullptr, 0);
  if (size < 0) return errno == ENODATA || errno == ENOTSUP;
  if (size == 0) return true;
  char* list = static_cast<char*>(malloc(static_cast<size_t>(size)));
  if (!list) return false;
  size = getxattr(from, kName, list, static_cast<size_t>(size));
  bool ok = size >= 0 && fsetxattr(target, kName, list, static_cast<size_t>(size), 0) == 0;
  free(list);
  return ok;
}

// Copies into the existing file `to` itself, for a writable file in a folder that refuses new
// files: not atomic, and the file keeps its owner, mode and access list. It gets the source's
// modification time where the user may give it one (its owner, or root); a user who may only
// write it leaves it the time of the writing, and the copy is done all the same.
bool CopyInPlace(int source, const struct stat& sourceInfo, const char* to,
                 const EndingSignalsHeld& signals) {
  int target = open(to, O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (target < 0) return false;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = sourceInfo.st_mtim;
  uint64_t copied = 0;
  bool ok =
      CopyData(source, target, signals, &copied) && SourceUnchanged(source, sourceInfo, copied) &&
      (futimens(target, times) == 0 || errno == EPERM || errno == EACCES) && fsync(target) == 0;
  if (close(target) != 0) ok = false;
  return ok;
}

// The copy of the open regular file `source` onto the path `to`, which is not a symbolic link.
// With `keeping`, see CopyKeeping.
bool CopyOpenFile(int source, const struct stat& sourceInfo, const char* to, bool failIfExists,
                  CopyKeeping* keeping) {
  static CopyKeeping nothing;
  if (!keeping) keeping = &nothing;
  const char* keepAs = keeping->keepAs;
  const char* markAs = keeping->markAs;
  const char* temporaryAs = keeping->temporaryAs;
  struct stat targetInfo;
  bool replacing = false;
  if (stat(to, &targetInfo) == 0) {
    if (targetInfo.st_dev == sourceInfo.st_dev && targetInfo.st_ino == sourceInfo.st_ino) {
      // The same file: nothing to copy, never truncated; a pin is checked all the same.
      return !failIfExists && (!keeping->pin || MatchesPin(source, keeping->pin));
    }
    if (failIfExists || S_ISDIR(targetInfo.st_mode) || (targetInfo.st_mode & S_IWUSR) == 0 ||
        access(to, W_OK) != 0) {
      return false;
    }
    replacing = true;
  } else if (errno != ENOENT) {
    return false;
  }

  Temporary temporary;
  temporary.fixed = temporaryAs != nullptr;
  temporary.path = temporary.fixed ? strdup(temporaryAs) : TemporaryTemplate(to);
  if (!temporary.path) return false;
  const char* slash = strrchr(to, '/');
  char* folder = slash ? strndup(to, slash == to ? 1 : static_cast<size_t>(slash - to)) : nullptr;
  int folderFd =
      (slash && !folder) ? -1 : open(folder ? folder : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  free(folder);
  if (folderFd < 0) {
    free(temporary.path);
    return false;
  }

  SignalIgnored sizeSignal(SIGXFSZ);  // exceeding the file size limit is an EFBIG result
  EndingSignalsHeld signals;
  bool ok = false;
  if (!OpenTemporary(folderFd, &temporary)) {
    // A folder that refuses new files, with a destination the run may write: in place.
    if (replacing && !keepAs && !markAs && !keeping->pin && (errno == EACCES || errno == EPERM)) {
      ok = CopyInPlace(source, sourceInfo, to, signals);
    }
  } else {
    // A replaced file keeps its owner (where the run may give it away), its mode and its access
    // list; a new one takes the source's mode. Never a set-user-ID or set-group-ID bit.
    mode_t mode = (replacing ? targetInfo.st_mode : sourceInfo.st_mode) & 01777;
    if (replacing && (targetInfo.st_uid != geteuid() || targetInfo.st_gid != getegid())) {
      (void)!fchown(temporary.fd, targetInfo.st_uid, targetInfo.st_gid);
    }
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;
    times[1] = sourceInfo.st_mtim;
    uint64_t copied = 0;
    ok = CopyData(source, temporary.fd, signals, &copied) &&
         SourceUnchanged(source, sourceInfo, copied) &&
         (!keeping->pin || MatchesPin(temporary.fd, keeping->pin)) &&
         fchmod(temporary.fd, mode) == 0 && (!replacing || CopyAccessList(to, temporary.fd)) &&
         futimens(temporary.fd, times) == 0 && fsync(temporary.fd) == 0;
    bool marked = false;
    if (ok && markAs && !replacing) {
      ok = temporary.named ? link(temporary.path, markAs) == 0 : LinkOpenFile(temporary.fd, markAs);
      marked = ok;
    }
    if (ok && !temporary.named) {
      ok = NameTemporary(&temporary, to, failIfExists);
    } else if (ok && failIfExists) {
      // Never replace a file that appeared meanwhile.
      if (renameat2(AT_FDCWD, temporary.path, AT_FDCWD, to, RENAME_NOREPLACE) == 0) {
        temporary.named = false;
      } else {
        ok = (errno == EINVAL || errno == ENOSYS) && link(temporary.path, to) == 0;
      }
    }
    // Closed before it takes the destination's name, so that nothing can fail once it has it.
    if (close(temporary.fd) != 0) ok = false;
    // The replaced file stays under the kept name: the same file, its bytes, times and owner.
    bool kept = false;
    if (ok && replacing && keepAs) {
      ok = linkat(AT_FDCWD, to, AT_FDCWD, keepAs, 0) == 0;
      kept = ok;
    }
    if (ok && temporary.named && !failIfExists) {
      ok = rename(temporary.path, to) == 0;
      if (ok) temporary.named = false;
    }
    if (!ok && kept) unlink(keepAs);
    if (!ok && marked) unlink(markAs);
    if (ok) keeping->result = kept ? CopyKeeping::kKept : marked ? CopyKeeping::kMarked : 0;
    if (ok) fsync(folderFd);  // the new name reaches the disk too
  }
  // A temporary name still there after a link, or after a failure, goes.
  if (temporary.named && (!ok || failIfExists)) unlink(temporary.path);
  close(folderFd);
  free(temporary.path);
  return ok;
}

}  // namespace

bool PosixHashOpenFile(int fd, Sha256Digest* digest, uint64_t* size) {
  return HashReads(
      [fd](uint64_t offset, char* buffer, uint32_t wanted, uint32_t* done) {
        ssize_t got;
        do {
          got = pread(fd, buffer, wanted, static_cast<off_t>(offset));
        } while (got < 0 && errno == EINTR);
        *done = got > 0 ? static_cast<uint32_t>(got) : 0;
        return got >= 0;
      },
      digest, size);
}

int PosixSealedProgramCopy(const char* path, ContentPin* pin) {
  if (!path || !*path || faccessat(AT_FDCWD, path, X_OK, AT_EACCESS) != 0) return -1;
  int file = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (file < 0) return -1;
  struct stat info;
  char head[2];
  if (fstat(file, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(file);
    return -1;
  }
  bool script = pread(file, head, 2, 0) == 2 && head[0] == '#' && head[1] == '!';
  int copy = memfd_create("pinned", MFD_ALLOW_SEALING | (script ? 0u : MFD_CLOEXEC));
  static constexpr size_t kBufferSize = 1u << 20;
  char* buffer = static_cast<char*>(malloc(kBufferSize));
  Sha256 hash;
  bool ok = copy >= 0 && buffer != nullptr && hash.Begin();
  while (ok) {
    ssize_t done = read(file, buffer, kBufferSize);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      ok = done == 0;
      break;
    }
    ok = hash.Update(buffer, static_cast<size_t>(done)) &&
         WriteAll(copy, buffer, static_cast<size_t>(done));
  }
  free(buffer);
  close(file);
  Sha256Digest found;
  ok = ok && hash.Finish(&found);
  if (ok && found != pin->expected) {
    pin->found = found;
    pin->differs = true;
    ok = false;
  }
  // Nobody, this program included, can change the copy from here on.
  ok =
      ok && fcntl(copy, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL) == 0;
  if (!ok && copy >= 0) close(copy);
  return ok ? copy : -1;
}

bool PosixDeleteFile(const char* path, const char* keepAs) {
  if (!path || !*path) return false;
  struct stat info;
  if (lstat(path, &info) != 0 || S_ISDIR(info.st_mode)) return false;
  if (keepAs) return PosixMoveFile(path, keepAs, 0);
  return unlink(path) == 0;
}

void PosixCopyUsesNamedTemporariesOnly(bool namedOnly) { g_namedTemporariesOnly = namedOnly; }

bool PosixCopyFile(const char* from, const char* to, bool failIfExists, CopyKeeping* keeping) {
  if (!from || !*from || !to || !*to) return false;
  int source = open(from, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (source < 0) return false;
  struct stat sourceInfo;
  if (fstat(source, &sourceInfo) != 0 || !S_ISREG(sourceInfo.st_mode) ||
      fcntl(source, F_SETFL, 0) != 0) {
    close(source);
    return false;
  }
  // A symbolic link is written through: the file it names is replaced and the link stays. One
  // that names nothing fails.
  char* resolved = nullptr;
  struct stat linkInfo;
  if (lstat(to, &linkInfo) == 0 && S_ISLNK(linkInfo.st_mode)) {
    resolved = realpath(to, nullptr);
    if (!resolved) {
      close(source);
      return false;
    }
  }
  bool ok = CopyOpenFile(source, sourceInfo, resolved ? resolved : to, failIfExists, keeping);
  free(resolved);
  close(source);
  return ok;
}

namespace {

// Flushes the folder that holds `path` (its entries: names made, renamed or removed).
bool FlushFolderOf(const char* path) {
  const char* slash = strrchr(path, '/');
  char* folder =
      slash ? strndup(path, slash == path ? 1 : static_cast<size_t>(slash - path)) : strdup(".");
  if (!folder) return false;
  int fd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  free(folder);
  if (fd < 0) return false;
  bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

}  // namespace

namespace {

// Renames `from` to `to`, both in `folder` (or AT_FDCWD paths); without `replace` an existing
// `to` is never replaced (renameat2 with RENAME_NOREPLACE, or a link and an unlink where the file
// system lacks the flag: files only).
bool RenameIn(int folder, const char* from, const char* to, bool replace) {
  if (replace) return renameat(folder, from, folder, to) == 0;
  if (renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  struct stat info;
  if (fstatat(folder, from, &info, AT_SYMLINK_NOFOLLOW) != 0 || S_ISDIR(info.st_mode) ||
      linkat(folder, from, folder, to, 0) != 0) {
    return false;
  }
  if (unlinkat(folder, from, 0) != 0) {
    unlinkat(folder, to, 0);
    return false;
  }
  return true;
}

}  // namespace

bool PosixMoveFile(const char* from, const char* to, uint32_t flags) {
  if (!from || !*from || !to || !*to || (flags & kMoveFileDelayUntilReboot)) return false;
  bool moved = RenameIn(AT_FDCWD, from, to, (flags & kMoveFileReplaceExisting) != 0);
  if (moved && (flags & kMoveFileWriteThrough)) {
    FlushFolderOf(to);
    FlushFolderOf(from);
  }
  return moved;
}

bool PosixMoveFileInFolder(int folder, const char* from, const char* to, uint32_t flags) {
  if (folder < 0 || !from || !*from || !to || !*to || strchr(from, '/') || strchr(to, '/') ||
      (flags & kMoveFileDelayUntilReboot)) {
    return false;
  }
  bool moved = RenameIn(folder, from, to, (flags & kMoveFileReplaceExisting) != 0);
  if (moved && (flags & kMoveFileWriteThrough)) fsync(folder);
  return moved;
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
