#include "tools/report/report_output.h"

#include <cinttypes>
#include <cstdio>

#include "tools/report/text_decode.h"

namespace kestario {
namespace report {
namespace {

// The words for each outcome in the totals, in the order of Outcome.
constexpr const char* kOutcomeLabels[kOutcomeCount] = {
    "stopped by an error message",
    "stopped without a message",
    "no end line (still running, or killed)",
    "cancelled by an answer",
    "finished",
};

// A log's lines of runs whose start is not in it have no script and no user.
constexpr const char* kNoStart = "(start not in the log)";
// How many logs with skipped lines the text names; the JSON names them all.
constexpr size_t kSkippedLogsNamed = 10;

std::string Number(uint64_t value) {
  char digits[24];
  std::snprintf(digits, sizeof digits, "%" PRIu64, value);
  std::string plain(digits);
  std::string grouped;
  for (size_t i = 0; i < plain.size(); ++i) {
    if (i != 0 && (plain.size() - i) % 3 == 0) grouped.push_back(',');
    grouped.push_back(plain[i]);
  }
  return grouped;
}

std::string Plural(uint64_t count, const char* one, const char* many) {
  return Number(count) + " " + (count == 1 ? one : many);
}

// `text` (UTF-8) with each control character written out as \xHH (C0 and DEL) or \uHHHH (C1),
// so that a log cannot move the cursor or change the colours of a terminal.
std::string Visible(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t at = 0; at < text.size();) {
    size_t before = at;
    uint32_t c = NextCodePoint(text, &at);
    char escape[8];
    if (c < 0x20 || c == 0x7F) {
      std::snprintf(escape, sizeof escape, "\\x%02X", static_cast<unsigned>(c));
      out += escape;
    } else if (c >= 0x80 && c <= 0x9F) {
      std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(c));
      out += escape;
    } else {
      out.append(text, before, at - before);
    }
  }
  return out;
}

// A JSON string literal of UTF-8 `text`.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    size_t before = at;
    uint32_t c = NextCodePoint(text, &at);
    char escape[8];
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7F || c == 0x2028 || c == 0x2029) {
          std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
          out += escape;
        } else {
          out.append(text, before, at - before);
        }
    }
  }
  return out + "\"";
}

std::string JsonOptional(bool present, const std::string& text) {
  return present ? JsonString(text) : "null";
}

// UTF-8 `text` for HTML text or an attribute value: control characters written out as in the
// text form, and & < > " ' as character references.
std::string Html(const std::string& text) {
  std::string visible = Visible(text);
  std::string out;
  out.reserve(visible.size());
  for (char c : visible) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string When(const Run& run) { return std::string(run.firstTime.View()); }
std::string User(const Run& run) { return run.hasUser ? run.user : "-"; }
std::string Script(const Run& run) { return run.hasStart ? run.script : kNoStart; }

const std::string& LogPath(const FleetReport& report, const Run& run) {
  return report.logs[run.log].path;
}

// Pads `cells` (visible UTF-8) to columns, the last one unpadded.
void AppendRow(const std::vector<std::string>& cells, const std::vector<size_t>& widths,
               std::string* out) {
  for (size_t i = 0; i < cells.size(); ++i) {
    *out += cells[i];
    if (i + 1 < cells.size()) out->append(widths[i] - DisplayWidth(cells[i]) + 2, ' ');
  }
  *out += "\n";
}

}  // namespace

std::string OutcomeText(const Run& run) {
  std::string text;
  switch (run.outcome) {
    case Outcome::kFinished:
      text = "finished";
      break;
    case Outcome::kFailed:
      text = "stopped by message " + std::to_string(run.message);
      if (run.hasMessageText) text += ": \"" + run.messageText + "\"";
      break;
    case Outcome::kCancelled:
      text = "cancelled by the answer to " + run.answer;
      break;
    case Outcome::kStopped:
      text = run.signal != 0 ? "stopped by signal " + std::to_string(run.signal) : "stopped";
      break;
    case Outcome::kUnfinished:
      text = "no end line (still running, or killed)";
      break;
  }
  if (!run.details.empty()) text += "; " + run.details;
  return text;
}

