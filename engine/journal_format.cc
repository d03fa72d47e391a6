#include "engine/journal_format.h"

#include <cstring>

namespace kestario {
namespace journal {
namespace {

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

}  // namespace

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

bool RecordWriter::Start(ByteBuffer* record, uint32_t bodySize) {
  if (bodySize > 0x7FFFFFF0u || !record->Allocate(kHeaderSize + bodySize)) return false;
  record_ = record;
  at_ = record->GetData() + kHeaderSize;
  return true;
}

void RecordWriter::Number(uint32_t value) {
  for (int i = 0; i < 4; ++i) *at_++ = static_cast<uint8_t>(value >> (8 * i));
}

void RecordWriter::Number64(uint64_t value) {
  Number(static_cast<uint32_t>(value));
  Number(static_cast<uint32_t>(value >> 32));
}

void RecordWriter::Identity(const FileIdentity& identity) {
  Number64(identity.volume);
  Number64(identity.index);
}

void RecordWriter::Stamp(const FileStamp& stamp) {
  Identity(stamp.identity);
  Number64(stamp.size);
  Number64(stamp.writeTime);
  Byte(static_cast<uint8_t>((stamp.link ? 1 : 0) | (stamp.folder ? 2 : 0)));
}

void RecordWriter::Text(const char* text, uint32_t length) {
  Number(length);
  std::memcpy(at_, text, length);
  at_ += length;
}

void RecordWriter::Finish() {
  uint8_t* start = record_->GetData();
  uint32_t bodySize = record_->GetSize() - kHeaderSize;
  uint32_t crc = Crc32(start + kHeaderSize, bodySize);
  at_ = start;
  Number(bodySize);
  Number(crc);
}

bool MakeBeginRecord(const TextString& runId, uint32_t processId, const LocalTime& time,
                     const TextString& script, ByteBuffer* record) {
  RecordWriter writer;
  if (!writer.Start(
          record, 1 + RecordWriter::TextSize(runId) + 4 + 6 * 4 + RecordWriter::TextSize(script))) {
    return false;
  }
  writer.Byte(kBegin);
  writer.Text(runId);
  writer.Number(processId);
  uint16_t parts[] = {time.year, time.month, time.day, time.hour, time.minute, time.second};
  for (uint16_t part : parts) writer.Number(part);
  writer.Text(script);
  writer.Finish();
  return true;
}

bool MakeTargetRecord(uint8_t kind, uint32_t number, const TextString& procedure,
                      const TextString& folder, const FileIdentity& folderIdentity,
                      const TextString& name, const TextString& stem, const FileStamp* old,
                      uint64_t sourceSize, uint64_t sourceTime, ByteBuffer* record) {
  RecordWriter writer;
  uint32_t size = 1 + 4 + 1 + RecordWriter::TextSize(procedure) + RecordWriter::TextSize(folder) +
                  RecordWriter::kIdentitySize + RecordWriter::TextSize(name) +
                  RecordWriter::TextSize(stem) + 1 + RecordWriter::kStampSize + 8 + 8;
  if (!writer.Start(record, size)) return false;
  FileStamp none = {};
  writer.Byte(kTarget);
  writer.Number(number);
  writer.Byte(kind);
  writer.Text(procedure);
  writer.Text(folder);
  writer.Identity(folderIdentity);
  writer.Text(name);
  writer.Text(stem);
  writer.Byte(old != nullptr ? 1 : 0);
  writer.Stamp(old != nullptr ? *old : none);
  writer.Number64(sourceSize);
  writer.Number64(sourceTime);
  writer.Finish();
  return true;
}

bool MakeSettledRecord(uint32_t number, const FileStamp& placed, ByteBuffer* record) {
  RecordWriter writer;
  if (!writer.Start(record, 1 + 4 + RecordWriter::kStampSize)) return false;
  writer.Byte(kSettled);
  writer.Number(number);
  writer.Stamp(placed);
  writer.Finish();
  return true;
}

bool MakeEndRecord(ByteBuffer* record) {
  RecordWriter writer;
  if (!writer.Start(record, 1)) return false;
  writer.Byte(kEnd);
  writer.Finish();
  return true;
}

bool MakeLeftoverRecord(const TextString& path, ByteBuffer* record) {
  RecordWriter writer;
  if (!writer.Start(record, 1 + RecordWriter::TextSize(path))) return false;
  writer.Byte(kLeftover);
  writer.Text(path);
  writer.Finish();
  return true;
}

TextString Journal::Text(Span span) const {
  TextString text;
  if (text.Allocate(span.length + 1)) {
    std::memcpy(text.GetText(), bytes.GetConstData() + span.offset, span.length);
  }
  return text;
}

bool ParseJournal(Journal* journal) {
  // Count first, so that each table is one block.
  uint32_t targets = 0;
  uint32_t leftovers = 0;
  uint64_t planned = 0;
  WalkRecords(journal->bytes, [&](uint8_t kind, RecordReader& body) {
    if (kind == kTarget) ++targets;
    if (kind == kLeftover) ++leftovers;
    if (kind == kPlan) {
      body.Number();
      planned += body.Number();
    }
    return true;
  });
  // No plan can name more paths than its bytes hold (a text is at least 4 bytes).
  if (planned > journal->bytes.GetSize() / 4) planned = journal->bytes.GetSize() / 4;
  if ((targets != 0 && !journal->targets.Allocate(targets * sizeof(Target))) ||
      (leftovers != 0 && !journal->leftovers.Allocate(leftovers * sizeof(Span))) ||
      (planned != 0 && !journal->planned.Allocate(static_cast<uint32_t>(planned) * sizeof(Span)))) {
    return false;
  }
  Target* targetTable = reinterpret_cast<Target*>(journal->targets.GetData());
  Span* leftoverTable = reinterpret_cast<Span*>(journal->leftovers.GetData());
  Span* plannedTable = reinterpret_cast<Span*>(journal->planned.GetData());
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
      // What the run meant to do: the 'T' records tell what it did. Its paths name the folders
      // where the run may have kept files, should those records be lost.
      body.Number();
      uint32_t count = body.Number();
      for (uint32_t i = 0; i < count && body.good(); ++i) {
        body.Byte();
        body.Text();
        Span path = body.Text();
        if (body.good() && journal->plannedCount < planned) {
          plannedTable[journal->plannedCount++] = path;
        }
      }
      if (!body.good()) return false;
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

}  // namespace journal
}  // namespace kestario
