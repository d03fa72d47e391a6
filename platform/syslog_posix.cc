#include "platform/syslog_posix.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kestario {
namespace {

int64_t MonotonicMilliseconds() {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

int LeftOf(int64_t deadline) {
  int64_t left = deadline - MonotonicMilliseconds();
  return left > 0 ? static_cast<int>(left) : 0;
}

// The message as the socket gets it; null when memory runs out. `length` excludes the NUL that
// ends it (which a stream sends as the record's end).
char* BuildMessage(int priority, const char* ident, const char* text, size_t* length) {
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  time_t seconds = time(nullptr);
  struct tm local;
  if (!localtime_r(&seconds, &local)) std::memset(&local, 0, sizeof local);
  char head[128];
  int headLength = std::snprintf(head, sizeof head, "<%d>%s %2d %02d:%02d:%02d %s[%ld]: ", priority,
                                 kMonths[local.tm_mon % 12], local.tm_mday, local.tm_hour,
                                 local.tm_min, local.tm_sec, ident, static_cast<long>(getpid()));
  if (headLength < 0 || static_cast<size_t>(headLength) >= sizeof head) return nullptr;
  size_t breaks = 0;
  for (const char* at = text; *at != '\0'; ++at) breaks += *at == '\n' || *at == '\r';
  size_t textLength = std::strlen(text);
  char* message = static_cast<char*>(std::malloc(headLength + textLength + breaks + 1));
  if (message == nullptr) return nullptr;
  std::memcpy(message, head, static_cast<size_t>(headLength));
  char* out = message + headLength;
  for (const char* at = text; *at != '\0'; ++at) {
    if (*at == '\n' || *at == '\r') {
      *out++ = '\\';
      *out++ = *at == '\n' ? 'n' : 'r';
    } else {
      *out++ = *at;
    }
  }
  *out = '\0';
  *length = static_cast<size_t>(out - message);
  return message;
}

// A non-blocking socket of `type` connected to `address`, or -1 (errno tells why). A stream
// whose daemon's queue of connections is full is tried again until the deadline.
int Connect(const struct sockaddr_un& address, int type, int64_t deadline) {
  int fd = socket(AF_UNIX, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd == -1) return -1;
  for (;;) {
    if (connect(fd, reinterpret_cast<const struct sockaddr*>(&address), sizeof address) == 0) {
      return fd;
    }
    int error = errno;
    if (error == EINPROGRESS) {
      struct pollfd wait = {fd, POLLOUT, 0};
      int socketError = 0;
      socklen_t size = sizeof socketError;
      if (poll(&wait, 1, LeftOf(deadline)) == 1 &&
          getsockopt(fd, SOL_SOCKET, SO_ERROR, &socketError, &size) == 0 && socketError == 0) {
        return fd;
      }
    } else if ((error == EAGAIN || error == EINTR) && LeftOf(deadline) > 0) {
      struct timespec pause = {0, 10 * 1000 * 1000};
      nanosleep(&pause, nullptr);
      continue;
    }
    close(fd);
    errno = error;
    return -1;
  }
}

// Sends `length` bytes, waiting for room until the deadline; true when all of them went.
bool SendAll(int fd, const char* bytes, size_t length, int64_t deadline) {
  while (length > 0) {
    ssize_t sent = send(fd, bytes, length, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
      bytes += sent;
      length -= static_cast<size_t>(sent);
      continue;
    }
    if (sent == -1 && errno == EINTR) continue;
    if (sent == -1 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      struct pollfd wait = {fd, POLLOUT, 0};
      int left = LeftOf(deadline);
      if (left > 0 && poll(&wait, 1, left) >= 0) continue;
    }
    return false;
  }
  return true;
}

}  // namespace

bool SendSyslogMessage(const char* socketPath, int priority, const char* ident, const char* text,
                       int waitMilliseconds) {
  struct sockaddr_un address;
  std::memset(&address, 0, sizeof address);
  address.sun_family = AF_UNIX;
  if (socketPath == nullptr || std::strlen(socketPath) >= sizeof address.sun_path) return false;
  std::strcpy(address.sun_path, socketPath);
  int64_t deadline = MonotonicMilliseconds() + waitMilliseconds;
  size_t length = 0;
  char* message = BuildMessage(priority, ident, text != nullptr ? text : "", &length);
  if (message == nullptr) return false;
  bool stream = false;
  int fd = Connect(address, SOCK_DGRAM, deadline);
  if (fd == -1 && errno == EPROTOTYPE) {
    stream = true;
    fd = Connect(address, SOCK_STREAM, deadline);
  }
  bool sent = fd != -1 && SendAll(fd, message, length + (stream ? 1 : 0), deadline);
  if (fd != -1) close(fd);
  std::free(message);
  return sent;
}

}  // namespace kestario
