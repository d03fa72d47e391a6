// One syslog message, sent without ever blocking the caller for longer than a bound.
//
// syslog(3) writes to /dev/log with a blocking send: a log daemon that stops reading holds the
// process there for ever. SendSyslogMessage uses a socket of its own instead, non-blocking, and
// gives up when the message could not be handed over within `waitMilliseconds` (the message is
// then lost). It speaks to the socket as syslog(3) does: a datagram, or where the socket is a
// stream (some daemons listen that way) the message followed by a NUL byte, in the local form
// "<PRIORITY>Mmm dd hh:mm:ss IDENT[PID]: TEXT". A line feed in `text` is sent as the two
// characters "\n" and a carriage return as "\r", so that a reader that frames messages at line
// ends never sees a second message inside one.
#ifndef KESTARIO_PLATFORM_SYSLOG_POSIX_H_
#define KESTARIO_PLATFORM_SYSLOG_POSIX_H_

namespace kestario {

// `priority` is facility and level together (LOG_USER | LOG_INFO). True when the whole message
// was handed to the socket.
bool SendSyslogMessage(const char* socketPath, int priority, const char* ident, const char* text,
                       int waitMilliseconds);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_SYSLOG_POSIX_H_
