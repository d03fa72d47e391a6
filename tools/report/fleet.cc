#include "tools/report/fleet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "tools/report/line_map.h"
#include "tools/report/log_line.h"
#include "tools/report/text_decode.h"

namespace kestario {
namespace report {
namespace {

// Logs are read in blocks of this size; a longer line makes the buffer grow to hold it.
constexpr size_t kBlockSize = size_t{1} << 20;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr uint32_t kNone = UINT32_MAX;
constexpr size_t kOldTimeLength = 19;  // "YYYY-MM-DD hh:mm:ss"
constexpr size_t kNewTimeLength = 25;  // "YYYY-MM-DDThh:mm:ss+hh:mm"

// Days from 1970-01-01 to a date of the proleptic Gregorian calendar, and back (H. Hinnant's
// algorithms).
int64_t DaysFromCivil(int year, int month, int day) {
  int64_t y = year - (month <= 2);
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yearOfEra = y - era * 400;
  int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

void CivilFromDays(int64_t days, int* year, int* month, int* day) {
  days += 719468;
  int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  int64_t dayOfEra = days - era * 146097;
  int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  int64_t mp = (5 * dayOfYear + 2) / 153;
  *day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yearOfEra + era * 400 + (*month <= 2));
}

// The last line end (LF, or a CR alone) in `size` bytes. A CR at their very end is left out: the
// LF of its CR LF may be still to come.
const char* FindLastLineEnd(const char* data, size_t size) {
  if (size != 0 && data[size - 1] == '\r') --size;
  for (const char* p = data + size; p != data;) {
    --p;
    if (*p == '\n' || *p == '\r') return p;
  }
  return nullptr;
}

uint64_t RunHash(uint64_t computerHash, uint64_t pid) {
  uint64_t hash = (computerHash ^ pid) * 0x9E3779B97F4A7C15ull;
  return hash ^ (hash >> 32);
}

// An open-addressing index (linear probing) from hashes to numbers kept elsewhere; the caller
// tells apart the entries whose hashes are equal.
class HashIndex {
 public:
  template <typename Equal>
  uint32_t Find(uint64_t hash, Equal equal) const {
    if (cells_.empty()) return kNone;
    for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Cell& cell = cells_[i];
      if (cell.value == kNone) return kNone;
      if (cell.hash == hash && equal(cell.value)) return cell.value;
    }
  }

  void Insert(uint64_t hash, uint32_t value) {
    if ((count_ + 1) * 2 > cells_.size()) Grow();
    size_t i = hash & mask_;
    while (cells_[i].value != kNone) i = (i + 1) & mask_;
    cells_[i] = Cell{hash, value};
    ++count_;
  }

  void Erase(uint64_t hash, uint32_t value) {
    size_t i = hash & mask_;
    while (cells_[i].value != value) i = (i + 1) & mask_;
    cells_[i].value = kNone;
    --count_;
    // Moves back the entries after it that could not take their own cell.
    for (size_t j = (i + 1) & mask_; cells_[j].value != kNone; j = (j + 1) & mask_) {
      size_t home = cells_[j].hash & mask_;
      bool stays = i <= j ? (home > i && home <= j) : (home > i || home <= j);
      if (!stays) {
        cells_[i] = cells_[j];
        cells_[j].value = kNone;
        i = j;
      }
    }
  }

  // Appends every value to `values`.
  void Values(std::vector<uint32_t>* values) const {
    for (const Cell& cell : cells_) {
      if (cell.value != kNone) values->push_back(cell.value);
    }
  }

  void Clear() {
    cells_.clear();
    count_ = 0;
    mask_ = 0;
  }

 private:
  struct Cell {
    uint64_t hash = 0;
    uint32_t value = kNone;
  };

  void Grow() {
    std::vector<Cell> old = std::move(cells_);
    cells_.assign(old.empty() ? 64 : old.size() * 2, Cell());
    mask_ = cells_.size() - 1;
    count_ = 0;
    for (const Cell& cell : old) {
      if (cell.value != kNone) Insert(cell.hash, cell.value);
    }
  }

