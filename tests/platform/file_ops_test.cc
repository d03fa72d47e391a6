// Delete, copy, existence and dates on Linux, and the portable FileExists / IsFileDateOnOrAfter.
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "platform/file_ops_posix.h"
#include "platform/files.h"
#include "tests/platform/temp_folder.h"

namespace kestario {
namespace {

using kestario_test::Exists;
using kestario_test::ReadFile;
using kestario_test::SetModified;
using kestario_test::TempFolder;
using kestario_test::WriteFile;
using kestario_test::WriteFileInNewFolder;
using kestario_test::WriteFileWithMode;

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  DIR* directory = opendir(folder.c_str());
  if (!directory) return names;
  while (struct dirent* entry = readdir(directory)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(directory);
  return names;
}

bool HasTemporaryFiles(const std::string& folder) {
  for (const std::string& name : Names(folder)) {
    if (name[0] == '.') return true;
  }
  return false;
}

// Seconds since the epoch of a local calendar time.
time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  struct tm local = {};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  return mktime(&local);
}

TEST(DeleteFileTest, RemovesOneFileOnly) {
  TempFolder folder;
  ASSERT_TRUE(WriteFile(folder / "a.txt", "a"));
  ASSERT_TRUE(WriteFile(folder / "*", "star"));
  ASSERT_EQ(0, mkdir((folder / "sub").c_str(), 0755));
  EXPECT_TRUE(PosixDeleteFile((folder / "a.txt").c_str()));
  EXPECT_FALSE(Exists(folder / "a.txt"));
  EXPECT_FALSE(PosixDeleteFile((folder / "a.txt").c_str()));  // already gone
  EXPECT_FALSE(PosixDeleteFile((folder / "sub").c_str()));
  EXPECT_TRUE(Exists(folder / "sub"));
  EXPECT_FALSE(PosixDeleteFile(""));
  EXPECT_FALSE(PosixDeleteFile(nullptr));
  // No wildcard expansion: "*" names the file called "*".
  ASSERT_TRUE(WriteFile(folder / "b.txt", "b"));
  EXPECT_TRUE(PosixDeleteFile((folder / "*").c_str()));
  EXPECT_TRUE(Exists(folder / "b.txt"));
  EXPECT_FALSE(PosixDeleteFile((folder / "?.txt").c_str()));
  EXPECT_TRUE(Exists(folder / "b.txt"));
}

TEST(CopyFileTest, CopiesAndReplaces) {
  TempFolder folder;
  std::string from = folder / "from.bin";
  std::string to = folder / "to.bin";
  std::string data(300000, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  ASSERT_TRUE(WriteFile(from, data));
  EXPECT_TRUE(PosixCopyFile(from.c_str(), to.c_str(), false));
  EXPECT_EQ(data, ReadFile(to));
  ASSERT_TRUE(WriteFile(from, "new"));
  EXPECT_FALSE(PosixCopyFile(from.c_str(), to.c_str(), true));  // exists
  EXPECT_EQ(data, ReadFile(to));
  EXPECT_TRUE(PosixCopyFile(from.c_str(), to.c_str(), false));
  EXPECT_EQ("new", ReadFile(to));
  EXPECT_TRUE(PosixCopyFile(from.c_str(), (folder / "fresh").c_str(), true));
  EXPECT_EQ("new", ReadFile(folder / "fresh"));
  EXPECT_FALSE(HasTemporaryFiles(folder.Path()));
}

TEST(CopyFileTest, KeepsPermissionBitsAndModificationTime) {
  TempFolder folder;
  std::string from = folder / "tool.sh";
  std::string to = folder / "copy.sh";
  ASSERT_TRUE(WriteFileWithMode(from, "#!/bin/sh\n", 0750));
  ASSERT_TRUE(SetModified(from, LocalTime(2001, 7, 5, 10, 30, 0), 123456789));
  ASSERT_TRUE(WriteFileWithMode(to, "old", 0600));
  ASSERT_TRUE(PosixCopyFile(from.c_str(), to.c_str(), false));
  struct stat source;
  struct stat copy;
  ASSERT_EQ(0, stat(from.c_str(), &source));
  ASSERT_EQ(0, stat(to.c_str(), &copy));
  EXPECT_EQ(0600u, copy.st_mode & 07777);  // a replaced file keeps its mode
  EXPECT_EQ(source.st_mtim.tv_sec, copy.st_mtim.tv_sec);
  EXPECT_EQ(source.st_mtim.tv_nsec, copy.st_mtim.tv_nsec);
  EXPECT_EQ("#!/bin/sh\n", ReadFile(to));
  // A new file takes the source's mode.
  ASSERT_TRUE(PosixCopyFile(from.c_str(), (folder / "new.sh").c_str(), false));
  ASSERT_EQ(0, stat((folder / "new.sh").c_str(), &copy));
  EXPECT_EQ(0750u, copy.st_mode & 07777);
  // A read-only source copies to a read-only file.
  ASSERT_EQ(0, chmod(from.c_str(), 0444));
  ASSERT_TRUE(PosixCopyFile(from.c_str(), (folder / "ro").c_str(), false));
  ASSERT_EQ(0, stat((folder / "ro").c_str(), &copy));
  EXPECT_EQ(0444u, copy.st_mode & 07777);
  EXPECT_EQ("#!/bin/sh\n", ReadFile(folder / "ro"));
}

TEST(CopyFileTest, RefusesBadSourcesAndDestinations) {
  TempFolder folder;
  std::string from = folder / "from";
  ASSERT_TRUE(WriteFile(from, "data"));
  ASSERT_EQ(0, mkdir((folder / "dir").c_str(), 0755));
  EXPECT_FALSE(PosixCopyFile((folder / "missing").c_str(), (folder / "x").c_str(), false));
  EXPECT_FALSE(PosixCopyFile((folder / "dir").c_str(), (folder / "x").c_str(), false));
  EXPECT_FALSE(PosixCopyFile(from.c_str(), "", false));
  EXPECT_FALSE(PosixCopyFile("", (folder / "x").c_str(), false));
  EXPECT_FALSE(PosixCopyFile(from.c_str(), (folder / "nofolder/x").c_str(), false));
  EXPECT_FALSE(PosixCopyFile(from.c_str(), (folder / "dir").c_str(), false));
  EXPECT_FALSE(PosixCopyFile(from.c_str(), (folder / "dir/").c_str(), false));
  EXPECT_FALSE(Exists(folder / "x"));
  EXPECT_FALSE(HasTemporaryFiles(folder.Path()));
  EXPECT_FALSE(HasTemporaryFiles(folder / "dir"));
}

TEST(CopyFileTest, ReadOnlyDestinationIsKept) {
  TempFolder folder;
  std::string from = folder / "from";
  std::string to = folder / "to";
  ASSERT_TRUE(WriteFile(from, "new"));
  ASSERT_TRUE(WriteFileWithMode(to, "old", 0444));  // also refused when running as root
  EXPECT_FALSE(PosixCopyFile(from.c_str(), to.c_str(), false));
  EXPECT_EQ("old", ReadFile(to));
  EXPECT_FALSE(HasTemporaryFiles(folder.Path()));
}

TEST(CopyFileTest, CopyOntoItselfKeepsTheFile) {
  TempFolder folder;
  std::string file = folder / "same";
  ASSERT_TRUE(WriteFile(file, "precious"));
  EXPECT_TRUE(PosixCopyFile(file.c_str(), file.c_str(), false));
  EXPECT_EQ("precious", ReadFile(file));
  EXPECT_TRUE(PosixCopyFile(file.c_str(), (folder.Path() + "/./same").c_str(), false));
  EXPECT_EQ("precious", ReadFile(file));
  ASSERT_EQ(0, link(file.c_str(), (folder / "hard").c_str()));
  EXPECT_TRUE(PosixCopyFile(file.c_str(), (folder / "hard").c_str(), false));
  EXPECT_EQ("precious", ReadFile(file));
  EXPECT_FALSE(PosixCopyFile(file.c_str(), file.c_str(), true));
  EXPECT_EQ("precious", ReadFile(file));
}

TEST(CopyFileTest, FileSizeLimitLeavesOldDestinationIntact) {
  TempFolder folder;
  std::string from = folder / "big";
  std::string to = folder / "target";
  ASSERT_TRUE(WriteFile(from, std::string(200000, 'b')));
  ASSERT_TRUE(WriteFile(to, "old contents"));
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = 4096;
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(2);
    _exit(PosixCopyFile(from.c_str(), to.c_str(), false) ? 1 : 0);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status)) << "the child died of signal " << WTERMSIG(status);
  EXPECT_EQ(0, WEXITSTATUS(status));
  EXPECT_EQ("old contents", ReadFile(to));
  EXPECT_FALSE(HasTemporaryFiles(folder.Path()));
  EXPECT_EQ(2u, Names(folder.Path()).size());
}

