#include "engine/rollback.h"

#include <cstdlib>
#include <cstring>

#include "engine/comma_items.h"
#include "engine/context.h"
#include "engine/kept_names.h"
#include "engine/run_end.h"
#include "settings/messages.h"
#include "settings/run_log.h"
#include "text/text_builder.h"

namespace kestario {
namespace {

// ---------------------------------------------------------------------------------------------
// The journal's records. Each is its body's length and CRC-32, then the body, whose first byte
// says what it is. Numbers are little-endian; a text is its length and its bytes. A record that
// fails its check is skipped where a good one follows it (damage: it is reported, and the good
// records are still used); a record cut short at the end is a write that a kill or power cut tore,
// flushed before any change that it announces, so no change can depend on it.
//   'B' a rollback run begins: its id, the process id, the local time, the script's path
//   'P' planned changes: the number of the first, their count, then for each its kind ('D' a
//       DELETE, 'C' a COPY), the procedure's section and the path it changes
//   'T' one change, just before it is made: its number and kind, the procedure's section, the
//       folder it is made in (links resolved) and that folder's identity, the name in it, the
//       stem of the names beside it under which the run keeps what it would lose, the stamp of
//       the file it replaces or deletes (or none), and the size and time of a COPY's source
//   'S' what a COPY left in place, just after it was made: its number and the new file's stamp
//   'E' the run finished: what it kept is to be removed, never put back
//   'L' a file set aside (in use when it should have gone), to be removed when it is free
// Only 'T' and 'S' records are undone: each is whole in itself, whatever else was lost.
// ---------------------------------------------------------------------------------------------

constexpr uint8_t kBegin = 'B';
constexpr uint8_t kPlan = 'P';
constexpr uint8_t kTarget = 'T';
constexpr uint8_t kSettled = 'S';
constexpr uint8_t kEnd = 'E';
constexpr uint8_t kLeftover = 'L';
constexpr uint8_t kDeleteChange = 'D';
constexpr uint8_t kCopyChange = 'C';
constexpr uint32_t kHeaderSize = 8;
// The journals' names end so; one set aside ends in ".damaged" instead.
constexpr const char* kJournalSuffix = ".journal";
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
  void Number64(uint64_t value) {
    Number(static_cast<uint32_t>(value));
    Number(static_cast<uint32_t>(value >> 32));
  }
  void Identity(const FileIdentity& identity) {
    Number64(identity.volume);
    Number64(identity.index);
  }
  void Stamp(const FileStamp& stamp) {
    Identity(stamp.identity);
    Number64(stamp.size);
    Number64(stamp.writeTime);
    Byte(static_cast<uint8_t>((stamp.link ? 1 : 0) | (stamp.folder ? 2 : 0)));
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
  static constexpr uint32_t kIdentitySize = 16;
  static constexpr uint32_t kStampSize = kIdentitySize + 8 + 8 + 1;

 private:
  ByteBuffer* record_ = nullptr;
  uint8_t* at_ = nullptr;
};

// A span of the journal's bytes.
struct Span {
  uint32_t offset;
  uint32_t length;
};

// One change as its 'T' record (and 'S' record, when there is one) gives it.
struct Target {
  uint32_t number;
  uint8_t kind;
  Span procedure;
  Span folder;
  FileIdentity folderIdentity;
  Span name;
  Span stem;
  bool hadOld;  // a file was there: `old` is its stamp
  FileStamp old;
  uint64_t sourceSize;  // a COPY's source, which the new file matches in size and time
  uint64_t sourceTime;
  bool settled;  // `placed` is the stamp of the new file the COPY left in place
  FileStamp placed;
};

// What a journal holds.
struct Journal {
  ByteBuffer bytes;
  ByteBuffer targets;  // Target records, in the order made
  uint32_t targetCount = 0;
  ByteBuffer leftovers;  // Span records
  uint32_t leftoverCount = 0;
  uint32_t damaged = 0;  // stretches of bytes that failed their check, good records after them
  bool begun = false;
  bool ended = false;
  Span runId = {0, 0};
  Span script = {0, 0};
  uint32_t processId = 0;
  LocalTime began = {};

