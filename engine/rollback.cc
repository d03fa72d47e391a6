#include "engine/rollback.h"

#include <cstdlib>
#include <cstring>

#include "engine/comma_items.h"
#include "engine/context.h"
#include "engine/file_checks.h"
#include "engine/files_in_use.h"
#include "engine/journal_file.h"
#include "engine/journal_format.h"
#include "engine/kept_names.h"
#include "engine/run_end.h"
#include "engine/run_state.h"
#include "engine/undo.h"
#include "runlog/run_log.h"
#include "settings/messages.h"
#include "text/hash.h"
#include "text/text_builder.h"

namespace kestario {
namespace {

using journal::Journal;
using journal::kCopyChange;
using journal::kDeleteChange;
using journal::kPlan;
using namespace rollback;
using journal::MakeBeginRecord;
using journal::MakeEndRecord;
using journal::MakeLeftoverRecord;
using journal::MakeSettledRecord;
using journal::MakeTargetRecord;
using journal::RecordWriter;
using journal::Span;
using journal::Target;

// The journals' names end so; one set aside ends in ".damaged" instead.
constexpr const char* kJournalSuffix = ".journal";

// This run's rollback: its part of the run state (engine/run_state.h).
RollbackState& g_rollback = CurrentRun().rollback;

// A hexadecimal text of `value`, `digits` long.
void AppendHex(TextString* text, uint64_t value, int digits) {
  char buffer[17];
  for (int i = digits - 1; i >= 0; --i) {
    buffer[i] = "0123456789abcdef"[value & 0xF];
    value >>= 4;
  }
  buffer[digits] = '\0';
  text->Append(buffer);
}

// The run's id: eight hexadecimal digits from the process id, the time and where the stack lies.
void MakeRunId(TextString* id) {
  LocalTime now = {};
  CurrentSystem().GetLocalTime(&now);
  uint64_t hash = kHashStart;
  uint32_t parts[] = {CurrentSystem().GetCurrentProcessId(),
                      now.year,
                      now.month,
                      now.day,
                      now.hour,
                      now.minute,
                      now.second};
  for (uint32_t part : parts) hash = HashValue(hash, part);
  hash = HashValue(hash, static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&now)));
  id->SetText("");
  AppendHex(id, hash ^ (hash >> 32), 8);
}

bool HasSuffix(const TextString& text, const char* suffix) {
  size_t length = static_cast<size_t>(text.GetLength());
  size_t suffixLength = std::strlen(suffix);
  return length >= suffixLength &&
         std::strcmp(text.GetConstText() + length - suffixLength, suffix) == 0;
}

// Where a change is made: the folder that really holds its file (every link on the way resolved
// once, now, and for a COPY a link at the file itself: the file it names, which is what the copy
// replaces), that folder's identity and the file's name in it.
struct Place {
  TextString folder;
  TextString name;
  FileIdentity folderIdentity;
  TextString Path() const { return Joined(folder, name.GetConstText()); }
};

bool FindPlace(const TextString& path, bool throughLink, Place* place) {
  System& system = CurrentSystem();
  TextString full;
  FileStamp stamp;
  if (throughLink && system.GetFileStampA(path.GetConstText(), &stamp) && stamp.link) {
    if (!system.GetFinalPathNameA(path.GetConstText(), &full)) return false;
  } else if (!system.GetFullPathNameA(path.GetConstText(), &full)) {
    return false;
  }
  const char* text = full.GetConstText();
  const char* name = nullptr;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == kPathSeparator || *p == '/') name = p + 1;
  }
  if (name == nullptr || *name == '\0') return false;
  // The folder keeps its separator when it is a root ("/", "C:\").
  size_t folderLength = static_cast<size_t>(name - text) - 1;
  if (folderLength == 0 || (folderLength == 2 && text[1] == ':')) ++folderLength;
  TextString folder;
  if (!folder.Allocate(static_cast<uint32_t>(folderLength) + 1)) return false;
  std::memcpy(folder.GetText(), text, folderLength);
  if (!system.GetFinalPathNameA(folder.GetConstText(), &place->folder))
    place->folder.Assign(folder);
  FileStamp folderStamp;
  if (!system.GetFileStampA(place->folder.GetConstText(), &folderStamp) || !folderStamp.folder ||
      folderStamp.link || !place->name.SetText(name)) {
    return false;
  }
  place->folderIdentity = folderStamp.identity;
  return true;
}

