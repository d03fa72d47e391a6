#include "engine/rollback.h"

#include <cstdlib>
#include <cstring>

#include "engine/comma_items.h"
#include "engine/context.h"
#include "settings/messages.h"
#include "settings/run_log.h"
#include "text/text_builder.h"

namespace kestario {
namespace {

// ---------------------------------------------------------------------------------------------
// The journal's records. Each is its body's length and CRC-32, then the body, whose first byte
// says what it is. A record cut short or changed (a write that a power cut tore) fails its check
// and ends the journal there: it was flushed before any change that it announces, so no change
// can depend on it. Numbers are little-endian; a text is its length and its bytes.
//   'B' a rollback run begins: its id, the process id, the local time, the script's path
//   'P' planned changes: the number of the first, their count, then for each its kind ('D' a
//       DELETE, 'C' a COPY), the procedure's section and the path it changes
//   'E' the run finished: what it kept is to be removed, never put back
//   'L' a file set aside (in use when it should have gone), to be removed when it is free
// ---------------------------------------------------------------------------------------------

constexpr uint8_t kBegin = 'B';
constexpr uint8_t kPlan = 'P';
constexpr uint8_t kEnd = 'E';
constexpr uint8_t kLeftover = 'L';
constexpr uint8_t kDeleteChange = 'D';
constexpr uint8_t kCopyChange = 'C';
constexpr uint32_t kHeaderSize = 8;
// Where the journal is locked: far past its bytes, which other handles may then still read.
constexpr uint64_t kLockOffset = 1ull << 62;

uint32_t Crc32(const uint8_t* data, size_t size) {
  static uint32_t table[256];
  if (table[1] == 0) {
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      table[i] = c;
    }
  }
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

// Fills a record whose body size is known beforehand: one block, no growing.
class RecordWriter {
 public:
  bool Start(ByteBuffer* record, uint32_t bodySize) {
    if (bodySize > 0x7FFFFFF0u || !record->Allocate(kHeaderSize + bodySize)) return false;
    record_ = record;
    at_ = record->GetData() + kHeaderSize;
    return true;
  }
  void Byte(uint8_t value) { *at_++ = value; }
  void Number(uint32_t value) {
    for (int i = 0; i < 4; ++i) *at_++ = static_cast<uint8_t>(value >> (8 * i));
  }
  void Text(const char* text, uint32_t length) {
    Number(length);
    std::memcpy(at_, text, length);
    at_ += length;
  }
  void Text(const TextString& text) {
    Text(text.GetConstText(), static_cast<uint32_t>(text.GetLength()));
  }
  // Writes the header: the body's length and checksum.
  void Finish() {
    uint8_t* start = record_->GetData();
    uint32_t bodySize = record_->GetSize() - kHeaderSize;
    uint32_t crc = Crc32(start + kHeaderSize, bodySize);
    at_ = start;
    Number(bodySize);
    Number(crc);
  }

  static uint32_t TextSize(const TextString& text) {
    return 4 + static_cast<uint32_t>(text.GetLength());
  }

 private:
  ByteBuffer* record_ = nullptr;
  uint8_t* at_ = nullptr;
};

// A span of the journal's bytes.
struct Span {
  uint32_t offset;
  uint32_t length;
};

// One planned change, as the journal gives it.
struct Change {
  uint8_t kind;
  uint32_t number;
  Span procedure;
  Span path;
};

// What a journal holds.
struct Journal {
  ByteBuffer bytes;
  ByteBuffer changes;  // Change records, in the order planned
  uint32_t changeCount = 0;
  ByteBuffer leftovers;  // Span records
  uint32_t leftoverCount = 0;
  bool begun = false;
  bool ended = false;
  Span runId = {0, 0};
  uint32_t processId = 0;
  LocalTime began = {};

  TextString Text(Span span) const {
    TextString text;
    if (text.Allocate(span.length + 1)) {
      std::memcpy(text.GetText(), bytes.GetConstData() + span.offset, span.length);
    }
    return text;
  }
  const Change& ChangeAt(uint32_t index) const {
    return reinterpret_cast<const Change*>(changes.GetConstData())[index];
  }
  Span LeftoverAt(uint32_t index) const {
    return reinterpret_cast<const Span*>(leftovers.GetConstData())[index];
  }
};

// Reads the fields of a record body in order; any read past its end marks it bad.
class RecordReader {
 public:
  RecordReader(const uint8_t* base, uint32_t offset, uint32_t size)
      : base_(base), at_(offset), end_(offset + size) {}
  bool good() const { return good_; }
  uint8_t Byte() {
    if (at_ >= end_) return Fail();
    return base_[at_++];
  }
  uint32_t Number() {
    if (end_ - at_ < 4) return Fail();
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(base_[at_++]) << (8 * i);
    return value;
  }
  Span Text() {
    uint32_t length = Number();
    if (!good_ || end_ - at_ < length) return {0, Fail()};
    Span span = {at_, length};
    at_ += length;
    return span;
  }