  std::vector<Cell> cells_;
  size_t count_ = 0;
  size_t mask_ = 0;
};

// A run as its log holds it: the events that tell how it went, as bytes.
struct RawRun {
  std::string computer;
  uint64_t pidValue = 0;
  uint64_t computerHash = 0;
  std::string pid;
  std::string start;  // the start line's event; empty without one
  std::string error;  // the event of its last error line
  int errorMessage = 0;
  std::string end;   // the end line's event; empty without one
  std::string step;  // the event of its last line
  Outcome outcome = Outcome::kUnfinished;
  LogTime firstTime;
  LogTime lastTime;
  LogTime endTime;
  size_t log = 0;
  uint64_t order = 0;
};

// A run of the pool: a run under way (in the open index), a computer's last run, or free.
struct alignas(64) PooledRun {
  RawRun run;
  uint64_t hash = 0;  // in the open index
  bool open = false;
};

// A computer, with what tells whether a run of it is later than its last one.
struct RawState {
  std::string computer;
  LogTime lastStart;
  uint64_t lastOrder = 0;
  uint32_t last = kNone;  // its last run in the pool
  uint64_t runs = 0;
};

Outcome OutcomeOf(EndKind end) {
  switch (end) {
    case EndKind::kFinished:
      return Outcome::kFinished;
    case EndKind::kMessage:
      return Outcome::kFailed;
    case EndKind::kAnswer:
      return Outcome::kCancelled;
    case EndKind::kStopped:
      break;
  }
  return Outcome::kStopped;
}

// Whether a run that began at `time` and came `order`th is later than one at `otherTime`,
// `otherOrder`th (of equal times the one met last).
bool IsLater(const LogTime& time, uint64_t order, const LogTime& otherTime, uint64_t otherOrder) {
  int compare = CompareTimes(time, otherTime);
  return compare != 0 ? compare > 0 : order > otherOrder;
}

// The line breaks of a box text, which the log writes as the two characters "\n" (and "\r"),
// as real ones. A backslash is written as it is, so "\n" may as well be a part of a path
// ("C:\new"): the texts of error boxes give paths and values in double quotes, and there the
// characters are left as they are.
void DecodeLineBreaks(std::string* text) {
  size_t to = 0;
  bool quoted = false;
  for (size_t from = 0; from < text->size(); ++from) {
    char c = (*text)[from];
    if (c == '"') {
      quoted = !quoted;
    } else if (c == '\\' && !quoted && from + 1 < text->size() &&
               ((*text)[from + 1] == 'n' || (*text)[from + 1] == 'r')) {
      c = (*text)[++from] == 'n' ? '\n' : '\r';
    }
    (*text)[to++] = c;
  }
  text->resize(to);
}

// The exit code that an end line's details give last: "...; exit code 1603".
bool TakeExitCode(std::string_view details, int* code) {
  constexpr std::string_view kExitCode = "exit code ";
  size_t at = details.rfind(kExitCode);
  if (at == std::string_view::npos || (at != 0 && details.substr(at - 2, 2) != "; ")) return false;
  std::string_view digits = details.substr(at + kExitCode.size());
  bool negative = !digits.empty() && digits.front() == '-';
  if (negative) digits.remove_prefix(1);
  if (digits.empty() || digits.size() > 10) return false;
  int64_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + (c - '0');
  }
  if (negative) value = -value;
  if (value < INT32_MIN || value > UINT32_MAX) return false;
  // Windows exit codes are 32-bit: 3221225477 is the same code as -1073741819.
  *code = static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
  return true;
}

// The run as the report shows it, its texts decoded line by line.
Run Decoded(const RawRun& raw) {
  Run run;
  bool computerUtf8 = IsValidUtf8(raw.computer);
  bool utf8 = computerUtf8 && IsValidUtf8(raw.start);
  AppendDecoded(raw.computer, raw.start.empty() ? computerUtf8 : utf8, &run.computer);
  run.pid = raw.pid;
  run.firstTime = raw.firstTime;
  run.lastTime = raw.lastTime;
  run.endTime = raw.endTime;
  run.outcome = raw.outcome;
  run.log = raw.log;
  run.order = raw.order;
  if (!raw.start.empty()) {
    Event start = ParseEvent(raw.start);
    run.hasStart = true;
    AppendDecoded(start.program, utf8, &run.program);
    AppendDecoded(start.script, utf8, &run.script);
    AppendDecoded(start.caption, utf8, &run.caption);
    run.hasUser = start.hasUser;
    AppendDecoded(start.user, utf8, &run.user);
  }
  if (!raw.end.empty()) {
    Event end = ParseEvent(raw.end);
    utf8 = computerUtf8 && IsValidUtf8(raw.end);
    run.message = end.end == EndKind::kMessage ? end.message : 0;
    AppendDecoded(end.answer, utf8, &run.answer);
    AppendDecoded(end.details, utf8, &run.details);
    run.hasExitCode = TakeExitCode(run.details, &run.exitCode);
  } else if (!raw.step.empty()) {
    AppendDecoded(raw.step, computerUtf8 && IsValidUtf8(raw.step), &run.lastStep);
  }
  if (run.outcome == Outcome::kFailed && raw.errorMessage == run.message) {
    Event error = ParseEvent(raw.error);
    run.hasMessageText = true;
    AppendDecoded(error.text, computerUtf8 && IsValidUtf8(raw.error), &run.messageText);
    DecodeLineBreaks(&run.messageText);
  }
  return run;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string FoldedName(std::string name) {
  for (char& c : name) c = Lower(c);
  return name;
}
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Compares names with digit runs as numbers and ASCII letters regardless of case; then by bytes.
int CompareNames(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (IsDigit(a[i]) && IsDigit(b[j])) {
      size_t zi = i, zj = j;
      while (zi < a.size() && a[zi] == '0') ++zi;
      while (zj < b.size() && b[zj] == '0') ++zj;
      size_t ei = zi, ej = zj;
      while (ei < a.size() && IsDigit(a[ei])) ++ei;
      while (ej < b.size() && IsDigit(b[ej])) ++ej;
      if (ei - zi != ej - zj) return ei - zi < ej - zj ? -1 : 1;
      int digits = a.compare(zi, ei - zi, b, zj, ej - zj);
      if (digits != 0) return digits;
      i = ei;
      j = ej;
      continue;
    }
    char ca = Lower(a[i]), cb = Lower(b[j]);
    if (ca != cb) return static_cast<unsigned char>(ca) < static_cast<unsigned char>(cb) ? -1 : 1;
    ++i;
    ++j;
  }
  if (i < a.size() || j < b.size()) return i < a.size() ? 1 : -1;
  return a.compare(b);
}

}  // namespace

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kFailed:
      return "failed";
    case Outcome::kStopped:
      return "stopped";
    case Outcome::kUnfinished:
      return "unfinished";
    case Outcome::kNoRun:
      return "no_run";
    case Outcome::kCancelled:
      return "cancelled";
    case Outcome::kFinished:
      break;
  }
  return "finished";
}

