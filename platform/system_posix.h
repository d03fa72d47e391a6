// The Linux system: POSIX calls behind the Win32-shaped System interface.
//
// - Profile reads parse the file with ProfileData (profile_reader.h) and keep the parse while the
//   file is unchanged (profile_cache_posix.h); after FlushPrivateProfile the file is looked at
//   once, at the first read. Values and sections are read whole.
// - Message boxes are terminal questions on standard error and standard input
//   (terminal_box_posix.h), their texts turned back into bytes (utf8_posix.h).
// - LoadStringW serves the texts of resources/texts.def, in both languages; the user's language
//   is always Japanese. The ANSI code page is UTF-8 (utf8_posix.h).
// - GetModuleFileNameA gives the real path of the running executable; GetWindowsDirectoryA "/etc";
//   there is no system folder (GetSystemDirectoryA fails). GetFullPathNameA puts the current
//   folder before a relative path and changes nothing else. UTF-8 has no double-byte lead bytes.
// - The registry is a text file in the profile format (docs/registry.md), by default the
//   KESTARIO_REGISTRY_FILE of the build; handles are small integers.
// - Files: file_ops_posix.h, file_handle_posix.h for the calls on handles, and file_checks_posix.h
//   for the questions asked before a change.
// - Processes: command_line_posix.h splits the command line; the child is started with fork and
//   execv, no shell, in the given folder, with /dev/null as its standard input (so that it never
//   takes the answers meant for the boxes); a program that cannot be executed makes
//   CreateProcessA fail. A process handle is the child's pid.
//   CloseProcess on a child still running hands it to a SIGCHLD handler (installed then) that
//   reaps it when it ends, so children started without a wait never pile up as zombies.
// - GetPrivateDataFolderA gives "<base>/<name>-<euid>", made with mode 0700; the base is
//   KESTARIO_JOURNAL_BASE of the build (default /var/tmp, which survives a restart).
// - GetComputerNameA is the host name, GetUserNameA the login name of the real user id; the window
//   station is always visible (the terminal box answers 0 at the end of its input).
// - WriteEventLogEntry sends the event's text to the syslog socket (KESTARIO_SYSLOG_SOCKET of the
//   build, /dev/log by default) as syslog(3) would (the source as ident, facility LOG_USER,
//   the process id), but never blocks: syslog_posix.h. True when the message was handed over.
#ifndef KESTARIO_PLATFORM_SYSTEM_POSIX_H_
#define KESTARIO_PLATFORM_SYSTEM_POSIX_H_

#include <cstddef>

#include "platform/profile_cache_posix.h"
#include "platform/system.h"
#include "text/growable_array.h"

namespace kestario {

class PosixSystem : public System {
 public:
  PosixSystem();
  ~PosixSystem() override;
  PosixSystem(const PosixSystem&) = delete;
  PosixSystem& operator=(const PosixSystem&) = delete;

  // Reads the registry from another file (tests); null restores the file of the build.
  void SetRegistryFile(const char* path);
  const char* RegistryFile() const;
  // Keeps the private data folders below another folder (tests); null restores the build's
  // (KESTARIO_JOURNAL_BASE, /var/tmp by default).
  void SetPrivateDataBase(const char* folder);
  // Sends the events to another syslog socket (tests); null restores the build's.
  void SetSyslogSocket(const char* path);
  // The descriptors of the terminal box (standard input and standard error unless changed).
  void SetTerminal(int inFd, int outFd);

