// The rollback journal on the disk: opened and locked, read whole, and appended to one flushed
// record at a time. What the bytes mean is engine/journal_format.h.
#ifndef KESTARIO_ENGINE_JOURNAL_FILE_H_
#define KESTARIO_ENGINE_JOURNAL_FILE_H_

#include <cstdint>

#include "engine/journal_format.h"
#include "platform/system.h"
#include "text/byte_buffer.h"
#include "text/text_string.h"

namespace kestario {
namespace rollback {

// An open, locked journal.
struct JournalFile {
  FileHandle file = kNoFile;
  uint64_t size = 0;  // its bytes so far
  TextString path;
};

// Opens and locks the journal at `path`, made when missing with `create`. `wait` waits while
// another run holds it; otherwise a held journal is not opened. A lock on a file that is no
// longer at `path` (set aside meanwhile by the run that held it) is given up and tried again.
bool LockJournalAt(const TextString& path, bool create, bool wait, JournalFile* journal);
// Unlocks and closes it; nothing when it is not open.
void CloseJournal(JournalFile* journal);
// Reads the whole journal into `journal` (what cannot be read counts as never written). False
// when it is too large or memory runs out.
bool ReadJournal(const JournalFile& file, journal::Journal* journal);
// Appends a finished record and flushes the journal; on failure the journal is cut back to where
// it was, so that no torn record hides the records written after it.
bool AppendRecord(JournalFile* journal, const ByteBuffer& record);
// Appends a leftover ('L'): a file set aside, to be removed when it is free.
bool AppendLeftover(JournalFile* journal, const TextString& path);

}  // namespace rollback
}  // namespace kestario

#endif  // KESTARIO_ENGINE_JOURNAL_FILE_H_
