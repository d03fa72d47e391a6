// updater-check: reads an update script the way the program does and reports what would go wrong
// before the script reaches a desktop, without showing a box, deleting, copying or starting
// anything.
//
// Values are read with the program's own profile reader and expanded with its own symbol table
// and expansion passes, so what the checker sees is what the program would see on this machine
// (the same Windows directory and registry). The script's folder stands for the program's folder.
//
// Errors are the faults that stop the program with an error box: everything that the list builder
// refuses, for every list the script can reach (the PROC list of UPDATER and, recursively, both
// branches of every SWITCH), and the faults that the procedures of those lists report whatever
// the files on the machine look like. Warnings are values that very likely do not do what their
// author meant.
#ifndef KESTARIO_TOOLS_CHECKER_CHECKER_H_
#define KESTARIO_TOOLS_CHECKER_CHECKER_H_

#include <string>
#include <utility>
#include <vector>

namespace kestario {
namespace checker {

enum class Severity { kError, kWarning };

struct Finding {
  std::string file;  // the script's path as the user gave it (on Windows in UTF-8)
  int line = 1;      // the key's line, else its section's header line, else 1
  int column = 0;    // on that line: where the value starts, else the key, else the "["; 0: none
  Severity severity = Severity::kError;
  std::string rule;     // its stable ID, "KU101" (tools/checker/rules.h)
  std::string section;  // as the script or the list that names it writes it
  std::string key;      // empty for a finding about a whole section
  std::string message;  // starts with "[SECTION] KEY: "
};

// One procedure of a list the script can run.
struct PlanProcedure {
  struct Branch {
    std::string key;        // "1" or "0"
    std::string value;      // the comma list, expanded
    int list = -1;          // index into Report::lists; -1 when the branch is empty or unread
    bool loop = false;      // leads back to a list that is being followed (list is that list)
    bool repeated = false;  // the list was already shown from another SWITCH (list is that list)
  };

  std::string name;     // as the list names it, spaces trimmed
  std::string kind;     // the MODE word in upper case; empty when there is no usable MODE
  std::string problem;  // why the procedure cannot be built, for a kind that is empty
  std::vector<std::pair<std::string, std::string>> values;  // the kind's keys, expanded
  std::vector<Branch> branches;                             // SWITCH: "1", then "0"

  // The expanded value of `key`, or empty.
  std::string Value(const std::string& key) const;
};

// A list of procedures, built from one comma list.
struct PlanList {
  std::string section;  // where the comma list was read: "UPDATER" or a SWITCH
  std::string key;      // "PROC", "1" or "0"
  std::string value;    // the comma list, expanded
  std::vector<PlanProcedure> procedures;
};

struct Report {
  std::string file;
  std::vector<Finding> findings;  // by line, then in the order found
  // Those that a "disable-next-line" comment in the script silences: not counted, not printed
  // (SARIF shows them as suppressed).
  std::vector<Finding> suppressed;
  std::vector<PlanList> lists;  // lists[0] is UPDATER's PROC list when it can be built
  std::string log;              // where UPDATER's LOG sends the run log, expanded; empty: none
  int Count(Severity severity) const;
  int errors() const { return Count(Severity::kError); }
  int warnings() const { return Count(Severity::kWarning); }
};

// A value as findings and the plan show it: between double quotes, taken as it is except for
// the bytes that would not show, which stand outside the quotes by name, so that a line feed made
// from "\n" cannot be mistaken for the two characters: "C:\Tools" + line feed + "ew.txt".
std::string QuoteValue(const std::string& text);

// Checks the script at `path`; findings name it `displayName`. False, with the reason in
// `problem`, when the script cannot be read (missing, a folder, unreadable); nothing is checked
// then. Values are read through the system that is installed (CurrentSystem()), behind a guard
// that refuses every box, deletion, copy and start of a program.
bool CheckScript(const std::string& path, const std::string& displayName, Report* report,
                 std::string* problem);

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_CHECKER_H_
