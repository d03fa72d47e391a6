#include "engine/driver.h"

#include "engine/context.h"
#include "engine/procedures.h"
#include "engine/rollback.h"
#include "engine/run.h"
#include "platform/encoding.h"
#include "platform/files.h"
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
  if (!ReadSetting("UPDATER", "NAME", &g_updaterState.name)) return false;
  if (!ReadSetting("UPDATER", "PROC", &g_updaterState.proc)) return false;
  // LOG is optional: absent, it is empty, and there is no log.
  if (!ReadOptionalSetting("UPDATER", "LOG", &g_updaterState.log)) g_updaterState.log.SetText("");
  // So is ROLLBACK, a number like ISWAIT: absent, it is 0, and nothing is kept or undone.
  ReadOptionalSettingInt("UPDATER", "ROLLBACK", &g_updaterState.rollback);
  return true;
}

namespace {

// The run log's last line: how the run ended, and in a rollback run that stopped, how many of its
// changes were undone.
void LogEnd(const RunEnd& end) {
  if (!IsRunLogOn()) return;
  LogLine line;
  line.Add("end: ");
  if (end.finished) {
    line.Add("finished");
  } else if (StoppedByAnswer() != nullptr) {
    line.Add("stopped by the answer to ").Add(StoppedByAnswer());
  } else if (end.stoppedBy != 0) {
    line.Add("stopped by message ").Number(end.stoppedBy);
  } else {
    line.Add("stopped");
  }
  if (!end.finished && IsRollbackOn()) {
    line.Add("; ").Number(end.undone).Add(end.undone == 1 ? " change" : " changes");
    line.Add(" rolled back");
    if (end.notUndone != 0) line.Add(", ").Number(end.notUndone).Add(" could not be");
  }
  line.Write();
}

}  // namespace

bool RunUpdater() {
  if (BuildProcedureList(g_updaterState.proc, "UPDATER", "PROC") == nullptr) return false;
  if (!RunProcedureList(TopList())) return false;
  FreeList(TopList());
  return true;
}

RunEnd RunWithRollback() {
  RunEnd end;
  end.finished = BeginRollback(g_updaterState.rollback != 0) && RunUpdater();
  end.stoppedBy = LastReportedMessage();  // before an undo that fails shows its own
  end.undone = EndRollback(end.finished, &end.notUndone);
  return end;
}

int UpdaterMain(const char* commandLine) {
  ForgetStoppingAnswer();
  if (StartUp(commandLine)) LogEnd(RunWithRollback());
  StopRunLog();
  FreeAllLists();
  return 0;
}

}  // namespace kestario
