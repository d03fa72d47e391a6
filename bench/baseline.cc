// The floor for the benchmark: the system calls that the program makes for each procedure of a
// workload, on the same files, with nothing else (no script, no symbols, no records).
//
// usage: baseline WORKLOAD FOLDER COUNT
//   exist   stat FOLDER/fI.dat                                     for I < COUNT
//   date    open, fstat, close FOLDER/fI.dat and its local date   for I < COUNT (the platform's
//           own PosixGetFileLocalDate, which makes just these calls)
//   copy    copy FOLDER/fI.dat to FOLDER/dI.dat for I < COUNT / 2, then delete every dI.dat
//
// The copy repeats the system calls of the Linux CopyFileA (platform/file_ops_posix.cc) for a
// destination that does not exist yet: open and fstat the source, lstat and stat the destination,
// open its folder, an unnamed temporary file there (O_TMPFILE) filled by the kernel (FICLONE, else
// copy_file_range, with the signal check between chunks), fstat of the source again, fchmod,
// futimens and fsync of the copy, a name for it (linkat) and the rename over the destination,
// then an fsync of the folder; SIGXFSZ ignored and the ending signals held around it. The delete
// is lstat and unlink, as DeleteFileA does it. Exits 1 at the first step that fails.
#include <fcntl.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/file_handle_posix.h"
#include "platform/file_ops_posix.h"

namespace {

using kestario::WriteAll;

char g_buffer[64 * 1024];

bool Exist(const char* path) {
  struct stat info;
  return stat(path, &info) == 0;
}

// The kernel copy, as CopyData does it: FICLONE, else copy_file_range chunks until it gives 0,
// then read() for the last word (or read and write where the kernel cannot copy).
bool CopyData(int source, int target) {
  if (ioctl(target, FICLONE, source) == 0) {
    struct stat cloned;
    return fstat(target, &cloned) == 0;
  }
  bool kernel = true;
  sigset_t pending;
  for (;;) {
    sigpending(&pending);
    ssize_t done;
    if (kernel) {
      done = copy_file_range(source, nullptr, target, nullptr, 8u << 20, 0);
      if (done < 0 && errno != EINTR) {
        kernel = false;
        continue;
      }
      if (done == 0) {
        kernel = false;
        continue;
      }
    } else {
      done = read(source, g_buffer, sizeof g_buffer);
      if (done == 0) return true;
      if (done > 0 && !WriteAll(target, g_buffer, static_cast<size_t>(done))) return false;
    }
    if (done < 0 && errno != EINTR) return false;
  }
}

bool Copy(const char* from, const char* to, const char* folder, const char* name) {
  static unsigned long counter = 0;
  int source = open(from, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (source < 0) return false;
  struct stat sourceInfo;
  if (fstat(source, &sourceInfo) != 0 || fcntl(source, F_SETFL, 0) != 0) return false;
  struct stat targetInfo;
  if (lstat(to, &targetInfo) == 0 || errno != ENOENT) return false;  // fresh destinations only
  if (stat(to, &targetInfo) == 0 || errno != ENOENT) return false;
  int folderFd = open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folderFd < 0) return false;
  struct sigaction ignore;
  struct sigaction previous;
  memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &previous);
  sigset_t ending;
  sigset_t mask;
  sigemptyset(&ending);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGINT);
  sigaddset(&ending, SIGHUP);
  sigprocmask(SIG_BLOCK, &ending, &mask);
  int target = openat(folderFd, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
  if (target < 0) return false;
  struct stat after;
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = sourceInfo.st_mtim;
  char temporary[4096];
  snprintf(temporary, sizeof temporary, "%s/.%s.%06lu", folder, name, ++counter % 1000000);
  bool ok = CopyData(source, target) && fstat(source, &after) == 0 &&
            fchmod(target, sourceInfo.st_mode & 01777) == 0 && futimens(target, times) == 0 &&
            fsync(target) == 0 && linkat(target, "", AT_FDCWD, temporary, AT_EMPTY_PATH) == 0 &&
            rename(temporary, to) == 0;
  if (close(target) != 0) ok = false;
  if (ok) fsync(folderFd);
  close(folderFd);
  sigprocmask(SIG_SETMASK, &mask, nullptr);
  sigaction(SIGXFSZ, &previous, nullptr);
  close(source);
  return ok;
}

bool Delete(const char* path) {
  struct stat info;
  if (lstat(path, &info) != 0 || S_ISDIR(info.st_mode)) return false;
  return unlink(path) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s exist|date|copy FOLDER COUNT\n", argv[0]);
    return 2;
  }
  const char* workload = argv[1];
  const char* folder = argv[2];
  long count = strtol(argv[3], nullptr, 10);
  char path[4096];
  char other[4096];
  char name[64];
  if (strcmp(workload, "exist") == 0 || strcmp(workload, "date") == 0) {
    bool exist = workload[0] == 'e';
    kestario::LocalDate date;
    for (long i = 0; i < count; ++i) {
      snprintf(path, sizeof path, "%s/f%ld.dat", folder, i);
      if (!(exist ? Exist(path) : PosixGetFileLocalDate(path, &date))) return 1;
    }
    return 0;
  }
  if (strcmp(workload, "copy") == 0) {
    for (long i = 0; i < count / 2; ++i) {
      snprintf(path, sizeof path, "%s/f%ld.dat", folder, i);
      snprintf(name, sizeof name, "d%ld.dat", i);
      snprintf(other, sizeof other, "%s/%s", folder, name);
      if (!Copy(path, other, folder, name)) return 1;
    }
    for (long i = 0; i < count / 2; ++i) {
      snprintf(path, sizeof path, "%s/d%ld.dat", folder, i);
      if (!Delete(path)) return 1;
    }
    return 0;
  }
  fprintf(stderr, "unknown workload %s\n", workload);
  return 2;
}
