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

using kestario_test::TempFolder;
using kestario_test::WriteFile;

std::string Read(PosixSystem* system, const std::string& file, const char* section,
                 const char* key) {
  TextString value;
  system->GetPrivateProfileStringA(section, key, "NO_DATA", &value, file.c_str());
  return value.GetConstText();
}

std::string Section(PosixSystem* system, const std::string& file, const char* section) {
  ByteBuffer entries;
  system->GetPrivateProfileSectionA(section, &entries, file.c_str());
  return std::string(reinterpret_cast<const char*>(entries.GetConstData()), entries.GetSize());
}

void SetModified(const std::string& path, time_t seconds, long nanoseconds) {
  struct timespec times[2];
  times[0].tv_sec = seconds;
  times[0].tv_nsec = nanoseconds;
  times[1] = times[0];
  ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
}

TEST(PosixProfileTest, ReadsValuesAndSectionsFromTheFile) {
  TempFolder folder;
  std::string file = folder / "script.ini";
  ASSERT_TRUE(WriteFile(file,
                        "[UPDATER]\r\nNAME = \"My Tool\"\r\nPROC=A,B\r\n[DEFINE]\r\n"
                        "X=1\r\n;skip\r\nY=2\r\n"));
  PosixSystem system;
  EXPECT_EQ("My Tool", Read(&system, file, "updater", "name"));
  EXPECT_EQ("NO_DATA", Read(&system, file, "UPDATER", "MISSING"));
  EXPECT_EQ("NO_DATA", Read(&system, folder / "missing.ini", "UPDATER", "NAME"));
  EXPECT_EQ(std::string("X=1\0Y=2\0\0", 9), Section(&system, file, "define"));
  EXPECT_EQ(std::string("\0", 1), Section(&system, file, "NONE"));
  EXPECT_EQ(std::string("\0", 1), Section(&system, folder / "missing.ini", "DEFINE"));
  // A folder is not a profile file.
  EXPECT_EQ("NO_DATA", Read(&system, folder.Path(), "UPDATER", "NAME"));
}

TEST(PosixProfileTest, LongValuesAreReadWhole) {
  TempFolder folder;
  std::string file = folder / "long.ini";
  std::string value(100 * 1024, 'q');
  value.back() = 'E';
  ASSERT_TRUE(WriteFile(file, "[S]\nK=" + value + "\n"));
  PosixSystem system;
  EXPECT_EQ(value, Read(&system, file, "S", "K"));
  EXPECT_EQ("K=" + value + std::string("\0\0", 2), Section(&system, file, "S"));
}

TEST(PosixProfileTest, UnchangedFileIsParsedOnce) {
  TempFolder folder;
  std::string file = folder / "a.ini";
  ASSERT_TRUE(WriteFile(file, "[S]\nK=1\n"));
  PosixSystem system;
  for (int i = 0; i < 5; ++i) EXPECT_EQ("1", Read(&system, file, "S", "K"));
  Section(&system, file, "S");
  EXPECT_EQ(1u, system.ProfileLoadCount());
}

TEST(PosixProfileTest, SameSizeChangeWithinOneSecondIsSeen) {
  TempFolder folder;
  std::string file = folder / "a.ini";
  ASSERT_TRUE(WriteFile(file, "[S]\nK=1\n"));
  SetModified(file, 1000000000, 100);
  PosixSystem system;
  EXPECT_EQ("1", Read(&system, file, "S", "K"));
  ASSERT_TRUE(WriteFile(file, "[S]\nK=2\n"));
  SetModified(file, 1000000000, 200);  // same second, same size, other nanoseconds
  EXPECT_EQ("2", Read(&system, file, "S", "K"));
  EXPECT_EQ(std::string("K=2\0\0", 5), Section(&system, file, "S"));
}

TEST(PosixProfileTest, ReplacedFileWithSameSizeAndTimeIsSeen) {
  TempFolder folder;
  std::string file = folder / "a.ini";
  std::string other = folder / "b.ini";
  ASSERT_TRUE(WriteFile(file, "[S]\nK=1\n"));
  ASSERT_TRUE(WriteFile(other, "[S]\nK=2\n"));
  SetModified(file, 1000000000, 5);
  SetModified(other, 1000000000, 5);
  PosixSystem system;
  EXPECT_EQ("1", Read(&system, file, "S", "K"));
  ASSERT_EQ(0, rename(other.c_str(), file.c_str()));  // another inode
  EXPECT_EQ("2", Read(&system, file, "S", "K"));
}

