// The profile parser: the lookup rules of GetPrivateProfileStringA / GetPrivateProfileSectionA.
#include "platform/profile_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestario {
namespace {

const char kAbsent[] = "<absent>";

std::string Value(const std::string& file, const char* section, const char* key,
                  const char* defaultValue = kAbsent) {
  ProfileData data;
  EXPECT_TRUE(data.Parse(file.data(), file.size()));
  ProfileSpan span = ResolveProfileString(&data, section, key, defaultValue);
  return std::string(span.text, span.length);
}

std::vector<std::string> Listing(const std::string& file, const char* section) {
  ProfileData data;
  EXPECT_TRUE(data.Parse(file.data(), file.size()));
  size_t size = data.ListSection(section, nullptr, 0);
  std::string bytes(size, 'x');
  EXPECT_EQ(size, data.ListSection(section, &bytes[0], size));
  EXPECT_EQ('\0', bytes[size - 1]);
  std::vector<std::string> entries;
  size_t at = 0;
  while (at < size - 1) {
    size_t end = bytes.find('\0', at);
    entries.push_back(bytes.substr(at, end - at));
    at = end + 1;
  }
  EXPECT_EQ(size - 1, at);
  return entries;
}

using Entries = std::vector<std::string>;

TEST(ProfileReaderTest, NamesIgnoreAsciiCase) {
  std::string file = "[Updater]\nName=Tool\n";
  EXPECT_EQ("Tool", Value(file, "UPDATER", "NAME"));
  EXPECT_EQ("Tool", Value(file, "updater", "name"));
  EXPECT_EQ(kAbsent, Value(file, "UPDATER", "NAM"));
  EXPECT_EQ(kAbsent, Value(file, "UPDATE", "NAME"));
}

TEST(ProfileReaderTest, FirstSectionAndFirstKeyWin) {
  std::string file = "[A]\nK=1\nK=2\n[B]\nK=b\n[a]\nK=3\nOnlyLater=x\n";
  EXPECT_EQ("1", Value(file, "A", "K"));
  // A key missing from the first section is not looked up in a later one of the same name.
  EXPECT_EQ(kAbsent, Value(file, "A", "OnlyLater"));
  EXPECT_EQ(Entries({"K=1", "K=2"}), Listing(file, "a"));
}

TEST(ProfileReaderTest, BlanksAroundNamesAndValuesAreDropped) {
  std::string file = "  [ Sect ]  \n \t Key \t =  \t value with  inner  \t \n";
  EXPECT_EQ("value with  inner", Value(file, "Sect", "Key"));
  EXPECT_EQ("value with  inner", Value(file, "  Sect\t", " Key  "));
  EXPECT_EQ(Entries({"Key=value with  inner"}), Listing(file, "Sect"));
  // The listing matches the section name as given.
  EXPECT_EQ(Entries({}), Listing(file, " Sect "));
}

TEST(ProfileReaderTest, OnePairOfMatchingQuotesIsRemovedFromSingleReads) {
  std::string file =
      "[S]\nD=\"quoted\"\nS='single'\nM=\"mixed'\nT=\"\"twice\"\"\nQ=\"\nE=''\nIn=a \"b\" c\n";
  EXPECT_EQ("quoted", Value(file, "S", "D"));
  EXPECT_EQ("single", Value(file, "S", "S"));
  EXPECT_EQ("\"mixed'", Value(file, "S", "M"));
  EXPECT_EQ("\"twice\"", Value(file, "S", "T"));
  EXPECT_EQ("\"", Value(file, "S", "Q"));
  EXPECT_EQ("", Value(file, "S", "E"));
  EXPECT_EQ("a \"b\" c", Value(file, "S", "In"));
  // The listing keeps the quotes.
  EXPECT_EQ("D=\"quoted\"", Listing(file, "S")[0]);
}

// A file, what one key of its section S reads as, and how the section lists.
TEST(ProfileReaderTest, EntriesReadAndListAsWritten) {
  struct Case {
    const char* file;
    const char* key;
    const char* value;
    Entries listing;
  };
  const Case cases[] = {
      // Lines without "=" are listed, but the first entry named K has no value: the default,
      // not the later line.
      {"[S]\nbare word\nK\nK=late\n", "K", kAbsent, {"bare word", "K", "K=late"}},
      // Empty values are present.
      {"[S]\nEmpty=\nBlank=   \n", "Empty", "", {"Empty=", "Blank="}},
      {"[S]\nEmpty=\nBlank=   \n", "Blank", "", {"Empty=", "Blank="}},
      // Lines before the first section belong to no named section.
      {"K=top\n[S]\nX=1\n", "K", kAbsent, {"X=1"}},
      // Comments never answer for other keys and are not listed; asked for by its whole name, a
      // comment line reads like an entry (as Wine's reader does).
      {"[S]\n;K=hidden\nK=shown\n ; note\nA=1\n", "K", "shown", {"K=shown", "A=1"}},
      {"[S]\n;K=hidden\nK=shown\n ; note\nA=1\n", ";K", "hidden", {"K=shown", "A=1"}},
      // A ";" inside a value is data.
      {"[S]\nV=a ; b\n", "V", "a ; b", {"V=a ; b"}},
      // A byte order mark and CRLF line ends.
      {"\xEF\xBB\xBF[S]\r\nA=1\r\nB=2\r\n", "A", "1", {"A=1", "B=2"}},
      {"\xEF\xBB\xBF[S]\r\nA=1\r\nB=2\r\n", "B", "2", {"A=1", "B=2"}},
      // "=" splits at the first equals sign.
      {"[S]\nK = a=b = c\n=lead\n", "K", "a=b = c", {"K=a=b = c", "=lead"}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.value, Value(c.file, "S", c.key)) << c.file;
    EXPECT_EQ(c.listing, Listing(c.file, "S")) << c.file;
  }
  // The lines before the first section form the unnamed section, like "[]" would.
  EXPECT_EQ("top", Value("K=top\n[S]\nX=1\n", "", "K"));
}

TEST(ProfileReaderTest, SectionHeaderShapes) {
  // Text after the last "]" is ignored; the name runs to the last "]".
  EXPECT_EQ("1", Value("[A] trailing\nK=1\n", "A", "K"));
  EXPECT_EQ("2", Value("[A]B]\nK=2\n", "A]B", "K"));
  // "[" without "]" is an ordinary line of the current section.
  std::string open = "[S]\n[Broken\nK=3\n";
  EXPECT_EQ("3", Value(open, "S", "K"));
  EXPECT_EQ(Entries({"[Broken", "K=3"}), Listing(open, "S"));
  EXPECT_EQ(kAbsent, Value(open, "Broken", "K"));
  EXPECT_EQ("v", Value("[S]\n[x=v\n", "S", "[x"));
  // "[]" starts a section with an empty name; its keys are not in the section before it.
  EXPECT_EQ(kAbsent, Value("[S]\n[]\nK=4\n", "S", "K"));
}

TEST(ProfileReaderTest, LineEndsAndByteOrderMark) {
  // A byte order mark and CRLF line ends: EntriesReadAndListAsWritten.
  EXPECT_EQ("3", Value("[S]\rC=3\r", "S", "C"));
  EXPECT_EQ("4", Value("[S]\nD=4", "S", "D"));  // no final line end
  // Without the mark at the very start, its bytes are ordinary text.
  EXPECT_EQ(kAbsent, Value("\n\xEF\xBB\xBF[S]\nA=1\n", "S", "A"));
}

TEST(ProfileReaderTest, NulByteEndsAName) {
  std::string file = std::string("[S]\nK=ab\0cd\n", 12);
  EXPECT_EQ("ab", Value(file, "S", "K"));
}

TEST(ProfileReaderTest, VeryLongValuesAndSectionsAreWhole) {
  std::string longValue(100 * 1024, 'v');
  longValue[0] = 'a';
  longValue.back() = 'z';
  std::string file = "[S]\nK=" + longValue + "\n";
  for (int i = 0; i < 5000; ++i)
    file += "Entry" + std::to_string(i) + "=" + std::string(20, 'x') + "\n";
  EXPECT_EQ(longValue, Value(file, "S", "K"));
  Entries listing = Listing(file, "S");
  ASSERT_EQ(5001u, listing.size());
  EXPECT_EQ("K=" + longValue, listing[0]);
  EXPECT_EQ("Entry4999=" + std::string(20, 'x'), listing[5000]);
}

TEST(ProfileReaderTest, AbsentSectionListsAsOneNulByte) {
  ProfileData data;
  std::string file = "[S]\n";
  ASSERT_TRUE(data.Parse(file.data(), file.size()));
  char out[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(1u, data.ListSection("Missing", out, sizeof out));
  EXPECT_EQ('\0', out[0]);
  EXPECT_EQ(1u, data.ListSection("S", out, sizeof out));
  EXPECT_EQ('\0', out[0]);
  // Too small: nothing written.
  out[0] = 'x';
  EXPECT_EQ(1u, data.ListSection("S", out, 0));
  EXPECT_EQ('x', out[0]);
}

TEST(ProfileReaderTest, DefaultValueRules) {
  EXPECT_EQ("NO_DATA", Value("", "S", "K", "NO_DATA"));
  EXPECT_EQ("def", Value("[S]\n", "S", "K", "def   "));
  EXPECT_EQ("def", Value("[S]\n", "S", "K", "\"def\""));
  ProfileSpan none = ResolveProfileString(nullptr, "S", "K", "x");
  EXPECT_EQ("x", std::string(none.text, none.length));
}

TEST(ProfileReaderTest, HundredThousandSectionsAreFound) {
  std::string file;
  file.reserve(100000 * 24);
  for (int i = 0; i < 100000; ++i) {
    file += "[Proc" + std::to_string(i) + "]\nMODE=EXIST\nFILE=f" + std::to_string(i) + "\n";
  }
  ProfileData data;
  ASSERT_TRUE(data.Parse(file.data(), file.size()));
  EXPECT_EQ(100001u, data.SectionCount());
  for (int i = 0; i < 100000; ++i) {
    std::string name = "PROC" + std::to_string(i);
    ProfileSpan value;
    ASSERT_TRUE(data.FindValue(name.c_str(), "file", &value)) << name;
    ASSERT_EQ("f" + std::to_string(i), std::string(value.text, value.length));
  }
  EXPECT_FALSE(data.HasSection("Proc100000"));
}

}  // namespace
}  // namespace kestario
