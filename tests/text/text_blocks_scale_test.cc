// Block operations on long texts. Script values are read whole on Linux, so a single value may
// hold megabytes of delimiters; every scan must stay linear in the length of the text. Each test
// below took hours before the scan remembered where the next delimiter lies (CTest's time-out
// fails it if that comes back).
#include <gtest/gtest.h>

#include <string>

#include "text/text_string.h"

namespace kestario {
namespace {

constexpr size_t kLength = 4 << 20;

TEST(TextBlocksScaleTest, StrayClosingsAreCountedInLinearTime) {
  const TextString text(std::string(kLength, '>').c_str());
  EXPECT_EQ(0, text.CountBlocks("<", ">"));
  EXPECT_EQ(0, text.GetBlock(0, "<", ">").GetLength());
}

TEST(TextBlocksScaleTest, UnclosedOpeningsAreCountedInLinearTime) {
  const TextString text(std::string(kLength, '<').c_str());
  EXPECT_EQ(0, text.CountBlocks("<", ">"));
  EXPECT_EQ(0, text.GetBlock(-1, "<", ">").GetLength());
}

TEST(TextBlocksScaleTest, OpeningsBeforeOneFinalClosingFormOneBlock) {
  std::string text(kLength, '{');
  text += '}';
  TextString value(text.c_str());
  EXPECT_EQ(0, value.CountBlocks("{", "}"));  // depth never returns to 0
  std::string nested = "{" + std::string(kLength, '}');
  value.Assign(nested.c_str());
  EXPECT_EQ(1, value.CountBlocks("{", "}"));
  EXPECT_STREQ("{}", value.GetBlock(0, "{", "}").GetConstText());
  value.ReplaceBlock(0, "{", "}", "x");
  EXPECT_EQ(static_cast<int32_t>(kLength), value.GetLength());
  EXPECT_EQ('x', value.GetConstText()[0]);
}

TEST(TextBlocksScaleTest, LastOfManyBlocksIsFoundInLinearTime) {
  std::string text;
  for (int i = 0; i < 100000; ++i) text += "<a>";
  text += "<last>" + std::string(kLength, '>');
  const TextString value(text.c_str());
  EXPECT_EQ(100001, value.CountBlocks("<", ">"));
  EXPECT_STREQ("<last>", value.GetBlock(-1, "<", ">").GetConstText());
}

}  // namespace
}  // namespace kestario
