#include "platform/terminal_box_posix.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/system.h"

namespace kestario {

namespace {

// False when the text cannot be written (a closed descriptor, a pipe nobody reads ...).
bool WriteAll(int fd, const char* text, size_t length) {
  while (length > 0) {
    ssize_t done = write(fd, text, length);
    if (done < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (done == 0) return false;
    text += done;
    length -= static_cast<size_t>(done);
  }
  return true;
}

bool WriteText(int fd, const char* text) { return WriteAll(fd, text, strlen(text)); }

// Reads one line; returns false at end of input (or on a read error) when nothing was read.
// `first` receives the line's first byte ('\0' for an empty line).
bool ReadLine(int fd, char* first) {
  bool any = false;
  *first = '\0';
  for (;;) {
    char c;
    ssize_t got = read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return any;
    if (c == '\n') return true;
    if (!any) *first = c;
    any = true;
  }
}

}  // namespace

const char* MessageBoxKind(unsigned style) {
  switch (style & kMbIconMask) {
    case kMbIconError:
      return "ERROR";
    case kMbIconQuestion:
      return "QUESTION";
    case kMbIconWarning:
      return "WARNING";
    default:
      return "INFORMATION";
  }
}

int RunTerminalMessageBox(int inFd, int outFd, const char* text, const char* caption,
                          unsigned style) {
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
    if (!ReadLine(inFd, &first)) return yesNo ? kIdNo : kIdOk;
    if (!yesNo) return kIdOk;
    if (first == 'y' || first == 'Y') return kIdYes;
    if (first == 'n' || first == 'N') return kIdNo;
  }
}

}  // namespace kestario
