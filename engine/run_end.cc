#include "engine/run_end.h"

#include "engine/context.h"
#include "engine/rollback.h"
#include "engine/run.h"
#include "engine/run_state.h"
#include "engine/script_policy.h"
#include "platform/encoding.h"
#include "platform/stop_signals.h"
#include "platform/system.h"
#include "runlog/log_grammar.h"
#include "runlog/run_log.h"
#include "settings/messages.h"
#include "settings/symbols.h"
#include "text/text_string.h"

namespace kestario {
namespace {

// The source of the run's events: on Windows the name under which the program's message table is
// registered with the event log, on Linux the ident of its syslog lines.
const char* const kEventSource = kPathSeparator == '\\' ? "Kestario Updater" : "kestario-updater";

// This run's settings: its part of the run state.
RunEndSettings& g_runEnd = CurrentRun().endSettings;

using Outcome = RunOutcome;

Outcome OutcomeOf(bool finished) {
  if (finished) return Outcome::kFinished;
  if (StoppedByAnswer() != nullptr) return Outcome::kCancelled;
  // A run that stops without an answer has shown an error box where it stopped, unless a stop
  // signal stopped it first (a signal during the error box leaves the box the cause).
  if (StoppingErrorNumber() == 0 && CaughtStopSignal() != 0) return Outcome::kSignalled;
  return Outcome::kFailed;
}

int ExitCodeOf(Outcome outcome) {
  if (g_runEnd.exitCode == 0) return 0;
  switch (outcome) {
    case Outcome::kFinished:
      break;
    case Outcome::kCancelled:
      return kExitCancelled;
    case Outcome::kFailed:
    case Outcome::kSignalled:
      return kExitFailed;
  }
  return IsRestartPending() ? kExitRestartNeeded : kExitFinished;
}

// The run log's last line: how the run ended, in a rollback run that stopped how many of its
// changes were undone, and the exit code when the script asks for codes.
void LogEnd(Outcome outcome, const RunUndo& undo, int exitCode) {
  if (!IsRunLogOn()) return;
  bool finished = outcome == Outcome::kFinished;
  LogLine line;
  line.Add(runlog::kEnd);
  if (finished) {
    line.Add(runlog::kFinished);
  } else if (outcome == Outcome::kCancelled) {
    line.Add(runlog::kStoppedByAnswer).Add(StoppedByAnswer());
  } else if (outcome == Outcome::kSignalled) {
    line.Add(runlog::kStoppedBySignal).Number(CaughtStopSignal());
  } else if (StoppingErrorNumber() != 0) {
    line.Add(runlog::kStoppedByMessage).Number(StoppingErrorNumber());
  } else {
    line.Add(runlog::kStopped);
  }
  if (!finished && IsRollbackOn()) {
    line.Add(runlog::kDetails).Number(undo.undone).Add(undo.undone == 1 ? " change" : " changes");
    line.Add(" rolled back");
    if (undo.notUndone != 0) line.Add(", ").Number(undo.notUndone).Add(" could not be");
  }
  if (g_runEnd.exitCode != 0) line.Add(runlog::kDetails).Add("exit code ").Number(exitCode);
  line.Write();
}

// The text of an event as the system's log shows it: the template of events.def with %1 to %6
// filled in from `strings` (a missing one is empty) and %n made a line feed.
bool FillEventText(const char* pattern, const TextString* strings, int count, TextString* text) {
  bool complete = text->SetText("");
  const char* plain = pattern;
  for (const char* at = pattern; *at != '\0'; ++at) {
    if (at[0] != '%' || (at[1] != 'n' && (at[1] < '1' || at[1] > '6'))) continue;
    TextString piece(plain);
    if (piece.GetLength() < at - plain) return false;  // no memory for the copy
    piece.GetText()[at - plain] = '\0';
    complete = complete && text->AppendText(piece.GetConstText());
    int index = at[1] - '1';
    const char* insert = at[1] == 'n' ? "\n" : index < count ? strings[index].GetConstText() : "";
    complete = complete && text->AppendText(insert);
    plain = ++at + 1;
  }
  return complete && text->AppendText(plain);
}

const char* EventPattern(RunEventId id) {
  switch (id) {
#define KESTARIO_EVENT(number, name, pattern) \
  case name:                                  \
    return pattern;
#include "resources/events.def"
#undef KESTARIO_EVENT
  }
  return "";
}

constexpr int kMostStrings = 6;

// The first four strings of every event: the script, the caption, the computer and the user.
bool FillCommonStrings(TextString* strings) {
  System& system = CurrentSystem();
  TextString computer;
  TextString user;
  if (!system.GetComputerNameA(&computer)) computer.SetText("-");
  if (!system.GetUserNameA(&user)) user.SetText("-");
  // UTF-8: the script's and the system's texts are in the ANSI code page, the caption UTF-16.
  return AnsiToUtf8(g_appContext.scriptPath.GetConstText(), &strings[0]) &&
         WideToUtf8(g_appContext.caption, &strings[1]) &&
         AnsiToUtf8(computer.GetConstText(), &strings[2]) &&
         AnsiToUtf8(user.GetConstText(), &strings[3]);
}

void SendEvent(bool complete, uint16_t type, RunEventId id, const TextString* strings, int count) {
  TextString text;
  // An event that memory cannot hold whole is not written, as a log line is not.
  if (!complete || !FillEventText(EventPattern(id), strings, count, &text)) return;
  const char* pointers[kMostStrings];
  for (int i = 0; i < count; ++i) pointers[i] = strings[i].GetConstText();
  CurrentSystem().WriteEventLogEntry(kEventSource, type, id, pointers, static_cast<uint16_t>(count),
                                     text.GetConstText());
}

// The event of the run: its type, ID and strings (events.def says which string is which).
void WriteEvent(Outcome outcome) {
  TextString strings[kMostStrings];
  bool complete = FillCommonStrings(strings);
  int count = 4;
  uint16_t type = kEventTypeInformation;
  RunEventId id = IsRestartPending() ? kEventFinishedRestart : kEventFinished;
  if (outcome == Outcome::kCancelled) {
    type = kEventTypeWarning;
    id = kEventCancelled;
    complete = complete && AnsiToUtf8(StoppedByAnswer(), &strings[4]);
    count = 5;
  } else if (outcome == Outcome::kSignalled) {
    type = kEventTypeError;
    id = kEventSignalled;
    complete = complete && strings[4].Format("%d", CaughtStopSignal()).GetLength() > 0;
    count = 5;
  } else if (outcome == Outcome::kFailed) {
    type = kEventTypeError;
    id = kEventFailed;
    complete = complete && strings[4].Format("%d", StoppingErrorNumber()).GetLength() > 0;
    complete = complete && WideToUtf8(StoppingErrorText(), &strings[5]);
    count = 6;
  }
  SendEvent(complete, type, id, strings, count);
}

// The event of a script that the machine's signature policy refused: written whatever the script
// says, since nothing of it was read.
void WriteRefusalEvent(const char* reason) {
  TextString strings[kMostStrings];
  bool complete = FillCommonStrings(strings) && strings[4].SetText(reason);
  SendEvent(complete, kEventTypeError, kEventScriptRefused, strings, 5);
}

}  // namespace

void ReadRunEndSettings() {
  ReadOptionalSettingInt("UPDATER", "EXITCODE", &g_runEnd.exitCode);
  ReadOptionalSettingInt("UPDATER", "EVENTLOG", &g_runEnd.eventLog);
}

bool ExitCodesAsked() { return g_runEnd.exitCode != 0; }

int EndRun(bool finished, const RunUndo& undo, RunOutcome* ended) {
  Outcome outcome = OutcomeOf(finished);
  if (ended != nullptr) *ended = outcome;
  if (ScriptRefusal() != nullptr) {
    // Nothing of the script was read: neither its log nor its EXITCODE or EVENTLOG.
    WriteRefusalEvent(ScriptRefusal());
    return kExitFailed;
  }
  int exitCode = ExitCodeOf(outcome);
  LogEnd(outcome, undo, exitCode);
  if (g_runEnd.eventLog != 0) WriteEvent(outcome);
  return exitCode;
}

void WriteJournalEvent(const char* journal, const char* damaged, const char* notUndone) {
  if (g_runEnd.eventLog == 0) return;
  TextString strings[kMostStrings];
  bool complete = FillCommonStrings(strings) && AnsiToUtf8(journal, &strings[4]) &&
                  strings[5].SetText(damaged) && strings[5].AppendText(" / ") &&
                  strings[5].AppendText(notUndone);
  SendEvent(complete, kEventTypeWarning, kEventJournalDamaged, strings, kMostStrings);
}

}  // namespace kestario