TEST(CopyFileTest, NeverHandsOutSetIdBitsAndKeepsTheReplacedOwner) {
  TempFolder folder;
  std::string from = folder / "tool";
  std::string to = folder / "installed";
  ASSERT_TRUE(WriteFileWithMode(from, "new", 06755));
  ASSERT_TRUE(PosixCopyFile(from.c_str(), (folder / "fresh").c_str(), false));
  struct stat copy;
  ASSERT_EQ(0, stat((folder / "fresh").c_str(), &copy));
  EXPECT_EQ(0755u, copy.st_mode & 07777);
  // A replaced file keeps its owner and mode, never a set-user-ID bit, old or new.
  ASSERT_TRUE(WriteFile(to, "old"));
  bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(0, chown(to.c_str(), 1234, 1234));
  }
  ASSERT_EQ(0, chmod(to.c_str(), 04640));
  ASSERT_TRUE(PosixCopyFile(from.c_str(), to.c_str(), false));
  ASSERT_EQ(0, stat(to.c_str(), &copy));
  EXPECT_EQ(0640u, copy.st_mode & 07777);
  EXPECT_EQ("new", ReadFile(to));
  if (root) {
    EXPECT_EQ(1234u, copy.st_uid);
    EXPECT_EQ(1234u, copy.st_gid);
  }
}

