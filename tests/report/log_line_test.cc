#include "tools/report/log_line.h"

#include <string>

#include <gtest/gtest.h>

#include "tools/report/text_decode.h"

namespace kestario {
namespace report {
namespace {

TEST(LogLineTest, HeadGivesTimeComputerPidAndEvent) {
  LineHead head;
  ASSERT_TRUE(ParseHead("2026-12-08 00:33:24 PC-417 3120 run REMOVE: MODE=\"DELETE\"", &head));
  EXPECT_EQ("2026-12-08 00:33:24", head.time);
  EXPECT_EQ("PC-417", head.computer);
  EXPECT_EQ("3120", head.pid);
  EXPECT_EQ("run REMOVE: MODE=\"DELETE\"", head.event);
  ASSERT_TRUE(ParseHead("2026-12-08 00:33:24 P 1 e", &head));
  EXPECT_EQ("e", head.event);
}

TEST(LogLineTest, LinesWithoutAWholeHeadAreRefused) {
  LineHead head;
  for (const char* line : {
           "",
           "2026-12-08 00:33:24 PC-417 3120 ",  // no event
           "2026-12-08 00:33:24 PC-417 3120",   // no event, no space
           "2026-12-08 00:33:24 PC-417 31x0 end: finished",
           "2026-12-08 00:33:24  3120 end: finished",               // no computer
           "2026-12-08 00:33:24 PC-417 12345678901 end: finished",  // a pid past 32 bits
           "2026-12-08 0:33:24 PC-417 3120 end: finished",
           "2026/12/08 00:33:24 PC-417 3120 end: finished",
           "2026-12-0\xB8 00:33:24 PC-417 3120 end: finished",  // a digit's byte with 0x80 added
           "2026-12-08 00:33:2: PC-417 3120 end: finished",
           "2026-12-08 00:33:24\tPC-417 3120 end: finished",
           "2026-12-08 00:33",
           "Some other program's line",
       }) {
    EXPECT_FALSE(ParseHead(line, &head)) << line;
  }
}

TEST(LogLineTest, FindsTheHeadOfALineWrittenAfterACutOne) {
  std::string cut = "2026-12-08 00:33:24 VM 32 run INSTALL: MODE=\"CO";
  std::string whole = "2026-12-08 00:33:25 VM 40 start: program \"C:\\a.exe\"";
  std::string glued = cut + whole;
  EXPECT_EQ(cut.size(), FindHead(glued, 1));
  // Cut inside the head, and cut right after the time.
  EXPECT_EQ(15u, FindHead("2026-12-08 00:3" + whole, 1));
  EXPECT_EQ(19u, FindHead("2026-12-08 00:33" + std::string("\x00\x00\x00", 3) + whole, 1));
  // Texts with colons, times and numbers are no heads.
  EXPECT_EQ(std::string::npos,
            FindHead("2026-12-08 00:33:24 VM 32 box INFORMATION \"Due 2026-12-24 10:00:00 at "
                     "C:\\data\": answer OK",
                     1));
  EXPECT_EQ(std::string::npos, FindHead(whole, 1));
}

TEST(LogLineTest, StartLineWithAndWithoutUser) {
  Event event = ParseEvent(
      "start: program \"C:\\Deploy\\updater.exe\" script \"C:\\Deploy\\updater.ini\" caption "
      "\"Data update\" user \"tanaka\"");
  ASSERT_EQ(EventKind::kStart, event.kind);
  EXPECT_EQ("C:\\Deploy\\updater.exe", event.program);
  EXPECT_EQ("C:\\Deploy\\updater.ini", event.script);
  EXPECT_EQ("Data update", event.caption);
  EXPECT_TRUE(event.hasUser);
  EXPECT_EQ("tanaka", event.user);

  event = ParseEvent("start: program \"/opt/u.run\" script \"/opt/u.ini\" caption \"A \"B\" C\"");
  ASSERT_EQ(EventKind::kStart, event.kind);
  EXPECT_EQ("A \"B\" C", event.caption);
  EXPECT_FALSE(event.hasUser);
}

TEST(LogLineTest, CutStartErrorAndEndLinesAreTornOthersAreOrdinaryEvents) {
  for (const char* torn : {
           "start: prog",
           "start: program \"C:\\Deploy\\upd",
           "start: program \"a\" script \"b\" caption \"Data upd",
           "end: fini",
           "end: ",
           "end",
           "end: stopped by mess",
           "end: stopped ",
           "end: stopped by message ",
           "end: stopped by the answer to ",
           "end: stopped by sig",
           "end: stopped by signal ",
           "error 8",
           "error 8 \"\xE3\x83\x95\xE3\x82",
           "error ",
       }) {
    EXPECT_EQ(EventKind::kTorn, ParseEvent(torn).kind) << torn;
  }
  // The lines of procedures named "start", "end" or "error", and the other events.
  for (const char* other : {
           "end: flag 1",
           "end: exists \"/x\"",
           "start: flag of ASK is 0, not 1: no box",
           "end: finished with warnings",
           "error: flag 1",
           "list UPDATER PROC: CHECK, ASK, GO",
           "box QUESTION \"end: finished\": answer Yes",
       }) {
    EXPECT_EQ(EventKind::kOther, ParseEvent(other).kind) << other;
  }
}

TEST(LogLineTest, ErrorLineGivesNumberAndExactText) {
  Event event = ParseEvent(
      "error 8 \"Copy failed.\\n\\nFrom: \"C:\\a\": x\"\\nTo: \"C:\\b\"\": not shown, the window "
      "station is not visible; answer 0");
  ASSERT_EQ(EventKind::kError, event.kind);
  EXPECT_EQ(8, event.message);
  EXPECT_EQ("Copy failed.\\n\\nFrom: \"C:\\a\": x\"\\nTo: \"C:\\b\"", event.text);
  event = ParseEvent("error 12 \"\": shown");
  ASSERT_EQ(EventKind::kError, event.kind);
  EXPECT_EQ(12, event.message);
  EXPECT_EQ("", event.text);
}

TEST(LogLineTest, EndLinesTakeTheKnownPartAndKeepTheDetails) {
  Event event = ParseEvent("end: finished");
  ASSERT_EQ(EventKind::kEnd, event.kind);
  EXPECT_EQ(EndKind::kFinished, event.end);
  EXPECT_EQ("", event.details);

  event = ParseEvent("end: finished; 3 changes rolled back");
  ASSERT_EQ(EventKind::kEnd, event.kind);
  EXPECT_EQ(EndKind::kFinished, event.end);
  EXPECT_EQ("3 changes rolled back", event.details);

  event = ParseEvent("end: stopped by message 8; exit code 1603");
  ASSERT_EQ(EventKind::kEnd, event.kind);
  EXPECT_EQ(EndKind::kMessage, event.end);
  EXPECT_EQ(8, event.message);
  EXPECT_EQ("exit code 1603", event.details);

  event = ParseEvent("end: stopped by signal 15; 1 change rolled back; exit code 1603");
  ASSERT_EQ(EventKind::kEnd, event.kind);
  EXPECT_EQ(EndKind::kStopped, event.end);
  EXPECT_EQ(15, event.signal);
  EXPECT_EQ("1 change rolled back; exit code 1603", event.details);

  event = ParseEvent("end: stopped by the answer to ASK NOW; exit code 1602");
  ASSERT_EQ(EventKind::kEnd, event.kind);
  EXPECT_EQ(EndKind::kAnswer, event.end);
  EXPECT_EQ("ASK NOW", event.answer);
  EXPECT_EQ("exit code 1602", event.details);

  event = ParseEvent("end: stopped");
  ASSERT_EQ(EventKind::kEnd, event.kind);
  EXPECT_EQ(EndKind::kStopped, event.end);
  event = ParseEvent("end: stopped; out of memory");
  ASSERT_EQ(EventKind::kEnd, event.kind);
  EXPECT_EQ("out of memory", event.details);
}

// "ログ" and "データ" in code page 932 and in UTF-8.
constexpr const char* kLogCp932 = "\x83\x8D\x83\x4F";
constexpr const char* kLogUtf8 = "\xE3\x83\xAD\xE3\x82\xB0";

TEST(TextDecodeTest, ValidUtf8StaysAndOtherBytesAreCodePage932) {
  EXPECT_EQ(kLogUtf8, Decoded(kLogUtf8));
  EXPECT_EQ(kLogUtf8, Decoded(kLogCp932));
  // The backslash of a Windows path, half-width katakana, the yen-less 0x5C, and the pairs whose
  // second byte is a backslash (0x835C "ソ").
  EXPECT_EQ("C:\\\xEF\xBD\xB1\xE3\x82\xBD\\x", Decoded("C:\\\xB1\x83\x5C\\x"));
  // Bytes that are no character there: U+FFFD, and what follows is read afresh.
  EXPECT_EQ(
      "\xEF\xBF\xBD"
      "A\xEF\xBF\xBD\xEF\xBF\xBD",
      Decoded("\x80"
              "A\xFF\x83"));
  EXPECT_EQ("\xEF\xBF\xBD\x21", Decoded("\x83\x21"));
}

TEST(TextDecodeTest, Utf8ValidityIsStrict) {
  EXPECT_TRUE(IsValidUtf8(""));
  EXPECT_TRUE(IsValidUtf8("plain ASCII text, longer than eight bytes"));
  EXPECT_TRUE(IsValidUtf8("\xF0\x9F\x98\x80 \xF4\x8F\xBF\xBF"));
  for (const char* bad : {"\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\xE3\x83", "abcdefgh\xE3", "\x83\x8D\x83\x4F"}) {
    EXPECT_FALSE(IsValidUtf8(bad)) << bad;
  }
}

TEST(TextDecodeTest, DisplayWidthCountsWideCharactersTwice) {
  EXPECT_EQ(3u, DisplayWidth("abc"));
  EXPECT_EQ(4u, DisplayWidth(kLogUtf8));
  EXPECT_EQ(2u, DisplayWidth("\xEF\xBD\xB1\xEF\xBD\xB1"));  // half-width katakana
  EXPECT_EQ(1u, DisplayWidth("e\xCC\x81"));                 // e and a combining accent
}

}  // namespace
}  // namespace report
}  // namespace kestario
