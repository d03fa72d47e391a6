#include "tools/checker/simulated_system.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <linux/magic.h>
#include <sys/stat.h>
#include <sys/vfs.h>
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
// The file system as the copy and the deletion meet it, where the platforms differ.

#ifdef _WIN32

// Whether a copy's destination exists; `problem` is set when it cannot even be looked at.
bool TargetExists(const std::string& path, std::string* /*problem*/) {
  return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool SameFile(const std::string& left, const std::string& right) {
  return PathKey(left) == PathKey(right);
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

// Windows takes a command line of at most this many characters, its terminating NUL included.
constexpr size_t kLongestCommandLine = 32767;

#else

bool TargetExists(const std::string& path, std::string* problem) {
  struct stat info;
  if (stat(path.c_str(), &info) == 0) return true;
  if (errno != ENOENT) *problem = "the destination cannot be reached";
  return false;
}

bool SameFile(const std::string& left, const std::string& right) {
  struct stat a, b;
  return stat(left.c_str(), &a) == 0 && stat(right.c_str(), &b) == 0 && a.st_dev == b.st_dev &&
         a.st_ino == b.st_ino;
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

// The file that a destination names: a symbolic link is written through to its target. False
// for a link that names nothing.
bool ResolveLink(const std::string& path, std::string* resolved) {
  struct stat info;
  *resolved = path;
  if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return true;
  char* target = realpath(path.c_str(), nullptr);
  if (target == nullptr) return false;
  *resolved = target;
  std::free(target);
  return true;
}

// Whether `path` lies on a file system whose files' sizes are not their lengths (/proc, /sys):
// the copy reads more or fewer bytes than the size it was told, and fails, unless the two happen
// to agree.
bool SizeIsNotLength(const std::string& path) {
  struct statfs volume;
  if (statfs(path.c_str(), &volume) != 0) return false;
  switch (volume.f_type) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
      return true;
    default:
      return false;
  }
}

// The longest parameter execve passes (MAX_ARG_STRLEN, 32 pages), and the size of parameters up
// to which it certainly takes them: the least room any stack limit gives them, less room for the
// environment.
size_t LongestParameter() { return 32 * static_cast<size_t>(sysconf(_SC_PAGESIZE)); }
constexpr size_t kSurelyPassed = 64 * 1024;

#endif

// The handles of files that the simulation opens for writing lie above every real one.
constexpr FileHandle kSimulatedFiles = ~(~FileHandle{0} >> 1);

// Why the platform would not open `path` for writing; empty when it would.
std::string WriteProblem(const std::string& path, bool exists) {
  std::string folder, name;
  SplitPath(path, &folder, &name);
  if (name.empty() || HasWildcard(path) || !IsFolder(folder)) return "no such folder";
#ifdef _WIN32
  DWORD attributes = ::GetFileAttributesA(path.c_str());
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
  if (access(exists ? path.c_str() : folder.c_str(), exists ? W_OK : W_OK | X_OK) != 0) {
    return "not writable";
  }
#endif
  return std::string();
}

std::string DateText(const LocalDate& date) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u/%02u/%02u", date.year, date.month, date.day);
  return text;
}

#ifdef _WIN32
// The file that CreateProcessA starts for `name`: the name itself, or, when nothing has that
// name and its last part has no extension, the name with ".exe". A folder is never started.
bool ResolveProgram(const SimulatedSystem& system, const std::string& name, std::string* program) {
  if (system.IsNonFolder(name.c_str())) {
    *program = name;
    return true;
  }
  std::string folder, last;
  SplitPath(name, &folder, &last);
  if (IsFolder(name) || last.find('.') != std::string::npos) return false;
  if (!system.IsNonFolder((name + ".exe").c_str())) return false;
  *program = name + ".exe";
  return true;
}
#endif

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
// to its closing quote; otherwise, on Windows, the shortest run of words (split at blanks) that
// names a program, and on Linux the first word, is the program.
bool FindProgram(const std::string& line, const SimulatedSystem& system, std::string* program,
                 std::vector<std::string>* arguments) {
#ifdef _WIN32
  size_t start = line.find_first_not_of(" \t");
  if (start == std::string::npos) return false;
  size_t end;
  if (line[start] == '"') {
    size_t close = line.find('"', start + 1);
    std::string name =
        line.substr(start + 1, close == std::string::npos ? close : close - start - 1);
    end = close == std::string::npos ? line.size() : close + 1;
    if (!ResolveProgram(system, name, program)) return false;
  } else {
    end = start;
    for (;;) {
      end = line.find_first_of(" \t", end + 1);
      if (end == std::string::npos) end = line.size();
      if (ResolveProgram(system, line.substr(start, end - start), program)) break;
      if (end == line.size()) return false;
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
  DWORD attributes = ::GetFileAttributesA(path);
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

void SimulatedSystem::Unsure(const std::string& why) {
  WhatIfEvent event;
  event.kind = "uncertain";
  event.text = "uncertain: " + why + "; this step and every step after it may go otherwise";
  event.uncertain = true;
  recorder_->AddEvent(event);
  recorder_->UncertainFromHere(why);
}

// ---------------------------------------------------------------------------------------------
// What the platform would check, asked of the system underneath without changing anything.

std::string SimulatedSystem::DeleteProblem(const std::string& path) {
#ifdef _WIN32
  if (HasWildcard(path)) return "a wildcard names no file to delete";
  uint32_t attributes = RealAttributes(path);
  if (attributes == kInvalidFileAttributes) return "it does not exist";
  if (attributes & kFileAttributeDirectory) return "it is a folder";
  if (attributes & kFileAttributeReadOnly) return "it is read-only";
  if (!Granted(path, kDeleteAccess)) return "this user may not delete it";
#else
  struct stat info;
  if (lstat(path.c_str(), &info) != 0) return "it does not exist";
  if (S_ISDIR(info.st_mode)) return "it is a folder";
  if (!Granted(path, kDeleteAccess)) {
    std::string folder, name;
    SplitPath(path, &folder, &name);
    if (!Granted(folder, kFileDeleteChild)) {
      return "its folder does not let this user remove files (its permissions, an immutable or "
             "append-only folder, or a read-only file system)";
    }
    return "this user may not delete it (the sticky bit of its folder, an immutable or "
           "append-only file, or a mount point)";
  }
#endif
  return std::string();
}

std::string SimulatedSystem::SourceProblem(const std::string& path) {
  uint32_t attributes = RealAttributes(path);
  if (HasWildcard(path) || attributes == kInvalidFileAttributes) {
    return "the source does not exist";
  }
  if (attributes & kFileAttributeDirectory) return "the source is a folder";
#ifdef _WIN32
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "the source cannot be read";
  ::CloseHandle(file);
#else
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return "the source is not a regular file";
  }
  if (!Granted(path, kFileReadData)) return "the source cannot be read";
#endif
  return std::string();
}

std::string SimulatedSystem::DestinationProblem(const std::string& target,
                                                const std::string& source, bool failIfExists,
                                                Destination* destination) {
  destination->path = target;
#ifndef _WIN32
  if (!ResolveLink(target, &destination->path)) {
    return "the destination is a symbolic link to nothing";
  }
#endif
  std::string problem;
  destination->entry = Find(destination->path);
  if (destination->entry != nullptr) {
    destination->exists = destination->entry->present;
  } else {
    destination->exists = TargetExists(destination->path, &problem);
    if (!problem.empty()) return problem;
    if (destination->exists && Find(source) == nullptr && SameFile(source, destination->path)) {
      destination->same = true;  // as the program does: nothing to copy, the file stays
      return failIfExists ? "the destination exists" : std::string();
    }
  }
  if (destination->exists) {
    if (failIfExists) return "the destination exists";
    problem = ReplaceProblem(*destination);
    if (!problem.empty()) return problem;
  }
  return PlaceProblem(destination);
}

// Why the existing destination cannot be replaced: a folder, a read-only file, one that this
// user may not write. A hidden file is replaced like any other.
std::string SimulatedSystem::ReplaceProblem(const Destination& destination) {
  const Entry* entry = destination.entry;
  uint32_t attributes = RealAttributes(entry != nullptr ? entry->attributesOf : destination.path);
  if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory)) {
    return "the destination is a folder";
  }
  if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeReadOnly)) {
    return entry != nullptr ? "the destination is read-only (the copy made earlier in the run is)"
                            : "the destination is read-only";
  }
  std::string rights = entry != nullptr ? entry->accessOf : destination.path;
  if (!rights.empty() && !Granted(rights, kFileWriteData)) {
    return "this user may not write the destination";
  }
  return std::string();
}

