#include "engine/run.h"

#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>

#include <string>

#include <gtest/gtest.h>

#include "engine/context.h"
#include "engine/run_state.h"
#include "platform/system.h"
#include "support/script_test.h"

namespace kestario {
namespace {

class RunTest : public ScriptTest {
 protected:
  // Builds the list named by `procedures` from `script` and runs it, as the driver would.
  bool Run(const std::string& script, const char* procedures) {
    WriteScript(script);
    Prepare();
    ProcedureList list = BuildProcedureList(TextString(procedures), "UPDATER", "PROC");
    if (list == nullptr) return false;
    bool ran = RunProcedureList(TopList());
    if (ran) FreeList(TopList());
    return ran;
  }
  // The result flag of `name` in the list still on top (after a failed run).
  int Flag(const char* name) {
    ProcedureRecord* record = FindProcedure(TopList(), name);
    return record ? record->result : -1;
  }
  void SetDate(const std::string& name, int year, int month, int day) {
    struct tm local = {};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = 12;
    local.tm_isdst = -1;
    struct timeval times[2];
    times[0].tv_sec = times[1].tv_sec = mktime(&local);
    times[0].tv_usec = times[1].tv_usec = 0;
    utimes(dir.Path(name).c_str(), times);
  }
  std::string Dir() const { return dir.path(); }
  std::string Box(size_t i) const { return i < system.boxes.size() ? system.boxes[i].text : ""; }
};

TEST_F(RunTest, DeleteRemovesEveryTrimmedItemAndStopsAtTheFirstFailure) {
  dir.Write("a", "1");
  dir.Write("b", "2");
  EXPECT_TRUE(Run("[D]\nMODE=DELETE\nFILE= <Src>/a , <Src>/b \n", "D"));
  EXPECT_FALSE(dir.Exists("a"));
  EXPECT_FALSE(dir.Exists("b"));
  EXPECT_TRUE(system.boxes.empty());

  dir.Write("a", "1");
  EXPECT_FALSE(Run("[D]\nMODE=DELETE\nFILE=<Src>/a,\n", "D"));
  EXPECT_FALSE(dir.Exists("a"));
  EXPECT_EQ("ファイルの削除に失敗しました。\n\nファイル：\"\"", Box(0));
  EXPECT_EQ(0, Flag("D"));
}

TEST_F(RunTest, DeleteNeverExpandsWildcardsAndKeepsTabs) {
  dir.Write("keep.txt", "1");
  EXPECT_FALSE(Run("[D]\nMODE=DELETE\nFILE=<Src>/*.txt\n", "D"));
  EXPECT_TRUE(dir.Exists("keep.txt"));
  EXPECT_NE(std::string::npos, Box(0).find("/*.txt\""));
  system.boxes.clear();
  FreeAllLists();
  EXPECT_FALSE(Run("[D]\nMODE=DELETE\nFILE=<Src>/keep.txt\t,x\n", "D"));
  EXPECT_TRUE(dir.Exists("keep.txt"));
}

TEST_F(RunTest, EmptyFileListsAreMessageFour) {
  const char* cases[][2] = {{"[X]\nMODE=DELETE\nFILE=\n", "FILE"},
                            {"[X]\nMODE=LAUNCH\nFILE=\nPARAM=\nISWAIT=0\n", "FILE"},
                            {"[X]\nMODE=COPY\nFROM=\nTO=a,b\n", "FROM"},
                            {"[X]\nMODE=DATE\nFILE=\nDATE=2000/1/1\n", "FILE"},
                            {"[X]\nMODE=EXIST\nFILE=\n", "FILE"}};
  for (auto& c : cases) {
    system.boxes.clear();
    FreeAllLists();
    EXPECT_FALSE(Run(c[0], "X")) << c[0];
    EXPECT_EQ(
        std::string(
            "設定パラメータのアイテム数が正しくありません。\n\nセクション：\"X\"\nパラメータ：\"") +
            c[1] + "\"",
        Box(0));
  }
}

TEST_F(RunTest, CopyPairsItemsAndOverwrites) {
  dir.Write("src1", "one");
  dir.Write("src2", "two");
  dir.Write("dst1", "old");
  EXPECT_TRUE(
      Run("[C]\nMODE=COPY\nFROM=<Src>/src1, <Src>/src2\nTO=<Src>/dst1,<Src>/dst2,<Src>/x\n", "C"));
  EXPECT_EQ("one", dir.Read("dst1"));
  EXPECT_EQ("two", dir.Read("dst2"));
  EXPECT_FALSE(dir.Exists("x"));

  EXPECT_FALSE(Run("[C]\nMODE=COPY\nFROM=<Src>/src1,<Src>/src2\nTO=<Src>/dst3\n", "C"));
  EXPECT_EQ("one", dir.Read("dst3"));
  EXPECT_EQ("ファイルのコピーに失敗しました。\n\n転送元：\"" + Dir() + "/src2\"\n転送先：\"\"",
            Box(0));
  EXPECT_EQ(0, Flag("C"));
}

TEST_F(RunTest, LaunchWaitsForEachProgramInTurn) {
  dir.Write("step.sh", "#!/bin/sh\nsleep 0.2\necho \"$1\" >> order.txt\n");
  chmod(dir.Path("step.sh").c_str(), 0755);
  EXPECT_TRUE(
      Run("[L]\nMODE=LAUNCH\nFILE=<Src>/step.sh,<Src>/step.sh, <Src>/step.sh\n"
          "PARAM=first,second\nISWAIT=1\n",
          "L"));
  EXPECT_EQ("first\nsecond\n\n", dir.Read("order.txt"));
}

TEST_F(RunTest, LaunchFailureNamesProgramAndParameters) {
  EXPECT_FALSE(Run("[L]\nMODE=LAUNCH\nFILE=<Src>/missing.run\nPARAM= -q \nISWAIT=1\n", "L"));
  EXPECT_EQ("アプリケーションの起動に失敗しました。\n\nファイル：\"" + Dir() +
                "/missing.run\"\nパラメータ：\"-q\"",
            Box(0));
  system.boxes.clear();
  FreeAllLists();
  EXPECT_FALSE(Run("[L]\nMODE=LAUNCH\nFILE=bare-name\nPARAM=\nISWAIT=0\n", "L"));
  EXPECT_NE(std::string::npos, Box(0).find("bare-name"));
}

TEST_F(RunTest, MsgBoxConditionTypeAndAbort) {
  const std::string procs =
      "[E]\nMODE=EXIST\nFILE=<Src>/updater.ini\n"
      "[M]\nMODE=EXIST\nFILE=<Src>/missing\n";
  // Condition met: the box is shown; Yes sets the flag; ISABORT item 0 is consulted.
  system.answers = {kIdYes};
  EXPECT_TRUE(Run(
      procs + "[Q]\nMODE=MSGBOX\nFLAG=E, 1\nTYPE=question\nTEXT=Go?\\nNow\nISABORT=0,1\n", "E,Q"));
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_EQ("Go?\nNow", system.boxes[0].text);
  EXPECT_EQ(kMbIconQuestion | kMbYesNo, system.boxes[0].style);

  // No with ISABORT item 1 set stops the run silently, flag stays 0.
  system.boxes.clear();
  system.answers = {kIdNo};
  EXPECT_FALSE(
      Run(procs + "[Q]\nMODE=MSGBOX\nFLAG=E,1\nTYPE=WARNING\nTEXT=t\nISABORT=0,1\n", "E,Q"));
  EXPECT_EQ(1u, system.boxes.size());
  EXPECT_EQ(0, Flag("Q"));
  FreeAllLists();

  // Condition not met: no box, not even for a bad TYPE.
  system.boxes.clear();
  EXPECT_TRUE(Run(procs + "[Q]\nMODE=MSGBOX\nFLAG=M,1\nTYPE=BOGUS\nTEXT=t\nISABORT=\n", "M,Q"));
  EXPECT_TRUE(system.boxes.empty());

  // A FLAG naming a later procedure compares with 0; a non-number item reads as 0.
  EXPECT_TRUE(
      Run(procs + "[Q]\nMODE=MSGBOX\nFLAG=E,zero\nTYPE=Information\nTEXT=t\nISABORT=0,1\n", "Q,E"));
  EXPECT_EQ(1u, system.boxes.size());
}

TEST_F(RunTest, MsgBoxErrors) {
  EXPECT_FALSE(Run("[Q]\nMODE=MSGBOX\nFLAG= Nobody , 1\nTYPE=ERROR\nTEXT=t\nISABORT=\n", "Q"));
  EXPECT_EQ("シンボルが正しくありません。\n\nシンボル：\"Nobody , 1\"", Box(0));
  system.boxes.clear();
  FreeAllLists();
  EXPECT_FALSE(Run("[Q]\nMODE=MSGBOX\nFLAG=\nTYPE=Note\nTEXT=t\nISABORT=\n", "Q"));
  EXPECT_EQ("シンボルが正しくありません。\n\nシンボル：\"Note\"", Box(0));
  system.boxes.clear();
  FreeAllLists();
  // INFORMATION with ISABORT 1,0 stops after OK.
  EXPECT_FALSE(Run("[Q]\nMODE=MSGBOX\nFLAG=single\nTYPE=INFORMATION\nTEXT=t\nISABORT=1,0\n", "Q"));
  EXPECT_EQ(1u, system.boxes.size());
  EXPECT_EQ(1, Flag("Q"));
}

TEST_F(RunTest, SwitchRunsTheBranchOfTheFlagInItsOwnList) {
  dir.Write("old.dat", "x");
  const std::string script =
      "[CHECK]\nMODE=EXIST\nFILE=<Src>/old.dat\n"
      "[GO]\nMODE=SWITCH\nPROC= CHECK \n1=YES1, INNER\n0=\n"
      "[YES1]\nMODE=COPY\nFROM=<Src>/old.dat\nTO=<Src>/copied.dat\n"
      "[INNER]\nMODE=SWITCH\nPROC=YES1\n1=DEL\n0=\n"
      "[DEL]\nMODE=DELETE\nFILE=<Src>/old.dat\n";
  EXPECT_TRUE(Run(script, "CHECK,GO"));
  EXPECT_TRUE(dir.Exists("copied.dat"));
  EXPECT_FALSE(dir.Exists("old.dat"));
  EXPECT_EQ(0, CurrentRun().listStack.count);

  // Now the file is gone: the empty "0" branch is message 4 naming GO and "0".
  EXPECT_FALSE(Run(script, "CHECK,GO"));
  EXPECT_EQ(
      "設定パラメータのアイテム数が正しくありません。\n\nセクション：\"GO\"\nパラメータ：\"0\"",
      Box(0));
}

TEST_F(RunTest, SwitchLooksOnlyInTheRunningList) {
  const std::string script =
      "[E]\nMODE=EXIST\nFILE=<Src>\n"
      "[GO]\nMODE=SWITCH\nPROC=E\n1=INNER\n0=INNER\n"
      "[INNER]\nMODE=SWITCH\nPROC=E\n1=E\n0=E\n";
  EXPECT_FALSE(Run(script, "E,GO"));
  EXPECT_EQ("シンボルが正しくありません。\n\nシンボル：\"E\"", Box(0));
  EXPECT_EQ(2, CurrentRun().listStack.count);
}

TEST_F(RunTest, SwitchThatLeadsBackToItselfStopsAtTheDepthBound) {
  const std::string script =
      "[E]\nMODE=EXIST\nFILE=<Src>\n"
      "[LOOP]\nMODE=SWITCH\nPROC=E\n1=E,LOOP\n0=E,LOOP\n";
  EXPECT_FALSE(Run(script, "E,LOOP"));
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_EQ("メモリが不足しています。\n\nオブジェクト：\"LOOP\"", Box(0));
  EXPECT_EQ(kMaxListDepth, CurrentRun().listStack.count);
  FreeAllLists();
  EXPECT_EQ(0, CurrentRun().listStack.count);
}

TEST_F(RunTest, DateFlagsTheFirstOlderOrUnreadableFile) {
  dir.Write("old", "1");
  dir.Write("new", "1");
  SetDate("old", 2001, 7, 4);
  SetDate("new", 2001, 7, 5);
  // A successful run frees its list; read the flag through a MSGBOX condition instead.
  auto flag = [&](const std::string& files, const char* when) {
    FreeAllLists();
    system.boxes.clear();
    Run("[D]\nMODE=DATE\nFILE=" + files + "\nDATE=" + when +
            "\n[Q]\nMODE=MSGBOX\nFLAG=D,1\nTYPE=ERROR\nTEXT=older\nISABORT=\n",
        "D,Q");
    return system.boxes.size();
  };
  EXPECT_EQ(0u, flag("<Src>/new", "2001/7/5"));
  EXPECT_EQ(1u, flag("<Src>/old", "2001/7/5"));
  EXPECT_EQ(1u, flag("<Src>/new,<Src>/missing", "2001/7/5"));
  EXPECT_EQ(1u, flag("<Src>/missing", "2001/7/5"));
  EXPECT_EQ(0u, flag("<Src>/old", "2001"));
  EXPECT_EQ(1u, flag("<Src>/new", "-1"));
  EXPECT_EQ(1u, flag("<Src>/new", "2001/7/-1"));
}

TEST_F(RunTest, ExistNeedsEveryItem) {
  dir.Write("a.txt", "1");
  auto flag = [&](const std::string& files) {
    FreeAllLists();
    system.boxes.clear();
    Run("[X]\nMODE=EXIST\nFILE=" + files +
            "\n[Q]\nMODE=MSGBOX\nFLAG=X,1\nTYPE=ERROR\nTEXT=all\nISABORT=\n",
        "X,Q");
    return system.boxes.size();
  };
  EXPECT_EQ(1u, flag("<Src>/a.txt, <Src>"));
  EXPECT_EQ(1u, flag("<Src>/*.txt"));
  EXPECT_EQ(0u, flag("<Src>/*.doc"));
  EXPECT_EQ(0u, flag("<Src>/missing,<Src>/a.txt"));
}

TEST_F(RunTest, RunStopsAtTheFirstFailingRecord) {
  dir.Write("a", "1");
  dir.Write("e", "1");
  EXPECT_FALSE(
      Run("[A]\nMODE=DELETE\nFILE=<Src>/a\n[B]\nMODE=EXIST\nFILE=<Src>\n"
          "[C]\nMODE=DELETE\nFILE=<Src>/missing\n[E]\nMODE=DELETE\nFILE=<Src>/e\n",
          "A,B,C,E"));
  EXPECT_FALSE(dir.Exists("a"));
  EXPECT_TRUE(dir.Exists("e"));
  EXPECT_EQ(1, Flag("A"));
  EXPECT_EQ(1, Flag("B"));
  EXPECT_EQ(1u, system.boxes.size());
  ProcedureRecord* empty[] = {nullptr};
  EXPECT_TRUE(RunProcedureList(empty));
}

}  // namespace
}  // namespace kestario
