// A temporary folder below /tmp for one test, removed with everything in it afterwards.
#ifndef KESTARIO_TESTS_PLATFORM_TEMP_FOLDER_H_
#define KESTARIO_TESTS_PLATFORM_TEMP_FOLDER_H_

#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

namespace kestario_test {

class TempFolder {
 public:
  TempFolder() {
    char name[] = "/tmp/kestario-platform-XXXXXX";
    const char* made = mkdtemp(name);
    path_ = made ? made : "";
  }
  ~TempFolder() {
    if (path_.empty()) return;
    // Make everything writable first so that read-only test files and folders go too.
    nftw(path_.c_str(), MakeWritable, 16, FTW_PHYS);
    nftw(path_.c_str(), Remove, 16, FTW_DEPTH | FTW_PHYS);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  static int MakeWritable(const char* path, const struct stat* info, int type, struct FTW*) {
    if (type == FTW_D || type == FTW_DNR) chmod(path, (info->st_mode & 07777) | S_IRWXU);
    return 0;
  }
  static int Remove(const char* path, const struct stat*, int, struct FTW*) {
    ::remove(path);
    return 0;
  }
  std::string path_;
};

inline bool WriteFile(const std::string& path, const std::string& contents) {
  FILE* file = fopen(path.c_str(), "wb");
  if (!file) return false;
  bool ok = fwrite(contents.data(), 1, contents.size(), file) == contents.size();
  return fclose(file) == 0 && ok;
}

// WriteFile, then the file's permission bits set to `mode`.
inline bool WriteFileWithMode(const std::string& path, const std::string& contents, mode_t mode) {
  return WriteFile(path, contents) && chmod(path.c_str(), mode) == 0;
}

// WriteFile into a new folder: the folder that `path` names the file of is made first (0755).
inline bool WriteFileInNewFolder(const std::string& path, const std::string& contents) {
  std::string folder = path.substr(0, path.rfind('/'));
  return mkdir(folder.c_str(), 0755) == 0 && WriteFile(path, contents);
}

inline std::string ReadFile(const std::string& path) {
  std::string result;
  FILE* file = fopen(path.c_str(), "rb");
  if (!file) return "<missing>";
  char buffer[4096];
  size_t got;
  while ((got = fread(buffer, 1, sizeof buffer, file)) > 0) result.append(buffer, got);
  fclose(file);
  return result;
}

inline bool Exists(const std::string& path) {
  struct stat info;
  return lstat(path.c_str(), &info) == 0;
}

// Sets a file's modification (and access) time; false when it cannot.
inline bool SetModified(const std::string& path, time_t seconds, long nanoseconds = 0) {
  struct timespec times[2];
  times[0].tv_sec = seconds;
  times[0].tv_nsec = nanoseconds;
  times[1] = times[0];
  return utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

}  // namespace kestario_test

#endif  // KESTARIO_TESTS_PLATFORM_TEMP_FOLDER_H_