// Why the copy cannot be put in place in the destination's folder: through a new file beside it,
// or, in a folder that refuses new files, by writing the existing destination in place.
std::string SimulatedSystem::PlaceProblem(Destination* destination) {
  const std::string& path = destination->path;
  std::string folder, name;
  SplitPath(path, &folder, &name);
  if (name.empty() || HasWildcard(path)) return "the destination names no file";
#ifdef _WIN32
  // The program's ANSI calls take paths of up to MAX_PATH - 1 bytes.
  if (path.size() >= MAX_PATH) return "the destination's path is longer than MAX_PATH allows";
  if (!IsFolder(folder)) return "the destination's folder does not exist";
  const Entry* entry = destination->entry;
  if (Granted(folder, kFileWriteData)) {
    if (destination->exists && entry == nullptr && !Granted(path, kDeleteAccess)) {
      return "this user may not replace the destination (it may write but not delete it)";
    }
    return std::string();
  }
  if (!destination->exists) return "the destination's folder does not let this user add files";
  // CopyFileA in place, which refuses a hidden destination.
  uint32_t attributes = RealAttributes(entry != nullptr ? entry->attributesOf : path);
  if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeHidden)) {
    return "the destination's folder does not let this user add files, and a hidden "
           "destination is not written in place";
  }