TEST(CopyFileTest, WritesThroughSymbolicLinksAndReplacesHardLinksByName) {
  TempFolder folder;
  std::string from = folder / "from";
  ASSERT_TRUE(WriteFile(from, "new"));
  ASSERT_TRUE(WriteFileInNewFolder(folder / "real/target", "old"));
  ASSERT_EQ(0, symlink("real/target", (folder / "link").c_str()));
  ASSERT_TRUE(PosixCopyFile(from.c_str(), (folder / "link").c_str(), false));
  struct stat info;
  ASSERT_EQ(0, lstat((folder / "link").c_str(), &info));
  EXPECT_TRUE(S_ISLNK(info.st_mode));
  EXPECT_EQ("new", ReadFile(folder / "real/target"));
  EXPECT_FALSE(HasTemporaryFiles(folder / "real"));
  // A link to nothing is refused and stays.
  ASSERT_EQ(0, symlink("nothing", (folder / "dangling").c_str()));
  EXPECT_FALSE(PosixCopyFile(from.c_str(), (folder / "dangling").c_str(), false));
  EXPECT_EQ(0, lstat((folder / "dangling").c_str(), &info));
  EXPECT_FALSE(Exists(folder / "nothing"));
  // A hard link: the named file is replaced, the other name keeps the old data.
  ASSERT_TRUE(WriteFile(folder / "one", "old"));
  ASSERT_EQ(0, link((folder / "one").c_str(), (folder / "two").c_str()));
  ASSERT_TRUE(PosixCopyFile(from.c_str(), (folder / "two").c_str(), false));
  EXPECT_EQ("new", ReadFile(folder / "two"));
  EXPECT_EQ("old", ReadFile(folder / "one"));
  EXPECT_FALSE(HasTemporaryFiles(folder.Path()));
}