bool LogTime::Set(std::string_view time) {
  *this = LogTime();
  // "YYYY-MM-DD hh:mm:ss" or "YYYY-MM-DDThh:mm:ss+hh:mm" (or "-hh:mm").
  auto number = [&](size_t at, size_t digits, int* value) {
    *value = 0;
    for (size_t i = at; i < at + digits; ++i) {
      if (time[i] < '0' || time[i] > '9') return false;
      *value = *value * 10 + (time[i] - '0');
    }
    return true;
  };
  int year, month, day, hour, minute, second;
  if (time.size() < kOldTimeLength || time[4] != '-' || time[7] != '-' || time[13] != ':' ||
      time[16] != ':' || !number(0, 4, &year) || !number(5, 2, &month) || !number(8, 2, &day) ||
      !number(11, 2, &hour) || !number(14, 2, &minute) || !number(17, 2, &second) || month < 1 ||
      month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
    return false;
  }
  int offsetHours = 0, offsetMinutes = 0;
  if (time.size() == kOldTimeLength && time[10] == ' ') {
  } else if (time.size() == kNewTimeLength && time[10] == 'T' &&
             (time[19] == '+' || time[19] == '-') && time[22] == ':' &&
             number(20, 2, &offsetHours) && number(23, 2, &offsetMinutes) && offsetHours <= 23 &&
             offsetMinutes <= 59) {
    hasOffset = true;
    offset = static_cast<int16_t>((time[19] == '-' ? -1 : 1) * (offsetHours * 60 + offsetMinutes));
  } else {
    return false;
  }
  clock = DaysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  known = true;
  return true;
}

std::string LogTime::Text() const {
  if (!known) return std::string();
  std::string text = Clock(' ');
  if (hasOffset) text += " " + Offset();
  return text;
}

std::string LogTime::Iso() const {
  if (!known) return std::string();
  return hasOffset ? Clock('T') + Offset() : Clock('T');
}