#else
  if (!IsFolder(folder)) return "the destination's folder does not exist";
  if (!Granted(folder, kFileReadData)) return "the destination's folder cannot be read";
  // The copy is put in place through ".NAME.XXXXXX" beside the destination.
  long longest = pathconf(folder.c_str(), _PC_NAME_MAX);
  if (longest > 0 && name.size() + 8 > static_cast<size_t>(longest)) {
    return "the destination's name leaves no room for the temporary file's name beside it";
  }
  const Entry* entry = destination->entry;
  if (Granted(folder, kFileWriteData | kFileExecute)) {
    if (!Granted(folder, kFileDeleteChild)) {
      return "the destination's folder takes new files but lets none be renamed (append-only)";
    }
    if (destination->exists && entry == nullptr && !Granted(path, kDeleteAccess)) {
      return "this user may not replace the destination (the sticky bit of its folder, an "
             "immutable or append-only file, or a mount point)";
    }
    return std::string();
  }
  if (!destination->exists) return "the destination's folder is not writable";
  // Written in place (it keeps the time of the writing where the user may not set the source's).
  std::string rights = entry != nullptr ? entry->accessOf : path;
  if (!rights.empty() && !Granted(rights, kFileWriteData)) {
    return "the destination's folder is not writable, and the destination cannot be written in "
           "place";
  }
#endif
  destination->inPlace = true;
  return std::string();
}

std::string SimulatedSystem::ProgramProblem(const std::string& program, const std::string& line,
                                            const std::vector<std::string>& words,
                                            std::string* unsure) {
#ifdef _WIN32
  (void)words;
  std::string folder, name;
  SplitPath(program, &folder, &name);
  size_t dot = name.rfind('.');
  std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  for (char& c : extension) c = FoldCase(c);
  if (extension == ".bat" || extension == ".cmd") return std::string();
  uint32_t type = 0;
  if (!base()->GetBinaryTypeA(program.c_str(), &type) ||
      (type != kScs32BitBinary && type != kScs64BitBinary)) {
    return "the file is not a program this Windows starts";
  }
  if (line.size() + 1 > kLongestCommandLine) {
    *unsure = "the command line has " + std::to_string(line.size()) +
              " characters: Windows refuses more than 32,767, Wine passes them on";
  }
#else
  (void)line;
  uint32_t attributes = RealAttributes(program);
  if (attributes == kInvalidFileAttributes) return "the program cannot be found";
  if (attributes & kFileAttributeDirectory) return "the program is a folder";
  if (!Granted(program, kFileExecute)) {
    return "this user may not execute it (its mode, or a file system mounted noexec)";
  }
  size_t total = 0;
  for (const std::string& word : words) {
    if (word.size() + 1 > LongestParameter()) {
      return "a parameter of " + std::to_string(word.size()) + " bytes is longer than the " +
             std::to_string(LongestParameter()) + " the system passes";
    }
    total += word.size() + 1 + sizeof(char*);
  }
  uint32_t type = 0;
  if (!Granted(program, kFileReadData)) {
    *unsure = "this user may execute " + program +
              " but not read it, so whether the system takes it as a program cannot be told";
  } else if (!base()->GetBinaryTypeA(program.c_str(), &type)) {
    return "the file is not a program this machine starts (an ELF of this machine whose loader "
           "exists, or a script whose interpreter is one)";
  } else if (total > kSurelyPassed) {
    *unsure = "the command line has " + std::to_string(total) +
              " bytes of parameters: whether the system passes them depends on the updater's "
              "stack limit and environment";
  }
#endif
  return std::string();
}

