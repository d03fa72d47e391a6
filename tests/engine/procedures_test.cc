#include "engine/procedures.h"

#include <string>

#include <gtest/gtest.h>

#include "engine/context.h"
#include "engine/driver.h"
#include "engine/run_state.h"
#include "support/allocation_budget.h"
#include "support/script_test.h"
#include "text/byte_buffer.h"

namespace kestario {
namespace {

class ProceduresTest : public ScriptTest {
 protected:
  ProcedureList Build(const std::string& script, const char* commaList) {
    WriteScript(script);
    Prepare();
    return BuildProcedureList(TextString(commaList), "UPDATER", "PROC");
  }
};

constexpr const char* kThree =
    "[A]\nMODE=EXIST\nFILE=x\n"
    "[B]\nMODE=delete\nFILE=y\n"
    "[C]\nMODE=MsgBox\nFLAG=\nTYPE=ERROR\nTEXT=t\nISABORT=\n";

TEST_F(ProceduresTest, BuildsOneRecordPerItemAndPushesTheList) {
  ProcedureList list = Build(kThree, " A ,B,C, a");
  ASSERT_NE(nullptr, list);
  EXPECT_EQ(list, TopList());
  EXPECT_EQ(1, CurrentRun().listStack.count);
  ASSERT_NE(nullptr, list[3]);
  EXPECT_EQ(nullptr, list[4]);
  EXPECT_STREQ("A", list[0]->name.GetConstText());
  EXPECT_STREQ("delete", list[1]->mode.GetConstText());
  EXPECT_STREQ("y", static_cast<DeleteRecord*>(list[1])->file.GetConstText());
  EXPECT_NE(list[0], list[3]);
  EXPECT_EQ(list[0], FindProcedure(list, "a"));
  EXPECT_EQ(list[2], FindProcedure(list, "c"));
  EXPECT_EQ(nullptr, FindProcedure(list, "D"));
  EXPECT_EQ(nullptr, FindProcedure(nullptr, "A"));
  EXPECT_TRUE(system.boxes.empty());
}

TEST_F(ProceduresTest, EmptyListIsReportedWithItsOrigin) {
  EXPECT_EQ(nullptr, Build(kThree, ""));
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_NE(std::string::npos, system.boxes[0].text.find("アイテム数"));
  EXPECT_NE(std::string::npos, system.boxes[0].text.find("\"UPDATER\"\nパラメータ：\"PROC\""));
  EXPECT_EQ(0, CurrentRun().listStack.count);
}

TEST_F(ProceduresTest, MissingSectionOrModeIsMessageTwoAndNothingIsPushed) {
  EXPECT_EQ(nullptr, Build(kThree, "A,Z"));
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_NE(std::string::npos, system.boxes[0].text.find("\"Z\"\nパラメータ：\"MODE\""));
  EXPECT_EQ(0, CurrentRun().listStack.count);

  system.boxes.clear();
  EXPECT_EQ(nullptr, Build(kThree, "A,B,"));
  EXPECT_NE(std::string::npos, system.boxes[0].text.find("：\"\"\nパラメータ：\"MODE\""));
}

TEST_F(ProceduresTest, UnknownModeShowsTheExpandedValue) {
  EXPECT_EQ(nullptr, Build("[DEFINE]\n<M>=RENAME\n[A]\nMODE=<M>\n", "A"));
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_NE(std::string::npos, system.boxes[0].text.find("シンボル：\"RENAME\""));
}

TEST_F(ProceduresTest, OnlyTheFirstMissingKeyIsReportedAndLaterSectionsAreNotRead) {
  std::string script = std::string(kThree) +
                       "[D]\nMODE=COPY\nTO=z\n"  // FROM missing, TO present
                       "[E]\nMODE=BOGUS\n";
  EXPECT_EQ(nullptr, Build(script, "A,B,D,E"));
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_NE(std::string::npos, system.boxes[0].text.find("\"D\"\nパラメータ：\"FROM\""));
}

TEST_F(ProceduresTest, EveryKindReadsItsKeys) {
  std::string script =
      "[L]\nMODE=LAUNCH\nFILE=f\nPARAM=p\nISWAIT=1\n"
      "[L2]\nMODE=LAUNCH\nFILE=f\nPARAM=\nISWAIT=yes\n"
      "[C]\nMODE=COPY\nFROM=a\nTO=b\n"
      "[S]\nMODE=SWITCH\nPROC=L\n0=x\n1=\n"
      "[D]\nMODE=DATE\nFILE=f\nDATE=2001/7/5\n";
  ProcedureList list = Build(script, "L,L2,C,S,D");
  ASSERT_NE(nullptr, list) << BoxSummary();
  EXPECT_EQ(1, static_cast<LaunchRecord*>(list[0])->isWait);
  EXPECT_EQ(0, static_cast<LaunchRecord*>(list[1])->isWait);
  EXPECT_STREQ("b", static_cast<CopyRecord*>(list[2])->to.GetConstText());
  EXPECT_STREQ("x", static_cast<SwitchRecord*>(list[3])->branch0.GetConstText());
  EXPECT_STREQ("2001/7/5", static_cast<DateRecord*>(list[4])->date.GetConstText());

  for (const char* missing :
       {"[L]\nMODE=LAUNCH\nFILE=f\nPARAM=p\n", "[S]\nMODE=SWITCH\nPROC=L\n0=x\n"}) {
    FreeAllLists();
    system.boxes.clear();
    EXPECT_EQ(nullptr, Build(missing, missing[1] == 'L' ? "L" : "S"));
    ASSERT_EQ(1u, system.boxes.size());
    EXPECT_NE(std::string::npos, system.boxes[0].text.find(missing[1] == 'L' ? "ISWAIT" : "\"1\""));
  }
}

TEST_F(ProceduresTest, PushKeepsTheStackWhenMemoryRunsOut) {
  ProcedureList first = Build(kThree, "A");
  ASSERT_NE(nullptr, first);
  ProcedureList second = static_cast<ProcedureList>(AllocateBlock(sizeof(ProcedureRecord*)));
  second[0] = nullptr;
  g_allocations_left = 0;
  SetAllocationGate(&LimitedGate);
  EXPECT_FALSE(PushList(second));
  SetAllocationGate(nullptr);
  g_allocations_left = -1;
  EXPECT_EQ(1, CurrentRun().listStack.count);
  EXPECT_EQ(first, TopList());
  EXPECT_FALSE(PushList(nullptr));
  ASSERT_TRUE(PushList(second));
  EXPECT_EQ(second, ListAt(1));
  EXPECT_EQ(nullptr, ListAt(-1));
  EXPECT_EQ(1, FreeList(second));
  EXPECT_EQ(first, TopList());
}

TEST_F(ProceduresTest, RemoveWithoutMemoryStillRemoves) {
  ProcedureList first = Build(kThree, "A");
  ProcedureList second = Build(kThree, "B");
  ProcedureList third = Build(kThree, "C");
  ASSERT_NE(nullptr, third);
  g_allocations_left = 0;
  SetAllocationGate(&LimitedGate);
  EXPECT_EQ(2, RemoveList(second));
  SetAllocationGate(nullptr);
  g_allocations_left = -1;
  EXPECT_EQ(first, ListAt(0));
  EXPECT_EQ(third, ListAt(1));
  ProcedureList fourth = Build(kThree, "B");
  EXPECT_EQ(fourth, ListAt(2));
  EXPECT_EQ(3, CurrentRun().listStack.count);
  FreeList(second);  // never on the stack now: destroyed, stack unchanged
  EXPECT_EQ(3, CurrentRun().listStack.count);
  FreeAllLists();
  EXPECT_EQ(0, CurrentRun().listStack.count);
  EXPECT_EQ(nullptr, TopList());
  FreeAllLists();
}

bool RefuseRecords(size_t size) { return size != sizeof(ExistRecord); }
bool RefuseLists(size_t size) { return size != 4 * sizeof(ProcedureRecord*); }

TEST_F(ProceduresTest, ListThatCannotBeAllocatedIsNamed) {
  WriteScript(kThree);
  Prepare();
  SetAllocationGate(&RefuseLists);
  ProcedureList list = BuildProcedureList(TextString("A,B,C"), "UPDATER", "PROC");
  SetAllocationGate(nullptr);
  EXPECT_EQ(nullptr, list);
  ASSERT_EQ(1u, system.boxes.size());
  EXPECT_NE(std::string::npos, system.boxes[0].text.find("\"ProcList\""));
}

TEST_F(ProceduresTest, RecordThatCannotBeAllocatedIsNamed) {
  WriteScript(kThree);
  Prepare();
  SetAllocationGate(&RefuseRecords);
  ProcedureRecord* record = CreateExistRecord(TextString("A"));
  SetAllocationGate(nullptr);
  EXPECT_EQ(nullptr, record);
  ASSERT_FALSE(system.boxes.empty());
  EXPECT_NE(std::string::npos, system.boxes[0].text.find("EXIST_INFO"));
}

// Each list build reads the script as it is when the build begins: a script changed between two
// builds (by a program that a LAUNCH started, say) is read again, while a change in the middle of
// a build is not seen by the rest of it.
TEST_F(ProceduresTest, EachListBuildReadsTheScriptAsItIsWhenItBegins) {
  WriteScript("[UPDATER]\nNAME=\nPROC=A\n[A]\nMODE=EXIST\nFILE=x\n");
  ASSERT_TRUE(StartUp(""));
  ProcedureList first = BuildProcedureList(TextString("A"), "UPDATER", "PROC");
  ASSERT_NE(nullptr, first);
  EXPECT_STREQ("EXIST", first[0]->mode.GetConstText());
  FreeList(first);

  WriteScript("[UPDATER]\nNAME=\nPROC=A\n[A]\nMODE=DELETE\nFILE=changed\n");
  ProcedureList second = BuildProcedureList(TextString("A"), "UPDATER", "PROC");
  ASSERT_NE(nullptr, second);
  EXPECT_STREQ("DELETE", second[0]->mode.GetConstText());
  EXPECT_STREQ("changed", static_cast<DeleteRecord*>(second[0])->file.GetConstText());
  FreeList(second);

  // A's FILE looks an application up in the registry; the script changes right then.
  WriteScript("[A]\nMODE=EXIST\nFILE={?App\\tool.exe}\n[B]\nMODE=EXIST\nFILE=b\n");
  system.onRegistryOpen = [this] {
    WriteScript("[A]\nMODE=EXIST\nFILE=gone\n[B]\nMODE=DELETE\nFILE=other file\n");
  };
  ProcedureList third = BuildProcedureList(TextString("A,B"), "UPDATER", "PROC");
  system.onRegistryOpen = nullptr;
  ASSERT_NE(nullptr, third);
  EXPECT_STREQ("EXIST", third[1]->mode.GetConstText());
  EXPECT_STREQ("b", static_cast<ExistRecord*>(third[1])->file.GetConstText());
  FreeList(third);
  EXPECT_TRUE(system.boxes.empty());
}

}  // namespace
}  // namespace kestario
