// updater-report's command line: reads run logs (files, or folders of them) and reports where
// each machine stands. See docs/report.md.
#ifndef KESTARIO_TOOLS_REPORT_COMMAND_H_
#define KESTARIO_TOOLS_REPORT_COMMAND_H_

#include <string>
#include <vector>

#include "tools/report/report_output.h"

namespace kestario {
namespace report {

constexpr int kExitRead = 0;        // every log was read
constexpr int kExitUnreadable = 1;  // a log could not be read; the report covers the others
constexpr int kExitUsage = 2;  // a bad command line, or the HTML page or CSV could not be written

std::string UsageText();

// Runs the command with `arguments` (UTF-8, without the program's name); what it prints goes to
// `out` and `err` (UTF-8). Returns the exit status.
int RunReportCommand(const std::vector<std::string>& arguments, std::string* out, std::string* err);
// The same, with what it prints to standard output handed to `write` in pieces as it is made
// (the report of a fleet of a million computers is not held whole); `err` is printed after.
int RunReportCommand(const std::vector<std::string>& arguments, const ReportWriter& write,
                     std::string* err);

}  // namespace report
}  // namespace kestario

#endif  // KESTARIO_TOOLS_REPORT_COMMAND_H_
