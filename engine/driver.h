// The whole run: start-up, the first procedure list, and the end.
#ifndef KESTARIO_ENGINE_DRIVER_H_
#define KESTARIO_ENGINE_DRIVER_H_

#include <cstdint>

namespace kestario {

// Start-up: prepares the context from the command-line text, checks that the script exists (else
// message 1), loads the symbols and reads UPDATER's NAME and PROC; a non-empty NAME becomes the
// caption; then the run log starts (when LOG names one). True when all of that succeeded.
bool StartUp(const char* commandLine);
// Reads NAME and PROC of section UPDATER, and LOG, which may be absent; true when NAME and PROC
// were read.
bool ReadUpdaterSection();
// Builds the first procedure list from PROC, runs it and frees it; true when it ran to its end.
bool RunUpdater();

// How a run ended, for the run log's last line.
struct RunEnd {
  bool finished = false;
  int stoppedBy = 0;      // the message that stopped it; 0: none (an answer, or it finished)
  int32_t undone = 0;     // a rollback run that stopped: the changes undone
  int32_t notUndone = 0;  // and those that could not be
};

// The run after start-up: a rollback run (ROLLBACK) first undoes what an earlier run of the
// script left unfinished; then RunUpdater; then a rollback run removes what it kept when it
// finished, or undoes every change when it stopped.
RunEnd RunWithRollback();

// The program: StartUp, RunUpdater when start-up succeeded, then every list is freed. `commandLine`
// is the text after the program's own name. Always returns 0, the process exit code.
int UpdaterMain(const char* commandLine);

}  // namespace kestario

#endif  // KESTARIO_ENGINE_DRIVER_H_