std::string TextTotals(const FleetReport& report) {
  std::string out = "Run logs: " + Number(report.logs.size() - report.unreadable) + " read";
  if (report.unreadable != 0) out += ", " + Number(report.unreadable) + " not (below)";
  out += "; " + Plural(report.computers.size(), "computer", "computers") + ", " +
         Plural(report.runs, "run", "runs") + ", " + Plural(report.lines, "line", "lines") + "\n";
  for (const LogSummary& log : report.logs) {
    if (!log.error.empty()) out += "Cannot read " + Visible(log.path) + ": " + log.error + "\n";
  }
  if (report.skipped != 0) {
    out += "Skipped " + Plural(report.skipped, "line", "lines") + ", torn or foreign:";
    size_t named = 0, more = 0;
    for (const LogSummary& log : report.logs) {
      if (log.skipped == 0) continue;
      if (named++ < kSkippedLogsNamed) {
        out += (named == 1 ? " " : ", ") + Visible(log.path) + " (" + Number(log.skipped) + ")";
      } else {
        ++more;
      }
    }
    if (more != 0) out += " and " + Plural(more, "more log", "more logs");
    out += "\n";
  }
  out += "\n";
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"Outcome of the last run", "Computers", "All runs"});
  for (int i = 0; i < kOutcomeCount; ++i) {
    rows.push_back(
        {kOutcomeLabels[i], Number(report.computersByOutcome[i]), Number(report.runsByOutcome[i])});
  }
  std::vector<size_t> widths(3, 0);
  for (const auto& row : rows) {
    for (size_t i = 0; i < 3; ++i) widths[i] = std::max(widths[i], DisplayWidth(row[i]));
  }
  // The numbers are aligned on the right.
  for (const auto& row : rows) {
    out += row[0];
    out.append(widths[0] - DisplayWidth(row[0]), ' ');
    for (size_t i = 1; i < 3; ++i) {
      out.append(widths[i] - row[i].size() + 2, ' ');
      out += row[i];
    }
    out += "\n";
  }
  return out;
}

std::string TextReport(const FleetReport& report) {
  std::string out = TextTotals(report);
  out += "\n";
  if (report.computers.empty()) return out + "No runs in the logs.\n";
  std::vector<std::vector<std::string>> rows;
  rows.push_back({"Computer", "Last run", "User", "Script", "Outcome"});
  for (const ComputerState& state : report.computers) {
    const Run& run = state.last;
    rows.push_back({Visible(run.computer), When(run), Visible(User(run)), Visible(Script(run)),
                    Visible(OutcomeText(run))});
  }
  std::vector<size_t> widths(5, 0);
  for (const auto& row : rows) {
    for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], DisplayWidth(row[i]));
  }
  for (const auto& row : rows) AppendRow(row, widths, &out);
  return out;
}

