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

TEST(TerminalBoxTest, OkBoxShowsCaptionKindTextAndPrompt) {
  BoxRun run = ShowBox("\nrest\n", "Line one\nline two", "Kestario", kMbOk | kMbIconError);
  EXPECT_EQ(kIdOk, run.answer);
  EXPECT_EQ("[Kestario] ERROR\nLine one\nline two\n(OK) ", run.shown);
  EXPECT_EQ("rest\n", run.leftOver);
  EXPECT_EQ(kIdOk, ShowBox("anything\n", "t", "c", kMbIconInformation).answer);
  EXPECT_EQ(kIdOk, ShowBox("", "t", "c", kMbIconInformation).answer);  // end of input
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

TEST(TerminalBoxTest, YesNoBoxAsksUntilItGetsAnAnswer) {
  BoxRun yes = ShowBox("maybe\n\nYES please\nnext\n", "Go on?", "Cap", kMbYesNo | kMbIconQuestion);
  EXPECT_EQ(kIdYes, yes.answer);
  EXPECT_EQ("[Cap] QUESTION\nGo on?\n(Yes/No) (Yes/No) (Yes/No) ", yes.shown);
  EXPECT_EQ("next\n", yes.leftOver);
  EXPECT_EQ(kIdNo, ShowBox("n\n", "q", "c", kMbYesNo).answer);
  EXPECT_EQ(kIdNo, ShowBox("No way\n", "q", "c", kMbYesNo).answer);
  EXPECT_EQ(kIdYes, ShowBox("y", "q", "c", kMbYesNo).answer);  // last line without line feed
  EXPECT_EQ(kIdNo, ShowBox("", "q", "c", kMbYesNo).answer);    // end of input
  EXPECT_EQ(kIdNo, ShowBox("what\n", "q", "c", kMbYesNo).answer);
  EXPECT_EQ(kIdNo, ShowBox(" y\n", "q", "c", kMbYesNo).answer);  // must start with the letter
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