// ---------------------------------------------------------------------------------------------
// The journal file.
// ---------------------------------------------------------------------------------------------

void CloseJournal() { CloseJournal(&g_rollback.journal); }

// The path of this script's journal in `folder`: named after the script's path and the account.
TextString JournalPath(const TextString& folder) {
  TextString user;
  if (!CurrentSystem().GetUserNameA(&user)) user.SetText("");
  // Windows paths name one file whatever the letters' case.
  constexpr HashCase kCase = kPathSeparator == '\\' ? HashCase::kFoldAscii : HashCase::kExact;
  uint64_t key = HashText(kHashStart, g_appContext.scriptPath.GetConstText(), kCase);
  key = HashText(key, "\n");
  key = HashText(key, user.GetConstText());
  TextString path(folder);
  path.Append(kPathSeparatorText);
  AppendHex(&path, key, 16);
  path.Append(kJournalSuffix);
  return path;
}

// Opens and locks this script's journal, made when missing with `create`. `wait` waits while
// another run of the script holds it; otherwise a held journal is not opened.
bool OpenJournal(bool create, bool wait) {
  g_rollback.opened = true;
  TextString folder;
  if (!CurrentSystem().GetPrivateDataFolderA(kJournalFolderName, &folder, create)) return false;
  return LockJournalAt(JournalPath(folder), create, wait, &g_rollback.journal);
}

// Empties a journal; this run's then gets its beginning (`begin`). The leftovers still waiting
// follow.
bool ResetJournal(JournalFile* journal, bool begin, const Journal& previous,
                  const ByteBuffer& waiting) {
  System& system = CurrentSystem();
  if (!system.SetEndOfFile(journal->file, 0)) return false;
  journal->size = 0;
  bool ok = true;
  if (begin) {
    LocalTime now = {};
    system.GetLocalTime(&now);
    ByteBuffer record;
    ok = MakeBeginRecord(g_rollback.runId, system.GetCurrentProcessId(), now,
                         g_appContext.scriptPath, &record) &&
         AppendRecord(journal, record);
  }
  const uint32_t* indexes = reinterpret_cast<const uint32_t*>(waiting.GetConstData());
  for (uint32_t i = 0; ok && i < waiting.GetSize() / sizeof(uint32_t); ++i) {
    ok = AppendLeftover(journal, previous.Text(previous.LeftoverAt(indexes[i])));
  }
  return ok && system.FlushFileBuffers(journal->file);
}

// Records one change just before it is made ('T'); false when it cannot be (then it is not made).
bool RecordTarget(uint8_t kind, const TextString& procedure, uint32_t number, const Place& place,
                  const TextString& stem, const FileStamp* old, uint64_t sourceSize,
                  uint64_t sourceTime) {
  ByteBuffer record;
  if (!MakeTargetRecord(kind, number, procedure, place.folder, place.folderIdentity, place.name,
                        stem, old, sourceSize, sourceTime, &record)) {
    return false;
  }
  if (AppendRecord(&g_rollback.journal, record)) return true;
  if (IsRunLogOn()) {
    LogLine()
        .Add("rollback: the change of ")
        .Quoted(place.Path())
        .Add(" cannot be recorded in ")
        .Quoted(g_rollback.journal.path)
        .Add(", so it is not made")
        .Write();
  }
  return false;
}

// Records what a COPY left in place ('S'). When it cannot be, the undo knows the new file by the
// size and time it took from the source.
void RecordSettled(uint32_t number, const TextString& path) {
  FileStamp placed;
  if (!CurrentSystem().GetFileStampA(path.GetConstText(), &placed)) return;
  ByteBuffer record;
  if (MakeSettledRecord(number, placed, &record)) AppendRecord(&g_rollback.journal, record);
}

// ---------------------------------------------------------------------------------------------
// Undoing and removing.
// ---------------------------------------------------------------------------------------------

