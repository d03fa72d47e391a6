// updater-report: where each machine of a fleet stands, from the run logs. See
// tools/report/command.h and docs/report.md.
#include <new>
#include <string>
#include <vector>

#include "tools/console/console_output.h"
#include "tools/report/command.h"
#include "tools/report/log_files.h"

namespace {

int Run(const std::vector<std::string>& arguments) {
  using kestario::console::Stream;
  using kestario::console::Write;
  std::string err;
  int status;
  try {
    // Printed as it is made: a fleet's report is not held whole.
    status = kestario::report::RunReportCommand(
        arguments, [](const std::string& piece) { Write(Stream::kOutput, piece); }, &err);
  } catch (const std::bad_alloc&) {
    Write(Stream::kError, "updater-report: out of memory\n");
    return kestario::report::kExitUsage;
  }
  if (!err.empty()) Write(Stream::kError, err);
  return status;
}

}  // namespace

#ifdef _WIN32
// The arguments in UTF-16 (wmain), so that any file name reaches the program whole.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(kestario::report::Utf8(argv[i]));
  return Run(arguments);
}
#else
int main(int argc, char** argv) { return Run(std::vector<std::string>(argv + 1, argv + argc)); }
#endif
