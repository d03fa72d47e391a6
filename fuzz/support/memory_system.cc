#include "support/memory_system.h"

#include <algorithm>
#include <cstring>
#include <functional>

#include "platform/path_questions.h"
#include "text/hash.h"

namespace kestario {
namespace fuzz {
namespace {

constexpr long kErrorInvalidHandle = 6;

// Whether `bytes` match the pin, as the real systems check one.
bool MatchesPin(const std::string& bytes, ContentPin* pin) {
  Sha256 hash;
  Sha256Digest found;
  if (!hash.Begin() || !hash.Update(bytes.data(), bytes.size()) || !hash.Finish(&found)) {
    return false;
  }
  if (found == pin->expected) return true;
  pin->found = found;
  pin->differs = true;
  return false;
}

bool HasWildcard(const std::string& text) { return text.find_first_of("*?") != std::string::npos; }

// "*" matches any run of bytes, "?" one byte; everything else is literal (as on Linux).
bool Matches(const char* pattern, const char* text) { return NameMatchesWildcard(pattern, text); }

void AssignBytes(TextString* target, const char* text, size_t length) {
  if (length >= UINT32_MAX || !target->Allocate(static_cast<uint32_t>(length + 1))) {
    target->SetText("");
    return;
  }
  if (length != 0) std::memcpy(target->GetText(), text, length);
  target->GetText()[length] = '\0';
}

}  // namespace

std::string FuzzPath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  return "/fuzz/" + path;
}

MemorySystem::MemorySystem() { SetSystem(this); }

MemorySystem::~MemorySystem() { SetSystem(nullptr); }

size_t MemorySystem::OpenRegistryKeys() const {
  size_t count = 0;
  for (const Key& key : keys_) count += key.open ? 1 : 0;
  return count;
}

int MemorySystem::AnswerFor(uint8_t code, unsigned style) {
  const bool yesNo = (style & kMbTypeMask) == kMbYesNo;
  if (code == 0) return yesNo ? kIdYes : kIdOk;
  static constexpr int kAnswers[] = {kIdOk, kIdYes, kIdNo, kIdCancel, 0};
  return kAnswers[(code - 1) % 5];
}

void MemorySystem::AfterError(const char* what) {
  if (errorShown_ && oneRun) violations.push_back(std::string(what) + " after an error box");
}

void MemorySystem::AfterErrorUnlessUndo(const char* what, const std::string& first,
                                        const std::string& second) {
  if (touched_.count(first) == 0 || (!second.empty() && touched_.count(second) == 0)) {
    AfterError(what);
  }
}

void MemorySystem::Touch(const std::string& path) {
  if (!errorShown_) touched_.insert(path);
}

void MemorySystem::Rename(const std::string& from, const std::string& to) {
  files[to] = files[from];
  files.erase(from);
  if (readOnly.erase(from) != 0) readOnly.insert(to);
  auto identity = identities_.find(from);
  if (identity != identities_.end()) {
    identities_[to] = identity->second;  // the same file under its new name
    identities_.erase(identity);
  } else {
    identities_.erase(to);
  }
}

const ProfileData* MemorySystem::Profile(const std::string& path) {
  auto file = files.find(path);
  if (file == files.end()) return nullptr;
  Parsed& parsed = parsed_[path];
  if (!parsed.data || parsed.contents != file->second) {
    parsed.contents = file->second;
    parsed.data.reset(new ProfileData());
    if (!parsed.data->Parse(parsed.contents.data(), parsed.contents.size())) {
      violations.push_back("ProfileData::Parse failed on " + path);
    }
  }
  return parsed.data.get();
}

void MemorySystem::GetPrivateProfileStringA(const char* section, const char* key,
                                            const char* defaultValue, TextString* value,
                                            const char* file) {
  if (value == nullptr) return;
  const ProfileData* data = file != nullptr ? Profile(file) : nullptr;
  ProfileSpan found = ResolveProfileString(data, section, key, defaultValue);
  AssignBytes(value, found.text, found.length);
}

// Every read parses the file's contents of that moment (when they changed): nothing to flush.
void MemorySystem::FlushPrivateProfile(const char* /*file*/) {}

void MemorySystem::ReleasePrivateProfileA(const char* /*file*/) {}

// The memory registry lists no values: no machine policy is ever found in it.
long MemorySystem::RegEnumValueA(RegistryHandle /*key*/, uint32_t /*index*/, TextString* /*name*/,
                                 uint32_t* /*type*/, TextString* /*data*/) {
  return kErrorNoMoreItems;
}

bool MemorySystem::RegistryWritableByOthers() { return false; }

bool MemorySystem::HoldPrivateProfileA(const char* file, ByteBuffer* bytes) {
  auto found = file != nullptr ? files.find(file) : files.end();
  if (found == files.end()) {
    bytes->Free();
    return false;
  }
  return bytes->SetBytes(found->second.data(), static_cast<uint32_t>(found->second.size()));
}

void MemorySystem::GetPrivateProfileSectionA(const char* section, ByteBuffer* entries,
                                             const char* file) {
  if (entries == nullptr) return;
  static const char kEmpty[1] = {'\0'};
  const ProfileData* data = file != nullptr ? Profile(file) : nullptr;
  if (data == nullptr) {
    entries->SetBytes(kEmpty, 1);
    return;
  }
  size_t size = data->ListSection(section, nullptr, 0);
  if (size > UINT32_MAX || !entries->Allocate(static_cast<uint32_t>(size))) {
    entries->Free();  // out of memory
    return;
  }
  if (data->ListSection(section, reinterpret_cast<char*>(entries->GetData()), size) != size) {
    violations.push_back("ListSection gave two sizes");
  }
}

int MemorySystem::LoadStringW(uint16_t language, unsigned id, char16_t* buffer, int size) {
  loadingError_ = true;
  loadingMessage_ = id;
  return RealSystem().LoadStringW(language, id, buffer, size);
}

bool MemorySystem::MultiByteToWideChar(unsigned codePage, uint32_t flags, const char* text,
                                       uint32_t size, WideText* wide) {
  return RealSystem().MultiByteToWideChar(codePage, flags, text, size, wide);
}

bool MemorySystem::WideCharToMultiByte(unsigned codePage, const char16_t* text, uint32_t size,
                                       TextString* bytes) {
  return RealSystem().WideCharToMultiByte(codePage, text, size, bytes);
}

int MemorySystem::MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) {
  if (text == nullptr || caption == nullptr) violations.push_back("box without text or caption");
  const bool error = loadingError_;
  loadingError_ = false;
  // A rollback run that undoes its changes after the error box may show one more: message 11.
  const bool undoFailure = error && loadingMessage_ == kUndoFailedMessage && undoFailureBoxes == 0;
  if (undoFailure) {
    ++undoFailureBoxes;
  } else {
    AfterError("a box");
  }
  if (error && !undoFailure) {
    ++errorBoxes;
    errorShown_ = true;
    if ((style & (kMbIconMask | kMbTypeMask)) != (kMbIconError | kMbOk)) {
      violations.push_back("error box with another style");
    }
    TextString bytes;
    if (text != nullptr && WideCharToMultiByte(kCpAcp, text, WideLength(text), &bytes) &&
        bytes.GetLength() > 1023) {
      violations.push_back("error box over 1,023");
    }
  }
  const size_t index = boxes++;
  return AnswerFor(index < answers.size() ? answers[index] : 0, style);
}

