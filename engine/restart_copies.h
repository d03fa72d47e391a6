// A COPY onto a file that an earlier run arranged to replace at the next restart (COPY's INUSE: a
// staged ".kestario-ID-N.new" and a pending rename of it onto the file) supersedes that
// arrangement: the pending rename is cancelled and the staged file removed, so that the restart
// never puts the older version back over the newer one. A rollback run does so when it finishes:
// one that stops, and is undone, leaves the arrangement as it found it.
#ifndef KESTARIO_ENGINE_RESTART_COPIES_H_
#define KESTARIO_ENGINE_RESTART_COPIES_H_

#include "engine/procedures.h"
#include "text/text_string.h"

namespace kestario {

// After a COPY pair of `record` was made onto `destination`; `stagedNow` names the copy that this
// pair itself staged for the restart (empty for none), which stays.
void SupersedeRestartCopies(const ProcedureRecord& record, const TextString& destination,
                            const TextString& stagedNow);

// The end of the run: a finished rollback run carries out what it put off; either way nothing is
// left for the next run.
void EndRestartCopies(bool finished);

}  // namespace kestario

#endif  // KESTARIO_ENGINE_RESTART_COPIES_H_
