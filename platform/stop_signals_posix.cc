#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/stop_signals.h"

namespace kestario {
namespace {

constexpr int kStopSignals[] = {SIGTERM, SIGINT, SIGHUP};

volatile sig_atomic_t g_caught = 0;
int g_pipe[2] = {-1, -1};  // the handler writes one byte to [1]; [0] then stays readable

void OnStopSignal(int signal) {
  int savedErrno = errno;
  if (g_caught == 0) g_caught = signal;
  if (g_pipe[1] >= 0) (void)!write(g_pipe[1], "s", 1);  // non-blocking: a full pipe is enough
  errno = savedErrno;
}

}  // namespace

void CatchStopSignals() {
  if (g_pipe[0] < 0 && pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) g_pipe[0] = g_pipe[1] = -1;
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  for (int signal : kStopSignals) sigaddset(&action.sa_mask, signal);
  action.sa_flags = 0;  // no SA_RESTART: a read on the terminal returns EINTR
  for (int signal : kStopSignals) {
    // A signal that the program was started with ignored (nohup) stays ignored.
    struct sigaction previous;
    if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    sigaction(signal, &action, nullptr);
  }
}

int CaughtStopSignal() { return g_caught; }

int StopSignalDescriptor() { return g_pipe[0]; }

void EndByCaughtSignal() {
  int signal = g_caught;
  if (signal == 0) return;
  struct sigaction usual;
  std::memset(&usual, 0, sizeof usual);
  usual.sa_handler = SIG_DFL;
  sigemptyset(&usual.sa_mask);
  sigaction(signal, &usual, nullptr);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, signal);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(signal);
}

void SetCaughtStopSignal(int signal) {
  g_caught = signal;
  if (signal != 0) {
    if (g_pipe[0] < 0 && pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0) g_pipe[0] = g_pipe[1] = -1;
    if (g_pipe[1] >= 0) (void)!write(g_pipe[1], "s", 1);
    return;
  }
  char drained[64];
  while (g_pipe[0] >= 0 && read(g_pipe[0], drained, sizeof drained) > 0) {
  }
}

}  // namespace kestario
