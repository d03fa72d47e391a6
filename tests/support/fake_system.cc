#include "support/fake_system.h"
#include "text/ascii.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <iterator>

namespace kestario {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) {
    c = AsciiUpper(c);
  }
  return text;
}

constexpr const char* kAppPaths = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

}  // namespace

FakeSystem::FakeSystem() : ForwardingSystem(&RealSystem()) { SetSystem(this); }
FakeSystem::~FakeSystem() { SetSystem(nullptr); }

void FakeSystem::SetAppPath(const std::string& application, const std::string& fullPath) {
  registry[Upper(kAppPaths + application)][""] = fullPath;
}

void FakeSystem::SetAppPathValue(const std::string& application, const std::string& pathValue) {
  registry[Upper(kAppPaths + application)]["PATH"] = pathValue;
}

void FakeSystem::GetPrivateProfileSectionA(const char* section, ByteBuffer* entries,
                                           const char* file) {
  if (!sectionOutOfMemory.empty() && section != nullptr && sectionOutOfMemory == section) {
    entries->Free();
    return;
  }
  RealSystem().GetPrivateProfileSectionA(section, entries, file);
}

void FakeSystem::FlushPrivateProfile(const char* file) {
  ++profileFlushes;
  RealSystem().FlushPrivateProfile(file);
}

std::string ShownText(const char16_t* text) {
  TextString bytes;
  if (text == nullptr) return std::string();
  RealSystem().WideCharToMultiByte(kCpAcp, text, WideLength(text), &bytes);
  return bytes.GetConstText();
}

std::string ShownText(const WideText& text) { return ShownText(text.GetUnits()); }

int FakeSystem::MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) {
  boxes.push_back({ShownText(caption), ShownText(text), style});
  if (onBox) onBox();
  if (!answers.empty()) {
    int answer = answers.front();
    answers.pop_front();
    return answer;
  }
  return (style & kMbTypeMask) == kMbYesNo ? kIdNo : kIdOk;
}

bool FakeSystem::IsWindowStationVisible() {
  ++stationQueries;
  return windowStationVisible;
}

bool FakeSystem::WriteEventLogEntry(const char* /*source*/, uint16_t type, uint32_t id,
                                    const char* const* strings, uint16_t count, const char* text) {
  events.push_back({type, id, std::vector<std::string>(strings, strings + count), text});
  return eventWorks;
}

bool FakeSystem::GetComputerNameA(TextString* name) {
  return !computerName.empty() && name->SetText(computerName.c_str());
}

bool FakeSystem::GetUserNameA(TextString* name) {
  return !userName.empty() && name->SetText(userName.c_str());
}

void FakeSystem::GetLocalTime(LocalTime* time) { *time = localTime; }

uint32_t FakeSystem::GetCurrentProcessId() { return processId; }

uint32_t FakeSystem::GetModuleFileNameA(char* buffer, uint32_t size) {
  return CopyOutModuleFileName(modulePath.data(), modulePath.size(), buffer, size);
}

uint32_t FakeSystem::GetWindowsDirectoryA(char* buffer, uint32_t size) {
  return CopyOutWindowsDirectory(windowsDirectory.data(), windowsDirectory.size(), buffer, size);
}

long FakeSystem::RegOpenKeyExA(RegistryHandle root, const char* subKey, uint32_t /*access*/,
                               RegistryHandle* result) {
  if (onRegistryOpen) onRegistryOpen();
  if (root != kLocalMachine) return kErrorFileNotFound;
  std::string path = Upper(subKey);
  if (registry.count(path) == 0) return kErrorFileNotFound;
  openKeys_.push_back(path);
  ++openRegistryKeys;
  *result = openKeys_.size();
  return kErrorSuccess;
}

