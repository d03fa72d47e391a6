#include "tools/checker/simulated_system.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/batch_command_line.h"
#include "platform/call_refusals.h"
#include "platform/files.h"
#include "platform/path_questions.h"
#include "tools/checker/paths.h"
#include "tools/checker/script_lines.h"

namespace kestario {
namespace checker {
namespace {

// The handles of files that the simulation opens for writing lie above every real one.
constexpr FileHandle kSimulatedFiles = ~(~FileHandle{0} >> 1);

std::string DateText(const LocalDate& date) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u/%02u/%02u", date.year, date.month, date.day);
  return text;
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
      predictions_(base, &files_),
      nextWritten_(kSimulatedFiles) {
  // The program finds its script by giving its own path the extension "ini".
  TextString derived(script_.c_str());
  derived.ReplaceTokens(-1, -1, ".", "ini");
  derivedScript_ = derived.GetConstText();
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
  const Entry* entry = path != nullptr && *path != '\0' ? files_.Find(path) : nullptr;
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
    const Entry* entry = files_.Find(text);
    found = entry != nullptr ? entry->present : ForwardingSystem::AnyFileMatchesA(path);
  } else {
    found = files_.MatchesWildcard(*base(), text);
  }
  if (recorder_->CurrentMode() == "EXIST") {
    Event("exists", "exists? " + text + ": " + (found ? "yes" : "no"), found, IsUncertain(text));
  }
  return found;
}

bool SimulatedSystem::GetFileLocalDate(const char* path, LocalDate* date) {
  std::string text = path != nullptr ? path : "";
  const Entry* entry = text.empty() ? nullptr : files_.Find(text);
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
    if (read && files_.WasWritten(PathKey(FullPath(text)))) {
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
  const Entry* entry = text.empty() ? nullptr : files_.Find(text);
  if (text.empty()) {
    problem = "the name is empty";
  } else if (entry != nullptr) {
    if (!entry->present) {
      problem = "it does not exist (deleted earlier in the run)";
    } else {
      problem = predictions_.DeleteOfCopyProblem(text, *entry);
    }
  } else {
    problem = predictions_.DeleteProblem(text);
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
  files_.Set(text, deleted);
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
    const Entry* sourceEntry = files_.Find(source);
    if (sourceEntry != nullptr) {
      if (!sourceEntry->present) problem = "the source does not exist (deleted earlier in the run)";
      content = sourceEntry->content;
      attributes = sourceEntry->attributesOf;
    } else {
      problem = predictions_.SourceProblem(source);
      content = FullPath(source);
      attributes = content;
    }
  }
  if (problem.empty())
    problem = predictions_.DestinationProblem(target, source, failIfExists, &destination);
  std::string unsure;
  if (problem.empty() && !destination.same && files_.Find(source) == nullptr &&
      IsSizeNotLengthA(source.c_str())) {
    problem =
        "the source lies on a file system whose files' sizes are not their lengths (/proc, "
        "/sys): the copy reads another number of bytes than the size it is told";
    unsure = "the copy of " + source + " succeeds only if its length happens to be its size";
  }
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
  if (destination.exists && CopyKeepsReplacedAttributes()) {
    // A replaced file keeps its mode, owner and rights.
    copied.attributesOf = old != nullptr ? old->attributesOf : destination.path;
    copied.accessOf = old != nullptr ? old->accessOf : destination.path;
  } else {
    // The copy carries the source's attributes; a replaced file keeps its rights, and a new one
    // is the run's.
    copied.attributesOf = attributes;
    copied.accessOf = old != nullptr ? old->accessOf : destination.exists ? destination.path : "";
  }
  copied.shown = old != nullptr ? old->shown : destination.path;
  copied.existedBefore = old != nullptr ? old->existedBefore : destination.exists;
  files_.Set(destination.path, copied);
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
    ByteBuffer words;
    if (SplitCommandWords(parameters.GetConstText(), &words)) arguments = Words(words);
    line = program + parameters.GetConstText() + " (a batch file, which cmd.exe runs)";
    if (!IsNonFolder(program.c_str())) problem = "no program of this name can be found";
  } else if (!predictions_.FindProgram(line, &program, &arguments)) {
    problem = "no program of this name can be found";
  } else {
    const Entry* entry = files_.Find(program);
    std::vector<std::string> words = arguments;
    words.insert(words.begin(), program);
    problem = predictions_.ProgramProblem(entry != nullptr ? entry->content : program, line, words,
                                          &unsure);
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

bool SimulatedSystem::CreateProcessPinnedA(char* commandLine, const char* currentDirectory,
                                           const char* image, ContentPin* pin,
                                           ProcessHandle* process) {
  if (process != nullptr) *process = kNoProcess;
  std::string program = image != nullptr ? image : "";
  if (!PinMatches(program, pin, "launch", "start " + program)) return false;
  return CreateProcessA(commandLine, currentDirectory, process);
}

bool SimulatedSystem::PinMatches(const std::string& path, ContentPin* pin, const char* kind,
                                 const std::string& step) {
  const Entry* entry = path.empty() ? nullptr : files_.Find(path);
  if (entry != nullptr && !entry->present) return true;
  std::string real = entry != nullptr ? entry->content : FullPath(path);
  Sha256Digest found;
  if (path.empty() || !HashFile(*base(), real.c_str(), &found)) return true;
  if (found == pin->expected) return true;
  pin->found = found;
  pin->differs = true;
  char foundText[kSha256HexLength + 1];
  char expectedText[kSha256HexLength + 1];
  FormatSha256Hex(found, foundText);
  FormatSha256Hex(pin->expected, expectedText);
  Event(kind,
        step + " fails: its SHA-256 is " + foundText + ", not the pinned " + expectedText +
            " (nothing changes)",
        false, IsUncertain(path));
  return false;
}

bool SimulatedSystem::MoveFileAsideA(const char* path, const KeptFileNames& names, KeptAs* as) {
  *as = KeptAs::kNone;
  std::string name = names.kept != nullptr ? names.kept : "";
  if (path == nullptr || names.kept == nullptr || IsNonFolder(name.c_str())) {
    return DeleteFileA(nullptr);
  }
  const Entry* entry = files_.Find(path);
  std::string content = entry != nullptr ? entry->content : FullPath(path);
  if (!DeleteFileA(path)) return false;
  *as = KeptAs::kKept;
  Entry keeping;
  keeping.present = true;
  keeping.content = content;
  keeping.shown = name;
  files_.Set(name, keeping);
  Event("delete", std::string("keep ") + path + " as " + name, true, IsUncertain(path));
  return true;
}

CopyOutcome SimulatedSystem::CopyFileOverA(const char* from, const char* to,
                                           const KeptFileNames* names, uint32_t flags,
                                           ContentPin* pin, KeptAs* as) {
  *as = KeptAs::kNone;
  std::string target = to != nullptr ? to : "";
  std::string source = from != nullptr ? from : "";
  if (pin != nullptr && !PinMatches(source, pin, "copy", "copy " + source + " -> " + target)) {
    return CopyOutcome::kFailed;
  }
  const Entry* entry = target.empty() ? nullptr : files_.Find(target);
  bool replacing = !target.empty() && IsNonFolder(to);
  std::string content = entry != nullptr ? entry->content : FullPath(target);
  if (!CopyFileA(from, to, false)) return CopyOutcome::kFailed;
  if (names == nullptr || SameFile(from != nullptr ? from : "", target))
    return CopyOutcome::kCopied;
  if ((flags & kCopyKeepReplaced) != 0) CountKeptSpace(from, target);
  if (!replacing && (flags & kCopyMarkNew) != 0) {
    Entry mark = *files_.Find(target);  // the new file's second name
    mark.shown = names->mark;
    mark.existedBefore = false;
    files_.Set(mark.shown, mark);
    *as = KeptAs::kMark;
  } else if (replacing && (flags & kCopyKeepReplaced) != 0) {
    Entry keeping;
    keeping.present = true;
    keeping.content = content;
    keeping.shown = names->kept;
    files_.Set(keeping.shown, keeping);
    *as = KeptAs::kKept;
    Event("copy", "keep the old " + target + " as " + keeping.shown, true, IsUncertain(target));
  }
  return CopyOutcome::kCopied;
}

void SimulatedSystem::CountKeptSpace(const char* from, const std::string& target) {
  // The copy's bytes: those of the real file whose content the source has.
  const Entry* source = files_.Find(from);
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
  files_.Rename(from, to);
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
  const Entry* entry = files_.Find(path);
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
  if (path == nullptr || *path == '\0') return ForwardingSystem::CreateFileA(path, access);
  if (access == FileAccess::kRead) {
    // Read as the run has it so far (a pinned COPY hashes its destination): a file the run
    // deleted is gone, one it copied has its source's bytes.
    const Entry* entry = files_.Find(path);
    if (entry != nullptr && !entry->present) return kNoFile;
    return ForwardingSystem::CreateFileA(entry != nullptr ? entry->content.c_str() : path, access);
  }
  // The file as the run has it so far: one that the run copied or deleted, or the real one.
  const Entry* entry = files_.Find(path);
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
    files_.SetKey(file.key, created);
  }
  FileHandle handle = nextWritten_++;
  written_[handle] = file;
  return handle;
}

void SimulatedSystem::Changed(Written* file) {
  file->changed = true;
  if (file->existed && !files_.HasKey(file->key)) files_.MarkWritten(file->key, file->shown);
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
  folders_.erase(file);
  if (written_.erase(file) == 0) ForwardingSystem::CloseHandle(file);
}

FileHandle SimulatedSystem::OpenFolderA(const char* path, FileIdentity* identity) {
  FileHandle folder = ForwardingSystem::OpenFolderA(path, identity);
  if (folder != kNoFile) folders_[folder] = path;
  return folder;
}

std::string SimulatedSystem::InFolder(FileHandle folder, const char* name) const {
  auto found = folders_.find(folder);
  if (found == folders_.end() || name == nullptr || *name == '\0' ||
      std::strchr(name, kPathSeparator) != nullptr || std::strchr(name, '/') != nullptr) {
    return std::string();
  }
  std::string path = found->second;
  if (path.empty() || path.back() != kPathSeparator) path += kPathSeparator;
  return path + name;
}

bool SimulatedSystem::GetFileStampInFolderA(FileHandle folder, const char* name, FileStamp* stamp) {
  return GetFileStampA(InFolder(folder, name).c_str(), stamp);
}

bool SimulatedSystem::MoveFileInFolderA(FileHandle folder, const char* from, const char* to,
                                        uint32_t flags) {
  std::string fromPath = InFolder(folder, from);
  std::string toPath = InFolder(folder, to);
  return !fromPath.empty() && !toPath.empty() &&
         MoveFileExA(fromPath.c_str(), toPath.c_str(), flags);
}

bool SimulatedSystem::DeleteFileInFolderA(FileHandle folder, const char* name) {
  std::string path = InFolder(folder, name);
  return !path.empty() && DeleteFileA(path.c_str());
}

bool SimulatedSystem::ClearFileAttributesInFolderA(FileHandle folder, const char* name,
                                                   uint32_t /*attributes*/) {
  std::string path = InFolder(folder, name);
  return !path.empty() && IsNonFolder(path.c_str());
}

bool SimulatedSystem::WaitForProcess(ProcessHandle process) {
  if (process == kNoProcess) return false;
  Event("wait", "wait until it ends", true);
  return true;
}

void SimulatedSystem::CloseProcess(ProcessHandle /*process*/) {}

bool SimulatedSystem::IsNonFolder(const char* path) const { return files_.IsNonFolder(path); }

void SimulatedSystem::ReportChanges(WhatIfReport* report) const {
  files_.ReportChanges(report);
  report->launched = launched_;
  report->undone = undone_;
}

}  // namespace checker
}  // namespace kestario
