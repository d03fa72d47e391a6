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

// The number of "%s" placeholders of a catalog text.
int Placeholders(const std::u16string& text) {
  int count = 0;
  for (size_t at = text.find(u"%s"); at != std::u16string::npos; at = text.find(u"%s", at + 2)) {
    ++count;
  }
  return count;
}

TEST(PosixSystemTest, LoadStringCopiesCatalogTextsOfEitherLanguage) {
  PosixSystem system;
  char16_t buffer[256];
  const char16_t kMessage10[] = u"ファイルの削除に失敗しました。\n\nファイル：\"%s\"";
  const int length = static_cast<int>(std::u16string(kMessage10).size());
  EXPECT_EQ(length, system.LoadStringW(kLangJapanese, 10, buffer, 256));
  EXPECT_EQ(std::u16string(kMessage10), buffer);
  char16_t small[6];
  EXPECT_EQ(5, system.LoadStringW(kLangJapanese, 10, small, 6));  // cut at size - 1 units
  EXPECT_EQ(std::u16string(kMessage10, 5), small);
  EXPECT_EQ(kLangJapanese, system.GetUserDefaultUILanguage());  // the Linux program is Japanese
  // No message 7, and no table of another language.
  EXPECT_EQ(0, system.LoadStringW(kLangJapanese, 7, buffer, 256));
  EXPECT_EQ(u"", std::u16string(buffer));
  EXPECT_EQ(0, system.LoadStringW(0x0407, 10, buffer, 256));
  // Every message in both languages, with the same placeholders, within the catalog's buffer.
  for (unsigned id : {1u, 2u, 3u, 4u, 5u, 6u, 8u, 9u, 10u}) {
    char16_t english[256];
    ASSERT_GT(system.LoadStringW(kLangJapanese, id, buffer, 256), 0) << id;
    ASSERT_GT(system.LoadStringW(kLangEnglish, id, english, 256), 0) << id;
    EXPECT_LT(std::u16string(english).size(), 255u) << id;
    EXPECT_EQ(Placeholders(buffer), Placeholders(english)) << id;
    EXPECT_NE(std::u16string(buffer), std::u16string(english)) << id;
  }
}

// The ANSI code page of Linux is UTF-8 in which every byte comes back.
TEST(PosixSystemTest, EveryByteSurvivesTheWayThroughUtf16) {
  PosixSystem system;
  auto wide = [&](const std::string& bytes, unsigned codePage, uint32_t flags = 0) {
    WideText text;
    bool ok = system.MultiByteToWideChar(codePage, flags, bytes.data(),
                                         static_cast<uint32_t>(bytes.size()), &text);
    return ok ? std::u16string(text.GetUnits(), text.GetLength()) : u"(failed)";
  };
  auto back = [&](const std::u16string& units, unsigned codePage) {
    TextString bytes;
    EXPECT_TRUE(system.WideCharToMultiByte(codePage, units.data(),
                                           static_cast<uint32_t>(units.size()), &bytes));
    return std::string(bytes.GetConstText());
  };
  EXPECT_EQ(u"caf\u00e9 \u30d5\U0001F600",
            wide("caf\xc3\xa9 \xe3\x83\x95\xf0\x9f\x98\x80", kCpAcp));
  // Not UTF-8: a Latin-1 byte, a cut sequence, an overlong form, a surrogate, past U+10FFFF.
  EXPECT_EQ(u"caf\xdce9", wide("caf\xe9", kCpAcp));
  EXPECT_EQ(u"\xdce3\xdc83x", wide("\xe3\x83x", kCpAcp));
  EXPECT_EQ(u"\xdcc0\xdc80", wide("\xc0\x80", kCpAcp));
  EXPECT_EQ(u"\xdced\xdca0\xdc80", wide("\xed\xa0\x80", kCpAcp));
  EXPECT_EQ(u"\xdcf4\xdc90\xdc80\xdc80", wide("\xf4\x90\x80\x80", kCpAcp));
  EXPECT_EQ(u"caf\xfffd", wide("caf\xe9", kCpUtf8));
  EXPECT_EQ(u"(failed)", wide("caf\xe9", kCpAcp, kMbErrInvalidChars));
  // Back: the kept bytes as they were in the ANSI code page, U+FFFD in UTF-8.
  EXPECT_EQ("caf\xe9", back(u"caf\xdce9", kCpAcp));
  EXPECT_EQ("caf\xef\xbf\xbd", back(u"caf\xdce9", kCpUtf8));
  EXPECT_EQ("?", back(u"\xd800", kCpAcp));  // a lone surrogate that is no byte
  EXPECT_EQ("\xef\xbf\xbd", back(u"\xd800", kCpUtf8));
  // Any bytes at all, there and back.
  std::string noise;
  uint32_t seed = 7;
  for (int i = 0; i < 20000; ++i) {
    seed = seed * 1103515245u + 12345u;
    char byte = static_cast<char>((seed >> 16) & 0xFF);
    noise += byte != 0 ? byte : '\x80';
  }
  EXPECT_EQ(noise, back(wide(noise, kCpAcp), kCpAcp));
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