long FakeSystem::RegQueryValueExA(RegistryHandle key, const char* valueName, uint8_t* data,
                                  uint32_t* size) {
  if (key == 0 || key > openKeys_.size() || openKeys_[key - 1].empty()) return 6;
  const auto& values = registry[openKeys_[key - 1]];
  auto value = values.find(Upper(valueName));
  if (value == values.end()) return kErrorFileNotFound;
  uint32_t needed = static_cast<uint32_t>(value->second.size() + 1);
  if (data == nullptr) {
    *size = needed;
    return kErrorSuccess;
  }
  if (*size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  std::memcpy(data, value->second.c_str(), needed);
  *size = needed;
  return kErrorSuccess;
}

long FakeSystem::RegEnumValueA(RegistryHandle key, uint32_t index, TextString* name, uint32_t* type,
                               TextString* data) {
  if (key == 0 || key > openKeys_.size() || openKeys_[key - 1].empty()) return 6;
  const auto& values = registry[openKeys_[key - 1]];
  if (index >= values.size()) return kErrorNoMoreItems;
  auto value = std::next(values.begin(), index);
  name->SetText(value->first.c_str());
  data->SetText(value->second.c_str());
  *type = kRegSz;
  return kErrorSuccess;
}

long FakeSystem::RegCloseKey(RegistryHandle key) {
  if (key == 0 || key > openKeys_.size() || openKeys_[key - 1].empty()) return 6;
  openKeys_[key - 1].clear();
  --openRegistryKeys;
  return kErrorSuccess;
}

bool FakeSystem::DeleteFileA(const char* path) {
  ++deletes;
  return RealSystem().DeleteFileA(path);
}

bool FakeSystem::CopyFileA(const char* from, const char* to, bool failIfExists) {
  ++copies;
  return RealSystem().CopyFileA(from, to, failIfExists);
}

bool FakeSystem::MoveFileAsideA(const char* path, const KeptFileNames& names, KeptAs* as) {
  ++deletes;
  return RealSystem().MoveFileAsideA(path, names, as);
}

CopyOutcome FakeSystem::CopyFileOverA(const char* from, const char* to, const KeptFileNames* names,
                                      uint32_t flags, ContentPin* pin, KeptAs* as) {
  ++copies;
  if (destinationsHeld && (flags & kCopyReplaceInUse) != 0 && names != nullptr) {
    *as = KeptAs::kNone;
    if (!RealSystem().CopyFileA(from, names->staged, false)) return CopyOutcome::kFailed;
    *as = KeptAs::kStaged;
    pendingRenames.emplace_back(names->staged, to);
    return CopyOutcome::kAtRestart;
  }
  return RealSystem().CopyFileOverA(from, to, names, flags, pin, as);
}

bool FakeSystem::MoveFileExA(const char* from, const char* to, uint32_t flags) {
  ++moves;
  if (moveFails && moveFails(from, to != nullptr ? to : "")) return false;
  return RealSystem().MoveFileExA(from, to, flags);
}

bool FakeSystem::PendingRenamesOntoA(const char* to, const char* pattern, const char* keep,
                                     bool cancel, ByteBuffer* sources) {
  std::string wanted = pattern;
  std::string prefix = wanted.substr(0, wanted.find('*'));
  std::string suffix = wanted.substr(wanted.find('*') + 1);
  for (size_t i = 0; i < pendingRenames.size();) {
    const std::string& source = pendingRenames[i].first;
    std::string name = source.substr(source.rfind('/') + 1);
    bool matches = pendingRenames[i].second == to && source != keep &&
                   name.compare(0, prefix.size(), prefix) == 0 && name.size() >= suffix.size() &&
                   name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (!matches) {
      ++i;
      continue;
    }
    sources->AppendBytes(source.c_str(), static_cast<uint32_t>(source.size() + 1));
    if (!cancel) {
      ++i;
      continue;
    }
    ::unlink(source.c_str());
    pendingRenames.erase(pendingRenames.begin() + static_cast<std::ptrdiff_t>(i));
  }
  return true;
}

bool FakeSystem::GetDiskFreeSpaceExA(const char* folder, uint64_t* available, uint64_t* volume) {
  if (freeSpace < 0) return ForwardingSystem::GetDiskFreeSpaceExA(folder, available, volume);
  *available = static_cast<uint64_t>(freeSpace);
  *volume = 1;
  return true;
}

bool FakeSystem::GetPrivateDataFolderA(const char* /*name*/, TextString* folder, bool create) {
  if (journalFolder.empty()) return false;
  if (create) mkdir(journalFolder.c_str(), 0700);
  struct stat info;
  return stat(journalFolder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         folder->SetText(journalFolder.c_str());
}

FileHandle FakeSystem::CreateFileA(const char* path, FileAccess access) {
  FileHandle file = RealSystem().CreateFileA(path, access);
  if (file != kNoFile) openFiles_[file] = path;
  return file;
}

bool FakeSystem::WriteFile(FileHandle file, uint64_t offset, const char* bytes, uint32_t length,
                           uint32_t* done) {
  writes.push_back({openFiles_[file], std::string(bytes, length)});
  if (writeWorks) return RealSystem().WriteFile(file, offset, bytes, length, done);
  *done = 0;
  return false;
}

void FakeSystem::CloseHandle(FileHandle file) {
  openFiles_.erase(file);
  RealSystem().CloseHandle(file);
}

FileHandle FakeSystem::OpenFolderA(const char* path, FileIdentity* identity) {
  FileHandle folder = RealSystem().OpenFolderA(path, identity);
  if (folder == kNoFile) return folder;
  openFiles_[folder] = path;
  if (onFolderOpen) onFolderOpen(path);
  return folder;
}

bool FakeSystem::MoveFileInFolderA(FileHandle folder, const char* from, const char* to,
                                   uint32_t flags) {
  ++moves;
  const std::string& path = openFiles_[folder];
  if (moveFails && from != nullptr && to != nullptr &&
      moveFails(path + "/" + from, path + "/" + to))
    return false;
  return RealSystem().MoveFileInFolderA(folder, from, to, flags);
}

bool FakeSystem::AccessCheckA(const char* path, uint32_t access) {
  auto refused = refusedRights.find(path != nullptr ? path : "");
  if (refused != refusedRights.end() && (refused->second & access) != 0) return false;
  return RealSystem().AccessCheckA(path, access);
}

bool FakeSystem::GetBinaryTypeA(const char* path, uint32_t* type) {
  auto program = programs.find(path != nullptr ? path : "");
  if (program == programs.end()) return RealSystem().GetBinaryTypeA(path, type);
  if (program->second) *type = kScs64BitBinary;
  return program->second;
}

}  // namespace kestario
