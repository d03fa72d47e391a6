// The smaller calls of the Linux system and the installation of another system.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <string>

#include "platform/system.h"
#include "platform/system_posix.h"

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

}  // namespace
}  // namespace kestario
