// An in-process System for the fuzz targets: the script, every other file, the folders and the
// registry live in memory, boxes and processes are answered from the fuzz input. Nothing touches
// the real disk and no process is ever started.
//
// - Profile reads parse the in-memory file with ProfileData, as the Linux build parses a real one
//   (re-parsed whenever the file's contents changed, for instance by a COPY onto the script).
// - The registry is a text in the registry file's profile format: one section per key path,
//   "@" for the default value.
// - DeleteFileA, CopyFileA (and their forms that keep the old file), MoveFileExA, AnyFileMatchesA,
//   GetFileAttributesA and GetFileLocalDate work on the file map; wildcards are matched by
//   AnyFileMatchesA only ("*" any run of bytes, "?" one byte). AccessCheckA grants everything on
//   what exists, but no write or deletion of a read-only file; no file is a program for
//   GetBinaryTypeA.
// - CreateProcessA and WaitForProcess succeed unless the matching bit of the fail masks is set.
// - Box i is answered by answers[i] (see AnswerFor); boxes past the list get the default answer.
// - The system watches the run's rules and records every breach in `violations`: an error box
//   (recognised by the catalog load that ReportError makes just before it) longer than 1,023
//   bytes in the ANSI code page, and anything done after an error box (another box, a file
//   change, a process start), but for a rollback run's undoing of its own changes (and one
//   message 11 about it). The catalog and the text conversions are the Linux system's.
#ifndef KESTARIO_FUZZ_SUPPORT_MEMORY_SYSTEM_H_
#define KESTARIO_FUZZ_SUPPORT_MEMORY_SYSTEM_H_

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/profile_reader.h"
#include "platform/system.h"

namespace kestario {
namespace fuzz {

class MemorySystem : public System {
 public:
  MemorySystem();            // installs itself as the current system
  ~MemorySystem() override;  // restores the real one
  MemorySystem(const MemorySystem&) = delete;
  MemorySystem& operator=(const MemorySystem&) = delete;

  std::map<std::string, std::string> files;  // absolute path -> contents
  std::set<std::string> folders;             // absolute paths, no trailing "/"
  std::set<std::string> readOnly;            // files that CopyFileA may not replace
  std::string modulePath = "/fuzz/updater.run";
  std::string windowsDirectory = "/windows";
  std::string registryText;
  std::vector<uint8_t> answers;
  uint32_t processFailBits = 0;         // bit i set: the i-th CreateProcessA fails (i < 32)
  uint32_t waitFailBits = 0;            // bit i set: the i-th WaitForProcess fails (i < 32)
  uint16_t uiLanguage = kLangJapanese;  // the desktop's language: the catalog's language
  // True for a whole run, which ends at its first error box; false for targets that make many
  // separate reads, each of which may show its own error box.
  bool oneRun = true;

  // What the run did.
  size_t boxes = 0;
  size_t errorBoxes = 0;
  size_t undoFailureBoxes = 0;  // message 11, shown after the error box of a rollback run
  size_t processesStarted = 0;
  size_t events = 0;  // WriteEventLogEntry calls: at most one per run
  std::vector<std::string> violations;

  size_t OpenProcesses() const { return openProcesses_.size(); }
  size_t OpenRegistryKeys() const;

  // The answer byte `code` gives a box of `style`: 0 the default (OK, or Yes for a Yes/No box),
  // then kIdOk, kIdYes, kIdNo, kIdCancel and 0 (the box could not be shown), cycling.
  static int AnswerFor(uint8_t code, unsigned style);

