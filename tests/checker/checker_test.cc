#include "tools/checker/checker.h"

#include <sys/stat.h>

#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "support/fake_system.h"
#include "support/script_test.h"
#include "tools/checker/report_format.h"

namespace kestario {
namespace checker {
namespace {

class CheckerTest : public ::testing::Test {
 protected:
  Report Check(const std::string& script) {
    dir.Write("updater.ini", script);
    Report report;
    std::string problem;
    EXPECT_TRUE(CheckScript(dir.Path("updater.ini"), "updater.ini", &report, &problem)) << problem;
    return report;
  }

  // The number of findings of that severity, section and key whose message holds `text`, on
  // `line` (0: any line).
  static int Count(const Report& report, Severity severity, int line, const std::string& section,
                   const std::string& key, const std::string& text) {
    int count = 0;
    for (const Finding& finding : report.findings) {
      if (finding.severity == severity && (line == 0 || finding.line == line) &&
          finding.section == section && finding.key == key &&
          finding.message.find(text) != std::string::npos) {
        ++count;
      }
    }
    return count;
  }
  static bool HasError(const Report& report, int line, const std::string& section,
                       const std::string& key, const std::string& text) {
    return Count(report, Severity::kError, line, section, key, text) == 1;
  }
  static bool HasWarning(const Report& report, int line, const std::string& section,
                         const std::string& key, const std::string& text) {
    return Count(report, Severity::kWarning, line, section, key, text) == 1;
  }

  // A script and one finding it must bring: its line, section and key and a part of its
  // message; and how many errors the script brings in all (-1: not counted).
  struct OneFinding {
    const char* what;
    std::string script;
    int line;
    const char* section;
    const char* key;
    const char* text;
    int errors = -1;
  };
  void ExpectEach(Severity severity, std::initializer_list<OneFinding> cases) {
    for (const OneFinding& c : cases) {
      Report report = Check(c.script);
      EXPECT_EQ(1, Count(report, severity, c.line, c.section, c.key, c.text))
          << c.what << "\n"
          << FormatFindings(report);
      if (c.errors >= 0) {
        EXPECT_EQ(c.errors, report.errors()) << c.what;
      }
    }
  }

