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

class DriverTest : public ScriptTest {
 protected:
  // Runs the program with `commandLine`, which must end with exit code 0 after exactly one box
  // (since the last boxes.clear()); that box (an empty one when there was not exactly one).
  ShownBox RunToOneBox(const char* commandLine) {
    EXPECT_EQ(0, UpdaterMain(commandLine));
    EXPECT_EQ(1u, system.boxes.size());
    return system.boxes.size() == 1 ? system.boxes[0] : ShownBox{};
  }
};

TEST_F(DriverTest, MissingScriptIsMessageOneUnderTheDefaultCaption) {
  ShownBox box = RunToOneBox("");
  EXPECT_EQ(ShownText(DefaultCaption()), box.caption);
  EXPECT_EQ("ファイルが見つかりません。\n\nファイル:：\"" + dir.Path("updater.ini") + "\"",
            box.text);
}

TEST_F(DriverTest, MemoryRunningOutWhileDefineIsReadIsMessageThree) {
  WriteScript("[UPDATER]\nNAME=N\nPROC=A\n[DEFINE]\n<X>=1\n[A]\nMODE=DELETE\nFILE=<X>\n");
  system.sectionOutOfMemory = "DEFINE";
  ShownBox box = RunToOneBox("");  // nothing runs without the definitions
  EXPECT_EQ(ShownText(DefaultCaption()), box.caption);
  EXPECT_EQ("メモリが不足しています。\n\nオブジェクト：\"DEFINE\"", box.text);
}

TEST_F(DriverTest, StartUpMessagesUseTheCommandLineCaptionAndRunMessagesUseName) {
  WriteScript("[UPDATER]\nPROC=A\n");
  ShownBox box = RunToOneBox("\"Night job\" /x");
  EXPECT_EQ("Night job", box.caption);
  EXPECT_NE(std::string::npos, box.text.find("\"UPDATER\"\nパラメータ：\"NAME\""));

  system.boxes.clear();
  WriteScript("[UPDATER]\nNAME=Data update\nPROC=\n");
  box = RunToOneBox("\"Night job\"");
  EXPECT_EQ("Data update", box.caption);
  EXPECT_NE(std::string::npos, box.text.find("アイテム数"));
}

TEST_F(DriverTest, ScriptWithoutDefinitionsRuns) {
  WriteScript(
      "[UPDATER]\nNAME=\nPROC=HELLO\n[HELLO]\nMODE=MSGBOX\nFLAG=\nTYPE=INFORMATION\n"
      "TEXT=Hello\nISABORT=\n");
  ShownBox box = RunToOneBox("");
  EXPECT_EQ("Hello", box.text);
  EXPECT_EQ(ShownText(DefaultCaption()), box.caption);
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