// Sets a damaged journal aside, renamed so that no run reads it again ("<name>.<run id>.damaged"
// beside it); `aside` gets the new name. The handle stays open on it.
bool SetAside(const JournalFile& file, TextString* aside) {
  uint32_t keep = static_cast<uint32_t>(file.path.GetLength());
  if (HasSuffix(file.path, kJournalSuffix))
    keep -= static_cast<uint32_t>(std::strlen(kJournalSuffix));
  if (!aside->Allocate(keep + 1)) return false;
  std::memcpy(aside->GetText(), file.path.GetConstText(), keep);
  aside->Append(".").Append(g_rollback.runId).Append(".damaged");
  return CurrentSystem().MoveFileExA(file.path.GetConstText(), aside->GetConstText(),
                                     kMoveFileWriteThrough);
}

// How the names that the run of `journal` kept begin (".kestario-<run id>-"): from its
// beginning, or when that is lost, from a change's stem. False when neither is left.
bool RunPrefix(const Journal& journal, TextString* prefix) {
  if (journal.begun && journal.runId.length != 0) {
    *prefix = KeptRunPrefix(journal.Text(journal.runId));
    return true;
  }
  for (uint32_t i = 0; i < journal.targetCount; ++i) {
    TextString stem = journal.Text(journal.TargetAt(i).stem);
    const char* text = stem.GetConstText();
    const char* name = text;
    const char* number = nullptr;
    for (const char* p = text; *p != '\0'; ++p) {
      if (*p == kPathSeparator || *p == '/') name = p + 1;
      if (*p == '-') number = p + 1;
    }
    if (number == nullptr || number < name) continue;
    prefix->SetText("");
    return prefix->Allocate(static_cast<uint32_t>(number - name) + 1) &&
           (std::memcpy(prefix->GetText(), name, static_cast<size_t>(number - name)), true);
  }
  return false;
}

// Whether `name` (which begins with the run's prefix, `prefixLength` bytes) is a name of a change
// that one of the journal's readable records names: the undo or the clearing up saw to that one.
bool NamedByRecord(const Journal& journal, const char* name, size_t prefixLength) {
  uint64_t number = 0;
  const char* digit = name + prefixLength;
  for (; *digit >= '0' && *digit <= '9' && number <= UINT32_MAX; ++digit) {
    number = number * 10 + static_cast<uint64_t>(*digit - '0');
  }
  if (digit == name + prefixLength || *digit != '.') return false;
  for (uint32_t i = 0; i < journal.targetCount; ++i) {
    if (journal.TargetAt(i).number == number) return true;
  }
  return false;
}

// The folder that holds `path` (a path a plan names, as the script gave it), links resolved as
// the run resolved them; false when it cannot be told.
bool PlannedFolder(const TextString& path, TextString* folder) {
  TextString full;
  if (!CurrentSystem().GetFullPathNameA(path.GetConstText(), &full)) return false;
  const char* text = full.GetConstText();
  const char* name = nullptr;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == kPathSeparator || *p == '/') name = p;
  }
  if (name == nullptr) return false;
  size_t length = static_cast<size_t>(name - text);
  if (length == 0 || (length == 2 && text[1] == ':')) ++length;  // a root keeps its separator
  TextString given;
  if (!given.Allocate(static_cast<uint32_t>(length) + 1)) return false;
  std::memcpy(given.GetText(), text, length);
  if (!CurrentSystem().GetFinalPathNameA(given.GetConstText(), folder)) folder->Assign(given);
  return true;
}

