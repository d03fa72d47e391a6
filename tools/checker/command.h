// The command line of updater-check, apart from main() so that tests can drive it.
#ifndef KESTARIO_TOOLS_CHECKER_COMMAND_H_
#define KESTARIO_TOOLS_CHECKER_COMMAND_H_

#include <ostream>
#include <string>
#include <vector>

namespace kestario {
namespace checker {

// Exit statuses.
constexpr int kExitClean = 0;       // no error (warnings allowed)
constexpr int kExitErrors = 1;      // at least one error
constexpr int kExitUnreadable = 2;  // the script cannot be read, or the command line is wrong
constexpr int kExitAnswered = 3;    // --what-if: the predicted run stops on the user's answer

// Runs updater-check with `arguments` (the program's own name left out; on Windows UTF-8, from
// the UTF-16 command line, so that a script of any name can be checked) and returns its exit
// status. Findings go to `out`; with --plan or --dot the plan goes to `out` and the findings to
// `err`; with --what-if the predicted run goes to `out` (as JSON with --json). Usage errors and
// unreadable scripts are told on `err`. Both get UTF-8: the script's texts are converted from the
// ANSI code page (a line with bytes that are not text of it keeps them as they are).
int RunCheckCommand(const std::vector<std::string>& arguments, std::ostream& out,
                    std::ostream& err);

// The --help text.
std::string UsageText();

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_COMMAND_H_
