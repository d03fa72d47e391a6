#include "engine/journal_file.h"

#include "engine/file_checks.h"

namespace kestario {
namespace rollback {

using journal::Journal;

namespace {

// Where the journal is locked: far past its bytes, which other handles may then still read.
constexpr uint64_t kLockOffset = 1ull << 62;

}  // namespace

// Opens and locks the journal at `path`, made when missing with `create`. `wait` waits while
// another run holds it; otherwise a held journal is not opened. A lock on a file that is no
// longer at `path` (set aside meanwhile by the run that held it) is given up and tried again.
bool LockJournalAt(const TextString& path, bool create, bool wait, JournalFile* journal) {
  System& system = CurrentSystem();
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (!create && !Exists(path.GetConstText())) return false;
    FileHandle file = system.CreateFileA(path.GetConstText(), FileAccess::kReadWrite);
    if (file == kNoFile) return false;
    uint32_t flags = kLockExclusive | (wait ? 0 : kLockFailImmediately);
    if (!system.LockFileEx(file, flags, kLockOffset, 1)) {
      system.CloseHandle(file);
      return false;
    }
    FileIdentity held;
    FileStamp named;
    if (system.GetFileInformationByHandle(file, &held) &&
        system.GetFileStampA(path.GetConstText(), &named) && SameIdentity(held, named.identity) &&
        system.GetFileSizeEx(file, &journal->size)) {
      journal->file = file;
      journal->path.Assign(path);
      return true;
    }
    system.UnlockFileEx(file, kLockOffset, 1);
    system.CloseHandle(file);
  }
  return false;
}

void CloseJournal(JournalFile* journal) {
  if (journal->file == kNoFile) return;
  CurrentSystem().UnlockFileEx(journal->file, kLockOffset, 1);
  CurrentSystem().CloseHandle(journal->file);
  journal->file = kNoFile;
}

bool ReadJournal(const JournalFile& file, Journal* journal) {
  System& system = CurrentSystem();
  uint64_t size = file.size;
  if (size > 0x7FFFFFF0u) return false;
  if (size == 0) return true;
  if (!journal->bytes.Allocate(static_cast<uint32_t>(size))) return false;
  uint32_t done = 0;
  while (done < size) {
    uint32_t got = 0;
    if (!system.ReadFile(file.file, done, reinterpret_cast<char*>(journal->bytes.GetData()) + done,
                         static_cast<uint32_t>(size) - done, &got) ||
        got == 0) {
      break;
    }
    done += got;
  }
  // What could not be read counts as never written: the records end there.
  if (done < size) journal->bytes.Remove(done, static_cast<uint32_t>(size) - done);
  return journal::ParseJournal(journal);
}

// Appends a finished record and flushes the journal; on failure the journal is cut back to where
// it was, so that no torn record hides the records written after it.
bool AppendRecord(JournalFile* journal, const ByteBuffer& record) {
  System& system = CurrentSystem();
  uint32_t written = 0;
  bool ok = journal->file != kNoFile &&
            system.WriteFile(journal->file, journal->size,
                             reinterpret_cast<const char*>(record.GetConstData()), record.GetSize(),
                             &written) &&
            system.FlushFileBuffers(journal->file);
  if (ok) {
    journal->size += record.GetSize();
  } else if (journal->file != kNoFile) {
    system.SetEndOfFile(journal->file, journal->size);
  }
  return ok;
}

bool AppendLeftover(JournalFile* journal, const TextString& path) {
  ByteBuffer record;
  return journal::MakeLeftoverRecord(path, &record) && AppendRecord(journal, record);
}

}  // namespace rollback
}  // namespace kestario
