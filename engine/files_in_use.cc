#include "engine/files_in_use.h"

#include "engine/file_checks.h"
#include "platform/system.h"
#include "runlog/run_log.h"

namespace kestario {
namespace rollback {

using journal::Journal;

void RemoveLeftovers(const Journal& journal, ByteBuffer* waiting) {
  for (uint32_t i = 0; i < journal.leftoverCount; ++i) {
    TextString path = journal.Text(journal.LeftoverAt(i));
    if (CurrentSystem().DeleteFileA(path.GetConstText()) || !Exists(path.GetConstText())) {
      if (IsRunLogOn())
        LogLine().Add("rollback: removed ").Quoted(path).Add(", set aside earlier").Write();
      continue;
    }
    waiting->AppendBytes(&i, sizeof i);
  }
}

bool RemoveKeptFile(const char* kept, JournalFile* journal) {
  System& system = CurrentSystem();
  if (system.DeleteFileA(kept)) return true;
  if (!Exists(kept)) return false;
  system.MoveFileExA(kept, nullptr, kMoveFileDelayUntilReboot);
  if (IsRunLogOn())
    LogLine().Add("rollback: ").Quoted(kept).Add(" is in use: it goes later").Write();
  TextString name;
  if (journal->file != kNoFile && name.SetText(kept)) AppendLeftover(journal, name);
  return true;
}

ByteBuffer AllLeftovers(const Journal& journal) {
  ByteBuffer indexes;
  if (indexes.Allocate(journal.leftoverCount * sizeof(uint32_t))) {
    uint32_t* table = reinterpret_cast<uint32_t*>(indexes.GetData());
    for (uint32_t i = 0; i < journal.leftoverCount; ++i) table[i] = i;
  }
  return indexes;
}

}  // namespace rollback
}  // namespace kestario
