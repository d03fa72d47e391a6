// The plan of a script: the lists it can run, built as the list builder builds them, with every
// SWITCH's branches followed (loops and lists met twice marked, not followed again).
#include <cstring>

#include "engine/procedures.h"
#include "settings/symbols.h"
#include "text/text_string.h"
#include "tools/checker/analyzer.h"
#include "tools/checker/list_text.h"

namespace kestario {
namespace checker {

std::string PlanProcedure::Value(const std::string& key) const {
  for (const auto& value : values) {
    if (value.first == key) return value.second;
  }
  return std::string();
}

void Analyzer::CheckUpdater() {
  const std::string section = "UPDATER";
  Value name = Read(section, "NAME");
  if (!name.present) {
    ReportMissingKey(section, "NAME");
  } else {
    CheckValue(KeyLine(section, "NAME"), section, "NAME", name);
  }
  Value proc = Read(section, "PROC");
  if (!proc.present) {
    ReportMissingKey(section, "PROC");
    return;
  }
  int line = KeyLine(section, "PROC");
  CheckValue(line, section, "PROC", proc);
  if (CountItems(proc.expanded) == 0) {
    Error(Rule::kEmptyProcList, line, section, "PROC",
          "the list is empty; it must name at least one procedure "
          "(message 4)");
    return;
  }
  FollowList(ListSource{section, "PROC", proc.expanded, line});
}

std::string Analyzer::ListKey(const std::string& section, const std::string& key) {
  return FoldName(section) + '\n' + key;
}

// Builds the plan of one list as the list builder would, checks it, and follows the branches of
// its SWITCH procedures. Returns the list's index in the report.
int Analyzer::FollowList(const ListSource& source) {
  int id = static_cast<int>(report_->lists.size());
  report_->lists.push_back(PlanList{source.section, source.key, source.value, {}});
  listIds_[ListKey(source.section, source.key)] = id;
  path_.push_back(source);

  std::vector<PlanProcedure> procedures;
  std::vector<std::string> items = Items(source.value);
  for (size_t i = 0; i < items.size(); ++i) {
    procedures.push_back(AnalyzeProcedure(items[i], source, static_cast<int>(i)));
  }
  CheckReferences(procedures);
  report_->lists[id].procedures = procedures;

  for (size_t m = 0; m < procedures.size(); ++m) {
    if (procedures[m].kind != "SWITCH") continue;
    for (const char* key : {"1", "0"}) {
      PlanProcedure::Branch branch;
      if (FollowBranch(procedures[m].name, key, &branch)) {
        report_->lists[id].procedures[m].branches.push_back(branch);
      }
    }
  }
  path_.pop_back();
  return id;
}

// False when the branch's key is missing (already reported).
bool Analyzer::FollowBranch(const std::string& switchName, const std::string& key,
                            PlanProcedure::Branch* branch) {
  Value value = Read(switchName, key);
  if (!value.present) return false;
  int line = KeyLine(switchName, key);
  branch->key = key;
  branch->value = value.expanded;
  if (CountItems(value.expanded) == 0) {
    Error(Rule::kEmptyBranch, line, switchName, key,
          "the branch is empty; when it is chosen the program stops (message 4)");
    return true;
  }
  std::string listKey = ListKey(switchName, key);
  for (const ListSource& open : path_) {
    if (ListKey(open.section, open.key) != listKey) continue;
    // One loop is reported once, with the first path that closes it.
    if (loopsReported_.insert(listKey).second) {
      std::vector<std::string> labels;
      for (const ListSource& step : path_) labels.push_back(step.Label());
      labels.push_back("[" + switchName + "] " + key);
      Error(Rule::kBranchLoop, line, switchName, key,
            "the branch leads back into a list that is already running (" + Join(labels, " -> ") +
                "); the program stops at " + std::to_string(kMaxListDepth) +
                " nested lists (message 3)");
    }
    branch->loop = true;
    branch->list = listIds_[listKey];
    return true;
  }
  auto known = listIds_.find(listKey);
  if (known != listIds_.end()) {
    branch->repeated = true;
    branch->list = known->second;
    return true;
  }
  if (static_cast<int32_t>(path_.size()) >= kMaxListDepth) {
    Error(Rule::kTooDeep, line, switchName, key,
          "the branch would nest deeper than " + std::to_string(kMaxListDepth) +
              " lists (message 3)");
    return true;
  }
  branch->list = FollowList(ListSource{switchName, key, value.expanded, line});
  return true;
}

// The faults of one procedure that the list builder reports, and the faults that the
// procedure reports when it runs whatever the files look like.
PlanProcedure Analyzer::AnalyzeProcedure(const std::string& name, const ListSource& source,
                                         int item) {
  PlanProcedure procedure;
  procedure.name = name;
  reached_.insert(FoldName(name));

  Value mode = Read(name, "MODE");
  if (!mode.present) {
    if (TrimBlanks(name).empty()) {
      procedure.problem = "empty item";
      Error(Rule::kEmptyListItem, source.line, source.section, source.key,
            "item " + std::to_string(item + 1) + " of " + Quoted(source.value) +
                " is empty; the program reads it as a section with an empty name, which has "
                "no MODE (message 2)");
    } else if (lines_.FindSection(name) == nullptr) {
      procedure.problem = "no section [" + name + "]";
      Error(Rule::kMissingSection, 1, name, "MODE",
            "section [" + name + "] does not exist (named by " + source.Label() + " at line " +
                std::to_string(source.line) + ")" + Suggestion(name) + " (message 2)");
    } else {
      procedure.problem = "no MODE";
      ReportMissingKey(name, "MODE");
    }
    return procedure;
  }
  int modeLine = KeyLine(name, "MODE");
  CheckValue(modeLine, name, "MODE", mode);
  const Kind* kind = nullptr;
  for (const Kind& candidate : kKinds) {
    if (TextString(mode.expanded.c_str()).IsEqualNoCase(candidate.mode)) {
      kind = &candidate;
      break;
    }
  }
  if (kind == nullptr) {
    procedure.problem = "MODE " + Quoted(mode.expanded) + " names no kind";
    Error(Rule::kUnknownMode, modeLine, name, "MODE",
          Quoted(mode.expanded) + " names no procedure kind (" + kKindList + ") (message 6)");
    return procedure;
  }
  procedure.kind = kind->mode;

  std::map<std::string, Value> values;
  for (const char* key : kind->keys) {
    if (key == nullptr) break;
    bool isWait = std::strcmp(key, "ISWAIT") == 0;
    Value value = Read(name, key, !isWait);
    if (!value.present) {
      ReportMissingKey(name, key);
      continue;
    }
    if (!isWait) CheckValue(KeyLine(name, key), name, key, value);
    procedure.values.emplace_back(key, value.expanded);
    values[key] = value;
  }
  if (procedure.kind == "MSGBOX") {
    Value unseen = Read(name, "UNSEEN");
    if (unseen.present && !unseen.expanded.empty()) {
      CheckValue(KeyLine(name, "UNSEEN"), name, "UNSEEN", unseen);
      procedure.values.emplace_back("UNSEEN", unseen.expanded);
      values["UNSEEN"] = unseen;
    }
  }
  CheckKind(procedure, values);
  return procedure;
}

}  // namespace checker
}  // namespace kestario
