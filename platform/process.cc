#include "platform/process.h"

#include <cstring>

#include "platform/batch_command_line.h"
#include "platform/system.h"
#include "text/byte_buffer.h"

namespace kestario {

namespace {

// The longest path the system can open; a longer text is never probed, as it names nothing.
#ifdef _WIN32
constexpr size_t kLongestPath = 32767;
#else
constexpr size_t kLongestPath = 4096;
#endif

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// A separator inside a path; Windows takes "/" as well as "\".
bool IsSeparator(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/';
#else
  return c == '/';
#endif
}

// The first `length` bytes of an item, with room to probe any of its prefixes: each probe ends
// the text for a moment at the prefix's end (and, on Windows, appends ".exe") and then puts the
// bytes back, so that probing the prefixes of a long item copies it once.
class PrefixProbe {
 public:
  PrefixProbe(System& system, const char* item, size_t length) : system_(system) {
    length_ = length < kLongestPath ? length : kLongestPath;
    text_ = static_cast<char*>(AllocateBlock(length_ + 5));
    if (text_) {
      memcpy(text_, item, length_);
      memset(text_ + length_, 0, 5);
    }
  }
  ~PrefixProbe() { ReleaseBlock(text_); }
  PrefixProbe(const PrefixProbe&) = delete;
  PrefixProbe& operator=(const PrefixProbe&) = delete;

  bool Ready() const { return text_ != nullptr; }

  // The attributes of the item's first `end` bytes; nothing for a text too long to be a path.
  uint32_t Attributes(size_t end, const char* suffix = "") {
    if (end > length_ || end == 0) return kInvalidFileAttributes;
    char saved[5];
    memcpy(saved, text_ + end, 5);
    size_t extra = strlen(suffix);
    memcpy(text_ + end, suffix, extra);
    text_[end + extra] = '\0';
    uint32_t attributes = system_.GetFileAttributesA(text_);
    memcpy(text_ + end, saved, 5);
    return attributes;
  }

  bool IsFolder(size_t end) {
    uint32_t attributes = Attributes(end);
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) != 0;
  }

  // Whether the first `end` bytes name a file that is not a folder. On Windows a name without an
  // extension also names "NAME.exe", as CreateProcess reads it.
  bool IsProgramFile(size_t end) {
    uint32_t attributes = Attributes(end);
    if (attributes != kInvalidFileAttributes) return (attributes & kFileAttributeDirectory) == 0;
#ifdef _WIN32
    for (size_t i = end; i > 0 && !IsSeparator(text_[i - 1]); --i) {
      if (text_[i - 1] == '.') return false;
    }
    attributes = Attributes(end, ".exe");
    return attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory) == 0;
#else
    return false;
#endif
  }

 private:
  System& system_;
  char* text_;
  size_t length_;
};

// Whether `word` (up to a blank or the end) reads as the rest of a path rather than a parameter:
// it holds a separator and is neither an absolute path nor an option.
bool ContinuesAPath(const char* word) {
  if (*word == '"') ++word;
  const char* end = word;
  bool separator = false;
  while (*end && !IsBlank(*end)) separator = IsSeparator(*end++) || separator;
  if (!separator || *word == '-') return false;
#ifdef _WIN32
  if (*word == '\\' || *word == '/') return false;
  bool drive = ((*word >= 'A' && *word <= 'Z') || (*word >= 'a' && *word <= 'z')) && word[1] == ':';
  return !drive;
#else
  return *word != '/';
#endif
}

}  // namespace

bool GetDirectoryPart(const char* path, TextString* directory) {
  if (!path || !directory) return false;
  const char* separator = strrchr(path, kPathSeparator);
  if (!separator || separator == path) return false;
  size_t length = static_cast<size_t>(separator - path);
  if (length >= UINT32_MAX || !directory->Allocate(static_cast<uint32_t>(length + 1))) {
    return false;
  }
  char* text = directory->GetText();
  if (!text) return false;
  memcpy(text, path, length);
  text[length] = '\0';
  return true;
}

bool FindProgramInItem(const char* item, size_t* programLength) {
  if (!item || !programLength) return false;
  size_t length = strlen(item);
  *programLength = length;
  PrefixProbe probe(CurrentSystem(), item, length);
  if (!probe.Ready()) return false;
  if (probe.IsProgramFile(length)) return true;

  // The longest run of words before a blank that names a file.
  size_t chosen = 0;
  for (size_t end = length < kLongestPath ? length : kLongestPath; end > 0; --end) {
    if (IsBlank(item[end]) && !IsBlank(item[end - 1]) && probe.IsProgramFile(end)) {
      chosen = end;
      break;
    }
  }
  if (chosen == 0) return true;  // the whole item, which names nothing: it will fail to start

  // The words after it are its parameters, unless the item goes on as a path: through a folder
  // that exists, or as the rest of a path such as "Files\Tool\tool.exe".
  if (probe.IsFolder(length)) return false;
  for (size_t end = chosen + 1; end < length && end <= kLongestPath; ++end) {
    if (IsSeparator(item[end]) && probe.IsFolder(end)) return false;
  }
  const char* rest = item + chosen;
  while (IsBlank(*rest)) ++rest;
  if (ContinuesAPath(rest)) return false;
  *programLength = chosen;
  return true;
}

