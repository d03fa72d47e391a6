// The records that live from process start to exit, and the first phase of start-up: the
// caption of every box and the paths of the program and its script.
#ifndef KESTARIO_ENGINE_CONTEXT_H_
#define KESTARIO_ENGINE_CONTEXT_H_

#include <cstdint>

#include "engine/procedures.h"
#include "settings/symbols.h"
#include "text/text_string.h"
#include "text/wide_text.h"

namespace kestario {

struct AppContext {
  TextString commandLine;  // the text after the program's own name
  WideText caption;        // the title of every box
  TextString modulePath;   // the running executable's full path
  TextString scriptPath;   // the script: modulePath with the text after its last "." made "ini"
};

struct UpdaterState {
  TextString name;       // UPDATER's NAME, expanded; may be empty
  TextString proc;       // UPDATER's PROC, expanded: the first procedure list
  TextString log;        // UPDATER's LOG, expanded: the run log's file; empty (or absent) for none
  int32_t rollback = 0;  // UPDATER's ROLLBACK ("%d" rules): nonzero undoes a run that stops
};

// The three global records, constructed in this order before the program starts.
extern AppContext g_appContext;
extern SymbolTable g_symbolTable;
extern UpdaterState g_updaterState;

// Takes the command line, sets the caption from its first word or to the default, and finds the
// program's and the script's paths. Also points the settings readers and the error box at the
// global records. What an earlier run left behind is the run state's (engine/run_state.h).
void PrepareContext(const char* commandLine);

// Word 0 of the command line without the double quotes at its ends becomes the caption. False,
// caption unchanged, when that leaves nothing.
bool TakeCaptionFromCommandLine();

}  // namespace kestario

#endif  // KESTARIO_ENGINE_CONTEXT_H_
