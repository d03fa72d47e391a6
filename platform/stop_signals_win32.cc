// Windows: a program without a console gets no stop signal; one that is ended cannot react.
#include "platform/stop_signals.h"

namespace kestario {

namespace {
int g_caught = 0;  // only ever set by tests
}  // namespace

void CatchStopSignals() {}
int CaughtStopSignal() { return g_caught; }
int StopSignalDescriptor() { return -1; }
void EndByCaughtSignal() {}
void SetCaughtStopSignal(int signal) { g_caught = signal; }

}  // namespace kestario