// Lists every file that the run of `journal` kept and that none of its readable records names,
// found by the run's id in each folder that the journal names (its changes' folders and the
// folders of the paths its plans name): what lost or damaged records recorded is among them.
// Each is logged; nothing is removed or put back: they stay for the administrator. Returns how
// many were found.
uint32_t ListKeptFiles(const Journal& journal) {
  TextString prefix;
  if (!RunPrefix(journal, &prefix)) return 0;
  size_t prefixLength = static_cast<size_t>(prefix.GetLength());
  TextBuilder seen;  // the folders listed so far, each ended by a NUL byte
  uint32_t found = 0;
  auto list = [&](const TextString& folder) {
    const char* listed = seen.text();
    for (size_t at = 0; at < seen.length(); at += std::strlen(listed + at) + 1) {
      if (std::strcmp(listed + at, folder.GetConstText()) == 0) return;
    }
    seen.Append(folder.GetConstText(), static_cast<size_t>(folder.GetLength()) + 1);
    ByteBuffer names;
    if (!CurrentSystem().ListFilesA(folder.GetConstText(), "", &names)) return;
    const char* name = reinterpret_cast<const char*>(names.GetConstData());
    for (uint32_t at = 0; at < names.GetSize();
         at += static_cast<uint32_t>(std::strlen(name + at)) + 1) {
      if (std::strncmp(name + at, prefix.GetConstText(), prefixLength) != 0 ||
          NamedByRecord(journal, name + at, prefixLength)) {
        continue;
      }
      ++found;
      if (IsRunLogOn()) {
        LogLine()
            .Add("rollback: ")
            .Quoted(Joined(folder, name + at))
            .Add(", kept by that run, stays for the administrator")
            .Write();
      }
    }
  };
  for (uint32_t i = 0; i < journal.targetCount; ++i) list(journal.Text(journal.TargetAt(i).folder));
  for (uint32_t i = 0; i < journal.plannedCount; ++i) {
    TextString folder;
    if (PlannedFolder(journal.Text(journal.PlannedAt(i)), &folder)) list(folder);
  }
  return found;
}

// Undoes or clears up what the run of `journal` (read from `file`) left. A run that did not end
// is undone; a finished one's kept files go. A damaged journal is told of once (the log, the
// event) and set aside, and what could not be undone of it never stops this run: `count` then
// gets nothing. `own`: this script's journal, which this run keeps using (emptied, its beginning
// written); another is emptied, its leftovers kept.
void Recover(JournalFile* file, const Journal& journal, bool own, UndoCount* count) {
  UndoCount here;
  if (journal.Unfinished()) {
    if (IsRunLogOn()) {
      const LocalTime& t = journal.began;
      TextString began;
      began.Format("%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute,
                   t.second);
      LogLine log;
      log.Add("rollback: the run of process ").Number(journal.processId);
      log.Add(" that began ").Add(began);
      if (!own) log.Add(" with ").Quoted(journal.Text(journal.script));
      log.Add(" did not end: undoing its changes").Write();
    }
    UndoAll(journal, &here);
    if (IsRunLogOn()) {
      LogLine line;
      line.Add("rollback: ").Number(here.undone).Add(" changes of the earlier run rolled back");
      if (here.failed != 0) line.Add(", ").Number(here.failed).Add(" could not be");
      line.Write();
    }
  } else {
    RemoveKept(journal, &g_rollback.journal);
  }
  ByteBuffer waiting;
  RemoveLeftovers(journal, &waiting);
  // Kept files that no readable record names: the journal lost records (damaged, or cut short
  // at a record's end, which no check can see), and it is treated as damaged.
  uint32_t unnamed = ListKeptFiles(journal);
  if (journal.damaged != 0 || unnamed != 0) {
    TextString aside;
    bool setAside = SetAside(*file, &aside);
    if (IsRunLogOn()) {
      LogLine line;
      line.Add("rollback: the journal ").Quoted(file->path);
      if (journal.damaged != 0) {
        line.Add(" is damaged: ").Number(journal.damaged).Add(" part(s) could not be read");
      } else {
        line.Add(" is cut short: its last records are lost");
      }
      line.Add(", and what they recorded is not undone; ");
      line.Number(here.failed).Add(" change(s) could not be undone");
      if (setAside) line.Add("; it is set aside as ").Quoted(aside);
      line.Write();
    }
    TextString damaged;
    TextString failed;
    damaged.Format("%u", journal.damaged != 0 ? journal.damaged : 1u);
    failed.Format("%d", here.failed);
    WriteJournalEvent(setAside ? aside.GetConstText() : file->path.GetConstText(),
                      damaged.GetConstText(), failed.GetConstText());
    if (own) {
      CloseJournal(file);
      if (!OpenJournal(true, true)) return;
    } else {
      // Its leftovers move to a fresh journal of that name; nothing else of it stays.
      TextString path(file->path);
      CloseJournal(file);
      if (!LockJournalAt(path, true, false, file)) return;
    }
    here.failed = 0;
  }
  count->undone += here.undone;
  if (here.failed != 0 && count->failed == 0) {
    count->first.path.Assign(here.first.path);
    count->first.kept.Assign(here.first.kept);
  }
  count->failed += here.failed;
  if (!ResetJournal(file, own, journal, waiting) && own) {
    CloseJournal(file);
    if (IsRunLogOn()) {
      LogLine().Add("rollback: the journal cannot be written, so no file will be changed").Write();
    }
  }
}

