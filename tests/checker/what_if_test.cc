#include "tools/checker/what_if.h"

#include <sys/stat.h>
#include <sys/time.h>

#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "platform/system.h"
#include "support/fake_system.h"
#include "support/script_test.h"
#include "tools/checker/command.h"
#include "tools/checker/script_lines.h"

namespace kestario {
namespace checker {
namespace {

// A script of UPDATER with PROC `proc`, then `sections`; <Src> is the test's folder.
std::string Script(const std::string& proc, const std::string& sections) {
  return "[UPDATER]\nNAME=T\nPROC=" + proc + "\n" + sections;
}

// Which of the report's steps are uncertain, one character a step: "u" uncertain, "." not.
std::string UncertainSteps(const WhatIfReport& report) {
  std::string steps;
  for (const auto& step : report.steps) steps += step.uncertain ? 'u' : '.';
  return steps;
}

// The flags the report's steps leave, one digit a step.
std::string StepFlags(const WhatIfReport& report) {
  std::string flags;
  for (const auto& step : report.steps) flags += std::to_string(step.flag);
  return flags;
}

// Every test's folder holds the sources a.dat ("a") and b.dat ("b") beside the script.
class WhatIfTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.Write("a.dat", "a");
    dir.Write("b.dat", "b");
  }
  WhatIfReport Predict(const std::string& script, const WhatIfOptions& options = {}) {
    dir.Write("updater.ini", script);
    WhatIfReport report;
    std::string problem;
    EXPECT_TRUE(PredictRun(dir.Path("updater.ini"), "updater.ini", options, &report, &problem))
        << problem;
    return report;
  }
  // Sets the file's modification time to noon of 2001-01-02.
  void MakeOld(const std::string& name) {
    struct timeval times[2] = {{978436800, 0}, {978436800, 0}};
    ASSERT_EQ(0, utimes(dir.Path(name).c_str(), times));
  }
  // Writes the shell script `name`, executable, in a new folder when the name has one.
  void WriteProgram(const std::string& name, const std::string& text) {
    size_t slash = name.rfind('/');
    if (slash != std::string::npos) {
      ASSERT_EQ(0, mkdir(dir.Path(name.substr(0, slash)).c_str(), 0755));
    }
    dir.Write(name, "#!/bin/sh\n" + text);
    ASSERT_EQ(0, chmod(dir.Path(name).c_str(), 0755));
  }

