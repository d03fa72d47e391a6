// The registry of the Linux build (a profile-format file) and the App Paths lookup over it.
#include "platform/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/system_posix.h"
#include "tests/platform/temp_folder.h"

namespace kestario {
namespace {

using kestario_test::TempFolder;
using kestario_test::WriteFile;

const char kAppPaths[] = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

// Counts the registry calls while forwarding them to the Linux system.
class CountingSystem : public PosixSystem {
 public:
  long RegOpenKeyExA(RegistryHandle root, const char* subKey, uint32_t access,
                     RegistryHandle* result) override {
    ++opens;
    return PosixSystem::RegOpenKeyExA(root, subKey, access, result);
  }
  long RegCloseKey(RegistryHandle key) override {
    ++closes;
    return PosixSystem::RegCloseKey(key);
  }
  int opens = 0;
  int closes = 0;
};

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string apps = std::string("[") + kAppPaths;
    ASSERT_TRUE(WriteFile(file_, "; test registry\n" + apps + "tool.run]\n@=/opt/tool/tool.run\n" +
                                     "Path=/opt/tool\n" + apps + "empty.run]\n@=\nPATH=\n" + apps +
                                     "nopath.run]\n@=/opt/np/nopath.run\n" + apps +
                                     "quoted.run]\n@=\"/opt/with space/q.run\"\n"));
    system_.SetRegistryFile(file_.c_str());
    SetSystem(&system_);
  }
  void TearDown() override {
    SetSystem(nullptr);
    EXPECT_EQ(0u, system_.OpenRegistryKeyCount());
  }
  TempFolder folder_;
  std::string file_ = folder_ / "registry.ini";
  CountingSystem system_;
};

TEST_F(RegistryTest, LookupAppPathReadsDefaultAndPathValues) {
  TextString result;
  EXPECT_TRUE(LookupAppPath("tool.run", &result, 1));
  EXPECT_STREQ("/opt/tool/tool.run", result.GetConstText());
  EXPECT_TRUE(LookupAppPath("TOOL.RUN", &result, 0));  // key and value names ignore case
  EXPECT_STREQ("/opt/tool", result.GetConstText());
  EXPECT_TRUE(LookupAppPath("quoted.run", &result, 5));
  EXPECT_STREQ("/opt/with space/q.run", result.GetConstText());
}

TEST_F(RegistryTest, EmptyValuesAndAbsentValues) {
  TextString result("before");
  EXPECT_TRUE(LookupAppPath("empty.run", &result, 0));
  EXPECT_STREQ("", result.GetConstText());
  EXPECT_TRUE(LookupAppPath("empty.run", &result, 1));
  EXPECT_STREQ("", result.GetConstText());
  EXPECT_FALSE(LookupAppPath("nopath.run", &result, 0));
  EXPECT_TRUE(LookupAppPath("nopath.run", &result, 1));
  EXPECT_FALSE(LookupAppPath("unknown.run", &result, 1));
  EXPECT_FALSE(LookupAppPath("tool", &result, 1));  // the name is used unchanged
  EXPECT_EQ(system_.opens, system_.closes + 2);  // only the two unregistered names failed to open
}

TEST_F(RegistryTest, RawCallsFollowWin32) {
  RegistryHandle key = kNoRegistryHandle;
  std::string path = std::string(kAppPaths) + "empty.run";
  ASSERT_EQ(kErrorSuccess, system_.RegOpenKeyExA(kLocalMachine, path.c_str(), kKeyRead, &key));
  uint32_t size = 0;
  EXPECT_EQ(kErrorSuccess, system_.RegQueryValueExA(key, "PATH", nullptr, &size));
  EXPECT_EQ(1u, size);  // present and empty: its terminator
  size = 0;
  EXPECT_EQ(kErrorFileNotFound, system_.RegQueryValueExA(key, "Other", nullptr, &size));
  EXPECT_EQ(0u, size);
  EXPECT_EQ(kErrorSuccess, system_.RegCloseKey(key));
  EXPECT_NE(kErrorSuccess, system_.RegCloseKey(key));

  path = std::string(kAppPaths) + "tool.run";
  ASSERT_EQ(kErrorSuccess, system_.RegOpenKeyExA(kLocalMachine, path.c_str(), kKeyRead, &key));
  size = 0;
  ASSERT_EQ(kErrorSuccess, system_.RegQueryValueExA(key, "", nullptr, &size));
  EXPECT_EQ(19u, size);
  uint8_t small[4] = {'x', 'x', 'x', 'x'};
  uint32_t smallSize = sizeof small;
  EXPECT_EQ(kErrorMoreData, system_.RegQueryValueExA(key, "", small, &smallSize));
  EXPECT_EQ(19u, smallSize);
  char data[32];
  memset(data, 'x', sizeof data);
  uint32_t dataSize = sizeof data;
  EXPECT_EQ(kErrorSuccess,
            system_.RegQueryValueExA(key, "", reinterpret_cast<uint8_t*>(data), &dataSize));
  EXPECT_EQ(19u, dataSize);
  EXPECT_STREQ("/opt/tool/tool.run", data);
  EXPECT_EQ('x', data[19]);
  EXPECT_EQ(kErrorSuccess, system_.RegCloseKey(key));

  EXPECT_EQ(kErrorFileNotFound,
            system_.RegOpenKeyExA(kLocalMachine, "Software\\Missing", kKeyRead, &key));
  EXPECT_EQ(kNoRegistryHandle, key);
}

