#include "tools/report/report_output.h"

#include <algorithm>
#include <array>
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
    "no run (expected, never reported)",
    "cancelled by an answer",
    "finished",
};

// A log's lines of runs whose start is not in it have no script and no user.
constexpr const char* kNoStart = "(start not in the log)";
// The width of a count in the text's breakdowns ("Computers" and "All runs" right-aligned), and
// how many texts of one error message the text shows; the JSON gives them all.
constexpr size_t kCountWidth = 10;
constexpr size_t kTextsShown = 5;
// The size of the pieces in which a report is handed out as it is made.
constexpr size_t kPiece = size_t{1} << 20;

std::string BreakdownTitle(const char* what) {
  std::string title;
  for (const char* count : {"Computers", "All runs"}) {
    title.append(kCountWidth - std::string(count).size(), ' ');
    title += count;
    title += "  ";
  }
  return title + what + "\n";
}
// How many logs with skipped lines the text names; the JSON names them all.
constexpr size_t kSkippedLogsNamed = 10;

}  // namespace

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
  size_t plain = 0;  // printable ASCII, as it is
  while (plain < text.size() && text[plain] >= 0x20 && text[plain] < 0x7F) ++plain;
  if (plain == text.size()) return text;
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

// How long ago, in words: "3 days 4 hours", "5 hours 2 minutes", "12 minutes", "40 seconds".
std::string Age(int64_t seconds) {
  auto unit = [](int64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
  };
  if (seconds >= 86400) {
    std::string text = unit(seconds / 86400, "day", "days");
    return seconds % 86400 >= 3600 ? text + " " + unit(seconds % 86400 / 3600, "hour", "hours")
                                   : text;
  }
  if (seconds >= 3600) {
    std::string text = unit(seconds / 3600, "hour", "hours");
    return seconds % 3600 >= 60 ? text + " " + unit(seconds % 3600 / 60, "minute", "minutes")
                                : text;
  }
  if (seconds >= 60) return unit(seconds / 60, "minute", "minutes");
  return unit(seconds, "second", "seconds");
}

namespace {

// The width of Visible(text), without making it when `text` is printable ASCII.
size_t VisibleWidth(const std::string& text) {
  size_t plain = 0;
  while (plain < text.size() && text[plain] >= 0x20 && text[plain] < 0x7F) ++plain;
  return plain == text.size() ? plain : DisplayWidth(Visible(text));
}

// The width of time.Text(): "2026-12-08 09:00:00 +09:00", "2026-12-08 09:00:00", or "".
size_t TimeWidth(const LogTime& time) {
  if (!time.known) return 0;
  return time.hasOffset ? 26 : 19;
}

// `text` as Visible() gives it, but each line break kept and followed by `indent` spaces, so that
// the lines of a box text stay under one another in a column.
std::string VisibleLines(const std::string& text, size_t indent) {
  std::string out;
  size_t start = 0;
  for (;;) {
    size_t end = text.find('\n', start);
    out += Visible(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) return out;
    out += "\n";
    start = end + 1;
    if (start < text.size() && text[start] != '\n') out.append(indent, ' ');
  }
}

// A JSON string literal of UTF-8 `text`.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t at = 0; at < text.size();) {
    // Printable ASCII other than the quote and the backslash, as it is, a run at a time.
    size_t plain = at;
    while (plain < text.size() && text[plain] >= 0x20 && text[plain] < 0x7F && text[plain] != '"' &&
           text[plain] != '\\') {
      ++plain;
    }
    out.append(text, at, plain - at);
    at = plain;
    if (at == text.size()) break;
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

}  // namespace

std::string When(const Run& run) { return run.firstTime.Text(); }
std::string User(const Run& run) { return run.hasUser ? run.user : "-"; }
std::string Script(const Run& run) {
  return run.hasStart ? run.script : run.outcome == Outcome::kNoRun ? "-" : kNoStart;
}

const char* OutcomeLabel(Outcome outcome) { return kOutcomeLabels[static_cast<int>(outcome)]; }

