// The run log that UPDATER's LOG asks for: where it goes after expansion, and the values that
// would make it go nowhere or spoil a file the script needs.
#ifdef _WIN32
#include <windows.h>
#else
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#endif

#include <string>

#include "platform/system.h"
#include "tools/checker/analyzer.h"
#include "tools/checker/list_text.h"

namespace kestario {
namespace checker {
namespace {

void SplitAtLastSeparator(const std::string& path, std::string* folder, std::string* name) {
  size_t at = path.find_last_of(kPathSeparatorText);
#ifdef _WIN32
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && (at == std::string::npos || slash > at)) at = slash;
#endif
  if (at == std::string::npos) {
    *folder = ".";
    *name = path;
  } else {
    *folder = at == 0 ? path.substr(0, 1) : path.substr(0, at);
    *name = path.substr(at + 1);
  }
}

bool IsFolder(const std::string& path) {
#ifdef _WIN32
  DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

// The path by which two spellings of one file compare equal: its folder made full (links
// resolved on Linux), then its name; letters folded on Windows, whose names ignore case. Empty
// when the folder does not exist.
std::string Identity(const std::string& path) {
  std::string folder, name;
  SplitAtLastSeparator(path, &folder, &name);
#ifdef _WIN32
  char full[MAX_PATH * 4];
  DWORD length = ::GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  if (length == 0 || length >= sizeof full || !IsFolder(folder)) return std::string();
  std::string key(full, length);
  for (char& c : key) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c == '/') c = '\\';
  }
  return key;
#else
  char* resolved = realpath(folder.c_str(), nullptr);
  if (resolved == nullptr) return std::string();
  std::string key = std::string(resolved) + "/" + name;
  free(resolved);
  return key;
#endif
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
  SplitAtLastSeparator(log.expanded, &folder, &name);
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