  void GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                TextString* value, const char* file) override;
  void GetPrivateProfileSectionA(const char* section, ByteBuffer* entries,
                                 const char* file) override;
  void FlushPrivateProfile(const char* file) override;
  bool HoldPrivateProfileA(const char* file, ByteBuffer* bytes) override;
  void ReleasePrivateProfileA(const char* file) override;
  uint16_t GetUserDefaultUILanguage() override;
  int LoadStringW(uint16_t language, unsigned id, char16_t* buffer, int size) override;
  int MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) override;
  bool MultiByteToWideChar(unsigned codePage, uint32_t flags, const char* text, uint32_t size,
                           WideText* wide) override;
  bool WideCharToMultiByte(unsigned codePage, const char16_t* text, uint32_t size,
                           TextString* bytes) override;
  bool IsDBCSLeadByte(uint8_t byte) override;
  bool IsWindowStationVisible() override;
  bool WriteEventLogEntry(const char* source, uint16_t type, uint32_t id,
                          const char* const* strings, uint16_t count, const char* text) override;
  uint32_t GetModuleFileNameA(char* buffer, uint32_t size) override;
  uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) override;
  bool GetSystemDirectoryA(TextString* folder) override;
  bool GetComputerNameA(TextString* name) override;
  bool GetUserNameA(TextString* name) override;
  void GetLocalTime(LocalTime* time) override;
  uint32_t GetCurrentProcessId() override;
  long RegOpenKeyExA(RegistryHandle root, const char* subKey, uint32_t access,
                     RegistryHandle* result) override;
  long RegQueryValueExA(RegistryHandle key, const char* valueName, uint8_t* data,
                        uint32_t* size) override;
  long RegCloseKey(RegistryHandle key) override;
  long RegEnumValueA(RegistryHandle key, uint32_t index, TextString* name, uint32_t* type,
                     TextString* data) override;
  // The registry file (path_owners_posix.h).
  bool RegistryWritableByOthers() override;
  bool DeleteFileA(const char* path) override;
  bool MoveFileAsideA(const char* path, const KeptFileNames& names, KeptAs* as) override;
  bool CopyFileA(const char* from, const char* to, bool failIfExists) override;
  CopyOutcome CopyFileOverA(const char* from, const char* to, const KeptFileNames* names,
                            uint32_t flags, ContentPin* pin, KeptAs* as) override;
  bool MoveFileExA(const char* from, const char* to, uint32_t flags) override;
  bool SetFileAttributesA(const char* path, uint32_t attributes) override;
  bool GetFinalPathNameA(const char* path, TextString* finalPath) override;
  bool GetFileStampA(const char* path, FileStamp* stamp) override;
  bool ListFilesA(const char* folder, const char* suffix, ByteBuffer* names) override;
  bool PendingRenamesOntoA(const char* to, const char* pattern, const char* keep, bool cancel,
                           ByteBuffer* sources) override;
  bool GetDiskFreeSpaceExA(const char* folder, uint64_t* available, uint64_t* volume) override;
  bool GetPrivateDataFolderA(const char* name, TextString* folder, bool create) override;
  FileHandle CreateFileA(const char* path, FileAccess access) override;
  bool ReadFile(FileHandle file, uint64_t offset, char* buffer, uint32_t size,
                uint32_t* done) override;
  bool WriteFile(FileHandle file, uint64_t offset, const char* bytes, uint32_t length,
                 uint32_t* done) override;
  bool FlushFileBuffers(FileHandle file) override;
  bool LockFileEx(FileHandle file, uint32_t flags, uint64_t offset, uint64_t length) override;
  bool UnlockFileEx(FileHandle file, uint64_t offset, uint64_t length) override;
  bool GetFileSizeEx(FileHandle file, uint64_t* size) override;
  bool GetFileInformationByHandle(FileHandle file, FileIdentity* identity) override;
  bool SetEndOfFile(FileHandle file, uint64_t size) override;
  void CloseHandle(FileHandle file) override;
  FileHandle OpenFolderA(const char* path, FileIdentity* identity) override;
  bool GetFileStampInFolderA(FileHandle folder, const char* name, FileStamp* stamp) override;
  bool MoveFileInFolderA(FileHandle folder, const char* from, const char* to,
                         uint32_t flags) override;
  bool DeleteFileInFolderA(FileHandle folder, const char* name) override;
  bool ClearFileAttributesInFolderA(FileHandle folder, const char* name,
                                    uint32_t attributes) override;
  bool AnyFileMatchesA(const char* path) override;
  uint32_t GetFileAttributesA(const char* path) override;
  bool GetFullPathNameA(const char* path, TextString* full) override;
  bool GetFileLocalDate(const char* path, LocalDate* date) override;
  bool AccessCheckA(const char* path, uint32_t access) override;
  bool GetBinaryTypeA(const char* path, uint32_t* type) override;
  bool CreateProcessA(char* commandLine, const char* currentDirectory,
                      ProcessHandle* process) override;
  bool CreateProcessPinnedA(char* commandLine, const char* currentDirectory, const char* image,
                            ContentPin* pin, ProcessHandle* process) override;
  bool WaitForProcess(ProcessHandle process) override;
  bool GetExitCodeProcess(ProcessHandle process, uint32_t* code) override;
  void CloseProcess(ProcessHandle process) override;

  // How many times profile or registry files were read and parsed (for cache tests).
  size_t ProfileLoadCount() const { return profiles_.LoadCount(); }
  // How many registry keys are open now.
  size_t OpenRegistryKeyCount() const;

 private:
  // CreateProcessA; with `image` (an open file, or -1) that file is started (fexecve) instead of
  // the program the command line names, which stays argv[0].
  bool StartProcess(char* commandLine, const char* currentDirectory, int image,
                    ProcessHandle* process);
  ProfileCache profiles_;
  char* registryFile_;  // null: the file of the build
  char* dataBase_;      // null: the folder of the build
  char* syslogSocket_;  // null: the socket of the build
  // Key paths by handle - 1; null for a free slot.
  GrowableArray<char*> openKeys_{4};
  int terminalIn_;
  int terminalOut_;
  ProcessHandle waitedProcess_ = kNoProcess;  // the child waited for last, and how it ended
  int waitedStatus_ = 0;
};

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_SYSTEM_POSIX_H_
