// Where each machine of a fleet stands, from its run logs: the runs of every log, each from its
// start line to its end line, keyed by computer and process id (lines of many machines and
// processes interleave in one shared file), and for every computer its last run.
#ifndef KESTARIO_TOOLS_REPORT_FLEET_H_
#define KESTARIO_TOOLS_REPORT_FLEET_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestario {
namespace report {

// How a run ended, in the order in which the report lists them: failures first.
enum class Outcome {
  kFailed,      // "end: stopped by message N": an error box stopped it
  kStopped,     // "end: stopped" or "end: stopped by signal N": it stopped without a message
  kUnfinished,  // no end line: still running, or killed
  kNoRun,       // no run at all: a computer of the expected list that never reported
  kCancelled,   // "end: stopped by the answer to NAME": the user's answer stopped it
  kFinished,    // "end: finished"
};
constexpr int kOutcomeCount = 6;

// The name of an outcome in the JSON report and the page: "failed", "stopped", "unfinished",
// "no_run", "cancelled", "finished".
const char* OutcomeName(Outcome outcome);

// A line's date and time. The log writes it as "2026-12-08T09:00:00+09:00": the machine's local
// time with its offset from UTC; logs of earlier releases as "2026-12-08 09:00:00", a local time
// whose offset is not known.
struct LogTime {
  bool known = false;
  bool hasOffset = false;
  int16_t offset = 0;  // minutes east of UTC ("+09:00": 540)
  int64_t clock = 0;   // the local clock's reading, in seconds from 1970-01-01 00:00:00 of it

  // Reads either form; false (and unknown) when `time` is neither.
  bool Set(std::string_view time);
  // The instant in seconds from 1970-01-01 00:00:00 UTC; a time without an offset is taken as
  // UTC here (it sorts among the others by its clock).
  int64_t Instant() const { return clock - int64_t{offset} * 60; }
  // "2026-12-08 09:00:00 +09:00", or without an offset "2026-12-08 09:00:00"; "" when unknown.
  std::string Text() const;
  // ISO 8601: "2026-12-08T09:00:00+09:00", or without an offset "2026-12-08T09:00:00".
  std::string Iso() const;
  // The system's clock now, with its offset.
  static LogTime Now();

 private:
  std::string Clock(char separator) const;
  std::string Offset() const;
};

// Orders times as instants: <0, 0 or >0. An unknown time comes before every known one.
int CompareTimes(const LogTime& a, const LogTime& b);

// One run. Texts are UTF-8; a line break that the log wrote as "\n" is a real line break here.
struct Run {
  std::string computer;
  std::string pid;
  bool hasStart = false;  // false: the log holds the run's end but not its start line
  std::string program, script, caption;
  bool hasUser = false;  // logs written before the start line named the user have no user
  std::string user;
  LogTime firstTime;  // its start line; without one, its first line in the log
  LogTime lastTime;   // its last line in the log (its end line when it has one)
  LogTime endTime;    // its end line
  Outcome outcome = Outcome::kUnfinished;
  int message = 0;  // kFailed: the message that stopped it
  bool hasMessageText = false;
  std::string messageText;  // kFailed: the text of that error box, as the log holds it
  int signal = 0;           // kStopped: the signal that stopped it, or 0
  std::string answer;       // kCancelled: the MSGBOX whose answer stopped it
  std::string details;      // what the end line holds after its ";"
  bool hasExitCode = false;
  int exitCode = 0;  // the run's exit code, when the end line gives it ("; exit code 1603")
  // kUnfinished: the event of its last line (its last logged step), how long before the report's
  // time that line was written, in seconds (0 when it lies ahead), and whether that is longer
  // than the report's stale age (the run was killed or hangs).
  std::string lastStep;
  int64_t age = 0;
  bool stale = false;
  size_t log = 0;      // the log it comes from (FleetReport::logs)
  uint64_t order = 0;  // the order in which the runs were met, for equal times
};

struct ComputerState {
  Run last;               // its last run: the one that started last, or of equal times the last met
  uint64_t runs = 0;      // all its runs in the logs
  bool expected = false;  // named in the list of expected computers
};

// The computers of a report, in the report's order, each made whole when it is asked for: a
// fleet of a million computers is held compactly, not as a million Run objects.
class ComputerList {
 public:
  struct Store;
  class Iterator {
   public:
    Iterator(const ComputerList* list, size_t at) : list_(list), at_(at) {}
    ComputerState operator*() const { return (*list_)[at_]; }
    Iterator& operator++() {
      ++at_;
      return *this;
    }
    bool operator!=(const Iterator& other) const { return at_ != other.at_; }
    bool operator==(const Iterator& other) const { return at_ == other.at_; }

   private:
    const ComputerList* list_;
    size_t at_;
  };

  ComputerList();
  explicit ComputerList(std::shared_ptr<const Store> store);
  size_t size() const;
  bool empty() const { return size() == 0; }
  ComputerState operator[](size_t i) const;
  // Of the i-th computer's last run only its computer, outcome, first time, user and script:
  // what the columns of a table before its last need, made at less cost.
  Run Columns(size_t i) const;
  ComputerState back() const { return (*this)[size() - 1]; }
  Iterator begin() const { return Iterator(this, 0); }
  Iterator end() const { return Iterator(this, size()); }

