#include "tools/report/fleet.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "report/command_fixture.h"
#include "support/script_test.h"
#include "tools/report/command.h"
#include "tools/report/report_output.h"

namespace kestario {
namespace report {
namespace {

FleetReport ReportOf(const std::vector<std::string>& logs, size_t piece = size_t{1} << 20) {
  FleetReader reader;
  for (size_t i = 0; i < logs.size(); ++i) {
    TextSource source(logs[i], piece);
    reader.ReadLog("log" + std::to_string(i), &source);
  }
  // A fixed report time: reports made a second apart would differ in it and in the ages.
  ReportOptions options;
  options.now.Set("2026-12-08T12:00:00+00:00");
  return reader.Report(options);
}

std::optional<ComputerState> Computer(const FleetReport& report, const std::string& name) {
  for (const ComputerState& state : report.computers) {
    if (state.last.computer == name) return state;
  }
  return std::nullopt;
}

std::string Line(const std::string& time, const std::string& computer, int pid,
                 const std::string& event, const char* end = "\n") {
  return "2026-12-08 " + time + " " + computer + " " + std::to_string(pid) + " " + event + end;
}

std::string Start(const std::string& script, const std::string& user = "") {
  return "start: program \"C:\\Deploy\\updater.exe\" script \"" + script +
         "\" caption \"Data update\"" + (user.empty() ? "" : " user \"" + user + "\"");
}

// A fleet of 300 machines writing to one shared log at once: each runs twice; the first run
// finishes, the second ends in one of five ways by the machine's number. Process ids repeat
// across machines. The lines of all the runs interleave one by one.
std::string SharedFleetLog() {
  std::vector<std::vector<std::string>> runs;
  for (int i = 0; i < 300; ++i) {
    std::string pc = "PC-" + std::to_string(i);
    int pid = 100 + i % 7;
    runs.push_back(
        {Line("08:00:00", pc, pid, Start("C:\\Deploy\\old.ini", "u" + std::to_string(i))),
         Line("08:00:01", pc, pid, "list UPDATER PROC: C"),
         Line("08:00:02", pc, pid, "end: finished")});
    std::vector<std::string> second = {
        Line("09:00:00", pc, pid + 1, Start("C:\\Deploy\\new.ini", "u" + std::to_string(i))),
        Line("09:00:01", pc, pid + 1, "run C: MODE=\"COPY\" FROM=\"a\" TO=\"b\"")};
    switch (i % 5) {
      case 0:
        second.push_back(
            Line("09:00:02", pc, pid + 1, "error 8 \"Copy failed " + pc + "\": shown"));
        second.push_back(
            Line("09:00:03", pc, pid + 1, "end: stopped by message 8; exit code 1603"));
        break;
      case 1:
        second.push_back(Line("09:00:03", pc, pid + 1, "end: stopped by the answer to ASK"));
        break;
      case 2:
        second.push_back(Line("09:00:03", pc, pid + 1, "end: finished"));
        break;
      case 3:
        break;  // still running, or killed
      case 4:
        second.push_back(Line("09:00:03", pc, pid + 1, "end: stopped"));
        break;
    }
    runs.push_back(second);
  }
  std::string log;
  for (size_t line = 0; line < 4; ++line) {
    for (const auto& run : runs) {
      if (line < run.size()) log += run[line];
    }
  }
  return log;
}

TEST(FleetTest, InterleavedLogOfManyMachinesGivesEachItsLastRun) {
  FleetReport report = ReportOf({SharedFleetLog()});
  ASSERT_EQ(300u, report.computers.size());
  EXPECT_EQ(600u, report.runs);
  EXPECT_EQ(0u, report.skipped);
  for (int outcome = 0; outcome < kOutcomeCount; ++outcome) {
    if (outcome == static_cast<int>(Outcome::kNoRun)) continue;
    EXPECT_EQ(60u, report.computersByOutcome[outcome]) << outcome;
    EXPECT_EQ(outcome == static_cast<int>(Outcome::kFinished) ? 360u : 60u,
              report.runsByOutcome[outcome])
        << outcome;
  }
  std::optional<ComputerState> pc = Computer(report, "PC-35");
  ASSERT_TRUE(pc.has_value());
  EXPECT_EQ(2u, pc->runs);
  EXPECT_EQ(Outcome::kFailed, pc->last.outcome);
  EXPECT_EQ("2026-12-08 09:00:00", pc->last.firstTime.Text());
  EXPECT_EQ("C:\\Deploy\\new.ini", pc->last.script);
  EXPECT_EQ("u35", pc->last.user);
  EXPECT_EQ("stopped by message 8: \"Copy failed PC-35\"; exit code 1603", OutcomeText(pc->last));
  EXPECT_EQ("cancelled by the answer to ASK", OutcomeText(Computer(report, "PC-36")->last));
  EXPECT_EQ("finished", OutcomeText(Computer(report, "PC-37")->last));
  // The run without an end line shows its last step and how long ago it was written.
  const std::string unfinished = OutcomeText(Computer(report, "PC-38")->last);
  EXPECT_EQ(0u, unfinished.find("no end line (still running, or killed); last step "));
  EXPECT_NE(std::string::npos, unfinished.find(": run C: MODE=\"COPY\" FROM=\"a\" TO=\"b\""));
  EXPECT_EQ("stopped", OutcomeText(Computer(report, "PC-39")->last));
  // Failures first, then by name with numbers as numbers.
  EXPECT_EQ("PC-0", report.computers[0].last.computer);
  EXPECT_EQ("PC-5", report.computers[1].last.computer);
  EXPECT_EQ("PC-10", report.computers[2].last.computer);
  EXPECT_EQ(Outcome::kFinished, report.computers.back().last.outcome);
  EXPECT_EQ("PC-297", report.computers.back().last.computer);
}

TEST(FleetTest, SameResultWhateverTheBlocksTheLogArrivesIn) {
  std::string log = SharedFleetLog();
  std::string whole = JsonReport(ReportOf({log}));
  for (size_t piece : {1, 7, 100, 4096}) {
    EXPECT_EQ(whole, JsonReport(ReportOf({log}, piece))) << piece;
  }
}

TEST(FleetTest, AReusedProcessIdStartsANewRun) {
  FleetReport report = ReportOf({Line("10:00:00", "PC1", 32, Start("a.ini")) +
                                 Line("10:00:01", "PC1", 32, "list UPDATER PROC: A") +
                                 Line("10:05:00", "PC1", 32, Start("b.ini")) +
                                 Line("10:05:01", "PC1", 32, "end: finished")});
  ASSERT_EQ(1u, report.computers.size());
  EXPECT_EQ(2u, report.runs);
  EXPECT_EQ(1u, report.runsByOutcome[static_cast<int>(Outcome::kUnfinished)]);
  EXPECT_EQ("b.ini", report.computers[0].last.script);
  EXPECT_EQ(Outcome::kFinished, report.computers[0].last.outcome);
}

TEST(FleetTest, TheLastRunIsTheLatestWhateverTheOrderOfTheLogs) {
  std::string later = Line("11:00:00", "PC1", 5, Start("later.ini")) +
                      Line("11:00:01", "PC1", 5, "end: stopped by the answer to ASK");
  std::string earlier = Line("10:00:00", "PC1", 9, Start("earlier.ini")) +
                        Line("10:00:01", "PC1", 9, "end: finished");
  FleetReport report = ReportOf({later, earlier});
  ASSERT_EQ(1u, report.computers.size());
  EXPECT_EQ(2u, report.computers[0].runs);
  EXPECT_EQ("later.ini", report.computers[0].last.script);
  EXPECT_EQ("log0", report.logs[report.computers[0].last.log].path);
}

TEST(FleetTest, RunWhoseStartIsInAnEarlierLog) {
  FleetReport report = ReportOf({Line("09:59:59", "PC1", 5, "C: flag 1") +
                                 Line("10:00:01", "PC1", 5, "error 3 \"Gone\": shown") +
                                 Line("10:00:02", "PC1", 5, "end: stopped by message 3")});
  ASSERT_EQ(1u, report.computers.size());
  const report::Run& run = report.computers[0].last;
  EXPECT_FALSE(run.hasStart);
  EXPECT_EQ("2026-12-08 10:00:01", run.firstTime.Text());
  EXPECT_EQ(Outcome::kFailed, run.outcome);
  EXPECT_EQ("stopped by message 3: \"Gone\"", OutcomeText(run));
  EXPECT_NE(std::string::npos, TextReport(report).find("(start not in the log)"));
  EXPECT_NE(std::string::npos, JsonReport(report).find("\"start\": null"));
}

TEST(FleetTest, MessageTextOnlyFromThatMessagesLine) {
  FleetReport report = ReportOf({Line("10:00:00", "PC1", 5, Start("a.ini")) +
                                 Line("10:00:01", "PC1", 5, "error 4 \"Other\": shown") +
                                 Line("10:00:02", "PC1", 5, "end: stopped by message 8")});
  EXPECT_EQ("stopped by message 8", OutcomeText(report.computers[0].last));
}

TEST(FleetTest, TornAndForeignLinesAreSkippedAndCounted) {
  std::string log = "\xEF\xBB\xBF" + Line("10:00:00", "PC1", 5, Start("a.ini"), "\r\n") +
                    "Someone's note in the log\r\n" + "\r\n" +
                    std::string("\x00\x00\x00\xFF\xFE garbage", 13) + "\n" +
                    // A line cut off by a writer that stopped, and the next line glued to it.
                    "2026-12-08 10:00:01 PC1 5 run C: MODE=\"CO" +
                    Line("10:00:02", "PC2", 7, Start("b.ini"), "\r\n") +
                    // A start line cut inside its head, then a whole one.
                    "2026-12-08 10:0" + Line("10:00:03", "PC3", 8, Start("c.ini"), "\r\n") +
                    Line("10:00:04", "PC1", 5, "end: fini", "\r\n") +
                    Line("10:00:05", "PC2", 7, "end: finished", "\r\n") +
                    // No line end at all: the log ends where its writer was cut off, perhaps inside
                    // "message 80".
                    Line("10:00:06", "PC3", 8, "end: stopped by message 8", "");
  FleetReport report = ReportOf({log});
  EXPECT_EQ(7u, report.skipped);
  EXPECT_EQ(3u, report.computers.size());
  EXPECT_EQ(Outcome::kUnfinished, Computer(report, "PC1")->last.outcome);
  EXPECT_EQ(Outcome::kFinished, Computer(report, "PC2")->last.outcome);
  EXPECT_EQ("b.ini", Computer(report, "PC2")->last.script);
  EXPECT_EQ(Outcome::kUnfinished, Computer(report, "PC3")->last.outcome);
  EXPECT_EQ("a.ini", Computer(report, "PC1")->last.script);  // after the byte order mark
  EXPECT_NE(std::string::npos,
            TextTotals(report).find("Skipped 7 lines, torn or foreign: log0 (7)"));
}

TEST(FleetTest, ALineLongerThanTheReadBlock) {
  std::string caption(3 << 20, 'x');
  std::string log =
      Line("10:00:00", "PC1", 5, "start: program \"p\" script \"s\" caption \"" + caption + "\"") +
      Line("10:00:01", "PC1", 5, "end: finished");
  FleetReport report = ReportOf({log, Line("10:00:00", "PC2", 5, Start("a.ini"))});
  ASSERT_EQ(2u, report.computers.size());
  EXPECT_EQ(caption, Computer(report, "PC1")->last.caption);
  EXPECT_EQ(Outcome::kFinished, Computer(report, "PC1")->last.outcome);
  EXPECT_EQ(Outcome::kUnfinished, Computer(report, "PC2")->last.outcome);
}

// Two runs as an earlier release of updater.exe wrote them under Wine on a Japanese system: code
// page 932, CR LF, the same process id twice.
TEST(FleetTest, WindowsLogInCodePage932) {
  std::ifstream file(KESTARIO_SOURCE_DIR "/tests/report/data/windows-cp932.log", std::ios::binary);
  std::stringstream bytes;
  bytes << file.rdbuf();
  ASSERT_FALSE(bytes.str().empty());
  FleetReport report = ReportOf({bytes.str()});
  EXPECT_EQ(0u, report.skipped);
  EXPECT_EQ(18u, report.lines);
  ASSERT_EQ(1u, report.computers.size());
  EXPECT_EQ(2u, report.runs);
  const report::Run& run = report.computers[0].last;
  EXPECT_EQ("VM", run.computer);
  EXPECT_EQ("\xE3\x83\xAD\xE3\x82\xB0", run.caption);  // ログ
  EXPECT_EQ("C:\\e2e\\report_cp932\\updater.ini", run.script);
  EXPECT_EQ(Outcome::kFailed, run.outcome);
  // ファイルのコピーに失敗しました。\n\n転送元："...
  EXPECT_EQ(0u, run.messageText.find("\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x81\xAE"
                                     "\xE3\x82\xB3\xE3\x83\x94\xE3\x83\xBC\xE3\x81\xAB\xE5\xA4\xB1"
                                     "\xE6\x95\x97\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F"
                                     "\xE3\x80\x82\n\n\xE8\xBB\xA2\xE9\x80\x81\xE5\x85\x83\xEF\xBC"
                                     "\x9A\"C:\\e2e\\report_cp932\\fresh.txt\""));
  EXPECT_EQ(1u, report.runsByOutcome[static_cast<int>(Outcome::kFinished)]);
}

// A UTF-8 line and a code page 932 line from the same machine, in one log.
TEST(FleetTest, EachLineIsDecodedOnItsOwn) {
  FleetReport report =
      ReportOf({Line("10:00:00", "PC1", 5,
                     "start: program \"p\" script \"\x83\x8D\x83\x4F.ini\" "
                     "caption \"c\"") +
                Line("10:00:01", "PC1", 5, "error 8 \"\xE3\x83\xAD\xE3\x82\xB0\": shown") +
                Line("10:00:02", "PC1", 5, "end: stopped by message 8")});
  EXPECT_EQ("\xE3\x83\xAD\xE3\x82\xB0.ini", report.computers[0].last.script);
  EXPECT_EQ("\xE3\x83\xAD\xE3\x82\xB0", report.computers[0].last.messageText);
}

// Texts from a log that would break each form, or run in a browser or a terminal.
TEST(FleetTest, EveryFormEscapesTheLogsTexts) {
  std::string hostile = "<script>alert('x')</script> \"q\" \\ & \x1B[31m \xC2\x85 \xE2\x80\xA8";
  FleetReport report = ReportOf(
      {Line("10:00:00", "<b>PC</b>", 5,
            "start: program \"p\" script \"" + hostile + "\" caption \"" + hostile + "\"") +
       Line("10:00:01", "<b>PC</b>", 5, "error 8 \"" + hostile + "\": shown") +
       Line("10:00:02", "<b>PC</b>", 5, "end: stopped by message 8; " + hostile)});

  std::string html = HtmlReport(report);
  // The page's own script is its only one, and the policy lets nothing else run.
  EXPECT_EQ(html.rfind("<script>"), html.find("<script"));
  EXPECT_LT(html.rfind("</tbody>"), html.find("<script"));
  EXPECT_NE(std::string::npos, html.find("script-src 'sha256-"));
  EXPECT_EQ(std::string::npos, html.find("unsafe-inline"));
  EXPECT_EQ(std::string::npos, html.find("<b>"));
  EXPECT_EQ(std::string::npos, html.find('\x1B'));
  EXPECT_NE(std::string::npos,
            html.find("&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &quot;q&quot; \\ &amp; "
                      "\\x1B[31m \\u0085"));
  EXPECT_NE(std::string::npos, html.find("&lt;b&gt;PC&lt;/b&gt;"));
  EXPECT_NE(std::string::npos, html.find("Content-Security-Policy"));
  EXPECT_EQ(std::string::npos, html.find("src="));
  EXPECT_EQ(std::string::npos, html.find("href="));

  // A text that a spreadsheet would take for a formula gets a ' in front.
  FleetReport formula = ReportOf({Line("10:00:00", "=SUM(A1)", 5, "end: finished")});
  EXPECT_NE(std::string::npos, CsvReport(formula).find("\r\n'=SUM(A1),finished,"));
  std::string csv = CsvReport(report);
  EXPECT_NE(
      std::string::npos,
      csv.find(",\"<script>alert('x')</script> \"\"q\"\" \\ & \x1B[31m \xC2\x85 \xE2\x80\xA8\","));

  std::string json = JsonReport(report);
  EXPECT_NE(std::string::npos,
            json.find("\"script\": \"<script>alert('x')</script> \\\"q\\\" \\\\ & \\u001b[31m "
                      "\xC2\x85 \\u2028\""));
  EXPECT_EQ(std::string::npos, json.find('\x1B'));

  std::string text = TextReport(report);
  EXPECT_EQ(std::string::npos, text.find('\x1B'));
  EXPECT_NE(std::string::npos, text.find("\\x1B[31m \\u0085"));
}

// The page's chart: bars per hour for a morning; a clock years off does not make it a bar per
// week of all those years.
TEST(FleetTest, PageChartFitsItsBarsToTheTimes) {
  FleetReport morning = ReportOf({Line("09:10:00", "PC1", 5, "end: finished") +
                                  Line("11:20:00", "PC2", 5, "end: stopped by message 8")});
  std::string html = HtmlReport(morning);
  EXPECT_NE(std::string::npos, html.find("per hour in which it started (2026-12-08 09:00 to "
                                         "2026-12-08 11:00, the machines' local times)"));
  EXPECT_NE(std::string::npos, html.find("<title>2026-12-08 11:00: 1 stopped by an error message"));

  FleetReport wrongClock = ReportOf(
      {Line("09:10:00", "PC1", 5, "end: finished") + "1990-01-01 09:00:00 PC2 5 end: finished\n"});
  html = HtmlReport(wrongClock);
  EXPECT_NE(
      std::string::npos,
      html.find("per 10 weeks in which it started (week of 1989-12-11 to week of 2026-12-07,"));
  EXPECT_LT(html.size(), 40000u);
}

TEST(FleetTest, TextColumnsLineUpWithWideCharacters) {
  FleetReport report = ReportOf({Line("10:00:00", "PC1", 5, Start("\xE3\x83\xAD\xE3\x82\xB0.ini")) +
                                 Line("10:00:00", "PC22", 5, Start("abcdef.ini"))});
  std::string text = TextReport(report);
  size_t table = text.find("Computer  ");  // after the breakdown by script
  size_t first = text.find("\xE3\x83\xAD\xE3\x82\xB0.ini  ", table);
  size_t second = text.find("abcdef.ini  ", table);
  ASSERT_NE(std::string::npos, first);
  ASSERT_NE(std::string::npos, second);
  // Both scripts take 10 columns; the outcome column starts two spaces after them.
  EXPECT_EQ(text.find("no end line", first) - first, 4 + 6 + 2 + 2);
  EXPECT_EQ(text.find("no end line", second) - second, 10 + 2);
}

// A folder of per-machine logs, with a sub-folder and a log that is not there.
TEST_F(ReportCommandTest, FolderOfPerMachineLogsAndAnUnreadableLog) {
  dir.Write("update-PC1.log", Line("10:00:00", "PC1", 5, Start("a.ini", "sato")) +
                                  Line("10:00:01", "PC1", 5, "end: finished"));
  dir.Write("update-PC2.log", Line("10:00:00", "PC2", 5, Start("a.ini")) +
                                  Line("10:00:01", "PC2", 5, "end: stopped by the answer to ASK"));
  ASSERT_EQ(0, mkdir(dir.Path("sub").c_str(), 0755));
  dir.Write("sub/update-PC3.log", Line("10:00:00", "PC3", 5, Start("a.ini")));
  EXPECT_EQ(kExitUnreadable, Run({dir.path(), dir.Path("missing.log")}));
  EXPECT_NE(std::string::npos, err.find("updater-report: cannot read " + dir.Path("missing.log")));
  EXPECT_NE(std::string::npos, out.find("Run logs: 2 read, 1 not (below); 2 computers, 2 runs"));
  EXPECT_NE(std::string::npos, out.find("Cannot read " + dir.Path("missing.log") + ": "));
  EXPECT_NE(std::string::npos, out.find("PC2       2026-12-08 10:00:00  -     a.ini   cancelled"));
  EXPECT_NE(std::string::npos, out.find("PC1       2026-12-08 10:00:00  sato  a.ini   finished"));
  EXPECT_LT(out.find("PC2  "), out.find("PC1  "));
  EXPECT_EQ(std::string::npos, out.find("PC3"));

  EXPECT_EQ(kExitRead, Run({"--json", dir.Path("update-PC1.log")}));
  EXPECT_NE(std::string::npos, out.find("\"user\": \"sato\""));
  EXPECT_NE(std::string::npos, out.find("\"computers_by_outcome\": {\"failed\": 0, \"stopped\": 0, "
                                        "\"unfinished\": 0, \"no_run\": 0, \"cancelled\": 0, "
                                        "\"finished\": 1}"));
}

TEST_F(ReportCommandTest, HtmlPageBesideTheTotals) {
  dir.Write("a.log", Line("10:00:00", "PC1", 5, Start("a.ini")) +
                         Line("10:00:01", "PC1", 5, "end: stopped by message 8"));
  EXPECT_EQ(kExitRead, Run({"--html=" + dir.Path("report.html"), dir.Path("a.log")}));
  EXPECT_NE(std::string::npos, out.find("stopped by an error message                     1"));
  EXPECT_EQ(std::string::npos, out.find("Computer  "));
  std::string page = dir.Read("report.html");
  EXPECT_EQ(0u, page.find("<!DOCTYPE html>"));
  EXPECT_NE(
      std::string::npos,
      page.find("<tr class=\"failed\" data-o=\"failed\" data-m=\"8\" data-s=\"0\"><td>PC1</td>"));

  EXPECT_EQ(kExitUsage, Run({"--html", dir.Path("no/such/folder/r.html"), dir.Path("a.log")}));
  EXPECT_NE(std::string::npos, err.find("cannot write"));
}

// One row per computer, RFC 4180: a field with a quote, a comma or a line break is quoted and
// its quotes doubled; records end with CR LF, line breaks inside a field stay.
TEST_F(ReportCommandTest, CsvBesideTheTotals) {
  dir.Write("a.log",
            Line("10:00:00", "PC1", 5, Start("a,b.ini", "sato")) +
                Line("10:00:01", "PC1", 5, "error 8 \"Copy \"x\" failed.\\nRetry\": shown") +
                Line("10:00:02", "PC1", 5, "end: stopped by message 8; exit code 1603") +
                Line("10:00:00", "PC2", 7, Start("b.ini")));
  EXPECT_EQ(kExitRead, Run({"--csv", dir.Path("fleet.csv"), dir.Path("a.log")}));
  EXPECT_NE(std::string::npos, out.find("stopped by an error message                     1"));
  EXPECT_EQ(std::string::npos, out.find("Computer  "));
  std::string csv = dir.Read("fleet.csv");
  EXPECT_EQ(0u, csv.find("computer,outcome,summary,start,"));
  EXPECT_NE(std::string::npos, csv.find("\r\nPC1,failed,\"stopped by message 8: \"\"Copy "));
  EXPECT_NE(std::string::npos, csv.find(",sato,\"a,b.ini\","));
  EXPECT_NE(std::string::npos,
            csv.find(",8,\"Copy \"\"x\"\" failed.\nRetry\",,exit code 1603,1603,"));
  EXPECT_NE(std::string::npos, csv.find("\r\nPC2,unfinished,"));
  EXPECT_EQ(3, std::count(csv.begin(), csv.end(), '\r'));

  EXPECT_EQ(kExitUsage, Run({"--csv", dir.Path("no/such/folder/f.csv"), dir.Path("a.log")}));
  EXPECT_NE(std::string::npos, err.find("cannot write"));
}

TEST_F(ReportCommandTest, CommandLineMistakes) {
  EXPECT_EQ(kExitUsage, Run({}));
  EXPECT_NE(std::string::npos, err.find("no log given"));
  EXPECT_EQ(kExitUsage, Run({"--html"}));
  EXPECT_EQ(kExitUsage, Run({"--pdf", "a.log"}));
  EXPECT_NE(std::string::npos, err.find("unknown option --pdf"));
  EXPECT_EQ(kExitUsage, Run({"--csv"}));
  EXPECT_NE(std::string::npos, err.find("--csv needs a FILE"));
  EXPECT_EQ(kExitRead, Run({"--help"}));
  EXPECT_EQ(0u, out.find("usage: updater-report"));
  for (const char* option : {"--version", "-V"}) {
    EXPECT_EQ(kExitRead, Run({option}));
    EXPECT_EQ(0u, out.find("updater-report "));
    EXPECT_EQ('\n', out.back());
  }
  // After "--" a name that begins with "-" is a log.
  dir.Write("-a.log", Line("10:00:00", "PC1", 5, Start("a.ini")));
  EXPECT_EQ(kExitRead, Run({"--", dir.Path("-a.log")}));
}

}  // namespace
}  // namespace report
}  // namespace kestario
