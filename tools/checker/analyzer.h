// The analysis behind updater-check: one pass over the lists a script can run, which builds
// their plan (plan.cc) and collects the findings of every check on the way (checks.cc).
// Internal to the checker.
#ifndef KESTARIO_TOOLS_CHECKER_ANALYZER_H_
#define KESTARIO_TOOLS_CHECKER_ANALYZER_H_

#include <map>
#include <set>
#include <string>
#include <vector>

#include "tools/checker/checker.h"
#include "tools/checker/rules.h"
#include "tools/checker/script_lines.h"

namespace kestario {
namespace checker {

// The procedure kinds, in the order in which MODE is compared with them, and their keys in the
// order in which the program reads them.

struct Kind {
  const char* mode;
  const char* keys[4];
};
inline constexpr Kind kKinds[] = {
    {"EXIST", {"FILE"}},
    {"DATE", {"FILE", "DATE"}},
    {"SWITCH", {"PROC", "0", "1"}},
    {"MSGBOX", {"FLAG", "TYPE", "TEXT", "ISABORT"}},  // and UNSEEN, which may be absent
    {"COPY", {"FROM", "TO"}},
    {"LAUNCH", {"FILE", "PARAM", "ISWAIT"}},
    {"DELETE", {"FILE"}},
};
inline constexpr const char* kKindList = "EXIST, DATE, SWITCH, MSGBOX, COPY, LAUNCH, DELETE";
inline constexpr const char* kBoxTypes[] = {"ERROR", "INFORMATION", "WARNING", "QUESTION"};

// A value as the program reads it.
struct Value {
  bool present = false;
  std::string raw;       // as the profile reader gives it
  std::string expanded;  // after the brace and angle passes (ISWAIT: as read)
  bool refused = false;  // the angle pass refused a result over the block limit: it reads empty
};

// Where a comma list of procedures was read.
struct ListSource {
  std::string section;
  std::string key;
  std::string value;  // expanded
  int line = 1;
  std::string Label() const { return "[" + section + "] " + key; }
};

class Analyzer {
 public:
  Analyzer(const std::string& scriptPath, const std::string& displayName, const ScriptLines& lines,
           Report* report)
      : scriptPath_(scriptPath), displayName_(displayName), lines_(lines), report_(report) {}

  // Follows every list, runs every check and sorts the findings by line.
  void Run();

 private:
  // A finding of `rule` at `line`, its column that of the key's value (or the key, or the
  // section's header) written on that line; one that a "disable-next-line" comment above its
  // line names goes to the report's suppressed findings.
  void Add(Rule rule, int line, const std::string& section, const std::string& key,
           const std::string& text);
  void Error(Rule rule, int line, const std::string& section, const std::string& key,
             const std::string& text);
  void Warning(Rule rule, int line, const std::string& section, const std::string& key,
               const std::string& text);
  int ColumnOf(int line, const std::string& section, const std::string& key) const;
  int KeyLine(const std::string& section, const std::string& key) const;
  Value Read(const std::string& section, const std::string& key, bool expand = true) const;
  // Message 2: the key is absent. Says why when the file holds something that looks like it.
  void ReportMissingKey(const std::string& section, const std::string& key);
  // The warnings that any expanded value can earn: registry blocks that stayed, angle blocks
  // that stayed, and (for keys that name files) line feeds made from "\n".
  void CheckValue(int line, const std::string& section, const std::string& key, const Value& value);
  void CheckRegistryBlocks(int line, const std::string& section, const std::string& key,
                           const std::string& text);
  void CheckAngleBlocks(int line, const std::string& section, const std::string& key,
                        const std::string& text);
  void CheckUpdater();
  // UPDATER's LOG: where the run log goes, and a folder that is missing or a file that the
  // script itself or one of its procedures needs (after the lists are followed).
  void CheckLog();
  // UPDATER's EXITCODE and EVENTLOG: numbers, read as ISWAIT is.
  void CheckRunEnd();
  // UPDATER's ROLLBACK that is not a number, COPY's INUSE that is not "REPLACE" (after the lists
  // are followed).
  void CheckRollback();
  // HASH of COPY and LAUNCH: every item a pin or empty, no more items than FROM or FILE.
  void CheckPins();
  static std::string ListKey(const std::string& section, const std::string& key);
  // Builds the plan of one list as the list builder would, checks it, and follows the branches of
  // its SWITCH procedures. Returns the list's index in the report.
  int FollowList(const ListSource& source);
  // False when the branch's key is missing (already reported).
  bool FollowBranch(const std::string& switchName, const std::string& key,
                    PlanProcedure::Branch* branch);
  // The faults of one procedure that the list builder reports, and the faults that the
  // procedure reports when it runs whatever the files look like.
  PlanProcedure AnalyzeProcedure(const std::string& name, const ListSource& source, int item);
  // " (did you mean [CHECK]?)" for a section of a similar name, or nothing.
  std::string Suggestion(const std::string& name) const;
  void CheckFileList(const PlanProcedure& procedure, const std::string& key, const Value& value,
                     bool required);
  void CheckKind(const PlanProcedure& procedure, const std::map<std::string, Value>& values);
  void CheckDate(const std::string& name, const Value& value);
  // A MSGBOX's UNSEEN: OK, YES or NO, and a button of the box that TYPE makes.
  void CheckUnseen(const std::string& name, const Value& unseen, const std::string& type);
  // MSGBOX FLAG and SWITCH PROC look procedures up in their own list only.
  void CheckReferences(const std::vector<PlanProcedure>& procedures);
  void CheckDefine();
  void CheckDuplicates();
  void CheckUnreached();

  const std::string scriptPath_;
  const std::string displayName_;
  const ScriptLines& lines_;
  Report* report_;
  std::set<std::string> seen_;
  std::set<std::string> reached_;
  std::map<std::string, int> listIds_;
  std::vector<ListSource> path_;
  std::set<std::string> loopsReported_;
};

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_ANALYZER_H_