TEST_F(RegistryTest, MissingRegistryFileHasNoKeys) {
  system_.SetRegistryFile((folder_ / "none.ini").c_str());
  TextString result;
  EXPECT_FALSE(LookupAppPath("tool.run", &result, 1));
}

TEST_F(RegistryTest, RegistryKeyOpensOnceAndClosesAlways) {
  std::string path = std::string(kAppPaths) + "tool.run";
  { RegistryKey never(kLocalMachine, path.c_str()); }
  EXPECT_EQ(0, system_.opens);
  EXPECT_EQ(0, system_.closes);  // a key never opened calls nothing
  {
    RegistryKey key(kLocalMachine, path.c_str());
    EXPECT_TRUE(key.Open(kKeyRead));
    EXPECT_TRUE(key.Open(kKeyRead));  // closes the first handle before opening again
    EXPECT_EQ(1u, system_.OpenRegistryKeyCount());
    EXPECT_EQ(1, system_.closes);
    EXPECT_EQ(19u, key.QueryValueSize(""));
    EXPECT_EQ(0u, key.QueryValueSize("Absent"));
    key.Close();
    key.Close();
    EXPECT_FALSE(key.IsOpen());
    EXPECT_EQ(0u, key.QueryValueSize(""));
    EXPECT_EQ(2, system_.closes);
  }
  EXPECT_EQ(2, system_.closes);
  RegistryKey nullRoot(kNoRegistryHandle, path.c_str());
  EXPECT_FALSE(nullRoot.Open(kKeyRead));
  TextString result;
  EXPECT_FALSE(nullRoot.ReadValue("", &result));
}

TEST_F(RegistryTest, ReadValueClosesAfterFailure) {
  std::string path = std::string(kAppPaths) + "nopath.run";
  RegistryKey key(kLocalMachine, path.c_str());
  TextString result;
  EXPECT_FALSE(key.ReadValue("PATH", &result));
  EXPECT_FALSE(key.IsOpen());
  EXPECT_EQ(0u, system_.OpenRegistryKeyCount());
}

// RegEnumValueA lists a key's values in file order: the first line of a name, "@" as the empty
// name, quotes removed; comments and lines without "=" are no values.
TEST_F(RegistryTest, EnumeratesValuesInFileOrder) {
  ASSERT_TRUE(WriteFile(file_,
                        "[Policy]\n; a comment\nB=\"two\"\nno value\n@=zero\nb=again\n"
                        "A=one\n"));
  RegistryHandle key = kNoRegistryHandle;
  ASSERT_EQ(kErrorSuccess, system_.RegOpenKeyExA(kLocalMachine, "POLICY", kKeyRead, &key));
  std::string listed;
  TextString name;
  TextString data;
  uint32_t type = 0;
  uint32_t index = 0;
  for (; system_.RegEnumValueA(key, index, &name, &type, &data) == kErrorSuccess; ++index) {
    EXPECT_EQ(kRegSz, type);
    listed += std::string(name.GetConstText()) + "=" + data.GetConstText() + ";";
  }
  EXPECT_EQ("B=two;=zero;A=one;", listed);
  EXPECT_EQ(kErrorNoMoreItems, system_.RegEnumValueA(key, index + 5, &name, &type, &data));
  system_.RegCloseKey(key);
  EXPECT_NE(kErrorSuccess, system_.RegEnumValueA(key, 0, &name, &type, &data));
}

// A registry file that is there but cannot be read is no empty registry: every key is refused.
TEST_F(RegistryTest, UnreadableRegistryFileRefusesEveryKey) {
  system_.SetRegistryFile(folder_.Path().c_str());  // a folder where the file should be
  RegistryHandle key = kNoRegistryHandle;
  EXPECT_EQ(5, system_.RegOpenKeyExA(kLocalMachine, "POLICY", kKeyRead, &key));
  TextString result;
  EXPECT_FALSE(LookupAppPath("tool.run", &result, 1));
  system_.SetRegistryFile(file_.c_str());
}

// A registry file that another user could change, or put elsewhere in its place, is not the
// administrators' alone.
TEST_F(RegistryTest, RegistryFileWritableByOthersIsTold) {
  EXPECT_FALSE(system_.RegistryWritableByOthers());
  ASSERT_EQ(0, chmod(file_.c_str(), 0664));
  EXPECT_TRUE(system_.RegistryWritableByOthers());
  ASSERT_EQ(0, chmod(file_.c_str(), 0644));
  ASSERT_EQ(0, chmod(folder_.Path().c_str(), 0777));
  EXPECT_TRUE(system_.RegistryWritableByOthers());
  ASSERT_EQ(0, chmod(folder_.Path().c_str(), 0700));
  // A missing file: its folder decides.
  system_.SetRegistryFile((folder_ / "none/registry.ini").c_str());
  EXPECT_FALSE(system_.RegistryWritableByOthers());
  ASSERT_EQ(0, chmod(folder_.Path().c_str(), 0770));
  EXPECT_TRUE(system_.RegistryWritableByOthers());
  ASSERT_EQ(0, chmod(folder_.Path().c_str(), 0700));
  // A link is followed: where it leads is judged too.
  TempFolder open;
  ASSERT_EQ(0, chmod(open.Path().c_str(), 0777));
  ASSERT_TRUE(WriteFile(open / "registry.ini", "[A]\n"));
  ASSERT_EQ(0, symlink((open / "registry.ini").c_str(), (folder_ / "link.ini").c_str()));
  system_.SetRegistryFile((folder_ / "link.ini").c_str());
  EXPECT_TRUE(system_.RegistryWritableByOthers());
  system_.SetRegistryFile(file_.c_str());
}

}  // namespace
}  // namespace kestario
