// Fuzz target: the rollback journal's reader (engine/journal_format.h) on arbitrary bytes, as a
// journal left by a killed run, a torn write or an attacker would hand it. Every span it reads must
// lie inside the bytes, every change must have a kind, a name and a stem; and what it read, written
// again by the journal's writer, must read back the same and undamaged.
#include <cstdint>
#include <cstring>

#include "engine/journal_format.h"
#include "support/check.h"

namespace kestario {
namespace journal {
namespace {

bool Inside(const Journal& journal, Span span) {
  return span.offset <= journal.bytes.GetSize() &&
         span.length <= journal.bytes.GetSize() - span.offset;
}

// Whether the span's bytes hold no NUL: only such a text is the same once it is a TextString.
bool PlainText(const Journal& journal, Span span) {
  return std::memchr(journal.bytes.GetConstData() + span.offset, '\0', span.length) == nullptr;
}

bool SameBytes(const Journal& one, Span a, const Journal& other, Span b) {
  return a.length == b.length && std::memcmp(one.bytes.GetConstData() + a.offset,
                                             other.bytes.GetConstData() + b.offset, a.length) == 0;
}

bool SameStamp(const FileStamp& a, const FileStamp& b) {
  return a.identity.volume == b.identity.volume && a.identity.index == b.identity.index &&
         a.size == b.size && a.writeTime == b.writeTime && a.link == b.link && a.folder == b.folder;
}

bool Append(ByteBuffer* bytes, bool made, const ByteBuffer& record) {
  return made && bytes->AppendBytes(record.GetConstData(), record.GetSize());
}

// What `journal` holds, written again record by record into `copy->bytes`; false when a text
// holds a NUL byte (it would not survive) or memory runs out.
bool Rewrite(const Journal& journal, Journal* copy) {
  ByteBuffer record;
  if (journal.begun) {
    if (!PlainText(journal, journal.runId) || !PlainText(journal, journal.script)) return false;
    if (!Append(&copy->bytes,
                MakeBeginRecord(journal.Text(journal.runId), journal.processId, journal.began,
                                journal.Text(journal.script), &record),
                record)) {
      return false;
    }
  }
  for (uint32_t i = 0; i < journal.targetCount; ++i) {
    const Target& t = journal.TargetAt(i);
    if (!PlainText(journal, t.procedure) || !PlainText(journal, t.folder) ||
        !PlainText(journal, t.name) || !PlainText(journal, t.stem)) {
      return false;
    }
    if (!Append(
            &copy->bytes,
            MakeTargetRecord(t.kind, t.number, journal.Text(t.procedure), journal.Text(t.folder),
                             t.folderIdentity, journal.Text(t.name), journal.Text(t.stem),
                             t.hadOld ? &t.old : nullptr, t.sourceSize, t.sourceTime, &record),
            record)) {
      return false;
    }
    if (t.settled &&
        !Append(&copy->bytes, MakeSettledRecord(t.number, t.placed, &record), record)) {
      return false;
    }
  }
  for (uint32_t i = 0; i < journal.leftoverCount; ++i) {
    Span path = journal.LeftoverAt(i);
    if (!PlainText(journal, path)) return false;
    if (!Append(&copy->bytes, MakeLeftoverRecord(journal.Text(path), &record), record)) {
      return false;
    }
  }
  if (journal.ended && !Append(&copy->bytes, MakeEndRecord(&record), record)) return false;
  return true;
}

void CheckSame(const Journal& journal, const Journal& copy) {
  FUZZ_CHECK(copy.damaged == 0);
  FUZZ_CHECK(copy.begun == journal.begun);
  FUZZ_CHECK(copy.ended == journal.ended);
  FUZZ_CHECK(copy.targetCount == journal.targetCount);
  FUZZ_CHECK(copy.leftoverCount == journal.leftoverCount);
  if (journal.begun) {
    FUZZ_CHECK(SameBytes(journal, journal.runId, copy, copy.runId));
    FUZZ_CHECK(SameBytes(journal, journal.script, copy, copy.script));
    FUZZ_CHECK(copy.processId == journal.processId);
    FUZZ_CHECK(std::memcmp(&copy.began, &journal.began, 6 * sizeof(uint16_t)) == 0);
  }
  for (uint32_t i = 0; i < journal.targetCount; ++i) {
    const Target& a = journal.TargetAt(i);
    const Target& b = copy.TargetAt(i);
    FUZZ_CHECK(a.number == b.number && a.kind == b.kind && a.hadOld == b.hadOld);
    FUZZ_CHECK(SameBytes(journal, a.procedure, copy, b.procedure));
    FUZZ_CHECK(SameBytes(journal, a.folder, copy, b.folder));
    FUZZ_CHECK(SameBytes(journal, a.name, copy, b.name));
    FUZZ_CHECK(SameBytes(journal, a.stem, copy, b.stem));
    FUZZ_CHECK(a.folderIdentity.volume == b.folderIdentity.volume);
    FUZZ_CHECK(a.folderIdentity.index == b.folderIdentity.index);
    FUZZ_CHECK(!a.hadOld || SameStamp(a.old, b.old));
    FUZZ_CHECK(a.sourceSize == b.sourceSize && a.sourceTime == b.sourceTime);
    FUZZ_CHECK(a.settled == b.settled);
    FUZZ_CHECK(!a.settled || SameStamp(a.placed, b.placed));
  }
  for (uint32_t i = 0; i < journal.leftoverCount; ++i) {
    FUZZ_CHECK(SameBytes(journal, journal.LeftoverAt(i), copy, copy.LeftoverAt(i)));
  }
}

}  // namespace
}  // namespace journal
}  // namespace kestario

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestario::journal;
  Journal journal;
  if (size != 0 && !journal.bytes.AppendBytes(data, static_cast<uint32_t>(size))) return 0;
  if (!ParseJournal(&journal)) return 0;
  if (journal.begun) {
    FUZZ_CHECK(Inside(journal, journal.runId));
    FUZZ_CHECK(Inside(journal, journal.script));
  }
  for (uint32_t i = 0; i < journal.targetCount; ++i) {
    const Target& t = journal.TargetAt(i);
    FUZZ_CHECK(t.kind == kDeleteChange || t.kind == kCopyChange);
    FUZZ_CHECK(t.name.length != 0 && t.stem.length != 0);
    FUZZ_CHECK(Inside(journal, t.procedure) && Inside(journal, t.folder));
    FUZZ_CHECK(Inside(journal, t.name) && Inside(journal, t.stem));
  }
  for (uint32_t i = 0; i < journal.leftoverCount; ++i) {
    FUZZ_CHECK(Inside(journal, journal.LeftoverAt(i)));
  }
  Journal copy;
  if (Rewrite(journal, &copy) && ParseJournal(&copy)) CheckSame(journal, copy);
  return 0;
}