// Recovery by account: every other journal of this account whose run is gone (no run holds its
// lock) and that names changes is undone or cleared up as this script's own would be.
void RecoverOtherJournals(UndoCount* count) {
  TextString folder;
  ByteBuffer names;
  if (!CurrentSystem().GetPrivateDataFolderA(kJournalFolderName, &folder, false) ||
      !CurrentSystem().ListFilesA(folder.GetConstText(), kJournalSuffix, &names)) {
    return;
  }
  const char* list = reinterpret_cast<const char*>(names.GetConstData());
  for (uint32_t at = 0; at < names.GetSize();
       at += static_cast<uint32_t>(std::strlen(list + at)) + 1) {
    TextString path = Joined(folder, list + at);
    if (path.GetLength() == g_rollback.journal.path.GetLength() &&
        std::strcmp(path.GetConstText(), g_rollback.journal.path.GetConstText()) == 0) {
      continue;
    }
    JournalFile other;
    if (!LockJournalAt(path, false, false, &other)) continue;  // a live run holds it
    Journal journal;
    if (ReadJournal(other, &journal) && (journal.targetCount != 0 || journal.damaged != 0)) {
      Recover(&other, journal, false, count);
    }
    CloseJournal(&other);
  }
}

}  // namespace

bool IsRollbackOn() { return g_rollback.on; }

bool IsRestartPending() { return g_rollback.restartPending; }

void RollbackState::Reset() {
  CloseJournal(&journal);
  on = false;
  began = false;
  opened = false;
  journal.size = 0;
  nextChange = 1;
  restartPending = false;
  kept.Clear();
}

bool BeginRollback(bool on) {
  // The run state was reset when the run started (RunState::Reset).
  g_rollback.on = on;
  if (!on) return true;
  MakeRunId(&g_rollback.runId);
  if (!OpenJournal(true, true)) {
    if (IsRunLogOn()) {
      LogLine().Add("rollback: no journal can be kept, so no file will be changed").Write();
    }
    g_rollback.began = true;
    return true;
  }
  if (IsRunLogOn()) LogLine().Add("rollback: journal ").Quoted(g_rollback.journal.path).Write();
  Journal previous;
  ReadJournal(g_rollback.journal, &previous);
  UndoCount count;
  Recover(&g_rollback.journal, previous, true, &count);
  RecoverOtherJournals(&count);
  if (count.failed != 0) {
    ReportUndoFailure(count);
    return false;
  }
  g_rollback.began = true;
  return true;
}