  void GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                TextString* value, const char* file) override;
  void GetPrivateProfileSectionA(const char* section, ByteBuffer* entries,
                                 const char* file) override;
  void FlushPrivateProfile(const char* file) override;
  // The file's bytes as they are; nothing can change them meanwhile.
  bool HoldPrivateProfileA(const char* file, ByteBuffer* bytes) override;
  void ReleasePrivateProfileA(const char* /*file*/) override {}
  uint16_t GetUserDefaultUILanguage() override { return uiLanguage; }
  int LoadStringW(uint16_t language, unsigned id, char16_t* buffer, int size) override;
  int MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) override;
  bool MultiByteToWideChar(unsigned codePage, uint32_t flags, const char* text, uint32_t size,
                           WideText* wide) override;
  bool WideCharToMultiByte(unsigned codePage, const char16_t* text, uint32_t size,
                           TextString* bytes) override;
  uint32_t GetModuleFileNameA(char* buffer, uint32_t size) override;
  uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) override;
  long RegOpenKeyExA(RegistryHandle root, const char* subKey, uint32_t access,
                     RegistryHandle* result) override;
  long RegQueryValueExA(RegistryHandle key, const char* valueName, uint8_t* data,
                        uint32_t* size) override;
  long RegCloseKey(RegistryHandle key) override;
  // The memory registry lists no values: no machine policy is ever found in it.
  long RegEnumValueA(RegistryHandle /*key*/, uint32_t /*index*/, TextString* /*name*/,
                     uint32_t* /*type*/, TextString* /*data*/) override {
    return kErrorNoMoreItems;
  }
  bool RegistryWritableByOthers() override { return false; }
  bool DeleteFileA(const char* path) override;
  bool MoveFileAsideA(const char* path, const KeptFileNames& names, KeptAs* as) override;
  bool CopyFileA(const char* from, const char* to, bool failIfExists) override;
  // Nothing is ever in use here: a COPY that keeps the replaced file keeps it, and is done.
  CopyOutcome CopyFileOverA(const char* from, const char* to, const KeptFileNames* names,
                            uint32_t flags, ContentPin* pin, KeptAs* as) override;
  // A rename of a file (no folders); nothing waits for a restart.
  bool MoveFileExA(const char* from, const char* to, uint32_t flags) override;
  bool SetFileAttributesA(const char* path, uint32_t attributes) override;
  bool GetFinalPathNameA(const char* path, TextString* finalPath) override;
  // A file's identity is its name's hash here (a rename makes another file); its time is 0.
  bool GetFileStampA(const char* path, FileStamp* stamp) override;
  bool ListFilesA(const char* folder, const char* suffix, ByteBuffer* names) override;
  // Nothing waits for a restart here: none found.
  bool PendingRenamesOntoA(const char* /*to*/, const char* /*pattern*/, const char* /*keep*/,
                           bool /*cancel*/, ByteBuffer* /*sources*/) override {
    return true;
  }
  // A volume with room for everything.
  bool GetDiskFreeSpaceExA(const char* /*folder*/, uint64_t* available, uint64_t* volume) override {
    *available = UINT64_MAX;
    *volume = 1;
    return true;
  }
  // kJournalFolder, made when asked to.
  bool GetPrivateDataFolderA(const char* name, TextString* folder, bool create) override;
  // Handles on the in-memory files (the run log's writes go on after an error box, which ends the
  // run). A handle keeps the file it opened: once that file is deleted
  // or copied over, the handle reads and writes a file of its own that no name reaches.
  FileHandle CreateFileA(const char* path, FileAccess access) override;
  bool ReadFile(FileHandle file, uint64_t offset, char* buffer, uint32_t size,
                uint32_t* done) override;
  bool WriteFile(FileHandle file, uint64_t offset, const char* bytes, uint32_t length,
                 uint32_t* done) override;
  bool FlushFileBuffers(FileHandle file) override { return Open(file) != nullptr; }
  bool LockFileEx(FileHandle file, uint32_t /*flags*/, uint64_t /*offset*/,
                  uint64_t /*length*/) override {
    return Open(file) != nullptr;
  }
  bool UnlockFileEx(FileHandle file, uint64_t /*offset*/, uint64_t /*length*/) override {
    return Open(file) != nullptr;
  }
  bool GetFileSizeEx(FileHandle file, uint64_t* size) override;
  bool GetFileInformationByHandle(FileHandle file, FileIdentity* identity) override;
  bool SetEndOfFile(FileHandle file, uint64_t size) override;
  void CloseHandle(FileHandle file) override;
  // An in-memory folder; the names in it as the calls by path see them.
  FileHandle OpenFolderA(const char* path, FileIdentity* identity) override;
  bool GetFileStampInFolderA(FileHandle folder, const char* name, FileStamp* stamp) override;
  bool MoveFileInFolderA(FileHandle folder, const char* from, const char* to,
                         uint32_t flags) override;
  bool DeleteFileInFolderA(FileHandle folder, const char* name) override;
  bool ClearFileAttributesInFolderA(FileHandle folder, const char* name,
                                    uint32_t attributes) override;
  bool AnyFileMatchesA(const char* path) override;
  uint32_t GetFileAttributesA(const char* path) override;
  bool AccessCheckA(const char* path, uint32_t access) override;
  bool GetBinaryTypeA(const char* path, uint32_t* type) override;
  bool GetFileLocalDate(const char* path, LocalDate* date) override;
  bool CreateProcessA(char* commandLine, const char* currentDirectory,
                      ProcessHandle* process) override;
  // Starts only when the file `image` holds bytes that match the pin.
  bool CreateProcessPinnedA(char* commandLine, const char* currentDirectory, const char* image,
                            ContentPin* pin, ProcessHandle* process) override;
  bool WaitForProcess(ProcessHandle process) override;
  bool GetExitCodeProcess(ProcessHandle process, uint32_t* code) override;
  void CloseProcess(ProcessHandle process) override;
  bool IsWindowStationVisible() override { return true; }
  bool WriteEventLogEntry(const char* source, uint16_t type, uint32_t id,
                          const char* const* strings, uint16_t count, const char* text) override;
  bool GetComputerNameA(TextString* name) override { return name->SetText("FUZZ"); }
  bool GetUserNameA(TextString* name) override { return name->SetText("fuzzer"); }
  void GetLocalTime(LocalTime* time) override { *time = {2026, 12, 8, 1, 2, 3}; }
  uint32_t GetCurrentProcessId() override { return 4242; }
  // No system folder, paths as given, and UTF-8 text, as on Linux.
  bool GetSystemDirectoryA(TextString* /*folder*/) override { return false; }
  bool GetFullPathNameA(const char* path, TextString* full) override {
    return path != nullptr && *path != '\0' && full->SetText(path);
  }
  bool IsDBCSLeadByte(uint8_t /*byte*/) override { return false; }

 private:
  struct Parsed {
    std::string contents;
    std::unique_ptr<ProfileData> data;
  };
  // The parse of a file as it is now; null when there is no such file.
  const ProfileData* Profile(const std::string& path);
  void AfterError(const char* what);
  // After an error box a rollback run may move and delete the files it changed before it, to
  // undo them; anything else is a breach.
  void AfterErrorUnlessUndo(const char* what, const std::string& first, const std::string& second);
  void Touch(const std::string& path);
  void Rename(const std::string& from, const std::string& to);
  static constexpr unsigned kUndoFailedMessage = 11;
  struct OpenFile {
    std::string path;
    uint64_t identity;
    FileAccess access;
    std::string detached;  // the contents once the file has no name any more
  };
  // The open file of a handle (null, and a violation, for one that is not open) and its bytes.
  OpenFile* Open(FileHandle file);
  std::string& Contents(OpenFile* open);
  // The identity of the file `path` names now; a deleted or replaced file's is never given again.
  uint64_t IdentityOf(const std::string& path);

  std::map<std::string, Parsed> parsed_;
  ProfileData registry_;
  bool registryParsed_ = false;
  struct Key {
    bool open;
    std::string path;
  };
  std::vector<Key> keys_;  // handle i + 1 is keys_[i]
  std::set<ProcessHandle> openProcesses_;
  std::map<std::string, uint64_t> identities_;
  uint64_t nextIdentity_ = 1;
  std::map<FileHandle, OpenFile> openFiles_;
  std::map<FileHandle, std::string> openFolders_;  // the path of each open folder
  // `name` (one step) in the open folder `folder`; "" when either is not so.
  std::string InFolder(FileHandle folder, const char* name) const;
  FileHandle nextFile_ = 1;
  ProcessHandle nextProcess_ = 100;
  size_t waits_ = 0;
  bool loadingError_ = false;  // LoadStringW was called: the next box is an error box
  unsigned loadingMessage_ = 0;
  std::set<std::string> touched_;  // the files the run changed before its error box
  bool errorShown_ = false;
};

// The folder of the rollback journals in memory.
constexpr const char* kJournalFolder = "/journal";

// Joins a relative path to "/fuzz"; an absolute path is kept.
std::string FuzzPath(const std::string& path);

}  // namespace fuzz
}  // namespace kestario

#endif  // KESTARIO_FUZZ_SUPPORT_MEMORY_SYSTEM_H_
