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
#include "platform/system_calls.h"
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

  // Every call of System (system_calls.h).
  ALL_SYSTEM_CALLS(DECLARE_SYSTEM_CALL)

  // How many times profile or registry files were read and parsed (for cache tests).
  size_t ProfileLoadCount() const { return profiles_.LoadCount(); }
  // How many registry keys are open now.
  size_t OpenRegistryKeyCount() const;

 private:
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

  // CreateProcessA; with `image` (an open file, or -1) that file is started (fexecve) instead of
  // the program the command line names, which stays argv[0].
  bool StartProcess(char* commandLine, const char* currentDirectory, int image,
                    ProcessHandle* process);
};

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_SYSTEM_POSIX_H_