bool MemorySystem::WriteEventLogEntry(const char* /*source*/, uint16_t type, uint32_t /*id*/,
                                      const char* const* strings, uint16_t count,
                                      const char* text) {
  if (++events > 1 && oneRun) violations.push_back("a second event in one run");
  if (oneRun && (type == kEventTypeError) != errorShown_) {
    violations.push_back("an event whose type does not say whether an error box was shown");
  }
  for (uint16_t i = 0; i < count; ++i) {
    if (strings == nullptr || strings[i] == nullptr)
      violations.push_back("an event string is null");
  }
  if (text == nullptr) violations.push_back("an event without its text");
  return true;
}

uint32_t MemorySystem::GetModuleFileNameA(char* buffer, uint32_t size) {
  return CopyOutModuleFileName(modulePath.data(), modulePath.size(), buffer, size);
}

uint32_t MemorySystem::GetWindowsDirectoryA(char* buffer, uint32_t size) {
  return CopyOutWindowsDirectory(windowsDirectory.data(), windowsDirectory.size(), buffer, size);
}

long MemorySystem::RegOpenKeyExA(RegistryHandle root, const char* subKey, uint32_t /*access*/,
                                 RegistryHandle* result) {
  if (result == nullptr) return kErrorInvalidHandle;
  *result = kNoRegistryHandle;
  if (root != kLocalMachine || subKey == nullptr) return kErrorFileNotFound;
  if (!registryParsed_) {
    registryParsed_ = true;
    if (!registry_.Parse(registryText.data(), registryText.size())) {
      violations.push_back("ProfileData::Parse failed on the registry");
    }
  }
  if (!registry_.HasSection(subKey)) return kErrorFileNotFound;
  keys_.push_back(Key{true, subKey});
  *result = keys_.size();
  return kErrorSuccess;
}