const std::string& LogPath(const FleetReport& report, const Run& run) {
  static const std::string kNoLog;
  return run.outcome == Outcome::kNoRun ? kNoLog : report.logs[run.log].path;
}

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
      if (run.lastTime.known) {
        text += "; last step " + Age(run.age) + " ago" + (run.stale ? " (stale)" : "") + ": " +
                (run.lastStep.empty() ? std::string("its start") : run.lastStep);
      }
      break;
    case Outcome::kNoRun:
      text = "no run";
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
  if (report.stale != 0) {
    out += "Stale: " + Plural(report.stale, "computer", "computers") +
           " whose last run has no end line and wrote nothing for more than " +
           Age(report.staleAfter) + "\n";
  }
  if (report.expected != 0) {
    out += "Expected: " + Plural(report.expected, "computer", "computers") + ", " +
           Number(report.computersByOutcome[static_cast<int>(Outcome::kNoRun)]) + " with no run; " +
           Plural(report.unexpected, "computer", "computers") + " not in the list\n";
  }
  // The breakdowns: the counts first, the texts (which may have several lines) last.
  auto countsRow = [&](const Counts& counts, const std::string& what, size_t indent) {
    std::string computers = Number(counts.computers), runs = Number(counts.runs);
    std::string row;
    row.append(kCountWidth > computers.size() ? kCountWidth - computers.size() : 0, ' ');
    row += computers + "  ";
    row.append(kCountWidth > runs.size() ? kCountWidth - runs.size() : 0, ' ');
    row += runs + "  ";
    row.append(indent, ' ');
    return row + VisibleLines(what, 2 * kCountWidth + 4 + indent) + "\n";
  };
  if (!report.messages.empty()) {
    out += "\n" + BreakdownTitle("Error message");
    for (const MessageTotal& message : report.messages) {
      out += countsRow(message.counts, "message " + std::to_string(message.message), 0);
      size_t shown = 0;
      for (const MessageText& text : message.texts) {
        if (shown++ == kTextsShown) {
          out += std::string(2 * kCountWidth + 6, ' ') + "and " +
                 Plural(message.texts.size() - kTextsShown, "more text", "more texts") + "\n";
          break;
        }
        out += countsRow(text.counts,
                         text.known ? "\"" + text.text + "\"" : "(text not in the log)", 2);
      }
    }
  }
  if (!report.scripts.empty()) {
    out += "\n" + BreakdownTitle("Script and caption");
    for (const ScriptTotal& script : report.scripts) {
      out += countsRow(script.counts,
                       script.known ? script.script + "  \"" + script.caption + "\"" : kNoStart, 0);
    }
  }
  return out;
}

std::string TextReport(const FleetReport& report) {
  std::string text;
  WriteTextReport(report, [&](const std::string& piece) { text += piece; });
  return text;
}

void WriteTextReport(const FleetReport& report, const ReportWriter& write) {
  std::string out = TextTotals(report);
  out += "\n";
  if (report.computers.empty()) {
    write(out + "No runs in the logs.\n");
    return;
  }
  // Two passes over the computers, the first for the widths of the columns, so that a fleet of a
  // million is not held as rows.
  constexpr size_t kColumns = 5;
  const char* titles[kColumns] = {"Computer", "Last run", "User", "Script", "Outcome"};
  size_t widths[kColumns - 1] = {};
  for (size_t i = 0; i + 1 < kColumns; ++i) widths[i] = DisplayWidth(titles[i]);
  for (size_t at = 0; at < report.computers.size(); ++at) {
    const Run run = report.computers.Columns(at);
    bool ran = run.outcome != Outcome::kNoRun;
    size_t row[kColumns - 1] = {VisibleWidth(run.computer), ran ? TimeWidth(run.firstTime) : 1,
                                ran ? VisibleWidth(User(run)) : 1,
                                ran ? VisibleWidth(Script(run)) : 1};
    for (size_t i = 0; i + 1 < kColumns; ++i) widths[i] = std::max(widths[i], row[i]);
  }
  size_t indent = 0;
  for (size_t width : widths) indent += width + 2;
  // A cell as Visible() shows it, padded to its column's width and the two spaces after it.
  auto cell = [&](const std::string& text, size_t width) {
    size_t plain = 0;
    while (plain < text.size() && text[plain] >= 0x20 && text[plain] < 0x7F) ++plain;
    if (plain == text.size()) {
      out += text;
      out.append(width - text.size() + 2, ' ');
    } else {
      std::string shown = Visible(text);
      out += shown;
      out.append(width - DisplayWidth(shown) + 2, ' ');
    }
  };
  for (size_t i = 0; i + 1 < kColumns; ++i) cell(titles[i], widths[i]);
  out += titles[kColumns - 1];
  out += "\n";
  static const std::string kNone = "-";
  for (const ComputerState& state : report.computers) {
    const Run& run = state.last;
    bool ran = run.outcome != Outcome::kNoRun;
    cell(run.computer, widths[0]);
    cell(ran ? When(run) : kNone, widths[1]);
    cell(ran ? User(run) : kNone, widths[2]);
    cell(ran ? Script(run) : kNone, widths[3]);
    out += VisibleLines(OutcomeText(run), indent);
    out += "\n";
    if (out.size() >= kPiece) {
      write(out);
      out.clear();
    }
  }
  write(out);
}

std::string JsonReport(const FleetReport& report) {
  std::string text;
  WriteJsonReport(report, [&](const std::string& piece) { text += piece; });
  return text;
}

