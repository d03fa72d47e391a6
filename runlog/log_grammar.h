// The grammar of a run log's lines, in one place for the program that writes them
// (runlog/run_log.cc, and the events written by engine/driver.cc, settings/messages.cc and
// engine/run_end.cc) and for updater-report, which reads them (tools/report/log_line.cc).
// docs/log.md tells the same for people.
//
//   LINE  = HEAD EVENT FRAME line-end
//   HEAD  = TIME " " COMPUTER " " PID " "
//   TIME  = local date and time with its offset from UTC: "2026-12-08T09:00:00+09:00" (never "Z")
//   FRAME = " #" and the count, in decimal, of the bytes of the line before the frame
//
// Of the events, three tell how a run went; updater-report reads them:
//   start: program "PATH" script "PATH" caption "CAPTION" user "NAME"
//   error N "TEXT": shown            (or ": not shown, ..." when nobody could see the box)
//   end: finished | stopped by message N | stopped by the answer to NAME | stopped by signal N
//        | stopped
// and an end may carry details after "; " ("end: stopped by message 8; exit code 1603").
// Logs of earlier releases have heads with the time "2026-12-08 09:00:00" and no frame.
//
// Plain constants only, so that both the program (no standard library containers) and the
// report (the standard library) take them as they are.
#ifndef KESTARIO_RUNLOG_LOG_GRAMMAR_H_
#define KESTARIO_RUNLOG_LOG_GRAMMAR_H_

#include <cstddef>

namespace kestario {
namespace runlog {

// The time, for printf: year, month, day, hour, minute, second (unsigned), the offset's sign
// ('+' or '-', also for an offset of 0: "+00:00"), its hours and minutes (int).
constexpr char kTimeFormat[] = "%04u-%02u-%02uT%02u:%02u:%02u%c%02d:%02d";
// The shape of a time with the space after it, for readers: "0" stands for a digit and "+" for
// the offset's sign, "+" or "-"; every other byte is itself.
constexpr char kTimeShape[] = "0000-00-00T00:00:00+00:00 ";
constexpr size_t kTimeLength = sizeof kTimeShape - 2;  // without the space and the NUL
// The same for the heads of earlier releases.
constexpr char kOldTimeShape[] = "0000-00-00 00:00:00 ";
constexpr size_t kOldTimeLength = sizeof kOldTimeShape - 2;
// Where the first ":" of the time stands, in both forms.
constexpr size_t kTimeColon = 13;

// What begins a line's frame; its count follows, with no leading zeros.
constexpr char kFrameMark[] = " #";

// The start of a run: the words between its quoted values.
constexpr char kStart[] = "start: program ";
constexpr char kStartScript[] = " script ";
constexpr char kStartCaption[] = " caption ";
constexpr char kStartUser[] = " user ";

// An error box: kError, the message number, a space and the quoted text; then kShown, or
// kNotShown and why (a MSGBOX's box line ends the same way).
constexpr char kError[] = "error ";
constexpr char kShown[] = ": shown";
constexpr char kNotShown[] = ": not shown, ";

// The end of a run: kEnd and one of the five outcomes, then any details, each after kDetails.
constexpr char kEnd[] = "end: ";
constexpr char kFinished[] = "finished";
constexpr char kStoppedByMessage[] = "stopped by message ";
constexpr char kStoppedByAnswer[] = "stopped by the answer to ";
constexpr char kStoppedBySignal[] = "stopped by signal ";
constexpr char kStopped[] = "stopped";
constexpr char kDetails[] = "; ";

}  // namespace runlog
}  // namespace kestario

#endif  // KESTARIO_RUNLOG_LOG_GRAMMAR_H_
