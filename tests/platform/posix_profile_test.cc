// Profile reads of the Linux system through files: whole values, fresh data after every change.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "platform/system_posix.h"
#include "tests/platform/temp_folder.h"

namespace kestario {
namespace {

using kestario_test::SetModified;
using kestario_test::TempFolder;
using kestario_test::WriteFile;

// A profile file "a.ini" in a temporary folder, read through a Linux system of its own.
class PosixProfileTest : public ::testing::Test {
 protected:
  std::string Read(const std::string& path, const char* section, const char* key) {
    TextString value;
    system.GetPrivateProfileStringA(section, key, "NO_DATA", &value, path.c_str());
    return value.GetConstText();
  }
  std::string Section(const std::string& path, const char* section) {
    ByteBuffer entries;
    system.GetPrivateProfileSectionA(section, &entries, path.c_str());
    return std::string(reinterpret_cast<const char*>(entries.GetConstData()), entries.GetSize());
  }
  // Writes `text` to `path`, modified at the second 1,000,000,000 and `nanoseconds`.
  void WriteDated(const std::string& path, const std::string& text, long nanoseconds) {
    ASSERT_TRUE(WriteFile(path, text));
    ASSERT_TRUE(SetModified(path, 1000000000, nanoseconds));
  }

  TempFolder folder;
  std::string file = folder / "a.ini";
  PosixSystem system;
};

TEST_F(PosixProfileTest, ReadsValuesAndSectionsFromTheFile) {
  ASSERT_TRUE(WriteFile(file,
                        "[UPDATER]\r\nNAME = \"My Tool\"\r\nPROC=A,B\r\n[DEFINE]\r\n"
                        "X=1\r\n;skip\r\nY=2\r\n"));
  EXPECT_EQ("My Tool", Read(file, "updater", "name"));
  EXPECT_EQ("NO_DATA", Read(file, "UPDATER", "MISSING"));
  EXPECT_EQ("NO_DATA", Read(folder / "missing.ini", "UPDATER", "NAME"));
  EXPECT_EQ(std::string("X=1\0Y=2\0\0", 9), Section(file, "define"));
  EXPECT_EQ(std::string("\0", 1), Section(file, "NONE"));
  EXPECT_EQ(std::string("\0", 1), Section(folder / "missing.ini", "DEFINE"));
  // A folder is not a profile file.
  EXPECT_EQ("NO_DATA", Read(folder.Path(), "UPDATER", "NAME"));
}

TEST_F(PosixProfileTest, LongValuesAreReadWhole) {
  std::string value(100 * 1024, 'q');
  value.back() = 'E';
  ASSERT_TRUE(WriteFile(file, "[S]\nK=" + value + "\n"));
  EXPECT_EQ(value, Read(file, "S", "K"));
  EXPECT_EQ("K=" + value + std::string("\0\0", 2), Section(file, "S"));
}

TEST_F(PosixProfileTest, UnchangedFileIsParsedOnce) {
  ASSERT_TRUE(WriteFile(file, "[S]\nK=1\n"));
  for (int i = 0; i < 5; ++i) EXPECT_EQ("1", Read(file, "S", "K"));
  Section(file, "S");
  EXPECT_EQ(1u, system.ProfileLoadCount());
}

TEST_F(PosixProfileTest, SameSizeChangeWithinOneSecondIsSeen) {
  WriteDated(file, "[S]\nK=1\n", 100);
  EXPECT_EQ("1", Read(file, "S", "K"));
  WriteDated(file, "[S]\nK=2\n", 200);  // same second, same size, other nanoseconds
  EXPECT_EQ("2", Read(file, "S", "K"));
  EXPECT_EQ(std::string("K=2\0\0", 5), Section(file, "S"));
}

TEST_F(PosixProfileTest, ReplacedFileWithSameSizeAndTimeIsSeen) {
  std::string other = folder / "b.ini";
  WriteDated(file, "[S]\nK=1\n", 5);
  WriteDated(other, "[S]\nK=2\n", 5);
  EXPECT_EQ("1", Read(file, "S", "K"));
  ASSERT_EQ(0, rename(other.c_str(), file.c_str()));  // another inode
  EXPECT_EQ("2", Read(file, "S", "K"));
}

TEST_F(PosixProfileTest, GrownAndRemovedFilesAreSeen) {
  WriteDated(file, "[S]\nK=1\n", 0);
  EXPECT_EQ("1", Read(file, "S", "K"));
  WriteDated(file, "[S]\nK=1\nL=2\n", 0);  // same time, other size
  EXPECT_EQ("2", Read(file, "S", "L"));
  ASSERT_EQ(0, unlink(file.c_str()));
  EXPECT_EQ("NO_DATA", Read(file, "S", "K"));
}

TEST_F(PosixProfileTest, FlushedFileIsLookedAtOncePerRound) {
  ASSERT_TRUE(WriteFile(file, "[S]\nK=1\n"));
  system.FlushPrivateProfile(file.c_str());
  EXPECT_EQ("1", Read(file, "S", "K"));
  ASSERT_TRUE(WriteFile(file, "[S]\nK=22\n"));
  EXPECT_EQ("1", Read(file, "S", "K"));  // the round's reads see one state of the file
  EXPECT_EQ(std::string("K=1\0\0", 5), Section(file, "S"));
  system.FlushPrivateProfile(file.c_str());
  EXPECT_EQ("22", Read(file, "S", "K"));
  ASSERT_EQ(0, unlink(file.c_str()));
  EXPECT_EQ("22", Read(file, "S", "K"));
  system.FlushPrivateProfile(file.c_str());
  EXPECT_EQ("NO_DATA", Read(file, "S", "K"));
  ASSERT_TRUE(WriteFile(file, "[S]\nK=3\n"));
  EXPECT_EQ("NO_DATA", Read(file, "S", "K"));  // missing at the round's first read
  system.FlushPrivateProfile(file.c_str());
  EXPECT_EQ("3", Read(file, "S", "K"));
  EXPECT_EQ(3u, system.ProfileLoadCount());
}

TEST_F(PosixProfileTest, ManyFilesStayCorrect) {
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 20; ++i) {
      std::string path = folder / ("f" + std::to_string(i) + ".ini");
      if (round == 0) {
        ASSERT_TRUE(WriteFile(path, "[S]\nK=" + std::to_string(i) + "\n"));
      }
      EXPECT_EQ(std::to_string(i), Read(path, "S", "K"));
    }
  }
}

