// The lines of a run log (docs/log.md): each begins with a head, the local date and time with its
// offset from UTC, the computer name and the process id, "2026-12-08T00:33:24+09:00 PC-417 3120 ",
// followed by the event and the line's frame: a space, "#" and the count of the bytes before that
// space, " #52". A line of this form is taken whole, and only when its frame is right: nothing
// inside it is ever read as the head of another line. Logs of earlier releases have heads of the
// old form, "2026-12-08 00:33:24 PC-417 3120 ", and no frame.
// The events that tell how a run went are its start, its error messages and its end:
//   start: program "PATH" script "PATH" caption "CAPTION" [user "NAME"]
//   error N "TEXT": shown                      (or ": not shown, ...")
//   end: finished | stopped by message N | stopped by the answer to NAME | stopped
// An end line may carry details after a ";" ("end: stopped by message 8; exit code 1603").
// Everything here works on the line's bytes as they are; nothing is copied.
#ifndef KESTARIO_TOOLS_REPORT_LOG_LINE_H_
#define KESTARIO_TOOLS_REPORT_LOG_LINE_H_

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kestario {
namespace report {

struct LineHead {
  std::string_view time;      // "YYYY-MM-DDTHH:MM:SS+hh:mm", or the old "YYYY-MM-DD HH:MM:SS"
  bool framed = false;        // the line has the new form, and its frame was right
  std::string_view computer;  // no spaces
  std::string_view pid;       // decimal digits
  uint64_t pidValue = 0;      // a number for them: the same digits, the same number
  std::string_view event;     // the rest of the line (before the frame), never empty
};

enum class HeadForm {
  kNone,  // the line does not begin with a time
  kOld,   // "YYYY-MM-DD HH:MM:SS ": a line of an earlier release
  kNew,   // "YYYY-MM-DDTHH:MM:SS+hh:mm ": a framed line
};

// The form of the time `line` begins with (only the time is looked at).
HeadForm TimeForm(std::string_view line);

// Where, by the frame that ends `line`, the last whole framed line inside it begins: after a
// line cut off before its end (its writer stopped half-way), the next line is written straight
// after it, and its frame tells where it starts. std::string_view::npos when the frame names no
// such line (or is the frame of the whole of `line`).
size_t FramedTail(std::string_view line);

// Where the first ":" of the time stands in a head.
constexpr size_t kHeadTimeColon = 13;

// Whether `line` (without its line end) begins with a head followed by an event: a head of the
// old form, or one of the new form when the line's frame is right.
bool ParseHead(std::string_view line, LineHead* head);
// The same for a line whose time has the form `form` (TimeForm of it).
bool ParseHead(std::string_view line, HeadForm form, LineHead* head);

// A hash of the computer name of a head that ParseHead gave (it reads the bytes before the name).
uint64_t ComputerHash(const LineHead& head);

// Where, at or after `from`, a head begins inside `line` (a line that has no head of the new form):
// the head of a line written after a line that was cut off before its line end (its writer
// stopped half-way), so that the two share one line. std::string_view::npos when there is none.
size_t FindHead(std::string_view line, size_t from);

enum class EventKind {
  kOther,  // any other event: it belongs to its run and says nothing of how the run went
  kStart,
  kError,
  kEnd,
  kTorn,  // the beginning of a start, error or end line whose rest is missing
};

enum class EndKind { kFinished, kMessage, kAnswer, kStopped };

struct Event {
  EventKind kind = EventKind::kOther;
  // kStart
  std::string_view program, script, caption, user;
  bool hasUser = false;
  // kError: the message number and its text; kEnd with kMessage: the message number
  int message = 0;
  std::string_view text;
  // kEnd
  EndKind end = EndKind::kFinished;
  int signal = 0;            // kStopped: the signal that stopped the run ("by signal N"), or 0
  std::string_view answer;   // kAnswer: the MSGBOX that stopped the run
  std::string_view details;  // after the ";", without the spaces around it; empty without one
};

// What `event` (a head's event) is.
Event ParseEvent(std::string_view event);

}  // namespace report
}  // namespace kestario

#endif  // KESTARIO_TOOLS_REPORT_LOG_LINE_H_