TEST(CopyFileTest, WritableFileInAFolderThatRefusesNewFilesIsWrittenInPlace) {
  TempFolder folder;
  std::string from = folder / "from";
  ASSERT_TRUE(WriteFile(from, "new data"));
  ASSERT_TRUE(WriteFileInNewFolder(folder / "locked/granted", "old"));
  int fd = open((folder / "locked").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  int flags = 0;
  if (ioctl(fd, FS_IOC_GETFLAGS, &flags) != 0) {
    close(fd);
    GTEST_SKIP() << "no file flags here";
  }
  int locked = flags | FS_IMMUTABLE_FL;  // no entry may be added; the files stay writable
  if (ioctl(fd, FS_IOC_SETFLAGS, &locked) != 0) {
    close(fd);
    GTEST_SKIP() << "cannot make a folder immutable (needs root and a file system with flags)";
  }
  bool copied = PosixCopyFile(from.c_str(), (folder / "locked/granted").c_str(), false);
  bool created = PosixCopyFile(from.c_str(), (folder / "locked/new").c_str(), false);
  ioctl(fd, FS_IOC_SETFLAGS, &flags);
  close(fd);
  EXPECT_TRUE(copied);
  EXPECT_FALSE(created);
  EXPECT_EQ("new data", ReadFile(folder / "locked/granted"));
  EXPECT_EQ(1u, Names(folder / "locked").size());
}

// Starts a child that copies a 256 MB source onto an old destination and stops it once the copy
// is under way (the source's offset has moved, the end not reached). Returns the child.
pid_t StartAndStopBigCopy(const TempFolder& folder, bool namedOnly) {
  std::string from = folder / "big";
  std::string to = folder / "target";
  const off_t size = off_t{256} << 20;
  int fd = open(from.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return -1;
  std::string block(1 << 20, 'x');
  for (off_t done = 0; done < size; done += static_cast<off_t>(block.size())) {
    if (write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) return -1;
  }
  close(fd);
  if (!WriteFile(to, "old contents")) return -1;
  pid_t child = fork();
  if (child == 0) {
    PosixCopyUsesNamedTemporariesOnly(namedOnly);
    _exit(PosixCopyFile(from.c_str(), to.c_str(), false) ? 0 : 1);
  }
  // The child's descriptor of the source, then its offset.
  std::string fdFolder = "/proc/" + std::to_string(child) + "/fd";
  for (int attempt = 0; attempt < 20000; ++attempt) {
    for (const std::string& name : Names(fdFolder)) {
      char link[4096];
      ssize_t length = readlink((fdFolder + "/" + name).c_str(), link, sizeof link - 1);
      if (length <= 0 || std::string(link, static_cast<size_t>(length)) != from) continue;
      std::string info = ReadFile("/proc/" + std::to_string(child) + "/fdinfo/" + name);
      long long position = atoll(info.c_str() + info.find("pos:") + 4);
      if (position > 0 && position < size) {
        kill(child, SIGSTOP);
        return child;
      }
    }
    usleep(200);
  }
  return child;
}

TEST(CopyFileTest, SourceThatChangesDuringTheCopyFails) {
  TempFolder folder;
  pid_t child = StartAndStopBigCopy(folder, false);
  ASSERT_GT(child, 0);
  ASSERT_EQ(0, truncate((folder / "big").c_str(), 25 << 20));
  kill(child, SIGCONT);
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(1, WEXITSTATUS(status));  // a failed copy
  EXPECT_EQ("old contents", ReadFile(folder / "target"));
  EXPECT_FALSE(HasTemporaryFiles(folder.Path()));
}

TEST(CopyFileTest, EndingSignalsAndKillLeaveNoTemporaryFile) {
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGKILL}) {
    TempFolder folder;
    // Caught signals are tested with a named temporary file, as file systems without O_TMPFILE
    // have it; SIGKILL with what this file system offers.
    pid_t child = StartAndStopBigCopy(folder, signal != SIGKILL);
    ASSERT_GT(child, 0);
    kill(child, signal);
    kill(child, SIGCONT);
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    ASSERT_TRUE(WIFSIGNALED(status)) << "signal " << signal;
    EXPECT_EQ(signal, WTERMSIG(status));
    EXPECT_EQ("old contents", ReadFile(folder / "target")) << "signal " << signal;
    EXPECT_FALSE(HasTemporaryFiles(folder.Path())) << "signal " << signal;
  }
}

TEST(FindAnyMatchTest, PlainPathsNameFilesOrFolders) {
  TempFolder folder;
  ASSERT_TRUE(WriteFile(folder / "a.txt", ""));
  ASSERT_EQ(0, mkdir((folder / "sub").c_str(), 0755));
  EXPECT_TRUE(PosixFindAnyMatch((folder / "a.txt").c_str()));
  EXPECT_TRUE(PosixFindAnyMatch((folder / "sub").c_str()));
  EXPECT_FALSE(PosixFindAnyMatch((folder / "b.txt").c_str()));
  EXPECT_FALSE(PosixFindAnyMatch(""));
  EXPECT_TRUE(FileExists((folder / "a.txt").c_str()));
  EXPECT_FALSE(FileExists((folder / "none").c_str()));
}