  TempDir dir;
};

TEST_F(WhatIfTest, DeleteThenExistSeesTheFileGone) {
  dir.Write("old.dat", "old");
  WhatIfReport report = Predict(Script("D, E",
                                       "[D]\nMODE=DELETE\nFILE=<Src>/old.dat\n"
                                       "[E]\nMODE=EXIST\nFILE=<Src>/old.dat\n"));
  EXPECT_EQ("10", StepFlags(report));  // gone, as the run would leave it
  EXPECT_EQ(WhatIfEnd::kFinish, report.end);
  ASSERT_EQ(1u, report.deleted.size());
  EXPECT_EQ(dir.Path("old.dat"), report.deleted[0]);
  EXPECT_EQ("old", dir.Read("old.dat"));  // and nothing was deleted
}

TEST_F(WhatIfTest, CopyThenDateSeesTheSourceDate) {
  dir.Write("fresh.dat", "fresh");
  dir.Write("data.dat", "current");  // modified now
  MakeOld("fresh.dat");
  WhatIfReport report = Predict(Script("C, D",
                                       "[C]\nMODE=COPY\nFROM=<Src>/fresh.dat\nTO=<Src>/data.dat\n"
                                       "[D]\nMODE=DATE\nFILE=<Src>/data.dat\nDATE=2010/1/1\n"));
  EXPECT_EQ("11", StepFlags(report));  // the copy keeps the source's date, before 2010
  ASSERT_EQ(1u, report.replaced.size());
  EXPECT_EQ(dir.Path("data.dat"), report.replaced[0]);
  EXPECT_EQ("current", dir.Read("data.dat"));
}

TEST_F(WhatIfTest, PinsPredictAlreadyCurrentAndAMismatch) {
  const std::string pinOfA = "ca978112ca1bbdcafac231b39a23dc4da786eff8147c4e72b9807785afee48bb";
  dir.Write("a.dat", "a");
  dir.Write("b.dat", "b");
  // C2's destination holds the pinned bytes once C1 has copied them: its source (absent) is not
  // read; C3's source is not what its pin says.
  WhatIfReport report = Predict(Script(
      "C1, C2, C3",
      "[C1]\nMODE=COPY\nFROM=<Src>/a.dat\nTO=<Src>/new.dat\n"
      "[C2]\nMODE=COPY\nFROM=<Src>/gone.dat\nTO=<Src>/new.dat\nHASH=" +
          pinOfA + "\n[C3]\nMODE=COPY\nFROM=<Src>/b.dat\nTO=<Src>/b.new\nHASH=" + pinOfA + "\n"));
  ASSERT_EQ(3u, report.steps.size());
  EXPECT_EQ(1, report.steps[1].flag);
  std::string events;
  for (const WhatIfEvent& event : report.steps[1].events) events += event.text + "\n";
  EXPECT_NE(std::string::npos, events.find("already current")) << events;
  EXPECT_EQ(WhatIfEnd::kError, report.end);
  EXPECT_EQ(12, report.endMessage);
  EXPECT_EQ(1u, report.created.size());  // new.dat only: b.new is refused
}

TEST_F(WhatIfTest, TwoCopiesOntoOneDestination) {
  WhatIfReport report = Predict(Script("C1, C2, E",
                                       "[C1]\nMODE=COPY\nFROM=<Src>/a.dat\nTO=<Src>/new.dat\n"
                                       "[C2]\nMODE=COPY\nFROM=<Src>/b.dat\nTO=<Src>/new.dat\n"
                                       "[E]\nMODE=EXIST\nFILE=<Src>/new.dat\n"));
  ASSERT_EQ(3u, report.steps.size());
  EXPECT_NE(std::string::npos, report.steps[0].events[0].text.find("(creates it)"));
  EXPECT_NE(std::string::npos, report.steps[1].events[0].text.find("(replaces it)"));
  EXPECT_EQ("111", StepFlags(report));
  ASSERT_EQ(1u, report.created.size());  // created once, not created and replaced
  EXPECT_TRUE(report.replaced.empty());
  EXPECT_FALSE(dir.Exists("new.dat"));
}

TEST_F(WhatIfTest, ACopyOfAReadOnlySourceCannotBeReplaced) {
  // The copy takes the source's permissions, so the second COPY meets a read-only destination.
  dir.Write("ro.dat", "ro");
  ASSERT_EQ(0, chmod(dir.Path("ro.dat").c_str(), 0444));
  WhatIfReport report = Predict(Script("C1, C2",
                                       "[C1]\nMODE=COPY\nFROM=<Src>/ro.dat\nTO=<Src>/new.dat\n"
                                       "[C2]\nMODE=COPY\nFROM=<Src>/b.dat\nTO=<Src>/new.dat\n"));
  EXPECT_EQ(WhatIfEnd::kError, report.end);
  EXPECT_EQ("C2", report.endSection);
  EXPECT_EQ(8, report.endMessage);
}

TEST_F(WhatIfTest, DeleteOfAFileCopiedEarlier) {
  WhatIfReport report = Predict(Script("C, D1, D2",
                                       "[C]\nMODE=COPY\nFROM=<Src>/a.dat\nTO=<Src>/tmp.dat\n"
                                       "[D1]\nMODE=DELETE\nFILE=<Src>/tmp.dat\n"
                                       "[D2]\nMODE=DELETE\nFILE=<Src>/tmp.dat\n"));
  ASSERT_EQ(3u, report.steps.size());
  EXPECT_TRUE(report.steps[1].succeeded);    // the copy is there to delete
  EXPECT_EQ(WhatIfEnd::kError, report.end);  // and then it is gone
  EXPECT_EQ("D2", report.endSection);
  EXPECT_EQ(10, report.endMessage);
  EXPECT_TRUE(report.created.empty());  // created and deleted again: no change
  EXPECT_TRUE(report.deleted.empty());
}

TEST_F(WhatIfTest, WildcardExistSeesDeletionsAndCopies) {
  dir.Write("one.log", "1");
  WhatIfReport report = Predict(Script("D, E1, C, E2",
                                       "[D]\nMODE=DELETE\nFILE=<Src>/one.log\n"
                                       "[E1]\nMODE=EXIST\nFILE=<Src>/*.log\n"
                                       "[C]\nMODE=COPY\nFROM=<Src>/a.dat\nTO=<Src>/two.log\n"
                                       "[E2]\nMODE=EXIST\nFILE=<Src>/*.log\n"));
  EXPECT_EQ("1011", StepFlags(report));
}

TEST_F(WhatIfTest, LaunchStartsNothingAndMakesLaterTestsUncertain) {
  WriteProgram("tools/prog", "echo ran > ran.txt\n");
  WhatIfReport report = Predict(Script("L, E, F",
                                       "[L]\nMODE=LAUNCH\nFILE=<Src>/tools/prog\nPARAM=\nISWAIT=1\n"
                                       "[E]\nMODE=EXIST\nFILE=<Src>/tools/ran.txt\n"
                                       "[F]\nMODE=EXIST\nFILE=<Src>/updater.ini\n"));
  EXPECT_EQ(".u.", UncertainSteps(report));  // the last is outside the program's folder
  ASSERT_EQ(1u, report.launched.size());
  EXPECT_FALSE(dir.Exists("tools/ran.txt"));
}

TEST_F(WhatIfTest, AFolderGivenAsParameterIsUncertainToo) {
  WriteProgram("tools/prog", "");
  ASSERT_EQ(0, mkdir(dir.Path("out").c_str(), 0755));
  dir.Write("out/keep", "");
  WhatIfReport report = Predict(Script("L, E",
                                       "[L]\nMODE=LAUNCH\nFILE=<Src>/tools/prog\n"
                                       "PARAM=--into <Src>/out\nISWAIT=1\n"
                                       "[E]\nMODE=EXIST\nFILE=<Src>/out/result\n"));
  EXPECT_EQ(".u", UncertainSteps(report));
}

TEST_F(WhatIfTest, LaunchOfAMissingProgramFails) {
  WhatIfReport report =
      Predict(Script("L", "[L]\nMODE=LAUNCH\nFILE=<Src>/none\nPARAM=-x\nISWAIT=0\n"));
  EXPECT_EQ(WhatIfEnd::kError, report.end);
  EXPECT_EQ(9, report.endMessage);
  EXPECT_TRUE(report.launched.empty());
}

// The platform's own answers decide. The fake system refuses what a test names, as an immutable
// file, a mount point or a folder that refuses new files would, on any file system.
TEST_F(WhatIfTest, WhatThePlatformWouldRefuseFailsAsTheRunWould) {
  std::string src = FullPath(dir.path());
  FakeSystem fake;
  fake.refusedRights[src + "/a.dat"] = kDeleteAccess;
  WhatIfReport report = Predict(Script("D", "[D]\nMODE=DELETE\nFILE=<Src>/a.dat\n"));
  EXPECT_EQ(10, report.endMessage);
  EXPECT_TRUE(report.deleted.empty());

  // Replacing the destination removes its name, which the platform refuses too.
  fake.refusedRights[src + "/b.dat"] = kDeleteAccess;
  report = Predict(Script("C", "[C]\nMODE=COPY\nFROM=<Src>/a.dat\nTO=<Src>/b.dat\n"));
  EXPECT_EQ(8, report.endMessage);
  EXPECT_TRUE(report.replaced.empty());
  EXPECT_EQ("b", dir.Read("b.dat"));
}

TEST_F(WhatIfTest, ACopyIntoAFolderThatRefusesNewFilesIsWrittenInPlace) {
  std::string src = FullPath(dir.path());
  FakeSystem fake;
  fake.refusedRights[src] = kFileWriteData;
  const std::string script = Script("C", "[C]\nMODE=COPY\nFROM=<Src>/a.dat\nTO=<Src>/b.dat\n");
  WhatIfReport report = Predict(script);
  EXPECT_EQ(WhatIfEnd::kFinish, report.end);
  ASSERT_EQ(1u, report.replaced.size());
  ASSERT_EQ(1u, report.steps[0].events.size());
  EXPECT_NE(std::string::npos, report.steps[0].events[0].text.find("written in place"));

  // In place, the file itself must be writable.
  fake.refusedRights[src + "/b.dat"] = kFileWriteData;
  report = Predict(script);
  EXPECT_EQ(8, report.endMessage);
}

// A rollback run keeps what it deletes and replaces until it ends: its copies add up on their
// volume, and the copy that passes the volume's free space (here 10 bytes) may fail. Without
// ROLLBACK each replaced file's room is freed as it goes, and nothing is doubted.
TEST_F(WhatIfTest, RollbackCopiesThatNeedMoreRoomThanTheVolumeHasAreUncertain) {
  dir.Write("six.dat", "123456");
  dir.Write("a.dat", "old");
  dir.Write("b.dat", "old");
  FakeSystem fake;
  fake.freeSpace = 10;
  const std::string copies =
      "[A]\nMODE=COPY\nFROM=<Src>/six.dat\nTO=<Src>/a.dat\n"
      "[B]\nMODE=COPY\nFROM=<Src>/six.dat\nTO=<Src>/b.dat\n";
  WhatIfReport report = Predict("[UPDATER]\nNAME=T\nPROC=A, B\nROLLBACK=1\n" + copies);
  EXPECT_EQ(".u", UncertainSteps(report));
  EXPECT_EQ(2, report.uncertainFrom);
  EXPECT_NE(std::string::npos, report.uncertainWhy.find("need 12 bytes")) << report.uncertainWhy;
  EXPECT_NE(std::string::npos, report.uncertainWhy.find("which has 10 free"))
      << report.uncertainWhy;
  EXPECT_EQ(WhatIfEnd::kFinish, report.end);

  report = Predict("[UPDATER]\nNAME=T\nPROC=A, B\n" + copies);
  EXPECT_FALSE(report.uncertain);
}

TEST_F(WhatIfTest, AFileTheSystemDoesNotStartIsNotStarted) {
  WriteProgram("prog", "");
  FakeSystem fake;
  fake.programs[FullPath(dir.path()) + "/prog"] = false;
  WhatIfReport report =
      Predict(Script("L", "[L]\nMODE=LAUNCH\nFILE=<Src>/prog\nPARAM=\nISWAIT=1\n"));
  EXPECT_EQ(9, report.endMessage);
  EXPECT_TRUE(report.launched.empty());
  EXPECT_FALSE(report.uncertain);
}

TEST_F(WhatIfTest, AProgramThatCannotBeReadMakesItAndAllAfterItUncertain) {
  dir.Write("data.dat", "d");
  WriteProgram("prog", "");
  FakeSystem fake;
  fake.refusedRights[FullPath(dir.path()) + "/prog"] = kFileReadData;
  WhatIfReport report = Predict(Script("E1, L, E2",
                                       "[E1]\nMODE=EXIST\nFILE=/\n"
                                       "[L]\nMODE=LAUNCH\nFILE=<Src>/prog\nPARAM=\nISWAIT=1\n"
                                       "[E2]\nMODE=EXIST\nFILE=/\n"));
  // The last is outside the program's folder: the run itself may end.
  EXPECT_EQ(".uu", UncertainSteps(report));
  EXPECT_EQ(2, report.uncertainFrom);
  EXPECT_EQ(1u, report.launched.size());
  EXPECT_EQ(WhatIfEnd::kFinish, report.end);
}

TEST_F(WhatIfTest, BoxesAreAnsweredBySectionElseByTheDefault) {
  std::string script = Script("A, B",
                              "[A]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=a?\nISABORT=0,1\n"
                              "[B]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=b?\nISABORT=0,1\n");
  WhatIfOptions options;
  options.answers["a"] = Answer::kYes;
  options.defaultAnswer = Answer::kNo;
  WhatIfReport report = Predict(script, options);
  ASSERT_EQ(2u, report.boxes.size());
  EXPECT_EQ("yes", report.boxes[0].answer);
  EXPECT_EQ("no", report.boxes[1].answer);
  EXPECT_EQ("T", report.boxes[1].caption);
  EXPECT_EQ("QUESTION", report.boxes[1].kind);
  EXPECT_EQ(WhatIfEnd::kAnswer, report.end);
  EXPECT_EQ("B", report.endSection);
}

TEST_F(WhatIfTest, TheExitCodeAndTheEventAreForeseen) {
  std::string ask = Script("A, D",
                           "EXITCODE=1\nEVENTLOG=1\n"
                           "[A]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=go?\nISABORT=0,1\n"
                           "[D]\nMODE=DELETE\nFILE=<Src>/none\n");
  WhatIfOptions no;
  no.defaultAnswer = Answer::kNo;
  WhatIfReport report = Predict(ask, no);
  EXPECT_EQ(1602, report.exitCode);
  EXPECT_EQ(1001u, report.eventId);
  EXPECT_EQ(kEventTypeWarning, report.eventType);
  report = Predict(ask);
  EXPECT_EQ(1603, report.exitCode);
  EXPECT_EQ(1002u, report.eventId);
  dir.Write("none", "");
  report = Predict(ask);
  EXPECT_EQ(0, report.exitCode);
  EXPECT_EQ(1000u, report.eventId);
  EXPECT_TRUE(dir.Exists("none"));  // predicted, not done
  // Without EXITCODE every end is 0, and without EVENTLOG there is no event.
  report = Predict(Script("D", "[D]\nMODE=DELETE\nFILE=<Src>/gone\n"));
  EXPECT_EQ(WhatIfEnd::kError, report.end);
  EXPECT_EQ(0, report.exitCode);
  EXPECT_EQ(0u, report.eventId);

  std::ostringstream out, err;
  dir.Write("u.ini", ask);
  EXPECT_EQ(kExitAnswered,
            RunCheckCommand({"--what-if", "--answers-default", "no", "--json", dir.Path("u.ini")},
                            out, err));
  EXPECT_NE(std::string::npos, out.str().find("\"exit_code\": 1602"));
  EXPECT_NE(std::string::npos, out.str().find("\"event\": {\"type\": \"Warning\", \"id\": 1001}"));
  out.str("");
  RunCheckCommand({"--what-if", dir.Path("u.ini")}, out, err);
  EXPECT_NE(std::string::npos, out.str().find("\nexit code 0\nevent Information 1000 "));
}

// --unseen: no box can be seen, each MSGBOX answers with its UNSEEN (or not at all), and an error
// box is not shown either but still ends the run.
TEST_F(WhatIfTest, UnseenPredictsARunThatNobodySees) {
  std::string script =
      Script("A, B, C, S",
             "EXITCODE=1\n"
             "[A]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=a?\nISABORT=0,1\nUNSEEN=YES\n"
             "[B]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=b?\nISABORT=1,1\n"
             "[C]\nMODE=MSGBOX\nFLAG=\nTYPE=INFORMATION\nTEXT=c\nISABORT=1,1\nUNSEEN=no\n"
             "[S]\nMODE=MSGBOX\nFLAG=A, 1\nTYPE=WARNING\nTEXT=s?\nISABORT=0,1\nUNSEEN=no\n");
  WhatIfOptions unseen;
  unseen.unseen = true;
  WhatIfReport report = Predict(script, unseen);
  ASSERT_EQ(4u, report.boxes.size());
  EXPECT_FALSE(report.boxes[0].shown);
  EXPECT_EQ("yes", report.boxes[0].answer);
  EXPECT_EQ(1, report.steps[0].flag);
  EXPECT_EQ("none", report.boxes[1].answer);  // no UNSEEN: the run goes on
  EXPECT_EQ("none", report.boxes[2].answer);  // "no" is no button of an OK box
  EXPECT_NE(std::string::npos, report.steps[2].events[0].text.find("names no button of this box"));
  EXPECT_EQ(WhatIfEnd::kAnswer, report.end);
  EXPECT_TRUE(report.endUnseen);
  EXPECT_EQ("S", report.endSection);
  EXPECT_EQ(1602, report.exitCode);

  report = Predict(Script("D", "EXITCODE=1\n[D]\nMODE=DELETE\nFILE=<Src>/none\n"), unseen);
  ASSERT_EQ(1u, report.boxes.size());
  EXPECT_FALSE(report.boxes[0].shown);
  EXPECT_EQ(WhatIfEnd::kError, report.end);
  EXPECT_EQ(1603, report.exitCode);

  std::ostringstream out, err;
  dir.Write("u.ini", script);
  EXPECT_EQ(kExitAnswered, RunCheckCommand({"--what-if", "--unseen", dir.Path("u.ini")}, out, err));
  EXPECT_NE(std::string::npos,
            out.str().find("\nwould stop: UNSEEN answers S=no\nexit code 1602\n"));
  EXPECT_EQ(kExitUnreadable, RunCheckCommand({"--unseen", dir.Path("u.ini")}, out, err));
}

TEST_F(WhatIfTest, ExitStatusesOfTheCommand) {
  std::ostringstream out, err;
  auto run = [&](const std::string& script, std::vector<std::string> options) {
    dir.Write("u.ini", script);
    out.str("");
    options.insert(options.begin(), "--what-if");
    options.push_back(dir.Path("u.ini"));
    return RunCheckCommand(options, out, err);
  };
  std::string ask = Script("A", "[A]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=go?\nISABORT=0,1\n");
  EXPECT_EQ(kExitClean, run(ask, {}));
  EXPECT_NE(std::string::npos, out.str().find("\nwould finish\n"));
  EXPECT_EQ(kExitAnswered, run(ask, {"--answer", "a=no"}));
  EXPECT_NE(std::string::npos, out.str().find("\nwould stop: the user answers A=no\n"));
  EXPECT_EQ(kExitAnswered, run(ask, {"--answers-default", "no"}));
  EXPECT_EQ(kExitErrors, run(Script("D", "[D]\nMODE=DELETE\nFILE=<Src>/none\n"), {}));
  EXPECT_NE(std::string::npos, out.str().find("\nwould stop at [D] with message 10: "));
  EXPECT_EQ(kExitErrors, run(Script("D", "[D]\nMODE=DELETE\nFILE=<Src>/none\n"), {"--json"}));
  EXPECT_NE(std::string::npos, out.str().find("\"result\": \"error\""));
  EXPECT_EQ(kExitUnreadable, RunCheckCommand({"--what-if", dir.Path("none.ini")}, out, err));
  EXPECT_EQ(kExitUnreadable, run(ask, {"--answer", "a=maybe"}));
  EXPECT_EQ(kExitUnreadable, RunCheckCommand({"--answer", "a=no", dir.Path("u.ini")}, out, err));
}

TEST_F(WhatIfTest, ARegistryThatIsANamedPipeIsRefusedWithoutWaiting) {
  dir.Write("u.ini", Script("E", "[E]\nMODE=EXIST\nFILE=<Src>/a\n"));
  ASSERT_EQ(0, mkfifo(dir.Path("registry").c_str(), 0600));
  std::ostringstream out, err;
  EXPECT_EQ(kExitUnreadable,
            RunCheckCommand({"--registry", dir.Path("registry"), dir.Path("u.ini")}, out, err));
  EXPECT_NE(std::string::npos, err.str().find("not a regular file"));
}

}  // namespace
}  // namespace checker
}  // namespace kestario
