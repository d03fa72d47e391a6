#include <string>

#include <gtest/gtest.h>

#include "engine/context.h"
#include "engine/procedures.h"
#include "support/script_test.h"

namespace kestario {
namespace {

class FindProcedureTest : public ScriptTest {
 protected:
  // A script of `count` EXIST sections P0 ... and the comma list naming them all, then `extra`.
  ProcedureList BuildLong(int count, const std::string& extra) {
    std::string script;
    std::string names;
    for (int i = 0; i < count; ++i) {
      script += "[P" + std::to_string(i) + "]\nMODE=EXIST\nFILE=f" + std::to_string(i) + "\n";
      names += (i ? "," : "") + std::string("P") + std::to_string(i);
    }
    WriteScript(script);
    Prepare();
    return BuildProcedureList(TextString((names + extra).c_str()), "UPDATER", "PROC");
  }

  // The record that a scan of the list finds first.
  static ProcedureRecord* Scan(ProcedureList list, const char* name) {
    for (ProcedureRecord** record = list; *record != nullptr; ++record) {
      if ((*record)->name.IsEqualNoCase(name)) return *record;
    }
    return nullptr;
  }
};

TEST_F(FindProcedureTest, LongListsFindTheFirstRecordOfANameIgnoringCase) {
  // The same sections again, in another letter case: the first record of each name wins.
  ProcedureList list = BuildLong(300, ",p5,P299,p0,p150");
  ASSERT_NE(nullptr, list) << BoxSummary();
  for (const char* name :
       {"P0", "p0", "P5", "p5", "P150", "P299", "p299", "P300", "P", "", "P05", " P5", "P5 "}) {
    EXPECT_EQ(Scan(list, name), FindProcedure(list, name)) << name;
  }
  EXPECT_EQ(list[5], FindProcedure(list, "p5"));
  EXPECT_EQ(list[0], FindProcedure(list, "P0"));
  EXPECT_EQ(nullptr, FindProcedure(list, "P300"));
  EXPECT_EQ(Scan(list, ""), FindProcedure(list, nullptr));
  for (int i = 0; i < 300; ++i) {
    std::string name = "p" + std::to_string(i);
    ASSERT_EQ(list[i], FindProcedure(list, name.c_str())) << name;
  }
}

TEST_F(FindProcedureTest, AFreedListLeavesNothingForTheNextOne) {
  for (int round = 0; round < 3; ++round) {
    ProcedureList list = BuildLong(40 + round, "");
    ASSERT_NE(nullptr, list) << BoxSummary();
    EXPECT_EQ(list[39], FindProcedure(list, "P39"));
    EXPECT_EQ(round > 0 ? list[40] : nullptr, FindProcedure(list, "P40"));
    FreeList(list);
  }
}

TEST_F(FindProcedureTest, NestedListsAreLookedUpEachInItself) {
  ProcedureList outer = BuildLong(50, "");
  ProcedureList inner = BuildLong(20, ",P0");
  ASSERT_NE(nullptr, inner) << BoxSummary();
  EXPECT_EQ(outer[45], FindProcedure(outer, "P45"));
  EXPECT_EQ(nullptr, FindProcedure(inner, "P45"));
  EXPECT_EQ(inner[0], FindProcedure(inner, "P0"));
  EXPECT_EQ(outer[0], FindProcedure(outer, "p0"));
  FreeList(inner);
  EXPECT_EQ(outer[49], FindProcedure(TopList(), "P49"));
  FreeAllLists();
}

}  // namespace
}  // namespace kestario