// A held file is read once: what the reads see until it is let go are those bytes, whatever
// happens to the file, and the reads of many other files never push it out.
TEST_F(PosixProfileTest, HeldFileIsReadFromTheBytesReadAtTheHold) {
  ASSERT_TRUE(WriteFile(file, "[UPDATER]\nNAME=signed\n"));
  ByteBuffer bytes;
  ASSERT_TRUE(system.HoldPrivateProfileA(file.c_str(), &bytes));
  EXPECT_EQ("[UPDATER]\nNAME=signed\n",
            std::string(reinterpret_cast<const char*>(bytes.GetConstData()), bytes.GetSize()));
  ASSERT_TRUE(WriteFile(file + ".new", "[UPDATER]\nNAME=swapped\n"));
  ASSERT_EQ(0, rename((file + ".new").c_str(), file.c_str()));
  system.FlushPrivateProfile(file.c_str());
  for (int i = 0; i < 20; ++i) {
    std::string other = folder / ("other" + std::to_string(i) + ".ini");
    ASSERT_TRUE(WriteFile(other, "[A]\nB=1\n"));
    EXPECT_EQ("1", Read(other, "A", "B"));
  }
  EXPECT_EQ("signed", Read(file, "UPDATER", "NAME"));
  system.ReleasePrivateProfileA(file.c_str());
  EXPECT_EQ("swapped", Read(file, "UPDATER", "NAME"));

  EXPECT_FALSE(system.HoldPrivateProfileA((folder / "missing.ini").c_str(), &bytes));
  EXPECT_EQ(0u, bytes.GetSize());
  EXPECT_FALSE(system.HoldPrivateProfileA(folder.Path().c_str(), &bytes));
}

}  // namespace
}  // namespace kestario