 private:
  std::shared_ptr<const Store> store_;
};

struct LogSummary {
  std::string path;   // as given or found in a folder, as UTF-8
  std::string error;  // why it could not be read (whole or to its end); empty when it was
  uint64_t bytes = 0;
  uint64_t lines = 0;
  uint64_t skipped = 0;  // torn, cut or foreign lines
  uint64_t runs = 0;
};

// A count of a breakdown: the computers whose last run falls in it and all the runs that do.
struct Counts {
  uint64_t computers = 0;
  uint64_t runs = 0;
};

// One text of an error message (its texts differ by the paths and values they name).
struct MessageText {
  bool known = false;  // false: runs whose error line is not in the log
  std::string text;
  Counts counts;
};

// The runs stopped by one error message (Outcome::kFailed), by its number.
struct MessageTotal {
  int message = 0;
  Counts counts;
  std::vector<MessageText> texts;  // the most runs first, then by text
};

// The runs of one script and caption (the caption names the version being rolled out).
struct ScriptTotal {
  bool known = false;  // false: runs whose start line is not in the log
  std::string script, caption;
  Counts counts;
  uint64_t computersByOutcome[kOutcomeCount] = {};
  uint64_t runsByOutcome[kOutcomeCount] = {};
};

// What the report is asked beyond the logs.
struct ReportOptions {
  // The computers that should have reported (UTF-8 names, compared regardless of ASCII case);
  // those with no run are listed as Outcome::kNoRun.
  std::vector<std::string> expected;
  // The report's time, for the age of runs without an end line; unknown: the system's clock.
  LogTime now;
  // The age in seconds after which a run without an end line counts as stale.
  int64_t staleAfter = 24 * 3600;
};

struct FleetReport {
  std::vector<LogSummary> logs;
  // Every computer (those expected but never seen too), failures first (in the order of
  // Outcome), then by name.
  ComputerList computers;
  uint64_t runs = 0;
  uint64_t lines = 0;
  uint64_t skipped = 0;
  uint64_t unreadable = 0;  // logs with an error
  uint64_t computersByOutcome[kOutcomeCount] = {};
  uint64_t runsByOutcome[kOutcomeCount] = {};
  std::vector<MessageTotal> messages;  // by message number
  std::vector<ScriptTotal> scripts;    // by script, then caption; the unknown script last
  uint64_t expected = 0;               // computers in the expected list
  uint64_t unexpected = 0;             // computers seen that the list does not name (with one)
  uint64_t stale = 0;                  // computers whose last run is stale
  LogTime now;                         // the report's time
  int64_t staleAfter = 0;              // seconds
};

// The bytes of one log, read in large blocks.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` bytes into `buffer`: the count, 0 at the end, -1 (with `*error` set)
  // when reading fails.
  virtual int64_t Read(char* buffer, size_t size, std::string* error) = 0;
};

// A log held in memory, handed out in pieces of at most `piece` bytes, as a file read in blocks
// would be (for the tests and the fuzz target). It keeps a reference to `text`.
class TextSource : public ByteSource {
 public:
  explicit TextSource(const std::string& text, size_t piece = size_t{1} << 20)
      : text_(text), piece_(piece) {}
  int64_t Read(char* buffer, size_t size, std::string*) override {
    size_t count = text_.size() - at_;
    if (count > size) count = size;
    if (count > piece_) count = piece_;
    text_.copy(buffer, count, at_);
    at_ += count;
    return static_cast<int64_t>(count);
  }

 private:
  const std::string& text_;
  size_t piece_;
  size_t at_ = 0;
};

class FleetReader {
 public:
  FleetReader();
  ~FleetReader();
  FleetReader(const FleetReader&) = delete;
  FleetReader& operator=(const FleetReader&) = delete;

  // Reads a whole log from `source`, named `path` in the report.
  void ReadLog(const std::string& path, ByteSource* source);
  // Notes a log that could not be opened.
  void AddUnreadable(const std::string& path, const std::string& error);

  // The lines of a log, for callers that hold it whole: BeginLog, then Lines with whole lines
  // (ended by LF, CR LF or CR; a last one without its line end is where the log ends: its writer
  // was cut off there), then EndLog with an error or "".
  void BeginLog(const std::string& path);
  void Lines(const char* data, size_t size);
  void EndLog(const std::string& error);

  // The report over every log read so far.
  FleetReport Report(const ReportOptions& options) const;
  FleetReport Report() const { return Report(ReportOptions()); }

 private:
  // The runs as the logs hold them: texts stay bytes until the report decodes the few it shows.
  struct State;
  std::unique_ptr<State> state_;
};

// Whether `a` comes before `b` in the report: by outcome, then by computer name, with the digits
// in a name compared as numbers ("PC-9" before "PC-10") and letters regardless of case.
bool ListedBefore(const ComputerState& a, const ComputerState& b);

}  // namespace report
}  // namespace kestario

#endif  // KESTARIO_TOOLS_REPORT_FLEET_H_
