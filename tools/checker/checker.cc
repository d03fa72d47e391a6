#include "tools/checker/checker.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <map>
#include <set>

#include "engine/procedures.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "settings/profile.h"
#include "settings/symbols.h"
#include "text/text_string.h"
#include "tools/checker/script_lines.h"

namespace kestario {
namespace checker {

std::string PlanProcedure::Value(const std::string& key) const {
  for (const auto& value : values) {
    if (value.first == key) return value.second;
  }
  return std::string();
}

std::string QuoteValue(const std::string& text) {
  std::string shown = "\"";
  for (char c : text) {
    unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\n') {
      shown += "\" + line feed + \"";
    } else if (c == '\t') {
      shown += "\" + tab + \"";
    } else if (byte < 0x20 || byte == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "%02X", byte);
      shown += std::string("\" + byte 0x") + hex + " + \"";
    } else {
      shown += c;
    }
  }
  return shown + "\"";
}

int Report::Count(Severity severity) const {
  return static_cast<int>(std::count_if(findings.begin(), findings.end(),
                                        [&](const Finding& f) { return f.severity == severity; }));
}

namespace {

// ---------------------------------------------------------------------------------------------
// The system the checker reads through: everything that only reads is passed on, everything that
// would show, change or start something is refused.

class ReadOnlySystem : public System {
 public:
  explicit ReadOnlySystem(System* base) : base_(base) {}

  void GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                TextString* value, const char* file) override {
    base_->GetPrivateProfileStringA(section, key, defaultValue, value, file);
  }
  void GetPrivateProfileSectionA(const char* section, ByteBuffer* entries,
                                 const char* file) override {
    base_->GetPrivateProfileSectionA(section, entries, file);
  }
  int LoadStringA(unsigned id, char* buffer, int size) override {
    return base_->LoadStringA(id, buffer, size);
  }
  int MessageBoxA(const char* /*text*/, const char* /*caption*/, unsigned /*style*/) override {
    return 0;
  }
  uint32_t GetModuleFileNameA(char* buffer, uint32_t size) override {
    return base_->GetModuleFileNameA(buffer, size);
  }
  uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) override {
    return base_->GetWindowsDirectoryA(buffer, size);
  }
  long RegOpenKeyExA(RegistryHandle root, const char* subKey, uint32_t access,
                     RegistryHandle* result) override {
    return base_->RegOpenKeyExA(root, subKey, access, result);
  }
  long RegQueryValueExA(RegistryHandle key, const char* valueName, uint8_t* data,
                        uint32_t* size) override {
    return base_->RegQueryValueExA(key, valueName, data, size);
  }
  long RegCloseKey(RegistryHandle key) override { return base_->RegCloseKey(key); }
  bool DeleteFileA(const char* /*path*/) override { return false; }
  bool CopyFileA(const char* /*from*/, const char* /*to*/, bool /*failIfExists*/) override {
    return false;
  }
  bool FindAnyMatch(const char* path) override { return base_->FindAnyMatch(path); }
  bool GetFileLocalDate(const char* path, LocalDate* date) override {
    return base_->GetFileLocalDate(path, date);
  }
  bool CreateProcessA(char* /*commandLine*/, const char* /*currentDirectory*/,
                      ProcessHandle* process) override {
    *process = kNoProcess;
    return false;
  }
  bool WaitForProcess(ProcessHandle /*process*/) override { return false; }
  void CloseProcess(ProcessHandle /*process*/) override {}

 private:
  System* base_;
};

// Installs the read-only system and binds the settings readers to the checker's own script path
// and symbol table for the time of one check.
class CheckScope {
 public:
  CheckScope(const TextString* scriptPath, const TextString* modulePath, SymbolTable* symbols)
      : previous_(&CurrentSystem()), guard_(previous_) {
    SetSystem(&guard_);
    BindScript(scriptPath, modulePath, symbols);
  }
  ~CheckScope() {
    BindScript(nullptr, nullptr, nullptr);
    SetSystem(previous_ == &RealSystem() ? nullptr : previous_);
  }
  CheckScope(const CheckScope&) = delete;
  CheckScope& operator=(const CheckScope&) = delete;