// ---------------------------------------------------------------------------------------------

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
  if (recorder_->BoxesUnseen()) {
    // The box cannot be shown: 0, which the program treats as a box nobody saw.
    recorder_->BoxNotShown(AnsiText(*base(), caption), kind, AnsiText(*base(), text), yesNo,
                           message);
    return 0;
  }
  Answer answer =
      recorder_->ShowBox(AnsiText(*base(), caption), kind, AnsiText(*base(), text), yesNo, message);
  if (answer == Answer::kNo) return kIdNo;
  return yesNo ? kIdYes : kIdOk;
}

bool SimulatedSystem::WriteEventLogEntry(const char* /*source*/, uint16_t type, uint32_t id,
                                         const char* const* /*strings*/, uint16_t /*count*/,
                                         const char* /*text*/) {
  recorder_->RecordEvent(type, id);
  return true;
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
  if (!entry->present) return kInvalidFileAttributes;
  uint32_t attributes = ForwardingSystem::GetFileAttributesA(entry->attributesOf.c_str());
  return attributes == kInvalidFileAttributes ? kFileAttributeNormal : attributes;
}

bool SimulatedSystem::AnyFileMatchesA(const char* path) {
  bool found = false;
  std::string text = path != nullptr ? path : "";
  if (text.empty()) {
    found = false;
  } else if (!HasWildcard(text)) {
    const Entry* entry = Find(text);
    found = entry != nullptr ? entry->present : ForwardingSystem::AnyFileMatchesA(path);
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
    if (entry.second.present && WildcardMatch(pattern.c_str(), name.c_str())) {
      // Found only where the folder can be listed, as the search lists it.
      return base()->AccessCheckA(folder.c_str(), kFileReadData);
    }
  }
  if (!touched) return base()->AnyFileMatchesA(path.c_str());
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
    // The copy has its source's date, and can be opened as the file whose rights it has.
    read = entry->present && (entry->accessOf.empty() || Granted(entry->accessOf, kFileReadData)) &&
           ForwardingSystem::GetFileLocalDate(entry->content.c_str(), date);
    if (entry->present && entry->content.empty()) {  // made by this run: dated today
      LocalTime now;
      GetLocalTime(&now);
      *date = LocalDate{now.year, now.month, now.day};
      read = true;
    }
  } else {
    read = ForwardingSystem::GetFileLocalDate(path, date);
    if (read && replaced_.count(PathKey(FullPath(text))) != 0) {
      // A file that the run has written to by now (its own log, whose first line is written as
      // the run starts) bears today's date, whatever its date before the run.
      LocalTime now;
      GetLocalTime(&now);
      *date = LocalDate{now.year, now.month, now.day};
    }
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
    if (!entry->present) {
      problem = "it does not exist (deleted earlier in the run)";
    } else {
      uint32_t attributes = RealAttributes(entry->attributesOf);
      std::string folder, name;
      SplitPath(text, &folder, &name);
#ifdef _WIN32
      if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeReadOnly)) {
        problem = "it is read-only (the copy made earlier in the run is)";
      }
#else
      (void)attributes;
      if (!Granted(folder, kFileDeleteChild))
        problem = "its folder does not let this user remove files";
