// The undo policy of a rollback run: a change is put back, or a file the run made removed, only
// while everything is as the run left it (the folder, the kept file, the file in place); anything
// else stays for the administrator, and the first such change is named in one box (message 11).
#ifndef KESTARIO_ENGINE_UNDO_H_
#define KESTARIO_ENGINE_UNDO_H_

#include <cstdint>

#include "engine/journal_file.h"
#include "engine/journal_format.h"
#include "text/text_string.h"

namespace kestario {
namespace rollback {

// How an undo that found something else than the run left it is told.
struct UndoFailure {
  TextString path;  // the file
  TextString kept;  // where the old file stays ("" for none)
};

// What undoing journals came to.
struct UndoCount {
  int32_t undone = 0;
  int32_t failed = 0;
  UndoFailure first;  // the first change that could not be undone
};

// Undoes every change of `journal`, newest first, each in the log.
void UndoAll(const journal::Journal& journal, UndoCount* count);
// Removes what a finished run kept (never a copy staged for a restart: that one is still to
// come), as its journal names it: a kept file only while it is still the one kept. A file still
// in use goes later, recorded in `file`.
void RemoveKept(const journal::Journal& journal, JournalFile* file);
// Message 11 naming the first change that could not be undone; nothing when all were.
void ReportUndoFailure(const UndoCount& count);

}  // namespace rollback
}  // namespace kestario

#endif  // KESTARIO_ENGINE_UNDO_H_