void WriteJsonReport(const FleetReport& report, const ReportWriter& write) {
  std::string out = "{\n  \"schema_version\": " + std::to_string(kJsonSchemaVersion) +
                    ",\n  \"report_time\": " + JsonString(report.now.Iso()) +
                    ", \"stale_after_seconds\": " + std::to_string(report.staleAfter) +
                    ",\n  \"logs\": [";
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
         ",\n             \"runs_by_outcome\": " + byOutcome(report.runsByOutcome) +
         ",\n             \"stale\": " + std::to_string(report.stale) +
         ", \"expected\": " + std::to_string(report.expected) + ", \"no_run\": " +
         std::to_string(report.computersByOutcome[static_cast<int>(Outcome::kNoRun)]) +
         ", \"not_expected\": " + std::to_string(report.unexpected) + "},\n";
  auto counts = [](const Counts& c) {
    return "\"computers\": " + std::to_string(c.computers) +
           ", \"runs\": " + std::to_string(c.runs);
  };
  out += "  \"messages\": [";
  for (size_t i = 0; i < report.messages.size(); ++i) {
    const MessageTotal& message = report.messages[i];
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"message\": " + std::to_string(message.message) + ", " + counts(message.counts) +
           ", \"texts\": [";
    for (size_t t = 0; t < message.texts.size(); ++t) {
      const MessageText& text = message.texts[t];
      out += t == 0 ? "\n" : ",\n";
      out += "      {\"text\": " + JsonOptional(text.known, text.text) + ", " +
             counts(text.counts) + "}";
    }
    out += message.texts.empty() ? "]}" : "\n    ]}";
  }
  out += report.messages.empty() ? "],\n" : "\n  ],\n";
  out += "  \"scripts\": [";
  for (size_t i = 0; i < report.scripts.size(); ++i) {
    const ScriptTotal& script = report.scripts[i];
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"script\": " + JsonOptional(script.known, script.script) +
           ", \"caption\": " + JsonOptional(script.known, script.caption) + ", " +
           counts(script.counts) +
           ",\n     \"computers_by_outcome\": " + byOutcome(script.computersByOutcome) +
           ",\n     \"runs_by_outcome\": " + byOutcome(script.runsByOutcome) + "}";
  }
  out += report.scripts.empty() ? "],\n" : "\n  ],\n";
  out += "  \"computers\": [";
  for (size_t i = 0; i < report.computers.size(); ++i) {
    const ComputerState& state = report.computers[i];
    const Run& run = state.last;
    bool failed = run.outcome == Outcome::kFailed;
    bool unfinished = run.outcome == Outcome::kUnfinished;
    bool ran = run.outcome != Outcome::kNoRun;
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"computer\": " + JsonString(run.computer) +
           ", \"outcome\": " + JsonString(OutcomeName(run.outcome)) +
           ", \"summary\": " + JsonString(OutcomeText(run)) +
           ",\n     \"start\": " + JsonOptional(run.hasStart, run.firstTime.Iso()) +
           ", \"first_line\": " + JsonOptional(ran, run.firstTime.Iso()) +
           ", \"last_line\": " + JsonOptional(ran, run.lastTime.Iso()) +
           ", \"end\": " + JsonOptional(run.endTime.known, run.endTime.Iso()) +
           ",\n     \"pid\": " +
           (run.pid.empty() ? std::string("null") : std::to_string(std::stoull(run.pid))) +
           ", \"user\": " + JsonOptional(run.hasUser, run.user) +
           ", \"script\": " + JsonOptional(run.hasStart, run.script) +
           ", \"caption\": " + JsonOptional(run.hasStart, run.caption) +
           ", \"program\": " + JsonOptional(run.hasStart, run.program) +
           ",\n     \"message\": " + (failed ? std::to_string(run.message) : "null") +
           ", \"message_text\": " + JsonOptional(run.hasMessageText, run.messageText) +
           ", \"answer\": " + JsonOptional(run.outcome == Outcome::kCancelled, run.answer) +
           ", \"details\": " + JsonOptional(!run.details.empty(), run.details) +
           ",\n     \"exit_code\": " + (run.hasExitCode ? std::to_string(run.exitCode) : "null") +
           ", \"last_step\": " + JsonOptional(unfinished, run.lastStep) +
           ", \"age_seconds\": " + (unfinished ? std::to_string(run.age) : "null") +
           ", \"stale\": " + (unfinished ? (run.stale ? "true" : "false") : "null") +
           ", \"expected\": " + (state.expected ? "true" : "false") +
           ",\n     \"runs\": " + std::to_string(state.runs) +
           ", \"log\": " + JsonOptional(ran, LogPath(report, run)) + "}";
    if (out.size() >= kPiece) {
      write(out);
      out.clear();
    }
  }
  out += report.computers.empty() ? "]\n}\n" : "\n  ]\n}\n";
  write(out);
}

}  // namespace report
}  // namespace kestario
