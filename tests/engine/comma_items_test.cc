#include "engine/comma_items.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "text/text_string.h"

namespace kestario {
namespace {

// Item i as the executors used to take it: the token, then the spaces at its ends trimmed.
std::string TokenTrimmed(const TextString& list, int32_t index) {
  TextString item = list.GetToken(index, ",");
  item.Trim(" ");
  return item.GetConstText();
}

// Walks `text` and compares every item, and a few past the end, with the token read.
void ExpectSameAsTokens(const char* text) {
  TextString list(text);
  int32_t count = list.CountTokens(",");
  CommaItems items(list);
  TextString item("left over");
  for (int32_t i = 0; i < count + 3; ++i) {
    items.Next(&item);
    EXPECT_EQ(TokenTrimmed(list, i), item.GetConstText()) << "list \"" << text << "\" item " << i;
  }
}

TEST(CommaItemsTest, GivesTheTrimmedTokensInOrder) {
  for (const char* text :
       {"", ",", ",,", " ", "A", " A ", "A,B", " A , B ,C", "A,,B", ",A", "A,", "  ,  ",
        "\tA\t, B\t", "a b, c d ", "x,y,z,", "  lead", "trail  ", "\xe3\x81\x82, \x82\xa0 "}) {
    ExpectSameAsTokens(text);
  }
}

TEST(CommaItemsTest, WalksLongListsInOrder) {
  std::string text;
  std::vector<std::string> names;
  for (int i = 0; i < 5000; ++i) {
    names.push_back("P" + std::to_string(i));
    text += (i ? ", " : "") + names.back();
  }
  TextString list(text.c_str());
  CommaItems items(list);
  TextString item;
  for (const std::string& name : names) {
    items.Next(&item);
    ASSERT_STREQ(name.c_str(), item.GetConstText());
  }
  items.Next(&item);
  EXPECT_STREQ("", item.GetConstText());
}

}  // namespace
}  // namespace kestario
