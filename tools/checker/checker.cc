#include "tools/checker/checker.h"

#include <algorithm>
#include <cstdio>

#include "platform/system.h"
#include "settings/symbols.h"
#include "text/text_string.h"
#include "tools/checker/analyzer.h"
#include "tools/checker/read_only_system.h"
#include "tools/checker/script_lines.h"

namespace kestario {
namespace checker {

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

// Installs the read-only system and binds the settings readers to the checker's own script path
// and symbol table for the time of one check.
class CheckScope {
 public:
  CheckScope(const TextString* scriptPath, const TextString* modulePath, SymbolTable* symbols)
      : guard_(&CurrentSystem()), swap_(&guard_) {
    BindScript(scriptPath, modulePath, symbols);
  }
  ~CheckScope() { BindScript(nullptr, nullptr, nullptr); }
  CheckScope(const CheckScope&) = delete;
  CheckScope& operator=(const CheckScope&) = delete;

 private:
  ReadOnlySystem guard_;
  SystemSwap swap_;
};

}  // namespace

bool CheckScript(const std::string& path, const std::string& displayName, Report* report,
                 std::string* problem) {
  report->file = displayName;
  report->findings.clear();
  report->suppressed.clear();
  report->lists.clear();
  std::string bytes;
  if (!ReadScriptFile(path, &bytes, problem)) return false;
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
