#include "engine/context.h"

#include "platform/encoding.h"
#include "platform/system.h"
#include "runlog/run_log.h"
#include "settings/messages.h"

namespace kestario {

// Defined together so that they are constructed in this order and destroyed in the reverse.
AppContext g_appContext;
SymbolTable g_symbolTable;
UpdaterState g_updaterState;

namespace {

// The size Windows gives a path; a longer executable path is asked for again with more room.
constexpr uint32_t kPathBufferSize = 260;
constexpr uint32_t kLongestPath = 32768;

void ReadModulePath(TextString* path) {
  for (uint32_t size = kPathBufferSize; size <= kLongestPath; size *= 2) {
    if (!path->Allocate(size)) break;
    uint32_t written = CurrentSystem().GetModuleFileNameA(path->GetText(), size);
    if (written < size) {
      path->Compact();
      return;
    }
  }
  // No path (or no memory): the script then cannot be found, which start-up reports.
  path->SetText("");
}

}  // namespace

bool TakeCaptionFromCommandLine() {
  if (g_appContext.commandLine.GetLength() == 0) return false;
  TextString word = g_appContext.commandLine.GetWord(0);
  word.Trim("\"");
  return word.GetLength() != 0 && AnsiToWide(word.GetConstText(), &g_appContext.caption);
}

void PrepareContext(const char* commandLine) {
  BindErrorCaption(&g_appContext.caption);
  BindScript(&g_appContext.scriptPath, &g_appContext.modulePath, &g_symbolTable);

  g_appContext.commandLine.ClearAndAppend(commandLine);
  if (!TakeCaptionFromCommandLine()) g_appContext.caption.Assign(DefaultCaption());
  ReadModulePath(&g_appContext.modulePath);
  g_appContext.scriptPath.Assign(g_appContext.modulePath);
  g_appContext.scriptPath.ReplaceTokens(-1, -1, ".", "ini");
}

}  // namespace kestario
