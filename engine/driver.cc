#include "engine/driver.h"

#include "engine/context.h"
#include "engine/procedures.h"
#include "engine/restart_copies.h"
#include "engine/rollback.h"
#include "engine/run.h"
#include "engine/run_end.h"
#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/stop_signals.h"
#include "platform/system.h"
#include "settings/messages.h"
#include "settings/run_log.h"
#include "settings/symbols.h"

namespace kestario {

bool StartUp(const char* commandLine) {
  PrepareContext(commandLine);
  if (!FileExists(g_appContext.scriptPath.GetConstText())) {
    ReportError(kMsgFileNotFound, g_appContext.scriptPath.GetConstText());
    return false;
  }
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
        .Add("start: program ")
        .Quoted(g_appContext.modulePath)
        .Add(" script ")
        .Quoted(g_appContext.scriptPath)
        .Add(" caption ")
        .Quoted(g_appContext.caption)
        .Add(" user ")
        .Quoted(user)
        .Write();
  }
  return true;
}

bool ReadUpdaterSection() {
  g_updaterState.listStack.count = 0;
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

int UpdaterMain(const char* commandLine) {
  RunUndo undo;
  bool finished = StartUp(commandLine) && RunWithRollback(&undo);
  int exitCode = EndRun(finished, undo);
  StopRunLog();
  FreeAllLists();
  return exitCode;
}

int UpdaterProcessMain(const char* commandLine) {
  CatchStopSignals();
  int exitCode = UpdaterMain(commandLine);
  if (!ExitCodesAsked()) EndByCaughtSignal();
  return exitCode;
}

}  // namespace kestario
