// Undoing the file changes of a run that stops (UPDATER's ROLLBACK), and replacing files that a
// running program holds (COPY's INUSE).
//
// A rollback run writes a journal, a file in this account's journal folder on this machine
// (System::GetPrivateDataFolderA) named after the script's full path. Before the procedures of a
// list run, every change that its DELETE and COPY items may make is recorded there and flushed to
// the disk, each under a number. A DELETE then moves its file aside instead of removing it; a COPY
// keeps the file it replaces, or leaves an empty marker when it makes a new destination. Those
// names lie beside the file, hidden, and follow from the run's id and the change's number
// (".kestario-ID-N.old", ".made", ".new"), so nothing more need be written while the changes are
// made. When the run stops, every change is undone in the reverse order; when it finishes, what was
// kept is removed. A run that was killed or lost its power is undone by the next rollback run of
// the script, before that does anything else, from the journal it left.
//
// This file is the policy of a run: when the journal is opened, what is recorded before each
// change, and what happens at the end. Its pieces: the journal's bytes (journal_format.h), the
// journal on the disk (journal_file.h), putting changes back (undo.h) and files still in use
// (files_in_use.h).
#ifndef KESTARIO_ENGINE_ROLLBACK_H_
#define KESTARIO_ENGINE_ROLLBACK_H_

#include <cstdint>
#include <cstring>

#include "engine/journal_file.h"
#include "engine/procedures.h"
#include "platform/system.h"
#include "text/text_builder.h"
#include "text/text_string.h"

namespace kestario {

// Starts rollback for this run once the run log has started (`on`: UPDATER's ROLLBACK is
// nonzero). Undoes what an earlier run of the script left unfinished (the log says so), removes
// what earlier runs set aside, and opens this run's journal. False after message 11 when an earlier
// change could not be undone: then the run does nothing more. Without rollback: true, nothing done.
bool BeginRollback(bool on);
bool IsRollbackOn();

// Before the procedures of `list` run: records the changes its DELETE and COPY items may make,
// on the disk. When the journal cannot be written, those changes are refused (and the log says
// why): nothing is ever changed that could not be undone.
void RecordPlannedChanges(ProcedureList list);

// A DELETE item of a rollback run: moves the file aside instead of removing it, failing where
// DeleteFileA fails. `kept` receives where it went.
bool DeleteKeepingFile(const DeleteRecord& record, int32_t item, const TextString& path,
                       TextString* kept);

// A COPY item of a rollback run, or one whose INUSE is REPLACE. `kept` receives the name of the
// kept or set-aside old file, or of the staged new one (kAtRestart); empty when there is none.
// `pin` (or null) as for CopyFileOverA.
CopyOutcome CopyKeepingFile(const CopyRecord& record, int32_t item, const TextString& from,
                            const TextString& to, ContentPin* pin, TextString* kept);

// A copy at restart was arranged in this run: the run ends asking for a restart.
bool IsRestartPending();

// The end of a rollback run, after its last box. Finished: what was kept is removed. Stopped:
// every change is undone, newest first, each in the log; when some cannot be, the files stay
// where they are and one box (message 11) names the first. Returns the number of changes undone;
// `notUndone` gets the number that could not be.
int32_t EndRollback(bool finished, int32_t* notUndone);

// ---------------------------------------------------------------------------------------------
// The state of a rollback run: its part of the run state (engine/run_state.h).
// ---------------------------------------------------------------------------------------------

// The names of what this run kept, so that a run that finishes removes just those; one name
// after the other, each ended by a NUL byte. When memory runs out it is `lost`, and the names are
// worked out from the journal instead.
class KeptNames {
 public:
  void Clear() {
    names_.Clear();
    lost_ = false;
  }
  void Add(const TextString& name) {
    // Each name with its NUL byte, so that the names follow one another.
    if (!names_.Append(name.GetConstText(), static_cast<size_t>(name.GetLength()) + 1)) {
      lost_ = true;
    }
  }
  bool lost() const { return lost_; }
  // Calls visit(name) for each name, in the order added.
  template <typename Visit>
  void ForEach(Visit visit) const {
    const char* names = names_.text();
    for (size_t at = 0; at < names_.length(); at += std::strlen(names + at) + 1) visit(names + at);
  }

 private:
  TextBuilder names_;
  bool lost_ = false;
};

struct RollbackState {
  bool on = false;     // UPDATER's ROLLBACK
  bool began = false;  // BeginRollback let the run go on
  rollback::JournalFile journal;
  bool opened = false;  // the journal was looked for (runs without rollback open it on demand)
  TextString runId;     // the id in the names of what this run keeps
  uint32_t nextChange = 1;
  bool restartPending = false;
  KeptNames kept;  // what this run kept (a rollback run)

  // Closes the journal and forgets everything of an earlier run.
  void Reset();
};

}  // namespace kestario

#endif  // KESTARIO_ENGINE_ROLLBACK_H_
