// The checks of updater-check: the findings about values, procedures, references, DEFINE and
// the file as a whole.
#include <algorithm>
#include <cstring>

#include "engine/run.h"
#include "platform/batch_command_line.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "settings/profile.h"
#include "settings/symbols.h"
#include "text/text_string.h"
#include "tools/checker/analyzer.h"
#include "tools/checker/list_text.h"

namespace kestario {
namespace checker {
namespace {

// Keys whose values name files, programs, parameters or dates: a line feed there is a mistake.
bool IsPathKey(const std::string& key) {
  return key == "FILE" || key == "FROM" || key == "TO" || key == "PARAM" || key == "DATE";
}

// What an empty item of a file list does when the procedure runs.
const char* EmptyItemEffect(const std::string& kind) {
  if (kind == "DELETE") return "deleting an empty name fails (message 10)";
  if (kind == "LAUNCH") return "starting an empty name fails (message 9)";
  if (kind == "COPY") return "copying with an empty name fails (message 8)";
  if (kind == "DATE") return "an empty name cannot be opened, so the flag is set";
  return "an empty name never exists, so the flag stays 0";
}

// Where the program part of a FILE item that names a batch file ends: after the first ".bat" or
// ".cmd" (any letter case) that ends the item or is followed by a blank; 0 for another item.
// (Only the word ends that are no dot are looked at, each in constant time.)
size_t BatchFileEnd(const std::string& item) {
  for (size_t end = 4; end <= item.size(); ++end) {
    if ((end == item.size() || item[end] == ' ' || item[end] == '\t') && item[end - 1] != '.' &&
        item[end - 1] != ' ' && item[end - 1] != '\t' && IsBatchFileName(item.c_str(), end)) {
      return end;
    }
  }
  return 0;
}

constexpr const char* kRefusedValue =
    "the value would pass 256 MB, the most that one value may hold; the program refuses it, so "
    "it reads as empty (symbols that double each other grow that fast)";

}  // namespace

void Analyzer::Run() {
  CheckUpdater();
  CheckLog();
  CheckRunEnd();
  CheckRollback();
  CheckPins();
  CheckDefine();
  CheckDuplicates();
  CheckUnreached();
  for (std::vector<Finding>* findings : {&report_->findings, &report_->suppressed}) {
    std::stable_sort(findings->begin(), findings->end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
  }
}

void Analyzer::Add(Rule rule, int line, const std::string& section, const std::string& key,
                   const std::string& text) {
  const RuleInfo& info = InfoOf(rule);
  Finding finding;
  finding.file = displayName_;
  finding.line = line > 0 ? line : 1;
  finding.column = ColumnOf(finding.line, section, key);
  finding.severity = info.severity;
  finding.rule = info.id;
  finding.section = section;
  finding.key = key;
  finding.message = "[" + section + "]" + (key.empty() ? "" : " " + key) + ": " + text;
  std::string identity = std::to_string(finding.line) + '\n' + info.id + '\n' + finding.message;
  if (!seen_.insert(identity).second) return;
  (lines_.IsDisabled(finding.line, info.id) ? report_->suppressed : report_->findings)
      .push_back(finding);
}

void Analyzer::Error(Rule rule, int line, const std::string& section, const std::string& key,
                     const std::string& text) {
  Add(rule, line, section, key, text);
}

void Analyzer::Warning(Rule rule, int line, const std::string& section, const std::string& key,
                       const std::string& text) {
  Add(rule, line, section, key, text);
}

int Analyzer::ColumnOf(int line, const std::string& section, const std::string& key) const {
  const ScriptLines::Section* found = lines_.FindSection(section);
  if (found == nullptr) return 0;
  if (!key.empty()) {
    // The finding's own entry on that line (a duplicate key is not the first of its name).
    for (const ScriptLines::Entry& entry : found->entries) {
      if (entry.line == line && EqualNoCase(TrimBlanks(entry.name), TrimBlanks(key))) {
        return entry.hasValue ? entry.valueColumn : entry.column;
      }
    }
  }
  for (const ScriptLines::Section& candidate : lines_.sections()) {
    if (candidate.line == line && EqualNoCase(candidate.name, found->name)) return candidate.column;
  }
  return 0;
}

int Analyzer::KeyLine(const std::string& section, const std::string& key) const {
  return lines_.KeyLine(section, key);
}

Value Analyzer::Read(const std::string& section, const std::string& key, bool expand) const {
  Value value;
  TextString text;
  if (!ReadProfileString(scriptPath_.c_str(), section.c_str(), key.c_str(), &text)) {
    return value;
  }
  value.present = true;
  value.raw = text.GetConstText();
  if (expand) {
    ExpandBraceBlocks(&text);
    ExpandAngleBlocks(&text, &value.refused);
  }
  value.expanded = text.GetConstText();
  return value;
}

// Message 2: the key is absent. Says why when the file holds something that looks like it.
void Analyzer::ReportMissingKey(const std::string& section, const std::string& key) {
  const ScriptLines::Section* found = lines_.FindSection(section);
  if (found == nullptr) {
    Error(Rule::kMissingSection, 1, section, key,
          "section [" + section + "] does not exist (message 2)");
    return;
  }
  const ScriptLines::Entry* entry = ScriptLines::FindEntry(*found, key);
  if (entry != nullptr && !entry->hasValue) {
    Error(Rule::kMissingKey, entry->line, section, key,
          "written without \"=\", which counts as a missing key (message 2)");
  } else if (entry != nullptr && EqualNoCase(entry->value, kNoData)) {
    Error(Rule::kMissingKey, entry->line, section, key,
          Quoted(entry->value) + " counts as a missing key (message 2)");
  } else {
    Error(Rule::kMissingKey, found->line, section, key, "key is missing (message 2)");
  }
}

// The warnings that any expanded value can earn: registry blocks that stayed, angle blocks
// that stayed, and (for keys that name files) line feeds made from "\n".
void Analyzer::CheckValue(int line, const std::string& section, const std::string& key,
                          const Value& value) {
  if (value.refused) Warning(Rule::kValueTooLarge, line, section, key, kRefusedValue);
  if (IsPathKey(key) && value.expanded.find('\n') != std::string::npos) {
    Warning(Rule::kLineFeedInPath, line, section, key,
            Quoted(value.raw) + " reads as " + QuoteValue(value.expanded) +
                ": a backslash followed by \"n\" becomes a line feed; write \"\\N\" instead "
                "(the rule is case-sensitive, Windows file names are not)");
  }
  CheckRegistryBlocks(line, section, key, value.expanded);
  CheckAngleBlocks(line, section, key, value.expanded);
}

void Analyzer::CheckRegistryBlocks(int line, const std::string& section, const std::string& key,
                                   const std::string& text) {
  for (const std::string& block : SimpleBlocks(text, '{', '}')) {
    TextString piece(block.substr(1, block.size() - 2).c_str());
    TextString keyword = piece.GetToken(0, "\\");
    TextString application = piece.GetToken(1, "\\");
    bool wantsFullPath = keyword.IsEqualNoCase("?App");
    if (!wantsFullPath && !keyword.IsEqualNoCase("?AppPath")) continue;
    TextString found;
    if (LookupAppPath(application.GetConstText(), &found, wantsFullPath ? 1 : 0)) {
      Warning(Rule::kBraceBeforeSymbol, line, section, key,
              block + " stays as written although the registry knows " +
                  Quoted(application.GetConstText()) +
                  ": brace blocks are expanded before symbols, so the name was looked up "
                  "before its symbol was replaced");
    } else if (wantsFullPath) {
      Warning(Rule::kUnresolvedRegistry, line, section, key,
              block + ": the registry of this machine has no App Paths entry for " +
                  Quoted(application.GetConstText()) + "; the block stays as written");
    } else {
      Warning(Rule::kUnresolvedRegistry, line, section, key,
              block +
                  ": the registry of this machine has no PATH value in the App Paths "
                  "entry for " +
                  Quoted(application.GetConstText()) + "; the block stays as written");
    }
  }
}

void Analyzer::CheckAngleBlocks(int line, const std::string& section, const std::string& key,
                                const std::string& text) {
  for (const std::string& block : SimpleBlocks(text, '<', '>')) {
    TextString value;
    if (FindSymbol(block.c_str(), &value)) {
      Warning(Rule::kAngleBlockLeftOver, line, section, key,
              block +
                  " stays as written although it is defined: the angle pass makes one "
                  "attempt per block that the value had when it began, so a block brought "
                  "in by a symbol's value (or one after a stray \"<\" or \">\") is left "
                  "over");
    } else if (!HasBlank(block)) {
      Warning(Rule::kUndefinedSymbol, line, section, key,
              block + " has no definition; it stays as written");
    }
  }
}

// " (did you mean [CHECK]?)" for a section of a similar name, or nothing.
std::string Analyzer::Suggestion(const std::string& name) const {
  const ScriptLines::Section* best = nullptr;
  int bestDistance = 3;
  for (const ScriptLines::Section& section : lines_.sections()) {
    if (section.line == 0) continue;
    int distance = EditDistance(TrimBlanks(name), section.name);
    if (distance < bestDistance) {
      best = &section;
      bestDistance = distance;
    }
  }
  if (best == nullptr || static_cast<size_t>(bestDistance) >= TrimBlanks(name).size()) {
    return std::string();
  }
  return " (did you mean [" + best->name + "] at line " + std::to_string(best->line) + "?)";
}

void Analyzer::CheckFileList(const PlanProcedure& procedure, const std::string& key,
                             const Value& value, bool required) {
  int line = KeyLine(procedure.name, key);
  int count = CountItems(value.expanded);
  if (count == 0) {
    if (required) {
      Error(Rule::kEmptyFileList, line, procedure.name, key,
            "the list is empty; it must name at least one file (message 4)");
    }
    return;
  }
  std::vector<std::string> items = Items(value.expanded);
  for (size_t i = 0; i < items.size(); ++i) {
    if (!items[i].empty()) continue;
    Warning(Rule::kEmptyItem, line, procedure.name, key,
            "item " + std::to_string(i + 1) + " of " + Quoted(value.raw) +
                " is empty (a stray comma?); " + EmptyItemEffect(procedure.kind));
  }
}

void Analyzer::CheckKind(const PlanProcedure& procedure,
                         const std::map<std::string, Value>& values) {
  const std::string& name = procedure.name;
  const std::string& kind = procedure.kind;
  auto has = [&](const char* key) { return values.count(key) != 0; };
  auto get = [&](const char* key) -> const Value& { return values.at(key); };
  // Warns when the list of `second`, paired with that of `first`, has another number of items:
  // `fewer` says what then happens when it has fewer, `more` when it has more.
  auto checkPairedCount = [&](const char* first, const char* second, Rule rule, const char* fewer,
                              const char* more) {
    int firsts = CountItems(get(first).expanded);
    int seconds = CountItems(get(second).expanded);
    if (firsts > 0 && seconds != firsts) {
      Warning(rule, KeyLine(name, second), name, second,
              std::to_string(seconds) + (seconds == 1 ? " item" : " items") + " but " + first +
                  " has " + std::to_string(firsts) + "; " + (seconds < firsts ? fewer : more));
    }
  };

  if (kind == "DELETE" || kind == "LAUNCH" || kind == "DATE" || kind == "EXIST") {
    if (has("FILE")) CheckFileList(procedure, "FILE", get("FILE"), true);
  }
  if (kind == "COPY") {
    if (has("FROM")) CheckFileList(procedure, "FROM", get("FROM"), true);
    if (has("TO")) CheckFileList(procedure, "TO", get("TO"), false);
    if (has("FROM") && has("TO")) {
      checkPairedCount("FROM", "TO", Rule::kCopyCountMismatch,
                       "the sources without a destination are copied to an empty name, which "
                       "fails (message 8)",
                       "the extra destinations are ignored");
    }
  }
  if (kind == "LAUNCH") {
    if (has("FILE") && has("PARAM") && !get("PARAM").expanded.empty()) {
      checkPairedCount("FILE", "PARAM", Rule::kParamCountMismatch,
                       "the programs without an item get no parameters",
                       "the extra items are ignored");
    }
    if (has("FILE")) {
      std::vector<std::string> files = Items(get("FILE").expanded);
      std::vector<std::string> params = Items(has("PARAM") ? get("PARAM").expanded : "");
      for (size_t i = 0; i < files.size(); ++i) {
        size_t end = BatchFileEnd(files[i]);
        if (end == 0) continue;
        std::string batch = files[i].substr(0, end);
        std::string tail = files[i].substr(end) + " " + (i < params.size() ? params[i] : "");
        TextString line;
        if (BuildBatchCommandLine("C:\\Windows\\system32\\cmd.exe", batch.c_str(), tail.c_str(),
                                  IsSystemLeadByte, &line)) {
          continue;
        }
        bool feed = tail.find_first_of("\r\n") != std::string::npos;
        const char* key = i < params.size() && params[i].find_first_of("\r\n") != std::string::npos
                              ? "PARAM"
                              : "FILE";
        Warning(Rule::kBatchParameters, KeyLine(name, key), name, key,
                "on Windows the batch file " + Quoted(batch) + " (item " + std::to_string(i + 1) +
                    ") cannot be given its parameters: " +
                    (feed ? "they hold a line feed or carriage return, where cmd.exe would end "
                            "the command"
                          : "the command line for cmd.exe would pass 8,191 bytes, or they end "
                            "in the first byte of a double-byte character") +
                    "; nothing is started (message 9)");
      }
    }
    if (has("ISWAIT") && !StartsWithNumber(get("ISWAIT").raw)) {
      const std::string& raw = get("ISWAIT").raw;
      Warning(Rule::kIsWaitNotNumber, KeyLine(name, "ISWAIT"), name, "ISWAIT",
              (raw.empty() ? std::string("the value is empty") : Quoted(raw) + " is not a number") +
                  "; it reads as 0, so the program does not wait");
    }
  }
  if (kind == "DATE" && has("DATE")) CheckDate(name, get("DATE"));
  if (kind == "MSGBOX" && has("UNSEEN")) {
    CheckUnseen(name, get("UNSEEN"), has("TYPE") ? get("TYPE").expanded : std::string());
  }
  if (kind == "MSGBOX" && has("TYPE")) {
    const std::string& type = get("TYPE").expanded;
    bool known = false;
    for (const char* candidate : kBoxTypes) {
      known = known || TextString(type.c_str()).IsEqualNoCase(candidate);
    }
    if (!known) {
      Error(Rule::kUnknownBoxType, KeyLine(name, "TYPE"), name, "TYPE",
            Quoted(type) + " is none of ERROR, INFORMATION, WARNING, QUESTION (message 6)");
    }
  }
}

void Analyzer::CheckRunEnd() {
  for (const char* key : {"EXITCODE", "EVENTLOG"}) {
    Value value = Read("UPDATER", key, false);
    if (!value.present || value.raw.empty() || StartsWithNumber(value.raw)) continue;
    Warning(Rule::kRunEndNotNumber, KeyLine("UPDATER", key), "UPDATER", key,
            Quoted(value.raw) + " is not a number; it reads as 0, so " +
                (std::strcmp(key, "EXITCODE") == 0
                     ? "the program ends with exit code 0 however the run ends"
                     : "the run writes no event to the system's log"));
  }
}

void Analyzer::CheckUnseen(const std::string& name, const Value& unseen, const std::string& type) {
  const std::string& answer = unseen.expanded;
  if (answer.empty()) return;
  const int line = KeyLine(name, "UNSEEN");
  const char* effect = "; when the box is not shown it answers nothing, as without UNSEEN";
  TextString word(answer.c_str());
  if (!word.IsEqualNoCase("OK") && !word.IsEqualNoCase("YES") && !word.IsEqualNoCase("NO")) {
    Warning(Rule::kUnseenAnswer, line, name, "UNSEEN",
            Quoted(answer) + " is not OK, YES or NO" + effect);
    return;
  }
  TextString typeWord(type.c_str());
  bool yesNo = typeWord.IsEqualNoCase("WARNING") || typeWord.IsEqualNoCase("QUESTION");
  bool okOnly = typeWord.IsEqualNoCase("ERROR") || typeWord.IsEqualNoCase("INFORMATION");
  if (!yesNo && !okOnly) return;  // a TYPE that names no box is an error of its own
  if (UnseenAnswerFor(word, yesNo ? kMbYesNo : kMbOk) != 0) return;
  Warning(Rule::kUnseenAnswer, line, name, "UNSEEN",
          Quoted(answer) + " names no button of its box (TYPE " + Quoted(type) + " shows " +
              (yesNo ? "Yes and No" : "only OK") + ")" + effect);
}

void Analyzer::CheckDate(const std::string& name, const Value& value) {
  TextString date(value.expanded.c_str());
  bool written = date.CountTokens("/") == 3;
  for (int i = 0; written && i < 3; ++i) {
    written = StartsWithNumber(date.GetToken(i, "/").GetConstText());
  }
  if (written) return;
  std::string reads;
  for (int i = 0; i < 3; ++i) {
    if (i > 0) reads += "/";
    reads += std::to_string(date.GetToken(i, "/").ToInt());
  }
  Warning(Rule::kDateFormat, KeyLine(name, "DATE"), name, "DATE",
          Quoted(value.expanded) + " is not written year/month/day; it reads as " + reads);
}

// MSGBOX FLAG and SWITCH PROC look procedures up in their own list only.
void Analyzer::CheckReferences(const std::vector<PlanProcedure>& procedures) {
  // The names as a message lists them (a long list is cut), and the first of each name.
  constexpr size_t kListedNames = 20;
  std::vector<std::string> names;
  std::map<std::string, int> first;
  for (size_t j = 0; j < procedures.size(); ++j) {
    const std::string& name = procedures[j].name;
    if (names.size() < kListedNames) names.push_back(name.empty() ? "\"\"" : name);
    first.emplace(FoldAsciiCase(name), static_cast<int>(j));
  }
  if (procedures.size() > kListedNames) names.push_back("...");
  std::string listed = "(" + Join(names, ", ") + ")";
  auto find = [&](const std::string& target) -> int {
    auto found = first.find(FoldAsciiCase(target));
    return found == first.end() ? -1 : found->second;
  };

  for (size_t m = 0; m < procedures.size(); ++m) {
    const PlanProcedure& procedure = procedures[m];
    const std::string& name = procedure.name;
    if (procedure.kind == "MSGBOX") {
      bool hasFlag = false;
      for (const auto& value : procedure.values) hasFlag = hasFlag || value.first == "FLAG";
      std::string flag = procedure.Value("FLAG");
      if (!hasFlag || CountItems(flag) < 2) continue;
      int line = KeyLine(name, "FLAG");
      std::string target = Item(flag, 0);
      int j = find(target);
      if (j < 0) {
        Error(Rule::kUnknownFlagTarget, line, name, "FLAG",
              Quoted(target) + " names no procedure of its list " + listed + " (message 6)");
      } else if (j == static_cast<int>(m)) {
        Warning(Rule::kFlagAlwaysZero, line, name, "FLAG",
                Quoted(target) + " names " + name +
                    " itself, whose flag is still 0 when its condition is tested");
      } else if (j > static_cast<int>(m)) {
        Warning(Rule::kFlagAlwaysZero, line, name, "FLAG",
                Quoted(target) + " comes later in its list, so its flag is still 0 when " + name +
                    " runs: the condition compares with 0");
      } else if (procedures[j].kind == "SWITCH") {
        Warning(Rule::kFlagAlwaysZero, line, name, "FLAG",
                Quoted(target) + " is a SWITCH, whose flag is always 0");
      }
      int expected = ToInt(TextString(flag.c_str()).GetToken(1, ",").GetConstText());
      if (expected != 0 && expected != 1) {
        Warning(Rule::kFlagValue, line, name, "FLAG",
                "the value " + std::to_string(expected) +
                    " never equals a flag (0 or 1), so the box never appears");
      }
    } else if (procedure.kind == "SWITCH") {
      bool hasProc = false;
      for (const auto& value : procedure.values) hasProc = hasProc || value.first == "PROC";
      if (!hasProc) continue;
      int line = KeyLine(name, "PROC");
      TextString proc(procedure.Value("PROC").c_str());
      proc.Trim(" ");
      std::string target = proc.GetConstText();
      int j = find(target);
      if (j < 0) {
        Error(Rule::kUnknownSwitchProc, line, name, "PROC",
              Quoted(target) + " names no procedure of its list " + listed + " (message 6)");
      } else if (j >= static_cast<int>(m)) {
        Warning(
            Rule::kFlagAlwaysZero, line, name, "PROC",
            Quoted(target) +
                (j == static_cast<int>(m) ? " is this SWITCH itself" : " comes later in its list") +
                ", so its flag is always 0 here and branch 1 is never taken");
      } else if (procedures[j].kind == "SWITCH") {
        Warning(
            Rule::kFlagAlwaysZero, line, name, "PROC",
            Quoted(target) + " is a SWITCH, whose flag is always 0, so branch 1 is never taken");
      }
    }
  }
}

void Analyzer::CheckDefine() {
  const ScriptLines::Section* define = lines_.FindSection("DEFINE");
  if (define == nullptr) return;
  std::set<std::string> seen;
  for (const ScriptLines::Entry& entry : define->entries) {
    if (!entry.name.empty() && entry.name[0] == ';') continue;
    if (!seen.insert(FoldName(entry.name)).second) continue;  // reported as a duplicate
    const std::string& name = entry.name;
    int line = entry.line;
    bool bracketed = name.size() >= 2 && name.front() == '<' && name.back() == '>';
    if (!bracketed) {
      Warning(Rule::kDefineName, line, "DEFINE", name,
              "the name is not written in angle brackets, so no <...> block can reach it "
              "(write <" +
                  name + ">)");
      continue;
    }
    if (EqualNoCase(name, "<Win>") || EqualNoCase(name, "<Src>")) {
      Warning(Rule::kDefineBuiltIn, line, "DEFINE", name,
              entry.hasValue ? "the built-in " + name + " always wins; this value is never used"
                             : "written without \"=\", so " + name +
                                   " stays empty instead of taking its built-in value");
      continue;
    }
    if (!entry.hasValue) continue;
    std::string value = entry.text;
    size_t equals = value.find('=');
    if (equals != std::string::npos) {
      Warning(Rule::kDefineSecondEquals, line, "DEFINE", name,
              "the value ends at its second \"=\": " + name + " is " +
                  Quoted(value.substr(0, equals)) + ", not " + Quoted(value));
      value = value.substr(0, equals);
    }
    if (value.find("\\n") != std::string::npos) {
      Warning(Rule::kDefineLineFeed, line, "DEFINE", name,
              Quoted(value) + " holds \"\\n\", which becomes a line feed wherever " + name +
                  " is used; write \"\\N\" instead (the rule is case-sensitive, Windows file "
                  "names are not)");
    }
    TextString stored;
    if (!FindSymbol(name.c_str(), &stored)) continue;
    if (WasSymbolRefused(name.c_str()))
      Warning(Rule::kValueTooLarge, line, "DEFINE", name, kRefusedValue);
    CheckRegistryBlocks(line, "DEFINE", name, stored.GetConstText());
    for (const std::string& block : SimpleBlocks(stored.GetConstText(), '<', '>')) {
      TextString unused;
      if (!HasBlank(block) && !FindSymbol(block.c_str(), &unused)) {
        Warning(Rule::kUndefinedSymbol, line, "DEFINE", name,
                block + " has no definition; it stays as written");
      }
    }
  }
}

void Analyzer::CheckDuplicates() {
  std::map<std::string, int> sections;
  for (const ScriptLines::Section& section : lines_.sections()) {
    std::string folded = FoldName(section.name);
    auto first = sections.find(folded);
    if (first != sections.end()) {
      Warning(Rule::kDuplicateSection, section.line, section.name, "",
              "a second section [" + section.name + "] (the first is at line " +
                  std::to_string(first->second > 0 ? first->second : 1) +
                  "); the program reads only the first");
      continue;
    }
    sections[folded] = section.line;
    if (section.line == 0) continue;
    std::map<std::string, int> keys;
    for (const ScriptLines::Entry& entry : section.entries) {
      if (entry.name.empty() || entry.name[0] == ';') continue;
      auto earlier = keys.find(FoldName(entry.name));
      if (earlier != keys.end()) {
        Warning(Rule::kDuplicateKey, entry.line, section.name, entry.name,
                "a second " + entry.name + " (the first is at line " +
                    std::to_string(earlier->second) + "); the program reads only the first");
      } else {
        keys[FoldName(entry.name)] = entry.line;
      }
    }
  }
}

void Analyzer::CheckUnreached() {
  std::set<std::string> done;
  for (const ScriptLines::Section& section : lines_.sections()) {
    if (section.line == 0) continue;
    std::string folded = FoldName(section.name);
    if (!done.insert(folded).second) continue;
    if (folded == "updater" || folded == "define" || reached_.count(folded) != 0) continue;
    Warning(Rule::kUnreachedSection, section.line, section.name, "",
            "no list reaches this section (neither UPDATER's PROC nor any SWITCH branch "
            "names it)");
  }
}

}  // namespace checker
}  // namespace kestario