  TextString Text(Span span) const {
    TextString text;
    if (text.Allocate(span.length + 1)) {
      std::memcpy(text.GetText(), bytes.GetConstData() + span.offset, span.length);
    }
    return text;
  }
  const Target& TargetAt(uint32_t index) const {
    return reinterpret_cast<const Target*>(targets.GetConstData())[index];
  }
  Span LeftoverAt(uint32_t index) const {
    return reinterpret_cast<const Span*>(leftovers.GetConstData())[index];
  }
  // A run that began (or left changes) and never recorded its end.
  bool Unfinished() const { return !ended && targetCount != 0; }
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
  uint64_t Number64() {
    uint64_t low = Number();
    return low | (static_cast<uint64_t>(Number()) << 32);
  }
  FileIdentity Identity() {
    FileIdentity identity;
    identity.volume = Number64();
    identity.index = Number64();
    return identity;
  }
  FileStamp Stamp() {
    FileStamp stamp;
    stamp.identity = Identity();
    stamp.size = Number64();
    stamp.writeTime = Number64();
    uint8_t flags = Byte();
    stamp.link = (flags & 1) != 0;
    stamp.folder = (flags & 2) != 0;
    return stamp;
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

// Whether a whole record that passes its check starts at `at`; its body size goes to *bodySize.
bool GoodRecordAt(const uint8_t* base, uint32_t size, uint32_t at, uint32_t* bodySize) {
  if (size - at < kHeaderSize) return false;
  RecordReader header(base, at, kHeaderSize);
  uint32_t length = header.Number();
  uint32_t crc = header.Number();
  if (length == 0 || length > size - at - kHeaderSize) return false;
  *bodySize = length;
  return Crc32(base + at + kHeaderSize, length) == crc;
}

// Walks the checked records of `bytes`: calls visit(kind, reader) for each, which says whether the
// body was whole. A record that fails its check is skipped up to the next good one, and counted
// as damage; one that has no good record after it is the torn end of the journal, not damage.
// Returns the count of damaged stretches.
template <typename Visit>
uint32_t WalkRecords(const ByteBuffer& bytes, Visit visit) {
  const uint8_t* base = bytes.GetConstData();
  uint32_t size = bytes.GetSize();
  uint32_t damaged = 0;
  for (uint32_t at = 0; at < size;) {
    uint32_t bodySize = 0;
    if (!GoodRecordAt(base, size, at, &bodySize)) {
      uint32_t next = at + 1;
      while (next < size && !GoodRecordAt(base, size, next, &bodySize)) ++next;
      if (next >= size) break;  // the torn end
      ++damaged;
      at = next;
    }
    RecordReader body(base, at + kHeaderSize, bodySize);
    uint8_t kind = body.Byte();
    if (!visit(kind, body)) ++damaged;
    at += kHeaderSize + bodySize;
  }
  return damaged;
}

// Parses the journal's bytes (already in `journal->bytes`). False when memory runs out.
bool ParseJournal(Journal* journal) {
  // Count first, so that each table is one block.
  uint32_t targets = 0;
  uint32_t leftovers = 0;
  WalkRecords(journal->bytes, [&](uint8_t kind, RecordReader&) {
    if (kind == kTarget) ++targets;
    if (kind == kLeftover) ++leftovers;
    return true;
  });
  if ((targets != 0 && !journal->targets.Allocate(targets * sizeof(Target))) ||
      (leftovers != 0 && !journal->leftovers.Allocate(leftovers * sizeof(Span)))) {
    return false;
  }
  Target* targetTable = reinterpret_cast<Target*>(journal->targets.GetData());
  Span* leftoverTable = reinterpret_cast<Span*>(journal->leftovers.GetData());
  journal->damaged = WalkRecords(journal->bytes, [&](uint8_t kind, RecordReader& body) {
    if (kind == kBegin) {
      Span runId = body.Text();
      uint32_t processId = body.Number();
      uint16_t time[6];
      for (uint16_t& part : time) part = static_cast<uint16_t>(body.Number());
      Span script = body.Text();
      if (!body.good()) return false;
      journal->begun = true;
      journal->runId = runId;
      journal->script = script;
      journal->processId = processId;
      journal->began = {time[0], time[1], time[2], time[3], time[4], time[5]};
    } else if (kind == kPlan) {
      // What the run meant to do: the 'T' records tell what it did.
    } else if (kind == kTarget && journal->targetCount < targets) {
      Target target = {};
      target.number = body.Number();
      target.kind = body.Byte();
      target.procedure = body.Text();
      target.folder = body.Text();
      target.folderIdentity = body.Identity();
      target.name = body.Text();
      target.stem = body.Text();
      target.hadOld = body.Byte() != 0;
      target.old = body.Stamp();
      target.sourceSize = body.Number64();
      target.sourceTime = body.Number64();
      if (!body.good() || (target.kind != kDeleteChange && target.kind != kCopyChange) ||
          target.stem.length == 0 || target.name.length == 0) {
        return false;
      }
      targetTable[journal->targetCount++] = target;
    } else if (kind == kSettled) {
      uint32_t number = body.Number();
      FileStamp placed = body.Stamp();
      if (!body.good()) return false;
      for (uint32_t i = journal->targetCount; i-- > 0;) {
        if (targetTable[i].number == number) {
          targetTable[i].settled = true;
          targetTable[i].placed = placed;
          break;
        }
      }
    } else if (kind == kEnd) {
      journal->ended = true;
    } else if (kind == kLeftover && journal->leftoverCount < leftovers) {
      Span path = body.Text();
      if (!body.good()) return false;
      leftoverTable[journal->leftoverCount++] = path;
    } else if (kind != kLeftover) {
      return false;  // no such record
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

// An open, locked journal.
struct JournalFile {
  FileHandle file = kNoFile;
  uint64_t size = 0;  // its bytes so far
  TextString path;
};

struct RollbackState {
  bool on = false;     // UPDATER's ROLLBACK
  bool began = false;  // BeginRollback let the run go on
  JournalFile journal;
  bool opened = false;  // the journal was looked for (runs without rollback open it on demand)
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

bool HasSuffix(const TextString& text, const char* suffix) {
  size_t length = static_cast<size_t>(text.GetLength());
  size_t suffixLength = std::strlen(suffix);
  return length >= suffixLength &&
         std::strcmp(text.GetConstText() + length - suffixLength, suffix) == 0;
}

bool Exists(const char* path) {
  return CurrentSystem().GetFileAttributesA(path) != kInvalidFileAttributes;
}

bool SameIdentity(const FileIdentity& one, const FileIdentity& other) {
  return one.volume == other.volume && one.index == other.index;
}

// One file, unchanged in size and last write, and no link.
bool SameStamp(const FileStamp& one, const FileStamp& other) {
  return SameIdentity(one.identity, other.identity) && one.size == other.size &&
         one.writeTime == other.writeTime && !one.link && !other.link;
}

// `folder` and `name` joined by one separator.
TextString Joined(const TextString& folder, const char* name) {
  TextString path(folder);
  size_t length = static_cast<size_t>(folder.GetLength());
  char last = length == 0 ? kPathSeparator : folder.GetConstText()[length - 1];
  if (last != kPathSeparator && last != '/') path.Append(kPathSeparatorText);
  path.Append(name);
  return path;
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

void CloseJournal() { CloseJournal(&g_rollback.journal); }

// The path of this script's journal in `folder`: named after the script's path and the account.
TextString JournalPath(const TextString& folder) {
  TextString user;
  if (!CurrentSystem().GetUserNameA(&user)) user.SetText("");
  // Windows paths name one file whatever the letters' case.
  constexpr bool kFoldCase = kPathSeparator == '\\';
  uint64_t key = Fnv1a(14695981039346656037ull, g_appContext.scriptPath.GetConstText(), kFoldCase);
  key = Fnv1a(key, "\n", false);
  key = Fnv1a(key, user.GetConstText(), false);
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
  return ParseJournal(journal);
}

// Appends a finished record and flushes the journal; on failure the journal is cut back to where
// it was, so that no torn record hides the records written after it.
bool AppendRecord(JournalFile* journal, RecordWriter* writer, ByteBuffer* record) {
  writer->Finish();
  System& system = CurrentSystem();
  uint32_t written = 0;
  bool ok = journal->file != kNoFile &&
            system.WriteFile(journal->file, journal->size,
                             reinterpret_cast<const char*>(record->GetConstData()),
                             record->GetSize(), &written) &&
            system.FlushFileBuffers(journal->file);
  if (ok) {
    journal->size += record->GetSize();
  } else if (journal->file != kNoFile) {
    system.SetEndOfFile(journal->file, journal->size);
  }
  return ok;
}

bool AppendLeftover(JournalFile* journal, const TextString& path) {
  ByteBuffer record;
  RecordWriter writer;
  if (!writer.Start(&record, 1 + RecordWriter::TextSize(path))) return false;
  writer.Byte(kLeftover);
  writer.Text(path);
  return AppendRecord(journal, &writer, &record);
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
      ok = AppendRecord(journal, &writer, &record);
    }
  }
  const uint32_t* indexes = reinterpret_cast<const uint32_t*>(waiting.GetConstData());
  for (uint32_t i = 0; ok && i < waiting.GetSize() / sizeof(uint32_t); ++i) {
    ok = AppendLeftover(journal, previous.Text(previous.LeftoverAt(indexes[i])));
  }
  return ok && system.FlushFileBuffers(journal->file);
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

// Records one change just before it is made ('T'); false when it cannot be (then it is not made).
bool RecordTarget(uint8_t kind, const TextString& procedure, uint32_t number, const Place& place,
                  const TextString& stem, const FileStamp* old, uint64_t sourceSize,
                  uint64_t sourceTime) {
  ByteBuffer record;
  RecordWriter writer;
  uint32_t size = 1 + 4 + 1 + RecordWriter::TextSize(procedure) +
                  RecordWriter::TextSize(place.folder) + RecordWriter::kIdentitySize +
                  RecordWriter::TextSize(place.name) + RecordWriter::TextSize(stem) + 1 +
                  RecordWriter::kStampSize + 8 + 8;
  if (!writer.Start(&record, size)) return false;
  FileStamp none = {};
  writer.Byte(kTarget);
  writer.Number(number);
  writer.Byte(kind);
  writer.Text(procedure);
  writer.Text(place.folder);
  writer.Identity(place.folderIdentity);
  writer.Text(place.name);
  writer.Text(stem);
  writer.Byte(old != nullptr ? 1 : 0);
  writer.Stamp(old != nullptr ? *old : none);
  writer.Number64(sourceSize);
  writer.Number64(sourceTime);
  if (AppendRecord(&g_rollback.journal, &writer, &record)) return true;
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
  RecordWriter writer;
  if (!writer.Start(&record, 1 + 4 + RecordWriter::kStampSize)) return;
  writer.Byte(kSettled);
  writer.Number(number);
  writer.Stamp(placed);
  AppendRecord(&g_rollback.journal, &writer, &record);
}

// ---------------------------------------------------------------------------------------------
// Undoing and removing.
// ---------------------------------------------------------------------------------------------

enum class Undo { kNothing, kUndone, kFailed };

// Puts the kept file `kept` back as `target`, its hidden attribute taken off first when the run
// gave it (kKeptSuffix). Neither name is followed if it is a link: a rename acts on names.
bool PutBack(const TextString& kept, const char* target, bool hiddenByRun, uint32_t flags) {
  System& system = CurrentSystem();
  if (hiddenByRun) {
    uint32_t attributes = system.GetFileAttributesA(kept.GetConstText());
    if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeHidden) != 0) {
      uint32_t plain = attributes & ~kFileAttributeHidden;
      system.SetFileAttributesA(kept.GetConstText(), plain != 0 ? plain : kFileAttributeNormal);
    }
  }
  if (flags == 0) {
    // Two names of one file (a run killed between keeping the old file and replacing it): the
    // old file is still in place, and the kept name goes.
    if (!system.DeleteFileA(kept.GetConstText())) return false;
    return true;
  }
  return system.MoveFileExA(kept.GetConstText(), target, flags | kMoveFileWriteThrough);
}

// How an undo that found something else than the run left it is told.
struct UndoFailure {
  TextString path;  // the file
  TextString kept;  // where the old file stays ("" for none)
};

// Undoes one change, if it was made and is still as the run left it; logs it. Nothing is touched
// when the folder, the kept file or the file in place is not what the run left: the kept file
// stays for the administrator, and `failure` names it.
Undo UndoTarget(const Journal& journal, const Target& target, UndoFailure* failure) {
  System& system = CurrentSystem();
  TextString folder = journal.Text(target.folder);
  TextString name = journal.Text(target.name);
  TextString stem = journal.Text(target.stem);
  TextString procedure = journal.Text(target.procedure);
  TextString path = Joined(folder, name.GetConstText());
  auto line = [&]() {
    LogLine log;
    log.Add("undo ").Add(procedure).Add(": ");
    return log;
  };
  auto fail = [&](const TextString& kept, const char* why) {
    if (IsRunLogOn()) {
      LogLine log = line();
      log.Add("could not put back ").Quoted(path);
      if (why != nullptr) log.Add(": ").Add(why);
      if (kept.GetLength() != 0) log.Add("; the old file stays as ").Quoted(kept);
      log.Write();
    }
    failure->path.Assign(path);
    failure->kept.Assign(kept);
    return Undo::kFailed;
  };
  TextString keptOld = WithSuffix(stem, kKeptSuffix);
  FileStamp now;
  if (!system.GetFileStampA(folder.GetConstText(), &now) || now.link || !now.folder ||
      !SameIdentity(now.identity, target.folderIdentity)) {
    // Gone, or another folder (or a link) under its name: nothing in it is the run's to touch.
    bool anything = Exists(keptOld.GetConstText()) ||
                    Exists(WithSuffix(stem, kKeptHiddenSuffix).GetConstText()) ||
                    Exists(WithSuffix(stem, kMarkSuffix).GetConstText());
    if (!anything) return Undo::kNothing;
    return fail(keptOld, "its folder is no longer the one the run changed");
  }
  bool isCopy = target.kind == kCopyChange;
  // A COPY's new file that is not in place (a run killed while it copied, or a copy waiting for
  // a restart, which then finds nothing to put in place) goes first.
  TextString staged = WithSuffix(stem, kStagedSuffix);
  bool stagedRemoved = isCopy && system.DeleteFileA(staged.GetConstText());
  FileStamp inPlace;
  bool present = system.GetFileStampA(path.GetConstText(), &inPlace);
  // Whether the file in place is the one the COPY left: its stamp, or when the run could not
  // record that, the size and time it took from its source.
  bool leftByRun = present && !inPlace.link &&
                   (target.settled ? SameStamp(inPlace, target.placed)
                                   : inPlace.size == target.sourceSize &&
                                         inPlace.writeTime == target.sourceTime);
  static const char* const kKeptSuffixes[] = {kKeptSuffix, kKeptHiddenSuffix};
  for (const char* suffix : kKeptSuffixes) {
    TextString kept = WithSuffix(stem, suffix);
    FileStamp keptStamp;
    if (!system.GetFileStampA(kept.GetConstText(), &keptStamp)) continue;
    bool hiddenByRun = suffix == kKeptSuffixes[0];
    if (!target.hadOld || !SameStamp(keptStamp, target.old)) {
      return fail(kept, "the kept file is not the one the run kept");
    }
    uint32_t flags = kMoveFileReplaceExisting;
    if (!present) {
      flags = kMoveFileWriteThrough;  // nothing in its place: never replace what may come
    } else if (isCopy && SameIdentity(inPlace.identity, keptStamp.identity) && !inPlace.link) {
      flags = 0;  // the old file never left its place
    } else if (!isCopy || !leftByRun) {
      return fail(kept, "it is no longer what the run left there");
    }
    if (!PutBack(kept, path.GetConstText(), hiddenByRun, flags)) {
      return fail(kept, nullptr);
    }
    system.DeleteFileA(WithSuffix(stem, kMarkSuffix).GetConstText());
    if (IsRunLogOn()) {
      if (isCopy) {
        line().Add("the old file is back in ").Quoted(path).Write();
      } else {
        line().Add("put back ").Quoted(path).Write();
      }
    }
    return Undo::kUndone;
  }
  if (!isCopy) return Undo::kNothing;
  TextString made = WithSuffix(stem, kMarkSuffix);
  if (!Exists(made.GetConstText())) {
    if (!stagedRemoved) return Undo::kNothing;
    if (IsRunLogOn())
      line().Add("removed the new file ").Quoted(staged).Add(", never put in place").Write();
    return Undo::kUndone;
  }
  // The COPY made the file: it goes (the marker after it, so that a run stopped between the two
  // still knows), when it is still the one it made.
  if (present && !leftByRun) {
    if (IsRunLogOn()) {
      line()
          .Add("did not remove ")
          .Quoted(path)
          .Add(": it is no longer the file the run made")
          .Write();
    }
    system.DeleteFileA(made.GetConstText());
    failure->path.Assign(path);
    failure->kept.SetText("");
    return Undo::kFailed;
  }
  if (present && !system.DeleteFileA(path.GetConstText()) && Exists(path.GetConstText())) {
    if (IsRunLogOn())
      line().Add("could not remove ").Quoted(path).Add(", which the run made").Write();
    failure->path.Assign(path);
    failure->kept.SetText("");
    return Undo::kFailed;
  }
  system.DeleteFileA(made.GetConstText());
  if (IsRunLogOn()) line().Add("removed ").Quoted(path).Add(", which the run made").Write();
  return Undo::kUndone;
}

// What undoing journals came to.
struct UndoCount {
  int32_t undone = 0;
  int32_t failed = 0;
  UndoFailure first;  // the first change that could not be undone
};

// Undoes every change of `journal`, newest first.
void UndoAll(const Journal& journal, UndoCount* count) {
  for (uint32_t i = journal.targetCount; i-- > 0;) {
    UndoFailure failure;
    Undo result = UndoTarget(journal, journal.TargetAt(i), &failure);
    if (result == Undo::kUndone) ++count->undone;
    if (result == Undo::kFailed && count->failed++ == 0) {
      count->first.path.Assign(failure.path);
      count->first.kept.Assign(failure.kept);
    }
  }
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
  if (g_rollback.journal.file != kNoFile && name.SetText(kept)) {
    AppendLeftover(&g_rollback.journal, name);
  }
  return true;
}

// Removes what a finished run kept (never a copy staged for a restart: that one is still to
// come), as its journal names it: a kept file only while it is still the one kept. A file still
// in use goes later.
void RemoveKept(const Journal& journal) {
  for (uint32_t i = 0; i < journal.targetCount; ++i) {
    const Target& target = journal.TargetAt(i);
    TextString stem = journal.Text(target.stem);
    static const char* const kSuffixes[] = {kKeptSuffix, kKeptHiddenSuffix, kMarkSuffix};
    for (const char* suffix : kSuffixes) {
      TextString kept = WithSuffix(stem, suffix);
      FileStamp stamp;
      if (!CurrentSystem().GetFileStampA(kept.GetConstText(), &stamp)) continue;
      if (suffix != kMarkSuffix && (!target.hadOld || !SameStamp(stamp, target.old))) {
        if (IsRunLogOn()) {
          LogLine()
              .Add("rollback: ")
              .Quoted(kept)
              .Add(" is not the file the run kept: it stays for the administrator")
              .Write();
        }
        continue;
      }
      RemoveKeptFile(kept.GetConstText());
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

void ReportUndoFailure(const UndoCount& count) {
  if (count.failed != 0) {
    ReportError(kMsgUndoFailed, count.first.path.GetConstText(), count.first.kept.GetConstText());
  }
}

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

// Logs every file that the run of a damaged journal kept and that is still there, in each folder
// that its readable records name: what its damaged records named is among them. Nothing is
// removed: they stay for the administrator.
void ListKeptFiles(const Journal& journal) {
  if (!IsRunLogOn()) return;
  for (uint32_t i = 0; i < journal.targetCount; ++i) {
    const Target& target = journal.TargetAt(i);
    if (i != 0 && journal.TargetAt(i - 1).folder.length == target.folder.length &&
        std::memcmp(journal.bytes.GetConstData() + journal.TargetAt(i - 1).folder.offset,
                    journal.bytes.GetConstData() + target.folder.offset,
                    target.folder.length) == 0) {
      continue;  // the same folder as the change before
    }
    // The stem's name up to its number: ".kestario-<run id>-".
    TextString stem = journal.Text(target.stem);
    const char* text = stem.GetConstText();
    const char* name = text;
    const char* number = nullptr;
    for (const char* p = text; *p != '\0'; ++p) {
      if (*p == kPathSeparator || *p == '/') name = p + 1;
      if (*p == '-') number = p + 1;
    }
    if (number == nullptr || number < name) continue;
    size_t prefixLength = static_cast<size_t>(number - name);
    TextString folder = journal.Text(target.folder);
    ByteBuffer names;
    if (!CurrentSystem().ListFilesA(folder.GetConstText(), "", &names)) continue;
    const char* list = reinterpret_cast<const char*>(names.GetConstData());
    for (uint32_t at = 0; at < names.GetSize();
         at += static_cast<uint32_t>(std::strlen(list + at)) + 1) {
      if (std::strncmp(list + at, name, prefixLength) != 0) continue;
      LogLine()
          .Add("rollback: ")
          .Quoted(Joined(folder, list + at))
          .Add(", kept by that run, stays for the administrator")
          .Write();
    }
  }
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
    RemoveKept(journal);
  }
  ByteBuffer waiting;
  RemoveLeftovers(journal, &waiting);
  if (journal.damaged != 0) {
    ListKeptFiles(journal);
    TextString aside;
    bool setAside = SetAside(*file, &aside);
    if (IsRunLogOn()) {
      LogLine line;
      line.Add("rollback: the journal ").Quoted(file->path).Add(" is damaged: ");
      line.Number(journal.damaged).Add(" part(s) could not be read, and what they recorded is not");
      line.Add(" undone; ").Number(here.failed).Add(" change(s) could not be undone");
      if (setAside) line.Add("; it is set aside as ").Quoted(aside);
      line.Write();
    }
    TextString damaged;
    TextString failed;
    damaged.Format("%u", journal.damaged);
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

bool BeginRollback(bool on) {
  CloseJournal();
  g_rollback.on = on;
  g_rollback.began = false;
  g_rollback.opened = false;
  g_rollback.journal.size = 0;
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
    ok = AppendRecord(&g_rollback.journal, &writer, &record);
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
                            const TextString& to, TextString* kept) {
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
                                             &names.names(), flags, &as);
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
    RecordWriter writer;
    bool ended = writer.Start(&record, 1);
    if (ended) {
      writer.Byte(kEnd);
      ended = AppendRecord(file, &writer, &record);
    }
    if (!ended) ResetJournal(file, false, journal, AllLeftovers(journal));
    if (g_rollback.kept.lost()) {
      RemoveKept(journal);
    } else {
      g_rollback.kept.ForEach([](const char* name) { RemoveKeptFile(name); });
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