std::string LogTime::Clock(char separator) const {
  int64_t days = clock >= 0 ? clock / 86400 : (clock - 86399) / 86400;
  int64_t seconds = clock - days * 86400;
  int year, month, day;
  CivilFromDays(days, &year, &month, &day);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d%c%02d:%02d:%02d", year, month, day, separator,
                static_cast<int>(seconds / 3600), static_cast<int>(seconds / 60 % 60),
                static_cast<int>(seconds % 60));
  return text;
}

std::string LogTime::Offset() const {
  int minutes = offset < 0 ? -offset : offset;
  char text[16];
  std::snprintf(text, sizeof text, "%c%02d:%02d", offset < 0 ? '-' : '+', minutes / 60,
                minutes % 60);
  return text;
}

LogTime LogTime::Now() {
  std::time_t now = std::time(nullptr);
  LogTime time;
  std::tm local = *std::localtime(&now);
  time.clock = DaysFromCivil(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) * 86400 +
               local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
  time.offset = static_cast<int16_t>((time.clock - static_cast<int64_t>(now)) / 60);
  time.hasOffset = true;
  time.known = true;
  return time;
}

int CompareTimes(const LogTime& a, const LogTime& b) {
  if (a.known != b.known) return a.known ? 1 : -1;
  int64_t x = a.Instant(), y = b.Instant();
  return x < y ? -1 : x > y ? 1 : 0;
}

bool ListedBefore(const ComputerState& a, const ComputerState& b) {
  if (a.last.outcome != b.last.outcome) return a.last.outcome < b.last.outcome;
  return CompareNames(a.last.computer, b.last.computer) < 0;
}

struct ComputerList::Store {
  std::vector<ComputerState> computers;
};

struct FleetReader::State {
  std::vector<MessageTotal> MessageTotals(const std::vector<ComputerState>& states) const;
  std::vector<ScriptTotal> ScriptTotals(const std::vector<ComputerState>& states) const;
  void Tally(const RawRun& run);
  void Line(const char* data, size_t start, size_t end, bool ended);
  void OnEvent(const LineHead& head);
  uint32_t FindOpen(const LineHead& head, uint64_t computerHash);
  uint32_t Open(const LineHead& head, uint64_t computerHash);
  void Close(uint32_t slot);
  void Skip() {
    ++logs.back().lines;
    ++logs.back().skipped;
  }

  // Every run kept: those under way in the current log and each computer's last one. A run
  // that ends hands its slot to the computer, and the slot of the run it replaces is reused,
  // with the capacity of its texts: no text is copied twice or allocated again.
  std::vector<PooledRun> pool;
  std::vector<uint32_t> freeSlots;
  HashIndex openIndex;        // computer and process id to a run under way
  uint32_t lastSlot = kNone;  // the run of the line before: lines come in bursts
  std::vector<RawState> computers;
  HashIndex computerIndex;  // computer (bytes) to an entry of `computers`
  std::vector<LogSummary> logs;
  uint64_t runsByOutcome[kOutcomeCount] = {};
  // All runs by script and caption (the bytes of the start line's two texts, after a byte that
  // tells whether that line is UTF-8; empty for runs without one), and the failed ones by message
  // and text (after the same byte; empty when the error line is not in the log).
  std::unordered_map<std::string, std::vector<uint64_t>> scriptRuns;
  std::map<std::pair<int, std::string>, uint64_t> messageRuns;
  uint64_t order = 0;
  bool atLogStart = false;
  LineMap map;  // of the block of lines at hand
  std::unique_ptr<char[]> buffer;
  size_t bufferSize = 0;
};

FleetReader::FleetReader() : state_(new State) {}
FleetReader::~FleetReader() = default;