 private:
  System* previous_;
  ReadOnlySystem guard_;
};

// ---------------------------------------------------------------------------------------------
// Reading the script

bool ReadFileBytes(const std::string& path, std::string* bytes, std::string* problem) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) {
    *problem = std::strerror(errno);
    return false;
  }
  if (S_ISDIR(info.st_mode)) {
    *problem = "it is a folder";
    return false;
  }
  if (!S_ISREG(info.st_mode)) {
    *problem = "it is not a regular file";
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *problem = std::strerror(errno);
    return false;
  }
  bytes->clear();
  char block[65536];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes->append(block, got);
  bool failed = std::ferror(file) != 0;
  int error = errno;
  std::fclose(file);
  if (failed) {
    *problem = std::strerror(error);
    return false;
  }
  return true;
}

// The full path of the script, which the profile functions need on Windows and from which the
// script's folder (standing for the program's folder, "<Src>") is taken.
std::string FullPath(const std::string& path) {
#ifdef _WIN32
  char* full = _fullpath(nullptr, path.c_str(), 0);
#else
  char* full = realpath(path.c_str(), nullptr);
#endif
  if (full == nullptr) return path;
  std::string result = full;
  std::free(full);
  return result;
}

// ---------------------------------------------------------------------------------------------
// Comma lists, as the program splits them

int CountItems(const std::string& list) { return TextString(list.c_str()).CountTokens(","); }

std::string Item(const std::string& list, int index) {
  TextString item = TextString(list.c_str()).GetToken(index, ",");
  item.Trim(" ");
  return item.GetConstText();
}

// Every item of a comma list, trimmed of spaces: the same items as CountItems and Item give, found
// in one pass (a list may name thousands of sections).
std::vector<std::string> Items(const std::string& list) {
  int count = CountItems(list);
  std::vector<std::string> items;
  items.reserve(static_cast<size_t>(count));
  size_t start = 0;
  for (int i = 0; i < count; ++i) {
    size_t comma = list.find(',', start);
    size_t end = comma == std::string::npos ? list.size() : comma;
    TextString item(list.substr(start, end - start).c_str());
    item.Trim(" ");
    items.push_back(item.GetConstText());
    start = end + 1;
  }
  return items;
}

// A name as the program compares procedure names: ASCII letters folded, nothing trimmed.
std::string FoldAsciiCase(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

int ToInt(const std::string& text) { return TextString(text.c_str()).ToInt(); }

// Whether "%d" finds a number at the start: white space, an optional sign, a digit.
bool StartsWithNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  return i < text.size() && text[i] >= '0' && text[i] <= '9';
}

bool HasBlank(const std::string& text) {
  return text.find_first_of(" \t\r\n\v\f") != std::string::npos;
}

