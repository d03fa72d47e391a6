// The fleet report as CSV (RFC 4180), for spreadsheets and scripts: a header row, then one row
// per computer with the fields of its last run, in the order of the other forms.
#include <string>
#include <vector>

#include "tools/report/report_output.h"

namespace kestario {
namespace report {
namespace {

// A field: quoted when it holds a comma, a quote or a line break, its quotes doubled. A text that
// a spreadsheet would take for a formula (it begins with = + - @, a tab or a carriage return)
// gets a ' in front, so that a text from a log cannot run as one.
std::string Field(const std::string& text, bool fromLog) {
  std::string value = text;
  if (fromLog && !value.empty() &&
      (value[0] == '=' || value[0] == '+' || value[0] == '-' || value[0] == '@' ||
       value[0] == '\t' || value[0] == '\r')) {
    value.insert(0, 1, '\'');
  }
  if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
  std::string out = "\"";
  for (char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

void AppendRecord(const std::vector<std::string>& fields, std::string* out) {
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i != 0) *out += ',';
    *out += fields[i];
  }
  *out += "\r\n";
}

}  // namespace

std::string CsvReport(const FleetReport& report) {
  std::string out;
  AppendRecord({"computer",    "outcome",      "summary",  "start",   "first_line", "last_line",
                "end",         "pid",          "user",     "script",  "caption",    "program",
                "message",     "message_text", "answer",   "details", "exit_code",  "last_step",
                "age_seconds", "stale",        "expected", "runs",    "log"},
               &out);
  auto time = [](bool present, const LogTime& when) { return present ? when.Iso() : ""; };
  for (const ComputerState& state : report.computers) {
    const Run& run = state.last;
    bool ran = run.outcome != Outcome::kNoRun;
    bool unfinished = run.outcome == Outcome::kUnfinished;
    AppendRecord({Field(run.computer, true),
                  OutcomeName(run.outcome),
                  Field(OutcomeText(run), true),
                  time(ran && run.hasStart, run.firstTime),
                  time(ran, run.firstTime),
                  time(ran, run.lastTime),
                  time(ran, run.endTime),
                  ran ? run.pid : "",
                  Field(run.hasUser ? run.user : "", true),
                  Field(run.hasStart ? run.script : "", true),
                  Field(run.hasStart ? run.caption : "", true),
                  Field(run.hasStart ? run.program : "", true),
                  run.outcome == Outcome::kFailed ? std::to_string(run.message) : "",
                  Field(run.hasMessageText ? run.messageText : "", true),
                  Field(run.outcome == Outcome::kCancelled ? run.answer : "", true),
                  Field(run.details, true),
                  run.hasExitCode ? std::to_string(run.exitCode) : "",
                  Field(unfinished ? run.lastStep : "", true),
                  unfinished ? std::to_string(run.age) : "",
                  unfinished ? (run.stale ? "yes" : "no") : "",
                  report.expected == 0 ? ""
                  : state.expected     ? "yes"
                                       : "no",
                  std::to_string(state.runs),
                  Field(LogPath(report, run), true)},
                 &out);
  }
  return out;
}

}  // namespace report
}  // namespace kestario
