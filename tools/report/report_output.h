// The fleet report in its forms: text for a terminal, JSON for other programs, one
// self-contained HTML page (html_page.cc) and CSV for spreadsheets (csv_report.cc). All are
// UTF-8; every text from a log is escaped for its form.
#ifndef KESTARIO_TOOLS_REPORT_REPORT_OUTPUT_H_
#define KESTARIO_TOOLS_REPORT_REPORT_OUTPUT_H_

#include <cstdint>
#include <functional>
#include <string>

#include "tools/report/fleet.h"

namespace kestario {
namespace report {

// How a run ended, in words: "finished", "stopped by message 8: "TEXT"", "cancelled by the answer
// to ASK", "stopped", "no end line (still running, or killed)"; then "; DETAILS" when the end
// line carries details.
std::string OutcomeText(const Run& run);
// The words for an outcome in the totals: "stopped by an error message", "finished", ...
const char* OutcomeLabel(Outcome outcome);

// `value` in digits grouped by commas ("12,345"); "1 computer", "2 computers".
std::string Number(uint64_t value);
std::string Plural(uint64_t count, const char* one, const char* many);
// UTF-8 `text` with each control character written out as \xHH (C0 and DEL) or \uHHHH (C1).
std::string Visible(const std::string& text);
// How long ago, in words: "3 days 4 hours", "5 hours 2 minutes", "12 minutes", "40 seconds".
std::string Age(int64_t seconds);
// A run's time as the log holds it; its user, or "-"; its script, or "(start not in the log)".
std::string When(const Run& run);
std::string User(const Run& run);
std::string Script(const Run& run);
const std::string& LogPath(const FleetReport& report, const Run& run);

// The totals: the logs read, the computers and runs, the logs that could not be read, the lines
// skipped, and the computers and runs by outcome.
std::string TextTotals(const FleetReport& report);
// The totals, then one line per computer: its last run's time, user, script and outcome.
std::string TextReport(const FleetReport& report);
// Receives a report in pieces of about a megabyte as it is made, so that the report of a fleet
// of a million computers is never held whole.
using ReportWriter = std::function<void(const std::string& piece)>;
void WriteTextReport(const FleetReport& report, const ReportWriter& write);
// The JSON's form; a change that a reader of the earlier form would misread raises it.
constexpr int kJsonSchemaVersion = 2;
std::string JsonReport(const FleetReport& report);
void WriteJsonReport(const FleetReport& report, const ReportWriter& write);
// One HTML page that loads nothing from elsewhere: the totals, a chart of the outcomes over
// time, the breakdowns and the table of computers with search, filters and sorting.
std::string HtmlReport(const FleetReport& report);
// One row per computer (its last run), with a header row; RFC 4180 quoting, CR LF line ends.
std::string CsvReport(const FleetReport& report);

}  // namespace report
}  // namespace kestario

#endif  // KESTARIO_TOOLS_REPORT_REPORT_OUTPUT_H_