#endif
    }
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
  std::string attributes;  // the real file whose attributes the copy takes
  Destination destination;
  if (source.empty() || target.empty()) {
    problem = "a name is empty";
  } else {
    const Entry* sourceEntry = Find(source);
    if (sourceEntry != nullptr) {
      if (!sourceEntry->present) problem = "the source does not exist (deleted earlier in the run)";
      content = sourceEntry->content;
      attributes = sourceEntry->attributesOf;
    } else {
      problem = SourceProblem(source);
      content = FullPath(source);
      attributes = content;
    }
  }
  if (problem.empty()) problem = DestinationProblem(target, source, failIfExists, &destination);
  std::string unsure;
#ifndef _WIN32
  if (problem.empty() && !destination.same && Find(source) == nullptr && SizeIsNotLength(source)) {
    problem =
        "the source lies on a file system whose files' sizes are not their lengths (/proc, "
        "/sys): the copy reads another number of bytes than the size it is told";
    unsure = "the copy of " + source + " succeeds only if its length happens to be its size";
  }
#endif
  bool uncertain =
      (!source.empty() && IsUncertain(source)) || (!target.empty() && IsUncertain(target));
  if (!problem.empty()) {
    Event("copy", shown + " fails: " + problem, false, uncertain);
    if (!unsure.empty()) Unsure(unsure);
    return false;
  }
  if (destination.same) {
    Event("copy", shown + ": the same file, left as it is", true, uncertain);
    return true;
  }
  const Entry* old = destination.entry;
  Entry copied;
  copied.present = true;
  copied.content = content;
#ifdef _WIN32
  // The new file carries the source's attributes, and a replaced one keeps its rights.
  copied.attributesOf = attributes;
  copied.accessOf = old != nullptr ? old->accessOf : destination.exists ? destination.path : "";
#else
  // A replaced file keeps its mode, owner and rights; a new one is the run's, with the source's
  // mode.
  if (destination.exists) {
    copied.attributesOf = old != nullptr ? old->attributesOf : destination.path;
    copied.accessOf = old != nullptr ? old->accessOf : destination.path;
  } else {
    copied.attributesOf = attributes;
  }
#endif
  copied.shown = old != nullptr ? old->shown : destination.path;
  copied.existedBefore = old != nullptr ? old->existedBefore : destination.exists;
  overlay_[PathKey(destination.path)] = copied;
  std::string how = destination.exists ? " (replaces it" : " (creates it";
  if (destination.path != target) how += ", " + destination.path + " through the link";
  if (destination.inPlace) how += ", written in place: its folder refuses new files";
  Event("copy", shown + how + ")", true, uncertain);
  return true;
}