void FleetReader::ReadLog(const std::string& path, ByteSource* source) {
  State& s = *state_;
  if (!s.buffer) {
    s.buffer.reset(new char[kBlockSize]);
    s.bufferSize = kBlockSize;
  }
  BeginLog(path);
  std::string error;
  size_t held = 0;  // the bytes of an unfinished line at the buffer's start
  for (;;) {
    if (held == s.bufferSize) {
      std::unique_ptr<char[]> bigger(new char[s.bufferSize * 2]);
      std::memcpy(bigger.get(), s.buffer.get(), held);
      s.buffer = std::move(bigger);
      s.bufferSize *= 2;
    }
    int64_t got = source->Read(s.buffer.get() + held, s.bufferSize - held, &error);
    if (got < 0) break;
    s.logs.back().bytes += static_cast<uint64_t>(got);
    if (got == 0) {
      if (held != 0) Lines(s.buffer.get(), held);  // the last line has no line end
      break;
    }
    size_t total = held + static_cast<size_t>(got);
    const char* newline = FindLastLineEnd(s.buffer.get() + held, static_cast<size_t>(got));
    if (newline == nullptr) {
      held = total;
      continue;
    }
    size_t whole = static_cast<size_t>(newline - s.buffer.get()) + 1;
    Lines(s.buffer.get(), whole);
    held = total - whole;
    std::memmove(s.buffer.get(), s.buffer.get() + whole, held);
  }
  EndLog(error);
  // A long line made the buffer grow; the next log starts with the usual size again.
  if (s.bufferSize > kBlockSize) {
    s.buffer.reset(new char[kBlockSize]);
    s.bufferSize = kBlockSize;
  }
}

void FleetReader::AddUnreadable(const std::string& path, const std::string& error) {
  BeginLog(path);
  EndLog(error);
}

void FleetReader::BeginLog(const std::string& path) {
  state_->logs.emplace_back();
  state_->logs.back().path = path;
  state_->atLogStart = true;
}

void FleetReader::Lines(const char* data, size_t size) {
  State& s = *state_;
  if (s.atLogStart) {
    s.atLogStart = false;
    if (size >= kByteOrderMark.size() &&
        std::memcmp(data, kByteOrderMark.data(), kByteOrderMark.size()) == 0) {
      data += kByteOrderMark.size();
      size -= kByteOrderMark.size();
    }
  }
  s.map.Build(data, size);
  // Lines end at LF, CR LF or a CR alone.
  for (size_t start = 0; start < size;) {
    size_t end = s.map.NextNewline(start);
    if (end == size) {
      s.Line(data, start, end, false);
      break;
    }
    s.Line(data, start, end, true);
    start = end + (data[end] == '\r' && end + 1 < size && data[end + 1] == '\n' ? 2 : 1);
  }
}

void FleetReader::EndLog(const std::string& error) {
  State& s = *state_;
  // The runs still open have no end line. Only they are looked at, not every computer's last run:
  // the end of a log costs what its own runs do.
  std::vector<uint32_t> open;
  s.openIndex.Values(&open);
  std::sort(open.begin(), open.end(),
            [&](uint32_t a, uint32_t b) { return s.pool[a].run.order < s.pool[b].run.order; });
  for (uint32_t slot : open) s.Close(slot);
  s.openIndex.Clear();
  s.lastSlot = kNone;
  s.logs.back().error = error;
}

void FleetReader::State::Line(const char* data, size_t start, size_t end, bool ended) {
  std::string_view line(data + start, end - start);
  LineHead head;
  HeadForm form = TimeForm(line);
  if (!ended && form != HeadForm::kNew && FramedTail(line) == std::string_view::npos) {
    // The log ends inside a line of the old form: its writer was cut off there (it ends every
    // line), and the part it wrote may read as another event ("message 1" of "message 10").
    Skip();
    return;
  }
  if (form == HeadForm::kNew) {
    // Taken whole under its frame, never searched for heads inside: a value that holds a line's
    // head stays a value.
    if (!ParseHead(line, &head)) {
      // Cut off where its writer did not end it: the frame at its end may be that of a whole
      // line written straight after it.
      Skip();
      size_t tail = FramedTail(line);
      if (tail == std::string_view::npos || !ParseHead(line.substr(tail), &head)) return;
    }
    ++logs.back().lines;
    OnEvent(head);
    return;
  }
  if (form == HeadForm::kNone || !ParseHead(line, &head)) {
    // Foreign, or cut off: a framed line after it is found by its frame; a head of the old form
    // further on begins a whole line written after it.
    Skip();
    size_t at = FramedTail(line);
    if (at == std::string_view::npos) at = FindHead(line, 1);
    if (at == std::string_view::npos) return;
    start += at;
    line.remove_prefix(at);
    if (!ParseHead(line, &head)) return;
    if (head.framed) {
      ++logs.back().lines;
      OnEvent(head);
      return;
    }
  }
  // A head inside the event of an old line begins a line written after this one was cut off:
  // the time's colons stand out in the map.
  size_t from = start + static_cast<size_t>(head.event.data() - line.data()) + kHeadTimeColon;
  for (;;) {
    size_t colon = map.NextTimeColon(from, end);
    if (colon == end) break;
    LineHead glued;
    if (ParseHead(std::string_view(data + colon - kHeadTimeColon, end - colon + kHeadTimeColon),
                  &glued)) {
      Skip();
      start = colon - kHeadTimeColon;
      line = std::string_view(data + start, end - start);
      head = glued;
      if (head.framed) break;
      from = start + static_cast<size_t>(head.event.data() - line.data()) + kHeadTimeColon;
    } else {
      from = colon + 1;
    }
  }
  ++logs.back().lines;
  OnEvent(head);
}

