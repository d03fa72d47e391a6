#include "settings/profile.h"

#include <string>

#include <gtest/gtest.h>

#include "support/script_test.h"

namespace kestario {
namespace {

class ProfileTest : public ScriptTest {
 protected:
  std::string file() const { return dir.Path("updater.ini"); }
};

TEST_F(ProfileTest, AbsentAndNoDataKeysReadAlikeAndLeaveTheDestination) {
  WriteScript("[S]\nA=no_data\nB=No_Data\nC=value\n");
  for (const char* key : {"A", "B", "MISSING"}) {
    TextString value("before");
    EXPECT_FALSE(ReadProfileString(file().c_str(), "S", key, &value)) << key;
    EXPECT_STREQ("before", value.GetConstText()) << key;
  }
  TextString value;
  EXPECT_FALSE(ReadProfileString(file().c_str(), "NOSECTION", "C", &value));
  EXPECT_FALSE(ReadProfileString(dir.Path("none.ini").c_str(), "S", "C", &value));
  EXPECT_TRUE(ReadProfileString(file().c_str(), "S", "C", &value));
  EXPECT_STREQ("value", value.GetConstText());
}

TEST_F(ProfileTest, EmptyValueIsPresent) {
  WriteScript("[S]\nKEY=\n");
  TextString value("before");
  EXPECT_TRUE(ReadProfileString(file().c_str(), "S", "KEY", &value));
  EXPECT_STREQ("", value.GetConstText());
}

TEST_F(ProfileTest, LongValuesArriveWhole) {
  std::string path(100000, 'x');
  path += "\\tail.dat";
  WriteScript("[S]\nFILE=" + path + "\n");
  TextString value;
  ASSERT_TRUE(ReadProfileString(file().c_str(), "S", "FILE", &value));
  EXPECT_EQ(path, value.GetConstText());
}

TEST_F(ProfileTest, IntegersFollowDecimalScanning) {
  WriteScript("[S]\nYES=yes\nEMPTY=\nSPACE= 1\nNEG=-1\nWORDS=5 seconds\nPLUS=+3\n");
  struct Case {
    const char* key;
    int32_t expected;
  } cases[] = {{"YES", 42}, {"EMPTY", 42}, {"SPACE", 1}, {"NEG", -1}, {"WORDS", 5}, {"PLUS", 3}};
  for (const Case& c : cases) {
    int32_t number = 42;
    EXPECT_TRUE(ReadProfileInt(file().c_str(), "S", c.key, &number)) << c.key;
    EXPECT_EQ(c.expected, number) << c.key;
  }
  int32_t number = 42;
  EXPECT_FALSE(ReadProfileInt(file().c_str(), "S", "ABSENT", &number));
  EXPECT_EQ(42, number);
}

TEST_F(ProfileTest, HugeIntegersAreClampedNotWrapped) {
  WriteScript("[S]\nBIG=99999999999\nSMALL=-99999999999\n");
  int32_t number = 0;
  EXPECT_TRUE(ReadProfileInt(file().c_str(), "S", "BIG", &number));
  EXPECT_EQ(INT32_MAX, number);
  EXPECT_TRUE(ReadProfileInt(file().c_str(), "S", "SMALL", &number));
  EXPECT_EQ(INT32_MIN, number);
}

TEST_F(ProfileTest, SectionDropsCommentsAndJoinsByLineFeeds) {
  WriteScript("[DEFINE]\nA=1\n;note\nB=2\n");
  TextString lines;
  EXPECT_EQ(2, ReadProfileSection(file().c_str(), "DEFINE", &lines));
  EXPECT_STREQ("A=1\nB=2", lines.GetConstText());

  TextString appended("X=0");
  EXPECT_EQ(2, ReadProfileSection(file().c_str(), "DEFINE", &appended));
  EXPECT_STREQ("X=0\nA=1\nB=2", appended.GetConstText());
}

TEST_F(ProfileTest, AbsentOrCommentOnlySectionLeavesTheDestination) {
  WriteScript("[ONLY]\n;a\n;b\n");
  TextString lines("kept");
  EXPECT_EQ(0, ReadProfileSection(file().c_str(), "DEFINE", &lines));
  EXPECT_EQ(0, ReadProfileSection(file().c_str(), "ONLY", &lines));
  EXPECT_STREQ("kept", lines.GetConstText());
}

TEST_F(ProfileTest, LargeSectionsAreReadWhole) {
  std::string script = "[DEFINE]\n";
  for (int i = 0; i < 5000; ++i)
    script += "<S" + std::to_string(i) + ">=value" + std::to_string(i) + "\n";
  WriteScript(script);
  TextString lines;
  EXPECT_EQ(5000, ReadProfileSection(file().c_str(), "DEFINE", &lines));
  EXPECT_STREQ("<S4999>=value4999", lines.GetToken(-1, "\n").GetConstText());
}

}  // namespace
}  // namespace kestario
