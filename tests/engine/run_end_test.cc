// How a run's end is told outside its log: the exit code that EXITCODE asks for and the event
// that EVENTLOG asks for, for every way a run can end, and nothing of it without those keys.
#include "engine/run_end.h"

#include <unistd.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/driver.h"
#include "platform/stop_signals.h"
#include "support/script_test.h"

namespace kestario {
namespace {

using RunEndTest = ScriptTest;

// UPDATER's head with `keys`, a question whose No stops the run, and a COPY of a.txt or of a
// missing file.
std::string Script(const std::string& keys, bool copyFails = false) {
  return "[UPDATER]\nNAME=Deploy\nPROC=ASK, GO\n" + keys +
         "[ASK]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=Go?\nISABORT=0, 1\n"
         "[GO]\nMODE=COPY\nFROM=<Src>/" +
         (copyFails ? "missing" : "a.txt") + "\nTO=<Src>/b.txt\n";
}

TEST_F(RunEndTest, ExitCodeOfEveryEnd) {
  dir.Write("a.txt", "A");
  struct Case {
    const char* keys;
    int answer;
    bool copyFails;
    int expected;
  };
  const Case cases[] = {
      {"EXITCODE=1\n", kIdYes, false, kExitFinished},
      {"EXITCODE=1\n", kIdNo, false, kExitCancelled},
      {"EXITCODE=1\n", kIdYes, true, kExitFailed},
      {"EXITCODE=-1\n", kIdYes, true, kExitFailed},  // any nonzero number
      {"EXITCODE= 7 tries\n", kIdNo, false, kExitCancelled},
      // Off: absent, empty, 0 or not a number; every end is 0.
      {"", kIdYes, true, 0},
      {"", kIdNo, false, 0},
      {"EXITCODE=\n", kIdYes, true, 0},
      {"EXITCODE=0\n", kIdNo, false, 0},
      {"EXITCODE=yes\n", kIdYes, true, 0},
  };
  for (const Case& c : cases) {
    WriteScript(Script(c.keys, c.copyFails));
    system.answers = {c.answer};
    EXPECT_EQ(c.expected, UpdaterMain("")) << c.keys << " answer " << c.answer;
  }
}

// EXITCODE is read before everything else of the script, so every start-up failure is told.
TEST_F(RunEndTest, StartUpFailuresAreFailuresToo) {
  WriteScript("[UPDATER]\nPROC=A\nEXITCODE=1\n");  // no NAME
  EXPECT_EQ(kExitFailed, UpdaterMain(""));
  WriteScript("[UPDATER]\nNAME=\nEXITCODE=1\n");  // no PROC
  EXPECT_EQ(kExitFailed, UpdaterMain(""));
  WriteScript("[UPDATER]\nNAME=\nPROC=\nEXITCODE=1\n");  // an empty PROC: message 4
  EXPECT_EQ(kExitFailed, UpdaterMain(""));
  WriteScript(
      "[UPDATER]\nNAME=N\nPROC=A\nEXITCODE=1\n[DEFINE]\n<X>=1\n[A]\nMODE=EXIST\nFILE=<X>\n");
  system.sectionOutOfMemory = "DEFINE";
  EXPECT_EQ(kExitFailed, UpdaterMain(""));
  ASSERT_EQ(4u, system.boxes.size());
  EXPECT_EQ("メモリが不足しています。\n\nオブジェクト：\"DEFINE\"", system.boxes[3].text);
  // A missing script cannot ask for codes.
  ::unlink(dir.Path("updater.ini").c_str());
  EXPECT_EQ(0, UpdaterMain(""));
}

// A COPY that meets a held destination and arranges the copy at the next restart (INUSE).
TEST_F(RunEndTest, CopyAtRestartTurnsAFinishedRunInto3010) {
  dir.Write("new.dll", "N");
  dir.Write("app.dll", "O");
  system.destinationsHeld = true;
  const std::string copy = "[A]\nMODE=COPY\nFROM=<Src>/new.dll\nTO=<Src>/app.dll\nINUSE=REPLACE\n";
  WriteScript("[UPDATER]\nNAME=\nPROC=A\nEXITCODE=1\nEVENTLOG=1\n" + copy);
  EXPECT_EQ(kExitRestartNeeded, UpdaterMain(""));
  ASSERT_EQ(1u, system.events.size());
  EXPECT_EQ(kEventTypeInformation, system.events[0].type);
  EXPECT_EQ(static_cast<uint32_t>(kEventFinishedRestart), system.events[0].id);
  // Not when the run does not finish after it, and not in the next run.
  WriteScript("[UPDATER]\nNAME=\nPROC=A,B\nEXITCODE=1\n" + copy +
              "[B]\nMODE=DELETE\nFILE=<Src>/missing\n");
  EXPECT_EQ(kExitFailed, UpdaterMain(""));
  system.destinationsHeld = false;
  WriteScript("[UPDATER]\nNAME=\nPROC=A\nEXITCODE=1\n" + copy);
  EXPECT_EQ(kExitFinished, UpdaterMain(""));
}

// A later COPY onto a file whose copy waits for the restart supersedes that copy: the pending
// rename and its staged file go, so the restart cannot put the older version back. A copy that
// waits again replaces the one before it; a rollback run does it only when it finishes.
TEST_F(RunEndTest, ALaterCopySupersedesTheCopyThatWaitsForTheRestart) {
  dir.Write("v1.dll", "1");
  dir.Write("v2.dll", "2");
  dir.Write("app.dll", "0");
  auto script = [&](const char* version, const char* keys) {
    WriteScript(std::string("[UPDATER]\nNAME=\nPROC=A\nEXITCODE=1\n") + keys +
                "[A]\nMODE=COPY\nFROM=<Src>/" + version + "\nTO=<Src>/app.dll\nINUSE=REPLACE\n");
  };
  system.destinationsHeld = true;
  script("v1.dll", "");
  EXPECT_EQ(kExitRestartNeeded, UpdaterMain(""));
  ASSERT_EQ(1u, system.pendingRenames.size());
  const std::string first = system.pendingRenames[0].first;
  // Held again, in another process: the new staging takes the place of the first.
  ++system.processId;
  EXPECT_EQ(kExitRestartNeeded, UpdaterMain(""));
  ASSERT_EQ(1u, system.pendingRenames.size());
  EXPECT_NE(first, system.pendingRenames[0].first);
  EXPECT_NE(0, ::access(first.c_str(), F_OK));
  const std::string second = system.pendingRenames[0].first;
  // Free now. A rollback run that stops leaves the waiting copy as it was.
  system.journalFolder = dir.Path("journals");
  system.destinationsHeld = false;
  ++system.processId;
  WriteScript(
      "[UPDATER]\nNAME=\nPROC=A, B\nEXITCODE=1\nROLLBACK=1\n"
      "[A]\nMODE=COPY\nFROM=<Src>/v2.dll\nTO=<Src>/app.dll\nINUSE=REPLACE\n"
      "[B]\nMODE=DELETE\nFILE=<Src>/missing\n");
  EXPECT_EQ(kExitFailed, UpdaterMain(""));
  EXPECT_EQ("0", dir.Read("app.dll"));
  ASSERT_EQ(1u, system.pendingRenames.size());
  EXPECT_EQ(0, ::access(second.c_str(), F_OK));
  // One that finishes supersedes it.
  script("v2.dll", "ROLLBACK=1\nLOG=<Src>/run.log\n");
  EXPECT_EQ(kExitFinished, UpdaterMain(""));
  EXPECT_EQ("2", dir.Read("app.dll"));
  EXPECT_TRUE(system.pendingRenames.empty());
  EXPECT_NE(0, ::access(second.c_str(), F_OK));
  EXPECT_NE(std::string::npos, dir.Read("run.log").find("A: the copy at restart that waited as \"" +
                                                        second + "\" is cancelled, superseded"));
}

TEST_F(RunEndTest, OneEventPerRunWithItsTypeIdAndStrings) {
  dir.Write("a.txt", "A");
  const std::string script = dir.Path("updater.ini");
  const std::vector<std::string> head = {script, "Deploy", "PC-417", "tanaka"};
  const std::string tail =
      "\n\nScript: " + script + "\nCaption: Deploy\nComputer: PC-417\nUser: tanaka";

  WriteScript(Script("EVENTLOG=1\n"));
  system.answers = {kIdYes};
  EXPECT_EQ(0, UpdaterMain(""));  // an event, but no exit codes
  system.answers = {kIdNo};
  UpdaterMain("");
  WriteScript(Script("EVENTLOG=1\n", true));
  system.answers = {kIdYes};
  UpdaterMain("");
  ASSERT_EQ(3u, system.events.size());

  const FakeSystem::Event& finished = system.events[0];
  EXPECT_EQ(kEventTypeInformation, finished.type);
  EXPECT_EQ(1000u, finished.id);
  EXPECT_EQ(head, finished.strings);
  EXPECT_EQ("The update script finished." + tail, finished.text);

  const FakeSystem::Event& cancelled = system.events[1];
  EXPECT_EQ(kEventTypeWarning, cancelled.type);
  EXPECT_EQ(1001u, cancelled.id);
  std::vector<std::string> strings = head;
  strings.push_back("ASK");
  EXPECT_EQ(strings, cancelled.strings);
  EXPECT_EQ("The update script was stopped by the answer to ASK." + tail, cancelled.text);

  const FakeSystem::Event& failed = system.events[2];
  EXPECT_EQ(kEventTypeError, failed.type);
  EXPECT_EQ(1002u, failed.id);
  ASSERT_EQ(4u, system.boxes.size());
  const std::string box = system.boxes[3].text;  // the error box, exactly
  strings = head;
  strings.push_back("8");
  strings.push_back(box);
  EXPECT_EQ(strings, failed.strings);
  EXPECT_EQ("The update script was stopped by error message 8:\n" + box + tail, failed.text);

  // Without EVENTLOG (or with 0), no event.
  system.events.clear();
  for (const char* keys : {"", "EVENTLOG=0\n", "EVENTLOG=\n", "EVENTLOG=on\n"}) {
    WriteScript(Script(keys, true));
    UpdaterMain("");
  }
  EXPECT_TRUE(system.events.empty());
}

// A stop signal (Linux: SIGTERM, SIGINT, SIGHUP) stops the run at its next safe point, here before
// its first procedure: no box, the end line and event 1005 name the signal, and EXITCODE gives
// 1603.
TEST_F(RunEndTest, AStopSignalIsAFailureWithItsOwnEndLineAndEvent) {
  dir.Write("a.txt", "A");
  WriteScript(Script("EXITCODE=1\nEVENTLOG=1\nLOG=<Src>/run.log\n"));
  SetCaughtStopSignal(15);
  int code = UpdaterMain("");
  SetCaughtStopSignal(0);
  EXPECT_EQ(kExitFailed, code);
  EXPECT_TRUE(system.boxes.empty());
  EXPECT_FALSE(dir.Exists("b.txt"));
  std::string log = dir.Read("run.log");
  EXPECT_NE(std::string::npos, log.find(" signal 15: the run stops #")) << log;
  EXPECT_NE(std::string::npos, log.find(" end: stopped by signal 15; exit code 1603 #")) << log;
  ASSERT_EQ(1u, system.events.size());
  const FakeSystem::Event& event = system.events[0];
  EXPECT_EQ(kEventTypeError, event.type);
  EXPECT_EQ(1005u, event.id);
  ASSERT_EQ(5u, event.strings.size());
  EXPECT_EQ("15", event.strings[4]);
  EXPECT_EQ(0u, event.text.find("The update script was stopped by signal 15.\n\nScript: "));
}

// An event that cannot be written changes nothing: the same boxes, files and exit code.
TEST_F(RunEndTest, UnwritableEventChangesNothing) {
  dir.Write("a.txt", "A");
  std::vector<std::string> seen;
  for (bool works : {true, false}) {
    system.eventWorks = works;
    system.boxes.clear();
    ::unlink(dir.Path("b.txt").c_str());
    WriteScript(Script("EXITCODE=1\nEVENTLOG=1\nLOG=<Src>/run.log\n"));
    system.answers = {kIdYes};
    int code = UpdaterMain("");
    seen.push_back(std::to_string(code) + "|" + BoxSummary() + "|" + dir.Read("b.txt"));
  }
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(2u, system.events.size());
}

// The log's end line carries the exit code when the script asks for codes, and only then.
TEST_F(RunEndTest, TheLogEndLineTellsTheExitCode) {
  WriteScript(Script("EXITCODE=1\nLOG=<Src>/run.log\n", true));
  system.answers = {kIdYes};
  UpdaterMain("");
  WriteScript(Script("LOG=<Src>/run.log\n", true));
  system.answers = {kIdYes};
  UpdaterMain("");
  std::string log = dir.Read("run.log");
  EXPECT_NE(std::string::npos, log.find(" end: stopped by message 8; exit code 1603 #"));
  EXPECT_NE(std::string::npos, log.find(" end: stopped by message 8 #"));
}

}  // namespace
}  // namespace kestario
