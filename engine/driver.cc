#include "engine/driver.h"

#include "engine/context.h"
#include "engine/procedures.h"
#include "engine/restart_copies.h"
#include "engine/rollback.h"
#include "engine/run.h"
#include "engine/run_end.h"
#include "engine/run_state.h"
#include "engine/script_policy.h"
#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/stop_signals.h"
#include "platform/system.h"
#include "runlog/log_grammar.h"
#include "runlog/run_log.h"
#include "settings/messages.h"
#include "settings/symbols.h"

namespace kestario {
namespace {

// The state of the run, reset when a run starts.
RunState g_runState;

}  // namespace

RunState& CurrentRun() { return g_runState; }

bool StartUp(const char* commandLine) {
  g_runState.Reset();
  PrepareContext(commandLine);
  if (!FileExists(g_appContext.scriptPath.GetConstText())) {
    ReportError(kMsgFileNotFound, g_appContext.scriptPath.GetConstText());
    return false;
  }
  // The machine's signature policy, before anything of the script is read.
  if (!AcceptScriptByPolicy(g_appContext.scriptPath)) return false;
  BeginScriptReads();
  // First of all, how the run's end is to be told: a script that asks for exit codes gets one
  // for every failure from here on.
  ReadRunEndSettings();
  if (!LoadDefinitions()) return false;
  if (!ReadUpdaterSection()) return false;
  if (g_updaterState.name.GetLength() != 0) {
    AnsiToWide(g_updaterState.name.GetConstText(), &g_appContext.caption);
  }
  StartRunLog(g_updaterState.log, g_appContext.modulePath, g_appContext.scriptPath);
  if (IsRunLogOn()) {
    TextString user;
    if (!CurrentSystem().GetUserNameA(&user) || user.GetLength() == 0) user.SetText("-");
    LogLine()
        .Add(runlog::kStart)
        .Quoted(g_appContext.modulePath)
        .Add(runlog::kStartScript)
        .Quoted(g_appContext.scriptPath)
        .Add(runlog::kStartCaption)
        .Quoted(g_appContext.caption)
        .Add(runlog::kStartUser)
        .Quoted(user)
        .Write();
  }
  return true;
}

bool ReadUpdaterSection() {
  g_updaterState.rollback = 0;
  if (!ReadSetting("UPDATER", "NAME", &g_updaterState.name)) return false;
  if (!ReadSetting("UPDATER", "PROC", &g_updaterState.proc)) return false;
  // LOG is optional: absent, it is empty, and there is no log.
  if (!ReadOptionalSetting("UPDATER", "LOG", &g_updaterState.log)) g_updaterState.log.SetText("");
  // So is ROLLBACK, a number like ISWAIT: absent, it is 0, and nothing is kept or undone.
  ReadOptionalSettingInt("UPDATER", "ROLLBACK", &g_updaterState.rollback);
  return true;
}

bool RunUpdater() {
  if (BuildProcedureList(g_updaterState.proc, "UPDATER", "PROC") == nullptr) return false;
  if (!RunProcedureList(TopList())) return false;
  FreeList(TopList());
  return true;
}

bool RunWithRollback(RunUndo* undo) {
  bool finished = BeginRollback(g_updaterState.rollback != 0) && RunUpdater();
  undo->undone = EndRollback(finished, &undo->notUndone);
  EndRestartCopies(finished);
  return finished;
}

RunSummary RunScript(const char* commandLine) {
  RunSummary summary;
  bool finished = StartUp(commandLine) && RunWithRollback(&summary.undo);
  summary.exitCode = EndRun(finished, summary.undo, &summary.outcome);
  summary.exitCodesAsked = ExitCodesAsked();
  summary.rollback = g_updaterState.rollback != 0;
  StopRunLog();
  FreeAllLists();
  ReleaseScript();
  return summary;
}

int UpdaterMain(const char* commandLine) { return RunScript(commandLine).exitCode; }

int UpdaterProcessMain(const char* commandLine) {
  CatchStopSignals();
  int exitCode = UpdaterMain(commandLine);
  if (!ExitCodesAsked()) EndByCaughtSignal();
  return exitCode;
}

}  // namespace kestario
