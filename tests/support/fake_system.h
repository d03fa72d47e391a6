// An in-process System for tests: boxes are answered by the test and recorded, the registry is a
// map, and the program's path, the Windows directory and the desktop's language are whatever the
// test says. Files, profile reads, processes, the catalog and text conversions go on to the real
// system (ForwardingSystem; tests keep files in a temporary folder); file handles are the real
// system's, and every write through them is recorded.
#ifndef KESTARIO_TESTS_SUPPORT_FAKE_SYSTEM_H_
#define KESTARIO_TESTS_SUPPORT_FAKE_SYSTEM_H_

#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/forwarding_system.h"

namespace kestario {

// A box as it was shown, its texts in the bytes the Linux system gives them back in (the script's
// bytes as they were, the program's texts in UTF-8).
struct ShownBox {
  std::string caption;
  std::string text;
  unsigned style;
};

// A UTF-16 text in those bytes.
std::string ShownText(const char16_t* text);
std::string ShownText(const WideText& text);

class FakeSystem : public ForwardingSystem {
 public:
  FakeSystem();
  ~FakeSystem() override;  // restores the real system

  // Answers for the next boxes, in order; a box with no answer left gets kIdOk for an OK box and
  // kIdNo for a Yes/No box.
  std::deque<int> answers;
  std::vector<ShownBox> boxes;
  // The user's desktop language (GetUserDefaultUILanguage).
  uint16_t uiLanguage = kLangJapanese;
  std::string modulePath = "/opt/kestario/updater.run";
  std::string windowsDirectory = "/etc";
  // Key path below HKEY_LOCAL_MACHINE -> value name (upper case; "" the default) -> data.
  std::map<std::string, std::map<std::string, std::string>> registry;
  int openRegistryKeys = 0;
  // What RegistryWritableByOthers answers.
  bool registryWritableByOthers = false;
  // A section whose reading runs out of memory (its entries are left empty); "" for none.
  std::string sectionOutOfMemory;
  int deletes = 0;
  int copies = 0;
  int profileFlushes = 0;
  // Called at every RegOpenKeyExA, before it looks the key up (lets a test act mid-expansion).
  std::function<void()> onRegistryOpen;
  // Called at every MessageBoxA before it is answered (lets a test act while a box is open).
  std::function<void()> onBox;
  // Whether boxes can be seen; each question about it is counted.
  bool windowStationVisible = true;
  int stationQueries = 0;
  // The names GetComputerNameA and GetUserNameA give; an empty one is "cannot tell".
  std::string computerName = "PC-417";
  std::string userName = "tanaka";
  LocalTime localTime = {2026, 12, 8, 9, 30, 5};
  uint32_t processId = 4242;
  // Every WriteFile: the path the handle was opened with and the bytes, one entry per call. With
  // `writeWorks` false every write fails and writes nothing; otherwise the real file is written.
  struct Write {
    std::string path;
    std::string bytes;
  };
  std::vector<Write> writes;
  bool writeWorks = true;
  // Every WriteEventLogEntry, as it was asked for; with `eventWorks` false each one fails.
  struct Event {
    uint16_t type;
    uint32_t id;
    std::vector<std::string> strings;
    std::string text;
  };
  std::vector<Event> events;
  bool eventWorks = true;
  // AccessCheckA and GetBinaryTypeA answer as the real system, except for the paths named here:
  // the rights that a path refuses besides (a test's immutable file, mount point or folder that
  // the user may not write), and whether a path is a program (false: it is not).
  std::map<std::string, uint32_t> refusedRights;
  std::map<std::string, bool> programs;
  // The folder GetPrivateDataFolderA gives (made when asked to); "" for none: the account has no
  // folder it could trust.
  std::string journalFolder;
  // Whether MoveFileExA(from, to) fails (as for a file that is locked meanwhile); null: none does.
  // (Also for MoveFileInFolderA, with the folder's path joined to each name.)
  std::function<bool(const std::string& from, const std::string& to)> moveFails;
  // Called when OpenFolderA has opened a folder, with its path (lets a test replace a folder
  // above it, or it, while the handle is open).
  std::function<void(const std::string& path)> onFolderOpen;
  int moves = 0;
  // Whether every destination of a CopyFileOverA that may replace a file in use is held by a
  // running program: the copy is staged beside it for the next restart (kAtRestart).
  bool destinationsHeld = false;
  // The renames that wait for the next restart, as (staged source, destination): each staged copy
  // adds one; PendingRenamesOntoA finds them (by the destination's path as given) and cancels.
  std::vector<std::pair<std::string, std::string>> pendingRenames;
  // The free space GetDiskFreeSpaceExA gives every folder, on one volume; -1: the real answer.
  int64_t freeSpace = -1;

