// The system of a predicted run (updater-check --what-if): one more implementation of System,
// beside the real ones and the tests' fake, over which the program's own engine runs. It adapts
// the engine's calls to the prediction: what each step would meet comes from StepPredictions
// (predictions.h), which asks the platform's own checks of each call; what the run has changed so
// far is kept in PredictedFiles (predicted_files.h); this class says what each step does, in the
// recorder's events.
//
// - Every call that only reads (profiles, the catalog, the Windows directory, the registry, and
//   whatever the interface gains) goes to the real system unchanged: the ForwardingSystem base.
// - Nothing is written, deleted, copied or started. DeleteFileA, CopyFileA and CreateProcessA
//   check what the platform would check, asking the system underneath (AccessCheckA,
//   GetBinaryTypeA, GetFileAttributesA ...), and report the outcome; a deletion or copy that
//   would succeed is kept in an overlay of the file system, so that AnyFileMatchesA and
//   GetFileLocalDate see a deleted file as gone and a copied one as present, with its source's
//   date and the attributes and rights that the platform gives a copy. A file that the run has
//   written by then (the run log, made or appended to as the run starts) is dated today.
// - A program that would start cannot be followed: every later test on a path under its folder
//   or under a folder named among its parameters is marked uncertain.
// - Where the platform's answer cannot be had without doing the step (a program that may be run
//   but not read, a command line near the system's limit), the step's likelier outcome is taken
//   and it and every step after it are marked uncertain.
// - Boxes are answered by the recorder (WhatIfRecorder), which also receives every event. Their
//   texts reach it in the ANSI code page, like every other text of the report. With --unseen no
//   box can be shown: MessageBoxW answers 0, which the program takes as a box that could not be
//   shown, exactly as on a window station that nobody sees (the same UNSEEN answer, the same
//   end), and the recorder notes the box as not shown.
// - The event of EVENTLOG is not written: WriteEventLogEntry only tells the recorder its type and
// ID.
// - Files opened for writing (the run log) are not written: see CreateFileA. The boxes count as
//   seen (the recorder answers them), and the exit code of a program that would start is not
//   known.
// - GetModuleFileNameA gives the script's own path, so that the script stands beside the program
//   and its folder is <Src>.
#ifndef KESTARIO_TOOLS_CHECKER_SIMULATED_SYSTEM_H_
#define KESTARIO_TOOLS_CHECKER_SIMULATED_SYSTEM_H_

#include <map>
#include <string>
#include <vector>

#include "platform/forwarding_system.h"
#include "tools/checker/predicted_files.h"
#include "tools/checker/predictions.h"
#include "tools/checker/what_if_recorder.h"

namespace kestario {
namespace checker {

class SimulatedSystem : public ForwardingSystem {
 public:
  // `scriptPath` is the script's full path.
  SimulatedSystem(System* base, WhatIfRecorder* recorder, const std::string& scriptPath);

