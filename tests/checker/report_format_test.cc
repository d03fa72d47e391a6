#include "tools/checker/report_format.h"

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/context.h"
#include "engine/driver.h"
#include "engine/procedures.h"
#include "support/script_test.h"
#include "tools/checker/checker.h"
#include "tools/checker/rules.h"

namespace kestario {
namespace checker {
namespace {

std::string ReadExample() {
  std::ifstream in(std::string(KESTARIO_SOURCE_DIR) + "/examples/updater.ini", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> Names(const PlanList& list) {
  std::vector<std::string> names;
  for (const PlanProcedure& procedure : list.procedures) names.push_back(procedure.name);
  return names;
}

// The section names of a list as the program's own list builder makes it.
std::vector<std::string> BuiltNames(ProcedureList list) {
  std::vector<std::string> names;
  for (ProcedureRecord** record = list; record != nullptr && *record != nullptr; ++record) {
    names.push_back((*record)->name.GetConstText());
  }
  return names;
}

class PlanTest : public ScriptTest {
 protected:
  Report CheckExample() {
    WriteScript(ReadExample());
    Report report;
    std::string problem;
    EXPECT_TRUE(CheckScript(dir.Path("updater.ini"), "updater.ini", &report, &problem));
    return report;
  }
};

TEST_F(PlanTest, ExamplePlanHasTheListsAndBranchesOfTheScript) {
  Report report = CheckExample();
  ASSERT_EQ(3u, report.lists.size());
  const PlanList& first = report.lists[0];
  EXPECT_EQ((std::vector<std::string>{"CHECK", "ASK", "GO"}), Names(first));
  EXPECT_EQ("EXIST", first.procedures[0].kind);
  EXPECT_EQ("MSGBOX", first.procedures[1].kind);
  ASSERT_EQ("SWITCH", first.procedures[2].kind);
  const std::vector<PlanProcedure::Branch>& branches = first.procedures[2].branches;
  ASSERT_EQ(2u, branches.size());
  EXPECT_EQ("1", branches[0].key);
  EXPECT_EQ("0", branches[1].key);
  EXPECT_EQ((std::vector<std::string>{"REMOVE", "INSTALL"}), Names(report.lists[branches[0].list]));
  EXPECT_EQ((std::vector<std::string>{"INSTALL"}), Names(report.lists[branches[1].list]));
  EXPECT_EQ(dir.path() + "/data/old.dat", first.procedures[0].Value("FILE"));
}

TEST_F(PlanTest, ExamplePlanMatchesTheListsTheProgramBuilds) {
  Report report = CheckExample();
  ASSERT_EQ(3u, report.lists.size());

  // The program's own start-up and list builder on the same script.
  system.modulePath = dir.Path("updater.run");
  ASSERT_TRUE(StartUp(""));
  ProcedureList first = BuildProcedureList(g_updaterState.proc, "UPDATER", "PROC");
  ASSERT_NE(nullptr, first);
  EXPECT_EQ(BuiltNames(first), Names(report.lists[0]));
  SwitchRecord* go = static_cast<SwitchRecord*>(FindProcedure(first, "GO"));
  ASSERT_NE(nullptr, go);
  const std::vector<PlanProcedure::Branch>& branches = report.lists[0].procedures[2].branches;
  for (const PlanProcedure::Branch& branch : branches) {
    const TextString& value = branch.key == "1" ? go->branch1 : go->branch0;
    EXPECT_EQ(value.GetConstText(), branch.value);
    ProcedureList built = BuildProcedureList(value, "GO", branch.key.c_str());
    ASSERT_NE(nullptr, built);
    EXPECT_EQ(BuiltNames(built), Names(report.lists[branch.list])) << branch.key;
    for (size_t i = 0; i < report.lists[branch.list].procedures.size(); ++i) {
      EXPECT_EQ(built[i]->mode.GetConstText(), report.lists[branch.list].procedures[i].kind);
    }
    FreeList(built);
  }
  FreeList(first);
  EXPECT_TRUE(system.boxes.empty());
}

TEST_F(PlanTest, ExamplePlanText) {
  std::string expected =
      "[UPDATER] PROC: CHECK, ASK, GO\n"
      "  CHECK  EXIST   FILE=\"{D}/data/old.dat\"\n"
      "  ASK    MSGBOX  FLAG=\"CHECK, 1\" TYPE=\"QUESTION\" TEXT=\"Replace the old data?\" + "
      "line feed + \"({D}/data/old.dat)\" ISABORT=\"0, 1\"\n"
      "  GO     SWITCH  PROC=\"ASK\"\n"
      "    1: REMOVE, INSTALL\n"
      "      REMOVE   DELETE  FILE=\"{D}/data/old.dat\"\n"
      "      INSTALL  COPY    FROM=\"{D}/fresh.dat\" TO=\"{D}/data/fresh.dat\"\n"
      "    0: INSTALL\n"
      "      INSTALL  COPY  FROM=\"{D}/fresh.dat\" TO=\"{D}/data/fresh.dat\"\n";
  for (size_t at = expected.find("{D}"); at != std::string::npos; at = expected.find("{D}")) {
    expected.replace(at, 3, dir.path());
  }
  EXPECT_EQ(expected, FormatPlan(CheckExample()));
}

TEST_F(PlanTest, ExampleDotHasOneNodePerListAndOneEdgePerBranch) {
  std::string dot = FormatDot(CheckExample());
  EXPECT_EQ(0u, dot.find("digraph plan {\n"));
  EXPECT_NE(std::string::npos,
            dot.find("list0 [label=\"{[UPDATER] PROC|<p0> CHECK: EXIST|<p1> ASK: MSGBOX if "
                     "CHECK = 1|<p2> GO: SWITCH on ASK}\", style=bold];"))
      << dot;
  EXPECT_NE(std::string::npos, dot.find("list1 [label=\"{[GO] 1|<p0> REMOVE: DELETE|<p1> "
                                        "INSTALL: COPY}\"];"));
  EXPECT_NE(std::string::npos, dot.find("list2 [label=\"{[GO] 0|<p0> INSTALL: COPY}\"];"));
  EXPECT_NE(std::string::npos, dot.find("list0:p2 -> list1 [label=\"1\"];"));
  EXPECT_NE(std::string::npos, dot.find("list0:p2 -> list2 [label=\"0\"];"));
  EXPECT_EQ(dot.size() - 2, dot.rfind("}\n"));
}

TEST_F(PlanTest, PlanShowsLoopsEmptyBranchesAndBrokenProcedures) {
  WriteScript(
      "[UPDATER]\nNAME=T\nPROC=E, S, NOPE\n[E]\nMODE=EXIST\nFILE=x\n"
      "[S]\nMODE=SWITCH\nPROC=E\n1=E, S\n0=\n");
  Report report;
  std::string problem;
  ASSERT_TRUE(CheckScript(dir.Path("updater.ini"), "updater.ini", &report, &problem));
  EXPECT_EQ(
      "[UPDATER] PROC: E, S, NOPE\n"
      "  E     EXIST   FILE=\"x\"\n"
      "  S     SWITCH  PROC=\"E\"\n"
      "    1: E, S\n"
      "      E  EXIST   FILE=\"x\"\n"
      "      S  SWITCH  PROC=\"E\"\n"
      "        1: E, S  (loop: back to the running list [S] 1)\n"
      "        0: (empty)\n"
      "    0: (empty)\n"
      "  NOPE  ?       no section [NOPE]\n",
      FormatPlan(report));
  std::string dot = FormatDot(report);
  EXPECT_NE(std::string::npos,
            dot.find("list1:p1 -> list1 [label=\"1 (loop)\", color=red, fontcolor=red, "
                     "style=dashed];"))
      << dot;
  EXPECT_NE(std::string::npos, dot.find("<p2> NOPE: no section [NOPE]"));
  EXPECT_NE(std::string::npos, dot.find("list0:p1 -> empty0_1_0 [label=\"0\", color=red"));
}

TEST(ReportFormatTest, JsonHasOneObjectPerFindingWithEscapedText) {
  Report report;
  report.file = "dir\\u.ini";
  Finding finding;
  finding.file = "dir\\u.ini";
  finding.line = 12;
  finding.severity = Severity::kError;
  finding.section = "ASK";
  finding.key = "FLAG";
  finding.column = 6;
  finding.rule = "KU109";
  finding.message = "[ASK] FLAG: \"CHEK\"\tn\xE3\x81\x82\x82";
  report.findings.push_back(finding);
  finding.severity = Severity::kWarning;
  finding.key = "";
  finding.column = 0;
  finding.rule = "KU223";
  finding.message = "[ASK]: x";
  report.findings.push_back(finding);
  EXPECT_EQ(
      "[\n"
      "  {\"file\": \"dir\\\\u.ini\", \"line\": 12, \"column\": 6, \"severity\": \"error\", "
      "\"rule\": \"KU109\", \"section\": \"ASK\", \"key\": \"FLAG\", \"message\": \"[ASK] FLAG: "
      "\\\"CHEK\\\"\\tn\xE3\x81\x82\\u0082\"},\n"
      "  {\"file\": \"dir\\\\u.ini\", \"line\": 12, \"column\": null, \"severity\": \"warning\", "
      "\"rule\": \"KU223\", \"section\": \"ASK\", \"key\": \"\", \"message\": \"[ASK]: x\"}\n"
      "]\n",
      FormatJson(report));
  EXPECT_EQ("[]\n", FormatJson(Report()));
}

TEST(ReportFormatTest, FindingsEndWithTheirCount) {
  Report report;
  report.file = "u.ini";
  EXPECT_EQ("u.ini: 0 errors, 0 warnings\n", FormatFindings(report));
}

// The table of rules is in the order of the enum (InfoOf indexes it), and each ID is unique,
// ascending and of its severity's hundred: KU1xx errors, KU2xx warnings.
TEST(ReportFormatTest, RuleTableFollowsTheEnumAndTheNumbering) {
  for (size_t i = 0; i < kRuleCount; ++i) {
    EXPECT_EQ(static_cast<size_t>(kRules[i].rule), i) << kRules[i].id;
    EXPECT_EQ(kRules[i].severity == Severity::kError ? '1' : '2', kRules[i].id[2]) << kRules[i].id;
    if (i > 0) {
      EXPECT_LT(std::string(kRules[i - 1].id), std::string(kRules[i].id));
    }
    EXPECT_EQ(&kRules[i], FindRule(kRules[i].id));
  }
  EXPECT_EQ(nullptr, FindRule("KU999"));
}

// SARIF: every rule in the driver, each finding a result that points at its rule by ID and index,
// a file URI for an absolute path, the silenced findings last with an in-source suppression.
// GitHub: one workflow command per finding, "%", CR and LF escaped everywhere, ":" and "," in
// the properties too.
TEST(ReportFormatTest, SarifAndGithubAnnotations) {
  Report report;
  report.file = "/opt/deploy/my script,1.ini";
  Finding finding;
  finding.file = report.file;
  finding.line = 7;
  finding.column = 3;
  finding.severity = Severity::kWarning;
  finding.rule = "KU202";
  finding.message = "[C] FILE: 100% \"a\nb\"\r";
  report.findings.push_back(finding);
  finding.line = 9;
  finding.column = 0;
  finding.rule = "KU101";
  finding.severity = Severity::kError;
  finding.message = "[C] TO: key is missing (message 2)";
  report.suppressed.push_back(finding);

  std::string sarif = FormatSarif(report);
  EXPECT_NE(std::string::npos, sarif.find("\"version\": \"2.1.0\""));
  EXPECT_NE(std::string::npos,
            sarif.find("\"$schema\": \"https://json.schemastore.org/sarif-2.1.0.json\""));
  EXPECT_NE(std::string::npos, sarif.find("{\"id\": \"KU229\", \"shortDescription\": {\"text\": "));
  EXPECT_NE(std::string::npos,
            sarif.find("{\"ruleId\": \"KU202\", \"ruleIndex\": 14, \"level\": \"warning\", "
                       "\"message\": {\"text\": \"[C] FILE: 100% \\\"a\\nb\\\"\\r\"}"))
      << sarif;
  EXPECT_NE(std::string::npos,
            sarif.find("{\"uri\": \"file:///opt/deploy/my%20script%2C1.ini\"}, \"region\": "
                       "{\"startLine\": 7, \"startColumn\": 3}}"))
      << sarif;
  EXPECT_NE(std::string::npos, sarif.find("\"region\": {\"startLine\": 9}}}],\n"
                                          "         \"suppressions\": [{\"kind\": \"inSource\"}]}"))
      << sarif;

  EXPECT_EQ(
      "::warning file=/opt/deploy/my script%2C1.ini,line=7,col=3,title=KU202::[C] FILE: 100%25 "
      "\"a%0Ab\"%0D\n"
      "/opt/deploy/my script,1.ini: 0 errors, 1 warning\n",
      FormatGithub(report));
}

}  // namespace
}  // namespace checker
}  // namespace kestario
