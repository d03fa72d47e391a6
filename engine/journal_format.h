// The rollback journal's bytes: how each record is written and how a whole journal is read back.
// Nothing here touches a file; engine/rollback.cc keeps the journal on the disk.
//
// Each record is its body's length and CRC-32, then the body, whose first byte says what it is.
// Numbers are little-endian; a text is its length and its bytes. A record that fails its check is
// skipped where a good one follows it (damage: it is reported, and the good records are still
// used); a record cut short at the end is a write that a kill or power cut tore, flushed before any
// change that it announces, so no change can depend on it.
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
#ifndef KESTARIO_ENGINE_JOURNAL_FORMAT_H_
#define KESTARIO_ENGINE_JOURNAL_FORMAT_H_

#include <cstddef>
#include <cstdint>

#include "platform/system.h"
#include "text/byte_buffer.h"
#include "text/text_string.h"

namespace kestario {
namespace journal {

constexpr uint8_t kBegin = 'B';
constexpr uint8_t kPlan = 'P';
constexpr uint8_t kTarget = 'T';
constexpr uint8_t kSettled = 'S';
constexpr uint8_t kEnd = 'E';
constexpr uint8_t kLeftover = 'L';
constexpr uint8_t kDeleteChange = 'D';
constexpr uint8_t kCopyChange = 'C';
constexpr uint32_t kHeaderSize = 8;

uint32_t Crc32(const uint8_t* data, size_t size);

// Fills a record whose body size is known beforehand: one block, no growing. Finish writes its
// header; the record is then ready to be appended to a journal.
class RecordWriter {
 public:
  bool Start(ByteBuffer* record, uint32_t bodySize);
  void Byte(uint8_t value) { *at_++ = value; }
  void Number(uint32_t value);
  void Number64(uint64_t value);
  void Identity(const FileIdentity& identity);
  void Stamp(const FileStamp& stamp);
  void Text(const char* text, uint32_t length);
  void Text(const TextString& text) {
    Text(text.GetConstText(), static_cast<uint32_t>(text.GetLength()));
  }
  // Writes the header: the body's length and checksum.
  void Finish();

  static uint32_t TextSize(const TextString& text) {
    return 4 + static_cast<uint32_t>(text.GetLength());
  }
  static constexpr uint32_t kIdentitySize = 16;
  static constexpr uint32_t kStampSize = kIdentitySize + 8 + 8 + 1;

 private:
  ByteBuffer* record_ = nullptr;
  uint8_t* at_ = nullptr;
};

// The whole records, each ready to be appended; false when memory (or the size) does not allow.
bool MakeBeginRecord(const TextString& runId, uint32_t processId, const LocalTime& time,
                     const TextString& script, ByteBuffer* record);
// One change ('T'); `old` is null when no file was there.
bool MakeTargetRecord(uint8_t kind, uint32_t number, const TextString& procedure,
                      const TextString& folder, const FileIdentity& folderIdentity,
                      const TextString& name, const TextString& stem, const FileStamp* old,
                      uint64_t sourceSize, uint64_t sourceTime, ByteBuffer* record);
bool MakeSettledRecord(uint32_t number, const FileStamp& placed, ByteBuffer* record);
bool MakeEndRecord(ByteBuffer* record);
bool MakeLeftoverRecord(const TextString& path, ByteBuffer* record);

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
  ByteBuffer planned;  // Span records: the paths that the plans name, as the script gave them
  uint32_t plannedCount = 0;
  uint32_t damaged = 0;  // stretches of bytes that failed their check, good records after them
  bool begun = false;
  bool ended = false;
  Span runId = {0, 0};
  Span script = {0, 0};
  uint32_t processId = 0;
  LocalTime began = {};

  TextString Text(Span span) const;
  const Target& TargetAt(uint32_t index) const {
    return reinterpret_cast<const Target*>(targets.GetConstData())[index];
  }
  Span LeftoverAt(uint32_t index) const {
    return reinterpret_cast<const Span*>(leftovers.GetConstData())[index];
  }
  Span PlannedAt(uint32_t index) const {
    return reinterpret_cast<const Span*>(planned.GetConstData())[index];
  }
  // A run that began (or left changes) and never recorded its end.
  bool Unfinished() const { return !ended && targetCount != 0; }
};

// Reads the journal's bytes (already in `journal->bytes`): its beginning, its changes, its
// leftovers, whether it ended, and how many stretches of it were damaged. False when memory runs
// out.
bool ParseJournal(Journal* journal);

}  // namespace journal
}  // namespace kestario

#endif  // KESTARIO_ENGINE_JOURNAL_FORMAT_H_