std::string Join(const std::vector<std::string>& items, const char* separator) {
  std::string joined;
  for (size_t i = 0; i < items.size(); ++i) {
    if (i > 0) joined += separator;
    joined += items[i];
  }
  return joined;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The simple blocks of a text: an opening byte, then bytes that are neither delimiter, then the
// closing byte. Nested or unbalanced delimiters around them do not matter.
std::vector<std::string> SimpleBlocks(const std::string& text, char opening, char closing) {
  std::vector<std::string> blocks;
  size_t at = text.find(opening);
  while (at != std::string::npos) {
    size_t next = text.find_first_of(std::string(1, opening) + closing, at + 1);
    if (next == std::string::npos) break;
    if (text[next] == closing) {
      if (next > at + 1) {
        std::string block = text.substr(at, next - at + 1);
        if (std::find(blocks.begin(), blocks.end(), block) == blocks.end()) {
          blocks.push_back(block);
        }
      }
      at = text.find(opening, next + 1);
    } else {
      at = next;
    }
  }
  return blocks;
}

// ---------------------------------------------------------------------------------------------
// The procedure kinds, in the order in which MODE is compared with them, and their keys in the
// order in which the program reads them.

struct Kind {
  const char* mode;
  const char* keys[4];
};
constexpr Kind kKinds[] = {
    {"EXIST", {"FILE"}},
    {"DATE", {"FILE", "DATE"}},
    {"SWITCH", {"PROC", "0", "1"}},
    {"MSGBOX", {"FLAG", "TYPE", "TEXT", "ISABORT"}},
    {"COPY", {"FROM", "TO"}},
    {"LAUNCH", {"FILE", "PARAM", "ISWAIT"}},
    {"DELETE", {"FILE"}},
};
constexpr const char* kKindList = "EXIST, DATE, SWITCH, MSGBOX, COPY, LAUNCH, DELETE";
constexpr const char* kBoxTypes[] = {"ERROR", "INFORMATION", "WARNING", "QUESTION"};

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

// A value as the program reads it.
struct Value {
  bool present = false;
  std::string raw;       // as the profile reader gives it
  std::string expanded;  // after the brace and angle passes (ISWAIT: as read)
};

// Where a comma list of procedures was read.
struct ListSource {
  std::string section;
  std::string key;
  std::string value;  // expanded
  int line = 1;
  std::string Label() const { return "[" + section + "] " + key; }
};

int EditDistance(const std::string& left, const std::string& right) {
  std::vector<int> row(right.size() + 1);
  for (size_t j = 0; j <= right.size(); ++j) row[j] = static_cast<int>(j);
  for (size_t i = 1; i <= left.size(); ++i) {
    int diagonal = row[0];
    row[0] = static_cast<int>(i);
    for (size_t j = 1; j <= right.size(); ++j) {
      int above = row[j];
      bool same = EqualNoCase(left.substr(i - 1, 1), right.substr(j - 1, 1));
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
      diagonal = above;
    }
  }
  return row[right.size()];
}

// ---------------------------------------------------------------------------------------------

class Analyzer {
 public:
  Analyzer(const std::string& scriptPath, const std::string& displayName, const ScriptLines& lines,
           Report* report)
      : scriptPath_(scriptPath), displayName_(displayName), lines_(lines), report_(report) {}

  void Run() {
    CheckUpdater();
    CheckDefine();
    CheckDuplicates();
    CheckUnreached();
    std::stable_sort(report_->findings.begin(), report_->findings.end(),
                     [](const Finding& a, const Finding& b) { return a.line < b.line; });
  }

 private:
  // -- Findings ---------------------------------------------------------------------------------

  void Add(Severity severity, int line, const std::string& section, const std::string& key,
           const std::string& text) {
    Finding finding;
    finding.file = displayName_;
    finding.line = line > 0 ? line : 1;
    finding.severity = severity;
    finding.section = section;
    finding.key = key;
    finding.message = "[" + section + "]" + (key.empty() ? "" : " " + key) + ": " + text;
    std::string identity = std::to_string(finding.line) + '\n' +
                           (severity == Severity::kError ? "e" : "w") + '\n' + finding.message;
    if (!seen_.insert(identity).second) return;
    report_->findings.push_back(finding);
  }
  void Error(int line, const std::string& section, const std::string& key,
             const std::string& text) {
    Add(Severity::kError, line, section, key, text);
  }
  void Warning(int line, const std::string& section, const std::string& key,
               const std::string& text) {
    Add(Severity::kWarning, line, section, key, text);
  }

  int KeyLine(const std::string& section, const std::string& key) const {
    return lines_.KeyLine(section, key);
  }

  // -- Reading ----------------------------------------------------------------------------------

  Value Read(const std::string& section, const std::string& key, bool expand = true) const {
    Value value;
    TextString text;
    if (!ReadProfileString(scriptPath_.c_str(), section.c_str(), key.c_str(), &text)) {
      return value;
    }
    value.present = true;
    value.raw = text.GetConstText();
    if (expand) {
      ExpandBraceBlocks(&text);
      ExpandAngleBlocks(&text);
    }
    value.expanded = text.GetConstText();
    return value;
  }

  // Message 2: the key is absent. Says why when the file holds something that looks like it.
  void ReportMissingKey(const std::string& section, const std::string& key) {
    const ScriptLines::Section* found = lines_.FindSection(section);
    if (found == nullptr) {
      Error(1, section, key, "section [" + section + "] does not exist (message 2)");
      return;
    }
    const ScriptLines::Entry* entry = ScriptLines::FindEntry(*found, key);
    if (entry != nullptr && !entry->hasValue) {
      Error(entry->line, section, key,
            "written without \"=\", which counts as a missing key (message 2)");
    } else if (entry != nullptr && EqualNoCase(entry->value, kNoData)) {
      Error(entry->line, section, key,
            Quoted(entry->value) + " counts as a missing key (message 2)");
    } else {
      Error(found->line, section, key, "key is missing (message 2)");
    }
  }

  // -- Values -----------------------------------------------------------------------------------

  // The warnings that any expanded value can earn: registry blocks that stayed, angle blocks
  // that stayed, and (for keys that name files) line feeds made from "\n".
  void CheckValue(int line, const std::string& section, const std::string& key,
                  const Value& value) {
    if (IsPathKey(key) && value.expanded.find('\n') != std::string::npos) {
      Warning(line, section, key,
              Quoted(value.raw) + " reads as " + QuoteValue(value.expanded) +
                  ": a backslash followed by \"n\" becomes a line feed; write \"\\N\" instead "
                  "(the rule is case-sensitive, Windows file names are not)");
    }
    CheckRegistryBlocks(line, section, key, value.expanded);
    CheckAngleBlocks(line, section, key, value.expanded);
  }

  void CheckRegistryBlocks(int line, const std::string& section, const std::string& key,
                           const std::string& text) {
    for (const std::string& block : SimpleBlocks(text, '{', '}')) {
      TextString piece(block.substr(1, block.size() - 2).c_str());
      TextString keyword = piece.GetToken(0, "\\");
      TextString application = piece.GetToken(1, "\\");
      bool wantsFullPath = keyword.IsEqualNoCase("?App");
      if (!wantsFullPath && !keyword.IsEqualNoCase("?AppPath")) continue;
      TextString found;
      if (LookupAppPath(application.GetConstText(), &found, wantsFullPath ? 1 : 0)) {
        Warning(line, section, key,
                block + " stays as written although the registry knows " +
                    Quoted(application.GetConstText()) +
                    ": brace blocks are expanded before symbols, so the name was looked up "
                    "before its symbol was replaced");
      } else if (wantsFullPath) {
        Warning(line, section, key,
                block + ": the registry of this machine has no App Paths entry for " +
                    Quoted(application.GetConstText()) + "; the block stays as written");
      } else {
        Warning(line, section, key,
                block +
                    ": the registry of this machine has no PATH value in the App Paths "
                    "entry for " +
                    Quoted(application.GetConstText()) + "; the block stays as written");
      }
    }
  }

  void CheckAngleBlocks(int line, const std::string& section, const std::string& key,
                        const std::string& text) {
    for (const std::string& block : SimpleBlocks(text, '<', '>')) {
      TextString value;
      if (FindSymbol(block.c_str(), &value)) {
        Warning(line, section, key,
                block +
                    " stays as written although it is defined: the angle pass makes one "
                    "attempt per block that the value had when it began, so a block brought "
                    "in by a symbol's value (or one after a stray \"<\" or \">\") is left "
                    "over");
      } else if (!HasBlank(block)) {
        Warning(line, section, key, block + " has no definition; it stays as written");
      }
    }
  }

  // -- UPDATER ------------------------------------------------------------------------------------

  void CheckUpdater() {
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
      Error(line, section, "PROC",
            "the list is empty; it must name at least one procedure "
            "(message 4)");
      return;
    }
    FollowList(ListSource{section, "PROC", proc.expanded, line});
  }

  // -- Lists ------------------------------------------------------------------------------------

  static std::string ListKey(const std::string& section, const std::string& key) {
    return FoldName(section) + '\n' + key;
  }

  // Builds the plan of one list as the list builder would, checks it, and follows the branches of
  // its SWITCH procedures. Returns the list's index in the report.
  int FollowList(const ListSource& source) {
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
  bool FollowBranch(const std::string& switchName, const std::string& key,
                    PlanProcedure::Branch* branch) {
    Value value = Read(switchName, key);
    if (!value.present) return false;
    int line = KeyLine(switchName, key);
    branch->key = key;
    branch->value = value.expanded;
    if (CountItems(value.expanded) == 0) {
      Error(line, switchName, key,
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
        Error(line, switchName, key,
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
      Error(line, switchName, key,
            "the branch would nest deeper than " + std::to_string(kMaxListDepth) +
                " lists (message 3)");
      return true;
    }
    branch->list = FollowList(ListSource{switchName, key, value.expanded, line});
    return true;
  }

  // The faults of one procedure that the list builder reports, and the faults that the
  // procedure reports when it runs whatever the files look like.
  PlanProcedure AnalyzeProcedure(const std::string& name, const ListSource& source, int item) {
    PlanProcedure procedure;
    procedure.name = name;
    reached_.insert(FoldName(name));

    Value mode = Read(name, "MODE");
    if (!mode.present) {
      if (TrimBlanks(name).empty()) {
        procedure.problem = "empty item";
        Error(source.line, source.section, source.key,
              "item " + std::to_string(item + 1) + " of " + Quoted(source.value) +
                  " is empty; the program reads it as a section with an empty name, which has "
                  "no MODE (message 2)");
      } else if (lines_.FindSection(name) == nullptr) {
        procedure.problem = "no section [" + name + "]";
        Error(1, name, "MODE",
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
      Error(modeLine, name, "MODE",
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
    CheckKind(procedure, values);
    return procedure;
  }

  // " (did you mean [CHECK]?)" for a section of a similar name, or nothing.
  std::string Suggestion(const std::string& name) const {
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

  void CheckFileList(const PlanProcedure& procedure, const std::string& key, const Value& value,
                     bool required) {
    int line = KeyLine(procedure.name, key);
    int count = CountItems(value.expanded);
    if (count == 0) {
      if (required) {
        Error(line, procedure.name, key,
              "the list is empty; it must name at least one file (message 4)");
      }
      return;
    }
    std::vector<std::string> items = Items(value.expanded);
    for (size_t i = 0; i < items.size(); ++i) {
      if (!items[i].empty()) continue;
      Warning(line, procedure.name, key,
              "item " + std::to_string(i + 1) + " of " + Quoted(value.raw) +
                  " is empty (a stray comma?); " + EmptyItemEffect(procedure.kind));
    }
  }

  void CheckKind(const PlanProcedure& procedure, const std::map<std::string, Value>& values) {
    const std::string& name = procedure.name;
    const std::string& kind = procedure.kind;
    auto has = [&](const char* key) { return values.count(key) != 0; };
    auto get = [&](const char* key) -> const Value& { return values.at(key); };

    if (kind == "DELETE" || kind == "LAUNCH" || kind == "DATE" || kind == "EXIST") {
      if (has("FILE")) CheckFileList(procedure, "FILE", get("FILE"), true);
    }
    if (kind == "COPY") {
      if (has("FROM")) CheckFileList(procedure, "FROM", get("FROM"), true);
      if (has("TO")) CheckFileList(procedure, "TO", get("TO"), false);
      if (has("FROM") && has("TO")) {
        int from = CountItems(get("FROM").expanded);
        int to = CountItems(get("TO").expanded);
        if (from > 0 && to != from) {
          Warning(KeyLine(name, "TO"), name, "TO",
                  std::to_string(to) + (to == 1 ? " item" : " items") + " but FROM has " +
                      std::to_string(from) + "; " +
                      (to < from ? "the sources without a destination are copied to an empty "
                                   "name, which fails (message 8)"
                                 : "the extra destinations are ignored"));
        }
      }
    }
    if (kind == "LAUNCH") {
      if (has("FILE") && has("PARAM") && !get("PARAM").expanded.empty()) {
        int files = CountItems(get("FILE").expanded);
        int params = CountItems(get("PARAM").expanded);
        if (files > 0 && params != files) {
          Warning(KeyLine(name, "PARAM"), name, "PARAM",
                  std::to_string(params) + (params == 1 ? " item" : " items") + " but FILE has " +
                      std::to_string(files) + "; " +
                      (params < files ? "the programs without an item get no parameters"
                                      : "the extra items are ignored"));
        }
      }
      if (has("ISWAIT") && !StartsWithNumber(get("ISWAIT").raw)) {
        const std::string& raw = get("ISWAIT").raw;
        Warning(
            KeyLine(name, "ISWAIT"), name, "ISWAIT",
            (raw.empty() ? std::string("the value is empty") : Quoted(raw) + " is not a number") +
                "; it reads as 0, so the program does not wait");
      }
    }
    if (kind == "DATE" && has("DATE")) CheckDate(name, get("DATE"));
    if (kind == "MSGBOX" && has("TYPE")) {
      const std::string& type = get("TYPE").expanded;
      bool known = false;
      for (const char* candidate : kBoxTypes) {
        known = known || TextString(type.c_str()).IsEqualNoCase(candidate);
      }
      if (!known) {
        Error(KeyLine(name, "TYPE"), name, "TYPE",
              Quoted(type) + " is none of ERROR, INFORMATION, WARNING, QUESTION (message 6)");
      }
    }
  }

  void CheckDate(const std::string& name, const Value& value) {
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
    Warning(KeyLine(name, "DATE"), name, "DATE",
            Quoted(value.expanded) + " is not written year/month/day; it reads as " + reads);
  }

  // MSGBOX FLAG and SWITCH PROC look procedures up in their own list only.
  void CheckReferences(const std::vector<PlanProcedure>& procedures) {
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
          Error(line, name, "FLAG",
                Quoted(target) + " names no procedure of its list " + listed + " (message 6)");
        } else if (j == static_cast<int>(m)) {
          Warning(line, name, "FLAG",
                  Quoted(target) + " names " + name +
                      " itself, whose flag is still 0 when its condition is tested");
        } else if (j > static_cast<int>(m)) {
          Warning(line, name, "FLAG",
                  Quoted(target) + " comes later in its list, so its flag is still 0 when " + name +
                      " runs: the condition compares with 0");
        } else if (procedures[j].kind == "SWITCH") {
          Warning(line, name, "FLAG", Quoted(target) + " is a SWITCH, whose flag is always 0");
        }
        int expected = ToInt(TextString(flag.c_str()).GetToken(1, ",").GetConstText());
        if (expected != 0 && expected != 1) {
          Warning(line, name, "FLAG",
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
          Error(line, name, "PROC",
                Quoted(target) + " names no procedure of its list " + listed + " (message 6)");
        } else if (j >= static_cast<int>(m)) {
          Warning(line, name, "PROC",
                  Quoted(target) +
                      (j == static_cast<int>(m) ? " is this SWITCH itself"
                                                : " comes later in its list") +
                      ", so its flag is always 0 here and branch 1 is never taken");
        } else if (procedures[j].kind == "SWITCH") {
          Warning(
              line, name, "PROC",
              Quoted(target) + " is a SWITCH, whose flag is always 0, so branch 1 is never taken");
        }
      }
    }
  }

  // -- DEFINE -----------------------------------------------------------------------------------

  void CheckDefine() {
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
        Warning(line, "DEFINE", name,
                "the name is not written in angle brackets, so no <...> block can reach it "
                "(write <" +
                    name + ">)");
        continue;
      }
      if (EqualNoCase(name, "<Win>") || EqualNoCase(name, "<Src>")) {
        Warning(line, "DEFINE", name,
                entry.hasValue ? "the built-in " + name + " always wins; this value is never used"
                               : "written without \"=\", so " + name +
                                     " stays empty instead of taking its built-in value");
        continue;
      }
      if (!entry.hasValue) continue;
      std::string value = entry.text;
      size_t equals = value.find('=');
      if (equals != std::string::npos) {
        Warning(line, "DEFINE", name,
                "the value ends at its second \"=\": " + name + " is " +
                    Quoted(value.substr(0, equals)) + ", not " + Quoted(value));
        value = value.substr(0, equals);
      }
      if (value.find("\\n") != std::string::npos) {
        Warning(line, "DEFINE", name,
                Quoted(value) + " holds \"\\n\", which becomes a line feed wherever " + name +
                    " is used; write \"\\N\" instead (the rule is case-sensitive, Windows file "
                    "names are not)");
      }
      TextString stored;
      if (!FindSymbol(name.c_str(), &stored)) continue;
      CheckRegistryBlocks(line, "DEFINE", name, stored.GetConstText());
      for (const std::string& block : SimpleBlocks(stored.GetConstText(), '<', '>')) {
        TextString unused;
        if (!HasBlank(block) && !FindSymbol(block.c_str(), &unused)) {
          Warning(line, "DEFINE", name, block + " has no definition; it stays as written");
        }
      }
    }
  }

  // -- The file as a whole ----------------------------------------------------------------------

  void CheckDuplicates() {
    std::map<std::string, int> sections;
    for (const ScriptLines::Section& section : lines_.sections()) {
      std::string folded = FoldName(section.name);
      auto first = sections.find(folded);
      if (first != sections.end()) {
        Warning(section.line, section.name, "",
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
          Warning(entry.line, section.name, entry.name,
                  "a second " + entry.name + " (the first is at line " +
                      std::to_string(earlier->second) + "); the program reads only the first");
        } else {
          keys[FoldName(entry.name)] = entry.line;
        }
      }
    }
  }

  void CheckUnreached() {
    std::set<std::string> done;
    for (const ScriptLines::Section& section : lines_.sections()) {
      if (section.line == 0) continue;
      std::string folded = FoldName(section.name);
      if (!done.insert(folded).second) continue;
      if (folded == "updater" || folded == "define" || reached_.count(folded) != 0) continue;
      Warning(section.line, section.name, "",
              "no list reaches this section (neither UPDATER's PROC nor any SWITCH branch "
              "names it)");
    }
  }

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

}  // namespace

bool CheckScript(const std::string& path, const std::string& displayName, Report* report,
                 std::string* problem) {
  report->file = displayName;
  report->findings.clear();
  report->lists.clear();
  std::string bytes;
  if (!ReadFileBytes(path, &bytes, problem)) return false;
  ScriptLines lines;
  lines.Parse(bytes);

  TextString scriptPath(FullPath(path).c_str());
  // The script's folder stands for the program's: "<Src>" is everything before the last
  // separator of this path.
  TextString modulePath(scriptPath);
  SymbolTable symbols;
  CheckScope scope(&scriptPath, &modulePath, &symbols);
  LoadDefinitions();
  Analyzer(scriptPath.GetConstText(), displayName, lines, report).Run();
  return true;
}

}  // namespace checker
}  // namespace kestario
