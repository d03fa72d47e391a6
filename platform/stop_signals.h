// The signals that ask a program to stop: SIGTERM (a service manager, a deployment engine at its
// time limit), SIGINT (Ctrl+C) and SIGHUP (the terminal went away). On Linux, once they are caught,
// such a signal no longer ends the process where it stands: it is noted, a wait for an answer on
// the terminal gives way to it, and the program stops at its next safe point. Windows has no such
// signals for a program without a console: a process that is ended there cannot react.
#ifndef KESTARIO_PLATFORM_STOP_SIGNALS_H_
#define KESTARIO_PLATFORM_STOP_SIGNALS_H_

namespace kestario {

// Catches the three signals from now on (sigaction without SA_RESTART, so that a blocking read or
// wait returns EINTR). Programs started later get the usual disposition again (execve resets a
// caught signal). Windows: nothing.
void CatchStopSignals();

// The number of the first stop signal caught (SIGTERM is 15), or 0.
int CaughtStopSignal();

// A descriptor that turns readable the moment a stop signal is caught and stays so (a pipe that
// the handler writes to), for a wait that polls it beside its own; -1 before CatchStopSignals.
int StopSignalDescriptor();

// Ends the process by the signal caught, with the signal's default effect (the status a parent
// sees is that of a process ended by it). Returns only when none was caught.
void EndByCaughtSignal();

// For tests: notes `signal` as caught (0 forgets it), as the handler would.
void SetCaughtStopSignal(int signal);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_STOP_SIGNALS_H_
