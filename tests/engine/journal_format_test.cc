// The journal's writer and reader together: records made by the writer read back field for field,
// a damaged record in the middle is skipped and counted, and a torn end is not damage.
#include "engine/journal_format.h"

#include <gtest/gtest.h>

#include <string>

namespace kestario {
namespace journal {
namespace {

std::string TextOf(const Journal& journal, Span span) { return journal.Text(span).GetConstText(); }

bool Append(ByteBuffer* bytes, const ByteBuffer& record) {
  return bytes->AppendBytes(record.GetConstData(), record.GetSize());
}

FileStamp MakeStamp(uint64_t seed, bool link) {
  FileStamp stamp = {};
  stamp.identity.volume = seed;
  stamp.identity.index = seed * 7 + 0x100000000ull;
  stamp.size = seed * 3;
  stamp.writeTime = 0x01DB000000000000ull + seed;
  stamp.link = link;
  return stamp;
}

// A run's journal as the rollback writes it: its beginning, a DELETE and a COPY (settled), a
// leftover and its end.
void WriteRun(ByteBuffer* bytes) {
  ByteBuffer record;
  LocalTime time = {2026, 12, 8, 9, 30, 59};
  ASSERT_TRUE(MakeBeginRecord(TextString("0badf00d"), 4242, time,
                              TextString("C:\\Tools\\updater.ini"), &record));
  ASSERT_TRUE(Append(bytes, record));
  FileStamp old = MakeStamp(5, false);
  FileIdentity folder = {11, 12};
  ASSERT_TRUE(MakeTargetRecord(kDeleteChange, 1, TextString("REMOVE"), TextString("C:\\Data"),
                               folder, TextString("old.dat"),
                               TextString("C:\\Data\\.kestario-0badf00d-1"), &old, 0, 0, &record));
  ASSERT_TRUE(Append(bytes, record));
  ASSERT_TRUE(MakeTargetRecord(
      kCopyChange, 2, TextString("INSTALL"), TextString("C:\\Data"), folder, TextString("new.dat"),
      TextString("C:\\Data\\.kestario-0badf00d-2"), nullptr, 77, 88, &record));
  ASSERT_TRUE(Append(bytes, record));
  ASSERT_TRUE(MakeSettledRecord(2, MakeStamp(9, false), &record));
  ASSERT_TRUE(Append(bytes, record));
  ASSERT_TRUE(MakeLeftoverRecord(TextString("C:\\Data\\.kestario-0badf00d-3.old"), &record));
  ASSERT_TRUE(Append(bytes, record));
  ASSERT_TRUE(MakeEndRecord(&record));
  ASSERT_TRUE(Append(bytes, record));
}

TEST(JournalFormatTest, WhatTheWriterWritesTheReaderReads) {
  Journal journal;
  WriteRun(&journal.bytes);
  ASSERT_TRUE(ParseJournal(&journal));
  EXPECT_EQ(0u, journal.damaged);
  EXPECT_TRUE(journal.begun);
  EXPECT_TRUE(journal.ended);
  EXPECT_FALSE(journal.Unfinished());
  EXPECT_EQ("0badf00d", TextOf(journal, journal.runId));
  EXPECT_EQ("C:\\Tools\\updater.ini", TextOf(journal, journal.script));
  EXPECT_EQ(4242u, journal.processId);
  EXPECT_EQ(2026, journal.began.year);
  EXPECT_EQ(59, journal.began.second);

  ASSERT_EQ(2u, journal.targetCount);
  const Target& removed = journal.TargetAt(0);
  EXPECT_EQ(1u, removed.number);
  EXPECT_EQ(kDeleteChange, removed.kind);
  EXPECT_EQ("REMOVE", TextOf(journal, removed.procedure));
  EXPECT_EQ("C:\\Data", TextOf(journal, removed.folder));
  EXPECT_EQ(11u, removed.folderIdentity.volume);
  EXPECT_EQ(12u, removed.folderIdentity.index);
  EXPECT_EQ("old.dat", TextOf(journal, removed.name));
  EXPECT_EQ("C:\\Data\\.kestario-0badf00d-1", TextOf(journal, removed.stem));
  EXPECT_TRUE(removed.hadOld);
  FileStamp old = MakeStamp(5, false);
  EXPECT_EQ(old.identity.index, removed.old.identity.index);
  EXPECT_EQ(old.size, removed.old.size);
  EXPECT_EQ(old.writeTime, removed.old.writeTime);
  EXPECT_FALSE(removed.settled);

  const Target& copied = journal.TargetAt(1);
  EXPECT_EQ(kCopyChange, copied.kind);
  EXPECT_FALSE(copied.hadOld);
  EXPECT_EQ(77u, copied.sourceSize);
  EXPECT_EQ(88u, copied.sourceTime);
  EXPECT_TRUE(copied.settled);
  EXPECT_EQ(MakeStamp(9, false).writeTime, copied.placed.writeTime);

  ASSERT_EQ(1u, journal.leftoverCount);
  EXPECT_EQ("C:\\Data\\.kestario-0badf00d-3.old", TextOf(journal, journal.LeftoverAt(0)));
}

TEST(JournalFormatTest, LinksAndFoldersSurviveTheRoundTrip) {
  Journal journal;
  ByteBuffer record;
  FileStamp old = MakeStamp(3, true);
  old.folder = true;
  ASSERT_TRUE(MakeTargetRecord(kCopyChange, 9, TextString("P"), TextString("/d"), {1, 2},
                               TextString("f"), TextString("/d/.s"), &old, 0, 0, &record));
  ASSERT_TRUE(Append(&journal.bytes, record));
  ASSERT_TRUE(ParseJournal(&journal));
  ASSERT_EQ(1u, journal.targetCount);
  EXPECT_TRUE(journal.TargetAt(0).old.link);
  EXPECT_TRUE(journal.TargetAt(0).old.folder);
  EXPECT_TRUE(journal.Unfinished());
  EXPECT_FALSE(journal.begun);
}

TEST(JournalFormatTest, ADamagedRecordIsSkippedAndCounted) {
  Journal journal;
  WriteRun(&journal.bytes);
  // The first byte of the DELETE's section name, inside the second record.
  uint32_t beginSize = kHeaderSize + journal.bytes.GetConstData()[0];
  journal.bytes.GetData()[beginSize + kHeaderSize + 1 + 4 + 1 + 4] ^= 0x20;
  ASSERT_TRUE(ParseJournal(&journal));
  EXPECT_EQ(1u, journal.damaged);
  ASSERT_EQ(1u, journal.targetCount);
  EXPECT_EQ(2u, journal.TargetAt(0).number);
  EXPECT_TRUE(journal.ended);
}

TEST(JournalFormatTest, ATornEndIsNoDamage) {
  Journal journal;
  WriteRun(&journal.bytes);
  // Cut inside the last record (the end: its header and one byte).
  journal.bytes.Remove(journal.bytes.GetSize() - 3, 3);
  ASSERT_TRUE(ParseJournal(&journal));
  EXPECT_EQ(0u, journal.damaged);
  EXPECT_FALSE(journal.ended);
  EXPECT_EQ(2u, journal.targetCount);
  EXPECT_TRUE(journal.Unfinished());
}

TEST(JournalFormatTest, AnEmptyJournalHoldsNothing) {
  Journal journal;
  ASSERT_TRUE(ParseJournal(&journal));
  EXPECT_FALSE(journal.begun);
  EXPECT_EQ(0u, journal.targetCount);
  EXPECT_EQ(0u, journal.damaged);
}

}  // namespace
}  // namespace journal
}  // namespace kestario