long MemorySystem::RegQueryValueExA(RegistryHandle key, const char* valueName, uint8_t* data,
                                    uint32_t* size) {
  if (key == kNoRegistryHandle || key > keys_.size() || !keys_[key - 1].open) {
    violations.push_back("RegQueryValueExA on a handle that is not open");
    return kErrorInvalidHandle;
  }
  if (size == nullptr) return kErrorInvalidHandle;
  const char* name = (valueName == nullptr || *valueName == '\0') ? "@" : valueName;
  ProfileSpan value;
  if (!registry_.FindValue(keys_[key - 1].path.c_str(), name, &value)) return kErrorFileNotFound;
  const uint32_t needed = static_cast<uint32_t>(value.length + 1);
  if (data == nullptr) {
    *size = needed;
    return kErrorSuccess;
  }
  if (*size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  std::memcpy(data, value.text, value.length);
  data[value.length] = 0;
  *size = needed;
  return kErrorSuccess;
}

long MemorySystem::RegCloseKey(RegistryHandle key) {
  if (key == kNoRegistryHandle || key > keys_.size() || !keys_[key - 1].open) {
    violations.push_back("RegCloseKey on a handle that is not open");
    return kErrorInvalidHandle;
  }
  keys_[key - 1].open = false;
  return kErrorSuccess;
}

bool MemorySystem::DeleteFileA(const char* path) {
  if (path == nullptr || files.count(path) == 0) return false;  // changes nothing
  AfterErrorUnlessUndo("DeleteFileA", path, "");
  Touch(path);
  auto file = files.find(path);
  if (file == files.end()) return false;
  files.erase(file);
  readOnly.erase(path);
  identities_.erase(path);
  return true;
}

bool MemorySystem::CopyFileA(const char* from, const char* to, bool failIfExists) {
  AfterError("CopyFileA");
  if (from == nullptr || to == nullptr || *to == '\0') return false;
  auto source = files.find(from);
  if (source == files.end()) return false;
  const std::string target = to;
  if (target.back() == '/' || folders.count(target) != 0) return false;
  if (target == source->first) return !failIfExists;
  if (files.count(target) != 0 && (failIfExists || readOnly.count(target) != 0)) return false;
  files[target] = source->second;
  identities_.erase(target);  // a new file under the old name
  return true;
}

bool MemorySystem::MoveFileAsideA(const char* path, const KeptFileNames& names, KeptAs* as) {
  AfterError("MoveFileAsideA");
  *as = KeptAs::kNone;
  if (path == nullptr || names.kept == nullptr || files.count(path) == 0) return false;
  const std::string name = names.kept;
  if (files.count(name) != 0 || folders.count(name) != 0) return false;
  Touch(path);
  Touch(name);
  Rename(path, name);
  *as = KeptAs::kKept;
  return true;
}

CopyOutcome MemorySystem::CopyFileOverA(const char* from, const char* to,
                                        const KeptFileNames* names, uint32_t flags, ContentPin* pin,
                                        KeptAs* as) {
  AfterError("CopyFileOverA");
  *as = KeptAs::kNone;
  if (from == nullptr || to == nullptr || *to == '\0' || files.count(from) == 0) {
    return CopyOutcome::kFailed;
  }
  if (pin != nullptr && !MatchesPin(files[from], pin)) return CopyOutcome::kFailed;
  const std::string target = to;
  if (target.back() == '/' || folders.count(target) != 0) return CopyOutcome::kFailed;
  if (target == from) return CopyOutcome::kCopied;
  const bool replacing = files.count(target) != 0;
  if (replacing && readOnly.count(target) != 0) return CopyOutcome::kFailed;
  // What is kept: the replaced file, or a second name of the new one.
  const uint32_t wanted = replacing ? kCopyKeepReplaced : kCopyMarkNew;
  const char* kept = names == nullptr ? nullptr : replacing ? names->kept : names->mark;
  const bool keeping = (flags & wanted) != 0 && kept != nullptr;
  const std::string name = kept != nullptr ? kept : "";
  if (keeping && (files.count(name) != 0 || folders.count(name) != 0)) {
    return CopyOutcome::kFailed;
  }
  if (keeping) {
    Touch(name);
    if (replacing) {
      Rename(target, name);
    } else {
      files[name] = files[from];
    }
    *as = replacing ? KeptAs::kKept : KeptAs::kMark;
  }
  Touch(target);
  files[target] = files[from];
  identities_.erase(target);  // a new file under the old name
  return CopyOutcome::kCopied;
}

bool MemorySystem::MoveFileExA(const char* from, const char* to, uint32_t flags) {
  if (from == nullptr || to == nullptr || (flags & kMoveFileDelayUntilReboot) != 0) {
    AfterError("MoveFileExA");
    return false;
  }
  if (files.count(from) == 0 || folders.count(to) != 0 ||
      ((flags & kMoveFileReplaceExisting) == 0 && files.count(to) != 0)) {
    return false;  // changes nothing
  }
  AfterErrorUnlessUndo("MoveFileExA", from, to);
  Touch(from);
  Touch(to);
  Rename(from, to);
  return true;
}

bool MemorySystem::SetFileAttributesA(const char* path, uint32_t /*attributes*/) {
  return path != nullptr && (files.count(path) != 0 || folders.count(path) != 0);
}

bool MemorySystem::GetFinalPathNameA(const char* path, TextString* finalPath) {
  return path != nullptr && (files.count(path) != 0 || folders.count(path) != 0) &&
         finalPath->SetText(path);
}

bool MemorySystem::GetFileStampA(const char* path, FileStamp* stamp) {
  if (path == nullptr) return false;
  bool file = files.count(path) != 0;
  if (!file && folders.count(path) == 0) return false;
  *stamp = FileStamp();
  stamp->identity.volume = 1;
  stamp->identity.index = std::hash<std::string>()(path);
  stamp->size = file ? files[path].size() : 0;
  stamp->folder = !file;
  return true;
}

bool MemorySystem::ListFilesA(const char* folder, const char* suffix, ByteBuffer* names) {
  std::string prefix = std::string(folder) + "/";
  std::string ending = suffix;
  for (const auto& entry : files) {
    const std::string& path = entry.first;
    if (path.compare(0, prefix.size(), prefix) != 0 ||
        path.find('/', prefix.size()) != std::string::npos ||
        path.size() < prefix.size() + ending.size() + 1 ||
        path.compare(path.size() - ending.size(), ending.size(), ending) != 0) {
      continue;
    }
    std::string name = path.substr(prefix.size());
    if (!names->AppendBytes(name.c_str(), static_cast<uint32_t>(name.size()) + 1)) return false;
  }
  return true;
}

bool MemorySystem::GetPrivateDataFolderA(const char* /*name*/, TextString* folder, bool create) {
  if (create) folders.insert(kJournalFolder);
  return folders.count(kJournalFolder) != 0 && folder->SetText(kJournalFolder);
}

uint32_t MemorySystem::GetFileAttributesA(const char* path) {
  if (path == nullptr) return kInvalidFileAttributes;
  if (files.count(path) != 0) {
    return readOnly.count(path) != 0 ? kFileAttributeReadOnly : kFileAttributeNormal;
  }
  return folders.count(path) != 0 ? kFileAttributeDirectory : kInvalidFileAttributes;
}

bool MemorySystem::AccessCheckA(const char* path, uint32_t access) {
  if (path == nullptr || GetFileAttributesA(path) == kInvalidFileAttributes) return false;
  return (access & (kFileWriteData | kDeleteAccess)) == 0 || readOnly.count(path) == 0;
}

bool MemorySystem::GetBinaryTypeA(const char* /*path*/, uint32_t* /*type*/) { return false; }

uint64_t MemorySystem::IdentityOf(const std::string& path) {
  auto known = identities_.find(path);
  if (known != identities_.end()) return known->second;
  return identities_[path] = nextIdentity_++;
}

MemorySystem::OpenFile* MemorySystem::Open(FileHandle file) {
  auto open = openFiles_.find(file);
  if (open != openFiles_.end()) return &open->second;
  violations.push_back("a file call on a handle that is not open");
  return nullptr;
}

std::string& MemorySystem::Contents(OpenFile* open) {
  auto file = files.find(open->path);
  auto identity = identities_.find(open->path);
  if (file != files.end() && identity != identities_.end() && identity->second == open->identity) {
    return file->second;
  }
  return open->detached;
}

FileHandle MemorySystem::CreateFileA(const char* path, FileAccess access) {
  if (path == nullptr || *path == '\0') return kNoFile;
  const std::string name = path;
  if (name.back() == '/' || folders.count(name) != 0) return kNoFile;
  if (access == FileAccess::kRead) {
    if (files.count(name) == 0) return kNoFile;
  } else {
    if (readOnly.count(name) != 0) return kNoFile;
    if (files.count(name) == 0) Touch(name);
    files[name];  // made when missing
  }
  const FileHandle handle = nextFile_++;
  openFiles_[handle] = OpenFile{name, IdentityOf(name), access, std::string()};
  return handle;
}

bool MemorySystem::ReadFile(FileHandle file, uint64_t offset, char* buffer, uint32_t size,
                            uint32_t* done) {
  *done = 0;
  OpenFile* open = Open(file);
  if (open == nullptr || open->access == FileAccess::kAppend) return false;
  const std::string& bytes = Contents(open);
  if (offset < bytes.size()) {
    *done = static_cast<uint32_t>(std::min<uint64_t>(size, bytes.size() - offset));
    std::memcpy(buffer, bytes.data() + offset, *done);
  }
  return true;
}

bool MemorySystem::WriteFile(FileHandle file, uint64_t offset, const char* bytes, uint32_t length,
                             uint32_t* done) {
  *done = 0;
  OpenFile* open = Open(file);
  if (open == nullptr || open->access == FileAccess::kRead) return false;
  std::string& contents = Contents(open);
  if (offset == kFileEnd || open->access == FileAccess::kAppend) offset = contents.size();
  if (offset > (1u << 30)) return false;
  if (contents.size() < offset + length) contents.resize(offset + length);
  contents.replace(offset, length, bytes, length);
  *done = length;
  return true;
}

bool MemorySystem::GetFileSizeEx(FileHandle file, uint64_t* size) {
  OpenFile* open = Open(file);
  if (open == nullptr) return false;
  *size = Contents(open).size();
  return true;
}

bool MemorySystem::GetFileInformationByHandle(FileHandle file, FileIdentity* identity) {
  OpenFile* open = Open(file);
  if (open == nullptr) return false;
  *identity = FileIdentity{1, open->identity};
  return true;
}

bool MemorySystem::SetEndOfFile(FileHandle file, uint64_t size) {
  OpenFile* open = Open(file);
  if (open == nullptr || open->access != FileAccess::kReadWrite || size > (1u << 30)) return false;
  Contents(open).resize(size);
  return true;
}

void MemorySystem::CloseHandle(FileHandle file) {
  if (openFolders_.erase(file) != 0) return;
  if (Open(file) != nullptr) openFiles_.erase(file);
}

FileHandle MemorySystem::OpenFolderA(const char* path, FileIdentity* identity) {
  FileStamp stamp;
  if (!GetFileStampA(path, &stamp) || !stamp.folder) return kNoFile;
  *identity = stamp.identity;
  const FileHandle handle = nextFile_++;
  openFolders_[handle] = path;
  return handle;
}

std::string MemorySystem::InFolder(FileHandle folder, const char* name) const {
  auto found = openFolders_.find(folder);
  if (found == openFolders_.end() || name == nullptr || *name == '\0' ||
      std::strchr(name, '/') != nullptr) {
    return std::string();
  }
  return found->second + "/" + name;
}

bool MemorySystem::GetFileStampInFolderA(FileHandle folder, const char* name, FileStamp* stamp) {
  std::string path = InFolder(folder, name);
  return !path.empty() && GetFileStampA(path.c_str(), stamp);
}

bool MemorySystem::MoveFileInFolderA(FileHandle folder, const char* from, const char* to,
                                     uint32_t flags) {
  std::string fromPath = InFolder(folder, from);
  std::string toPath = InFolder(folder, to);
  return !fromPath.empty() && !toPath.empty() &&
         MoveFileExA(fromPath.c_str(), toPath.c_str(), flags);
}

bool MemorySystem::DeleteFileInFolderA(FileHandle folder, const char* name) {
  std::string path = InFolder(folder, name);
  return !path.empty() && DeleteFileA(path.c_str());
}

bool MemorySystem::ClearFileAttributesInFolderA(FileHandle folder, const char* name,
                                                uint32_t attributes) {
  std::string path = InFolder(folder, name);
  return !path.empty() && SetFileAttributesA(path.c_str(), attributes);
}

bool MemorySystem::AnyFileMatchesA(const char* path) {
  if (path == nullptr || *path == '\0') return false;
  const std::string text = path;
  if (!HasWildcard(text)) return files.count(text) != 0 || folders.count(text) != 0;
  for (const auto& file : files) {
    if (Matches(path, file.first.c_str())) return true;
  }
  for (const std::string& folder : folders) {
    if (Matches(path, folder.c_str())) return true;
  }
  return false;
}

bool MemorySystem::GetFileLocalDate(const char* path, LocalDate* date) {
  if (path == nullptr || date == nullptr) return false;
  auto file = files.find(path);
  if (file == files.end()) return false;
  uint32_t hash =
      static_cast<uint32_t>(HashBytes(kHashStart, file->first.data(), file->first.size()));
  date->year = static_cast<uint16_t>(1990 + hash % 50);
  date->month = static_cast<uint16_t>(1 + (hash / 50) % 12);
  date->day = static_cast<uint16_t>(1 + (hash / 600) % 28);
  return true;
}

bool MemorySystem::CreateProcessA(char* commandLine, const char* currentDirectory,
                                  ProcessHandle* process) {
  AfterError("CreateProcessA");
  if (process != nullptr) *process = kNoProcess;
  if (commandLine == nullptr || currentDirectory == nullptr) {
    violations.push_back("CreateProcessA without a command line or folder");
    return false;
  }
  // Touch the whole command line, as the platform would read it.
  const size_t length = std::strlen(commandLine);
  if (length == 0 || *currentDirectory == '\0') {
    violations.push_back("CreateProcessA with an empty command line or folder");
  }
  const size_t index = processesStarted++;
  if (index < 32 && (processFailBits >> index & 1u) != 0) return false;
  const ProcessHandle handle = nextProcess_++;
  openProcesses_.insert(handle);
  if (process != nullptr) *process = handle;
  return true;
}

bool MemorySystem::CreateProcessPinnedA(char* commandLine, const char* currentDirectory,
                                        const char* image, ContentPin* pin,
                                        ProcessHandle* process) {
  if (process != nullptr) *process = kNoProcess;
  if (image == nullptr || files.count(image) == 0 || !MatchesPin(files[image], pin)) return false;
  return CreateProcessA(commandLine, currentDirectory, process);
}

bool MemorySystem::WaitForProcess(ProcessHandle process) {
  if (openProcesses_.count(process) == 0) {
    violations.push_back("WaitForProcess on a handle that is not open");
    return false;
  }
  const size_t index = waits_++;
  return !(index < 32 && (waitFailBits >> index & 1u) != 0);
}

bool MemorySystem::GetExitCodeProcess(ProcessHandle process, uint32_t* code) {
  if (openProcesses_.count(process) == 0) {
    violations.push_back("GetExitCodeProcess on a handle that is not open");
    return false;
  }
  *code = 0;
  return true;
}

void MemorySystem::CloseProcess(ProcessHandle process) {
  if (openProcesses_.erase(process) == 0) {
    violations.push_back("CloseProcess on a handle that is not open");
  }
}

uint16_t MemorySystem::GetUserDefaultUILanguage() { return uiLanguage; }

bool MemorySystem::PendingRenamesOntoA(const char* /*to*/, const char* /*pattern*/,
                                       const char* /*keep*/, bool /*cancel*/,
                                       ByteBuffer* /*sources*/) {
  return true;
}

bool MemorySystem::GetDiskFreeSpaceExA(const char* /*folder*/, uint64_t* available,
                                       uint64_t* volume) {
  *available = UINT64_MAX;
  *volume = 1;
  return true;
}

bool MemorySystem::FlushFileBuffers(FileHandle file) { return Open(file) != nullptr; }

bool MemorySystem::LockFileEx(FileHandle file, uint32_t /*flags*/, uint64_t /*offset*/,
                              uint64_t /*length*/) {
  return Open(file) != nullptr;
}

bool MemorySystem::UnlockFileEx(FileHandle file, uint64_t /*offset*/, uint64_t /*length*/) {
  return Open(file) != nullptr;
}

bool MemorySystem::IsWindowStationVisible() { return true; }

bool MemorySystem::GetComputerNameA(TextString* name) { return name->SetText("FUZZ"); }

bool MemorySystem::GetUserNameA(TextString* name) { return name->SetText("fuzzer"); }

void MemorySystem::GetLocalTime(LocalTime* time) { *time = {2026, 12, 8, 1, 2, 3}; }

uint32_t MemorySystem::GetCurrentProcessId() { return 4242; }

bool MemorySystem::GetSystemDirectoryA(TextString* /*folder*/) { return false; }

bool MemorySystem::GetFullPathNameA(const char* path, TextString* full) {
  return path != nullptr && *path != '\0' && full->SetText(path);
}

bool MemorySystem::IsDBCSLeadByte(uint8_t /*byte*/) { return false; }

}  // namespace fuzz
}  // namespace kestario
