#include "engine/driver.h"

#include "engine/context.h"
#include "engine/procedures.h"
#include "engine/run.h"
#include "platform/files.h"
#include "settings/messages.h"
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
  if (g_updaterState.name.GetLength() != 0) g_appContext.caption.Assign(g_updaterState.name);
  return true;
}

bool ReadUpdaterSection() {
  g_updaterState.listStack.count = 0;
  if (!ReadSetting("UPDATER", "NAME", &g_updaterState.name)) return false;
  return ReadSetting("UPDATER", "PROC", &g_updaterState.proc);
}

bool RunUpdater() {
  if (BuildProcedureList(g_updaterState.proc, "UPDATER", "PROC") == nullptr) return false;
  if (!RunProcedureList(TopList())) return false;
  FreeList(TopList());
  return true;
}

int UpdaterMain(const char* commandLine) {
  if (StartUp(commandLine)) RunUpdater();
  FreeAllLists();
  return 0;
}

}  // namespace kestario
