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
//   GetBinaryTypeA. Nothing is ever in use: a COPY that keeps the replaced file keeps it, and is
//   done; MoveFileExA renames files (no folders) and nothing waits for a restart
//   (PendingRenamesOntoA finds none). The volume has room for everything. A file's identity
//   (GetFileStampA) is its name's hash (a rename makes another file); its time is 0.
//   GetPrivateDataFolderA gives kJournalFolder, made when asked to.
// - File handles (CreateFileA) are on the in-memory files (the run log's writes go on after an
//   error box, which ends the run). A handle keeps the file it opened: once that file is deleted
//   or copied over, the handle reads and writes a file of its own that no name reaches.
// - The machine is "FUZZ", its user "fuzzer", the time 2026-12-08 01:02:03, the process 4242;
//   the window station is visible. No system folder, paths as given, and UTF-8 text (no lead
//   bytes), as on Linux.
// - CreateProcessA and WaitForProcess succeed unless the matching bit of the fail masks is set;
//   CreateProcessPinnedA starts only when the file `image` holds bytes that match the pin.
// - A folder from OpenFolderA is its path: the calls in it act on the path and the name.
//   HoldPrivateProfileA gives the file's bytes as they are (nothing can change them meanwhile);
//   the registry lists no values (RegEnumValueA), so no machine policy is ever found in it.
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
#include "platform/system_calls.h"

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

  // Every call of System (platform/system_calls.h); what each does here is said above, and
  // beside the call in memory_system.cc.
  ALL_SYSTEM_CALLS(DECLARE_SYSTEM_CALL)

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
  FileHandle nextFile_ = 1;
  ProcessHandle nextProcess_ = 100;
  size_t waits_ = 0;
  bool loadingError_ = false;  // LoadStringW was called: the next box is an error box
  unsigned loadingMessage_ = 0;
  std::set<std::string> touched_;  // the files the run changed before its error box
  bool errorShown_ = false;

  // `name` (one step) in the open folder `folder`; "" when either is not so.
  std::string InFolder(FileHandle folder, const char* name) const;
};

// The folder of the rollback journals in memory.
constexpr const char* kJournalFolder = "/journal";

// Joins a relative path to "/fuzz"; an absolute path is kept.
std::string FuzzPath(const std::string& path);

}  // namespace fuzz
}  // namespace kestario

#endif  // KESTARIO_FUZZ_SUPPORT_MEMORY_SYSTEM_H_
