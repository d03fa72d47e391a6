#include "settings/symbols.h"

#include <string>

#include <gtest/gtest.h>

#include "engine/context.h"
#include "support/script_test.h"

namespace kestario {
namespace {

class SymbolsTest : public ScriptTest {
 protected:
  // Reads `value` through the settings reader, as a procedure's key would be read.
  std::string Read(const std::string& value) {
    dir.Write("updater.ini", script_ + "[T]\nV=" + value + "\n");
    TextString text;
    EXPECT_TRUE(ReadSetting("T", "V", &text));
    return text.GetConstText();
  }
  void Load(const std::string& script) {
    script_ = script;
    WriteScript(script);
    Prepare();
  }
  std::string Symbol(const char* name) {
    TextString value;
    if (!FindSymbol(name, &value)) return "(none)";
    return value.GetConstText();
  }
  std::string script_;
};

TEST_F(SymbolsTest, WithoutDefineOnlyTheBuiltInsExist) {
  system.windowsDirectory = "C:\\Windows";
  Load("[UPDATER]\nNAME=\nPROC=A\n");
  ASSERT_EQ(4, g_symbolTable.count());
  EXPECT_STREQ("<Win>", g_symbolTable.NameAt(0).GetConstText());
  EXPECT_STREQ("<Src>", g_symbolTable.NameAt(1).GetConstText());
  EXPECT_STREQ("<Computer>", g_symbolTable.NameAt(2).GetConstText());
  EXPECT_STREQ("<User>", g_symbolTable.NameAt(3).GetConstText());
  EXPECT_EQ("C:\\Windows", Symbol("<win>"));
  EXPECT_EQ(dir.path(), Symbol("<SRC>"));
  EXPECT_EQ(dir.path() + "/setup.run", Read("<Src>/setup.run"));
}

TEST_F(SymbolsTest, BuiltInsOverrideTheScriptButKeepItsPlace) {
  Load("[DEFINE]\n<win>=D:\\Other\n<A>=1\n");
  ASSERT_EQ(5, g_symbolTable.count());
  EXPECT_STREQ("<win>", g_symbolTable.NameAt(0).GetConstText());
  EXPECT_EQ("/etc", Symbol("<Win>"));
  EXPECT_STREQ("<Src>", g_symbolTable.NameAt(2).GetConstText());
}

TEST_F(SymbolsTest, ComputerAndUserGiveWayToTheScript) {
  Load("[DEFINE]\n<USER>=deploy\n<Log>=/share/logs/<Computer>-<User>.log\n");
  EXPECT_EQ("deploy", Symbol("<User>"));
  EXPECT_EQ("PC-417", Symbol("<computer>"));
  EXPECT_EQ("/share/logs/PC-417-deploy.log", Symbol("<Log>"));
  ASSERT_EQ(5, g_symbolTable.count());
  EXPECT_STREQ("<Computer>", g_symbolTable.NameAt(4).GetConstText());

  // A name the system cannot tell is not defined: the block stays as written.
  system.computerName.clear();
  Load("[UPDATER]\nNAME=\n");
  EXPECT_EQ("<Computer>/tanaka", Read("<Computer>/<User>"));
}

// Definitions and what a value that names them reads as: the first of two names wins, a comment
// defines nothing, a value ends at the second "=", a line without "=" defines the empty value,
// and a definition that names itself is expanded a bounded number of times.
TEST_F(SymbolsTest, DefinitionsReadAsWritten) {
  struct Case {
    const char* define;
    const char* value;
    const char* reads;
  };
  const Case cases[] = {
      {"[DEFINE]\n<A>=1\n<a>=2\n;<B>=3\n", "<A>", "1"},
      {"[DEFINE]\n<A>=1\n<a>=2\n;<B>=3\n", "<B>", "<B>"},
      {"[DEFINE]\n<Opt>=/a=1\n<Bare>\n", "<Opt>", "/a"},
      {"[DEFINE]\n<Opt>=/a=1\n<Bare>\n", "<Bare>", ""},
      {"[DEFINE]\n<A>=<A>!\n", "<A>", "<A>!!"},
  };
  for (const Case& c : cases) {
    Load(c.define);
    EXPECT_EQ(c.reads, Read(c.value)) << c.define << c.value;
  }
  Load("[DEFINE]\n<A>=<A>!\n");
  EXPECT_EQ("<A>!!", Symbol("<A>"));
}

TEST_F(SymbolsTest, DefinitionsExpandOnceInTableOrder) {
  Load("[DEFINE]\n<A>=<B>-<C>\n<B>=<C>\n<C>=y\n");
  EXPECT_EQ("y-<C>", Symbol("<A>"));
  EXPECT_EQ("y", Symbol("<B>"));
  EXPECT_EQ("y-<C>", Read("<A>"));

  Load("[DEFINE]\n<C>=y\n<B>=<C>\n<A>=<B>-<C>\n");
  EXPECT_EQ("y-y", Read("<A>"));
}

TEST_F(SymbolsTest, BraceReplacementSkipsTheAnglePassOfADefinition) {
  system.SetAppPath("excel.exe", "C:\\Office\\EXCEL.EXE");
  Load("[DEFINE]\n<Dir>=C:\\Tools\n<P>={?App\\excel.exe} <Dir>\n");
  EXPECT_EQ("C:\\Office\\EXCEL.EXE <Dir>", Symbol("<P>"));
  EXPECT_EQ("C:\\Office\\EXCEL.EXE <Dir>", Read("<P>"));
}

TEST_F(SymbolsTest, WorkedExamplesOfTheTwoPasses) {
  system.SetAppPath("excel.exe", "C:\\Office\\EXCEL.EXE");
  system.SetAppPathValue("excel.exe", "C:\\Office\\;");
  Load("[DEFINE]\n<Dir>=C:\\Tools\n<Opt>=/a=1\n<Exe>=excel.exe\n");
  EXPECT_EQ("C:\\Tools\\Setup.exe", Read("<Dir>\\Setup.exe"));
  EXPECT_EQ("C:\\Tools\\Setup.exe", Read("<DIR>\\Setup.exe"));
  EXPECT_EQ("<Tmp>\\a.txt", Read("<Tmp>\\a.txt"));
  EXPECT_EQ("C:\\Office\\EXCEL.EXE", Read("{?App\\excel.exe}"));
  EXPECT_EQ("C:\\Office\\EXCEL.EXE", Read("{?app\\excel.exe}"));
  EXPECT_EQ("C:\\Office\\", Read("{?AppPath\\excel.exe}"));
  EXPECT_EQ("{?App\\word.exe}", Read("{?App\\word.exe}"));
  EXPECT_EQ("{Dir}", Read("{Dir}"));
  EXPECT_EQ("C:\\Office\\EXCEL.EXE", Read("{{?App\\excel.exe}}"));
  EXPECT_EQ("{?App\\excel.exe}", Read("{?App\\<Exe>}"));
  EXPECT_EQ("Line one\nLine two", Read("Line one\\nLine two"));
  EXPECT_EQ("C:\\Tools\new.txt", Read("<Dir>\\new.txt"));
  EXPECT_EQ("C:\\Tools\\New.txt", Read("<Dir>\\New.txt"));
  EXPECT_EQ("5 > 3 <Dir>", Read("5 > 3 <Dir>"));
  EXPECT_EQ("<<Dir>>", Read("<<Dir>>"));
  EXPECT_EQ("/a", Read("<Opt>"));
  EXPECT_EQ("a\\Nb", Read("a\\Nb"));
  EXPECT_EQ(0, system.openRegistryKeys);
}

TEST_F(SymbolsTest, AngleBlocksFromTheRegistryAreExpanded) {
  system.SetAppPath("tool.exe", "<Dir>\\tool.exe");
  Load("[DEFINE]\n<Dir>=C:\\Tools\n");
  EXPECT_EQ("C:\\Tools\\tool.exe", Read("{?App\\tool.exe}"));
}

TEST_F(SymbolsTest, DefinitionWithALineFeedKeepsEveryDefinitionReachable) {
  system.windowsDirectory = "C:\\Windows";
  Load("[DEFINE]\n<Pad>=<Win>\\notepad.exe\n<Z>=last\n");
  EXPECT_EQ("C:\\Windows\notepad.exe", Symbol("<Pad>"));
  EXPECT_EQ("last", Symbol("<Z>"));
  EXPECT_EQ("last", Read("<Z>"));
  EXPECT_EQ(6, g_symbolTable.count());
}

TEST_F(SymbolsTest, AbsentSettingShowsMessageTwoOnce) {
  Load("[T]\nV=no_data\nISWAIT=yes\n");
  TextString value("kept");
  EXPECT_FALSE(ReadSetting("T", "V", &value));
  EXPECT_STREQ("kept", value.GetConstText());
  int32_t wait = 7;
  EXPECT_TRUE(ReadSettingInt("T", "ISWAIT", &wait));
  EXPECT_EQ(7, wait);
  EXPECT_FALSE(ReadSettingInt("T", "MISSING", &wait));
  ASSERT_EQ(2u, system.boxes.size());
  EXPECT_NE(std::string::npos, system.boxes[0].text.find("\"T\"\nパラメータ：\"V\""));
  EXPECT_NE(std::string::npos, system.boxes[1].text.find("\"MISSING\""));
}

TEST_F(SymbolsTest, ManyDefinitionsAreFoundByTheirFirstName) {
  std::string script = "[DEFINE]\n";
  for (int i = 0; i < 3000; ++i) {
    script += "<S" + std::to_string(i) +
              ">=" + (i == 0 ? "v0" : "<S" + std::to_string(i - 1) + ">") + "\n";
  }
  script += "<s2999>=shadowed\n";
  Load(script);
  EXPECT_EQ("v0", Symbol("<S2999>"));
  EXPECT_EQ(3005, g_symbolTable.count());
}

TEST(SymbolTableTest, SetValueKeepsLinesWithoutEquals) {
  SymbolTable table;
  ASSERT_TRUE(table.AddLine("<Bare>"));
  ASSERT_TRUE(table.AddLine("<A>=x"));
  EXPECT_TRUE(table.SetValueAt(0, "new"));
  EXPECT_STREQ("", table.ValueAt(0).GetConstText());
  EXPECT_TRUE(table.SetValueAt(1, "C:\\a=b"));
  EXPECT_STREQ("C:\\a", table.ValueAt(1).GetConstText());
  EXPECT_EQ(1, table.IndexOf("<a>"));
  EXPECT_EQ(-1, table.IndexOf("<none>"));
}

}  // namespace
}  // namespace kestario