std::string JsonReport(const FleetReport& report) {
  std::string out = "{\n  \"logs\": [";
  for (size_t i = 0; i < report.logs.size(); ++i) {
    const LogSummary& log = report.logs[i];
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"path\": " + JsonString(log.path) +
           ", \"error\": " + JsonOptional(!log.error.empty(), log.error) +
           ", \"bytes\": " + std::to_string(log.bytes) +
           ", \"lines\": " + std::to_string(log.lines) +
           ", \"skipped_lines\": " + std::to_string(log.skipped) +
           ", \"runs\": " + std::to_string(log.runs) + "}";
  }
  out += report.logs.empty() ? "],\n" : "\n  ],\n";
  auto byOutcome = [](const uint64_t* counts) {
    std::string text = "{";
    for (int i = 0; i < kOutcomeCount; ++i) {
      text += (i == 0 ? "\"" : ", \"") + std::string(OutcomeName(static_cast<Outcome>(i))) +
              "\": " + std::to_string(counts[i]);
    }
    return text + "}";
  };
  out += "  \"totals\": {\"computers\": " + std::to_string(report.computers.size()) +
         ", \"runs\": " + std::to_string(report.runs) +
         ", \"lines\": " + std::to_string(report.lines) +
         ", \"skipped_lines\": " + std::to_string(report.skipped) +
         ", \"unreadable_logs\": " + std::to_string(report.unreadable) +
         ",\n             \"computers_by_outcome\": " + byOutcome(report.computersByOutcome) +
         ",\n             \"runs_by_outcome\": " + byOutcome(report.runsByOutcome) + "},\n";
  out += "  \"computers\": [";
  for (size_t i = 0; i < report.computers.size(); ++i) {
    const ComputerState& state = report.computers[i];
    const Run& run = state.last;
    bool failed = run.outcome == Outcome::kFailed;
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"computer\": " + JsonString(run.computer) +
           ", \"outcome\": " + JsonString(OutcomeName(run.outcome)) +
           ", \"summary\": " + JsonString(OutcomeText(run)) +
           ",\n     \"start\": " + JsonOptional(run.hasStart, When(run)) +
           ", \"first_line\": " + JsonString(When(run)) +
           ", \"end\": " + JsonOptional(run.endTime.known, std::string(run.endTime.View())) +
           ",\n     \"pid\": " + std::to_string(std::stoull(run.pid)) +
           ", \"user\": " + JsonOptional(run.hasUser, run.user) +
           ", \"script\": " + JsonOptional(run.hasStart, run.script) +
           ", \"caption\": " + JsonOptional(run.hasStart, run.caption) +
           ", \"program\": " + JsonOptional(run.hasStart, run.program) +
           ",\n     \"message\": " + (failed ? std::to_string(run.message) : "null") +
           ", \"message_text\": " + JsonOptional(run.hasMessageText, run.messageText) +
           ", \"answer\": " + JsonOptional(run.outcome == Outcome::kCancelled, run.answer) +
           ", \"details\": " + JsonOptional(!run.details.empty(), run.details) +
           ",\n     \"runs\": " + std::to_string(state.runs) +
           ", \"log\": " + JsonString(LogPath(report, run)) + "}";
  }
  out += report.computers.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

std::string HtmlReport(const FleetReport& report) {
  std::string out =
      "<!DOCTYPE html>\n"
      "<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      // Nothing from elsewhere, and no script at all, even one that a log might smuggle in.
      "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; "
      "style-src 'unsafe-inline'\">\n"
      "<title>Kestario Updater: fleet report</title>\n<style>\n"
      "body { font-family: sans-serif; margin: 1.5em; color: #222; }\n"
      "table { border-collapse: collapse; margin-bottom: 1.5em; }\n"
      "th, td { border: 1px solid #bbb; padding: 0.25em 0.6em; text-align: left;"
      " vertical-align: top; }\n"
      "th { background: #eee; }\n"
      "td.number { text-align: right; }\n"
      "tr.failed td { background: #fbdada; }\n"
      "tr.stopped td { background: #fbe6cf; }\n"
      "tr.unfinished td { background: #fdf6c8; }\n"
      "tr.cancelled td { background: #e5ecf8; }\n"
      "td.text { white-space: pre-wrap; word-break: break-word; }\n"
      "</style>\n</head>\n<body>\n<h1>Kestario Updater: fleet report</h1>\n";
  out += "<p>" + Number(report.logs.size() - report.unreadable) + " " +
         (report.logs.size() - report.unreadable == 1 ? "log" : "logs") + " read, " +
         Plural(report.computers.size(), "computer", "computers") + ", " +
         Plural(report.runs, "run", "runs") + ", " + Plural(report.lines, "line", "lines") + ".";
  out += "</p>\n";
  if (report.skipped != 0) {
    out += "<p>Lines skipped, torn or foreign:</p>\n<ul>\n";
    for (const LogSummary& log : report.logs) {
      if (log.skipped != 0) out += "<li>" + Html(log.path) + ": " + Number(log.skipped) + "</li>\n";
    }
    out += "</ul>\n";
  }
  if (report.unreadable != 0) {
    out += "<p>Logs that could not be read:</p>\n<ul>\n";
    for (const LogSummary& log : report.logs) {
      if (!log.error.empty()) out += "<li>" + Html(log.path) + ": " + Html(log.error) + "</li>\n";
    }
    out += "</ul>\n";
  }
  out += "<table>\n<tr><th>Outcome of the last run</th><th>Computers</th><th>All runs</th></tr>\n";
  for (int i = 0; i < kOutcomeCount; ++i) {
    out += "<tr class=\"" + std::string(OutcomeName(static_cast<Outcome>(i))) + "\"><td>" +
           kOutcomeLabels[i] + "</td><td class=\"number\">" + Number(report.computersByOutcome[i]) +
           "</td><td class=\"number\">" + Number(report.runsByOutcome[i]) + "</td></tr>\n";
  }
  out += "</table>\n";
  out +=
      "<table>\n<tr><th>Computer</th><th>Outcome</th><th>Last run</th><th>User</th>"
      "<th>Script</th><th>Caption</th><th>Runs</th><th>Log</th></tr>\n";
  for (const ComputerState& state : report.computers) {
    const Run& run = state.last;
    out += "<tr class=\"" + std::string(OutcomeName(run.outcome)) + "\"><td>" + Html(run.computer) +
           "</td><td class=\"text\">" + Html(OutcomeText(run)) + "</td><td>" + Html(When(run)) +
           "</td><td>" + Html(User(run)) + "</td><td>" + Html(Script(run)) + "</td><td>" +
           Html(run.hasStart ? run.caption : "") + "</td><td class=\"number\">" +
           Number(state.runs) + "</td><td>" + Html(LogPath(report, run)) + "</td></tr>\n";
  }
  out += "</table>\n</body>\n</html>\n";
  return out;
}

}  // namespace report
}  // namespace kestario