namespace {

// The command line of a program that the system starts itself: the program (in double quotes
// when `quote`), the rest of the FILE item, one space and the parameters.
bool PlainCommandLine(const char* program, bool quote, const char* rest, const char* parameters,
                      TextString* commandLine) {
  size_t programLength = strlen(program);
  size_t restLength = strlen(rest);
  size_t parametersLength = strlen(parameters);
  size_t total = programLength + (quote ? 2 : 0) + restLength + 1 + parametersLength;
  if (total >= UINT32_MAX || !commandLine->Allocate(static_cast<uint32_t>(total + 1))) {
    return false;
  }
  char* at = commandLine->GetText();
  if (quote) *at++ = '"';
  memcpy(at, program, programLength);
  at += programLength;
  if (quote) *at++ = '"';
  memcpy(at, rest, restLength);
  at += restLength;
  *at++ = ' ';
  memcpy(at, parameters, parametersLength);
  at[parametersLength] = '\0';
  return true;
}

#ifdef _WIN32
// The command line that starts the batch file `batch` through cmd.exe of the system folder, with
// `rest` (the rest of the FILE item) and `parameters` after it.
bool BatchCommandLine(const char* batch, const char* rest, const char* parameters,
                      TextString* commandLine) {
  TextString cmd;
  if (!CurrentSystem().GetSystemDirectoryA(&cmd) || cmd.GetLength() == 0) return false;
  TextString after;
  if (!cmd.AppendText("\\cmd.exe") || !after.SetText(rest) || !after.AppendText(" ") ||
      !after.AppendText(parameters)) {
    return false;
  }
  return BuildBatchCommandLine(cmd.GetConstText(), batch, after.GetConstText(), IsSystemLeadByte,
                               commandLine);
}
#endif

}  // namespace

bool LaunchProgram(const char* program, const char* parameters, int32_t wait,
                   LaunchOutcome* outcome, ContentPin* pin) {
  if (!program) return false;
  if (!parameters) parameters = "";
  size_t programLength = 0;
  if (!FindProgramInItem(program, &programLength)) return false;

  TextString name;
  if (programLength >= UINT32_MAX || !name.Allocate(static_cast<uint32_t>(programLength + 1))) {
    return false;
  }
  memcpy(name.GetText(), program, programLength);
  name.GetText()[programLength] = '\0';
#ifdef _WIN32
  // The program goes to the system as its full path (a relative one made full from the current
  // folder, where FindProgramInItem looked for it, so that CreateProcess never searches for it,
  // beside the running program first), always in double quotes, so that it is read whole.
  TextString full;
  if (!CurrentSystem().GetFullPathNameA(name.GetConstText(), &full)) return false;
  name.Assign(full);
  const char* text = name.GetConstText();
  bool quote = true;
#else
  // In double quotes when it has a blank, so that it is read whole.
  const char* text = name.GetConstText();
  bool quote = strpbrk(text, " \t") != nullptr;
#endif
  if (text[0] == '"' || (quote && strchr(text, '"'))) return false;  // no way to quote it

  TextString directory;
  if (!GetDirectoryPart(text, &directory) || directory.GetLength() == 0) return false;

  const char* rest = program + programLength;
  TextString commandLine;
  bool built = false;
#ifdef _WIN32
  // Windows runs a batch file through cmd.exe, which reads the command line once more.
  if (IsBatchFileName(text, strlen(text))) {
    if (!BatchCommandLine(text, rest, parameters, &commandLine)) return false;
    built = true;
  }
#endif
  if (!built && !PlainCommandLine(text, quote, rest, parameters, &commandLine)) return false;
  if (outcome) outcome->commandLine.Assign(commandLine);
  char* buffer = commandLine.GetText();

  System& system = CurrentSystem();
  ProcessHandle handle = kNoProcess;
  bool created = pin != nullptr ? system.CreateProcessPinnedA(buffer, directory.GetConstText(),
                                                              text, pin, &handle)
                                : system.CreateProcessA(buffer, directory.GetConstText(), &handle);
  if (!created) {
    if (handle != kNoProcess) system.CloseProcess(handle);
    return false;
  }
  if (outcome) outcome->started = true;
  bool result = true;
  if (wait != 0 && !system.WaitForProcess(handle)) result = false;
  if (wait != 0 && result && outcome) {
    outcome->waited = true;
    outcome->exitCodeKnown = system.GetExitCodeProcess(handle, &outcome->exitCode);
  }
  system.CloseProcess(handle);
  return result;
}

}  // namespace kestario
