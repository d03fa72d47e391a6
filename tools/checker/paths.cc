#include "tools/checker/paths.h"

#include "platform/path_questions.h"
#include "platform/system.h"
#include "tools/checker/script_lines.h"

namespace kestario {
namespace checker {

void SplitPath(const std::string& path, std::string* folder, std::string* name) {
  size_t slash = path.size();
  while (slash > 0 && !IsPathSeparator(path[slash - 1])) --slash;
  if (slash == 0) {
    *folder = ".";
    *name = path;
  } else {
    --slash;
    *folder = slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
    *name = path.substr(slash + 1);
  }
}

bool IsFolder(const std::string& path) { return GetPathKindA(path.c_str()) == PathKind::kFolder; }

char FoldCase(char c) { return FoldNameCase(c); }

std::string PathKey(const std::string& path) {
  std::string folder, name;
  SplitPath(path, &folder, &name);
  name.erase(StoredNameLength(name.data(), name.size()));
  std::string key;
  if (name.empty() || name == "." || name == "..") {
    key = FullPath(path);
  } else {
    std::string full = FullPath(folder);
    key = full + (full.empty() || full.back() == kPathSeparator ? "" : kPathSeparatorText) + name;
  }
  for (char& c : key) c = FoldCase(c);
  return key;
}

}  // namespace checker
}  // namespace kestario
