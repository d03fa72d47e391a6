// The fleet report in its three forms: text for a terminal, JSON for other programs, and one
// self-contained HTML page. All three are UTF-8; every text from a log is escaped for its form.
#ifndef KESTARIO_TOOLS_REPORT_REPORT_OUTPUT_H_
#define KESTARIO_TOOLS_REPORT_REPORT_OUTPUT_H_

#include <functional>
#include <string>

#include "tools/report/fleet.h"

namespace kestario {
namespace report {

// How a run ended, in words: "finished", "stopped by message 8: "TEXT"", "cancelled by the answer
// to ASK", "stopped", "no end line (still running, or killed)"; then "; DETAILS" when the end
// line carries details.
std::string OutcomeText(const Run& run);

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
std::string HtmlReport(const FleetReport& report);

}  // namespace report
}  // namespace kestario

#endif  // KESTARIO_TOOLS_REPORT_REPORT_OUTPUT_H_
