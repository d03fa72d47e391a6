#include "engine/driver.h"

#include <sys/stat.h>

#include <string>

#include <gtest/gtest.h>

#include "engine/context.h"
#include "engine/run_state.h"
#include "settings/messages.h"
#include "support/script_test.h"

namespace kestario {
namespace {

using DriverTest = ScriptTest;

TEST_F(DriverTest, MissingScriptIsMessageOneUnderTheDefaultCaption) {
  EXPECT_EQ(0, UpdaterMain(""));
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_EQ(ShownText(DefaultCaption()), system.boxes[0].caption);
  EXPECT_EQ("ファイルが見つかりません。\n\nファイル:：\"" + dir.Path("updater.ini") + "\"",
            system.boxes[0].text);
}

TEST_F(DriverTest, MemoryRunningOutWhileDefineIsReadIsMessageThree) {
  WriteScript("[UPDATER]\nNAME=N\nPROC=A\n[DEFINE]\n<X>=1\n[A]\nMODE=DELETE\nFILE=<X>\n");
  system.sectionOutOfMemory = "DEFINE";
  EXPECT_EQ(0, UpdaterMain(""));
  ASSERT_EQ(1u, system.boxes.size());  // nothing runs without the definitions
  EXPECT_EQ(ShownText(DefaultCaption()), system.boxes[0].caption);
  EXPECT_EQ("メモリが不足しています。\n\nオブジェクト：\"DEFINE\"", system.boxes[0].text);
}

TEST_F(DriverTest, StartUpMessagesUseTheCommandLineCaptionAndRunMessagesUseName) {
  WriteScript("[UPDATER]\nPROC=A\n");
  EXPECT_EQ(0, UpdaterMain("\"Night job\" /x"));
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_EQ("Night job", system.boxes[0].caption);
  EXPECT_NE(std::string::npos, system.boxes[0].text.find("\"UPDATER\"\nパラメータ：\"NAME\""));

  system.boxes.clear();
  WriteScript("[UPDATER]\nNAME=Data update\nPROC=\n");
  EXPECT_EQ(0, UpdaterMain("\"Night job\""));
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_EQ("Data update", system.boxes[0].caption);
  EXPECT_NE(std::string::npos, system.boxes[0].text.find("アイテム数"));
}

TEST_F(DriverTest, ScriptWithoutDefinitionsRuns) {
  WriteScript(
      "[UPDATER]\nNAME=\nPROC=HELLO\n[HELLO]\nMODE=MSGBOX\nFLAG=\nTYPE=INFORMATION\n"
      "TEXT=Hello\nISABORT=\n");
  EXPECT_EQ(0, UpdaterMain(""));
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_EQ("Hello", system.boxes[0].text);
  EXPECT_EQ(ShownText(DefaultCaption()), system.boxes[0].caption);
}

TEST_F(DriverTest, TheRoadOfOneScript) {
  std::string script =
      "[UPDATER]\nNAME=Data update\nPROC=CHECK, ASK, GO\n"
      "[DEFINE]\n<Dst>=<Src>/data\n"
      "[CHECK]\nMODE=EXIST\nFILE=<Dst>/old.dat\n"
      "[ASK]\nMODE=MSGBOX\nFLAG=CHECK, 1\nTYPE=QUESTION\nTEXT=Replace the old data?\nISABORT=0, 1\n"
      "[GO]\nMODE=SWITCH\nPROC=ASK\n1=REMOVE, INSTALL\n0=INSTALL\n"
      "[REMOVE]\nMODE=DELETE\nFILE=<Dst>/old.dat\n"
      "[INSTALL]\nMODE=COPY\nFROM=<Src>/fresh.dat\nTO=<Dst>/fresh.dat\n";
  WriteScript(script);
  mkdir(dir.Path("data").c_str(), 0755);
  dir.Write("data/old.dat", "old");
  dir.Write("fresh.dat", "fresh");

  // No: the run ends without a message, nothing changes.
  system.answers = {kIdNo};
  UpdaterMain("");
  EXPECT_EQ(1u, system.boxes.size());
  EXPECT_TRUE(dir.Exists("data/old.dat"));
  EXPECT_FALSE(dir.Exists("data/fresh.dat"));
  EXPECT_EQ(0, CurrentRun().listStack.count);

  // Yes: REMOVE and INSTALL.
  system.boxes.clear();
  system.answers = {kIdYes};
  UpdaterMain("");
  EXPECT_EQ(1u, system.boxes.size());
  EXPECT_EQ("Data update", system.boxes[0].caption);
  EXPECT_FALSE(dir.Exists("data/old.dat"));
  EXPECT_EQ("fresh", dir.Read("data/fresh.dat"));

  // The old file is gone now: no question, INSTALL alone.
  system.boxes.clear();
  dir.Write("fresh.dat", "fresher");
  UpdaterMain("");
  EXPECT_TRUE(system.boxes.empty());
  EXPECT_EQ("fresher", dir.Read("data/fresh.dat"));
}

TEST_F(DriverTest, FailedBranchLeavesNoListBehind) {
  WriteScript(
      "[UPDATER]\nNAME=\nPROC=E,S\n[E]\nMODE=EXIST\nFILE=<Src>\n"
      "[S]\nMODE=SWITCH\nPROC=E\n1=D\n0=\n[D]\nMODE=DELETE\nFILE=<Src>/missing\n");
  EXPECT_EQ(0, UpdaterMain(""));
  EXPECT_EQ(1u, system.boxes.size());
  EXPECT_EQ(0, CurrentRun().listStack.count);
  EXPECT_EQ(nullptr, TopList());
}

}  // namespace
}  // namespace kestario