void RecordPlannedChanges(ProcedureList list) {
  if (!g_rollback.on || list == nullptr) return;
  // Measure, then write the one record.
  uint32_t count = 0;
  uint64_t bodySize = 1 + 4 + 4;
  for (ProcedureRecord** entry = list; *entry != nullptr; ++entry) {
    const TextString* paths = nullptr;
    const TextString* counted = nullptr;
    if ((*entry)->recordType == RecordType::kDelete) {
      paths = counted = &static_cast<DeleteRecord*>(*entry)->file;
    } else if ((*entry)->recordType == RecordType::kCopy) {
      counted = &static_cast<CopyRecord*>(*entry)->from;
      paths = &static_cast<CopyRecord*>(*entry)->to;
    } else {
      continue;
    }
    uint32_t items = static_cast<uint32_t>(counted->CountTokens(","));
    CommaItems walk(*paths);
    TextString path;
    for (uint32_t i = 0; i < items; ++i) {
      walk.Next(&path);
      bodySize += 1 + RecordWriter::TextSize((*entry)->name) + RecordWriter::TextSize(path);
    }
    count += items;
  }
  if (count == 0) return;
  ByteBuffer record;
  RecordWriter writer;
  bool ok = g_rollback.journal.file != kNoFile && bodySize < 0x7FFFFFF0u &&
            writer.Start(&record, static_cast<uint32_t>(bodySize));
  if (ok) {
    uint32_t first = g_rollback.nextChange;
    writer.Byte(kPlan);
    writer.Number(first);
    writer.Number(count);
    for (ProcedureRecord** entry = list; *entry != nullptr; ++entry) {
      bool isDelete = (*entry)->recordType == RecordType::kDelete;
      if (!isDelete && (*entry)->recordType != RecordType::kCopy) continue;
      const TextString& counted = isDelete ? static_cast<DeleteRecord*>(*entry)->file
                                           : static_cast<CopyRecord*>(*entry)->from;
      const TextString& paths = isDelete ? counted : static_cast<CopyRecord*>(*entry)->to;
      uint32_t items = static_cast<uint32_t>(counted.CountTokens(","));
      CommaItems walk(paths);
      TextString path;
      for (uint32_t i = 0; i < items; ++i) {
        walk.Next(&path);
        writer.Byte(isDelete ? kDeleteChange : kCopyChange);
        writer.Text((*entry)->name);
        writer.Text(path);
      }
    }
    writer.Finish();
    ok = AppendRecord(&g_rollback.journal, record);
  }
  if (!ok) {
    if (IsRunLogOn()) {
      LogLine()
          .Add("rollback: the changes of the list cannot be recorded in ")
          .Quoted(g_rollback.journal.path)
          .Add(", so they are not made")
          .Write();
    }
    return;
  }
  // Number the items in the order of the record.
  for (ProcedureRecord** entry = list; *entry != nullptr; ++entry) {
    if ((*entry)->recordType == RecordType::kDelete) {
      DeleteRecord* remove = static_cast<DeleteRecord*>(*entry);
      remove->firstChange = g_rollback.nextChange;
      g_rollback.nextChange += static_cast<uint32_t>(remove->file.CountTokens(","));
    } else if ((*entry)->recordType == RecordType::kCopy) {
      CopyRecord* copy = static_cast<CopyRecord*>(*entry);
      copy->firstChange = g_rollback.nextChange;
      g_rollback.nextChange += static_cast<uint32_t>(copy->from.CountTokens(","));
    }
  }
}

// The stem of the names under which change `number` keeps what it would lose, beside its file.
TextString PlaceStem(const Place& place, uint32_t number) {
  return Joined(place.folder, KeptStemName(g_rollback.runId, number).GetConstText());
}

bool DeleteKeepingFile(const DeleteRecord& record, int32_t item, const TextString& path,
                       TextString* kept) {
  if (record.firstChange == 0) return false;  // not recorded: never made
  uint32_t number = record.firstChange + static_cast<uint32_t>(item);
  // The name itself goes aside, a link too (never its target).
  Place place;
  FileStamp old;
  if (!FindPlace(path, false, &place)) return false;
  TextString file = place.Path();
  if (!CurrentSystem().GetFileStampA(file.GetConstText(), &old) || old.folder) return false;
  TextString stem = PlaceStem(place, number);
  KeptNameSet names(stem);
  KeptAs as = KeptAs::kNone;
  if (!names.IsComplete() ||
      !RecordTarget(kDeleteChange, record.name, number, place, stem, &old, 0, 0) ||
      !CurrentSystem().MoveFileAsideA(file.GetConstText(), names.names(), &as)) {
    return false;
  }
  kept->Assign(names.Name(as));
  g_rollback.kept.Add(*kept);
  return true;
}

