// A System that passes every call on to another one. Systems that change a few calls derive from
// it and replace just those (the checker's, which must show, change and start nothing, and the
// tests' fake), so that a call the interface gains reaches the system below unchanged once it is
// forwarded here.
#ifndef KESTARIO_PLATFORM_FORWARDING_SYSTEM_H_
#define KESTARIO_PLATFORM_FORWARDING_SYSTEM_H_

#include "platform/system.h"

namespace kestario {

class ForwardingSystem : public System {
 public:
  explicit ForwardingSystem(System* base) : base_(base) {}

  void GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                TextString* value, const char* file) override {
    base_->GetPrivateProfileStringA(section, key, defaultValue, value, file);
  }
  void GetPrivateProfileSectionA(const char* section, ByteBuffer* entries,
                                 const char* file) override {
    base_->GetPrivateProfileSectionA(section, entries, file);
  }
  void FlushPrivateProfile(const char* file) override { base_->FlushPrivateProfile(file); }
  bool HoldPrivateProfileA(const char* file, ByteBuffer* bytes) override {
    return base_->HoldPrivateProfileA(file, bytes);
  }
  void ReleasePrivateProfileA(const char* file) override { base_->ReleasePrivateProfileA(file); }
  uint16_t GetUserDefaultUILanguage() override { return base_->GetUserDefaultUILanguage(); }
  int LoadStringW(uint16_t language, unsigned id, char16_t* buffer, int size) override {
    return base_->LoadStringW(language, id, buffer, size);
  }
  int MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) override {
    return base_->MessageBoxW(text, caption, style);
  }
  bool MultiByteToWideChar(unsigned codePage, uint32_t flags, const char* text, uint32_t size,
                           WideText* wide) override {
    return base_->MultiByteToWideChar(codePage, flags, text, size, wide);
  }
  bool WideCharToMultiByte(unsigned codePage, const char16_t* text, uint32_t size,
                           TextString* bytes) override {
    return base_->WideCharToMultiByte(codePage, text, size, bytes);
  }
  bool IsDBCSLeadByte(uint8_t byte) override { return base_->IsDBCSLeadByte(byte); }
  bool IsWindowStationVisible() override { return base_->IsWindowStationVisible(); }
  bool WriteEventLogEntry(const char* source, uint16_t type, uint32_t id,
                          const char* const* strings, uint16_t count, const char* text) override {
    return base_->WriteEventLogEntry(source, type, id, strings, count, text);
  }
  uint32_t GetModuleFileNameA(char* buffer, uint32_t size) override {
    return base_->GetModuleFileNameA(buffer, size);
  }
  uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) override {
    return base_->GetWindowsDirectoryA(buffer, size);
  }
  bool GetSystemDirectoryA(TextString* folder) override {
    return base_->GetSystemDirectoryA(folder);
  }
  bool GetComputerNameA(TextString* name) override { return base_->GetComputerNameA(name); }
  bool GetUserNameA(TextString* name) override { return base_->GetUserNameA(name); }
  void GetLocalTime(LocalTime* time) override { base_->GetLocalTime(time); }
  uint32_t GetCurrentProcessId() override { return base_->GetCurrentProcessId(); }
  long RegOpenKeyExA(RegistryHandle root, const char* subKey, uint32_t access,
                     RegistryHandle* result) override {
    return base_->RegOpenKeyExA(root, subKey, access, result);
  }
  long RegQueryValueExA(RegistryHandle key, const char* valueName, uint8_t* data,
                        uint32_t* size) override {
    return base_->RegQueryValueExA(key, valueName, data, size);
  }
  long RegCloseKey(RegistryHandle key) override { return base_->RegCloseKey(key); }
  long RegEnumValueA(RegistryHandle key, uint32_t index, TextString* name, uint32_t* type,
                     TextString* data) override {
    return base_->RegEnumValueA(key, index, name, type, data);
  }
  bool RegistryWritableByOthers() override { return base_->RegistryWritableByOthers(); }
  bool DeleteFileA(const char* path) override { return base_->DeleteFileA(path); }
  bool MoveFileAsideA(const char* path, const KeptFileNames& names, KeptAs* as) override {
    return base_->MoveFileAsideA(path, names, as);
  }
  bool CopyFileA(const char* from, const char* to, bool failIfExists) override {
    return base_->CopyFileA(from, to, failIfExists);
  }
  CopyOutcome CopyFileOverA(const char* from, const char* to, const KeptFileNames* names,
                            uint32_t flags, ContentPin* pin, KeptAs* as) override {
    return base_->CopyFileOverA(from, to, names, flags, pin, as);
  }
  bool MoveFileExA(const char* from, const char* to, uint32_t flags) override {
    return base_->MoveFileExA(from, to, flags);
  }
  bool SetFileAttributesA(const char* path, uint32_t attributes) override {
    return base_->SetFileAttributesA(path, attributes);
  }
  bool GetFinalPathNameA(const char* path, TextString* finalPath) override {
    return base_->GetFinalPathNameA(path, finalPath);
  }
  bool GetFileStampA(const char* path, FileStamp* stamp) override {
    return base_->GetFileStampA(path, stamp);
  }
  bool ListFilesA(const char* folder, const char* suffix, ByteBuffer* names) override {
    return base_->ListFilesA(folder, suffix, names);
  }
  bool PendingRenamesOntoA(const char* to, const char* pattern, const char* keep, bool cancel,
                           ByteBuffer* sources) override {
    return base_->PendingRenamesOntoA(to, pattern, keep, cancel, sources);
  }
  bool GetDiskFreeSpaceExA(const char* folder, uint64_t* available, uint64_t* volume) override {
    return base_->GetDiskFreeSpaceExA(folder, available, volume);
  }
  bool GetPrivateDataFolderA(const char* name, TextString* folder, bool create) override {
    return base_->GetPrivateDataFolderA(name, folder, create);
  }
  FileHandle CreateFileA(const char* path, FileAccess access) override {
    return base_->CreateFileA(path, access);
  }
  bool ReadFile(FileHandle file, uint64_t offset, char* buffer, uint32_t size,
                uint32_t* done) override {
    return base_->ReadFile(file, offset, buffer, size, done);
  }
  bool WriteFile(FileHandle file, uint64_t offset, const char* bytes, uint32_t length,
                 uint32_t* done) override {
    return base_->WriteFile(file, offset, bytes, length, done);
  }
  bool FlushFileBuffers(FileHandle file) override { return base_->FlushFileBuffers(file); }
  bool LockFileEx(FileHandle file, uint32_t flags, uint64_t offset, uint64_t length) override {
    return base_->LockFileEx(file, flags, offset, length);
  }
  bool UnlockFileEx(FileHandle file, uint64_t offset, uint64_t length) override {
    return base_->UnlockFileEx(file, offset, length);
  }
  bool GetFileSizeEx(FileHandle file, uint64_t* size) override {
    return base_->GetFileSizeEx(file, size);
  }
  bool GetFileInformationByHandle(FileHandle file, FileIdentity* identity) override {
    return base_->GetFileInformationByHandle(file, identity);
  }
  bool SetEndOfFile(FileHandle file, uint64_t size) override {
    return base_->SetEndOfFile(file, size);
  }
  void CloseHandle(FileHandle file) override { base_->CloseHandle(file); }
  FileHandle OpenFolderA(const char* path, FileIdentity* identity) override {
    return base_->OpenFolderA(path, identity);
  }
  bool GetFileStampInFolderA(FileHandle folder, const char* name, FileStamp* stamp) override {
    return base_->GetFileStampInFolderA(folder, name, stamp);
  }
  bool MoveFileInFolderA(FileHandle folder, const char* from, const char* to,
                         uint32_t flags) override {
    return base_->MoveFileInFolderA(folder, from, to, flags);
  }
  bool DeleteFileInFolderA(FileHandle folder, const char* name) override {
    return base_->DeleteFileInFolderA(folder, name);
  }
  bool ClearFileAttributesInFolderA(FileHandle folder, const char* name,
                                    uint32_t attributes) override {
    return base_->ClearFileAttributesInFolderA(folder, name, attributes);
  }
  bool AnyFileMatchesA(const char* path) override { return base_->AnyFileMatchesA(path); }
  uint32_t GetFileAttributesA(const char* path) override { return base_->GetFileAttributesA(path); }
  bool GetFullPathNameA(const char* path, TextString* full) override {
    return base_->GetFullPathNameA(path, full);
  }
  bool GetFileLocalDate(const char* path, LocalDate* date) override {
    return base_->GetFileLocalDate(path, date);
  }
  bool AccessCheckA(const char* path, uint32_t access) override {
    return base_->AccessCheckA(path, access);
  }
  bool GetBinaryTypeA(const char* path, uint32_t* type) override {
    return base_->GetBinaryTypeA(path, type);
  }
  bool CreateProcessA(char* commandLine, const char* currentDirectory,
                      ProcessHandle* process) override {
    return base_->CreateProcessA(commandLine, currentDirectory, process);
  }
  bool CreateProcessPinnedA(char* commandLine, const char* currentDirectory, const char* image,
                            ContentPin* pin, ProcessHandle* process) override {
    return base_->CreateProcessPinnedA(commandLine, currentDirectory, image, pin, process);
  }
  bool WaitForProcess(ProcessHandle process) override { return base_->WaitForProcess(process); }
  bool GetExitCodeProcess(ProcessHandle process, uint32_t* code) override {
    return base_->GetExitCodeProcess(process, code);
  }
  void CloseProcess(ProcessHandle process) override { base_->CloseProcess(process); }

 protected:
  System* base() const { return base_; }

 private:
  System* base_;
};

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_FORWARDING_SYSTEM_H_
