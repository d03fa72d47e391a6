// The system the checker's checks read through, and the swap that puts a system of the checker's
// in place for a while. Both stand between the checker and the real system.
#ifndef KESTARIO_TOOLS_CHECKER_READ_ONLY_SYSTEM_H_
#define KESTARIO_TOOLS_CHECKER_READ_ONLY_SYSTEM_H_

#include "platform/forwarding_system.h"

namespace kestario {
namespace checker {

// The system the checks read through: everything that only reads is passed on, everything that
// would show, change or start something is refused.
class ReadOnlySystem : public ForwardingSystem {
 public:
  using ForwardingSystem::ForwardingSystem;

  int MessageBoxW(const char16_t* /*text*/, const char16_t* /*caption*/,
                  unsigned /*style*/) override {
    return 0;
  }
  bool DeleteFileA(const char* /*path*/) override { return false; }
  bool CopyFileA(const char* /*from*/, const char* /*to*/, bool /*failIfExists*/) override {
    return false;
  }
  bool MoveFileAsideA(const char* /*path*/, const KeptFileNames& /*names*/, KeptAs* as) override {
    *as = KeptAs::kNone;
    return false;
  }
  CopyOutcome CopyFileOverA(const char* /*from*/, const char* /*to*/,
                            const KeptFileNames* /*names*/, uint32_t /*flags*/, ContentPin* /*pin*/,
                            KeptAs* as) override {
    *as = KeptAs::kNone;
    return CopyOutcome::kFailed;
  }
  bool MoveFileExA(const char* /*from*/, const char* /*to*/, uint32_t /*flags*/) override {
    return false;
  }
  bool SetFileAttributesA(const char* /*path*/, uint32_t /*attributes*/) override { return false; }
  bool MoveFileInFolderA(FileHandle /*folder*/, const char* /*from*/, const char* /*to*/,
                         uint32_t /*flags*/) override {
    return false;
  }
  bool DeleteFileInFolderA(FileHandle /*folder*/, const char* /*name*/) override { return false; }
  bool ClearFileAttributesInFolderA(FileHandle /*folder*/, const char* /*name*/,
                                    uint32_t /*attributes*/) override {
    return false;
  }
  // Finds, never cancels.
  bool PendingRenamesOntoA(const char* to, const char* pattern, const char* keep, bool /*cancel*/,
                           ByteBuffer* sources) override {
    return ForwardingSystem::PendingRenamesOntoA(to, pattern, keep, false, sources);
  }
  // Never makes the folder.
  bool GetPrivateDataFolderA(const char* name, TextString* folder, bool /*create*/) override {
    return ForwardingSystem::GetPrivateDataFolderA(name, folder, false);
  }
  // Files open for reading only, so that nothing is ever written or cut.
  FileHandle CreateFileA(const char* path, FileAccess access) override {
    return access == FileAccess::kRead ? ForwardingSystem::CreateFileA(path, access) : kNoFile;
  }
  bool WriteEventLogEntry(const char* /*source*/, uint16_t /*type*/, uint32_t /*id*/,
                          const char* const* /*strings*/, uint16_t /*count*/,
                          const char* /*text*/) override {
    return false;
  }
  bool CreateProcessA(char* /*commandLine*/, const char* /*currentDirectory*/,
                      ProcessHandle* process) override {
    *process = kNoProcess;
    return false;
  }
  bool CreateProcessPinnedA(char* /*commandLine*/, const char* /*currentDirectory*/,
                            const char* /*image*/, ContentPin* /*pin*/,
                            ProcessHandle* process) override {
    *process = kNoProcess;
    return false;
  }
  bool WaitForProcess(ProcessHandle /*process*/) override { return false; }
  bool GetExitCodeProcess(ProcessHandle /*process*/, uint32_t* /*code*/) override { return false; }
  void CloseProcess(ProcessHandle /*process*/) override {}
};

// Puts `replacement` in place as the current system for its lifetime, and the previous one back
// after.
class SystemSwap {
 public:
  explicit SystemSwap(System* replacement) : previous_(&CurrentSystem()) { SetSystem(replacement); }
  ~SystemSwap() { SetSystem(previous_ == &RealSystem() ? nullptr : previous_); }
  SystemSwap(const SystemSwap&) = delete;
  SystemSwap& operator=(const SystemSwap&) = delete;

 private:
  System* previous_;
};

}  // namespace checker
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CHECKER_READ_ONLY_SYSTEM_H_
