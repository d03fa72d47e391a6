// The run log's framed line form as updater-report reads it, and what the report tells of a
// fleet beyond each computer's last run: totals per message and script, expected computers that
// never reported, and the age of runs without an end line. The lines are built by hand as the
// log's writer frames them (docs/log.md).
#include <sys/stat.h>
#include <sys/types.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/command_fixture.h"
#include "support/script_test.h"
#include "tools/report/command.h"
#include "tools/report/fleet.h"
#include "tools/report/log_line.h"
#include "tools/report/report_output.h"

namespace kestario {
namespace report {
namespace {

// A line as the writer writes it: time with offset, head, event, " #LENGTH", line end.
std::string Framed(const std::string& time, const std::string& computer, int pid,
                   const std::string& event, const char* end = "\n") {
  std::string line = time + " " + computer + " " + std::to_string(pid) + " " + event;
  return line + " #" + std::to_string(line.size()) + end;
}

std::string Start(const std::string& script, const std::string& caption = "Data update") {
  return "start: program \"C:\\Deploy\\updater.exe\" script \"" + script + "\" caption \"" +
         caption + "\" user \"sato\"";
}

// The report at 2026-12-08 12:00 UTC, the logs read in pieces of `piece` bytes.
FleetReport ReportOf(const std::vector<std::string>& logs, size_t piece = size_t{1} << 20,
                     ReportOptions options = ReportOptions()) {
  FleetReader reader;
  for (size_t i = 0; i < logs.size(); ++i) {
    TextSource source(logs[i], piece);
    reader.ReadLog("log" + std::to_string(i), &source);
  }
  if (!options.now.known) options.now.Set("2026-12-08T12:00:00+00:00");
  return reader.Report(options);
}

std::optional<ComputerState> Computer(const FleetReport& report, const std::string& name) {
  for (const ComputerState& state : report.computers) {
    if (state.last.computer == name) return state;
  }
  return std::nullopt;
}

TEST(LineFormTest, FramedHeadGivesItsFieldsWithoutTheFrame) {
  std::string line = Framed("2026-12-08T09:00:00+09:00", "PC-417", 3120, "end: finished", "");
  EXPECT_EQ("2026-12-08T09:00:00+09:00 PC-417 3120 end: finished #51", line);
  LineHead head;
  ASSERT_TRUE(ParseHead(line, &head));
  EXPECT_TRUE(head.framed);
  EXPECT_EQ("2026-12-08T09:00:00+09:00", head.time);
  EXPECT_EQ("PC-417", head.computer);
  EXPECT_EQ("end: finished", head.event);
  for (const char* wrong : {
           "2026-12-08T09:00:00+09:00 PC-417 3120 end: finished",      // no frame
           "2026-12-08T09:00:00+09:00 PC-417 3120 end: finished #50",  // a byte short
           "2026-12-08T09:00:00+09:00 PC-417 3120 end: finished #051",
           "2026-12-08T09:00:00+09:00 PC-417 3120 end: finished# 51",
           "2026-12-08T09:00:00Z PC-417 3120 end: finished #46",
           "2026-12-08T09:00:00*09:00 PC-417 3120 end: finished #51",
       }) {
    EXPECT_FALSE(ParseHead(wrong, &head)) << wrong;
  }
}

// A DELETE path that holds a whole line's head, of the old form and of the new, with a frame:
// it is the value of a line of PC-A, and no run of PC-Z.
TEST(LineFormTest, AValueHoldingALineHeadForgesNoRun) {
  std::string forged =
      "run REMOVE: MODE=\"DELETE\" FILE=\"/srv/2026-12-08 09:00:00 PC-Z 1 end: finished; "
      "2026-12-08T09:00:00+00:00 PC-Z 1 end: finished #46\"";
  std::string log = Framed("2026-12-08T09:00:00+09:00", "PC-A", 7, Start("a.ini")) +
                    Framed("2026-12-08T09:00:01+09:00", "PC-A", 7, forged) +
                    Framed("2026-12-08T09:00:02+09:00", "PC-A", 7,
                           "error 2 \"Cannot delete.\\n\\n\"/srv/x\"\": shown") +
                    Framed("2026-12-08T09:00:03+09:00", "PC-A", 7, "end: stopped by message 2");
  FleetReport report = ReportOf({log});
  ASSERT_EQ(1u, report.computers.size());
  EXPECT_EQ(0u, report.skipped);
  ComputerState pc = report.computers[0];
  EXPECT_EQ("PC-A", pc.last.computer);
  EXPECT_EQ(Outcome::kFailed, pc.last.outcome);
  EXPECT_EQ("Cannot delete.\n\n\"/srv/x\"", pc.last.messageText);
}

// A line cut off where its writer stopped: the end line "message 10" cut after "message 1".
TEST(LineFormTest, CutLinesAreSkippedAndCountedAndTheLineAfterOneIsRead) {
  std::string end10 = Framed("2026-12-08T09:00:05+09:00", "PC-A", 7, "end: stopped by message 10");
  std::string cut = end10.substr(0, end10.find("message 1") + 9);
  std::string whole = Framed("2026-12-08T09:00:06+09:00", "PC-B", 8, Start("b.ini"));
  std::string log = Framed("2026-12-08T09:00:00+09:00", "PC-A", 7, Start("a.ini")) + cut + whole +
                    Framed("2026-12-08T09:00:07+09:00", "PC-B", 8, "end: finished") +
                    // The log ends inside a line.
                    cut;
  for (size_t piece : {size_t{1} << 20, size_t{7}}) {
    FleetReport report = ReportOf({log}, piece);
    EXPECT_EQ(2u, report.skipped) << piece;
    EXPECT_EQ(Outcome::kUnfinished, Computer(report, "PC-A")->last.outcome) << piece;
    EXPECT_EQ(Outcome::kFinished, Computer(report, "PC-B")->last.outcome) << piece;
    EXPECT_EQ("b.ini", Computer(report, "PC-B")->last.script) << piece;
  }
  // The old form: a log that ends inside a line skips it too.
  FleetReport old = ReportOf({"2026-12-08 09:00:00 PC-A 7 " + Start("a.ini") +
                              "\n2026-12-08 09:00:05 PC-A 7 end: stopped by message 1"});
  EXPECT_EQ(1u, old.skipped);
  EXPECT_EQ(Outcome::kUnfinished, old.computers[0].last.outcome);
}

// Five computers whose lines end with a CR alone (an old Mac editor, a tool that turned CR LF
// into CR), in both forms; CR LF split between two reads is one line end.
TEST(LineFormTest, CarriageReturnAloneEndsALine) {
  std::string log;
  for (int i = 1; i <= 5; ++i) {
    std::string pc = "PC-" + std::to_string(i);
    if (i % 2 == 0) {
      log += "2026-12-08 09:00:0" + std::to_string(i) + " " + pc + " 9 " + Start("a.ini") + "\r";
      log += "2026-12-08 09:00:0" + std::to_string(i) + " " + pc + " 9 end: finished\r";
    } else {
      log += Framed("2026-12-08T09:00:00+01:00", pc, 9, Start("a.ini"), "\r");
      log += Framed("2026-12-08T09:00:01+01:00", pc, 9, "end: finished", "\r\n");
    }
  }
  for (size_t piece : {size_t{1} << 20, size_t{1}, size_t{13}}) {
    FleetReport report = ReportOf({log}, piece);
    EXPECT_EQ(5u, report.computers.size()) << piece;
    EXPECT_EQ(0u, report.skipped) << piece;
    EXPECT_EQ(10u, report.lines) << piece;
    EXPECT_EQ(5u, report.computersByOutcome[static_cast<int>(Outcome::kFinished)]) << piece;
  }
}

// Tokyo's 09:30 is before Paris's 02:00 the same day: the last run is the later instant.
TEST(LineFormTest, TimesWithOffsetsCompareAsInstants) {
  std::string log =
      Framed("2026-12-08T02:00:00+01:00", "PC-A", 1, Start("paris.ini")) +
      Framed("2026-12-08T02:00:01+01:00", "PC-A", 1, "end: finished") +
      Framed("2026-12-08T09:30:00+09:00", "PC-A", 2, Start("tokyo.ini")) +
      Framed("2026-12-08T09:30:01+09:00", "PC-A", 2, "end: stopped by message 8; exit code 1603");
  FleetReport report = ReportOf({log});
  ASSERT_EQ(1u, report.computers.size());
  const report::Run& run = report.computers[0].last;
  EXPECT_EQ("paris.ini", run.script);
  EXPECT_EQ("2026-12-08 02:00:00 +01:00", run.firstTime.Text());
  EXPECT_EQ("2026-12-08T02:00:01+01:00", run.endTime.Iso());
  LogTime west;
  ASSERT_TRUE(west.Set("2026-12-07T20:00:00-05:00"));
  EXPECT_EQ(0, CompareTimes(west, run.firstTime));
  EXPECT_EQ("2026-12-07 20:00:00 -05:00", west.Text());
}

TEST(LineFormTest, TotalsPerMessageAndPerScriptAndCaption) {
  std::string log;
  auto run = [&](const std::string& pc, int pid, const std::string& caption, const std::string& end,
                 const std::string& error = "") {
    log += Framed("2026-12-08T09:00:00+00:00", pc, pid, Start("u.ini", caption));
    if (!error.empty()) log += Framed("2026-12-08T09:00:01+00:00", pc, pid, error);
    log += Framed("2026-12-08T09:00:02+00:00", pc, pid, end);
  };
  run("PC-1", 1, "v1", "end: finished");
  run("PC-1", 2, "v2", "end: stopped by message 8; exit code 1603",
      "error 8 \"Copy failed.\\n\"C:\\new\"\": shown");
  run("PC-2", 3, "v2", "end: stopped by message 8",
      "error 8 \"Copy failed.\\n\"C:\\new\"\": shown");
  run("PC-3", 4, "v2", "end: stopped by message 9", "error 9 \"Full.\": shown");
  run("PC-4", 5, "v2", "end: stopped by message 8", "error 8 \"Copy failed.\\n\"D:\\x\"\": shown");
  FleetReport report = ReportOf({log});
  ASSERT_EQ(2u, report.messages.size());
  const MessageTotal& eight = report.messages[0];
  EXPECT_EQ(8, eight.message);
  EXPECT_EQ(3u, eight.counts.computers);
  EXPECT_EQ(3u, eight.counts.runs);
  ASSERT_EQ(2u, eight.texts.size());
  // A line break is decoded; a backslash in the quoted path stays ("C:\new").
  EXPECT_EQ("Copy failed.\n\"C:\\new\"", eight.texts[0].text);
  EXPECT_EQ(2u, eight.texts[0].counts.runs);
  EXPECT_EQ(9, report.messages[1].message);
  ASSERT_EQ(2u, report.scripts.size());
  EXPECT_EQ("v1", report.scripts[0].caption);
  EXPECT_EQ(0u, report.scripts[0].counts.computers);
  EXPECT_EQ(1u, report.scripts[0].counts.runs);
  EXPECT_EQ("v2", report.scripts[1].caption);
  EXPECT_EQ(4u, report.scripts[1].counts.computers);
  EXPECT_EQ(4u, report.scripts[1].runsByOutcome[static_cast<int>(Outcome::kFailed)]);
  std::optional<ComputerState> pc = Computer(report, "PC-1");
  EXPECT_TRUE(pc->last.hasExitCode);
  EXPECT_EQ(1603, pc->last.exitCode);

  std::string json = JsonReport(report);
  EXPECT_EQ(0u, json.find("{\n  \"schema_version\": 2,"));
  EXPECT_NE(std::string::npos, json.find("\"exit_code\": 1603,"));
  EXPECT_NE(std::string::npos, json.find("\"message_text\": \"Copy failed.\\n\\\"C:\\\\new\\\"\""));
  EXPECT_NE(std::string::npos,
            json.find("{\"message\": 8, \"computers\": 3, \"runs\": 3, \"texts\""));
  std::string text = TextReport(report);
  EXPECT_NE(std::string::npos, text.find("message 8\n"));
  EXPECT_NE(std::string::npos, text.find("u.ini  \"v2\"\n"));
}

TEST(LineFormTest, ExpectedComputersWithoutARunAndTheAgeOfUnfinishedRuns) {
  std::string log = Framed("2026-12-08T09:00:00+09:00", "PC-1", 1, Start("u.ini")) +
                    Framed("2026-12-08T09:10:00+09:00", "PC-1", 1, "run COPY: MODE=\"COPY\"") +
                    Framed("2026-12-08T20:00:00+09:00", "PC-2", 2, Start("u.ini")) +
                    Framed("2026-12-08T09:00:00+00:00", "PC-3", 3, Start("u.ini")) +
                    Framed("2026-12-08T09:00:01+00:00", "PC-3", 3, "end: finished");
  ReportOptions options;
  options.expected = {"pc-1", "PC-3", "PC-4", "PC-4", "PC-5"};
  options.staleAfter = 2 * 3600;
  FleetReport report = ReportOf({log}, size_t{1} << 20, options);
  EXPECT_EQ(5u, report.computers.size());
  EXPECT_EQ(4u, report.expected);
  EXPECT_EQ(1u, report.unexpected);  // PC-2
  EXPECT_EQ(2u, report.computersByOutcome[static_cast<int>(Outcome::kNoRun)]);
  std::optional<ComputerState> missing = Computer(report, "PC-4");
  ASSERT_TRUE(missing.has_value());
  EXPECT_EQ(Outcome::kNoRun, missing->last.outcome);
  EXPECT_EQ(0u, missing->runs);
  // PC-1 last wrote at 00:10 UTC: 11 hours 50 minutes before the report's 12:00 UTC.
  std::optional<ComputerState> one = Computer(report, "PC-1");
  EXPECT_TRUE(one->expected);
  EXPECT_EQ("run COPY: MODE=\"COPY\"", one->last.lastStep);
  EXPECT_EQ(11 * 3600 + 50 * 60, one->last.age);
  EXPECT_TRUE(one->last.stale);
  // PC-2 started at 11:00 UTC: one hour ago, not stale; its last step is its start.
  std::optional<ComputerState> two = Computer(report, "PC-2");
  EXPECT_EQ(3600, two->last.age);
  EXPECT_FALSE(two->last.stale);
  EXPECT_EQ(1u, report.stale);
  std::string text = TextReport(report);
  EXPECT_NE(std::string::npos,
            text.find("Expected: 4 computers, 2 with no run; 1 computer not in"));
  EXPECT_NE(std::string::npos,
            text.find("last step 11 hours 50 minutes ago (stale): run COPY: MODE=\"COPY\""));
}

class LineFormCommandTest : public ReportCommandTest {};

// A FIFO named on the command line is refused at once, not read for ever.
TEST_F(LineFormCommandTest, AFifoIsRefusedWithAMessage) {
  ASSERT_EQ(0, mkfifo(dir.Path("x.log").c_str(), 0600));
  dir.Write("a.log", Framed("2026-12-08T09:00:00+09:00", "PC-1", 1, Start("u.ini")));
  auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(kExitUnreadable, Run({dir.Path("x.log"), dir.Path("a.log")}));
  EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
  EXPECT_NE(std::string::npos,
            err.find("cannot read " + dir.Path("x.log") + ": not a regular file"));
  EXPECT_NE(std::string::npos, out.find("1 computer"));
}

TEST_F(LineFormCommandTest, ExpectAndStaleOptions) {
  dir.Write("a.log", Framed("2026-12-08T09:00:00+09:00", "PC-1", 1, Start("u.ini")));
  dir.Write("expected.txt", "\xEF\xBB\xBFPC-1\r\n  PC-2  \r\n\r\nPC-3");
  EXPECT_EQ(kExitRead, Run({"--json", "--stale", "0.5", "--expect", dir.Path("expected.txt"),
                            dir.Path("a.log")}));
  EXPECT_NE(std::string::npos, out.find("\"stale_after_seconds\": 1800"));
  EXPECT_NE(std::string::npos, out.find("\"expected\": 3, \"no_run\": 2"));
  EXPECT_NE(std::string::npos, out.find("{\"computer\": \"PC-2\", \"outcome\": \"no_run\""));
  EXPECT_EQ(kExitUsage, Run({"--stale", "soon", dir.Path("a.log")}));
  EXPECT_NE(std::string::npos, err.find("--stale needs a number of HOURS"));
  EXPECT_EQ(kExitUsage, Run({"--expect", dir.Path("none.txt"), dir.Path("a.log")}));
  EXPECT_NE(std::string::npos, err.find("cannot read " + dir.Path("none.txt")));
}

}  // namespace
}  // namespace report
}  // namespace kestario
