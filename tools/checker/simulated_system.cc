#include "tools/checker/simulated_system.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/batch_command_line.h"
#include "tools/checker/paths.h"
#include "tools/checker/script_lines.h"
#ifndef _WIN32
#include "platform/command_line_posix.h"
#endif

namespace kestario {
namespace checker {
namespace {

bool HasWildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

// "*" any run of bytes, "?" one byte; everything else literal (ASCII case ignored on Windows).
bool WildcardMatch(const char* pattern, const char* name) {
  const char* star = nullptr;
  const char* resume = nullptr;
  while (*name) {
    if (*pattern == '*') {
      star = pattern++;
      resume = name;
    } else if (*pattern == '?' || (*pattern && FoldCase(*pattern) == FoldCase(*name))) {
      ++pattern;
      ++name;
    } else if (star != nullptr) {
      pattern = star + 1;
      name = ++resume;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == '\0';
}

// ---------------------------------------------------------------------------------------------
// What the platform would check, asked of the real file system without changing it.

#ifdef _WIN32

DWORD Attributes(const std::string& path) { return ::GetFileAttributesA(path.c_str()); }

// Whether a copy's destination exists; `problem` is set when it cannot even be looked at.
bool TargetExists(const std::string& path, std::string* /*problem*/) {
  return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

// Why DeleteFileA would fail on this real path; empty when it would succeed.
std::string DeleteProblem(const std::string& path) {
  if (HasWildcard(path)) return "a wildcard names no file to delete";
  DWORD attributes = Attributes(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return "it does not exist";
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "it is a folder";
  if (attributes & FILE_ATTRIBUTE_READONLY) return "it is read-only";
  return std::string();
}

std::string SourceProblem(const std::string& path) {
  DWORD attributes = Attributes(path);
  if (HasWildcard(path) || attributes == INVALID_FILE_ATTRIBUTES)
    return "the source does not exist";
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "the source is a folder";
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "the source cannot be read";
  ::CloseHandle(file);
  return std::string();
}

// Why a file with the attributes of `model` (the destination, or the copy that replaced it)
// could not be replaced.
std::string ReplaceProblem(const std::string& model) {
  DWORD attributes = Attributes(model);
  if (attributes == INVALID_FILE_ATTRIBUTES) return std::string();
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "the destination is a folder";
  if (attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) {
    return "the destination is read-only or hidden";
  }
  return std::string();
}

bool SameFile(const std::string& left, const std::string& right) {
  return PathKey(left) == PathKey(right);
}

std::string FolderProblem(const std::string& path, bool /*replacing*/) {
  std::string folder, name;
  SplitPath(path, &folder, &name);
  if (name.empty() || HasWildcard(path)) return "the destination names no file";
  // The program's ANSI calls take paths of up to MAX_PATH - 1 bytes.
  if (path.size() >= MAX_PATH) return "the destination's path is longer than MAX_PATH allows";
  DWORD attributes = Attributes(folder);
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return "the destination's folder does not exist";
  }
  return std::string();
}

std::string ProgramProblem(const std::string& program) {
  std::string folder, name;
  SplitPath(program, &folder, &name);
  size_t dot = name.rfind('.');
  std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  for (char& c : extension) c = FoldCase(c);
  if (extension == ".bat" || extension == ".cmd") return std::string();
  std::FILE* file = std::fopen(program.c_str(), "rb");
  if (file == nullptr) return "the program cannot be read";
  char header[2] = {0, 0};
  size_t got = std::fread(header, 1, 2, file);
  std::fclose(file);
  if (got != 2 || header[0] != 'M' || header[1] != 'Z') return "the file is not a program";
  return std::string();
}

// The names in `folder` that match `pattern`, as FindFirstFileA finds them.
std::vector<std::string> MatchingNames(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = ::FindFirstFileA((folder + "\\" + pattern).c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    names.push_back(found.cFileName);
  } while (::FindNextFileA(search, &found));
  ::FindClose(search);
  return names;
}

#else

bool TargetExists(const std::string& path, std::string* problem) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0) return true;
  if (errno != ENOENT) *problem = "the destination cannot be reached";
  return false;
}

// Whether a file may be made or removed in `folder`.
bool FolderWritable(const std::string& folder) {
  return IsFolder(folder) && access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string DeleteProblem(const std::string& path) {
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return "it does not exist";
  if (S_ISDIR(info.st_mode)) return "it is a folder";
  std::string folder, name;
  SplitPath(path, &folder, &name);
  if (!FolderWritable(folder)) return "its folder is not writable";
  struct stat folderInfo;
  uid_t user = geteuid();
  if (stat(folder.c_str(), &folderInfo) == 0 && (folderInfo.st_mode & S_ISVTX) && user != 0 &&
      user != info.st_uid && user != folderInfo.st_uid) {
    return "its folder lets only the file's owner delete it";
  }
  return std::string();
}

std::string SourceProblem(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return "the source does not exist";
  if (S_ISDIR(info.st_mode)) return "the source is a folder";
  if (!S_ISREG(info.st_mode)) return "the source is not a regular file";
  if (access(path.c_str(), R_OK) != 0) return "the source cannot be read";
  return std::string();
}

std::string ReplaceProblem(const std::string& model) {
  struct stat info;
  if (stat(model.c_str(), &info) != 0) return std::string();
  if (S_ISDIR(info.st_mode)) return "the destination is a folder";
  if ((info.st_mode & S_IWUSR) == 0) return "the destination is read-only";
  return std::string();
}

bool SameFile(const std::string& left, const std::string& right) {
  struct stat a, b;
  return stat(left.c_str(), &a) == 0 && stat(right.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
}

// Why a copy could not be put in place at `path`; `replacing`: an existing destination that the
// user may write, which the program writes in place when its folder refuses new files.
std::string FolderProblem(const std::string& path, bool replacing) {
  if (path.back() == '/') return "the destination names no file";
  std::string folder, name;
  SplitPath(path, &folder, &name);
  if (!IsFolder(folder)) return "the destination's folder does not exist";
  if (!FolderWritable(folder)) {
    return replacing ? std::string() : "the destination's folder is not writable";
  }
  // The copy is put in place through ".NAME.XXXXXX" beside the destination.
  long longest = pathconf(folder.c_str(), _PC_NAME_MAX);
  if (longest > 0 && name.size() + 8 > static_cast<size_t>(longest)) {
    return "the destination's name leaves no room for the temporary file's name beside it";
  }
  return std::string();
}

// Why execv would refuse the file.
std::string ProgramProblem(const std::string& program) {
  struct stat info;
  if (stat(program.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return "the program cannot be found";
  }
  if (access(program.c_str(), X_OK) != 0) return "the program is not executable";
  std::FILE* file = std::fopen(program.c_str(), "rb");
  if (file == nullptr) return "the program cannot be read";
  char header[256] = {0};
  size_t got = std::fread(header, 1, sizeof header - 1, file);
  std::fclose(file);
  if (got >= 4 && std::memcmp(header,
                              "\x7f"
                              "ELF",
                              4) == 0)
    return std::string();
  if (got >= 2 && header[0] == '#' && header[1] == '!') {
    std::string line(header + 2, got - 2);
    size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) return "the program's #! line names no interpreter";
    size_t end = line.find_first_of(" \t\n", start);
    std::string interpreter = line.substr(start, end == std::string::npos ? end : end - start);
    struct stat used;
    if (stat(interpreter.c_str(), &used) != 0 || access(interpreter.c_str(), X_OK) != 0) {
      return "its interpreter " + interpreter + " cannot be started";
    }
    return std::string();
  }
  return "the file is not a program the system can start";
}

std::vector<std::string> MatchingNames(const std::string& folder, const std::string& pattern) {
  std::vector<std::string> names;
  DIR* directory = opendir(folder.c_str());
  if (directory == nullptr) return names;
  while (struct dirent* entry = readdir(directory)) {
    if (WildcardMatch(pattern.c_str(), entry->d_name)) names.push_back(entry->d_name);
  }
  closedir(directory);
  return names;
}

#endif

// The handles of files that the simulation opens for writing lie above every real one.
constexpr FileHandle kSimulatedFiles = ~(~FileHandle{0} >> 1);

// Why the platform would not open `path` for writing; empty when it would.
std::string WriteProblem(const std::string& path, bool exists) {
  std::string folder, name;
  SplitPath(path, &folder, &name);
  if (name.empty() || HasWildcard(path) || !IsFolder(folder)) return "no such folder";
#ifdef _WIN32
  DWORD attributes = Attributes(path);
  if (exists && (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
    return "a folder or read-only";
  }
  HANDLE file = exists ? ::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)
                       : INVALID_HANDLE_VALUE;
  if (file != INVALID_HANDLE_VALUE) {
    bool disk = ::GetFileType(file) == FILE_TYPE_DISK;
    ::CloseHandle(file);
    if (!disk) return "not a file on a disk";
  }
#else
  struct stat info;
  if (exists && (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))) {
    return "not a regular file";
  }
  if (exists ? access(path.c_str(), W_OK) != 0 : !FolderWritable(folder)) return "not writable";
#endif
  return std::string();
}

std::string DateText(const LocalDate& date) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u/%02u/%02u", date.year, date.month, date.day);
  return text;
}

// The parameters of a Windows command line, split at blanks outside double quotes, only to find
// the folders they name.
void SplitWords(const std::string& text, std::vector<std::string>* words) {
  std::string word;
  bool quoted = false;
  for (size_t i = 0; i <= text.size(); ++i) {
    char c = i < text.size() ? text[i] : ' ';
    if (c == '"') {
      quoted = !quoted;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (!word.empty()) words->push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
}

// The program and the rest of a command line as CreateProcessA finds them: a quoted program runs
// to its closing quote; otherwise, on Windows, the shortest run of words that names a file
// (".exe" added to a name without extension), and on Linux the first word, is the program.
bool FindProgram(const std::string& line, const SimulatedSystem& system, std::string* program,
                 std::vector<std::string>* arguments) {
#ifdef _WIN32
  size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return false;
  size_t end;
  if (line[start] == '"') {
    size_t close = line.find('"', start + 1);
    *program = line.substr(start + 1, close == std::string::npos ? close : close - start - 1);
    end = close == std::string::npos ? line.size() : close + 1;
    if (!system.IsNonFolder(program->c_str())) return false;
  } else {
    bool found = false;
    end = start;
    while (!found) {
      size_t space = line.find(' ', end + 1);
      end = space == std::string::npos ? line.size() : space;
      std::string candidate = line.substr(start, end - start);
      std::string folder, name;
      SplitPath(candidate, &folder, &name);
      if (name.find('.') == std::string::npos) candidate += ".exe";
      if (system.IsNonFolder(candidate.c_str())) {
        *program = candidate;
        found = true;
      } else if (end == line.size()) {
        return false;
      }
    }
  }
  SplitWords(line.substr(end), arguments);
  return true;
#else
  char** argv = nullptr;
  (void)system;
  if (!SplitCommandLine(line.c_str(), &argv)) return false;
  *program = argv[0];
  for (char** argument = argv + 1; *argument != nullptr; ++argument) {
    arguments->push_back(*argument);
  }
  FreeArgumentVector(argv);
  if (!program->empty() && (*program)[0] != '/') {
    char* folder = getcwd(nullptr, 0);
    if (folder != nullptr) {
      *program = std::string(folder) + "/" + *program;
      std::free(folder);
    }
  }
  return true;
#endif
}

std::string Joined(const std::vector<std::string>& words) {
  std::string text;
  for (const std::string& word : words) {
    text += " ";
    text += word.find(' ') != std::string::npos || word.empty() ? "\"" + word + "\"" : word;
  }
  return text;
}

// The stand-in folder of a rollback run's journal.
constexpr const char* kJournalStandIn = "(journal)";

bool IsJournal(const char* path) {
  return std::strncmp(path, kJournalStandIn, std::strlen(kJournalStandIn)) == 0;
}

// Whether `path` names one of the files a rollback run keeps beside the ones it changes.
bool IsBookkeeping(const std::string& path) {
  std::string folder, name;
  SplitPath(path, &folder, &name);
  return name.compare(0, 10, ".kestario-") == 0;
}

// A box's text in the ANSI code page, the encoding of the report's other texts.
std::string AnsiText(System& system, const char16_t* text) {
  TextString bytes;
  if (text == nullptr || !system.WideCharToMultiByte(kCpAcp, text, WideLength(text), &bytes)) {
    return std::string();
  }
  return bytes.GetConstText();
}

}  // namespace

SimulatedSystem::SimulatedSystem(System* base, WhatIfRecorder* recorder,
                                 const std::string& scriptPath)
    : ForwardingSystem(base),
      recorder_(recorder),
      script_(scriptPath),
      nextWritten_(kSimulatedFiles) {
  // The program finds its script by giving its own path the extension "ini".
  TextString derived(script_.c_str());
  derived.ReplaceTokens(-1, -1, ".", "ini");
  derivedScript_ = derived.GetConstText();
}

const SimulatedSystem::Entry* SimulatedSystem::Find(const std::string& path) const {
  auto found = overlay_.find(PathKey(path));
  return found == overlay_.end() ? nullptr : &found->second;
}

bool SimulatedSystem::IsNonFolder(const char* path) const {
  if (path == nullptr || *path == '\0') return false;
  const Entry* entry = Find(path);
  if (entry != nullptr) return entry->present;
#ifdef _WIN32
  DWORD attributes = Attributes(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
  struct stat info;
  return stat(path, &info) == 0 && !S_ISDIR(info.st_mode);
#endif
}

bool SimulatedSystem::IsUncertain(const std::string& path) const {
  std::string key = PathKey(path);
  for (const std::string& folder : uncertainFolders_) {
    if (key == folder ||
        (key.size() > folder.size() && key.compare(0, folder.size(), folder) == 0 &&
         (folder.back() == kPathSeparator || key[folder.size()] == kPathSeparator))) {
      return true;
    }
  }
  return false;
}

void SimulatedSystem::MarkUncertain(const std::string& folder) {
  std::string key = FullPath(folder);
  for (char& c : key) c = FoldCase(c);
  for (const std::string& known : uncertainFolders_) {
    if (known == key) return;
  }
  uncertainFolders_.push_back(key);
}

void SimulatedSystem::Event(const char* kind, const std::string& text, bool succeeds,
                            bool uncertain) {
  WhatIfEvent event;
  event.kind = kind;
  event.text = text + (uncertain ? " (uncertain: a program started earlier may change it)" : "");
  event.succeeds = succeeds;
  event.uncertain = uncertain;
  recorder_->AddEvent(event);
}

void SimulatedSystem::GetPrivateProfileStringA(const char* section, const char* key,
                                               const char* defaultValue, TextString* value,
                                               const char* file) {
  if (file != nullptr && derivedScript_ == file) file = script_.c_str();
  ForwardingSystem::GetPrivateProfileStringA(section, key, defaultValue, value, file);
}

void SimulatedSystem::GetPrivateProfileSectionA(const char* section, ByteBuffer* entries,
                                                const char* file) {
  if (file != nullptr && derivedScript_ == file) file = script_.c_str();
  ForwardingSystem::GetPrivateProfileSectionA(section, entries, file);
}

int SimulatedSystem::LoadStringW(uint16_t language, unsigned id, char16_t* buffer, int size) {
  pendingMessage_ = id;
  return ForwardingSystem::LoadStringW(language, id, buffer, size);
}

int SimulatedSystem::MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) {
  const char* kind = "INFORMATION";
  switch (style & kMbIconMask) {
    case kMbIconError:
      kind = "ERROR";
      break;
    case kMbIconQuestion:
      kind = "QUESTION";
      break;
    case kMbIconWarning:
      kind = "WARNING";
      break;
    default:
      break;
  }
  // The error box of a failure follows the loading of its catalog text; a MSGBOX box does not.
  int message = style == (kMbOk | kMbIconError) ? static_cast<int>(pendingMessage_) : 0;
  pendingMessage_ = 0;
  bool yesNo = (style & kMbTypeMask) == kMbYesNo;
  Answer answer =
      recorder_->ShowBox(AnsiText(*base(), caption), kind, AnsiText(*base(), text), yesNo, message);
  if (answer == Answer::kNo) return kIdNo;
  return yesNo ? kIdYes : kIdOk;
}

uint32_t SimulatedSystem::GetModuleFileNameA(char* buffer, uint32_t size) {
  if (buffer == nullptr || size == 0) return 0;
  size_t length = script_.size();
  if (length < size) {
    std::memcpy(buffer, script_.c_str(), length + 1);
    return static_cast<uint32_t>(length);
  }
  std::memcpy(buffer, script_.c_str(), size - 1);
  buffer[size - 1] = '\0';
  return size;
}

uint32_t SimulatedSystem::GetFileAttributesA(const char* path) {
  const Entry* entry = path != nullptr && *path != '\0' ? Find(path) : nullptr;
  if (entry == nullptr) return ForwardingSystem::GetFileAttributesA(path);
  return entry->present ? kFileAttributeNormal : kInvalidFileAttributes;
}

bool SimulatedSystem::FindAnyMatch(const char* path) {
  bool found = false;
  std::string text = path != nullptr ? path : "";
  if (text.empty()) {
    found = false;
  } else if (!HasWildcard(text)) {
    const Entry* entry = Find(text);
    found = entry != nullptr ? entry->present : ForwardingSystem::FindAnyMatch(path);
  } else {
    found = MatchesWildcard(text);
  }
  if (recorder_->CurrentMode() == "EXIST") {
    Event("exists", "exists? " + text + ": " + (found ? "yes" : "no"), found, IsUncertain(text));
  }
  return found;
}

bool SimulatedSystem::MatchesWildcard(const std::string& path) const {
  std::string folder, pattern;
  SplitPath(path, &folder, &pattern);
  if (HasWildcard(folder)) return false;  // wildcards only in the last part, as the search has
  std::string prefix = PathKey(path);
  prefix = prefix.substr(0, prefix.size() - pattern.size());
  bool touched = false;
  for (const auto& entry : overlay_) {
    if (entry.first.compare(0, prefix.size(), prefix) != 0) continue;
    std::string name = entry.first.substr(prefix.size());
    if (name.find(kPathSeparator) != std::string::npos) continue;
    touched = true;
    if (entry.second.present && WildcardMatch(pattern.c_str(), name.c_str())) return true;
  }
  if (!touched) return base()->FindAnyMatch(path.c_str());
  for (const std::string& name : MatchingNames(folder, pattern)) {
    std::string key = prefix + name;
    for (char& c : key) c = FoldCase(c);
    auto entry = overlay_.find(key);
    if (entry == overlay_.end() || entry->second.present) return true;
  }
  return false;
}

bool SimulatedSystem::GetFileLocalDate(const char* path, LocalDate* date) {
  std::string text = path != nullptr ? path : "";
  const Entry* entry = text.empty() ? nullptr : Find(text);
  bool read;
  if (entry != nullptr) {
    read = entry->present && ForwardingSystem::GetFileLocalDate(entry->content.c_str(), date);
    if (entry->present && entry->content.empty()) {  // made by this run: dated today
      LocalTime now;
      GetLocalTime(&now);
      *date = LocalDate{now.year, now.month, now.day};
      read = true;
    }
  } else {
    read = ForwardingSystem::GetFileLocalDate(path, date);
  }
  if (recorder_->CurrentMode() == "DATE") {
    Event("date", "date of " + text + ": " + (read ? DateText(*date) : "the file cannot be opened"),
          read, IsUncertain(text));
  }
  return read;
}

bool SimulatedSystem::DeleteFileA(const char* path) {
  std::string text = path != nullptr ? path : "";
  std::string problem;
  const Entry* entry = text.empty() ? nullptr : Find(text);
  if (text.empty()) {
    problem = "the name is empty";
  } else if (entry != nullptr) {
    if (!entry->present) problem = "it does not exist (deleted earlier in the run)";
  } else {
    problem = DeleteProblem(text);
  }
  bool uncertain = !text.empty() && IsUncertain(text);
  // What a rollback run kept goes without a word: its events said what it keeps.
  bool quiet = IsBookkeeping(text);
  if (!problem.empty()) {
    if (!quiet) Event("delete", "delete " + text + " fails: " + problem, false, uncertain);
    return false;
  }
  Entry deleted;
  deleted.shown = entry != nullptr ? entry->shown : text;
  deleted.existedBefore = entry != nullptr ? entry->existedBefore : true;
  overlay_[PathKey(text)] = deleted;
  if (!quiet && recorder_->CurrentMode().empty() && !deleted.existedBefore) {
    undone_.push_back("remove " + text + ", which the run made");  // a stopped rollback run
  } else if (!quiet) {
    Event("delete", "delete " + text, true, uncertain);
  }
  return true;
}

bool SimulatedSystem::CopyFileA(const char* from, const char* to, bool failIfExists) {
  std::string source = from != nullptr ? from : "";
  std::string target = to != nullptr ? to : "";
  std::string shown = "copy " + source + " -> " + target;
  std::string problem;
  std::string content;
  const Entry* sourceEntry = nullptr;
  const Entry* targetEntry = nullptr;
  bool targetExists = false;
  bool same = false;
  if (source.empty() || target.empty()) {
    problem = "a name is empty";
  } else {
    sourceEntry = Find(source);
    if (sourceEntry != nullptr) {
      if (!sourceEntry->present) problem = "the source does not exist (deleted earlier in the run)";
      content = sourceEntry->content;
    } else {
      problem = SourceProblem(source);
      content = FullPath(source);
    }
  }
  if (problem.empty()) {
    targetEntry = Find(target);
    if (targetEntry != nullptr) {
      targetExists = targetEntry->present;
      if (targetExists) problem = ReplaceProblem(targetEntry->content);
    } else {
      targetExists = TargetExists(target, &problem);
      if (!problem.empty()) {
      } else if (targetExists && sourceEntry == nullptr && SameFile(source, target)) {
        same = true;  // as the program does: nothing to copy, the file is left as it is
      } else if (targetExists) {
        problem = ReplaceProblem(target);
#ifndef _WIN32
        if (problem.empty() && !IsFolder(target) && access(target.c_str(), W_OK) != 0) {
          problem = "the destination is not writable";
        }
#endif
      }
    }
    if (problem.empty() && targetExists && failIfExists) problem = "the destination exists";
    if (problem.empty() && !same) problem = FolderProblem(target, targetExists);
  }
  bool uncertain =
      (!source.empty() && IsUncertain(source)) || (!target.empty() && IsUncertain(target));
  if (!problem.empty()) {
    Event("copy", shown + " fails: " + problem, false, uncertain);
    return false;
  }
  if (same) {
    Event("copy", shown + ": the same file, left as it is", true, uncertain);
    return true;
  }
  Entry copied;
  copied.present = true;
  copied.content = content;
  copied.shown = targetEntry != nullptr ? targetEntry->shown : target;
  copied.existedBefore = targetEntry != nullptr ? targetEntry->existedBefore : targetExists;
  overlay_[PathKey(target)] = copied;
  Event("copy", shown + (targetExists ? " (replaces it)" : " (creates it)"), true, uncertain);
  return true;
}

bool SimulatedSystem::CreateProcessA(char* commandLine, const char* currentDirectory,
                                     ProcessHandle* process) {
  if (process != nullptr) *process = kNoProcess;
  std::string line = commandLine != nullptr ? commandLine : "";
  std::string program;
  std::vector<std::string> arguments;
  std::string problem;
  // A batch file that cmd.exe is to run: the batch file and its parameters as cmd.exe reads them.
  TextString batch, parameters;
  bool batchFile = ReadBatchCommandLine(line.c_str(), IsSystemLeadByte, &batch, &parameters);
  if (batchFile) {
    program = batch.GetConstText();
    SplitWords(parameters.GetConstText(), &arguments);
    line = program + parameters.GetConstText() + " (a batch file, which cmd.exe runs)";
    if (!IsNonFolder(program.c_str())) problem = "no program of this name can be found";
  } else if (!FindProgram(line, *this, &program, &arguments)) {
    problem = "no program of this name can be found";
  } else {
    const Entry* entry = Find(program);
    problem = ProgramProblem(entry != nullptr ? entry->content : program);
  }
  if (problem.empty() && currentDirectory != nullptr && *currentDirectory != '\0' &&
      !IsFolder(currentDirectory)) {
    problem = "its folder does not exist";
  }
  if (!problem.empty()) {
    Event("launch", "start " + line + " fails: " + problem, false);
    return false;
  }
  std::string started = program + Joined(arguments);
  launched_.push_back(started);
  Event("launch",
        "start " + started + (batchFile ? " (a batch file, which cmd.exe runs)" : "") +
            "; what it does cannot be known",
        true);
  std::string folder, name;
  SplitPath(program, &folder, &name);
  MarkUncertain(folder);
  for (const std::string& argument : arguments) {
    if (argument.empty() || HasWildcard(argument)) continue;
    if (IsFolder(argument)) {
      MarkUncertain(argument);
    } else if (IsNonFolder(argument.c_str())) {
      SplitPath(argument, &folder, &name);
      MarkUncertain(folder);
    }
  }
  lastProcess_ += 1;
  if (process != nullptr) *process = lastProcess_;
  return true;
}

void SimulatedSystem::Rename(const std::string& from, const std::string& to) {
  const Entry* source = Find(from);
  Entry moved;
  moved.present = true;
  moved.content = source != nullptr ? source->content : FullPath(from);
  const Entry* target = Find(to);
  moved.shown = target != nullptr ? target->shown : to;
  moved.existedBefore = target != nullptr ? target->existedBefore : IsNonFolder(to.c_str());
  Entry gone;
  gone.shown = source != nullptr ? source->shown : from;
  gone.existedBefore = source != nullptr ? source->existedBefore : true;
  overlay_[PathKey(to)] = moved;
  overlay_[PathKey(from)] = gone;
}

bool SimulatedSystem::DeleteFileKeepingA(const char* path, const char* keptStem, TextString* kept) {
  std::string name = std::string(keptStem != nullptr ? keptStem : "") + kKeptSuffix;
  if (path == nullptr || keptStem == nullptr || IsNonFolder(name.c_str())) {
    return DeleteFileA(nullptr);
  }
  const Entry* entry = Find(path);
  std::string content = entry != nullptr ? entry->content : FullPath(path);
  if (!DeleteFileA(path) || !kept->SetText(name.c_str())) return false;
  Entry keeping;
  keeping.present = true;
  keeping.content = content;
  keeping.shown = name;
  overlay_[PathKey(name)] = keeping;
  Event("delete", std::string("keep ") + path + " as " + name, true, IsUncertain(path));
  return true;
}

CopyOutcome SimulatedSystem::CopyFileKeepingA(const char* from, const char* to,
                                              const char* keptStem, uint32_t flags,
                                              TextString* kept) {
  kept->SetText("");
  std::string target = to != nullptr ? to : "";
  const Entry* entry = target.empty() ? nullptr : Find(target);
  bool replacing = !target.empty() && IsNonFolder(to);
  std::string content = entry != nullptr ? entry->content : FullPath(target);
  std::string stem = keptStem != nullptr ? keptStem : "";
  if (!CopyFileA(from, to, false)) return CopyOutcome::kFailed;
  if (stem.empty() || SameFile(from != nullptr ? from : "", target)) return CopyOutcome::kCopied;
  if (!replacing && (flags & kCopyMarkNew) != 0) {
    Entry mark = *Find(target);  // the new file's second name
    mark.shown = stem + kMarkSuffix;
    mark.existedBefore = false;
    overlay_[PathKey(mark.shown)] = mark;
    kept->SetText(mark.shown.c_str());
  } else if (replacing && (flags & kCopyKeepReplaced) != 0) {
    Entry keeping;
    keeping.present = true;
    keeping.content = content;
    keeping.shown = stem + kKeptSuffix;
    overlay_[PathKey(keeping.shown)] = keeping;
    kept->SetText(keeping.shown.c_str());
    Event("copy", "keep the old " + target + " as " + keeping.shown, true, IsUncertain(target));
  }
  return CopyOutcome::kCopied;
}

bool SimulatedSystem::MoveFileExA(const char* from, const char* to, uint32_t flags) {
  if (from == nullptr || to == nullptr || (flags & kMoveFileDelayUntilReboot) != 0 ||
      !IsNonFolder(from) || ((flags & kMoveFileReplaceExisting) == 0 && IsNonFolder(to))) {
    return false;
  }
  Rename(from, to);
  if (IsBookkeeping(from)) {
    undone_.push_back(std::string("put back ") + to);
  } else {
    Event("move", std::string("move ") + from + " -> " + to, true, IsUncertain(from));
  }
  return true;
}

bool SimulatedSystem::SetFileAttributesA(const char* path, uint32_t /*attributes*/) {
  return path != nullptr && IsNonFolder(path);
}

bool SimulatedSystem::GetJournalFolder(TextString* folder, bool /*create*/) {
  return folder->SetText(kJournalStandIn);
}

FileHandle SimulatedSystem::CreateFileA(const char* path, FileAccess access) {
  if (path != nullptr && IsJournal(path)) {
    Written journal;  // in memory only, and no change of the file system
    journal.shown = path;
    journal.identity = FileIdentity{~uint64_t{0}, nextWritten_};
    FileHandle handle = nextWritten_++;
    written_[handle] = journal;
    return handle;
  }
  if (access == FileAccess::kRead || path == nullptr || *path == '\0') {
    return ForwardingSystem::CreateFileA(path, access);
  }
  // The file as the run has it so far: one that the run copied or deleted, or the real one.
  const Entry* entry = Find(path);
  Written file;
  file.shown = path;
  file.existed = entry != nullptr ? entry->present : IsNonFolder(path);
  std::string real = entry != nullptr ? entry->content : FullPath(path);
  file.key = PathKey(entry != nullptr ? file.shown : real);
  // The program beside the script, by the name the program's own gives it, is no file to write.
  TextString program(script_.c_str());
  program.ReplaceTokens(-1, -1, ".", kPathSeparator == '/' ? "run" : "exe");
  if (file.key == PathKey(program.GetConstText())) return kNoFile;
  bool model = file.existed && !real.empty();
  if (!WriteProblem(model ? real : file.shown, file.existed).empty()) return kNoFile;
  file.identity = FileIdentity{~uint64_t{0}, nextWritten_};
  if (model) {
    FileHandle opened = ForwardingSystem::CreateFileA(real.c_str(), FileAccess::kRead);
    if (opened != kNoFile) {
      if (entry == nullptr) ForwardingSystem::GetFileInformationByHandle(opened, &file.identity);
      ForwardingSystem::GetFileSizeEx(opened, &file.realSize);
      ForwardingSystem::CloseHandle(opened);
    }
    file.real = real;
  } else if (!file.existed) {
    Entry created;  // the platform makes the file as it opens it
    created.present = true;
    created.shown = entry != nullptr ? entry->shown : file.shown;
    created.existedBefore = entry != nullptr && entry->existedBefore;
    overlay_[file.key] = created;
  }
  FileHandle handle = nextWritten_++;
  written_[handle] = file;
  return handle;
}

void SimulatedSystem::Changed(Written* file) {
  file->changed = true;
  if (file->existed && overlay_.count(file->key) == 0) replaced_[file->key] = file->shown;
}

SimulatedSystem::Written* SimulatedSystem::FindWritten(FileHandle file) {
  auto found = written_.find(file);
  return found == written_.end() ? nullptr : &found->second;
}

bool SimulatedSystem::ReadFile(FileHandle file, uint64_t offset, char* buffer, uint32_t size,
                               uint32_t* done) {
  Written* written = FindWritten(file);
  if (written == nullptr) return ForwardingSystem::ReadFile(file, offset, buffer, size, done);
  *done = 0;
  if (offset < written->realSize) {
    uint32_t wanted = static_cast<uint32_t>(std::min<uint64_t>(size, written->realSize - offset));
    FileHandle real = ForwardingSystem::CreateFileA(written->real.c_str(), FileAccess::kRead);
    bool read = real != kNoFile && ForwardingSystem::ReadFile(real, offset, buffer, wanted, done);
    if (real != kNoFile) ForwardingSystem::CloseHandle(real);
    if (!read) return false;
  }
  uint64_t at = offset + *done - written->realSize;
  if (offset + *done >= written->realSize && at < written->added.size()) {
    uint32_t more =
        static_cast<uint32_t>(std::min<uint64_t>(size - *done, written->added.size() - at));
    std::memcpy(buffer + *done, written->added.data() + at, more);
    *done += more;
  }
  return true;
}

bool SimulatedSystem::WriteFile(FileHandle file, uint64_t offset, const char* bytes,
                                uint32_t length, uint32_t* done) {
  Written* written = FindWritten(file);
  if (written == nullptr) return ForwardingSystem::WriteFile(file, offset, bytes, length, done);
  uint64_t end = written->realSize + written->added.size();
  if (offset == kFileEnd) offset = end;
  if (offset < written->realSize) {
    // Bytes of the real file are overwritten: only the size is kept from here on.
    written->added.insert(0, written->realSize - offset, '\0');
    written->realSize = offset;
  }
  uint64_t at = offset - written->realSize;
  if (written->added.size() < at + length) written->added.resize(at + length);
  written->added.replace(at, length, bytes, length);
  Changed(written);
  *done = length;
  return true;
}

bool SimulatedSystem::FlushFileBuffers(FileHandle file) {
  return FindWritten(file) != nullptr || ForwardingSystem::FlushFileBuffers(file);
}

bool SimulatedSystem::LockFileEx(FileHandle file, uint32_t flags, uint64_t offset,
                                 uint64_t length) {
  return FindWritten(file) != nullptr || ForwardingSystem::LockFileEx(file, flags, offset, length);
}

bool SimulatedSystem::UnlockFileEx(FileHandle file, uint64_t offset, uint64_t length) {
  return FindWritten(file) != nullptr || ForwardingSystem::UnlockFileEx(file, offset, length);
}

bool SimulatedSystem::GetFileSizeEx(FileHandle file, uint64_t* size) {
  Written* written = FindWritten(file);
  if (written == nullptr) return ForwardingSystem::GetFileSizeEx(file, size);
  *size = written->realSize + written->added.size();
  return true;
}

bool SimulatedSystem::GetFileInformationByHandle(FileHandle file, FileIdentity* identity) {
  Written* written = FindWritten(file);
  if (written == nullptr) return ForwardingSystem::GetFileInformationByHandle(file, identity);
  *identity = written->identity;
  return true;
}

bool SimulatedSystem::SetEndOfFile(FileHandle file, uint64_t size) {
  Written* written = FindWritten(file);
  if (written == nullptr) return ForwardingSystem::SetEndOfFile(file, size);
  if (size < written->realSize) {
    written->realSize = size;
    written->added.clear();
  } else {
    written->added.resize(size - written->realSize);
  }
  Changed(written);
  return true;
}

void SimulatedSystem::CloseHandle(FileHandle file) {
  if (written_.erase(file) == 0) ForwardingSystem::CloseHandle(file);
}

bool SimulatedSystem::WaitForProcess(ProcessHandle process) {
  if (process == kNoProcess) return false;
  Event("wait", "wait until it ends", true);
  return true;
}

void SimulatedSystem::CloseProcess(ProcessHandle /*process*/) {}

void SimulatedSystem::ReportChanges(WhatIfReport* report) const {
  for (const auto& entry : overlay_) {
    const Entry& file = entry.second;
    // A file that a stopped rollback run put back is the file it was.
    if (file.present && file.existedBefore && PathKey(file.content) == entry.first) continue;
    if (file.present) {
      (file.existedBefore ? report->replaced : report->created).push_back(file.shown);
    } else if (file.existedBefore) {
      report->deleted.push_back(file.shown);
    }
  }
  for (const auto& entry : replaced_) {
    if (overlay_.count(entry.first) != 0) continue;  // copied over or deleted: reported above
    report->replaced.push_back(entry.second);
  }
  report->launched = launched_;
  report->undone = undone_;
}

}  // namespace checker
}  // namespace kestario
