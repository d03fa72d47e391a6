// The keys of rollback and of files in use: UPDATER's ROLLBACK, a number, and COPY's INUSE,
// "REPLACE" or nothing. A value they do not take reads as off or absent, so the run would not do
// what the key seems to ask for.
#include <string>

#include "text/text_string.h"
#include "tools/checker/analyzer.h"
#include "tools/checker/list_text.h"

namespace kestario {
namespace checker {

void Analyzer::CheckRollback() {
  Value rollback = Read("UPDATER", "ROLLBACK", false);
  if (rollback.present && !StartsWithNumber(rollback.raw)) {
    Warning(Rule::kRollbackNotNumber, KeyLine("UPDATER", "ROLLBACK"), "UPDATER", "ROLLBACK",
            (rollback.raw.empty() ? std::string("the value is empty")
                                  : Quoted(rollback.raw) + " is not a number") +
                "; it reads as 0, so nothing is kept and a run that stops is not undone");
  }
  for (const PlanList& list : report_->lists) {
    for (const PlanProcedure& procedure : list.procedures) {
      if (procedure.kind != "COPY") continue;
      Value inUse = Read(procedure.name, "INUSE");
      if (!inUse.present || TextString(inUse.expanded.c_str()).IsEqualNoCase("REPLACE")) continue;
      Warning(Rule::kInUseNotReplace, KeyLine(procedure.name, "INUSE"), procedure.name, "INUSE",
              Quoted(inUse.expanded) +
                  " is not REPLACE; it reads as absent, so a destination that a running program "
                  "holds fails (message 8)");
    }
  }
}

}  // namespace checker
}  // namespace kestario