CopyOutcome CopyKeepingFile(const CopyRecord& record, int32_t item, const TextString& from,
                            const TextString& to, ContentPin* pin, TextString* kept) {
  kept->SetText("");
  System& system = CurrentSystem();
  bool rollback = g_rollback.on;
  if (rollback && record.firstChange == 0) return CopyOutcome::kFailed;  // not recorded
  if (!rollback && !g_rollback.opened) {
    // A run without rollback may set files in use aside: first those that earlier runs set aside
    // and that are free now go.
    MakeRunId(&g_rollback.runId);
    if (OpenJournal(false, false)) {
      Journal previous;
      ReadJournal(g_rollback.journal, &previous);
      ByteBuffer waiting;
      RemoveLeftovers(previous, &waiting);
      if (!previous.begun) ResetJournal(&g_rollback.journal, false, previous, waiting);
    }
  }
  uint32_t number =
      rollback ? record.firstChange + static_cast<uint32_t>(item) : g_rollback.nextChange++;
  TextString stem;
  TextString destination(to);
  if (rollback) {
    // The file that is really replaced, found once: the names beside it, the record of the
    // change and the copy itself all act on it.
    Place place;
    if (!FindPlace(to, true, &place)) return CopyOutcome::kFailed;
    destination = place.Path();
    stem = PlaceStem(place, number);
    FileStamp old;
    bool hadOld = system.GetFileStampA(destination.GetConstText(), &old);
    if (hadOld && old.folder) return CopyOutcome::kFailed;
    TextString source;
    FileStamp sourceStamp = {};
    if (system.GetFinalPathNameA(from.GetConstText(), &source)) {
      system.GetFileStampA(source.GetConstText(), &sourceStamp);
    }
    if (!RecordTarget(kCopyChange, record.name, number, place, stem, hadOld ? &old : nullptr,
                      sourceStamp.size, sourceStamp.writeTime)) {
      return CopyOutcome::kFailed;
    }
  } else {
    stem = KeptStem(to.GetConstText(), g_rollback.runId, number);
  }
  // A rollback run keeps a replaced file, and marks a new one as made by it.
  uint32_t flags = (rollback ? kCopyKeepReplaced | kCopyMarkNew : 0u) |
                   (record.replaceInUse ? kCopyReplaceInUse : 0u);
  KeptNameSet names(stem);
  if (!names.IsComplete()) return CopyOutcome::kFailed;
  KeptAs as = KeptAs::kNone;
  CopyOutcome outcome = system.CopyFileOverA(from.GetConstText(), destination.GetConstText(),
                                             &names.names(), flags, pin, &as);
  const TextString& name = names.Name(as);
  if (rollback && (outcome == CopyOutcome::kCopied || outcome == CopyOutcome::kSetAside)) {
    RecordSettled(number, destination);
  }
  if (outcome == CopyOutcome::kFailed || name.GetLength() == 0) return outcome;
  if (outcome == CopyOutcome::kAtRestart) {
    g_rollback.restartPending = true;
    kept->Assign(name);
    return outcome;
  }
  if (rollback) g_rollback.kept.Add(name);
  if (as == KeptAs::kMark) return outcome;  // a new file: nothing old kept
  kept->Assign(name);
  // Without rollback a file set aside goes when it is free: the journal remembers it.
  if (!rollback && (g_rollback.journal.file != kNoFile || OpenJournal(true, false))) {
    AppendLeftover(&g_rollback.journal, name);
  }
  return outcome;
}

int32_t EndRollback(bool finished, int32_t* notUndone) {
  *notUndone = 0;
  if (!g_rollback.on || !g_rollback.began || g_rollback.journal.file == kNoFile) {
    CloseJournal();
    return 0;
  }
  JournalFile* file = &g_rollback.journal;
  Journal journal;
  ReadJournal(*file, &journal);
  UndoCount count;
  if (finished) {
    // First the record that the run finished, so that nothing kept is ever put back after it;
    // when even that cannot be written, the run is forgotten first instead.
    ByteBuffer record;
    bool ended = MakeEndRecord(&record) && AppendRecord(file, record);
    if (!ended) ResetJournal(file, false, journal, AllLeftovers(journal));
    if (g_rollback.kept.lost()) {
      RemoveKept(journal, &g_rollback.journal);
    } else {
      g_rollback.kept.ForEach([](const char* name) { RemoveKeptFile(name, &g_rollback.journal); });
    }
    // Only the leftovers stay: those carried over and those in use now.
    Journal after;
    ReadJournal(*file, &after);
    ResetJournal(file, false, after, AllLeftovers(after));
  } else {
    UndoAll(journal, &count);
    ResetJournal(file, false, journal, AllLeftovers(journal));
  }
  CloseJournal();
  *notUndone = count.failed;
  ReportUndoFailure(count);
  return count.undone;
}

}  // namespace kestario
