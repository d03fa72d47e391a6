// updater-report: where each machine of a fleet stands, from the run logs. See
// tools/report/command.h and docs/report.md.
#include <new>
#include <string>
#include <vector>

#include "tools/console/console_output.h"
#include "tools/report/command.h"

namespace {

int Run(const std::vector<std::string>& arguments) {
  std::string out, err;
  int status;
  try {
    status = kestario::report::RunReportCommand(arguments, &out, &err);
  } catch (const std::bad_alloc&) {
    out.clear();
    err = "updater-report: out of memory\n";
    status = kestario::report::kExitUsage;
  }
  // Output that cannot be written (a full disk, a closed stream) is a failure, as a bad command
  // line is.
  return kestario::console::Finish("updater-report", out, err, status,
                                   kestario::report::kExitUsage);
}

}  // namespace

KESTARIO_TOOL_MAIN(Run)
