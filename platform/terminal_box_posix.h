// The message box of the Linux build: a question on the terminal.
//
// Writes "[CAPTION] KIND", a line feed, the text exactly as given, a line feed and the prompt
// "(OK) " or "(Yes/No) " (no line feed) to `outFd`, then reads one line from `inFd` with
// unbuffered read(2) calls, one byte at a time, so that nothing after the line feed is consumed.
// KIND comes from the icon bits of the style: 0x10 ERROR, 0x20 QUESTION, 0x30 WARNING,
// 0x40 INFORMATION; any other icon value (none included) shows INFORMATION. A null caption
// shows "Error", as Windows titles such a box.
// Answers: an OK box returns kIdOk for any line and at end of input. A Yes/No box (type bits
// kMbYesNo) returns kIdYes for a line starting with "y" or "Y", kIdNo for "n" or "N", asks
// again (prompt only) for anything else, and returns kIdNo at end of input. A last line without
// a line feed counts as a line. Any other type is shown as an OK box. A box that cannot be
// written (a closed descriptor, a pipe whose reader has gone) is not shown and returns 0 without
// reading; the caller ignores SIGPIPE for the call (PosixSystem::MessageBoxW does).
// `stopFd`, unless -1, is a descriptor that turns readable when the wait is to be given up (a stop
// signal, stop_signals.h): the box then returns 0 at once, its question unanswered.
#ifndef KESTARIO_PLATFORM_TERMINAL_BOX_POSIX_H_
#define KESTARIO_PLATFORM_TERMINAL_BOX_POSIX_H_

namespace kestario {

int RunTerminalMessageBox(int inFd, int outFd, const char* text, const char* caption,
                          unsigned style, int stopFd = -1);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_TERMINAL_BOX_POSIX_H_
