// The system's calls that start programs and wait for them (part of System, system.h).
#ifndef KESTARIO_PLATFORM_PROCESS_CALLS_H_
#define KESTARIO_PLATFORM_PROCESS_CALLS_H_

#include <cstdint>

#include "platform/file_handle_calls.h"

namespace kestario {

using ProcessHandle = uintptr_t;
constexpr ProcessHandle kNoProcess = 0;

class ProcessCalls : public FileHandleCalls {
 public:
  ~ProcessCalls() override;

  // CreateProcessA with the command line (which the call may change) and the current directory.
  virtual bool CreateProcessA(char* commandLine, const char* currentDirectory,
                              ProcessHandle* process) = 0;
  // CreateProcessA of a program whose bytes must match `pin` (ContentPin): `image` (the program,
  // or the batch file or "#!" script that the command line runs) is read once, and what starts is
  // exactly the bytes hashed: Windows opens it denying write and delete sharing and holds it until
  // CloseProcess; Linux starts a sealed private copy of it (memfd, fexecve).
  virtual bool CreateProcessPinnedA(char* commandLine, const char* currentDirectory,
                                    const char* image, ContentPin* pin, ProcessHandle* process) = 0;
  // WaitForSingleObject(process, INFINITE): false when the wait failed (Linux: or a stop signal).
  virtual bool WaitForProcess(ProcessHandle process) = 0;
  // GetExitCodeProcess of a process that has ended; false when it cannot be had.
  virtual bool GetExitCodeProcess(ProcessHandle process, uint32_t* code) = 0;
  // CloseHandle on a process handle from CreateProcess.
  virtual void CloseProcess(ProcessHandle process) = 0;
};

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_PROCESS_CALLS_H_
