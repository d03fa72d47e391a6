#include "tools/checker/paths.h"

#include "platform/path_questions.h"
#include "platform/system.h"
#include "tools/checker/script_lines.h"
#ifdef _WIN32
#include <windows.h>

#include "tools/console/console_output.h"
#endif

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

#ifdef _WIN32
namespace {

// `wide` in the ANSI code page; false when a character has no exact form there.
bool ToAnsi(const std::wstring& wide, std::string* ansi) {
  ansi->clear();
  if (wide.empty()) return true;
  if (GetACP() == CP_UTF8) {
    *ansi = console::Utf8(wide.data(), wide.size());
    return true;
  }
  BOOL lossy = FALSE;
  int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                   static_cast<int>(wide.size()), nullptr, 0, nullptr, &lossy);
  if (length <= 0 || lossy) return false;
  ansi->assign(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                      &(*ansi)[0], length, nullptr, &lossy);
  return !lossy;
}

}  // namespace

bool AnsiScriptPath(const std::string& utf8Path, std::string* ansiPath, std::string* problem) {
  std::wstring wide = console::Wide(utf8Path);
  if (ToAnsi(wide, ansiPath)) return true;
  DWORD size = GetShortPathNameW(wide.c_str(), nullptr, 0);
  std::wstring shortPath(size, L'\0');
  if (size != 0) size = GetShortPathNameW(wide.c_str(), &shortPath[0], size);
  if (size == 0) {
    *problem = console::SystemReason(GetLastError());
    return false;
  }
  shortPath.resize(size);
  if (ToAnsi(shortPath, ansiPath)) return true;
  *problem = "its name cannot be written in this system's ANSI code page (" +
             std::to_string(GetACP()) + "), and it has no short (8.3) name that can";
  return false;
}
#endif

}  // namespace checker
}  // namespace kestario
