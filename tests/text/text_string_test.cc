#include "text/text_string.h"

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "support/allocation_budget.h"
#include "text/wide_text.h"

namespace kestario {
namespace {

class TextStringTest : public AllocationGateTest {};

TEST_F(TextStringTest, NewStringHoldsOnlyTheTerminator) {
  TextString text;
  EXPECT_EQ(text.GetLength(), 0);
  EXPECT_EQ(text.GetSize(), 1u);
  ASSERT_NE(text.GetText(), nullptr);
  EXPECT_EQ(text.GetText()[0], '\0');
  EXPECT_EQ(TextString(nullptr).GetLength(), 0);
}

TEST_F(TextStringTest, AssignAppendConcat) {
  TextString text("ab");
  EXPECT_EQ(text.GetSize(), 3u);
  text.Append("cd").Append(TextString("e"));
  EXPECT_STREQ(text.GetText(), "abcde");
  EXPECT_EQ(text.GetSize(), 6u);
  EXPECT_STREQ(text.Concat("!").GetText(), "abcde!");
  EXPECT_STREQ(text.Concat(TextString("?")).GetText(), "abcde?");
  EXPECT_STREQ(text.GetText(), "abcde");
  text.Assign("x");
  EXPECT_STREQ(text.GetConstText(), "x");
  EXPECT_EQ(text.GetConstText(), text.GetText());
}

TEST_F(TextStringTest, SelfAssignmentAndSelfAppend) {
  TextString text("abc");
  TextString& alias = text;
  text = alias;
  EXPECT_STREQ(text.GetText(), "abc");
  text.Append(text);
  EXPECT_STREQ(text.GetText(), "abcabc");
  text.Assign(text.GetText() + 4);
  EXPECT_STREQ(text.GetText(), "bc");
  EXPECT_STREQ(text.Concat(text).GetText(), "bcbc");
}

TEST_F(TextStringTest, CompactAfterAllocate) {
  TextString path;
  ASSERT_TRUE(path.Allocate(260));
  EXPECT_EQ(path.GetLength(), 0);
  EXPECT_EQ(path.GetSize(), 260u);
  std::memcpy(path.GetText(), "C:\\x", 4);
  path.Compact();
  EXPECT_STREQ(path.GetText(), "C:\\x");
  EXPECT_EQ(path.GetSize(), 5u);
  const uint8_t* block = path.GetConstData();
  path.Compact();
  EXPECT_EQ(path.GetConstData(), block);
}

TEST_F(TextStringTest, NoCaseComparisons) {
  EXPECT_TRUE(TextString("delete").IsEqualNoCase("DELETE"));
  EXPECT_TRUE(TextString("Delete").IsEqualNoCase("DELETE"));
  EXPECT_FALSE(TextString("DELETE ").IsEqualNoCase("DELETE"));
  EXPECT_TRUE(TextString("DELETE ").IsNotEqualNoCase("DELETE"));
  EXPECT_TRUE(TextString("abc").IsLessNoCase("ABD"));
  EXPECT_TRUE(TextString("abc").IsGreaterNoCase("ab"));
  EXPECT_TRUE(TextString("Z").IsGreaterNoCase("a"));
  EXPECT_TRUE(TextString("[").IsLessNoCase("A"));
  EXPECT_TRUE(TextString("[").IsLessOrEqualNoCase("a"));
  EXPECT_TRUE(TextString("ABC").IsGreaterOrEqualNoCase("abc"));
  EXPECT_TRUE(TextString("\xC4").IsNotEqualNoCase("\xE4"));  // Only A-Z fold.
  EXPECT_LT(CompareNoCase("\x01", "\xFF"), 0);
  EXPECT_EQ(CompareNoCase(nullptr, ""), 0);
}

TEST_F(TextStringTest, ExtractAndReplaceRange) {
  TextString text("abcdef");
  const char* p = text.GetText();
  EXPECT_STREQ(text.Extract(p + 1, p + 3).GetText(), "bcd");
  EXPECT_STREQ(text.Extract(p + 2, p + 1).GetText(), "");
  EXPECT_EQ(text.Extract(p + 1, p + 3).GetSize(), 4u);
  text.ReplaceRange(p + 1, p + 3, "XY");
  EXPECT_STREQ(text.GetText(), "aXYef");
  p = text.GetText();
  text.ReplaceRange(p + 2, p + 1, "-");  // Empty range: inserts.
  EXPECT_STREQ(text.GetText(), "aX-Yef");
  p = text.GetText();
  text.ReplaceRange(p, p + 5, "all");
  EXPECT_STREQ(text.GetText(), "all");
  TextString empty;
  empty.ReplaceRange(empty.GetText(), empty.GetText(), "new");
  EXPECT_STREQ(empty.GetText(), "new");
}

TEST_F(TextStringTest, PositionsOutsideTheTextAreClipped) {
  TextString text("abcdef");
  const char* p = text.GetText();
  EXPECT_STREQ(text.Extract(p - 100, p + 1).GetText(), "ab");
  EXPECT_STREQ(text.Extract(p + 4, p + 100).GetText(), "ef");
  EXPECT_STREQ(text.Extract(p + 5, p).GetText(), "");
  EXPECT_STREQ(text.Extract(nullptr, nullptr).GetText(), "");
  text.ReplaceRange(p + 4, p + 100, "!");
  EXPECT_STREQ(text.GetText(), "abcd!");
  p = text.GetText();
  text.ReplaceRange(p + 3, p, "+");  // `last` far before `first`: inserts before `first`.
  EXPECT_STREQ(text.GetText(), "abc+d!");
  p = text.GetText();
  text.ReplaceRange(p + 50, p + 60, "$");
  EXPECT_STREQ(text.GetText(), "abc+d!$");
  p = text.GetText();
  text.ReplaceRange(p + 1, p + 2, p + 3);  // Replacement inside the string's own text.
  EXPECT_STREQ(text.GetText(), "a+d!$+d!$");
}

TEST_F(TextStringTest, Tokens) {
  EXPECT_EQ(TextString("").CountTokens(","), 0);
  EXPECT_EQ(TextString("a").CountTokens(","), 1);
  EXPECT_EQ(TextString("a,").CountTokens(","), 2);
  EXPECT_EQ(TextString(",").CountTokens(","), 2);
  EXPECT_EQ(TextString("a,b,c").CountTokens(","), 3);
  EXPECT_EQ(TextString("a,,b").CountTokens(","), 3);

  const TextString abc("a,b,c");
  EXPECT_STREQ(abc.GetToken(0, ",").GetText(), "a");
  EXPECT_STREQ(abc.GetToken(2, ",").GetText(), "c");
  EXPECT_STREQ(abc.GetToken(-1, ",").GetText(), "c");
  EXPECT_STREQ(abc.GetToken(3, ",").GetText(), "");
  EXPECT_STREQ(abc.GetTokens(0, 1, ",").GetText(), "a,b");
  EXPECT_STREQ(abc.GetTokens(1, 99, ",").GetText(), "b,c");
  EXPECT_STREQ(TextString("a,,b").GetToken(1, ",").GetText(), "");
  EXPECT_STREQ(TextString(",a").GetToken(0, ",").GetText(), "");
  EXPECT_STREQ(TextString(",a").GetToken(1, ",").GetText(), "a");
  EXPECT_STREQ(TextString("a").GetToken(1, ",").GetText(), "");
  EXPECT_STREQ(TextString("").GetToken(-1, ",").GetText(), "");
  EXPECT_STREQ(TextString("a,b").GetToken(-1, ",").GetText(), "b");
  EXPECT_STREQ(TextString("x::y").GetToken(0, "::").GetText(), "x");
  EXPECT_STREQ(TextString("x:::y").GetToken(1, "::").GetText(), ":y");  // No overlap.
}

TEST_F(TextStringTest, FindTokensGivesAnEmptySpanForAnEmptyToken) {
  const TextString text("a,,b");
  const char* start = nullptr;
  const char* end = nullptr;
  ASSERT_TRUE(text.FindTokens(1, 1, ",", &start, &end));
  EXPECT_EQ(start, text.GetConstText() + 2);
  EXPECT_EQ(end + 1, start);
}

TEST_F(TextStringTest, DirectoryAndScriptPathRules) {
  EXPECT_STREQ(TextString("C:\\dir\\prog.exe").GetTokens(0, -2, "\\").GetText(), "C:\\dir");
  EXPECT_STREQ(TextString("C:\\prog.exe").GetTokens(0, -2, "\\").GetText(), "C:");
  EXPECT_STREQ(TextString("prog.exe").GetTokens(0, -2, "\\").GetText(), "prog.exe");

  const char* const cases[][2] = {{"C:\\dir\\prog.exe", "C:\\dir\\prog.ini"},
                                  {"C:\\dir\\prog.old.exe", "C:\\dir\\prog.old.ini"},
                                  {"C:\\my.dir\\prog", "C:\\my.ini"},
                                  {"prog", "ini"}};
  for (const auto& c : cases) {
    TextString path(c[0]);
    path.ReplaceTokens(-1, -1, ".", "ini");
    EXPECT_STREQ(path.GetText(), c[1]) << c[0];
  }
  TextString line("key=old");
  line.ReplaceToken(1, "=", "new");
  EXPECT_STREQ(line.GetText(), "key=new");
  line.ReplaceToken(5, "=", "none");
  EXPECT_STREQ(line.GetText(), "key=new");
}

TEST_F(TextStringTest, TokenIndexesThatCannotBeResolvedAreSafe) {
  const TextString text("a,b");
  const char* start = nullptr;
  const char* end = nullptr;
  EXPECT_EQ(text.CountTokens(""), 0);
  EXPECT_EQ(text.CountTokens(nullptr), 0);
  EXPECT_FALSE(text.FindTokens(0, 0, "", &start, &end));
  EXPECT_FALSE(text.FindTokens(-5, -1, ",", &start, &end));
  EXPECT_FALSE(text.FindTokens(1, 0, ",", &start, &end));
  EXPECT_FALSE(text.FindTokens(INT32_MIN, INT32_MIN, ",", &start, &end));
  EXPECT_EQ(start, nullptr);
  EXPECT_STREQ(text.GetTokens(0, INT32_MAX, ",").GetText(), "a,b");
  EXPECT_STREQ(text.GetToken(INT32_MAX, ",").GetText(), "");
  TextString changed("a,b");
  changed.ReplaceTokens(2, 1, ",", "x");
  changed.ReplaceToken(-3, ",", "x");
  EXPECT_STREQ(changed.GetText(), "a,b");
}

TEST_F(TextStringTest, Words) {
  EXPECT_EQ(TextString("a b c").CountWords(), 3);
  EXPECT_EQ(TextString("a  b").CountWords(), 3);
  EXPECT_STREQ(TextString("a  b").GetWord(1).GetText(), "");
  EXPECT_EQ(TextString("a ").CountWords(), 2);
  EXPECT_EQ(TextString("").CountWords(), 0);
  EXPECT_STREQ(TextString("a b c").GetWord(-1).GetText(), "c");
  EXPECT_STREQ(TextString("a b c").GetWords(1, 2).GetText(), "b c");
  EXPECT_STREQ(TextString(" x").GetWord(0).GetText(), "");
  EXPECT_STREQ(TextString("a b").GetWord(2).GetText(), "");
  EXPECT_STREQ(TextString("").GetWord(-1).GetText(), "");

  TextString words("a b c");
  words.ReplaceWord(1, "xyz");
  EXPECT_STREQ(words.GetText(), "a xyz c");
  words.ReplaceWords(0, 1, "q");
  EXPECT_STREQ(words.GetText(), "q c");
  words.ReplaceWord(7, "no");
  words.ReplaceWords(-9, 0, "no");
  EXPECT_STREQ(words.GetText(), "q c");
}

TEST_F(TextStringTest, QuotedWords) {
  const TextString quoted("\"My Updater\" /x");
  EXPECT_EQ(quoted.CountWords(), 2);
  EXPECT_STREQ(quoted.GetWord(0).GetText(), "\"My Updater\"");
  EXPECT_STREQ(quoted.GetWord(1).GetText(), "/x");

  const TextString unclosed("\"My Updater /x");
  EXPECT_EQ(unclosed.CountWords(), 1);
  EXPECT_STREQ(unclosed.GetWord(0).GetText(), "\"My Updater /x");

  const TextString later("a \"b c\" d");
  EXPECT_EQ(later.CountWords(), 3);
  EXPECT_STREQ(later.GetWord(1).GetText(), "\"b c\"");
  EXPECT_STREQ(later.GetWord(2).GetText(), "d");
}

TEST_F(TextStringTest, CaptionFromCommandLine) {
  TextString caption;
  caption.ClearAndAppend("\"My Updater\" /x");
  caption.Assign(caption.GetWord(0));
  caption.Trim("\"");
  EXPECT_STREQ(caption.GetText(), "My Updater");
}

TEST_F(TextStringTest, TrimEndsRemovesWholeCopies) {
  struct Case {
    const char* text;
    const char* leading;
    const char* trailing;
    const char* trimmed;
  };
  const Case cases[] = {
      {"   ", " ", " ", ""},
      {"  a b ", " ", " ", "a b"},
      {"C:\\dir\\\\", "", "\\", "C:\\dir"},
      {"{{key}}", "{", "}", "key"},
      {"abXabYAB", "AB", "ab", "XabY"},  // ASCII case ignored; trailing removal stops at the start
      {"aaa", "", "aa", "a"},
      {"x", nullptr, nullptr, "x"},
  };
  for (const Case& c : cases) {
    TextString text(c.text);
    text.TrimEnds(c.leading, c.trailing);
    EXPECT_STREQ(c.trimmed, text.GetText()) << c.text;
  }

  TextString untouched("a");
  const uint8_t* block = untouched.GetConstData();
  untouched.TrimEnds(" ", " ");
  EXPECT_EQ(untouched.GetConstData(), block);

  TextString tabs("\t a \t");
  tabs.Trim(" ");
  EXPECT_STREQ(tabs.GetText(), "\t a \t");
}

TEST_F(TextStringTest, ClearAndAppend) {
  TextString text("old");
  text.ClearAndAppend("");
  EXPECT_STREQ(text.GetText(), "");
  text.ClearAndAppend("new");
  EXPECT_STREQ(text.GetText(), "new");
  text.ClearAndAppend(text.GetText() + 1);
  EXPECT_STREQ(text.GetText(), "ew");
}

TEST_F(TextStringTest, ToIntReadsLikeScanf) {
  const struct {
    const char* text;
    int32_t value;
  } cases[] = {{"12abc", 12},
               {" -5", -5},
               {"abc", 0},
               {"007", 7},
               {"+3", 3},
               {"", 0},
               {"-", 0},
               {"\t\n 42 7", 42},
               {"2147483647", INT32_MAX},
               {"-2147483648", INT32_MIN},
               {"99999999999999999999", INT32_MAX},
               {"-99999999999", INT32_MIN}};
  for (const auto& c : cases) EXPECT_EQ(TextString(c.text).ToInt(), c.value) << c.text;
}

TEST_F(TextStringTest, FormatIsBoundedTo1023Bytes) {
  TextString text;
  text.Format("%s-%d", "a", 7);
  EXPECT_STREQ(text.GetText(), "a-7");
  char big[2000];
  std::memset(big, 'x', sizeof(big) - 1);
  big[sizeof(big) - 1] = '\0';
  text.Format("%s", big);
  EXPECT_EQ(text.GetLength(), kFormatBufferSize - 1);
  EXPECT_EQ(text.GetSize(), static_cast<uint32_t>(kFormatBufferSize));
  text.Assign("self");
  text.Format("%s+%s", text.GetText(), text.GetText());
  EXPECT_STREQ(text.GetText(), "self+self");
  text.Format(nullptr);
  EXPECT_STREQ(text.GetText(), "");
}

// The UTF-16 text beside TextString: appending (its own units too), and an allocation that fails
// leaving it empty, never null.
TEST_F(TextStringTest, WideTextAppendsOrEndsEmpty) {
  WideText text;
  EXPECT_EQ(0u, text.GetLength());
  EXPECT_EQ(u'\0', text.GetUnits()[0]);
  EXPECT_TRUE(text.Assign(u"ab"));
  EXPECT_TRUE(text.Append(text));
  EXPECT_TRUE(text.Append(u"\xdc80", 1));
  EXPECT_EQ(std::u16string(u"abab\xdc80"), text.GetUnits());
  EXPECT_EQ(5u, text.GetLength());
  g_allocations_left = 0;
  EXPECT_FALSE(text.Append(u"c"));
  EXPECT_EQ(0u, text.GetLength());
  EXPECT_EQ(u'\0', text.GetUnits()[0]);
  EXPECT_EQ(nullptr, text.Allocate(3));
  g_allocations_left = -1;
  char16_t* units = text.Allocate(3);
  ASSERT_NE(nullptr, units);
  EXPECT_EQ(3u, text.GetLength());
  EXPECT_EQ(u'\0', units[3]);
}

TEST_F(TextStringTest, FailedAllocationsLeaveTheStringEmpty) {
  TextString text("abc");
  g_allocations_left = 0;
  EXPECT_FALSE(text.SetText("xyz"));
  EXPECT_EQ(text.GetLength(), 0);
  ASSERT_NE(text.GetText(), nullptr);
  EXPECT_STREQ(text.GetText(), "");

  g_allocations_left = -1;
  text.Assign("abc");
  g_allocations_left = 0;
  EXPECT_FALSE(text.AppendText("def"));
  EXPECT_STREQ(text.GetText(), "");

  g_allocations_left = -1;
  text.Assign("abc");
  g_allocations_left = 1;  // The joined text is built, but cannot be moved in.
  EXPECT_FALSE(text.AppendText("def"));
  EXPECT_STREQ(text.GetText(), "");

  g_allocations_left = 0;
  const TextString made("abc");
  EXPECT_STREQ(made.GetConstText(), "");
  EXPECT_EQ(made.GetToken(0, ",").GetLength(), 0);
  EXPECT_EQ(made.CountWords(), 0);

  g_allocations_left = -1;
  text.Assign("a b");
  g_allocations_left = 0;
  text.ReplaceWord(0, "x");
  EXPECT_STREQ(text.GetText(), "");
}

TEST_F(TextStringTest, StringWithoutStorageReadsEmpty) {
  TextString text("abc");
  text.Free();
  EXPECT_STREQ(text.GetText(), "");
  EXPECT_EQ(text.GetLength(), 0);
  EXPECT_EQ(text.CountTokens(","), 0);
  text.Append("x");
  EXPECT_STREQ(text.GetText(), "x");
  text.Remove(0, text.GetSize());
  text.Compact();
  EXPECT_EQ(text.GetSize(), 1u);
}

}  // namespace
}  // namespace kestario