  void GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                TextString* value, const char* file) override;
  void GetPrivateProfileSectionA(const char* section, ByteBuffer* entries,
                                 const char* file) override;
  int LoadStringW(uint16_t language, unsigned id, char16_t* buffer, int size) override;
  int MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) override;
  bool IsWindowStationVisible() override { return true; }
  bool WriteEventLogEntry(const char* source, uint16_t type, uint32_t id,
                          const char* const* strings, uint16_t count, const char* text) override;
  uint32_t GetModuleFileNameA(char* buffer, uint32_t size) override;
  bool DeleteFileA(const char* path) override;
  bool CopyFileA(const char* from, const char* to, bool failIfExists) override;
  // A rollback run: a deleted or replaced file is kept under its hidden name (in the overlay),
  // and the undoing renames are followed. The files of that bookkeeping (names that begin with
  // ".kestario-") show in the events only as what they keep or put back. Nothing is ever in use.
  bool MoveFileAsideA(const char* path, const KeptFileNames& names, KeptAs* as) override;
  CopyOutcome CopyFileOverA(const char* from, const char* to, const KeptFileNames* names,
                            uint32_t flags, ContentPin* pin, KeptAs* as) override;
  bool MoveFileExA(const char* from, const char* to, uint32_t flags) override;
  // Finds the restart renames as the system has them; a cancel is predicted as the deletion of
  // each staged source, and the list is left as it is.
  bool PendingRenamesOntoA(const char* to, const char* pattern, const char* keep, bool cancel,
                           ByteBuffer* sources) override;
  bool SetFileAttributesA(const char* path, uint32_t attributes) override;
  // The journal folder is a stand-in: the journal is kept in memory and never reported.
  bool GetPrivateDataFolderA(const char* name, TextString* folder, bool create) override;
  // What the overlay holds at `path`: the stamp of the real file whose bytes it has (so a kept
  // or copied file is the one the run's undo finds it to be), none for a deleted one; the
  // in-memory journal's identity for the journal.
  bool GetFileStampA(const char* path, FileStamp* stamp) override;
  // A file opened for reading is the real one. One opened for writing is not touched: it gets a
  // handle of the simulation, which checks what the platform would (a regular file, or a new one
  // in a folder that takes it, that the user may write; never the program beside the script),
  // keeps what is written beyond the file's real end in memory, and reports the file as created
  // (at once, as the platform makes it) or replaced (once written or cut).
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
  // A real folder, opened as the system opens it; the names in it are the overlay's, as the
  // calls by path see them.
  FileHandle OpenFolderA(const char* path, FileIdentity* identity) override;
  bool GetFileStampInFolderA(FileHandle folder, const char* name, FileStamp* stamp) override;
  bool MoveFileInFolderA(FileHandle folder, const char* from, const char* to,
                         uint32_t flags) override;
  bool DeleteFileInFolderA(FileHandle folder, const char* name) override;
  bool ClearFileAttributesInFolderA(FileHandle folder, const char* name,
                                    uint32_t attributes) override;
  bool AnyFileMatchesA(const char* path) override;
  uint32_t GetFileAttributesA(const char* path) override;
  bool GetFileLocalDate(const char* path, LocalDate* date) override;
  bool CreateProcessA(char* commandLine, const char* currentDirectory,
                      ProcessHandle* process) override;
  // A pinned copy or start fails when the bytes it would take (the real file whose content the
  // source or program has now) do not match the pin.
  bool CreateProcessPinnedA(char* commandLine, const char* currentDirectory, const char* image,
                            ContentPin* pin, ProcessHandle* process) override;
  bool WaitForProcess(ProcessHandle process) override;
  bool GetExitCodeProcess(ProcessHandle /*process*/, uint32_t* /*code*/) override { return false; }
  void CloseProcess(ProcessHandle process) override;

  // The net effect of the run on the file system, and the programs started, into the report.
  void ReportChanges(WhatIfReport* report) const;

  // Whether `path` names an existing file that is not a folder, overlay included.
  bool IsNonFolder(const char* path) const;

 private:
  using Entry = PredictedFiles::Entry;
  using Destination = StepPredictions::Destination;

  // A file opened for writing, as the simulation keeps it.
  struct Written {
    std::string key;    // its PathKey, links followed
    std::string shown;  // the path as opened
    bool existed = false;
    bool changed = false;
    FileIdentity identity = {};
    std::string real;       // the real file whose first bytes it has ("" for none)
    uint64_t realSize = 0;  // how many of them
    std::string added;      // the bytes after them
  };
  Written* FindWritten(FileHandle file);
  void Changed(Written* file);

  bool IsUncertain(const std::string& path) const;
  // Whether the bytes that `path` has by now match `pin`; a file that cannot be read matches (the
  // step's own check then says what fails). On a mismatch, the event says so, for `kind`.
  bool PinMatches(const std::string& path, ContentPin* pin, const char* kind,
                  const std::string& step);
  void Event(const char* kind, const std::string& text, bool succeeds, bool uncertain = false);
  void MarkUncertain(const std::string& folder);
  // The run's outcome from the current step on depends on what cannot be known without doing it.
  void Unsure(const std::string& why);

  // A rollback run frees nothing while it runs: adds the copy of `from` onto `target` to what its
  // volume must hold, and marks the run uncertain from the copy that would not find room.
  void CountKeptSpace(const char* from, const std::string& target);
  struct Volume {
    uint64_t available;  // free when the run reached it first
    uint64_t needed;     // the bytes of the rollback run's copies onto it so far
    bool warned;
  };

  bool Granted(const std::string& path, uint32_t access) {
    return base()->AccessCheckA(path.c_str(), access);
  }

  WhatIfRecorder* recorder_;
  std::string script_;
  std::string derivedScript_;  // the script's path as the program derives it from its own
  PredictedFiles files_;
  StepPredictions predictions_;
  std::vector<std::string> uncertainFolders_;  // full paths, as Key() gives them
  std::vector<std::string> launched_;
  std::vector<std::string> undone_;  // what a rollback run put back or removed after it stopped
  std::map<FileHandle, Written> written_;
  // The path of each open folder; "" for a name that is not one step.
  std::map<FileHandle, std::string> folders_;
  std::string InFolder(FileHandle folder, const char* name) const;
  FileHandle nextWritten_;
  unsigned pendingMessage_ = 0;  // the catalog text loaded last, until a box shows it
  ProcessHandle lastProcess_ = kNoProcess;
  std::map<uint64_t, Volume> volumes_;  // by the volume's serial number (Linux: the device)
};

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_SIMULATED_SYSTEM_H_