  void SetAppPath(const std::string& application, const std::string& fullPath);
  void SetAppPathValue(const std::string& application, const std::string& pathValue);

  void GetPrivateProfileSectionA(const char* section, ByteBuffer* entries,
                                 const char* file) override;
  void FlushPrivateProfile(const char* file) override;
  uint16_t GetUserDefaultUILanguage() override { return uiLanguage; }
  int MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) override;
  bool IsWindowStationVisible() override;
  bool WriteEventLogEntry(const char* source, uint16_t type, uint32_t id,
                          const char* const* strings, uint16_t count, const char* text) override;
  uint32_t GetModuleFileNameA(char* buffer, uint32_t size) override;
  uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) override;
  bool GetComputerNameA(TextString* name) override;
  bool GetUserNameA(TextString* name) override;
  void GetLocalTime(LocalTime* time) override;
  uint32_t GetCurrentProcessId() override;
  long RegOpenKeyExA(RegistryHandle root, const char* subKey, uint32_t access,
                     RegistryHandle* result) override;
  long RegQueryValueExA(RegistryHandle key, const char* valueName, uint8_t* data,
                        uint32_t* size) override;
  long RegCloseKey(RegistryHandle key) override;
  // The values of the key in the map's order (names upper case).
  long RegEnumValueA(RegistryHandle key, uint32_t index, TextString* name, uint32_t* type,
                     TextString* data) override;
  bool RegistryWritableByOthers() override { return registryWritableByOthers; }
  bool DeleteFileA(const char* path) override;
  bool MoveFileAsideA(const char* path, const KeptFileNames& names, KeptAs* as) override;
  bool CopyFileA(const char* from, const char* to, bool failIfExists) override;
  CopyOutcome CopyFileOverA(const char* from, const char* to, const KeptFileNames* names,
                            uint32_t flags, ContentPin* pin, KeptAs* as) override;
  bool MoveFileExA(const char* from, const char* to, uint32_t flags) override;
  bool PendingRenamesOntoA(const char* to, const char* pattern, const char* keep, bool cancel,
                           ByteBuffer* sources) override;
  bool GetDiskFreeSpaceExA(const char* folder, uint64_t* available, uint64_t* volume) override;
  bool GetPrivateDataFolderA(const char* name, TextString* folder, bool create) override;
  FileHandle CreateFileA(const char* path, FileAccess access) override;
  bool WriteFile(FileHandle file, uint64_t offset, const char* bytes, uint32_t length,
                 uint32_t* done) override;
  void CloseHandle(FileHandle file) override;
  FileHandle OpenFolderA(const char* path, FileIdentity* identity) override;
  bool MoveFileInFolderA(FileHandle folder, const char* from, const char* to,
                         uint32_t flags) override;
  bool AccessCheckA(const char* path, uint32_t access) override;
  bool GetBinaryTypeA(const char* path, uint32_t* type) override;

 private:
  std::vector<std::string> openKeys_;            // handle i + 1 is openKeys_[i]; "" once closed
  std::map<FileHandle, std::string> openFiles_;  // the path each open file handle was opened with
                                                 // (and each open folder)
};

}  // namespace kestario

#endif  // KESTARIO_TESTS_SUPPORT_FAKE_SYSTEM_H_