TEST(PosixProfileTest, GrownAndRemovedFilesAreSeen) {
  TempFolder folder;
  std::string file = folder / "a.ini";
  ASSERT_TRUE(WriteFile(file, "[S]\nK=1\n"));
  SetModified(file, 1000000000, 0);
  PosixSystem system;
  EXPECT_EQ("1", Read(&system, file, "S", "K"));
  ASSERT_TRUE(WriteFile(file, "[S]\nK=1\nL=2\n"));
  SetModified(file, 1000000000, 0);  // same time, other size
  EXPECT_EQ("2", Read(&system, file, "S", "L"));
  ASSERT_EQ(0, unlink(file.c_str()));
  EXPECT_EQ("NO_DATA", Read(&system, file, "S", "K"));
}

TEST(PosixProfileTest, FlushedFileIsLookedAtOncePerRound) {
  TempFolder folder;
  std::string file = folder / "a.ini";
  ASSERT_TRUE(WriteFile(file, "[S]\nK=1\n"));
  PosixSystem system;
  system.FlushPrivateProfile(file.c_str());
  EXPECT_EQ("1", Read(&system, file, "S", "K"));
  ASSERT_TRUE(WriteFile(file, "[S]\nK=22\n"));
  EXPECT_EQ("1", Read(&system, file, "S", "K"));  // the round's reads see one state of the file
  EXPECT_EQ(std::string("K=1\0\0", 5), Section(&system, file, "S"));
  system.FlushPrivateProfile(file.c_str());
  EXPECT_EQ("22", Read(&system, file, "S", "K"));
  ASSERT_EQ(0, unlink(file.c_str()));
  EXPECT_EQ("22", Read(&system, file, "S", "K"));
  system.FlushPrivateProfile(file.c_str());
  EXPECT_EQ("NO_DATA", Read(&system, file, "S", "K"));
  ASSERT_TRUE(WriteFile(file, "[S]\nK=3\n"));
  EXPECT_EQ("NO_DATA", Read(&system, file, "S", "K"));  // missing at the round's first read
  system.FlushPrivateProfile(file.c_str());
  EXPECT_EQ("3", Read(&system, file, "S", "K"));
  EXPECT_EQ(3u, system.ProfileLoadCount());
}

TEST(PosixProfileTest, ManyFilesStayCorrect) {
  TempFolder folder;
  PosixSystem system;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 20; ++i) {
      std::string file = folder / ("f" + std::to_string(i) + ".ini");
      if (round == 0) {
        ASSERT_TRUE(WriteFile(file, "[S]\nK=" + std::to_string(i) + "\n"));
      }
      EXPECT_EQ(std::to_string(i), Read(&system, file, "S", "K"));
    }
  }
}

// A held file is read once: what the reads see until it is let go are those bytes, whatever
// happens to the file, and the reads of many other files never push it out.
TEST(PosixProfileTest, HeldFileIsReadFromTheBytesReadAtTheHold) {
  TempFolder folder;
  std::string file = folder / "script.ini";
  ASSERT_TRUE(WriteFile(file, "[UPDATER]\nNAME=signed\n"));
  PosixSystem system;
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
    EXPECT_EQ("1", Read(&system, other, "A", "B"));
  }
  EXPECT_EQ("signed", Read(&system, file, "UPDATER", "NAME"));
  system.ReleasePrivateProfileA(file.c_str());
  EXPECT_EQ("swapped", Read(&system, file, "UPDATER", "NAME"));

  EXPECT_FALSE(system.HoldPrivateProfileA((folder / "missing.ini").c_str(), &bytes));
  EXPECT_EQ(0u, bytes.GetSize());
  EXPECT_FALSE(system.HoldPrivateProfileA(folder.Path().c_str(), &bytes));
}

}  // namespace
}  // namespace kestario
