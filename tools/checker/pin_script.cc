#include "tools/checker/pin_script.h"

#include <map>
#include <set>

#include "platform/files.h"
#include "platform/sha256.h"
#include "platform/system.h"
#include "tools/checker/list_text.h"
#include "tools/checker/script_lines.h"

namespace kestario {
namespace checker {
namespace {

// The script's lines, each with its own line end (CR LF, LF or a lone CR, as ScriptLines counts
// them); line n is lines[n - 1].
std::vector<std::string> SplitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '\n' && bytes[i] != '\r') continue;
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    lines.push_back(bytes.substr(start, i + 1 - start));
    start = i + 1;
  }
  if (start < bytes.size()) lines.push_back(bytes.substr(start));
  return lines;
}

std::string LineEnd(const std::string& line) {
  size_t end = line.find_first_of("\r\n");
  return end == std::string::npos ? "\n" : line.substr(end);
}

// The HASH value for one procedure: the pins of its files, in their order.
std::string Pins(const PlanProcedure& procedure, std::vector<std::string>* warnings) {
  const char* key = procedure.kind == "COPY" ? "FROM" : "FILE";
  std::vector<std::string> files = Items(procedure.Value(key));
  std::string value;
  for (size_t i = 0; i < files.size(); ++i) {
    if (i != 0) value += ",";
    Sha256Digest digest;
    if (files[i].empty() || !HashFile(CurrentSystem(), files[i].c_str(), &digest)) {
      warnings->push_back("[" + procedure.name + "] " + key + ": item " + std::to_string(i + 1) +
                          " " + Quoted(files[i]) +
                          " cannot be read; its HASH item is left empty (it pins nothing)");
      continue;
    }
    char text[kSha256HexLength + 1];
    FormatSha256Hex(digest, text);
    value += text;
  }
  return value;
}

}  // namespace

std::string PinScript(const std::string& bytes, const Report& report,
                      std::vector<std::string>* warnings) {
  ScriptLines script;
  script.Parse(bytes);
  std::vector<std::string> lines = SplitLines(bytes);
  std::map<int, std::string> replaced;  // line -> its new text
  std::map<int, std::string> added;     // line -> the text that follows it
  std::set<std::string> done;
  for (const PlanList& list : report.lists) {
    for (const PlanProcedure& procedure : list.procedures) {
      if (procedure.kind != "COPY" && procedure.kind != "LAUNCH") continue;
      if (!done.insert(FoldName(procedure.name)).second) continue;
      const ScriptLines::Section* section = script.FindSection(procedure.name);
      if (section == nullptr) continue;
      std::string line = "HASH=" + Pins(procedure, warnings);
      const ScriptLines::Entry* hash = ScriptLines::FindEntry(*section, "HASH");
      int after = section->entries.empty() ? section->line : section->entries.back().line;
      if (hash != nullptr && hash->line >= 1 && hash->line <= static_cast<int>(lines.size())) {
        replaced[hash->line] = line + LineEnd(lines[hash->line - 1]);
      } else if (after >= 1 && after <= static_cast<int>(lines.size())) {
        const std::string& last = lines[after - 1];
        std::string end = LineEnd(last);
        if (last.find_first_of("\r\n") == std::string::npos) lines[after - 1] += end;
        added[after] += line + end;
      }
    }
  }
  std::string result;
  for (size_t i = 0; i < lines.size(); ++i) {
    int number = static_cast<int>(i + 1);
    auto found = replaced.find(number);
    result += found != replaced.end() ? found->second : lines[i];
    auto extra = added.find(number);
    if (extra != added.end()) result += extra->second;
  }
  return result;
}

}  // namespace checker
}  // namespace kestario
