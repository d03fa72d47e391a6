// Ignores one signal for the lifetime of the object and puts its disposition back afterwards, so
// that programs started later get the usual one. For SIGXFSZ (exceeding the file size limit is
// then an EFBIG result) and SIGPIPE (a write to a reader that has gone is then an EPIPE result).
#ifndef KESTARIO_PLATFORM_SIGNAL_IGNORED_POSIX_H_
#define KESTARIO_PLATFORM_SIGNAL_IGNORED_POSIX_H_

#include <signal.h>

#include <cstring>

namespace kestario {

class SignalIgnored {
 public:
  explicit SignalIgnored(int signal) : signal_(signal) {
    struct sigaction ignore;
    std::memset(&ignore, 0, sizeof ignore);
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    saved_ = sigaction(signal_, &ignore, &previous_) == 0;
  }
  ~SignalIgnored() {
    if (saved_) sigaction(signal_, &previous_, nullptr);
  }
  SignalIgnored(const SignalIgnored&) = delete;
  SignalIgnored& operator=(const SignalIgnored&) = delete;

 private:
  int signal_;
  struct sigaction previous_;
  bool saved_;
};

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_SIGNAL_IGNORED_POSIX_H_