bool SimulatedSystem::CreateProcessA(char* commandLine, const char* currentDirectory,
                                     ProcessHandle* process) {
  if (process != nullptr) *process = kNoProcess;
  std::string line = commandLine != nullptr ? commandLine : "";
  std::string program;
  std::vector<std::string> arguments;
  std::string problem;
  std::string unsure;
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
    std::vector<std::string> words = arguments;
    words.insert(words.begin(), program);
    problem = ProgramProblem(entry != nullptr ? entry->content : program, line, words, &unsure);
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
  if (!unsure.empty()) Unsure(unsure);
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

bool SimulatedSystem::MoveFileAsideA(const char* path, const KeptFileNames& names, KeptAs* as) {
  *as = KeptAs::kNone;
  std::string name = names.kept != nullptr ? names.kept : "";
  if (path == nullptr || names.kept == nullptr || IsNonFolder(name.c_str())) {
    return DeleteFileA(nullptr);
  }
  const Entry* entry = Find(path);
  std::string content = entry != nullptr ? entry->content : FullPath(path);
  if (!DeleteFileA(path)) return false;
  *as = KeptAs::kKept;
  Entry keeping;
  keeping.present = true;
  keeping.content = content;
  keeping.shown = name;
  overlay_[PathKey(name)] = keeping;
  Event("delete", std::string("keep ") + path + " as " + name, true, IsUncertain(path));
  return true;
}

CopyOutcome SimulatedSystem::CopyFileOverA(const char* from, const char* to,
                                           const KeptFileNames* names, uint32_t flags, KeptAs* as) {
  *as = KeptAs::kNone;
  std::string target = to != nullptr ? to : "";
  const Entry* entry = target.empty() ? nullptr : Find(target);
  bool replacing = !target.empty() && IsNonFolder(to);
  std::string content = entry != nullptr ? entry->content : FullPath(target);
  if (!CopyFileA(from, to, false)) return CopyOutcome::kFailed;
  if (names == nullptr || SameFile(from != nullptr ? from : "", target))
    return CopyOutcome::kCopied;
  if ((flags & kCopyKeepReplaced) != 0) CountKeptSpace(from, target);
  if (!replacing && (flags & kCopyMarkNew) != 0) {
    Entry mark = *Find(target);  // the new file's second name
    mark.shown = names->mark;
    mark.existedBefore = false;
    overlay_[PathKey(mark.shown)] = mark;
    *as = KeptAs::kMark;
  } else if (replacing && (flags & kCopyKeepReplaced) != 0) {
    Entry keeping;
    keeping.present = true;
    keeping.content = content;
    keeping.shown = names->kept;
    overlay_[PathKey(keeping.shown)] = keeping;
    *as = KeptAs::kKept;
    Event("copy", "keep the old " + target + " as " + keeping.shown, true, IsUncertain(target));
  }
  return CopyOutcome::kCopied;
}

void SimulatedSystem::CountKeptSpace(const char* from, const std::string& target) {
  // The copy's bytes: those of the real file whose content the source has.
  const Entry* source = Find(from);
  std::string real = source != nullptr ? source->content : FullPath(from);
  FileHandle file = base()->CreateFileA(real.c_str(), FileAccess::kRead);
  uint64_t size = 0;
  bool sized = file != kNoFile && base()->GetFileSizeEx(file, &size);
  if (file != kNoFile) base()->CloseHandle(file);
  std::string folder;
  std::string name;
  SplitPath(FullPath(target), &folder, &name);
  uint64_t available = 0;
  uint64_t volume = 0;
  if (!sized || !base()->GetDiskFreeSpaceExA(folder.c_str(), &available, &volume)) return;
  // The free space as the run finds it (the prediction changes nothing), less every copy so far.
  auto found = volumes_.find(volume);
  if (found == volumes_.end()) found = volumes_.emplace(volume, Volume{available, 0, false}).first;
  Volume& room = found->second;
  room.needed += size;
  if (room.needed <= room.available || room.warned) return;
  room.warned = true;
  Unsure("a rollback run keeps what it deletes and replaces until it ends, so its copies need " +
         std::to_string(room.needed) + " bytes on the volume of " + folder + ", which has " +
         std::to_string(room.available) + " free: this copy may fail (message 8)");
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

bool SimulatedSystem::PendingRenamesOntoA(const char* to, const char* pattern, const char* keep,
                                          bool cancel, ByteBuffer* sources) {
  bool found = base()->PendingRenamesOntoA(to, pattern, keep, false, sources);
  const char* names = reinterpret_cast<const char*>(sources->GetConstData());
  for (uint32_t at = 0; cancel && at < sources->GetSize(); at += std::strlen(names + at) + 1) {
    DeleteFileA(names + at);
  }
  return found;
}

bool SimulatedSystem::SetFileAttributesA(const char* path, uint32_t /*attributes*/) {
  return path != nullptr && IsNonFolder(path);
}

bool SimulatedSystem::GetPrivateDataFolderA(const char* /*name*/, TextString* folder,
                                            bool /*create*/) {
  return folder->SetText(kJournalStandIn);
}

bool SimulatedSystem::GetFileStampA(const char* path, FileStamp* stamp) {
  if (path == nullptr || *path == '\0') return false;
  if (IsJournal(path)) {
    for (auto it = written_.rbegin(); it != written_.rend(); ++it) {
      if (it->second.shown != path) continue;
      *stamp = FileStamp();
      stamp->identity = it->second.identity;
      return true;
    }
    return false;
  }
  const Entry* entry = Find(path);
  if (entry == nullptr) return ForwardingSystem::GetFileStampA(path, stamp);
  if (!entry->present || !ForwardingSystem::GetFileStampA(entry->content.c_str(), stamp)) {
    return false;
  }
  stamp->link = false;
  return true;
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
