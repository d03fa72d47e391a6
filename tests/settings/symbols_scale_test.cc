// The brace pass on long values and on replacements that bring braces of their own. Values are
// read whole on Linux; every lookup of a brace block used to scan the value from its start, so
// a value of many blocks took time quadratic in its length (50,000 blocks: 20 seconds, far longer
// under the sanitizers).
#include <gtest/gtest.h>

#include <string>

#include "settings/symbols.h"
#include "support/script_test.h"

namespace kestario {
namespace {

class SymbolsScaleTest : public ScriptTest {
 protected:
  std::string Read(const std::string& value) {
    WriteScript("[UPDATER]\nNAME=\nPROC=A\n[T]\nV=" + value + "\n");
    Prepare();
    TextString text;
    EXPECT_TRUE(ReadSetting("T", "V", &text));
    return text.GetConstText();
  }
};

TEST_F(SymbolsScaleTest, ManyBraceBlocksAreExpandedInLinearTime) {
  system.SetAppPath("tool.exe", "/opt/tool");
  std::string blocks;
  for (int i = 0; i < 50000; ++i) blocks += "{x}";
  EXPECT_EQ(blocks + "/opt/tool<" + blocks, Read(blocks + "{?App\\tool.exe}<" + blocks));
}

TEST_F(SymbolsScaleTest, AReplacementIsLookedAtAgainFromItsStart) {
  system.SetAppPath("tool.exe", "/opt/tool");
  system.SetAppPath("b.exe", "{?App\\tool.exe}");
  EXPECT_EQ("/opt/tool{?App\\b.exe}", Read("{?App\\b.exe}{?App\\b.exe}"));
  EXPECT_EQ("{?App\\tool.exe}", Read("{?App\\b.exe}"));
}

TEST_F(SymbolsScaleTest, StrayBracesKeepBlocksFromBeingTopLevel) {
  system.SetAppPath("tool.exe", "/opt/tool");
  EXPECT_EQ("}{?App\\tool.exe}", Read("}{?App\\tool.exe}"));
  EXPECT_EQ("/opt/tool}{?App\\tool.exe}", Read("{?App\\tool.exe}}{?App\\tool.exe}"));
  EXPECT_EQ("{x{?App\\tool.exe}", Read("{x{?App\\tool.exe}"));  // never closed: no block
  EXPECT_EQ("/opt/tool", Read("{{?App\\tool.exe}}"));
}

}  // namespace
}  // namespace kestario
