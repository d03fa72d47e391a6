// The run log that UPDATER's LOG asks for: where it goes after expansion, and the values that
// would make it go nowhere or spoil a file the script needs.
#include <string>

#include "platform/system.h"
#include "tools/checker/analyzer.h"
#include "tools/checker/list_text.h"
#include "tools/checker/paths.h"

namespace kestario {
namespace checker {
namespace {

// The path by which two spellings of one file compare equal; empty when its folder does not exist.
std::string Identity(const std::string& path) {
  std::string folder, name;
  SplitPath(path, &folder, &name);
  return IsFolder(folder) ? PathKey(path) : std::string();
}

}  // namespace

void Analyzer::CheckLog() {
  const std::string section = "UPDATER";
  Value log = Read(section, "LOG");
  if (!log.present || log.expanded.empty()) return;
  int line = KeyLine(section, "LOG");
  CheckValue(line, section, "LOG", log);
  report_->log = log.expanded;

  std::string folder, name;
  SplitPath(log.expanded, &folder, &name);
  if (!IsFolder(folder)) {
    Warning(line, section, "LOG",
            "the log's folder " + QuoteValue(folder) +
                " does not exist on this machine; the run would go on without a log");
    return;
  }
  std::string target = Identity(log.expanded);
  if (target.empty()) return;
  if (target == Identity(scriptPath_)) {
    Warning(line, section, "LOG",
            "the log is the script itself: every run would append its lines to the script");
    return;
  }
  for (const PlanList& list : report_->lists) {
    for (const PlanProcedure& procedure : list.procedures) {
      const char* key = procedure.kind == "DELETE" ? "FILE" : procedure.kind == "COPY" ? "TO" : "";
      if (*key == '\0') continue;
      for (const std::string& item : Items(procedure.Value(key))) {
        if (item.empty() || Identity(item) != target) continue;
        Warning(line, section, "LOG",
                "the log is the file that [" + procedure.name + "] " +
                    (procedure.kind == "DELETE" ? "deletes" : "copies over") + ": " +
                    QuoteValue(item));
      }
    }
  }
}

}  // namespace checker
}  // namespace kestario