 private:
  uint8_t Fail() {
    good_ = false;
    at_ = end_;
    return 0;
  }
  const uint8_t* base_;
  uint32_t at_;
  uint32_t end_;
  bool good_ = true;
};

// Walks the checked records of `bytes`: calls visit(kind, reader) for each; stops at the first
// that fails its check.
template <typename Visit>
void WalkRecords(const ByteBuffer& bytes, Visit visit) {
  const uint8_t* base = bytes.GetConstData();
  uint32_t size = bytes.GetSize();
  for (uint32_t at = 0; size - at >= kHeaderSize;) {
    RecordReader header(base, at, kHeaderSize);
    uint32_t bodySize = header.Number();
    uint32_t crc = header.Number();
    if (bodySize == 0 || bodySize > size - at - kHeaderSize ||
        Crc32(base + at + kHeaderSize, bodySize) != crc) {
      return;
    }
    RecordReader body(base, at + kHeaderSize, bodySize);
    uint8_t kind = body.Byte();
    if (!visit(kind, body)) return;
    at += kHeaderSize + bodySize;
  }
}

// Parses the journal's bytes (already in `journal->bytes`). False when memory runs out.
bool ParseJournal(Journal* journal) {
  // Count first, so that each table is one block.
  uint32_t changes = 0;
  uint32_t leftovers = 0;
  WalkRecords(journal->bytes, [&](uint8_t kind, RecordReader& body) {
    if (kind == kPlan) {
      body.Number();
      changes += body.Number();
    } else if (kind == kLeftover) {
      ++leftovers;
    }
    return true;
  });
  if ((changes != 0 && !journal->changes.Allocate(changes * sizeof(Change))) ||
      (leftovers != 0 && !journal->leftovers.Allocate(leftovers * sizeof(Span)))) {
    return false;
  }
  Change* changeTable = reinterpret_cast<Change*>(journal->changes.GetData());
  Span* leftoverTable = reinterpret_cast<Span*>(journal->leftovers.GetData());
  WalkRecords(journal->bytes, [&](uint8_t kind, RecordReader& body) {
    if (kind == kBegin) {
      Span runId = body.Text();
      uint32_t processId = body.Number();
      uint16_t time[6];
      for (uint16_t& part : time) part = static_cast<uint16_t>(body.Number());
      if (!body.good()) return false;
      journal->begun = true;
      journal->runId = runId;
      journal->processId = processId;
      journal->began = {time[0], time[1], time[2], time[3], time[4], time[5]};
    } else if (kind == kPlan) {
      uint32_t first = body.Number();
      uint32_t count = body.Number();
      for (uint32_t i = 0; i < count && journal->changeCount < changes; ++i) {
        Change change;
        change.kind = body.Byte();
        change.number = first + i;
        change.procedure = body.Text();
        change.path = body.Text();
        if (!body.good()) return false;
        changeTable[journal->changeCount++] = change;
      }
    } else if (kind == kEnd) {
      journal->ended = true;
    } else if (kind == kLeftover && journal->leftoverCount < leftovers) {
      Span path = body.Text();
      if (!body.good()) return false;
      leftoverTable[journal->leftoverCount++] = path;
    }
    return true;
  });
  return true;
}

// ---------------------------------------------------------------------------------------------
// The state of this run.
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
  FileHandle file = kNoFile;
  bool opened = false;  // the journal was looked for (runs without rollback open it on demand)
  uint64_t size = 0;    // the journal's bytes so far
  TextString path;      // the journal
  TextString runId;     // the id in the names of what this run keeps
  uint32_t nextChange = 1;
  bool restartPending = false;
  KeptNames kept;  // what this run kept (a rollback run)
};
RollbackState g_rollback;

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

void AppendDecimal(TextString* text, uint32_t value) {
  char buffer[11];
  int at = 10;
  buffer[at] = '\0';
  do {
    buffer[--at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  text->Append(buffer + at);
}

uint64_t Fnv1a(uint64_t hash, const char* text, bool foldCase) {
  for (; *text != '\0'; ++text) {
    char c = *text;
    if (foldCase && c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    hash ^= static_cast<uint8_t>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

// The run's id: eight hexadecimal digits from the process id, the time and where the stack lies.
void MakeRunId(TextString* id) {
  LocalTime now = {};
  CurrentSystem().GetLocalTime(&now);
  uint64_t hash = 14695981039346656037ull;
  uint32_t parts[] = {CurrentSystem().GetCurrentProcessId(),
                      now.year,
                      now.month,
                      now.day,
                      now.hour,
                      now.minute,
                      now.second};
  for (uint32_t part : parts) {
    hash ^= part;
    hash *= 1099511628211ull;
  }
  hash ^= static_cast<uint64_t>(reinterpret_cast<uintptr_t>(&now));
  hash *= 1099511628211ull;
  id->SetText("");
  AppendHex(id, hash ^ (hash >> 32), 8);
}

// "<folder of path>.kestario-<run id>-<number>": the stem of the names beside the file under
// which the run keeps what a change would lose (hidden by its dot).
TextString KeptStem(const char* path, const TextString& runId, uint32_t number) {
  const char* name = path;
  for (const char* p = path; *p != '\0'; ++p) {
    if (*p == kPathSeparator || *p == '/') name = p + 1;
  }
  TextString stem;
  TextString folder;
  if (name > path && folder.Allocate(static_cast<uint32_t>(name - path) + 1)) {
    std::memcpy(folder.GetText(), path, static_cast<size_t>(name - path));
    stem.Append(folder);
  }
  stem.Append(".kestario-").Append(runId).Append("-");
  AppendDecimal(&stem, number);
  return stem;
}

TextString KeptName(const char* path, const TextString& runId, uint32_t number,
                    const char* suffix) {
  TextString name = KeptStem(path, runId, number);
  name.Append(suffix);
  return name;
}

bool HasSuffix(const TextString& text, const char* suffix) {
  size_t length = static_cast<size_t>(text.GetLength());
  size_t suffixLength = std::strlen(suffix);
  return length >= suffixLength &&
         std::strcmp(text.GetConstText() + length - suffixLength, suffix) == 0;
}

bool Exists(const char* path) {
  return CurrentSystem().GetFileAttributesA(path) != kInvalidFileAttributes;
}

// ---------------------------------------------------------------------------------------------
// The journal file.
// ---------------------------------------------------------------------------------------------

// Opens and locks this script's journal, made when missing with `create`. `wait` waits while
// another run of the script holds it; otherwise a held journal is not opened.
bool OpenJournal(bool create, bool wait) {
  System& system = CurrentSystem();
  g_rollback.opened = true;
  TextString folder;
  if (!system.GetJournalFolder(&folder, create)) return false;
  TextString user;
  if (!system.GetUserNameA(&user)) user.SetText("");
  // Windows paths name one file whatever the letters' case.
  constexpr bool kFoldCase = kPathSeparator == '\\';
  uint64_t key = Fnv1a(14695981039346656037ull, g_appContext.scriptPath.GetConstText(), kFoldCase);
  key = Fnv1a(key, "\n", false);
  key = Fnv1a(key, user.GetConstText(), false);
  g_rollback.path.Assign(folder);
  g_rollback.path.Append(kPathSeparatorText);
  AppendHex(&g_rollback.path, key, 16);
  g_rollback.path.Append(".journal");
  if (!create && !Exists(g_rollback.path.GetConstText())) return false;
  FileHandle file = system.CreateFileA(g_rollback.path.GetConstText(), FileAccess::kReadWrite);
  if (file == kNoFile) return false;
  uint32_t flags = kLockExclusive | (wait ? 0 : kLockFailImmediately);
  if (!system.LockFileEx(file, flags, kLockOffset, 1) ||
      !system.GetFileSizeEx(file, &g_rollback.size)) {
    system.CloseHandle(file);
    return false;
  }
  g_rollback.file = file;
  return true;
}

void CloseJournal() {
  if (g_rollback.file == kNoFile) return;
  CurrentSystem().UnlockFileEx(g_rollback.file, kLockOffset, 1);
  CurrentSystem().CloseHandle(g_rollback.file);
  g_rollback.file = kNoFile;
}

bool ReadJournal(Journal* journal) {
  System& system = CurrentSystem();
  uint64_t size = g_rollback.size;
  if (size > 0x7FFFFFF0u) return false;
  if (size == 0) return true;
  if (!journal->bytes.Allocate(static_cast<uint32_t>(size))) return false;
  uint32_t done = 0;
  while (done < size) {
    uint32_t got = 0;
    if (!system.ReadFile(g_rollback.file, done,
                         reinterpret_cast<char*>(journal->bytes.GetData()) + done,
                         static_cast<uint32_t>(size) - done, &got) ||
        got == 0) {
      break;
    }
    done += got;
  }
  // What could not be read counts as never written: the records end there.
  if (done < size) journal->bytes.Remove(done, static_cast<uint32_t>(size) - done);
  return ParseJournal(journal);
}

// Appends a finished record and flushes the journal; on failure the journal is cut back to where
// it was, so that no torn record hides the records written after it.
bool AppendRecord(RecordWriter* writer, ByteBuffer* record) {
  writer->Finish();
  System& system = CurrentSystem();
  uint32_t written = 0;
  bool ok = system.WriteFile(g_rollback.file, g_rollback.size,
                             reinterpret_cast<const char*>(record->GetConstData()),
                             record->GetSize(), &written) &&
            system.FlushFileBuffers(g_rollback.file);
  if (ok) {
    g_rollback.size += record->GetSize();
  } else {
    system.SetEndOfFile(g_rollback.file, g_rollback.size);
  }
  return ok;
}

bool AppendLeftover(const TextString& path) {
  ByteBuffer record;
  RecordWriter writer;
  if (!writer.Start(&record, 1 + RecordWriter::TextSize(path))) return false;
  writer.Byte(kLeftover);
  writer.Text(path);
  return AppendRecord(&writer, &record);
}

// Empties the journal; a rollback run then writes its beginning, the leftovers still waiting
// after it.
bool ResetJournal(bool begin, const Journal& previous, const ByteBuffer& waiting) {
  System& system = CurrentSystem();
  if (!system.SetEndOfFile(g_rollback.file, 0)) return false;
  g_rollback.size = 0;
  bool ok = true;
  if (begin) {
    LocalTime now = {};
    system.GetLocalTime(&now);
    ByteBuffer record;
    RecordWriter writer;
    ok = writer.Start(&record, 1 + RecordWriter::TextSize(g_rollback.runId) + 4 + 6 * 4 +
                                   RecordWriter::TextSize(g_appContext.scriptPath));
    if (ok) {
      writer.Byte(kBegin);
      writer.Text(g_rollback.runId);
      writer.Number(system.GetCurrentProcessId());
      uint16_t parts[] = {now.year, now.month, now.day, now.hour, now.minute, now.second};
      for (uint16_t part : parts) writer.Number(part);
      writer.Text(g_appContext.scriptPath);
      ok = AppendRecord(&writer, &record);
    }
  }
  const uint32_t* indexes = reinterpret_cast<const uint32_t*>(waiting.GetConstData());
  for (uint32_t i = 0; ok && i < waiting.GetSize() / sizeof(uint32_t); ++i) {
    ok = AppendLeftover(previous.Text(previous.LeftoverAt(indexes[i])));
  }
  return ok && system.FlushFileBuffers(g_rollback.file);
}

// Tries to remove the files that earlier runs set aside; the indexes of those still in use go to
// `waiting`.
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

// ---------------------------------------------------------------------------------------------
// Undoing and removing.
// ---------------------------------------------------------------------------------------------

enum class Undo { kNothing, kUndone, kFailed };

// Puts the kept file `kept` back as `target`, its hidden attribute taken off first when the run
// gave it (kKeptSuffix).
bool PutBack(const TextString& kept, const char* target, bool hiddenByRun, uint32_t flags) {
  System& system = CurrentSystem();
  if (hiddenByRun) {
    uint32_t attributes = system.GetFileAttributesA(kept.GetConstText());
    if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeHidden) != 0) {
      uint32_t plain = attributes & ~kFileAttributeHidden;
      system.SetFileAttributesA(kept.GetConstText(), plain != 0 ? plain : kFileAttributeNormal);
    }
  }
  if (!system.MoveFileExA(kept.GetConstText(), target, flags | kMoveFileWriteThrough)) return false;
  // Two names of one file (a run killed between keeping the old file and replacing it): the
  // rename leaves both, and the kept name goes.
  if (Exists(kept.GetConstText())) system.DeleteFileA(kept.GetConstText());
  return true;
}

// Undoes one change, if it was made; logs it. On failure `failedPath` and `keptPath` name it.
Undo UndoChange(const Journal& journal, const Change& change, const TextString& runId,
                TextString* failedPath, TextString* keptPath) {
  System& system = CurrentSystem();
  TextString path = journal.Text(change.path);
  TextString procedure = journal.Text(change.procedure);
  auto line = [&]() {
    LogLine log;
    log.Add("undo ").Add(procedure).Add(": ");
    return log;
  };
  auto name = [&](const char* suffix) {
    return KeptName(path.GetConstText(), runId, change.number, suffix);
  };
  // A COPY's new file that is not in place (a run killed while it copied, or a copy waiting for
  // a restart, which then finds nothing to put in place) goes first.
  TextString staged = name(kStagedSuffix);
  bool stagedRemoved = change.kind == kCopyChange && system.DeleteFileA(staged.GetConstText());
  static const char* const kKeptSuffixes[] = {kKeptSuffix, kKeptHiddenSuffix};
  for (const char* suffix : kKeptSuffixes) {
    TextString kept = name(suffix);
    bool hiddenByRun = suffix == kKeptSuffixes[0];
    bool keptExists = Exists(kept.GetConstText());
    if (change.kind == kDeleteChange) {
      if (PutBack(kept, path.GetConstText(), hiddenByRun, 0)) {
        if (IsRunLogOn()) line().Add("put back ").Quoted(path).Write();
        return Undo::kUndone;
      }
    } else if (keptExists) {
      // A COPY through a link replaced the file it names: the old one goes back there.
      TextString target;
      if (!system.GetFinalPathNameA(path.GetConstText(), &target)) target.Assign(path);
      if (PutBack(kept, target.GetConstText(), hiddenByRun, kMoveFileReplaceExisting)) {
        system.DeleteFileA(name(kMarkSuffix).GetConstText());
        if (IsRunLogOn()) line().Add("the old file is back in ").Quoted(path).Write();
        return Undo::kUndone;
      }
    }
    if (keptExists) {
      if (IsRunLogOn()) {
        line()
            .Add("could not put back ")
            .Quoted(path)
            .Add("; the old file stays as ")
            .Quoted(kept)
            .Write();
      }
      failedPath->Assign(path);
      keptPath->Assign(kept);
      return Undo::kFailed;
    }
  }
  if (change.kind != kCopyChange) return Undo::kNothing;
  TextString made = name(kMarkSuffix);
  if (!Exists(made.GetConstText())) {
    if (!stagedRemoved) return Undo::kNothing;
    if (IsRunLogOn())
      line().Add("removed the new file ").Quoted(staged).Add(", never put in place").Write();
    return Undo::kUndone;
  }
  // The COPY made the file: it goes (the marker after it, so that a run stopped between the two
  // still knows).
  if (!system.DeleteFileA(path.GetConstText()) && Exists(path.GetConstText())) {
    if (IsRunLogOn())
      line().Add("could not remove ").Quoted(path).Add(", which the run made").Write();
    failedPath->Assign(path);
    keptPath->SetText("");
    return Undo::kFailed;
  }
  system.DeleteFileA(made.GetConstText());
  if (IsRunLogOn()) line().Add("removed ").Quoted(path).Add(", which the run made").Write();
  return Undo::kUndone;
}

// Undoes every change of `journal`, newest first. Returns the count undone; the count that could
// not be goes to *failed, the first failure's names to the texts.
int32_t UndoAll(const Journal& journal, int32_t* failed, TextString* failedPath,
                TextString* keptPath) {
  TextString runId = journal.Text(journal.runId);
  int32_t undone = 0;
  *failed = 0;
  for (uint32_t i = journal.changeCount; i-- > 0;) {
    TextString path;
    TextString kept;
    Undo result = UndoChange(journal, journal.ChangeAt(i), runId, &path, &kept);
    if (result == Undo::kUndone) ++undone;
    if (result == Undo::kFailed && (*failed)++ == 0) {
      failedPath->Assign(path);
      keptPath->Assign(kept);
    }
  }
  return undone;
}

// Removes one kept file; true when it was there. One still in use goes later: at the next
// restart when the run may, or with a later run, for which the journal records it.
bool RemoveKeptFile(const char* kept) {
  System& system = CurrentSystem();
  if (system.DeleteFileA(kept)) return true;
  if (!Exists(kept)) return false;
  system.MoveFileExA(kept, nullptr, kMoveFileDelayUntilReboot);
  if (IsRunLogOn())
    LogLine().Add("rollback: ").Quoted(kept).Add(" is in use: it goes later").Write();
  TextString name;
  if (g_rollback.file != kNoFile && name.SetText(kept)) AppendLeftover(name);
  return true;
}

// Removes what a finished run kept (never a copy staged for a restart: that one is still to
// come). A file still in use goes later: at the next restart when the run may, or with a later
// run, for which the journal records it.
void RemoveKept(const Journal& journal) {
  TextString runId = journal.Text(journal.runId);
  for (uint32_t i = 0; i < journal.changeCount; ++i) {
    const Change& change = journal.ChangeAt(i);
    TextString path = journal.Text(change.path);
    static const char* const kSuffixes[] = {kKeptSuffix, kKeptHiddenSuffix, kMarkSuffix};
    for (const char* suffix : kSuffixes) {
      if (change.kind == kDeleteChange && suffix == kSuffixes[2]) break;
      TextString kept = KeptName(path.GetConstText(), runId, change.number, suffix);
      if (RemoveKeptFile(kept.GetConstText()) && suffix == kSuffixes[0] &&
          change.kind == kDeleteChange) {
        break;  // never both names
      }
    }
  }
}

// The indexes of every leftover of `journal`.
ByteBuffer AllLeftovers(const Journal& journal) {
  ByteBuffer indexes;
  if (indexes.Allocate(journal.leftoverCount * sizeof(uint32_t))) {
    uint32_t* table = reinterpret_cast<uint32_t*>(indexes.GetData());
    for (uint32_t i = 0; i < journal.leftoverCount; ++i) table[i] = i;
  }
  return indexes;
}

void ReportUndoFailure(int32_t failed, const TextString& path, const TextString& kept) {
  if (failed != 0) ReportError(kMsgUndoFailed, path.GetConstText(), kept.GetConstText());
}

}  // namespace

bool IsRollbackOn() { return g_rollback.on; }

bool IsRestartPending() { return g_rollback.restartPending; }

bool BeginRollback(bool on) {
  CloseJournal();
  g_rollback.on = on;
  g_rollback.began = false;
  g_rollback.opened = false;
  g_rollback.size = 0;
  g_rollback.nextChange = 1;
  g_rollback.restartPending = false;
  g_rollback.kept.Clear();
  if (!on) return true;
  MakeRunId(&g_rollback.runId);
  if (!OpenJournal(true, true)) {
    if (IsRunLogOn()) {
      LogLine().Add("rollback: no journal can be kept, so no file will be changed").Write();
    }
    g_rollback.began = true;
    return true;
  }
  if (IsRunLogOn()) LogLine().Add("rollback: journal ").Quoted(g_rollback.path).Write();
  Journal previous;
  ReadJournal(&previous);
  int32_t failed = 0;
  TextString failedPath;
  TextString keptPath;
  if (previous.begun && !previous.ended && previous.changeCount != 0) {
    if (IsRunLogOn()) {
      const LocalTime& t = previous.began;
      TextString began;
      began.Format("%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute,
                   t.second);
      LogLine()
          .Add("rollback: the run of process ")
          .Number(previous.processId)
          .Add(" that began ")
          .Add(began)
          .Add(" did not end: undoing its changes")
          .Write();
    }
    int32_t undone = UndoAll(previous, &failed, &failedPath, &keptPath);
    if (IsRunLogOn()) {
      LogLine line;
      line.Add("rollback: ").Number(undone).Add(" changes of the earlier run rolled back");
      if (failed != 0) line.Add(", ").Number(failed).Add(" could not be");
      line.Write();
    }
  } else if (previous.begun) {
    RemoveKept(previous);
  }
  ByteBuffer waiting;
  RemoveLeftovers(previous, &waiting);
  if (!ResetJournal(true, previous, waiting)) {
    CloseJournal();
    if (IsRunLogOn()) {
      LogLine().Add("rollback: the journal cannot be written, so no file will be changed").Write();
    }
  }
  if (failed != 0) {
    ReportUndoFailure(failed, failedPath, keptPath);
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
  bool ok = g_rollback.file != kNoFile && bodySize < 0x7FFFFFF0u &&
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
    ok = AppendRecord(&writer, &record);
  }
  if (!ok) {
    if (IsRunLogOn()) {
      LogLine()
          .Add("rollback: the changes of the list cannot be recorded in ")
          .Quoted(g_rollback.path)
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

bool DeleteKeepingFile(const DeleteRecord& record, int32_t item, const TextString& path,
                       TextString* kept) {
  if (record.firstChange == 0) return false;  // not recorded: never made
  TextString stem = KeptStem(path.GetConstText(), g_rollback.runId,
                             record.firstChange + static_cast<uint32_t>(item));
  if (!CurrentSystem().DeleteFileKeepingA(path.GetConstText(), stem.GetConstText(), kept)) {
    return false;
  }
  g_rollback.kept.Add(*kept);
  return true;
}

CopyOutcome CopyKeepingFile(const CopyRecord& record, int32_t item, const TextString& from,
                            const TextString& to, TextString* kept) {
  kept->SetText("");
  bool rollback = g_rollback.on;
  if (rollback && record.firstChange == 0) return CopyOutcome::kFailed;  // not recorded
  if (!rollback && !g_rollback.opened) {
    // A run without rollback may set files in use aside: first those that earlier runs set aside
    // and that are free now go.
    MakeRunId(&g_rollback.runId);
    if (OpenJournal(false, false)) {
      Journal previous;
      ReadJournal(&previous);
      ByteBuffer waiting;
      RemoveLeftovers(previous, &waiting);
      if (!previous.begun) ResetJournal(false, previous, waiting);
    }
  }
  uint32_t number =
      rollback ? record.firstChange + static_cast<uint32_t>(item) : g_rollback.nextChange++;
  TextString stem = KeptStem(to.GetConstText(), g_rollback.runId, number);
  // A rollback run keeps a replaced file, and marks a new one as made by it.
  uint32_t flags = (rollback ? kCopyKeepReplaced | kCopyMarkNew : 0u) |
                   (record.replaceInUse ? kCopyReplaceInUse : 0u);
  TextString name;
  CopyOutcome outcome = CurrentSystem().CopyFileKeepingA(from.GetConstText(), to.GetConstText(),
                                                         stem.GetConstText(), flags, &name);
  if (outcome == CopyOutcome::kFailed || name.GetLength() == 0) return outcome;
  if (outcome == CopyOutcome::kAtRestart) {
    g_rollback.restartPending = true;
    kept->Assign(name);
    return outcome;
  }
  if (rollback) g_rollback.kept.Add(name);
  if (HasSuffix(name, kMarkSuffix)) return outcome;  // a new file: nothing old kept
  kept->Assign(name);
  // Without rollback a file set aside goes when it is free: the journal remembers it.
  if (!rollback && (g_rollback.file != kNoFile || OpenJournal(true, false))) {
    AppendLeftover(name);
  }
  return outcome;
}

int32_t EndRollback(bool finished, int32_t* notUndone) {
  *notUndone = 0;
  if (!g_rollback.on || !g_rollback.began || g_rollback.file == kNoFile) {
    CloseJournal();
    return 0;
  }
  Journal journal;
  ReadJournal(&journal);
  int32_t undone = 0;
  TextString failedPath;
  TextString keptPath;
  if (finished) {
    // First the record that the run finished, so that nothing kept is ever put back after it;
    // when even that cannot be written, the run is forgotten first instead.
    ByteBuffer record;
    RecordWriter writer;
    bool ended = writer.Start(&record, 1);
    if (ended) {
      writer.Byte(kEnd);
      ended = AppendRecord(&writer, &record);
    }
    if (!ended) ResetJournal(false, journal, AllLeftovers(journal));
    if (g_rollback.kept.lost()) {
      RemoveKept(journal);
    } else {
      g_rollback.kept.ForEach([](const char* name) { RemoveKeptFile(name); });
    }
    // Only the leftovers stay: those carried over and those in use now.
    Journal after;
    ReadJournal(&after);
    ResetJournal(false, after, AllLeftovers(after));
  } else {
    undone = UndoAll(journal, notUndone, &failedPath, &keptPath);
    ResetJournal(false, journal, AllLeftovers(journal));
  }
  CloseJournal();
  ReportUndoFailure(*notUndone, failedPath, keptPath);
  return undone;
}

}  // namespace kestario
