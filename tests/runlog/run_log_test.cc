// The run log against the fake system: every event, one append per line, and a log that cannot
// be written changing nothing.
#include "runlog/run_log.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "engine/context.h"
#include "engine/driver.h"
#include "support/script_test.h"
#include "tools/report/log_line.h"

namespace kestario {
namespace {

constexpr const char* kHead = "2026-12-08T09:30:05+00:00 PC-417 4242 ";

// The line without its frame (" #" and the length of what comes before it) and its line end;
// an empty text when the frame is missing or wrong.
std::string Unframed(const std::string& line) {
  size_t hash = line.rfind(" #");
  if (hash == std::string::npos || line.empty() || line.back() != '\n') return "";
  std::string length = line.substr(hash + 2, line.size() - 1 - hash - 2);
  if (length != std::to_string(hash)) return "";
  return line.substr(0, hash);
}

class RunLogTest : public ScriptTest {
 protected:
  // The event texts appended to `path`, head and frame checked and cut off, one per append.
  std::vector<std::string> Events(const std::string& path) const {
    std::vector<std::string> events;
    for (const FakeSystem::Write& append : system.writes) {
      EXPECT_EQ(path, append.path);
      const std::string& bytes = append.bytes;
      EXPECT_EQ(0u, bytes.find(kHead)) << bytes;
      EXPECT_EQ(bytes.size() - 1, bytes.find('\n')) << "one line per append: " << bytes;
      std::string line = Unframed(bytes);
      EXPECT_NE("", line) << "framed: " << bytes;
      events.push_back(line.substr(std::min(line.size(), std::string(kHead).size())));
    }
    return events;
  }
  // Runs the script on a window station that nobody sees, which shows no box; the events of the
  // run log run.log beside the script.
  std::vector<std::string> RunUnseen() {
    system.windowStationVisible = false;
    UpdaterMain("");
    EXPECT_TRUE(system.boxes.empty());
    return Events(dir.Path("run.log"));
  }
};

TEST_F(RunLogTest, EveryEventOfARunIsOneLine) {
  mkdir(dir.Path("data").c_str(), 0755);
  dir.Write("data/old.dat", "old");
  dir.Write("fresh.dat", "fresh");
  WriteScript(
      "[UPDATER]\nNAME=Night <User>\nPROC=CHECK, OLD, SKIP, ASK, GO\nLOG=<Src>/<Computer>.log\n"
      "[CHECK]\nMODE=EXIST\nFILE=<Src>/data/old.dat, <Src>/none\n"
      "[OLD]\nMODE=DATE\nFILE=<Src>/none\nDATE=2020/1/1\n"
      "[SKIP]\nMODE=MSGBOX\nFLAG=CHECK, 1\nTYPE=ERROR\nTEXT=never\nISABORT=\n"
      "[ASK]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=Replace?\\nNow\nISABORT=0, 1\n"
      "[GO]\nMODE=SWITCH\nPROC=ASK\n1=REMOVE, INSTALL, RUN, AGAIN\n0=\n"
      "[REMOVE]\nMODE=DELETE\nFILE=<Src>/data/old.dat\n"
      "[INSTALL]\nMODE=COPY\nFROM=<Src>/fresh.dat\nTO=<Src>/data/fresh.dat\n"
      "[RUN]\nMODE=LAUNCH\nFILE=/bin/sh\nPARAM=-c 'exit 3'\nISWAIT=1\n"
      "[AGAIN]\nMODE=COPY\nFROM=<Src>/missing\nTO=<Src>/data/x\n");
  system.answers = {kIdYes};
  UpdaterMain("");
  std::string src = dir.path();
  std::string log = src + "/PC-417.log";
  std::vector<std::string> expected = {
      "start: program \"" + src + "/updater.run\" script \"" + src +
          "/updater.ini\" caption \"Night tanaka\" user \"tanaka\"",
      "list UPDATER PROC: CHECK, OLD, SKIP, ASK, GO",
      "run CHECK: MODE=\"EXIST\" FILE=\"" + src + "/data/old.dat, " + src + "/none\"",
      "CHECK: exists \"" + src + "/data/old.dat\"",
      "CHECK: missing \"" + src + "/none\"",
      "run OLD: MODE=\"DATE\" FILE=\"" + src + "/none\" DATE=\"2020/1/1\"",
      "OLD: \"" + src + "/none\" cannot be opened, counts as older than \"2020/1/1\"",
      "OLD: flag 1",
      "run SKIP: MODE=\"MSGBOX\" FLAG=\"CHECK, 1\" TYPE=\"ERROR\" TEXT=\"never\" ISABORT=\"\"",
      "SKIP: flag of CHECK is 0, not 1: no box",
      "run ASK: MODE=\"MSGBOX\" FLAG=\"\" TYPE=\"QUESTION\" TEXT=\"Replace?\\nNow\" "
      "ISABORT=\"0, 1\"",
      "box QUESTION \"Replace?\\nNow\": answer Yes",
      "ASK: flag 1",
      "run GO: MODE=\"SWITCH\" PROC=\"ASK\" 1=\"REMOVE, INSTALL, RUN, AGAIN\" 0=\"\"",
      "GO: flag of ASK is 1, branch 1: REMOVE, INSTALL, RUN, AGAIN",
      "list GO 1: REMOVE, INSTALL, RUN, AGAIN",
      "run REMOVE: MODE=\"DELETE\" FILE=\"" + src + "/data/old.dat\"",
      "REMOVE: deleted \"" + src + "/data/old.dat\"",
      "REMOVE: flag 1",
      "run INSTALL: MODE=\"COPY\" FROM=\"" + src + "/fresh.dat\" TO=\"" + src + "/data/fresh.dat\"",
      "INSTALL: copied \"" + src + "/fresh.dat\" to \"" + src + "/data/fresh.dat\"",
      "INSTALL: flag 1",
      "run RUN: MODE=\"LAUNCH\" FILE=\"/bin/sh\" PARAM=\"-c 'exit 3'\" ISWAIT=1",
      "RUN: started \"/bin/sh -c 'exit 3'\", waited, exit code 3",
      "RUN: flag 1",
      "run AGAIN: MODE=\"COPY\" FROM=\"" + src + "/missing\" TO=\"" + src + "/data/x\"",
      "AGAIN: not copied \"" + src + "/missing\" to \"" + src + "/data/x\"",
      "error 8 \"ファイルのコピーに失敗しました。\\n\\n転送元：\"" + src +
          "/missing\"\\n転送先：\"" + src + "/data/x\"\": shown",
      "end: stopped by message 8",
  };
  EXPECT_EQ(expected, Events(log));
  // The file holds exactly what was appended.
  std::string written;
  for (const FakeSystem::Write& append : system.writes) written += append.bytes;
  EXPECT_EQ(written, dir.Read("PC-417.log"));
  // The error line holds the text of the box, its line breaks written as "\n".
  ASSERT_EQ(2u, system.boxes.size());
  std::string boxText = system.boxes[1].text;
  for (size_t at = boxText.find('\n'); at != std::string::npos; at = boxText.find('\n', at)) {
    boxText.replace(at, 1, "\\n");
  }
  EXPECT_NE(std::string::npos, expected[27].find("\"" + boxText + "\""));
}

// The log is UTF-8 whatever the script's bytes: the box shows a byte that is not UTF-8 as it is,
// the log writes U+FFFD for it; the error text is the catalog's, here in English.
TEST_F(RunLogTest, LogIsUtf8WhateverTheScriptsBytes) {
  WriteScript(
      "[UPDATER]\nNAME=Caf\xe9\nPROC=TELL, GONE\nLOG=<Src>/run.log\n"
      "[TELL]\nMODE=MSGBOX\nFLAG=\nTYPE=INFORMATION\nTEXT=Men\xfa \xe6\x97\xa5\nISABORT=\n"
      "[GONE]\nMODE=DELETE\nFILE=<Src>/caf\xe9\n");
  system.uiLanguage = kLangEnglish;
  system.computerName = "PC-\xe9";
  UpdaterMain("");
  ASSERT_EQ(2u, system.boxes.size());
  EXPECT_EQ("Caf\xe9", system.boxes[0].caption);
  EXPECT_EQ("Men\xfa \xe6\x97\xa5", system.boxes[0].text);
  std::string log = dir.Read("run.log");
  EXPECT_NE(std::string::npos, log.find(" PC-\xef\xbf\xbd 4242 start: "));
  EXPECT_NE(std::string::npos, log.find("caption \"Caf\xef\xbf\xbd\" user \"tanaka\" #"));
  EXPECT_NE(std::string::npos,
            log.find("box INFORMATION \"Men\xef\xbf\xbd \xe6\x97\xa5\": answer OK"));
  EXPECT_NE(std::string::npos, log.find("error 10 \"The file could not be deleted.\\n\\nFile: \"" +
                                        dir.path() + "/caf\xef\xbf\xbd\"\": shown"));
}

TEST_F(RunLogTest, AbortAnswerAndTwoRunsAppend) {
  WriteScript(
      "[UPDATER]\nNAME=\nPROC=ASK\nLOG=<Src>/run.log\n"
      "[ASK]\nMODE=MSGBOX\nFLAG=\nTYPE=WARNING\nTEXT=Go?\nISABORT=0, 1\n");
  system.answers = {kIdNo, kIdYes};
  UpdaterMain("");
  UpdaterMain("");
  std::vector<std::string> events = Events(dir.Path("run.log"));
  ASSERT_EQ(12u, events.size());
  EXPECT_EQ("box WARNING \"Go?\": answer No", events[3]);
  EXPECT_EQ("ASK: the answer stops the run", events[4]);
  EXPECT_EQ("end: stopped by the answer to ASK", events[5]);
  EXPECT_EQ(0u, events[6].find("start: "));
  EXPECT_EQ("box WARNING \"Go?\": answer Yes", events[9]);
  EXPECT_EQ("end: finished", events[11]);
}

TEST_F(RunLogTest, NoLogWritesNothing) {
  for (const char* log : {"", "LOG=\n", "LOG=no_data\n"}) {
    WriteScript(std::string("[UPDATER]\nNAME=\nPROC=E\n") + log + "[E]\nMODE=EXIST\nFILE=<Src>\n");
    UpdaterMain("");
    EXPECT_TRUE(system.writes.empty()) << log;
    EXPECT_TRUE(system.boxes.empty()) << log;
  }
}

// The same run with no log, with a log whose folder is missing, and with a log that opens but
// takes no line (a full disk): the same boxes and files.
TEST_F(RunLogTest, UnwritableLogChangesNothing) {
  const std::string body =
      "[E]\nMODE=EXIST\nFILE=<Src>/a\n"
      "[ASK]\nMODE=MSGBOX\nFLAG=E, 1\nTYPE=QUESTION\nTEXT=Copy?\nISABORT=0, 0\n"
      "[C]\nMODE=COPY\nFROM=<Src>/a, <Src>/missing\nTO=<Src>/b, <Src>/c\n";
  std::vector<std::string> seen;
  for (const char* log : {"", "LOG=<Src>/no/such/folder/run.log\n", "LOG=<Src>/run.log\n"}) {
    dir.Write("a", "A");
    ::unlink(dir.Path("b").c_str());
    system.boxes.clear();
    system.writes.clear();
    system.writeWorks = false;
    WriteScript("[UPDATER]\nNAME=\nPROC=E, ASK, C\n" + std::string(log) + body);
    system.answers = {kIdYes};
    UpdaterMain("");
    seen.push_back(BoxSummary() + "|" + (dir.Exists("b") ? dir.Read("b") : "-"));
  }
  EXPECT_EQ(seen[0], seen[1]);
  EXPECT_EQ(seen[0], seen[2]);
  EXPECT_EQ(13u, system.writes.size());  // each line tried, none written
  EXPECT_EQ("", dir.Read("run.log"));
  EXPECT_FALSE(dir.Exists("no"));
}

// The computer's and the user's names are texts like every other: a line feed in either forges
// no line. A name the system cannot tell is "-".
TEST_F(RunLogTest, ComputerAndUserNamesAreEscaped) {
  WriteScript("[UPDATER]\nNAME=N\nPROC=E\nLOG=<Src>/run.log\n[E]\nMODE=EXIST\nFILE=<Src>\n");
  system.computerName = "pc1\n2026-12-08 09:30:05 pc2 1 end: stopped by message 8";
  system.userName = "a\rb\nc";
  UpdaterMain("");
  system.computerName = "";
  system.userName = "";
  UpdaterMain("");
  std::string log = dir.Read("run.log");
  std::vector<std::string> lines;
  for (size_t at = 0, end; at < log.size(); at = end + 1) {
    end = log.find('\n', at);
    lines.push_back(log.substr(at, end - at));
  }
  ASSERT_EQ(12u, lines.size()) << log;
  const std::string head =
      "2026-12-08T09:30:05+00:00 pc1\\n2026-12-08 09:30:05 pc2 1 end: stopped by message 8 4242 ";
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(0u, lines[i].find(head)) << lines[i];
  for (size_t i = 0; i < 12; ++i) EXPECT_NE("", Unframed(lines[i] + "\n")) << lines[i];
  EXPECT_EQ(0u, lines[6].find("2026-12-08T09:30:05+00:00 - 4242 start: "));
  EXPECT_NE(std::string::npos, lines[0].find("caption \"N\" user \"a\\rb\\nc\""));
  EXPECT_NE(std::string::npos, lines[6].find("caption \"N\" user \"-\""));
}

// The time carries its offset from UTC (never "Z"); every line ends with its frame, the count of
// the bytes before " #", which a value holding a line's head or a line break cannot move.
TEST_F(RunLogTest, TimeCarriesItsOffsetAndEveryLineItsFrame) {
  WriteScript(
      "[UPDATER]\nNAME=N\nPROC=E\nLOG=<Src>/run.log\n[E]\nMODE=EXIST\n"
      "FILE=<Src>/x 2026-12-08T09:00:00+09:00 PC-Z 1 end: finished #51\n");
  system.userName = "u\r\n2026-12-08T09:00:00+09:00 PC-Z 1 end: finished #51";
  const struct {
    int16_t minutes;
    const char* time;
  } zones[] = {{540, "+09:00"}, {-300, "-05:00"}, {330, "+05:30"}, {-570, "-09:30"}, {0, "+00:00"}};
  std::string expected;
  for (const auto& zone : zones) {
    system.localTime.utcOffsetMinutes = zone.minutes;
    system.writes.clear();
    UpdaterMain("");
    ASSERT_EQ(5u, system.writes.size());
    for (const FakeSystem::Write& append : system.writes) {
      EXPECT_EQ(0u, append.bytes.find(std::string("2026-12-08T09:30:05") + zone.time + " PC-417"))
          << append.bytes;
      std::string line = Unframed(append.bytes);
      EXPECT_NE("", line) << append.bytes;
      EXPECT_EQ(std::string::npos, line.find_first_of("\r\n")) << append.bytes;
    }
  }
  EXPECT_NE(std::string::npos,
            system.writes[0].bytes.find(
                "user \"u\\r\\n2026-12-08T09:00:00+09:00 PC-Z 1 end: finished #51\" #"));
  std::string run = Unframed(system.writes[2].bytes);
  EXPECT_EQ(std::string(kHead) + "run E: MODE=\"EXIST\" FILE=\"" + dir.path() +
                "/x 2026-12-08T09:00:00+09:00 PC-Z 1 end: finished #51\"",
            run);
  EXPECT_EQ(run + " #" + std::to_string(run.size()) + "\n", system.writes[2].bytes);
}

// A log whose last line was cut (a full disk, a process ended half-way) gets its next line on a
// line of its own.
TEST_F(RunLogTest, LineNeverFollowsACutOne) {
  WriteScript("[UPDATER]\nNAME=N\nPROC=E\nLOG=<Src>/run.log\n[E]\nMODE=EXIST\nFILE=<Src>\n");
  const std::string cut = "2026-12-08 09:30:04 PC-9 77 run E: MODE=\"EXI";
  dir.Write("run.log", cut);
  UpdaterMain("");
  std::string log = dir.Read("run.log");
  EXPECT_EQ(cut + "\n" + kHead + "start: ", log.substr(0, cut.size() + 1 + std::strlen(kHead) + 7));
  EXPECT_EQ(7, std::count(log.begin(), log.end(), '\n'));  // the cut line and six whole ones
  EXPECT_EQ('\n', log.back());
}

// A step that deletes or copies over the log's own file: the log lets go of it first (its later
// lines are lost with it) and takes it up again when the step fails.
TEST_F(RunLogTest, StepOnTheLogsOwnFileEndsItUnlessTheStepFails) {
  WriteScript(
      "[UPDATER]\nNAME=N\nPROC=C, D, E\nLOG=<Src>/run.log\n"
      "[C]\nMODE=COPY\nFROM=<Src>/missing\nTO=<Src>/run.log\n"
      "[D]\nMODE=DELETE\nFILE=<Src>/run.log\n[E]\nMODE=EXIST\nFILE=<Src>/run.log\n");
  UpdaterMain("");
  std::vector<std::string> events = Events(dir.Path("run.log"));
  ASSERT_EQ(6u, events.size());
  EXPECT_EQ("C: not copied \"" + dir.Path("missing") + "\" to \"" + dir.Path("run.log") + "\"",
            events[3]);
  EXPECT_EQ("end: stopped by message 8", events[5]);
  WriteScript(
      "[UPDATER]\nNAME=N\nPROC=D, E\nLOG=<Src>/run.log\n"
      "[D]\nMODE=DELETE\nFILE=<Src>/run.log\n[E]\nMODE=EXIST\nFILE=<Src>/run.log\n");
  system.writes.clear();
  UpdaterMain("");
  EXPECT_EQ(3u, system.writes.size());  // start, list, run D: then the file is deleted
  EXPECT_FALSE(dir.Exists("run.log"));
}

// Nobody can see the boxes: none is shown, a MSGBOX answers 0 and the run goes on, an error box
// still stops it; the question is asked once per run.
TEST_F(RunLogTest, InvisibleWindowStationShowsNoBox) {
  WriteScript(
      "[UPDATER]\nNAME=\nPROC=ASK, TELL, GONE\nLOG=<Src>/run.log\n"
      "[ASK]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=Go?\nISABORT=1, 1\n"
      "[TELL]\nMODE=MSGBOX\nFLAG=ASK, 0\nTYPE=INFORMATION\nTEXT=Told\nISABORT=1, 1\n"
      "[GONE]\nMODE=DELETE\nFILE=<Src>/missing\n");
  std::vector<std::string> events = RunUnseen();
  EXPECT_EQ(1, system.stationQueries);
  ASSERT_EQ(10u, events.size());
  EXPECT_EQ("box QUESTION \"Go?\": not shown, the window station is not visible; answer 0",
            events[3]);
  EXPECT_EQ("box INFORMATION \"Told\": not shown, the window station is not visible; answer 0",
            events[5]);
  EXPECT_EQ(0u, events[8].find("error 10 \""));
  EXPECT_NE(std::string::npos, events[8].find("\": not shown, the window station is not visible"));
  EXPECT_EQ("end: stopped by message 10", events[9]);

  // The next run asks again.
  system.windowStationVisible = true;
  system.writes.clear();
  UpdaterMain("");
  EXPECT_EQ(2, system.stationQueries);
  EXPECT_EQ(1u, system.boxes.size());  // No (the fake's default) stops the run
}

// UNSEEN answers a box that nobody can see as if it had been clicked (flag, ISABORT); a value
// that names no button of its box answers nothing, and an error box is never answered by it.
TEST_F(RunLogTest, UnseenAnswersTheBoxesNobodySees) {
  WriteScript(
      "[UPDATER]\nNAME=\nPROC=ASK, TELL, ODD, WRONG, GO\nLOG=<Src>/run.log\n"
      "[ASK]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=Go?\nISABORT=0, 1\nUNSEEN=Yes\n"
      "[TELL]\nMODE=MSGBOX\nFLAG=ASK, 1\nTYPE=ERROR\nTEXT=Told\nISABORT=0, 1\nUNSEEN=ok\n"
      "[ODD]\nMODE=MSGBOX\nFLAG=\nTYPE=WARNING\nTEXT=Odd\nISABORT=1, 1\nUNSEEN=OK\n"
      "[WRONG]\nMODE=MSGBOX\nFLAG=\nTYPE=INFORMATION\nTEXT=Wrong\nISABORT=1, 1\nUNSEEN=maybe\n"
      "[GO]\nMODE=SWITCH\nPROC=TELL\n1=STOP\n0=\n"
      "[STOP]\nMODE=MSGBOX\nFLAG=\nTYPE=WARNING\nTEXT=Stop?\nISABORT=0, 1\nUNSEEN=no\n");
  std::vector<std::string> events = RunUnseen();
  ASSERT_EQ(19u, events.size());
  const std::string unseen = ": not shown, the window station is not visible; answer ";
  EXPECT_EQ("box QUESTION \"Go?\"" + unseen + "Yes (UNSEEN)", events[3]);
  EXPECT_EQ("ASK: flag 1", events[4]);
  EXPECT_EQ("box ERROR \"Told\"" + unseen + "OK (UNSEEN)", events[6]);
  EXPECT_EQ("TELL: flag 1", events[7]);
  EXPECT_EQ("box WARNING \"Odd\"" + unseen + "0 (UNSEEN \"OK\" names no button of this box)",
            events[9]);
  EXPECT_EQ(
      "box INFORMATION \"Wrong\"" + unseen + "0 (UNSEEN \"maybe\" names no button of this box)",
      events[11]);
  EXPECT_EQ("box WARNING \"Stop?\"" + unseen + "No (UNSEEN)", events[16]);
  EXPECT_EQ("STOP: the answer stops the run", events[17]);
  EXPECT_EQ("end: stopped by the answer to STOP", events[18]);

  // A box whose call fails (the Linux terminal cannot be written) is answered the same way; the
  // error box of a failure is not.
  WriteScript(
      "[UPDATER]\nNAME=\nPROC=ASK, GONE\nLOG=<Src>/two.log\n"
      "[ASK]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=Go?\nISABORT=1, 0\nUNSEEN=YES\n"
      "[GONE]\nMODE=DELETE\nFILE=<Src>/missing\n");
  system.windowStationVisible = true;
  system.writes.clear();
  system.answers = {0};
  UpdaterMain("");
  events = Events(dir.Path("two.log"));
  ASSERT_EQ(7u, events.size());
  EXPECT_EQ("box QUESTION \"Go?\": not shown, the box could not be displayed; answer Yes (UNSEEN)",
            events[3]);
  EXPECT_EQ("ASK: the answer stops the run", events[5]);
}

// What the program writes, updater-report reads: the lines of three runs (stopped by a failure
// with an exit code, stopped by an answer, finished) as the fake system received them, each read
// back with the report's own line reader.
TEST_F(RunLogTest, ReportReadsWhatTheWriterWrites) {
  dir.Write("a.dat", "a");
  WriteScript(
      "[UPDATER]\nNAME=Night run\nPROC=ASK, COPY\nLOG=<Src>/run.log\nEXITCODE=1\n"
      "[ASK]\nMODE=MSGBOX\nFLAG=\nTYPE=QUESTION\nTEXT=Go?\nISABORT=0, 1\n"
      "[COPY]\nMODE=COPY\nFROM=<Src>/missing\nTO=<Src>/b.dat\n");
  system.answers = {kIdYes, kIdOk, kIdNo};  // the error box takes the second
  UpdaterMain("");
  UpdaterMain("");
  WriteScript("[UPDATER]\nNAME=\nPROC=E\nLOG=<Src>/run.log\n[E]\nMODE=EXIST\nFILE=<Src>/a.dat\n");
  UpdaterMain("");

  std::vector<report::Event> told;  // the start, error and end events, in order
  for (const FakeSystem::Write& append : system.writes) {
    ASSERT_FALSE(append.bytes.empty());
    ASSERT_EQ('\n', append.bytes.back());
    std::string_view line(append.bytes.data(), append.bytes.size() - 1);
    report::LineHead head;
    ASSERT_TRUE(report::ParseHead(line, &head)) << line;
    EXPECT_TRUE(head.framed) << line;
    EXPECT_EQ("2026-12-08T09:30:05+00:00", head.time);
    EXPECT_EQ("PC-417", head.computer);
    EXPECT_EQ("4242", head.pid);
    report::Event event = report::ParseEvent(head.event);
    EXPECT_NE(report::EventKind::kTorn, event.kind) << line;
    if (event.kind != report::EventKind::kOther) told.push_back(event);
  }

  const std::string src = dir.path();
  ASSERT_EQ(7u, told.size());
  for (size_t start : {0u, 3u, 5u}) {
    ASSERT_EQ(report::EventKind::kStart, told[start].kind) << start;
    EXPECT_EQ(src + "/updater.run", told[start].program);
    EXPECT_EQ(src + "/updater.ini", told[start].script);
    EXPECT_TRUE(told[start].hasUser);
    EXPECT_EQ("tanaka", told[start].user);
  }
  EXPECT_EQ("Night run", told[0].caption);

  ASSERT_EQ(report::EventKind::kError, told[1].kind);
  EXPECT_NE(0, told[1].message);
  EXPECT_NE(std::string_view::npos, told[1].text.find(src + "/missing"));
  ASSERT_EQ(report::EventKind::kEnd, told[2].kind);
  EXPECT_EQ(report::EndKind::kMessage, told[2].end);
  EXPECT_EQ(told[1].message, told[2].message);
  EXPECT_EQ("exit code " + std::to_string(kExitFailed), told[2].details);

  ASSERT_EQ(report::EventKind::kEnd, told[4].kind);
  EXPECT_EQ(report::EndKind::kAnswer, told[4].end);
  EXPECT_EQ("ASK", told[4].answer);
  EXPECT_EQ("exit code " + std::to_string(kExitCancelled), told[4].details);

  ASSERT_EQ(report::EventKind::kEnd, told[6].kind);
  EXPECT_EQ(report::EndKind::kFinished, told[6].end);
  EXPECT_EQ("", told[6].details);
}

}  // namespace
}  // namespace kestario
