// The thin layer through which the program reaches the operating system. The calls carry the
// "A" or "W" names of the Win32 functions they stand for (real functions in <windows.h>, not
// macros, so both headers meet in one file), with their shape and meaning: the Windows build
// forwards to them (system_win32.cc), the Linux build meets the same contract with POSIX calls
// (system_posix.cc); above this layer the code is the same. The script's texts are bytes in the
// ANSI code page ("A" calls); the program's own texts are UTF-16 ("W" calls). Tests and fuzz
// targets install their own System to answer boxes, fake the registry or keep files in memory.
//
// System is composed of one interface per role, each in its own header: profile and registry
// (profile_calls.h), user interface and code pages (ui_calls.h), the machine and its event log
// (machine_calls.h), files by name (file_calls.h), open files (file_handle_calls.h), programs
// (process_calls.h). Each role extends the one before it (one chain of single inheritance, so
// that a System is every role at one address); callers pass one System, and a fake overrides
// what it needs.
#ifndef KESTARIO_PLATFORM_SYSTEM_H_
#define KESTARIO_PLATFORM_SYSTEM_H_

#include <cstdint>

#include "platform/file_calls.h"
#include "platform/file_handle_calls.h"
#include "platform/machine_calls.h"
#include "platform/process_calls.h"
#include "platform/profile_calls.h"
#include "platform/ui_calls.h"

namespace kestario {

class System : public ProcessCalls {
 public:
  ~System() override;
};

// The system the program runs on; tests may install another one (null restores the real one).
System& CurrentSystem();
void SetSystem(System* system);
// Counts the SetSystem calls, so that what was asked of one system once is asked again of the next.
uint32_t SystemGeneration();

// The real system of this build.
System& RealSystem();

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_SYSTEM_H_
