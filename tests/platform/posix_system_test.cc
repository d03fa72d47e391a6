// The smaller calls of the Linux system and the installation of another system.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/system.h"
#include "platform/system_posix.h"
#include "temp_folder.h"

namespace kestario {
namespace {

TEST(PosixSystemTest, LoadStringCopiesCatalogTexts) {
  PosixSystem system;
  char buffer[kMessageBufferSize];
  const char kMessage10[] = "ファイルの削除に失敗しました。\n\nファイル：\"%s\"";
  EXPECT_EQ(static_cast<int>(strlen(kMessage10)), system.LoadStringA(10, buffer, sizeof buffer));
  EXPECT_STREQ(kMessage10, buffer);
  char small[6];
  EXPECT_EQ(5, system.LoadStringA(10, small, sizeof small));  // cut at size - 1 bytes
  EXPECT_EQ(0, memcmp(small, kMessage10, 5));
  EXPECT_EQ('\0', small[5]);
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(0, system.LoadStringA(7, buffer, sizeof buffer));  // there is no message 7
  EXPECT_STREQ("", buffer);
  for (unsigned id : {1u, 2u, 3u, 4u, 5u, 6u, 8u, 9u, 10u}) {
    EXPECT_GT(system.LoadStringA(id, buffer, sizeof buffer), 0) << id;
  }
}

TEST(PosixSystemTest, WindowsDirectoryIsEtc) {
  PosixSystem system;
  char buffer[8];
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(4u, system.GetWindowsDirectoryA(buffer, sizeof buffer));
  EXPECT_STREQ("/etc", buffer);
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(5u, system.GetWindowsDirectoryA(buffer, 4));  // too small: the size needed
  EXPECT_EQ('x', buffer[0]);
}

TEST(PosixSystemTest, ModuleFileNameIsTheRealExecutablePath) {
  PosixSystem system;
  char* real = realpath("/proc/self/exe", nullptr);
  ASSERT_NE(nullptr, real);
  std::string expected = real;
  free(real);
  char buffer[4096];
  EXPECT_EQ(expected.size(), system.GetModuleFileNameA(buffer, sizeof buffer));
  EXPECT_EQ(expected, buffer);
  char small[5];
  EXPECT_EQ(5u, system.GetModuleFileNameA(small, sizeof small));
  EXPECT_EQ(expected.substr(0, 4), small);
}

TEST(PosixSystemTest, SetSystemInstallsAndRestores) {
  PosixSystem mine;
  EXPECT_EQ(&RealSystem(), &CurrentSystem());
  SetSystem(&mine);
  EXPECT_EQ(&mine, &CurrentSystem());
  SetSystem(nullptr);
  EXPECT_EQ(&RealSystem(), &CurrentSystem());
}

// Handles are had on regular files only, without waiting on a pipe; a handle keeps its file when
// the name goes; writes at the end append, a write past the file size limit fails without a
// signal; a byte-range lock keeps out another open file.
TEST(PosixSystemTest, FileHandlesAreOnRegularFilesAndKeepTheirFile) {
  kestario_test::TempFolder dir;
  PosixSystem system;
  ASSERT_EQ(0, mkfifo((dir / "pipe").c_str(), 0600));
  for (const std::string& other : {dir / "pipe", dir.Path(), std::string("/dev/null")}) {
    for (FileAccess access : {FileAccess::kRead, FileAccess::kReadWrite, FileAccess::kAppend}) {
      EXPECT_EQ(kNoFile, system.CreateFileA(other.c_str(), access)) << other;
    }
  }
  EXPECT_EQ(kNoFile, system.CreateFileA((dir / "new").c_str(), FileAccess::kRead));
  EXPECT_FALSE(kestario_test::Exists(dir / "new"));

  std::string path = dir / "file";
  FileHandle file = system.CreateFileA(path.c_str(), FileAccess::kReadWrite);
  ASSERT_NE(kNoFile, file);
  uint32_t done = 0;
  EXPECT_TRUE(system.WriteFile(file, kFileEnd, "abc", 3, &done));
  EXPECT_TRUE(system.WriteFile(file, 0, "X", 1, &done));
  EXPECT_TRUE(system.WriteFile(file, kFileEnd, "d", 1, &done));
  EXPECT_EQ("Xbcd", kestario_test::ReadFile(path));
  char buffer[8] = {};
  EXPECT_TRUE(system.ReadFile(file, 2, buffer, sizeof buffer, &done));
  EXPECT_EQ(2u, done);
  EXPECT_EQ("cd", std::string(buffer, done));
  EXPECT_TRUE(system.SetEndOfFile(file, 2));
  uint64_t size = 0;
  EXPECT_TRUE(system.GetFileSizeEx(file, &size));
  EXPECT_EQ(2u, size);
  EXPECT_TRUE(system.FlushFileBuffers(file));

  FileHandle again = system.CreateFileA(path.c_str(), FileAccess::kAppend);
  ASSERT_NE(kNoFile, again);
  EXPECT_TRUE(system.WriteFile(again, 0, "e", 1, &done));  // appended, whatever the offset
  EXPECT_EQ("Xbe", kestario_test::ReadFile(path));
  FileIdentity one = {}, two = {};
  EXPECT_TRUE(system.GetFileInformationByHandle(file, &one));
  EXPECT_TRUE(system.GetFileInformationByHandle(again, &two));
  EXPECT_EQ(one.index, two.index);
  EXPECT_EQ(one.volume, two.volume);
  EXPECT_TRUE(system.LockFileEx(file, kLockExclusive, uint64_t{1} << 62, 1));
  EXPECT_FALSE(
      system.LockFileEx(again, kLockExclusive | kLockFailImmediately, uint64_t{1} << 62, 1));
  EXPECT_TRUE(system.UnlockFileEx(file, uint64_t{1} << 62, 1));
  EXPECT_TRUE(
      system.LockFileEx(again, kLockExclusive | kLockFailImmediately, uint64_t{1} << 62, 1));
  EXPECT_TRUE(system.UnlockFileEx(again, uint64_t{1} << 62, 1));
  system.CloseHandle(again);

  ASSERT_EQ(0, unlink(path.c_str()));
  EXPECT_TRUE(system.WriteFile(file, kFileEnd, "f", 1, &done));
  EXPECT_FALSE(kestario_test::Exists(path));  // the handle writes to its file, not to the name
  system.CloseHandle(file);

  auto pastTheLimit = [&] {
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = 4;
    setrlimit(RLIMIT_FSIZE, &limit);
    FileHandle small = system.CreateFileA((dir / "small").c_str(), FileAccess::kReadWrite);
    uint32_t written = 0;
    bool ok = system.WriteFile(small, kFileEnd, "123456", 6, &written);
    _exit(!ok && written == 4 && kestario_test::ReadFile(dir / "small") == "1234" ? 0 : 1);
  };
  EXPECT_EXIT(pastTheLimit(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace kestario
