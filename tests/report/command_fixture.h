// A test of the updater-report command line: runs it on arguments, in a temporary folder, and
// keeps what it printed.
#ifndef KESTARIO_TESTS_REPORT_COMMAND_FIXTURE_H_
#define KESTARIO_TESTS_REPORT_COMMAND_FIXTURE_H_

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support/script_test.h"
#include "tools/report/command.h"

namespace kestario {
namespace report {

class ReportCommandTest : public ::testing::Test {
 protected:
  int Run(const std::vector<std::string>& arguments) {
    out.clear();
    err.clear();
    return RunReportCommand(arguments, &out, &err);
  }
  TempDir dir;
  std::string out;
  std::string err;
};

}  // namespace report
}  // namespace kestario

#endif  // KESTARIO_TESTS_REPORT_COMMAND_FIXTURE_H_
