// The whole run: start-up, the first procedure list, and the end.
#ifndef KESTARIO_ENGINE_DRIVER_H_
#define KESTARIO_ENGINE_DRIVER_H_

#include "engine/run_end.h"

namespace kestario {

// Start-up: prepares the context from the command-line text, checks that the script exists (else
// message 1) and that the machine's signature policy accepts it (else message 13, and nothing of
// the script is read: engine/script_policy.h), reads UPDATER's EXITCODE and EVENTLOG, loads the
// symbols and reads UPDATER's NAME and PROC; a non-empty NAME becomes the caption; then the run log
// starts (when LOG names one). True when all of that succeeded.
bool StartUp(const char* commandLine);
// Reads NAME and PROC of section UPDATER, and LOG, which may be absent; true when NAME and PROC
// were read.
bool ReadUpdaterSection();
// Builds the first procedure list from PROC, runs it and frees it; true when it ran to its end.
bool RunUpdater();

// The run after start-up: a rollback run (ROLLBACK) first undoes what an earlier run of the
// script left unfinished; then RunUpdater; then a rollback run removes what it kept when it
// finished, or undoes every change when it stopped, and counts in `undo` what it undid. True when
// the run ran to its end.
bool RunWithRollback(RunUndo* undo);

// How a run ended, as RunScript tells it.
struct RunSummary {
  RunOutcome outcome = RunOutcome::kFailed;  // finished, or what stopped it
  int exitCode = 0;                          // the process exit code (run_end.h)
  bool exitCodesAsked = false;               // the script's EXITCODE asks for exit codes
  bool rollback = false;                     // the script's ROLLBACK is on
  RunUndo undo;  // what a rollback run that stopped undid, and could not
};

// One whole run of the script: StartUp (which resets the run state, engine/run_state.h),
// RunWithRollback when start-up succeeded, the end of the run (its log line, its event, its exit
// code), then the log stops and every list is freed. `commandLine` is the text after the
// program's own name. The program (UpdaterMain) and updater-check --what-if both run a script
// through this one function.
RunSummary RunScript(const char* commandLine);

// The program: RunScript. Returns the process exit code: 0, unless the script's EXITCODE asks for
// codes (run_end.h).
int UpdaterMain(const char* commandLine);

// UpdaterMain as the Linux program's process runs it: SIGTERM, SIGINT and SIGHUP are caught first,
// so that such a signal stops the run at its next safe point (its undo, its end line, its event,
// exit code 1603 with EXITCODE); without EXITCODE the process then ends by that signal, as a
// caller always saw it end.
int UpdaterProcessMain(const char* commandLine);

}  // namespace kestario

#endif  // KESTARIO_ENGINE_DRIVER_H_