// Whether the open run `run` is the one of the head's computer and process.
bool IsRunOf(const RawRun& run, const LineHead& head) {
  return run.pidValue == head.pidValue && run.computer.size() == head.computer.size() &&
         std::memcmp(run.computer.data(), head.computer.data(), head.computer.size()) == 0;
}

uint32_t FleetReader::State::FindOpen(const LineHead& head, uint64_t computerHash) {
  if (lastSlot != kNone && IsRunOf(pool[lastSlot].run, head)) return lastSlot;
  lastSlot = openIndex.Find(RunHash(computerHash, head.pidValue),
                            [&](uint32_t slot) { return IsRunOf(pool[slot].run, head); });
  return lastSlot;
}

uint32_t FleetReader::State::Open(const LineHead& head, uint64_t computerHash) {
  uint32_t slot;
  if (!freeSlots.empty()) {
    slot = freeSlots.back();
    freeSlots.pop_back();
  } else {
    slot = static_cast<uint32_t>(pool.size());
    pool.emplace_back();
  }
  PooledRun& entry = pool[slot];
  entry.open = true;
  entry.hash = RunHash(computerHash, head.pidValue);
  RawRun& run = entry.run;
  run.computer.assign(head.computer.data(), head.computer.size());
  run.computerHash = computerHash;
  run.pid.assign(head.pid.data(), head.pid.size());
  run.pidValue = head.pidValue;
  run.start.clear();
  run.error.clear();
  run.errorMessage = 0;
  run.end.clear();
  run.step.clear();
  run.outcome = Outcome::kUnfinished;
  run.firstTime.Set(head.time);
  run.lastTime = run.firstTime;
  run.endTime = LogTime();
  run.log = logs.size() - 1;
  run.order = order++;
  openIndex.Insert(entry.hash, slot);
  lastSlot = slot;
  return slot;
}

void FleetReader::State::Close(uint32_t slot) {
  PooledRun& entry = pool[slot];
  const RawRun& run = entry.run;
  ++logs.back().runs;
  ++runsByOutcome[static_cast<int>(run.outcome)];
  Tally(run);
  openIndex.Erase(entry.hash, slot);
  entry.open = false;
  if (lastSlot == slot) lastSlot = kNone;
  uint32_t index = computerIndex.Find(
      run.computerHash, [&](uint32_t i) { return computers[i].computer == run.computer; });
  if (index == kNone) {
    index = static_cast<uint32_t>(computers.size());
    computers.emplace_back();
    computers.back().computer = run.computer;
    computerIndex.Insert(run.computerHash, index);
  }
  RawState& state = computers[index];
  ++state.runs;
  if (state.last == kNone || IsLater(run.firstTime, run.order, state.lastStart, state.lastOrder)) {
    state.lastStart = run.firstTime;
    state.lastOrder = run.order;
    std::swap(state.last, slot);
    if (slot == kNone) return;
  }
  freeSlots.push_back(slot);
}

void FleetReader::State::Tally(const RawRun& run) {
  std::string key;
  if (!run.start.empty()) {
    Event start = ParseEvent(run.start);
    key.push_back(IsValidUtf8(run.computer) && IsValidUtf8(run.start) ? 'u' : 'a');
    key.append(start.script.data(), start.script.size());
    key.push_back('\0');
    key.append(start.caption.data(), start.caption.size());
  }
  std::vector<uint64_t>& counts = scriptRuns[key];
  if (counts.empty()) counts.assign(kOutcomeCount, 0);
  ++counts[static_cast<int>(run.outcome)];
  if (run.outcome != Outcome::kFailed) return;
  int message = ParseEvent(run.end).message;
  std::string text;
  if (run.errorMessage == message) {
    Event error = ParseEvent(run.error);
    text.push_back(IsValidUtf8(run.computer) && IsValidUtf8(run.error) ? 'u' : 'a');
    text.append(error.text.data(), error.text.size());
  }
  ++messageRuns[{message, text}];
}

