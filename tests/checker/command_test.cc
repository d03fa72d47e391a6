#include "tools/checker/command.h"

#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/script_test.h"
#include "tools/console/arguments.h"
#include "tools/console/console_output.h"
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

namespace kestario {
namespace checker {
namespace {

class CommandTest : public ::testing::Test {
 protected:
  int Run(const std::vector<std::string>& arguments) {
    out.str("");
    err.str("");
    return RunCheckCommand(arguments, out, err);
  }

  TempDir dir;
  std::ostringstream out;
  std::ostringstream err;
};

constexpr const char* kClean = "[UPDATER]\nNAME=T\nPROC=E\n[E]\nMODE=EXIST\nFILE=<Src>/a\n";

TEST_F(CommandTest, HelpDocumentsUsageAndExitStatuses) {
  EXPECT_EQ(kExitClean, Run({"--help"}));
  EXPECT_NE(std::string::npos, out.str().find("usage: updater-check"));
  EXPECT_NE(std::string::npos, out.str().find("Exit status:\n  0  no errors"));
  EXPECT_NE(std::string::npos, out.str().find("\n  1  at least one error"));
  EXPECT_NE(std::string::npos, out.str().find("\n  2  the script cannot be read"));
  EXPECT_NE(std::string::npos, out.str().find("--registry FILE"));
  EXPECT_EQ(kExitClean, Run({"-h"}));
}

TEST_F(CommandTest, VersionIsOneLineAndEndsTheCommand) {
  for (const char* option : {"--version", "-V"}) {
    EXPECT_EQ(kExitClean, Run({option, "no-such-script.ini"}));
    EXPECT_TRUE(std::regex_match(out.str(), std::regex("updater-check [0-9]+\\.[0-9]+\\.[0-9]+\n")))
        << out.str();
    EXPECT_EQ("", err.str());
  }
}

// --OPTION=VALUE is the option followed by its value; the value after an option is taken whole,
// even with a "=" or a leading "--"; after "--" nothing is split.
TEST(ArgumentsTest, OptionValuesJoinedWithEqualsAreSplit) {
  using Arguments = std::vector<std::string>;
  EXPECT_EQ((Arguments{"--answer", "ASK=no", "--caption", "--x=y", "--json=1", "--", "--answer=a"}),
            console::SplitOptionValues(
                {"--answer=ASK=no", "--caption", "--x=y", "--json=1", "--", "--answer=a"},
                {"--answer", "--caption"}));
}

TEST_F(CommandTest, OptionValueJoinedWithEquals) {
  dir.Write("u.ini",
            "[UPDATER]\nNAME=\nPROC=M\n[M]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=T\n"
            "ISABORT=0, 1\n");
  EXPECT_EQ(kExitAnswered, Run({"--what-if", "--answer=M=no", "--caption=Cap", dir.Path("u.ini")}));
  EXPECT_NE(std::string::npos, out.str().find("Cap")) << out.str();
  EXPECT_EQ(kExitUnreadable, Run({"--json=yes", dir.Path("u.ini")}));
  EXPECT_NE(std::string::npos, err.str().find("unknown option --json=yes"));
}

#ifndef _WIN32
// What a tool prints goes through console::Finish: output that cannot be written (a full disk,
// a closed stream) ends with a status that says so and a message on standard error.
TEST(FinishTest, OutputThatCannotBeWrittenFailsWithAMessage) {
  TempDir dir;
  int savedOut = dup(STDOUT_FILENO);
  int savedErr = dup(STDERR_FILENO);
  int full = open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  auto finishInto = [&](int outTarget, const std::string& name) {
    int errFile = open(dir.Path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::fflush(stdout);
    if (outTarget >= 0) {
      dup2(outTarget, STDOUT_FILENO);
    } else {
      close(STDOUT_FILENO);
    }
    dup2(errFile, STDERR_FILENO);
    close(errFile);
    int status = console::Finish("tool", "the report\n", "a note\n", 1, 7);
    dup2(savedOut, STDOUT_FILENO);
    dup2(savedErr, STDERR_FILENO);
    return status;
  };
  EXPECT_EQ(7, finishInto(full, "full.txt"));
  EXPECT_EQ("a note\ntool: cannot write the output: No space left on device\n",
            dir.Read("full.txt"));
  EXPECT_EQ(7, finishInto(-1, "closed.txt"));
  EXPECT_EQ("a note\ntool: cannot write the output: Bad file descriptor\n", dir.Read("closed.txt"));
  int null = open("/dev/null", O_WRONLY);
  EXPECT_EQ(1, finishInto(null, "fine.txt"));
  EXPECT_EQ("a note\n", dir.Read("fine.txt"));
  close(null);
  close(full);
  close(savedOut);
  close(savedErr);
}
#endif

TEST_F(CommandTest, CleanScriptExitsWithZero) {
  dir.Write("u.ini", kClean);
  EXPECT_EQ(kExitClean, Run({dir.Path("u.ini")}));
  EXPECT_EQ(dir.Path("u.ini") + ": 0 errors, 0 warnings\n", out.str());
  EXPECT_EQ("", err.str());
}

TEST_F(CommandTest, WarningsAloneExitWithZero) {
  dir.Write("u.ini", std::string(kClean) + "[OLD]\nMODE=EXIST\n");
  EXPECT_EQ(kExitClean, Run({dir.Path("u.ini")}));
  EXPECT_NE(std::string::npos, out.str().find(":7: warning: [OLD]: no list reaches"));
}

TEST_F(CommandTest, ErrorsExitWithOne) {
  dir.Write("u.ini", "[UPDATER]\nNAME=T\nPROC=\n");
  EXPECT_EQ(kExitErrors, Run({dir.Path("u.ini")}));
  EXPECT_EQ(dir.Path("u.ini") +
                ":3: error: [UPDATER] PROC: the list is empty; it must name at "
                "least one procedure (message 4) [KU105]\n" +
                dir.Path("u.ini") + ": 1 error, 0 warnings\n",
            out.str());
}

TEST_F(CommandTest, UnreadableScriptExitsWithTwo) {
  EXPECT_EQ(kExitUnreadable, Run({dir.Path("missing.ini")}));
  EXPECT_NE(std::string::npos, err.str().find("cannot read " + dir.Path("missing.ini")));
  EXPECT_EQ("", out.str());
  EXPECT_EQ(kExitUnreadable, Run({dir.path()}));
  EXPECT_NE(std::string::npos, err.str().find("it is a folder"));
}

TEST_F(CommandTest, BadCommandLinesExitWithTwo) {
  EXPECT_EQ(kExitUnreadable, Run({}));
  EXPECT_NE(std::string::npos, err.str().find("no script given"));
  EXPECT_EQ(kExitUnreadable, Run({"--frobnicate", "u.ini"}));
  EXPECT_NE(std::string::npos, err.str().find("unknown option --frobnicate"));
  EXPECT_EQ(kExitUnreadable, Run({"a.ini", "b.ini"}));
  EXPECT_EQ(kExitUnreadable, Run({"--json", "--plan", "a.ini"}));
  EXPECT_EQ(kExitUnreadable, Run({"a.ini", "--registry"}));
  EXPECT_EQ(kExitUnreadable, Run({"--registry", dir.Path("none.ini"), "a.ini"}));
  EXPECT_NE(std::string::npos, err.str().find("cannot read the registry file"));
}

TEST_F(CommandTest, DashDashEndsTheOptions) {
  dir.Write("--json", kClean);
  EXPECT_EQ(kExitClean, Run({"--", dir.Path("--json")}));
}

TEST_F(CommandTest, JsonGoesToStandardOutput) {
  dir.Write("u.ini", "[UPDATER]\nNAME=T\nPROC=\n");
  EXPECT_EQ(kExitErrors, Run({"--json", dir.Path("u.ini")}));
  EXPECT_EQ(
      "[\n  {\"file\": \"" + dir.Path("u.ini") +
          "\", \"line\": 3, \"column\": 6, \"severity\": \"error\", \"rule\": \"KU105\", "
          "\"section\": \"UPDATER\", \"key\": \"PROC\", \"message\": \"[UPDATER] PROC: the list "
          "is empty; it must name at least one procedure (message 4)\"}\n]\n",
      out.str());
  EXPECT_EQ("", err.str());
  // The same findings as SARIF and as GitHub annotations; --format json is --json.
  EXPECT_EQ(kExitErrors, Run({"--format=sarif", dir.Path("u.ini")}));
  EXPECT_NE(std::string::npos, out.str().find("\"ruleId\": \"KU105\""));
  EXPECT_EQ(kExitErrors, Run({"--format", "github", dir.Path("u.ini")}));
  EXPECT_EQ(0u,
            out.str().find("::error file=" + dir.Path("u.ini") + ",line=3,col=6,title=KU105::"));
  EXPECT_EQ(kExitUnreadable, Run({"--format=xml", dir.Path("u.ini")}));
  EXPECT_EQ(kExitUnreadable, Run({"--what-if", "--format=sarif", dir.Path("u.ini")}));
}

TEST_F(CommandTest, PlanAndDotSendTheFindingsToStandardError) {
  dir.Write("u.ini", std::string(kClean) + "[OLD]\nMODE=EXIST\n");
  EXPECT_EQ(kExitClean, Run({"--plan", dir.Path("u.ini")}));
  EXPECT_EQ(0u, out.str().find("[UPDATER] PROC: E\n  E  EXIST  FILE=\"" + dir.path() + "/a\"\n"));
  EXPECT_NE(std::string::npos, err.str().find("warning: [OLD]"));
  EXPECT_EQ(kExitClean, Run({dir.Path("u.ini"), "--dot"}));
  EXPECT_EQ(0u, out.str().find("digraph plan {"));
  EXPECT_NE(std::string::npos, err.str().find("0 errors, 1 warning"));
}

TEST_F(CommandTest, RegistryFileAnswersAppPathBlocks) {
  dir.Write("u.ini", "[UPDATER]\nNAME=T\nPROC=E\n[E]\nMODE=EXIST\nFILE={?App\\tool.run}\n");
  dir.Write("registry.ini",
            "[Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\tool.run]\n"
            "@=/opt/tool/tool.run\n");
  dir.Write("empty.ini", "");
  EXPECT_EQ(kExitClean, Run({"--registry", dir.Path("registry.ini"), "--plan", dir.Path("u.ini")}));
  EXPECT_NE(std::string::npos, out.str().find("FILE=\"/opt/tool/tool.run\""));
  EXPECT_NE(std::string::npos, err.str().find("0 errors, 0 warnings"));
  EXPECT_EQ(kExitClean, Run({"--registry", dir.Path("empty.ini"), dir.Path("u.ini")}));
  EXPECT_NE(std::string::npos, out.str().find("no App Paths entry for \"tool.run\""));
}

}  // namespace
}  // namespace checker
}  // namespace kestario
