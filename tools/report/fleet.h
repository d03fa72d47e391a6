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
  kCancelled,   // "end: stopped by the answer to NAME": the user's answer stopped it
  kFinished,    // "end: finished"
};
constexpr int kOutcomeCount = 5;

// The name of an outcome in the JSON report: "failed", "stopped", "unfinished", "cancelled",
// "finished".
const char* OutcomeName(Outcome outcome);

// A date and time as the log writes it, "YYYY-MM-DD HH:MM:SS"; empty when unknown.
struct LogTime {
  char text[19] = {};
  bool known = false;
  void Set(std::string_view time);
  std::string_view View() const { return known ? std::string_view(text, 19) : std::string_view(); }
};

// One run. Texts are UTF-8.
struct Run {
  std::string computer;
  std::string pid;
  bool hasStart = false;  // false: the log holds the run's end but not its start line
  std::string program, script, caption;
  bool hasUser = false;  // logs written before the start line named the user have no user
  std::string user;
  LogTime firstTime;  // its start line; without one, its first error or end line
  LogTime endTime;    // its end line
  Outcome outcome = Outcome::kUnfinished;
  int message = 0;  // kFailed: the message that stopped it
  bool hasMessageText = false;
  std::string messageText;  // kFailed: the text of that error box, as the log holds it
  int signal = 0;           // kStopped: the signal that stopped it, or 0
  std::string answer;       // kCancelled: the MSGBOX whose answer stopped it
  std::string details;      // what the end line holds after its ";"
  size_t log = 0;           // the log it comes from (FleetReport::logs)
  uint64_t order = 0;       // the order in which the runs were met, for equal times
};

struct ComputerState {
  Run last;           // its last run: the one that started last, or of equal times the last met
  uint64_t runs = 0;  // all its runs in the logs
};

struct LogSummary {
  std::string path;   // as given or found in a folder, as UTF-8
  std::string error;  // why it could not be read (whole or to its end); empty when it was
  uint64_t bytes = 0;
  uint64_t lines = 0;
  uint64_t skipped = 0;  // torn or foreign lines
  uint64_t runs = 0;
};

struct FleetReport {
  std::vector<LogSummary> logs;
  // Every computer, failures first (in the order of Outcome), then by name.
  std::vector<ComputerState> computers;
  uint64_t runs = 0;
  uint64_t lines = 0;
  uint64_t skipped = 0;
  uint64_t unreadable = 0;  // logs with an error
  uint64_t computersByOutcome[kOutcomeCount] = {};
  uint64_t runsByOutcome[kOutcomeCount] = {};
};

// The bytes of one log, read in large blocks.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  // Reads up to `size` bytes into `buffer`: the count, 0 at the end, -1 (with `*error` set)
  // when reading fails.
  virtual int64_t Read(char* buffer, size_t size, std::string* error) = 0;
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
  // (the last one may lack its line end), then EndLog with an error or "".
  void BeginLog(const std::string& path);
  void Lines(const char* data, size_t size);
  void EndLog(const std::string& error);

  // The report over every log read so far.
  FleetReport Report() const;

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
