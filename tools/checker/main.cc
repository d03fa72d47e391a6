// updater-check: validates an update script before it is deployed. See tools/checker/command.h.
//
// Its output is UTF-8 (RunCheckCommand), written as tools/console/console_output.h says: UTF-16
// to a Windows console, the UTF-8 bytes to anything else.
#include <sstream>
#include <string>
#include <vector>

#include "tools/checker/command.h"
#include "tools/console/console_output.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  std::ostringstream out;
  std::ostringstream err;
  int status = kestario::checker::RunCheckCommand(arguments, out, err);
  kestario::console::Write(kestario::console::Stream::kOutput, out.str());
  kestario::console::Write(kestario::console::Stream::kError, err.str());
  return status;
}