TEST(FindAnyMatchTest, StarAndQuestionMarkAreTheOnlyWildcards) {
  TempFolder folder;
  ASSERT_TRUE(WriteFile(folder / "report1.txt", ""));
  ASSERT_TRUE(WriteFile(folder / "a[1].txt", ""));
  ASSERT_TRUE(WriteFile(folder / "b\\c.log", ""));
  ASSERT_TRUE(WriteFile(folder / ".hidden", ""));
  ASSERT_EQ(0, mkdir((folder / "sub").c_str(), 0755));
  EXPECT_TRUE(PosixFindAnyMatch((folder / "*.txt").c_str()));
  EXPECT_TRUE(PosixFindAnyMatch((folder / "report?.txt").c_str()));
  EXPECT_FALSE(PosixFindAnyMatch((folder / "report??.txt").c_str()));
  EXPECT_FALSE(PosixFindAnyMatch((folder / "*.doc").c_str()));
  EXPECT_TRUE(PosixFindAnyMatch((folder / "su*").c_str()));  // folders match too
  EXPECT_TRUE(PosixFindAnyMatch((folder / "*hid*").c_str()));
  // "[" is literal: "a[1]*" matches "a[1].txt" and "r[ae]port*" matches nothing.
  EXPECT_TRUE(PosixFindAnyMatch((folder / "a[1]*").c_str()));
  EXPECT_FALSE(PosixFindAnyMatch((folder / "r[ae]port*").c_str()));
  EXPECT_FALSE(PosixFindAnyMatch((folder / "a1*").c_str()));
  EXPECT_TRUE(PosixFindAnyMatch((folder / "b\\c*").c_str()));  // so is the backslash
  // Wildcards only in the last component.
  EXPECT_FALSE(PosixFindAnyMatch((folder / "s*/x").c_str()));
  EXPECT_FALSE(PosixFindAnyMatch((folder / "none/*").c_str()));
  EXPECT_TRUE(FileExists((folder / "*1.txt").c_str()));
}

TEST(FileDateTest, LocalDateOfTheModificationTime) {
  TempFolder folder;
  std::string file = folder / "dated";
  ASSERT_TRUE(WriteFile(file, "x"));
  ASSERT_TRUE(SetModified(file, LocalTime(2001, 7, 5, 23, 59, 59)));
  LocalDate date = {};
  ASSERT_TRUE(PosixGetFileLocalDate(file.c_str(), &date));
  EXPECT_EQ(2001, date.year);
  EXPECT_EQ(7, date.month);
  EXPECT_EQ(5, date.day);
  ASSERT_TRUE(SetModified(file, LocalTime(2001, 7, 6, 0, 0, 0)));
  ASSERT_TRUE(PosixGetFileLocalDate(file.c_str(), &date));
  EXPECT_EQ(6, date.day);
  EXPECT_FALSE(PosixGetFileLocalDate((folder / "missing").c_str(), &date));
  EXPECT_FALSE(PosixGetFileLocalDate(folder.Path().c_str(), &date));
  if (geteuid() != 0) {
    ASSERT_EQ(0, chmod(file.c_str(), 0));
    EXPECT_FALSE(PosixGetFileLocalDate(file.c_str(), &date));
  }
}

TEST(FileDateTest, IsFileDateOnOrAfterComparesYearMonthDay) {
  TempFolder folder;
  std::string file = folder / "dated";
  ASSERT_TRUE(WriteFile(file, "x"));
  ASSERT_TRUE(SetModified(file, LocalTime(2001, 7, 5, 0, 0, 1)));
  const char* path = file.c_str();
  EXPECT_TRUE(IsFileDateOnOrAfter(path, "2001/7/5"));
  EXPECT_TRUE(IsFileDateOnOrAfter(path, "2001/07/05"));
  EXPECT_TRUE(IsFileDateOnOrAfter(path, "2001/7/4"));
  EXPECT_FALSE(IsFileDateOnOrAfter(path, "2001/7/6"));
  EXPECT_FALSE(IsFileDateOnOrAfter(path, "2001/8/1"));
  EXPECT_TRUE(IsFileDateOnOrAfter(path, "2000/12/31"));
  EXPECT_FALSE(IsFileDateOnOrAfter(path, "2002/1/1"));
  EXPECT_TRUE(IsFileDateOnOrAfter(path, "2001"));   // month and day read as 0
  EXPECT_TRUE(IsFileDateOnOrAfter(path, "x/y/z"));  // all 0
  // -1 acts as 65535.
  EXPECT_FALSE(IsFileDateOnOrAfter(path, "-1"));
  EXPECT_FALSE(IsFileDateOnOrAfter(path, "2001/-1/1"));
  EXPECT_FALSE(IsFileDateOnOrAfter(path, "2001/7/-1"));
  // Only the low 16 bits count: 65536 + 2001 is 2001.
  EXPECT_TRUE(IsFileDateOnOrAfter(path, "67537/7/5"));
  EXPECT_FALSE(IsFileDateOnOrAfter((folder / "missing").c_str(), "1900/1/1"));
  EXPECT_FALSE(IsFileDateOnOrAfter(folder.Path().c_str(), "1900/1/1"));
}

}  // namespace
}  // namespace kestario
