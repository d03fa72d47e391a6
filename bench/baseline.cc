// The floor for the benchmark: the system calls that the program makes for each procedure of a
// workload, on the same files, with nothing else (no script, no symbols, no records).
//
// usage: baseline WORKLOAD FOLDER COUNT
//   exist   stat FOLDER/fI.dat                                     for I < COUNT
//   date    open, fstat, close FOLDER/fI.dat and its local date   for I < COUNT
//   copy    copy FOLDER/fI.dat to FOLDER/dI.dat for I < COUNT / 2, then delete every dI.dat
//
// The copy repeats the steps of the Linux CopyFileA (platform/file_ops_posix.cc): open and fstat
// the source, stat the destination, a temporary ".dI.dat.XXXXXX" beside it with the data written,
// fchmod and futimens, rename over the destination, SIGXFSZ ignored around it. The delete is lstat
// and unlink, as DeleteFileA does it. Exits 1 at the first step that fails.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

char g_buffer[64 * 1024];

bool Exist(const char* path) {
  struct stat info;
  return stat(path, &info) == 0;
}

bool Date(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return false;
  struct stat info;
  bool ok = fstat(fd, &info) == 0 && !S_ISDIR(info.st_mode);
  close(fd);
  if (!ok) return false;
  struct tm local;
  time_t seconds = info.st_mtim.tv_sec;
  return localtime_r(&seconds, &local) != nullptr;
}

bool WriteAll(int fd, const char* data, size_t length) {
  while (length > 0) {
    ssize_t done = write(fd, data, length);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) return false;
    data += done;
    length -= static_cast<size_t>(done);
  }
  return true;
}

bool Copy(const char* from, const char* to, const char* folder, const char* name) {
  int source = open(from, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (source < 0) return false;
  struct stat sourceInfo;
  if (fstat(source, &sourceInfo) != 0 || fcntl(source, F_SETFL, 0) != 0) return false;
  struct stat targetInfo;
  if (stat(to, &targetInfo) == 0 || errno != ENOENT) return false;  // fresh destinations only
  char temporary[4096];
  snprintf(temporary, sizeof temporary, "%s/.%s.XXXXXX", folder, name);
  struct sigaction ignore;
  struct sigaction previous;
  memset(&ignore, 0, sizeof ignore);
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGXFSZ, &ignore, &previous);
  int target = mkostemp(temporary, O_CLOEXEC);
  if (target < 0) return false;
  bool ok = true;
  for (;;) {
    ssize_t got = read(source, g_buffer, sizeof g_buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    if (!WriteAll(target, g_buffer, static_cast<size_t>(got))) {
      ok = false;
      break;
    }
  }
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1] = sourceInfo.st_mtim;
  ok = ok && fchmod(target, sourceInfo.st_mode & 07777) == 0 && futimens(target, times) == 0;
  if (close(target) != 0) ok = false;
  close(source);
  ok = ok && rename(temporary, to) == 0;
  sigaction(SIGXFSZ, &previous, nullptr);
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
    for (long i = 0; i < count; ++i) {
      snprintf(path, sizeof path, "%s/f%ld.dat", folder, i);
      if (!(exist ? Exist(path) : Date(path))) return 1;
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