std::vector<MessageTotal> FleetReader::State::MessageTotals(
    const std::vector<ComputerState>& states) const {
  // By number, then by decoded text.
  std::map<int, std::map<std::pair<bool, std::string>, Counts>> found;
  for (const auto& entry : messageRuns) {
    std::pair<bool, std::string> text(false, std::string());
    const std::string& raw = entry.first.second;
    if (!raw.empty()) {
      text.first = true;
      AppendDecoded(std::string_view(raw).substr(1), raw[0] == 'u', &text.second);
      DecodeLineBreaks(&text.second);
    }
    found[entry.first.first][text].runs += entry.second;
  }
  for (const ComputerState& state : states) {
    const Run& run = state.last;
    if (run.outcome != Outcome::kFailed) continue;
    ++found[run.message][{run.hasMessageText, run.messageText}].computers;
  }
  std::vector<MessageTotal> totals;
  for (const auto& message : found) {
    MessageTotal total;
    total.message = message.first;
    for (const auto& text : message.second) {
      total.counts.runs += text.second.runs;
      total.counts.computers += text.second.computers;
      total.texts.push_back(MessageText{text.first.first, text.first.second, text.second});
    }
    std::stable_sort(
        total.texts.begin(), total.texts.end(),
        [](const MessageText& a, const MessageText& b) { return a.counts.runs > b.counts.runs; });
    totals.push_back(std::move(total));
  }
  return totals;
}

std::vector<ScriptTotal> FleetReader::State::ScriptTotals(
    const std::vector<ComputerState>& states) const {
  // By known first, then script and caption decoded.
  std::map<std::tuple<bool, std::string, std::string>, ScriptTotal> found;
  for (const auto& entry : scriptRuns) {
    std::tuple<bool, std::string, std::string> key(false, std::string(), std::string());
    const std::string& raw = entry.first;
    if (!raw.empty()) {
      std::string_view texts = std::string_view(raw).substr(1);
      size_t zero = texts.find('\0');
      std::get<0>(key) = true;
      AppendDecoded(texts.substr(0, zero), raw[0] == 'u', &std::get<1>(key));
      AppendDecoded(texts.substr(zero + 1), raw[0] == 'u', &std::get<2>(key));
    }
    ScriptTotal& total = found[key];
    for (int i = 0; i < kOutcomeCount; ++i) {
      total.runsByOutcome[i] += entry.second[i];
      total.counts.runs += entry.second[i];
    }
  }
  for (const ComputerState& state : states) {
    const Run& run = state.last;
    if (run.outcome == Outcome::kNoRun) continue;
    ScriptTotal& total = found[{run.hasStart, run.script, run.caption}];
    ++total.computersByOutcome[static_cast<int>(run.outcome)];
    ++total.counts.computers;
  }
  std::vector<ScriptTotal> totals;
  for (auto& entry : found) {
    entry.second.known = std::get<0>(entry.first);
    entry.second.script = std::get<1>(entry.first);
    entry.second.caption = std::get<2>(entry.first);
    totals.push_back(std::move(entry.second));
  }
  // The runs whose start is not in the logs last.
  std::stable_partition(totals.begin(), totals.end(), [](const ScriptTotal& t) { return t.known; });
  return totals;
}

