// Files that are in use when the run would remove them: a kept file that a finished run cannot
// delete yet, and a file that a COPY set aside because a program held it (COPY's INUSE). They are
// recorded in the journal as leftovers, and every later run (with rollback or not) removes those
// that are free by then.
#ifndef KESTARIO_ENGINE_FILES_IN_USE_H_
#define KESTARIO_ENGINE_FILES_IN_USE_H_

#include "engine/journal_file.h"
#include "engine/journal_format.h"
#include "text/byte_buffer.h"

namespace kestario {
namespace rollback {

// Tries to remove the files that earlier runs set aside; the indexes of those still in use go to
// `waiting`.
void RemoveLeftovers(const journal::Journal& journal, ByteBuffer* waiting);
// Removes one kept file; true when it was there. One still in use goes later: at the next
// restart when the run may, or with a later run, for which `journal` (when open) records it.
bool RemoveKeptFile(const char* kept, JournalFile* journal);
// The indexes of every leftover of `journal`.
ByteBuffer AllLeftovers(const journal::Journal& journal);

}  // namespace rollback
}  // namespace kestario

#endif  // KESTARIO_ENGINE_FILES_IN_USE_H_
