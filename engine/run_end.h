// The end of a run and what the program tells the world about it beyond its run log: its exit
// code, when the script's EXITCODE asks for codes, and one event in the system's log, when its
// EVENTLOG asks for one. Both are keys of section UPDATER, numbers read as ISWAIT is: absent,
// empty, not a number or 0 means off. Without them every run ends with exit code 0 and writes no
// event.
#ifndef KESTARIO_ENGINE_RUN_END_H_
#define KESTARIO_ENGINE_RUN_END_H_

#include <cstdint>

namespace kestario {

// The exit codes of a run with EXITCODE: those of Windows Installer, which every deployment engine
// knows. Linux hands a parent the low 8 bits of a code: 0, 66, 67 and 194.
constexpr int kExitFinished = 0;
constexpr int kExitCancelled = 1602;  // a MSGBOX answer stopped the run (ISABORT)
constexpr int kExitFailed = 1603;  // an error box or a stop signal stopped it, whatever its message
constexpr int kExitRestartNeeded = 3010;  // it finished; a change takes effect after a restart

// The events of EVENTLOG (resources/events.def). Their IDs never change meaning.
enum RunEventId : uint32_t {
#define KESTARIO_EVENT(id, name, text) name = id,
#include "resources/events.def"
#undef KESTARIO_EVENT
};

// UPDATER's EXITCODE and EVENTLOG: the run's part of the run state (engine/run_state.h).
struct RunEndSettings {
  int32_t exitCode = 0;  // EXITCODE: nonzero asks for exit codes
  int32_t eventLog = 0;  // EVENTLOG: nonzero asks for an event
};

// How a run ended.
enum class RunOutcome { kFinished, kCancelled, kFailed, kSignalled };

// Reads UPDATER's EXITCODE and EVENTLOG. Start-up reads them as soon as the script is known to
// exist, before its DEFINE section, NAME and PROC, so that every failure after that point is told
// by the exit code and the event.
void ReadRunEndSettings();
// Whether the script's EXITCODE asks for exit codes.
bool ExitCodesAsked();

// What a rollback run that stopped undid (ROLLBACK): the changes undone and those that could not
// be.
struct RunUndo {
  int32_t undone = 0;
  int32_t notUndone = 0;
};

// Ends a run; `finished` is whether it ran to its end. Writes the run log's end line and, when
// EVENTLOG asks for it, the event (one that cannot be written changes nothing). Returns the exit
// code: 0 without EXITCODE. A run that a stop signal stopped (platform/stop_signals.h) ends as a
// failure: the end line "stopped by signal N", the event kEventSignalled, kExitFailed. A finished
// run that arranged a copy at the next restart (COPY's INUSE) ends with kExitRestartNeeded and the
// event kEventFinishedRestart. A script that the machine's signature policy refused
// (engine/script_policy.h) ends with kExitFailed and the event kEventScriptRefused whatever
// EXITCODE and EVENTLOG would say, since they were not read. `outcome` (when not null) receives
// how the run ended.
int EndRun(bool finished, const RunUndo& undo, RunOutcome* outcome = nullptr);

// The event (when EVENTLOG asks for events) of a rollback journal that could not be read whole:
// where it was set aside, how many parts of it were damaged and how many of its changes could not
// be undone. The run goes on whatever becomes of it.
void WriteJournalEvent(const char* journal, const char* damaged, const char* notUndone);

}  // namespace kestario

#endif  // KESTARIO_ENGINE_RUN_END_H_
