// updater-check: validates an update script before it is deployed. See tools/checker/command.h.
//
// Its output is UTF-8 (RunCheckCommand), written as tools/console/console_output.h says: UTF-16
// to a Windows console, the UTF-8 bytes to anything else.
#include <sstream>
#include <string>
#include <vector>

#include "tools/checker/command.h"
#include "tools/console/console_output.h"

namespace {

int Run(const std::vector<std::string>& arguments) {
  std::ostringstream out;
  std::ostringstream err;
  int status = kestario::checker::RunCheckCommand(arguments, out, err);
  // Output that cannot be written (a full disk, a closed stream) is a failure, as a script that
  // cannot be read is: a pipeline must not take a lost report for a clean script.
  return kestario::console::Finish("updater-check", out.str(), err.str(), status,
                                   kestario::checker::kExitUnreadable);
}

}  // namespace

KESTARIO_TOOL_MAIN(Run)
