// The terminal message box, driven through pipes.
#include "platform/terminal_box_posix.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "platform/system.h"
#include "platform/system_posix.h"

namespace kestario {
namespace {

struct BoxRun {
  int answer;
  std::string shown;
  std::string leftOver;  // input the box did not consume
};

std::string Drain(int fd) {
  std::string text;
  char buffer[256];
  ssize_t got;
  while ((got = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(got));
  return text;
}

BoxRun ShowBox(const std::string& input, const char* text, const char* caption, unsigned style) {
  int in[2];
  int out[2];
  EXPECT_EQ(0, pipe(in));
  EXPECT_EQ(0, pipe(out));
  EXPECT_EQ(static_cast<ssize_t>(input.size()), write(in[1], input.data(), input.size()));
  close(in[1]);
  BoxRun run;
  run.answer = RunTerminalMessageBox(in[0], out[1], text, caption, style);
  close(out[1]);
  run.shown = Drain(out[0]);
  run.leftOver = Drain(in[0]);
  close(out[0]);
  close(in[0]);
  return run;
}

// What the box shows (when a row says) and how it answers what is typed: an OK box takes any line
// or the end of the input; a Yes/No box asks again until a line starts with "y" or "n" (any case),
// and takes the end of the input as No. What comes after the answering line stays unread.
TEST(TerminalBoxTest, BoxesAnswerWhatIsTyped) {
  struct Case {
    const char* input;
    unsigned style;
    int answer;
    const char* shown;     // for the text "Go on?" and the caption "Cap"; null: not compared
    const char* leftOver;  // null: not compared
  };
  const Case cases[] = {
      {"\nrest\n", kMbOk | kMbIconError, kIdOk, "[Cap] ERROR\nGo on?\n(OK) ", "rest\n"},
      {"anything\n", kMbIconInformation, kIdOk, nullptr, nullptr},
      {"", kMbIconInformation, kIdOk, nullptr, nullptr},
      {"maybe\n\nYES please\nnext\n", kMbYesNo | kMbIconQuestion, kIdYes,
       "[Cap] QUESTION\nGo on?\n(Yes/No) (Yes/No) (Yes/No) ", "next\n"},
      {"n\n", kMbYesNo, kIdNo, nullptr, nullptr},
      {"No way\n", kMbYesNo, kIdNo, nullptr, nullptr},
      {"y", kMbYesNo, kIdYes, nullptr, nullptr},  // last line without line feed
      {"", kMbYesNo, kIdNo, nullptr, nullptr},
      {"what\n", kMbYesNo, kIdNo, nullptr, nullptr},
      {" y\n", kMbYesNo, kIdNo, nullptr, nullptr},  // must start with the letter
  };
  for (const Case& c : cases) {
    BoxRun run = ShowBox(c.input, "Go on?", "Cap", c.style);
    EXPECT_EQ(c.answer, run.answer) << c.input;
    if (c.shown != nullptr) {
      EXPECT_EQ(c.shown, run.shown) << c.input;
    }
    if (c.leftOver != nullptr) {
      EXPECT_EQ(c.leftOver, run.leftOver) << c.input;
    }
  }
  // A text of several lines is shown as it is.
  EXPECT_EQ("[Kestario] ERROR\nLine one\nline two\n(OK) ",
            ShowBox("\n", "Line one\nline two", "Kestario", kMbOk | kMbIconError).shown);
}

// A descriptor that turns readable (a stop signal's pipe) ends the wait: no answer, and the input
// stays unread for whoever reads it next.
TEST(TerminalBoxTest, AReadableStopDescriptorEndsTheWaitUnanswered) {
  int in[2];
  int out[2];
  int stop[2];
  ASSERT_EQ(0, pipe(in));
  ASSERT_EQ(0, pipe(out));
  ASSERT_EQ(0, pipe(stop));
  ASSERT_EQ(1, write(stop[1], "s", 1));
  EXPECT_EQ(
      0, RunTerminalMessageBox(in[0], out[1], "Go on?", "c", kMbYesNo | kMbIconQuestion, stop[0]));
  close(out[1]);
  EXPECT_EQ("[c] QUESTION\nGo on?\n(Yes/No) ", Drain(out[0]));
  ASSERT_EQ(2, write(in[1], "y\n", 2));
  close(in[1]);
  EXPECT_EQ("y\n", Drain(in[0]));
  for (int fd : {in[0], out[0], stop[0], stop[1]}) close(fd);
}

TEST(TerminalBoxTest, KindFollowsTheIconBits) {
  EXPECT_STREQ("ERROR", MessageBoxKind(kMbIconError));
  EXPECT_STREQ("QUESTION", MessageBoxKind(kMbIconQuestion | kMbYesNo));
  EXPECT_STREQ("WARNING", MessageBoxKind(kMbIconWarning));
  EXPECT_STREQ("INFORMATION", MessageBoxKind(kMbIconInformation));
  EXPECT_STREQ("INFORMATION", MessageBoxKind(kMbOk));
  EXPECT_STREQ("INFORMATION", MessageBoxKind(0x50));
  EXPECT_EQ("[c] WARNING\nt\n(OK) ", ShowBox("\n", "t", "c", kMbIconWarning).shown);
}

TEST(TerminalBoxTest, BoxThatCannotBeWrittenIsNotShown) {
  // Standard error a pipe whose reader has gone: no SIGPIPE ends the program, the box answers 0
  // and reads none of the answers.
  int in[2];
  int out[2];
  ASSERT_EQ(0, pipe(in));
  ASSERT_EQ(0, pipe(out));
  close(out[0]);
  ASSERT_EQ(2, write(in[1], "y\n", 2));
  close(in[1]);
  PosixSystem system;
  system.SetTerminal(in[0], out[1]);
  EXPECT_EQ(0, system.MessageBoxW(u"Delete?", u"c", kMbYesNo | kMbIconQuestion));
  EXPECT_EQ(0, system.MessageBoxW(u"Done", u"c", kMbOk | kMbIconInformation));
  EXPECT_EQ("y\n", Drain(in[0]));
  struct sigaction now;
  ASSERT_EQ(0, sigaction(SIGPIPE, nullptr, &now));
  EXPECT_EQ(SIG_DFL, now.sa_handler);  // put back after the box
  close(in[0]);
  close(out[1]);
}

TEST(TerminalBoxTest, SystemBoxUsesItsTerminal) {
  int in[2];
  int out[2];
  ASSERT_EQ(0, pipe(in));
  ASSERT_EQ(0, pipe(out));
  ASSERT_EQ(2, write(in[1], "y\n", 2));
  close(in[1]);
  PosixSystem system;
  system.SetTerminal(in[0], out[1]);
  // The script's bytes come back as they were, valid UTF-8 or not (a kept byte: U+DC00 + byte).
  EXPECT_EQ(kIdYes,
            system.MessageBoxW(u"Delete caf\xdce9?", u"ケスタリオ", kMbYesNo | kMbIconQuestion));
  close(out[1]);
  EXPECT_EQ("[ケスタリオ] QUESTION\nDelete caf\xe9?\n(Yes/No) ", Drain(out[0]));
  close(in[0]);
  close(out[0]);
}

}  // namespace
}  // namespace kestario
