// updater-report: where each machine of a fleet stands, from the run logs. See
// tools/report/command.h and docs/report.md.
#include <new>
#include <string>
#include <vector>

#include "tools/console/console_output.h"
#include "tools/report/command.h"

namespace {

int Run(const std::vector<std::string>& arguments) {
  kestario::console::Output output;
  std::string err;
  int status;
  try {
    // Printed as it is made: a fleet's report is not held whole.
    status = kestario::report::RunReportCommand(
        arguments, [&](const std::string& piece) { output.Write(piece); }, &err);
  } catch (const std::bad_alloc&) {
    err = "updater-report: out of memory\n";
    status = kestario::report::kExitUsage;
  }
  // Output that cannot be written (a full disk, a closed stream) is a failure, as a bad command
  // line is.
  return output.Finish("updater-report", err, status, kestario::report::kExitUsage);
}

}  // namespace

KESTARIO_TOOL_MAIN(Run)
