// The angle pass against the way it is defined: block by block, each block found by scanning the
// text from its start, on random texts and symbol tables.
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/context.h"
#include "settings/symbols.h"
#include "text/text_string.h"

namespace kestario {
namespace {

// The definition: ExpandAngleBlocksBlockByBlock.
bool Reference(TextString* text) { return ExpandAngleBlocksBlockByBlock(text); }

class AngleBlocksTest : public ::testing::Test {
 protected:
  AngleBlocksTest() { BindScript(&script_, &module_, &table_); }
  ~AngleBlocksTest() override {
    BindScript(&g_appContext.scriptPath, &g_appContext.modulePath, &g_symbolTable);
  }

  void Expect(const std::string& input) {
    TextString expected(input.c_str());
    TextString actual(input.c_str());
    bool expectedFound = Reference(&expected);
    bool actualFound = ExpandAngleBlocks(&actual);
    ASSERT_STREQ(expected.GetConstText(), actual.GetConstText()) << "input: " << input;
    ASSERT_EQ(expectedFound, actualFound) << "input: " << input;
  }

  TextString script_;
  TextString module_;
  SymbolTable table_;
};

TEST_F(AngleBlocksTest, KnownCases) {
  table_.Add("<A>", "alpha");
  table_.Add("<B>", "<A>/beta");
  table_.Add("<Loop>", "x<Loop>");
  table_.Add("<Open>", "<A");
  table_.Add("<Close>", "A>");
  table_.Add("<Stray>", ">");
  table_.Add("<a<b>c>", "nested");
  table_.Add("<Esc>", "line\\nnext");
  for (const char* input : {"",
                            "plain",
                            "<A>",
                            "<a>",
                            "x<A>y<B>z",
                            "<B>",
                            "<Loop>",
                            "<Loop><Loop>",
                            "<Open>",
                            "<Open>>",
                            "<Open><Close>",
                            "<Stray><A>",
                            "a>b<A>",
                            "<A><none><A>",
                            "<a<b>c>",
                            "<<A>>",
                            "<A",
                            "<A><A",
                            "<none",
                            "<Close><A>",
                            "<Esc>\\n<A>",
                            "\\\\n<A>",
                            "<>",
                            "<><A>",
                            ">>><A><<",
                            "<A>>><B>"}) {
    Expect(input);
  }
}

TEST_F(AngleBlocksTest, AnEmptyNameCountsAsFoundWhenNoBlockIsLeft) {
  table_.AddLine("=empty");
  table_.Add("<A>", "");
  for (const char* input : {"<A>", "<A><A>", "<x>", "<A><x>", "<A", "plain"}) Expect(input);
}

TEST_F(AngleBlocksTest, LongListsOfSymbols) {
  table_.Add("<Data>", "/srv/data");
  std::string list;
  for (int i = 0; i < 3000; ++i) list += (i ? ", <Data>/f" : "<Data>/f") + std::to_string(i);
  Expect(list);
  Expect(list + ", <Missing>/x, <Data");
}

TEST_F(AngleBlocksTest, RandomTextsAndTables) {
  std::mt19937 random(20240611);
  const char kBytes[] = "<<<>>>aAbB\\nn/=";
  auto randomText = [&](int longest) {
    std::string text;
    int length = static_cast<int>(random() % static_cast<unsigned>(longest + 1));
    for (int i = 0; i < length; ++i) text += kBytes[random() % (sizeof kBytes - 1)];
    return text;
  };
  for (int round = 0; round < 4000; ++round) {
    table_.Clear();
    int symbols = static_cast<int>(random() % 6);
    for (int i = 0; i < symbols; ++i) {
      std::string name = random() % 4 == 0 ? randomText(4) : "<" + randomText(2) + ">";
      table_.Add(name.c_str(), randomText(8).c_str());
    }
    Expect(randomText(24));
  }
}

// Values built from the names of other symbols and stray delimiters, so that replacements bring
// new blocks, open or close blocks around them, and lead back into themselves.
TEST_F(AngleBlocksTest, RandomTablesWhoseValuesHoldNames) {
  std::mt19937 random(7);
  const char* kNames[] = {"<a>", "<B>", "<ab>", "<>", "<<a>>", "x"};
  const char* kParts[] = {"<a>", "<B>", "<ab>", "<", ">", "a", "b", "<<", ">>", "\\n", "/"};
  auto randomText = [&](int longest) {
    std::string text;
    int parts = static_cast<int>(random() % static_cast<unsigned>(longest + 1));
    for (int i = 0; i < parts; ++i) text += kParts[random() % (sizeof kParts / sizeof kParts[0])];
    return text;
  };
  for (int round = 0; round < 4000; ++round) {
    table_.Clear();
    for (const char* name : kNames) {
      if (random() % 3 != 0) table_.Add(name, randomText(4).c_str());
    }
    Expect(randomText(10));
  }
}

}  // namespace
}  // namespace kestario