  TempDir dir;
  FakeSystem system;
};

// A complete, clean script around one procedure section named P, listed alone by UPDATER.
std::string Around(const std::string& section) {
  return "[UPDATER]\nNAME=T\nPROC=P\n[P]\n" + section;
}

TEST_F(CheckerTest, LogIsReportedExpandedAndWarnedWhereItWouldGoNowhereOrSpoilAFile) {
  const std::string lists =
      "[S]\nMODE=SWITCH\nPROC=S\n1=\n0=C, D, E, F, G\n"
      "[C]\nMODE=COPY\nFROM=<Src>/a\nTO=<Src>/b, <Src>/./run.log\n"
      "[D]\nMODE=DELETE\nFILE=<Src>/gone.log\n[E]\nMODE=EXIST\nFILE=<Src>/seen.log\n"
      "[F]\nMODE=DATE\nFILE=<Src>/dated.log\nDATE=2020/1/1\n"
      "[G]\nMODE=COPY\nFROM=<Src>/read.log\nTO=<Src>/c\n";
  Report report = Check("[UPDATER]\nNAME=T\nPROC=S\nLOG=<Src>/<Computer>.log\n" + lists);
  EXPECT_EQ(dir.Path("PC-417.log"), report.log);
  EXPECT_EQ(0, Count(report, Severity::kWarning, 0, "UPDATER", "LOG", ""));
  EXPECT_NE(std::string::npos, FormatPlan(report).find("log: \"" + dir.Path("PC-417.log")));

  EXPECT_TRUE(HasWarning(Check("[UPDATER]\nNAME=T\nPROC=S\nLOG=<Src>/run.log\n" + lists), 4,
                         "UPDATER", "LOG", "the file that [C] copies over"));
  EXPECT_TRUE(HasWarning(Check("[UPDATER]\nNAME=T\nPROC=S\nLOG=<Src>/gone.log\n" + lists), 4,
                         "UPDATER", "LOG", "the file that [D] deletes"));
  EXPECT_TRUE(HasWarning(Check("[UPDATER]\nNAME=T\nPROC=S\nLOG=<Src>/updater.ini\n" + lists), 4,
                         "UPDATER", "LOG", "the script itself"));
  EXPECT_TRUE(HasWarning(Check("[UPDATER]\nNAME=T\nPROC=S\nLOG=<Src>/no/run.log\n" + lists), 4,
                         "UPDATER", "LOG", "does not exist on this machine"));
  // Files that a procedure reads.
  const std::pair<const char*, const char*> reads[] = {
      {"seen.log", "the file that [E] looks for"},
      {"dated.log", "the file that [F] takes the date of"},
      {"read.log", "the file that [G] copies: "}};
  for (const auto& read : reads) {
    EXPECT_TRUE(HasWarning(
        Check(std::string("[UPDATER]\nNAME=T\nPROC=S\nLOG=<Src>/") + read.first + "\n" + lists), 4,
        "UPDATER", "LOG", read.second))
        << read.first;
  }
  // What is no log: a folder, a named pipe, a device, the program (by its name beside the script).
  mkdir(dir.Path("folder").c_str(), 0755);
  mkfifo(dir.Path("pipe").c_str(), 0600);
  for (const char* named : {"<Src>/folder", "<Src>/pipe", "/dev/null", "<Src>/updater.run"}) {
    EXPECT_TRUE(
        HasWarning(Check(std::string("[UPDATER]\nNAME=T\nPROC=S\nLOG=") + named + "\n" + lists), 4,
                   "UPDATER", "LOG", "the run would write no log"))
        << named;
  }
  report = Check("[UPDATER]\nNAME=T\nPROC=S\nLOG=\n" + lists);
  EXPECT_EQ("", report.log);
  EXPECT_EQ(std::string::npos, FormatFindings(report).find("run log"));
}

// --- Clean scripts ---------------------------------------------------------------------------

TEST_F(CheckerTest, TheBundledExampleChecksClean) {
  std::ifstream in(std::string(KESTARIO_SOURCE_DIR) + "/examples/updater.ini", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  ASSERT_FALSE(text.str().empty());
  Report report = Check(text.str());
  EXPECT_EQ(0, report.errors()) << FormatFindings(report);
  EXPECT_EQ(0, report.warnings()) << FormatFindings(report);
}

TEST_F(CheckerTest, EveryKindWithAllItsKeysChecksClean) {
  Report report = Check(
      "[UPDATER]\nNAME=T\nPROC=E, D, M, S\n"
      "[E]\nMODE=exist\nFILE=<Src>/a\n"
      "[D]\nMODE=DATE\nFILE=<Src>/a\nDATE=2024/4/1\n"
      "[M]\nMODE=MsgBox\nFLAG=E, 1\nTYPE=question\nTEXT=Go on?\\nReally?\nISABORT=0, 1\n"
      "[S]\nMODE=SWITCH\nPROC=M\n1=X, C, L\n0=E\n"
      "[X]\nMODE=DELETE\nFILE=<Src>/a\n"
      "[C]\nMODE=COPY\nFROM=<Src>/a, <Src>/b\nTO=<Src>/c, <Src>/d\n"
      "[L]\nMODE=LAUNCH\nFILE=<Src>/tool, <Src>/other\nPARAM=\nISWAIT= 1\n");
  EXPECT_EQ(0, report.errors()) << FormatFindings(report);
  EXPECT_EQ(0, report.warnings()) << FormatFindings(report);
}

// --- Errors ------------------------------------------------------------------------------------

// Scripts that each bring an error: where it is reported and a part of its message.
TEST_F(CheckerTest, ErrorsAreReportedWhereTheyStand) {
  ExpectEach(
      Severity::kError,
      {
          {"a missing [UPDATER] is reported on line 1 for NAME", "[A]\nMODE=EXIST\nFILE=x\n", 1,
           "UPDATER", "NAME", "section [UPDATER] does not exist"},
          {"and for PROC", "[A]\nMODE=EXIST\nFILE=x\n", 1, "UPDATER", "PROC",
           "section [UPDATER] does not exist"},
          {"a missing NAME is reported", "\n[UPDATER]\nOTHER=1\n", 2, "UPDATER", "NAME",
           "key is missing (message 2)"},
          {"and a missing PROC beside it", "\n[UPDATER]\nOTHER=1\n", 2, "UPDATER", "PROC",
           "key is missing (message 2)"},
          {"NO_DATA in any case counts as missing", "[UPDATER]\nNAME=No_Data\nPROC=nO_dAtA\n", 2,
           "UPDATER", "NAME", "\"No_Data\" counts as a missing key"},
          {"in PROC too", "[UPDATER]\nNAME=No_Data\nPROC=nO_dAtA\n", 3, "UPDATER", "PROC",
           "\"nO_dAtA\" counts as a missing key"},
          {"an empty item of a procedure list",
           "[UPDATER]\nNAME=T\nPROC=A,,A\n[A]\nMODE=EXIST\nFILE=x\n", 3, "UPDATER", "PROC",
           "item 2 of \"A,,A\" is empty", 1},
          {"a missing section, on line 1 with where it was named",
           "[UPDATER]\nNAME=T\nPROC=CHECK\n[CHEK]\nMODE=EXIST\nFILE=x\n", 1, "CHECK", "MODE",
           "section [CHECK] does not exist (named by [UPDATER] PROC at line 3) (did you mean "
           "[CHEK] "
           "at line 4?)"},
          {"a missing MODE, on the header line", Around("FILE=x\n"), 4, "P", "MODE",
           "key is missing"},
          {"a key without \"=\" counts as missing", Around("MODE=EXIST\nFILE\n"), 6, "P", "FILE",
           "written without \"=\""},
          {"an empty SWITCH branch",
           "[UPDATER]\nNAME=T\nPROC=E, S\n[E]\nMODE=EXIST\nFILE=x\n"
           "[S]\nMODE=SWITCH\nPROC=E\n1=\n0=E\n",
           10, "S", "1", "the branch is empty", 1},
          {"a MSGBOX TYPE that is none of four",
           Around("MODE=MSGBOX\nFLAG=\nTYPE=QUESTIONS\nTEXT=t\nISABORT=\n"), 7, "P", "TYPE",
           "\"QUESTIONS\" is none of ERROR, INFORMATION, WARNING, QUESTION"},
          {"FLAG names no procedure of its own list",
           "[UPDATER]\nNAME=T\nPROC=CHECK, ASK, GO\n"
           "[CHECK]\nMODE=EXIST\nFILE=x\n"
           "[ASK]\nMODE=MSGBOX\nFLAG=CHEK, 1\nTYPE=QUESTION\nTEXT=t\nISABORT=0, 1\n"
           "[GO]\nMODE=SWITCH\nPROC=ASK\n1=CHECK\n0=CHECK\n",
           9, "ASK", "FLAG", "[ASK] FLAG: \"CHEK\" names no procedure of its list (CHECK, ASK, GO)",
           1},
          {"FLAG does not see the enclosing list",
           "[UPDATER]\nNAME=Flags\nPROC=OUTER, GO\n[OUTER]\nMODE=EXIST\nFILE=<Src>\n"
           "[GO]\nMODE=SWITCH\nPROC=OUTER\n1=ASK\n0=ASK\n"
           "[ASK]\nMODE=MSGBOX\nFLAG= OUTER , 1\nTYPE=ERROR\nTEXT=t\nISABORT=\n",
           14, "ASK", "FLAG", "\"OUTER\" names no procedure of its list (ASK)"},
          {"SWITCH PROC names no procedure of its own list",
           "[UPDATER]\nNAME=T\nPROC=E, GO\n[E]\nMODE=EXIST\nFILE=x\n"
           "[GO]\nMODE=SWITCH\nPROC= F \n1=E\n0=E\n",
           9, "GO", "PROC", "\"F\" names no procedure of its list (E, GO)"},
          {"a loop, naming the path that closes it",
           "[UPDATER]\nNAME=Loop\nPROC=E, LOOP\n[E]\nMODE=EXIST\nFILE=<Src>\n"
           "[LOOP]\nMODE=SWITCH\nPROC=E\n1=E, LOOP\n0=E\n",
           10, "LOOP", "1",
           "([UPDATER] PROC -> [LOOP] 1 -> [LOOP] 1); the program stops at 256 nested lists "
           "(message 3)",
           1},
      });
}

TEST_F(CheckerTest, EmptyProcIsAnError) {
  Report report = Check("[UPDATER]\nNAME=T\nPROC=\n");
  EXPECT_TRUE(HasError(report, 3, "UPDATER", "PROC", "the list is empty"))
      << FormatFindings(report);
  EXPECT_TRUE(report.lists.empty());
}

TEST_F(CheckerTest, ModeThatNamesNoKindIsReportedAfterExpansion) {
  Report report = Check(Around("MODE=<Kind>\nFILE=x\n") + "[DEFINE]\n<Kind>=REMOVE\n");
  EXPECT_TRUE(HasError(report, 5, "P", "MODE", "\"REMOVE\" names no procedure kind"))
      << FormatFindings(report);
  report = Check(Around("MODE=<Kind>\nFILE=x\n") + "[DEFINE]\n<Kind>=delete\n");
  EXPECT_EQ(0, report.errors()) << FormatFindings(report);
}

TEST_F(CheckerTest, EveryMissingKeyOfEveryKindIsReported) {
  struct Case {
    const char* mode;
    std::vector<std::string> keys;
  };
  const Case cases[] = {
      {"DELETE", {"FILE"}},
      {"LAUNCH", {"FILE", "PARAM", "ISWAIT"}},
      {"COPY", {"FROM", "TO"}},
      {"MSGBOX", {"FLAG", "TYPE", "TEXT", "ISABORT"}},
      {"SWITCH", {"PROC", "0", "1"}},
      {"DATE", {"FILE", "DATE"}},
      {"EXIST", {"FILE"}},
  };
  for (const Case& c : cases) {
    Report report = Check(Around(std::string("MODE=") + c.mode + "\n"));
    EXPECT_EQ(static_cast<int>(c.keys.size()), report.errors()) << FormatFindings(report);
    for (const std::string& key : c.keys) {
      EXPECT_TRUE(HasError(report, 4, "P", key, "key is missing (message 2)"))
          << c.mode << " " << key << "\n"
          << FormatFindings(report);
    }
  }
}

TEST_F(CheckerTest, EmptyFileListsThatMustHaveItemsAreErrors) {
  for (const char* mode : {"DELETE", "DATE", "EXIST"}) {
    Report report = Check(Around(std::string("MODE=") + mode + "\nFILE=\nDATE=2024/1/1\n"));
    EXPECT_TRUE(HasError(report, 6, "P", "FILE", "the list is empty")) << mode << "\n"
                                                                       << FormatFindings(report);
  }
  Report launch = Check(Around("MODE=LAUNCH\nFILE=\nPARAM=\nISWAIT=0\n"));
  EXPECT_TRUE(HasError(launch, 6, "P", "FILE", "the list is empty")) << FormatFindings(launch);
  Report copy = Check(Around("MODE=COPY\nFROM=\nTO=\n"));
  EXPECT_TRUE(HasError(copy, 6, "P", "FROM", "the list is empty")) << FormatFindings(copy);
  EXPECT_EQ(1, copy.errors()) << FormatFindings(copy);  // an empty TO alone is no error
}

TEST_F(CheckerTest, HashItemsMustBePinsAndNoMoreThanTheFilesTheyPin) {
  const std::string pin(64, 'a');
  Report copy = Check(Around("MODE=COPY\nFROM=a, b\nTO=c, d\nHASH=" + pin.substr(1) + ", " +
                             std::string(63, 'B') + "g\n"));
  EXPECT_TRUE(HasError(copy, 8, "P", "HASH", "item 1")) << FormatFindings(copy);
  EXPECT_TRUE(HasError(copy, 8, "P", "HASH", "not a hexadecimal digit")) << FormatFindings(copy);
  Report launch =
      Check(Around("MODE=LAUNCH\nFILE=/bin/true\nPARAM=\nISWAIT=0\nHASH=, " + pin + "\n"));
  EXPECT_EQ(0, launch.errors()) << FormatFindings(launch);
  EXPECT_TRUE(HasWarning(launch, 9, "P", "HASH", "the extra pins pin nothing"))
      << FormatFindings(launch);
  Report clean = Check(Around("MODE=COPY\nFROM=a\nTO=b\nHASH=" + std::string(64, 'F') + "\n"));
  EXPECT_EQ(0, clean.errors() + clean.warnings()) << FormatFindings(clean);
}

TEST_F(CheckerTest, LoopThroughTwoSwitches) {
  Report report = Check(
      "[UPDATER]\nNAME=T\nPROC=E, A\n[E]\nMODE=EXIST\nFILE=x\n"
      "[A]\nMODE=SWITCH\nPROC=E\n1=E, B\n0=E, B\n"
      "[B]\nMODE=SWITCH\nPROC=E\n1=E, A\n0=E\n");
  // Each branch that closes a loop is reported once, with the first path that reaches it.
  EXPECT_TRUE(HasError(report, 10, "A", "1", "([UPDATER] PROC -> [A] 1 -> [B] 1 -> [A] 1)"))
      << FormatFindings(report);
  EXPECT_TRUE(
      HasError(report, 15, "B", "1", "([UPDATER] PROC -> [A] 1 -> [B] 1 -> [A] 0 -> [B] 1)"));
  EXPECT_EQ(2, report.errors()) << FormatFindings(report);
}

TEST_F(CheckerTest, BranchesAreFollowedRecursivelyAndEachListOnce) {
  Report report = Check(
      "[UPDATER]\nNAME=T\nPROC=E, S1, S2\n[E]\nMODE=EXIST\nFILE=x\n"
      "[S1]\nMODE=SWITCH\nPROC=E\n1=E, INNER\n0=E\n"
      "[S2]\nMODE=SWITCH\nPROC=E\n1=E, INNER\n0=E\n"
      "[INNER]\nMODE=SWITCH\nPROC=E\n1=BAD\n0=E\n"
      "[BAD]\nMODE=COPY\nFROM=a\n");
  EXPECT_TRUE(HasError(report, 22, "BAD", "TO", "key is missing")) << FormatFindings(report);
  EXPECT_EQ(1, report.errors()) << FormatFindings(report);
  // UPDATER, [S1] 1, [INNER] 1, [INNER] 0, [S1] 0, [S2] 1, [S2] 0.
  EXPECT_EQ(7u, report.lists.size());
}

// --- Warnings ----------------------------------------------------------------------------------

// Scripts that each bring a warning: where it is reported and a part of its message.
TEST_F(CheckerTest, WarningsAreReportedWhereTheyStand) {
  // An empty item in every kind of file list, with what it does.
  const std::string emptyItems =
      "[UPDATER]\nNAME=T\nPROC=D, C, L, A, E\n"
      "[D]\nMODE=DELETE\nFILE=a,\n"
      "[C]\nMODE=COPY\nFROM=a, ,b\nTO=c,d,\n"
      "[L]\nMODE=LAUNCH\nFILE=,a\nPARAM=\nISWAIT=0\n"
      "[A]\nMODE=DATE\nFILE=a,,b\nDATE=2024/1/1\n"
      "[E]\nMODE=EXIST\nFILE=\" ,a\"\n";
  ExpectEach(
      Severity::kWarning,
      {
          {"an empty DELETE item", emptyItems, 6, "D", "FILE",
           "item 2 of \"a,\" is empty (a stray comma?); deleting an empty name fails", 0},
          {"an empty FROM item", emptyItems, 9, "C", "FROM", "item 2 of \"a, ,b\" is empty"},
          {"an empty TO item", emptyItems, 10, "C", "TO", "item 3 of \"c,d,\" is empty"},
          {"an empty LAUNCH item", emptyItems, 13, "L", "FILE",
           "item 1 of \",a\" is empty (a stray comma?); starting an empty name fails"},
          {"an empty DATE item", emptyItems, 18, "A", "FILE",
           "item 2 of \"a,,b\" is empty (a stray comma?); an empty name cannot be opened"},
          {"an empty EXIST item", emptyItems, 22, "E", "FILE",
           "item 1 of \" ,a\" is empty (a stray comma?); an empty name never exists"},
          {"an angle block without a definition",
           Around("MODE=EXIST\nFILE=<Tmp>/a.txt\n") + "[DEFINE]\n<Temp>=/tmp\n", 6, "P", "FILE",
           "<Tmp> has no definition", 0},
          {"a defined symbol that stays unexpanded",
           Around("MODE=EXIST\nFILE=5 > 3 <Dir>\n") + "[DEFINE]\n<Dir>=/opt\n", 6, "P", "FILE",
           "<Dir> stays as written although it is defined"},
          {"\\n in a definition",
           "[UPDATER]\nNAME=T\nPROC=P\n[DEFINE]\n<Pad>=<Win>\\notepad.exe\n"
           "[P]\nMODE=MSGBOX\nFLAG=\nTYPE=ERROR\nTEXT=<Pad>\nISABORT=\n",
           5, "DEFINE", "<Pad>", "holds \"\\n\", which becomes a line feed"},
          {"FLAG names a procedure later in its list",
           "[UPDATER]\nNAME=T\nPROC=ASK, CHECK\n"
           "[ASK]\nMODE=MSGBOX\nFLAG=check, 1\nTYPE=QUESTION\nTEXT=t\nISABORT=0, 1\n"
           "[CHECK]\nMODE=EXIST\nFILE=x\n",
           6, "ASK", "FLAG",
           "\"check\" comes later in its list, so its flag is still 0 when ASK runs: the condition "
           "compares with 0",
           0},
      });
}

TEST_F(CheckerTest, ValuesOverTheBlockLimitAreReportedAsEmpty) {
  // Each definition doubles the one before: <a23> would be 256 MB, <a22><a22> too.
  std::string define = "[DEFINE]\n<a0>=" + std::string(32, 'x') + "\n";
  for (int i = 1; i <= 23; ++i) {
    define += "<a" + std::to_string(i) + ">=<a" + std::to_string(i - 1) + "><a" +
              std::to_string(i - 1) + ">\n";
  }
  Report report = Check(Around("MODE=COPY\nFROM=<Src>/<a23>\nTO=<a22><a22>\n") + define);
  EXPECT_TRUE(HasWarning(report, 32, "DEFINE", "<a23>", "would pass 256 MB"))
      << FormatFindings(report);
  EXPECT_TRUE(HasWarning(report, 7, "P", "TO", "reads as empty")) << FormatFindings(report);
  ASSERT_FALSE(report.lists.empty());
  EXPECT_EQ(dir.path() + "/", report.lists[0].procedures[0].Value("FROM"));
  EXPECT_EQ("", report.lists[0].procedures[0].Value("TO"));
}

TEST_F(CheckerTest, RegistryBlocksThatThisMachineCannotResolve) {
  system.SetAppPath("tool.exe", "/opt/tool/tool.exe");
  system.SetAppPathValue("tool.exe", "/opt/tool/;");
  Report report =
      Check(Around("MODE=COPY\nFROM={?App\\tool.exe}, {?App\\word.exe}\n"
                   "TO={?AppPath\\tool.exe}/a, {?AppPath\\word.exe}/b\n"));
  EXPECT_TRUE(HasWarning(report, 6, "P", "FROM",
                         "{?App\\word.exe}: the registry of this machine has no App Paths entry "
                         "for \"word.exe\""))
      << FormatFindings(report);
  EXPECT_TRUE(HasWarning(report, 7, "P", "TO",
                         "{?AppPath\\word.exe}: the registry of this machine has no PATH value"));
  EXPECT_EQ(2, report.warnings()) << FormatFindings(report);
}

TEST_F(CheckerTest, RegistryBlockWhoseNameComesFromASymbol) {
  system.SetAppPath("excel.exe", "C:\\Office\\EXCEL.EXE");
  Report report = Check(Around("MODE=EXIST\nFILE={?App\\<Exe>}\n") + "[DEFINE]\n<Exe>=excel.exe\n");
  EXPECT_TRUE(HasWarning(report, 6, "P", "FILE",
                         "{?App\\excel.exe} stays as written although the registry knows"))
      << FormatFindings(report);
}

TEST_F(CheckerTest, BackslashNInAPathBecomesALineFeed) {
  Report report =
      Check(Around("MODE=EXIST\nFILE=<Dir>\\new.txt\n") + "[DEFINE]\n<Dir>=C:\\Tools\n");
  EXPECT_TRUE(HasWarning(report, 6, "P", "FILE",
                         "\"<Dir>\\new.txt\" reads as \"C:\\Tools\" + line feed + \"ew.txt\""))
      << FormatFindings(report);
  report = Check(Around("MODE=EXIST\nFILE=<Dir>\\New.txt\n") + "[DEFINE]\n<Dir>=C:\\Tools\n");
  EXPECT_EQ(0, report.warnings()) << FormatFindings(report);
}

TEST_F(CheckerTest, BackslashNIsMeantForMsgboxText) {
  Report report = Check(Around("MODE=MSGBOX\nFLAG=\nTYPE=ERROR\nTEXT=One\\nTwo\nISABORT=\n"));
  EXPECT_EQ(0, report.warnings()) << FormatFindings(report);
}

TEST_F(CheckerTest, BackslashNInEveryPathKey) {
  Report report = Check(
      "[UPDATER]\nNAME=T\nPROC=L, C, D\n"
      "[L]\nMODE=LAUNCH\nFILE=C:\\new\\a.exe\nPARAM=C:\\names.txt\nISWAIT=0\n"
      "[C]\nMODE=COPY\nFROM=C:\\new.txt\nTO=C:\\now.txt\n"
      "[D]\nMODE=DATE\nFILE=C:\\x\nDATE=\\n2024/1/1\n");
  for (const auto& key :
       {std::make_pair("L", "FILE"), std::make_pair("L", "PARAM"), std::make_pair("C", "FROM"),
        std::make_pair("C", "TO"), std::make_pair("D", "DATE")}) {
    EXPECT_EQ(1, Count(report, Severity::kWarning, 0, key.first, key.second, "line feed"))
        << key.first << " " << key.second << "\n"
        << FormatFindings(report);
  }
}

TEST_F(CheckerTest, PairedListsOfDifferentLengths) {
  Report report = Check(
      "[UPDATER]\nNAME=T\nPROC=L, M, C\n"
      "[L]\nMODE=LAUNCH\nFILE=a, b\nPARAM=/q\nISWAIT=0\n"
      "[M]\nMODE=LAUNCH\nFILE=a, b\nPARAM=\nISWAIT=0\n"
      "[C]\nMODE=COPY\nFROM=a, b\nTO=c\n");
  EXPECT_TRUE(HasWarning(report, 7, "L", "PARAM", "1 item but FILE has 2"))
      << FormatFindings(report);
  EXPECT_EQ(0, Count(report, Severity::kWarning, 0, "M", "PARAM", ""));
  EXPECT_TRUE(HasWarning(report, 17, "C", "TO", "1 item but FROM has 2"));
  EXPECT_EQ(2, report.warnings()) << FormatFindings(report);
}

TEST_F(CheckerTest, RollbackThatIsNotANumberAndInUseThatIsNotReplace) {
  Report report = Check(
      "[UPDATER]\nNAME=T\nPROC=C, D, E\nROLLBACK=yes\n"
      "[C]\nMODE=COPY\nFROM=a\nTO=b\nINUSE=force\n"
      "[D]\nMODE=COPY\nFROM=a\nTO=c\nINUSE=Replace\n"
      "[E]\nMODE=COPY\nFROM=a\nTO=d\n");
  EXPECT_TRUE(
      HasWarning(report, 4, "UPDATER", "ROLLBACK", "\"yes\" is not a number; it reads as 0"))
      << FormatFindings(report);
  EXPECT_TRUE(HasWarning(report, 9, "C", "INUSE", "\"force\" is not REPLACE"));
  EXPECT_EQ(2, report.warnings()) << FormatFindings(report);
  report = Check("[UPDATER]\nNAME=T\nPROC=C\nROLLBACK= 1\n[C]\nMODE=COPY\nFROM=a\nTO=b\n");
  EXPECT_EQ(0, report.warnings()) << FormatFindings(report);
}

TEST_F(CheckerTest, IswaitThatIsNotANumber) {
  Report report = Check(Around("MODE=LAUNCH\nFILE=a\nPARAM=\nISWAIT=yes\n"));
  EXPECT_TRUE(HasWarning(report, 8, "P", "ISWAIT", "\"yes\" is not a number; it reads as 0"))
      << FormatFindings(report);
  report = Check(Around("MODE=LAUNCH\nFILE=a\nPARAM=\nISWAIT=\n"));
  EXPECT_TRUE(HasWarning(report, 8, "P", "ISWAIT", "the value is empty"));
  report = Check(Around("MODE=LAUNCH\nFILE=a\nPARAM=\nISWAIT=-1 (wait)\n"));
  EXPECT_EQ(0, report.warnings()) << FormatFindings(report);
}

TEST_F(CheckerTest, ExitCodeEventLogAndUnseenThatDoNotWorkAsWritten) {
  Report report = Check(
      "[UPDATER]\nNAME=T\nPROC=A, B, C, D\nEXITCODE=yes\nEVENTLOG=on\n"
      "[A]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=t\nISABORT=0, 1\nUNSEEN=maybe\n"
      "[B]\nMODE=MSGBOX\nFLAG=\nTYPE=information\nTEXT=t\nISABORT=\nUNSEEN=yes\n"
      "[C]\nMODE=MSGBOX\nFLAG=\nTYPE=WARNING\nTEXT=t\nISABORT=\nUNSEEN=ok\n"
      "[D]\nMODE=MSGBOX\nFLAG=\nTYPE=ERROR\nTEXT=t\nISABORT=\nUNSEEN=Ok\n");
  EXPECT_TRUE(HasWarning(report, 4, "UPDATER", "EXITCODE",
                         "\"yes\" is not a number; it reads as 0, so the program ends with exit "
                         "code 0 however the run ends"))
      << FormatFindings(report);
  EXPECT_TRUE(HasWarning(report, 5, "UPDATER", "EVENTLOG", "\"on\" is not a number"));
  EXPECT_TRUE(HasWarning(report, 12, "A", "UNSEEN", "\"maybe\" is not OK, YES or NO"));
  EXPECT_TRUE(HasWarning(report, 19, "B", "UNSEEN",
                         "\"yes\" names no button of its box (TYPE \"information\" shows only "
                         "OK); when the box is not shown it answers nothing"));
  EXPECT_TRUE(HasWarning(report, 26, "C", "UNSEEN", "(TYPE \"WARNING\" shows Yes and No)"));
  EXPECT_EQ(5, report.warnings()) << FormatFindings(report);
  EXPECT_EQ(0, report.errors());
  // Numbers, empty values and answers that fit their boxes are quiet.
  report = Check(
      "[UPDATER]\nNAME=T\nPROC=A\nEXITCODE=1\nEVENTLOG=\n"
      "[A]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=t\nISABORT=0, 1\nUNSEEN=No\n");
  EXPECT_EQ(0, report.warnings()) << FormatFindings(report);
  ASSERT_EQ(1u, report.lists.size());
  EXPECT_EQ("No", report.lists[0].procedures[0].Value("UNSEEN"));  // the plan shows it
}

TEST_F(CheckerTest, BatchParametersThatCmdCannotBeGiven) {
  // Item 1 is a batch file given a line feed (from "\n"), item 2 one given its parameters in
  // the item itself, item 3 a program that takes the same PARAM as it is.
  Report report = Check(
      Around("MODE=LAUNCH\nFILE=C:\\x\\Setup.Bat, C:\\x\\run.cmd -a " + std::string(9000, 'b') +
             ", C:\\x\\tool.exe\nPARAM=C:\\data\\new.txt, /q, C:\\data\\new.txt\nISWAIT=0\n"));
  EXPECT_TRUE(HasWarning(report, 7, "P", "PARAM",
                         "the batch file \"C:\\x\\Setup.Bat\" (item 1) cannot be given its "
                         "parameters: they hold a line feed"))
      << FormatFindings(report);
  EXPECT_TRUE(HasWarning(report, 6, "P", "FILE",
                         "the batch file \"C:\\x\\run.cmd\" (item 2) cannot be given its "
                         "parameters: the command line for cmd.exe would pass 8,191 bytes"));
  EXPECT_EQ(0, Count(report, Severity::kWarning, 0, "P", "FILE", "(item 3)"));
  EXPECT_EQ(0, Count(report, Severity::kWarning, 0, "P", "PARAM", "(item 3)"));
  // Metacharacters are escaped, not refused.
  report =
      Check(Around("MODE=LAUNCH\nFILE=C:\\R&D\\setup.bat\nPARAM=a & b | \"c\" %PATH%\n"
                   "ISWAIT=0\n"));
  EXPECT_EQ(0, report.warnings()) << FormatFindings(report);
}

TEST_F(CheckerTest, SectionThatNothingReaches) {
  Report report = Check(Around("MODE=EXIST\nFILE=x\n") +
                        "[DEFINE]\n<A>=1\n[OLD]\nMODE=DELETE\n[Later]\nMODE=EXIST\nFILE=y\n");
  EXPECT_TRUE(HasWarning(report, 9, "OLD", "", "no list reaches this section"))
      << FormatFindings(report);
  EXPECT_TRUE(HasWarning(report, 11, "Later", "", "no list reaches this section"));
  EXPECT_EQ(2, report.warnings()) << FormatFindings(report);
  EXPECT_EQ(0, report.errors()) << FormatFindings(report);
}

TEST_F(CheckerTest, SecondSectionsAndKeysOfTheSameNameAreNeverRead) {
  Report report = Check(Around("MODE=EXIST\nFILE=x\nfile=y\n") + "[p]\nMODE=DELETE\n");
  EXPECT_TRUE(HasWarning(report, 7, "P", "file", "a second file (the first is at line 6)"))
      << FormatFindings(report);
  EXPECT_TRUE(HasWarning(report, 8, "p", "", "a second section [p] (the first is at line 4)"));
}

TEST_F(CheckerTest, DefinitionsThatCannotWorkAsWritten) {
  Report report = Check(Around("MODE=EXIST\nFILE=x\n") +
                        "[DEFINE]\nDir=/opt\n<Opt>=/a=1\n<Src>=/other\n<B>=<Nope>/x\n");
  EXPECT_TRUE(HasWarning(report, 8, "DEFINE", "Dir", "not written in angle brackets"))
      << FormatFindings(report);
  EXPECT_TRUE(HasWarning(report, 9, "DEFINE", "<Opt>", "<Opt> is \"/a\", not \"/a=1\""));
  EXPECT_TRUE(HasWarning(report, 10, "DEFINE", "<Src>", "the built-in <Src> always wins"));
  EXPECT_TRUE(HasWarning(report, 11, "DEFINE", "<B>", "<Nope> has no definition"));
}

// --- Reading and safety ------------------------------------------------------------------------

TEST_F(CheckerTest, EveryFindingNamesFileLineSectionAndKey) {
  Report report = Check(Around("MODE=COPY\nFROM=a,\n"));
  ASSERT_EQ(2u, report.findings.size()) << FormatFindings(report);
  for (const Finding& finding : report.findings) {
    EXPECT_EQ("updater.ini", finding.file);
    EXPECT_EQ("P", finding.section);
    EXPECT_EQ(0u, finding.message.find("[P] " + finding.key + ": ")) << finding.message;
  }
  EXPECT_EQ(
      "updater.ini:4: error: [P] TO: key is missing (message 2) [KU101]\n"
      "updater.ini:6: warning: [P] FROM: item 2 of \"a,\" is empty (a stray comma?); copying "
      "with an empty name fails (message 8) [KU207]\n"
      "updater.ini: 1 error, 1 warning\n",
      FormatFindings(report));
}

// The column is that of the value, else of the key, else of the section's "["; characters are
// counted, not bytes. A comment line right above a line silences the rules it names there, and
// only there; the counts and the status leave the silenced findings out.
TEST_F(CheckerTest, ColumnsAndSilencedFindings) {
  Report report = Check(
      "[UPDATER]\nNAME=T\nPROC=C, C2\n"
      "  [C]\n MODE = COPY\n\xC3\xA9=x\n  FROM =  a,\n\xC3\xA9=y\n"  // TO is missing: line 4
      "[C2]\nMODE=COPY\n"
      "; updater-check: disable-next-line ku207, KU208\n"
      "FROM=a,b,\n"
      "TO=a\n"
      "; updater-check: disable-next-line KU101\n");
  auto column = [&](const std::string& rule, int line) {
    for (const Finding& f : report.findings) {
      if (f.rule == rule && f.line == line) return f.column;
    }
    return -1;
  };
  EXPECT_EQ(3, column("KU101", 4)) << FormatFindings(report);
  EXPECT_EQ(11, column("KU207", 7));
  EXPECT_EQ(3, column("KU222", 8));  // "é" is one character of two bytes
  // Line 12's empty item is silenced; the count mismatch of line 13 is not (the comment is two
  // lines up), and the comment at the end silences nothing.
  EXPECT_EQ(-1, column("KU207", 12));
  EXPECT_EQ(4, column("KU208", 13));
  ASSERT_EQ(1u, report.suppressed.size());
  EXPECT_EQ("KU207", report.suppressed[0].rule);
  EXPECT_EQ(12, report.suppressed[0].line);
  EXPECT_EQ(1, report.errors());
}

TEST_F(CheckerTest, CheckingShowsNoBoxAndChangesNoFile) {
  dir.Write("old.dat", "old");
  dir.Write("fresh.dat", "fresh");
  Report report = Check(
      "[UPDATER]\nNAME=T\nPROC=ASK, DEL, CP, RUN, BAD\n"
      "[ASK]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=t\nISABORT=0, 1\n"
      "[DEL]\nMODE=DELETE\nFILE=<Src>/old.dat\n"
      "[CP]\nMODE=COPY\nFROM=<Src>/fresh.dat\nTO=<Src>/old.dat\n"
      "[RUN]\nMODE=LAUNCH\nFILE=/bin/sh\nPARAM=-c \"touch <Src>/ran\"\nISWAIT=1\n"
      "[BAD]\nMODE=NONE\n");
  EXPECT_EQ(1, report.errors()) << FormatFindings(report);
  EXPECT_TRUE(system.boxes.empty());
  EXPECT_EQ(0, system.deletes);
  EXPECT_EQ(0, system.copies);
  EXPECT_EQ("old", dir.Read("old.dat"));
  EXPECT_FALSE(dir.Exists("ran"));
}

TEST_F(CheckerTest, ScriptThatCannotBeRead) {
  Report report;
  std::string problem;
  EXPECT_FALSE(CheckScript(dir.Path("missing.ini"), "missing.ini", &report, &problem));
  EXPECT_FALSE(problem.empty());
  EXPECT_FALSE(CheckScript(dir.path(), "folder", &report, &problem));
  EXPECT_EQ("it is a folder", problem);
}

TEST_F(CheckerTest, ValuesShowTheBytesThatWouldNotShowByName) {
  EXPECT_EQ("\"C:\\Tools\" + line feed + \"ew.txt\"", QuoteValue("C:\\Tools\new.txt"));
  EXPECT_EQ("\"a\" + tab + \"b\" + byte 0x01 + \"\"", QuoteValue("a\tb\x01"));
  EXPECT_EQ("\"\"", QuoteValue(""));
}

TEST_F(CheckerTest, SourceSymbolIsTheScriptsFolder) {
  Report report = Check(Around("MODE=EXIST\nFILE=<Src>/a, <Win>/b\n"));
  ASSERT_FALSE(report.lists.empty());
  EXPECT_EQ(dir.path() + "/a, /etc/b", report.lists[0].procedures[0].Value("FILE"));
}

}  // namespace
}  // namespace checker
}  // namespace kestario