void FleetReader::State::OnEvent(const LineHead& head) {
  // Only start, error and end lines tell how a run goes; the others need no more than their
  // head, which Line found whole.
  char first = head.event.front();
  uint64_t computerHash = ComputerHash(head);
  uint32_t slot = FindOpen(head, computerHash);
  LogTime time;
  time.Set(head.time);
  if (first != 's' && first != 'e') {
    if (slot != kNone) {
      RawRun& run = pool[slot].run;
      run.step.assign(head.event.data(), head.event.size());
      run.lastTime = time;
    }
    return;
  }
  Event parsed = ParseEvent(head.event);
  if (parsed.kind == EventKind::kTorn) {
    ++logs.back().skipped;
    return;
  }
  if (parsed.kind == EventKind::kStart) {
    // The same computer and process id again: the process that had it ended without an end
    // line, and the system gave its number to a new one.
    if (slot != kNone) Close(slot);
    slot = Open(head, computerHash);
    pool[slot].run.start.assign(head.event.data(), head.event.size());
  } else if (slot == kNone) {
    // An error or end line of a run whose start is not in this log (it began in an earlier one).
    slot = Open(head, computerHash);
  }
  RawRun& run = pool[slot].run;
  run.step.assign(head.event.data(), head.event.size());
  run.lastTime = time;
  if (parsed.kind == EventKind::kError) {
    run.error.assign(head.event.data(), head.event.size());
    run.errorMessage = parsed.message;
  } else if (parsed.kind == EventKind::kEnd) {
    run.end.assign(head.event.data(), head.event.size());
    run.endTime = time;
    run.outcome = OutcomeOf(parsed.end);
    Close(slot);
  }
}

FleetReport FleetReader::Report(const ReportOptions& options) const {
  const State& s = *state_;
  FleetReport report;
  report.logs = s.logs;
  report.now = options.now.known ? options.now : LogTime::Now();
  report.staleAfter = options.staleAfter;
  for (const LogSummary& log : s.logs) {
    report.lines += log.lines;
    report.skipped += log.skipped;
    report.runs += log.runs;
    if (!log.error.empty()) ++report.unreadable;
  }
  for (int i = 0; i < kOutcomeCount; ++i) report.runsByOutcome[i] = s.runsByOutcome[i];
  auto store = std::make_shared<ComputerList::Store>();
  std::vector<ComputerState>& computers = store->computers;
  // One computer may have written its name in two encodings (an older log in code page 932, a
  // newer one in UTF-8): the same name decoded is the same computer.
  std::unordered_map<std::string, size_t> byName;
  for (const RawState& raw : s.computers) {
    Run run = Decoded(s.pool[raw.last].run);
    auto found = byName.find(run.computer);
    if (found == byName.end()) {
      byName.emplace(run.computer, computers.size());
      computers.push_back(ComputerState{std::move(run), raw.runs, false});
      continue;
    }
    ComputerState& state = computers[found->second];
    state.runs += raw.runs;
    if (IsLater(run.firstTime, run.order, state.last.firstTime, state.last.order)) {
      state.last = std::move(run);
    }
  }
  // The expected computers, by name regardless of ASCII case.
  if (!options.expected.empty()) {
    std::unordered_map<std::string, size_t> seen;
    for (size_t i = 0; i < computers.size(); ++i)
      seen.emplace(FoldedName(computers[i].last.computer), i);
    std::unordered_map<std::string, bool> listed;
    for (const std::string& name : options.expected) {
      std::string folded = FoldedName(name);
      if (!listed.emplace(folded, true).second) continue;
      ++report.expected;
      auto found = seen.find(folded);
      if (found != seen.end()) {
        computers[found->second].expected = true;
        continue;
      }
      ComputerState missing;
      missing.last.computer = name;
      missing.last.outcome = Outcome::kNoRun;
      missing.expected = true;
      computers.push_back(std::move(missing));
    }
    for (const ComputerState& state : computers) {
      if (!state.expected) ++report.unexpected;
    }
  }
  for (ComputerState& state : computers) {
    Run& run = state.last;
    if (run.outcome == Outcome::kUnfinished) {
      // A time without an offset is taken in the zone of the report's time.
      run.age = run.lastTime.hasOffset ? report.now.Instant() - run.lastTime.Instant()
                                       : report.now.clock - run.lastTime.clock;
      if (run.age < 0) run.age = 0;
      run.stale = run.age > report.staleAfter;
      if (run.stale) ++report.stale;
    }
    ++report.computersByOutcome[static_cast<int>(run.outcome)];
  }
  report.messages = s.MessageTotals(computers);
  report.scripts = s.ScriptTotals(computers);
  std::sort(computers.begin(), computers.end(), ListedBefore);
  report.computers = ComputerList(std::move(store));
  return report;
}

ComputerList::ComputerList() : store_(std::make_shared<Store>()) {}
ComputerList::ComputerList(std::shared_ptr<const Store> store) : store_(std::move(store)) {}
size_t ComputerList::size() const { return store_->computers.size(); }
ComputerState ComputerList::operator[](size_t i) const { return store_->computers[i]; }

}  // namespace report
}  // namespace kestario
