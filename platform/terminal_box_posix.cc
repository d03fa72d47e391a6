#include "platform/terminal_box_posix.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/file_handle_posix.h"
#include "platform/system.h"

namespace kestario {

namespace {

// False when the text cannot be written (a closed descriptor, a pipe nobody reads ...).
bool WriteText(int fd, const char* text) { return WriteAll(fd, text, strlen(text)); }

// How a line was read.
enum class Line { kRead, kEnded, kStopped };

// Waits until `fd` can be read or `stopFd` (when not -1) is readable: false for the latter.
bool WaitForInput(int fd, int stopFd) {
  if (stopFd < 0) return true;
  struct pollfd waits[2] = {{fd, POLLIN, 0}, {stopFd, POLLIN, 0}};
  for (;;) {
    int ready = poll(waits, 2, -1);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return true;  // the read tells
    return (waits[1].revents & POLLIN) == 0;
  }
}

// Reads one line; kEnded at end of input (or on a read error) when nothing was read, kStopped
// when `stopFd` became readable first. `first` receives the line's first byte ('\0' for an
// empty line).
Line ReadLine(int fd, int stopFd, char* first) {
  bool any = false;
  *first = '\0';
  for (;;) {
    if (!WaitForInput(fd, stopFd)) return Line::kStopped;
    char c;
    ssize_t got = read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return any ? Line::kRead : Line::kEnded;
    if (c == '\n') return Line::kRead;
    if (!any) *first = c;
    any = true;
  }
}

}  // namespace

int RunTerminalMessageBox(int inFd, int outFd, const char* text, const char* caption,
                          unsigned style, int stopFd) {
  bool yesNo = (style & kMbTypeMask) == kMbYesNo;
  const char* prompt = yesNo ? "(Yes/No) " : "(OK) ";
  // A box that cannot be written is not shown: it answers nothing (0) and reads nothing.
  if (!WriteText(outFd, "[") || !WriteText(outFd, caption ? caption : "Error") ||
      !WriteText(outFd, "] ") || !WriteText(outFd, MessageBoxKind(style)) ||
      !WriteText(outFd, "\n") || !WriteText(outFd, text ? text : "") || !WriteText(outFd, "\n")) {
    return 0;
  }
  for (;;) {
    if (!WriteText(outFd, prompt)) return 0;
    char first;
    Line line = ReadLine(inFd, stopFd, &first);
    if (line == Line::kStopped) return 0;
    if (line == Line::kEnded) return yesNo ? kIdNo : kIdOk;
    if (!yesNo) return kIdOk;
    if (first == 'y' || first == 'Y') return kIdYes;
    if (first == 'n' || first == 'N') return kIdNo;
  }
}

}  // namespace kestario
