#include <gtest/gtest.h>

#include "text/text_string.h"

namespace kestario {
namespace {

TEST(TextBlocksTest, CountGetAndReplace) {
  TextString text("x<A>y<B>z");
  EXPECT_EQ(text.CountBlocks("<", ">"), 2);
  EXPECT_STREQ(text.GetBlock(0, "<", ">").GetText(), "<A>");
  EXPECT_STREQ(text.GetBlock(1, "<", ">").GetText(), "<B>");
  EXPECT_STREQ(text.GetBlock(-1, "<", ">").GetText(), "<B>");
  EXPECT_STREQ(text.GetBlocks(0, 1, "<", ">").GetText(), "<A>y<B>");
  EXPECT_STREQ(text.GetBlock(2, "<", ">").GetText(), "");
  text.ReplaceBlock(0, "<", ">", "1");
  EXPECT_STREQ(text.GetText(), "x1y<B>z");
}

TEST(TextBlocksTest, Nesting) {
  const TextString text("x{a{b}c}y{d}");
  EXPECT_EQ(text.CountBlocks("{", "}"), 2);
  EXPECT_STREQ(text.GetBlock(0, "{", "}").GetText(), "{a{b}c}");
  EXPECT_STREQ(text.GetBlock(1, "{", "}").GetText(), "{d}");

  const TextString words("<<a>>b<<c>>");
  EXPECT_EQ(words.CountBlocks("<<", ">>"), 2);
  EXPECT_STREQ(words.GetBlock(1, "<<", ">>").GetText(), "<<c>>");
}

TEST(TextBlocksTest, UnclosedAndStrayDelimiters) {
  EXPECT_EQ(TextString("a<b").CountBlocks("<", ">"), 0);
  EXPECT_STREQ(TextString("a<b").GetBlock(0, "<", ">").GetText(), "");
  const TextString stray("a>b<c>");
  EXPECT_EQ(stray.CountBlocks("<", ">"), 0);
  EXPECT_STREQ(stray.GetBlock(0, "<", ">").GetText(), "");
  // Closings follow the opening, but too few: the block runs to the end of the text.
  EXPECT_STREQ(TextString("x{a{b}c").GetBlock(0, "{", "}").GetText(), "{a{b}c");
  // A last index past the final block extends the span to the end of the text.
  EXPECT_STREQ(TextString("x<A>yz").GetBlocks(0, 5, "<", ">").GetText(), "<A>yz");
}

TEST(TextBlocksTest, UnusableDelimitersAndIndexesAreSafe) {
  TextString text("a|b|c<d>");
  EXPECT_EQ(text.CountBlocks("|", "|"), 0);
  EXPECT_EQ(text.CountBlocks("", ">"), 0);
  EXPECT_EQ(text.CountBlocks("<", nullptr), 0);
  const char* start = nullptr;
  const char* end = nullptr;
  EXPECT_FALSE(text.FindBlocks(0, 0, "|", "|", &start, &end));
  EXPECT_FALSE(text.FindBlocks(-2, -2, "<", ">", &start, &end));
  EXPECT_FALSE(text.FindBlocks(1, 0, "<", ">", &start, &end));
  EXPECT_FALSE(text.FindBlocks(0, -5, "<", ">", &start, &end));
  EXPECT_EQ(start, nullptr);
  ASSERT_TRUE(text.FindBlocks(0, 0, "<", ">", &start, &end));
  EXPECT_EQ(*start, '<');
  EXPECT_EQ(*end, '>');
  text.ReplaceBlock(3, "<", ">", "x");
  text.ReplaceBlock(0, "", "", "x");
  EXPECT_STREQ(text.GetText(), "a|b|c<d>");
}

TEST(TextBlocksTest, ReplaceAllAlwaysEnds) {
  TextString text("a-b");
  text.ReplaceAll("", "x");
  text.ReplaceAll(nullptr, "x");
  EXPECT_STREQ(text.GetText(), "a-b");
  text.ReplaceAll("-", "--");  // Contains the pattern: each original occurrence once.
  EXPECT_STREQ(text.GetText(), "a--b");
  text.ReplaceAll("a", "xax");
  EXPECT_STREQ(text.GetText(), "xax--b");
  text.ReplaceAll("-", nullptr);
  EXPECT_STREQ(text.GetText(), "xaxb");
  text.ReplaceAll("x", text.GetText() + 1);  // Replacement inside the string's own text.
  EXPECT_STREQ(text.GetText(), "axbaaxbb");
}

TEST(TextBlocksTest, Find) {
  const TextString text("abcabc");
  EXPECT_EQ(text.Find("ca"), text.GetConstText() + 2);
  EXPECT_EQ(text.Find(""), text.GetConstText());
  EXPECT_EQ(text.Find("x"), nullptr);
}

TEST(TextBlocksTest, IndexForms) {
  TextString text("abcdef");
  EXPECT_STREQ(text.Mid(1, 3).GetText(), "bcd");
  EXPECT_STREQ(text.MidChar(5).GetText(), "f");
  EXPECT_STREQ(text.MidChar(6).GetText(), "");
  EXPECT_STREQ(text.MidChar(-1).GetText(), "");
  EXPECT_STREQ(text.Mid(3, 1).GetText(), "");
  EXPECT_STREQ(text.Mid(INT32_MIN, INT32_MAX).GetText(), "");
  text.ReplaceChar(0, "A");
  text.ReplaceMid(4, 5, "");
  EXPECT_STREQ(text.GetText(), "Abcd");
  text.ReplaceMid(4, 3, "!");  // Empty range at the end: inserts.
  text.ReplaceMid(0, -1, "^");
  EXPECT_STREQ(text.GetText(), "^Abcd!");
  text.ReplaceChar(-1, "x");
  text.ReplaceChar(6, "x");
  text.ReplaceMid(2, 0, "x");
  text.ReplaceMid(INT32_MAX, INT32_MIN, "x");
  EXPECT_STREQ(text.GetText(), "^Abcd!");
}

}  // namespace
}  // namespace kestario
