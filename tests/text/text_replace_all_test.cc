// ReplaceAll: its rule on awkward cases, and its time on long texts. Script values are read whole
// on Linux, and the expansion turns every backslash-n of a value into a line feed with ReplaceAll;
// a value full of them took time quadratic in its length while each replacement copied the text.
#include <gtest/gtest.h>

#include <string>

#include "text/text_string.h"

namespace kestario {
namespace {

std::string Replaced(const char* text, const char* pattern, const char* replacement) {
  TextString value(text);
  value.ReplaceAll(pattern, replacement);
  return value.GetConstText();
}

TEST(TextReplaceAllTest, EscapesBecomeLineFeeds) {
  EXPECT_EQ("a\nb\nc", Replaced("a\\nb\\nc", "\\n", "\n"));
  EXPECT_EQ("\\\n", Replaced("\\\\n", "\\n", "\n"));
  EXPECT_EQ("plain", Replaced("plain", "\\n", "\n"));
}

TEST(TextReplaceAllTest, OccurrencesFormedByAReplacementAreReplacedInTurn) {
  EXPECT_EQ("b", Replaced("aaab", "ab", "b"));
  EXPECT_EQ("", Replaced("aabb", "ab", ""));
  EXPECT_EQ("baa", Replaced("aab", "ab", "ba"));
  // The new occurrence lies before the end of the replacement: "aab" -> "abcd" -> "bcdcd".
  EXPECT_EQ("bcdcd", Replaced("aab", "ab", "bcd"));
}

TEST(TextReplaceAllTest, AReplacementHoldingThePatternReplacesEachOccurrenceOnce) {
  EXPECT_EQ("aaaaaa", Replaced("aaa", "a", "aa"));
  EXPECT_EQ("xabab", Replaced("xab", "ab", "abab"));
}

TEST(TextReplaceAllTest, EmptyPatternChangesNothing) { EXPECT_EQ("abc", Replaced("abc", "", "x")); }

TEST(TextReplaceAllTest, MegabytesOfEscapesTakeLinearTime) {
  std::string text;
  for (int i = 0; i < (1 << 20); ++i) text += "x\\n";
  TextString value(text.c_str());
  value.ReplaceAll("\\n", "\n");
  ASSERT_EQ(2 << 20, value.GetLength());
  EXPECT_EQ(std::string("x\nx\n"), std::string(value.GetConstText(), 4));
  EXPECT_EQ(std::string("x\n"), std::string(value.GetConstText() + value.GetLength() - 2));
}

TEST(TextReplaceAllTest, MegabytesOfChainedOccurrencesTakeLinearTime) {
  // Every replacement forms the next occurrence with the text before it.
  std::string text(1 << 20, 'a');
  text += 'b';
  TextString value(text.c_str());
  value.ReplaceAll("ab", "b");
  EXPECT_STREQ("b", value.GetConstText());
}

TEST(TextReplaceAllTest, EndlessRewritingStopsAtTheGuardInLinearTime) {
  // Each replacement forms the next occurrence ("a" from the run before it, "b" from its own
  // start) for ever: the guard of 2^20 replacements ends it, 13 bytes longer each time.
  TextString value("abb");
  value.ReplaceAll("ab", ("bb" + std::string(13, 'a')).c_str());
  EXPECT_EQ(3 + 13 * (1 << 20), value.GetLength());
}

}  // namespace
}  // namespace kestario
