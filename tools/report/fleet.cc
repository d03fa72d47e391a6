#include "tools/report/fleet.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <tuple>
#include <unordered_map>
#include <utility>

#include "text/ascii.h"
#include "tools/report/fleet_store.h"
#include "tools/report/line_map.h"
#include "tools/report/log_line.h"
#include "tools/report/text_decode.h"

namespace kestario {
namespace report {
namespace {

constexpr uint32_t kNone = kNoText;

// Logs are read in blocks of this size; a longer line makes the buffer grow to hold it.
constexpr size_t kBlockSize = size_t{1} << 20;
// How many ended runs are looked up in their computers' records at once.
constexpr size_t kSettleBatch = 64;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
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

uint32_t RunHash(uint64_t computerHash, uint64_t pid) {
  uint64_t hash = (computerHash ^ pid) * 0x9E3779B97F4A7C15ull;
  return static_cast<uint32_t>(hash ^ (hash >> 32));
}

// A run as its log holds it: the events that tell how it went, as bytes.
struct RawRun {
  std::string computer;
  uint64_t pidValue = 0;
  uint64_t computerHash = 0;
  char nameHead[kNameHead] = {};  // TakeNameHead of `computer`
  std::string pid;
  std::string start;  // the start line's event; empty without one
  std::string error;  // the event of its last error line
  int errorMessage = 0;
  std::string end;   // the end line's event; empty without one
  std::string step;  // the event of its last line, once taken from the block at hand
  Outcome outcome = Outcome::kUnfinished;
  LogTime firstTime;
  LogTime lastTime;  // read from lastText when the run ends
  LogTime endTime;
  char lastText[25] = {};  // the time of its last line, as the line gives it
  uint8_t lastSize = 0;
  // Its last line while it lies in the block at hand: most lines only move a run's last step
  // on, so the step and its time are copied once a block (TakeLast), not at every line.
  const char* lastEvent = nullptr;
  size_t lastEventSize = 0;
  const char* lastTimeAt = nullptr;
  uint8_t lastTimeSize = 0;
  size_t log = 0;
  uint64_t order = 0;

  // Copies the last line's step and time out of the block, which is about to be reused.
  void TakeLast() {
    if (lastEvent == nullptr) return;
    step.assign(lastEvent, lastEventSize);
    lastSize = static_cast<uint8_t>(std::min<size_t>(lastTimeSize, sizeof lastText));
    std::memcpy(lastText, lastTimeAt, lastSize);
    lastEvent = nullptr;
  }
};

// A run under way, in the pool of open runs (free when not open).
struct PooledRun {
  RawRun run;
  uint32_t hash = 0;  // in the open index
  bool open = false;
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

std::string FoldedName(std::string name) {
  for (char& c : name) c = AsciiLower(c);
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
    char ca = AsciiLower(a[i]), cb = AsciiLower(b[j]);
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
  // By hand: a report of a million computers shows a million times.
  if (year < 0 || year > 9999) year = 0;
  char text[19];
  auto put = [&](size_t at, int value, int digits) {
    for (int i = digits - 1; i >= 0; --i, value /= 10)
      text[at + i] = static_cast<char>('0' + value % 10);
  };
  put(0, year, 4);
  text[4] = '-';
  put(5, month, 2);
  text[7] = '-';
  put(8, day, 2);
  text[10] = separator;
  put(11, static_cast<int>(seconds / 3600), 2);
  text[13] = ':';
  put(14, static_cast<int>(seconds / 60 % 60), 2);
  text[16] = ':';
  put(17, static_cast<int>(seconds % 60), 2);
  return std::string(text, sizeof text);
}

std::string LogTime::Offset() const {
  int minutes = offset < 0 ? -offset : offset;
  int hours = minutes / 60;
  minutes %= 60;
  if (hours >= 100) {  // not from a log (its offsets are below 24 hours)
    char wide[16];
    std::snprintf(wide, sizeof wide, "%c%02d:%02d", offset < 0 ? '-' : '+', hours, minutes);
    return wide;
  }
  char text[6] = {offset < 0 ? '-' : '+',
                  static_cast<char>('0' + hours / 10),
                  static_cast<char>('0' + hours % 10),
                  ':',
                  static_cast<char>('0' + minutes / 10),
                  static_cast<char>('0' + minutes % 10)};
  return std::string(text, sizeof text);
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
  std::shared_ptr<const FleetData> data;
  // The records of `data` and then the entries of `extra`, in the report's order.
  std::vector<uint32_t> order;
  std::vector<ComputerState> extra;  // the expected computers with no run
  std::vector<uint8_t> expected;     // per record: named in the expected list (empty: none is)
  // The records whose computer has a second record under the same name in another encoding:
  // all their runs.
  std::unordered_map<uint32_t, uint64_t> mergedRuns;
  LogTime now;
  int64_t staleAfter = 0;
};

namespace {

// Sets the age of a run without an end line, and whether it is stale.
void SetAge(Run* run, const LogTime& now, int64_t staleAfter) {
  if (run->outcome != Outcome::kUnfinished) return;
  // A time without an offset is taken in the zone of the report's time.
  run->age = run->lastTime.hasOffset ? now.Instant() - run->lastTime.Instant()
                                     : now.clock - run->lastTime.clock;
  if (run->age < 0) run->age = 0;
  run->stale = run->age > staleAfter;
}

// A name as bytes that sort as CompareNames orders names: letters in lower case, and each run of
// digits as '0', the count of its digits without leading zeros (two bytes), and those digits.
std::string NaturalKey(std::string_view name) {
  std::string key;
  key.reserve(name.size() + 4);
  for (size_t i = 0; i < name.size();) {
    if (IsDigit(name[i])) {
      size_t start = i;
      while (start < name.size() && name[start] == '0') ++start;
      size_t end = start;
      while (end < name.size() && IsDigit(name[end])) ++end;
      size_t digits = end - start < 0xFFFF ? end - start : 0xFFFF;
      key.push_back('0');
      key.push_back(static_cast<char>(digits >> 8));
      key.push_back(static_cast<char>(digits & 0xFF));
      key.append(name.substr(start, end - start));
      i = end;
      continue;
    }
    key.push_back(AsciiLower(name[i++]));
  }
  return key;
}

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

}  // namespace

struct FleetReader::State {
  void Line(const char* data, size_t start, size_t end, bool ended);
  void OnEvent(const LineHead& head);
  uint32_t FindOpen(const LineHead& head, uint64_t computerHash);
  uint32_t Open(const LineHead& head, uint64_t computerHash);
  void Close(uint32_t slot);
  // Keeps what the closed runs of `closing` tell in their computers' records.
  void Settle();
  void Settle(RawRun& run, uint32_t record);
  // Copies the last steps of the runs whose last line lies in the block at hand.
  void TakeLastSteps() {
    for (uint32_t slot : inBlock) pool[slot].run.TakeLast();
    inBlock.clear();
  }
  // The record of the run's computer, or kNone when it has none yet.
  uint32_t LookUp(const RawRun& run) const {
    const FleetData& d = *fleet;
    return d.index.Find(static_cast<uint32_t>(run.computerHash), [&](uint32_t i) {
      return d.IsNamed(d.records[i], run.computer, run.nameHead);
    });
  }
  // The texts of a start line's event, as numbers in the fleet's table.
  struct StartTexts {
    uint32_t program = kNone, script = kNone, caption = kNone, user = kNone;
    bool hasUser = false;
    bool utf8 = false;  // the event is valid UTF-8
  };
  const StartTexts& StartOf(const std::string& event);
  void Keep(const RawRun& run, const StartTexts& start, bool nameUtf8, bool startUtf8,
            uint32_t error, bool errorUtf8, ComputerRecord* record);
  void Skip() {
    ++logs.back().lines;
    ++logs.back().skipped;
  }

  // The runs under way in the current log; a slot is reused, with the capacity of its texts.
  std::vector<PooledRun> pool;
  std::vector<uint32_t> freeSlots;
  // The runs whose last line lies in the block at hand (RawRun::lastEvent).
  std::vector<uint32_t> inBlock;
  // Runs that have ended, their computers' records still to be found: a fleet's records lie far
  // apart in memory, so they are looked up a batch at a time, the memory of each step asked for
  // the whole batch before the next step reads it.
  std::vector<uint32_t> closing;
  std::vector<uint32_t> found;  // their records, kNone for a computer not seen before
  // The start events met last, by their hash: a fleet's runs start with a few events (one per
  // script, caption and user), each read once instead of at every run.
  struct KnownStart {
    std::string event;
    StartTexts texts;
    bool filled = false;
  };
  static constexpr size_t kKnownStarts = 64;
  KnownStart knownStarts[kKnownStarts];
  HashIndex openIndex;        // computer and process id to a run under way
  uint32_t lastSlot = kNone;  // the run of the line before: lines come in bursts
  // Every computer and its last run; shared with the reports made so far, and copied before it
  // changes when one still holds it.
  std::shared_ptr<FleetData> fleet = std::make_shared<FleetData>();
  std::vector<LogSummary> logs;
  uint64_t runsByOutcome[kOutcomeCount] = {};
  // All runs by script and caption (numbers in data->texts, kNone without a start line) and
  // whether their start line is UTF-8; the failed ones by message, text (kNone when the error
  // line is not in the log) and whether that line is UTF-8.
  std::map<std::tuple<uint32_t, uint32_t, bool>, std::array<uint64_t, kOutcomeCount>> scriptRuns;
  std::map<std::tuple<int, uint32_t, bool>, uint64_t> messageRuns;
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
  // A report made earlier keeps the computers as they were.
  if (state_->fleet.use_count() > 1) state_->fleet = std::make_shared<FleetData>(*state_->fleet);
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
  s.TakeLastSteps();
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
  s.Settle();
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
    if (!ParseHead(line, form, &head)) {
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
  if (form == HeadForm::kNone || !ParseHead(line, form, &head)) {
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
  TakeNameHead(head.computer, run.nameHead);
  run.pid.assign(head.pid.data(), head.pid.size());
  run.pidValue = head.pidValue;
  run.start.clear();
  run.error.clear();
  run.errorMessage = 0;
  run.end.clear();
  run.step.clear();
  run.outcome = Outcome::kUnfinished;
  run.firstTime.Set(head.time);
  run.lastSize = 0;
  run.lastEvent = nullptr;
  run.endTime = LogTime();
  run.log = logs.size() - 1;
  run.order = order++;
  openIndex.Insert(entry.hash, slot);
  lastSlot = slot;
  return slot;
}

void FleetReader::State::Close(uint32_t slot) {
  PooledRun& entry = pool[slot];
  RawRun& run = entry.run;
  run.TakeLast();
  if (run.lastSize == 0 || !run.lastTime.Set(std::string_view(run.lastText, run.lastSize))) {
    run.lastTime = run.firstTime;
  }
  ++logs.back().runs;
  ++runsByOutcome[static_cast<int>(run.outcome)];
  openIndex.Erase(entry.hash, slot);
  entry.open = false;
  if (lastSlot == slot) lastSlot = kNone;
  closing.push_back(slot);
  fleet->index.Prefetch(static_cast<uint32_t>(run.computerHash));
  if (closing.size() == kSettleBatch) Settle();
}

void FleetReader::State::Settle() {
  const FleetData& data = *fleet;
  auto hashOf = [&](uint32_t slot) { return static_cast<uint32_t>(pool[slot].run.computerHash); };
  for (uint32_t slot : closing) {
    data.index.Candidates(hashOf(slot), [&](uint32_t i) { __builtin_prefetch(&data.records[i]); });
  }
  for (uint32_t slot : closing) {
    if (pool[slot].run.computer.size() <= kNameHead) continue;
    data.index.Candidates(hashOf(slot), [&](uint32_t i) {
      __builtin_prefetch(data.names.data() + data.records[i].name);
    });
  }
  // The records found while their memory is at hand; a computer met first in this batch has
  // none yet, and is looked up again when its first run has added it.
  found.clear();
  for (uint32_t slot : closing) found.push_back(LookUp(pool[slot].run));
  for (size_t i = 0; i < closing.size(); ++i) {
    Settle(pool[closing[i]].run, found[i]);
    freeSlots.push_back(closing[i]);
  }
  closing.clear();
}

void FleetReader::State::Settle(RawRun& run, uint32_t known) {
  FleetData& d = *fleet;
  bool nameUtf8 = IsValidUtf8(run.computer);
  static const StartTexts kNoStart;
  const StartTexts& start = run.start.empty() ? kNoStart : StartOf(run.start);
  bool startUtf8 = !run.start.empty() && nameUtf8 && start.utf8;
  ++scriptRuns[{start.script, start.caption, startUtf8}][static_cast<int>(run.outcome)];
  uint32_t error = kNone;
  bool errorUtf8 = false;
  if (run.outcome == Outcome::kFailed) {
    int message = ParseEvent(run.end).message;
    if (!run.error.empty() && run.errorMessage == message) {
      error = d.texts.Add(ParseEvent(run.error).text);
      errorUtf8 = nameUtf8 && IsValidUtf8(run.error);
    }
    ++messageRuns[{message, error, errorUtf8}];
  }

  uint32_t hash = static_cast<uint32_t>(run.computerHash);
  uint32_t index = known != kNone ? known : LookUp(run);
  if (index == kNone) {
    index = static_cast<uint32_t>(d.records.size());
    d.records.emplace_back();
    d.records.back().name = d.names.size();
    d.records.back().nameSize = static_cast<uint32_t>(run.computer.size());
    std::memcpy(d.records.back().nameHead, run.nameHead, kNameHead);
    d.names += run.computer;
    d.index.Insert(hash, index);
  }
  ComputerRecord& record = d.records[index];
  ++record.runs;
  if (record.runs == 1 ||
      IsLater(run.firstTime, run.order, UnpackTime(record.first), record.order)) {
    Keep(run, start, nameUtf8, startUtf8, error, errorUtf8, &record);
  }
}

const FleetReader::State::StartTexts& FleetReader::State::StartOf(const std::string& event) {
  KnownStart& known = knownStarts[HashBytes(event) % kKnownStarts];
  if (known.filled && known.event == event) return known.texts;
  FleetData& d = *fleet;
  Event start = ParseEvent(event);
  known.texts.program = d.texts.Add(start.program);
  known.texts.script = d.texts.Add(start.script);
  known.texts.caption = d.texts.Add(start.caption);
  known.texts.user = start.hasUser ? d.texts.Add(start.user) : kNone;
  known.texts.hasUser = start.hasUser;
  known.texts.utf8 = IsValidUtf8(event);
  known.event = event;
  known.filled = true;
  return known.texts;
}

void FleetReader::State::Keep(const RawRun& run, const StartTexts& start, bool nameUtf8,
                              bool startUtf8, uint32_t error, bool errorUtf8,
                              ComputerRecord* record) {
  FleetData& d = *fleet;
  uint8_t flags = 0;
  record->program = record->script = record->caption = record->user = kNone;
  if (!run.start.empty()) {
    flags |= kHasStart | (startUtf8 ? kStartUtf8 | kNameUtf8 : 0);
    record->program = start.program;
    record->script = start.script;
    record->caption = start.caption;
    if (start.hasUser) {
      flags |= kHasUser;
      record->user = start.user;
    }
  } else if (nameUtf8) {
    flags |= kNameUtf8;
  }
  record->error = error;
  if (error != kNone) flags |= kHasMessageText | (errorUtf8 ? kErrorUtf8 : 0);
  record->answer = record->details = record->step = kNone;
  record->message = 0;
  if (!run.end.empty()) {
    Event end = ParseEvent(run.end);
    if (nameUtf8 && IsValidUtf8(run.end)) flags |= kEndUtf8;
    if (end.end == EndKind::kMessage) record->message = end.message;
    if (end.end == EndKind::kStopped) record->message = end.signal;
    if (!end.answer.empty()) record->answer = d.texts.Add(end.answer);
    if (!end.details.empty()) record->details = d.texts.Add(end.details);
  } else if (!run.step.empty()) {
    if (nameUtf8 && IsValidUtf8(run.step)) flags |= kStepUtf8;
    record->step = d.texts.Add(run.step);
  }
  record->flags = flags;
  record->outcome = static_cast<uint8_t>(run.outcome);
  uint64_t pid = 0;
  for (char c : run.pid) pid = pid * 10 + static_cast<uint64_t>(c - '0');
  record->pid = pid;
  record->first = PackTime(run.firstTime);
  record->last = PackTime(run.lastTime);
  record->end = PackTime(run.endTime);
  record->log = static_cast<uint32_t>(run.log);
  record->order = run.order;
}

void FleetReader::State::OnEvent(const LineHead& head) {
  // Only start, error and end lines tell how a run goes; the others need no more than their
  // head, which Line found whole.
  char first = head.event.front();
  uint64_t computerHash = ComputerHash(head);
  uint32_t slot = FindOpen(head, computerHash);
  // Most lines only move their run's last step on: their time is read only if they stay last.
  auto last = [&](RawRun* run) {
    if (run->lastEvent == nullptr) inBlock.push_back(slot);
    run->lastEvent = head.event.data();
    run->lastEventSize = head.event.size();
    run->lastTimeAt = head.time.data();
    run->lastTimeSize = static_cast<uint8_t>(head.time.size());
  };
  if (first != 's' && first != 'e') {
    if (slot != kNone) {
      RawRun& run = pool[slot].run;
      last(&run);
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
  last(&run);
  if (parsed.kind == EventKind::kError) {
    run.error.assign(head.event.data(), head.event.size());
    run.errorMessage = parsed.message;
  } else if (parsed.kind == EventKind::kEnd) {
    run.end.assign(head.event.data(), head.event.size());
    run.endTime.Set(head.time);
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
  store->data = s.fleet;
  store->now = report.now;
  store->staleAfter = report.staleAfter;
  const FleetData& d = *s.fleet;
  const size_t count = d.records.size();
  auto name = [&](uint32_t i) {
    std::string decoded;
    AppendDecoded(d.Name(d.records[i]), (d.records[i].flags & kNameUtf8) != 0, &decoded);
    return decoded;
  };
  // One computer may have written its name in two encodings (an older log in code page 932, a
  // newer one in UTF-8): the same name decoded is the same computer. An ASCII name is the same
  // in both, so only the others are looked at.
  std::vector<uint8_t> dropped(count, 0);
  {
    std::unordered_map<std::string, uint32_t> byName;
    for (uint32_t i = 0; i < count; ++i) {
      if (IsAscii(d.Name(d.records[i]))) continue;
      auto found = byName.emplace(name(i), i);
      if (found.second) continue;
      uint32_t kept = found.first->second;
      const ComputerRecord& a = d.records[i];
      const ComputerRecord& b = d.records[kept];
      uint64_t runs = (store->mergedRuns.count(kept) ? store->mergedRuns[kept] : b.runs) + a.runs;
      if (IsLater(UnpackTime(a.first), a.order, UnpackTime(b.first), b.order)) {
        dropped[kept] = 1;
        store->mergedRuns.erase(kept);
        found.first->second = i;
        kept = i;
      } else {
        dropped[i] = 1;
      }
      store->mergedRuns[kept] = runs;
    }
  }
  // The expected computers, by name regardless of ASCII case.
  if (!options.expected.empty()) {
    store->expected.assign(count, 0);
    std::unordered_map<std::string, uint32_t> seen;
    for (uint32_t i = 0; i < count; ++i) {
      if (!dropped[i]) seen.emplace(FoldedName(name(i)), i);
    }
    std::unordered_map<std::string, bool> listed;
    for (const std::string& expected : options.expected) {
      std::string folded = FoldedName(expected);
      if (!listed.emplace(folded, true).second) continue;
      ++report.expected;
      auto found = seen.find(folded);
      if (found != seen.end()) {
        store->expected[found->second] = 1;
        continue;
      }
      ComputerState missing;
      missing.last.computer = expected;
      missing.last.outcome = Outcome::kNoRun;
      missing.expected = true;
      store->extra.push_back(std::move(missing));
    }
  }
  // Counts by outcome, staleness, and the breakdowns of the computers' last runs.
  std::map<std::tuple<uint32_t, uint32_t, bool>, std::array<uint64_t, kOutcomeCount>> scripts;
  std::map<std::tuple<int, uint32_t, bool>, uint64_t> messages;
  for (uint32_t i = 0; i < count; ++i) {
    if (dropped[i]) continue;
    const ComputerRecord& r = d.records[i];
    if (!store->expected.empty() && !store->expected[i]) ++report.unexpected;
    ++report.computersByOutcome[r.outcome];
    if (r.outcome == static_cast<uint8_t>(Outcome::kUnfinished)) {
      Run run;
      run.outcome = Outcome::kUnfinished;
      run.lastTime = UnpackTime(r.last);
      SetAge(&run, report.now, report.staleAfter);
      if (run.stale) ++report.stale;
    }
    bool hasStart = (r.flags & kHasStart) != 0;
    ++scripts[{r.script, r.caption, hasStart && (r.flags & kStartUtf8) != 0}][r.outcome];
    if (r.outcome == static_cast<uint8_t>(Outcome::kFailed)) {
      bool hasText = (r.flags & kHasMessageText) != 0;
      ++messages[{r.message, hasText ? r.error : kNone, hasText && (r.flags & kErrorUtf8) != 0}];
    }
  }
  report.computersByOutcome[static_cast<int>(Outcome::kNoRun)] += store->extra.size();
  auto decode = [&](uint32_t id, bool utf8) {
    std::string text;
    if (id != kNone) AppendDecoded(d.Text(id), utf8, &text);
    return text;
  };
  // Per message number, then text decoded.
  {
    std::map<int, std::map<std::pair<bool, std::string>, Counts>> found;
    auto key = [&](const std::tuple<int, uint32_t, bool>& raw) {
      std::pair<bool, std::string> text(std::get<1>(raw) != kNone, std::string());
      if (text.first) {
        text.second = decode(std::get<1>(raw), std::get<2>(raw));
        DecodeLineBreaks(&text.second);
      }
      return text;
    };
    for (const auto& entry : s.messageRuns) {
      found[std::get<0>(entry.first)][key(entry.first)].runs += entry.second;
    }
    for (const auto& entry : messages) {
      found[std::get<0>(entry.first)][key(entry.first)].computers += entry.second;
    }
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
      report.messages.push_back(std::move(total));
    }
  }
  // Per script and caption, decoded; the runs whose start is not in the logs last.
  {
    std::map<std::tuple<bool, std::string, std::string>, ScriptTotal> found;
    auto key = [&](const std::tuple<uint32_t, uint32_t, bool>& raw) {
      return std::make_tuple(std::get<0>(raw) != kNone, decode(std::get<0>(raw), std::get<2>(raw)),
                             decode(std::get<1>(raw), std::get<2>(raw)));
    };
    for (const auto& entry : s.scriptRuns) {
      ScriptTotal& total = found[key(entry.first)];
      for (int i = 0; i < kOutcomeCount; ++i) {
        total.runsByOutcome[i] += entry.second[i];
        total.counts.runs += entry.second[i];
      }
    }
    for (const auto& entry : scripts) {
      ScriptTotal& total = found[key(entry.first)];
      for (int i = 0; i < kOutcomeCount; ++i) {
        total.computersByOutcome[i] += entry.second[i];
        total.counts.computers += entry.second[i];
      }
    }
    for (auto& entry : found) {
      entry.second.known = std::get<0>(entry.first);
      entry.second.script = std::get<1>(entry.first);
      entry.second.caption = std::get<2>(entry.first);
      report.scripts.push_back(std::move(entry.second));
    }
    std::stable_partition(report.scripts.begin(), report.scripts.end(),
                          [](const ScriptTotal& t) { return t.known; });
  }
  // The order: by outcome, then by name as CompareNames orders names (a key that sorts as
  // bytes, its first sixteen bytes compared as two numbers first), then by the name's bytes.
  {
    struct Entry {
      uint64_t prefix[2];  // the key's first sixteen bytes, as numbers
      uint32_t at;
      uint32_t key;  // in `keys`
      uint8_t outcome;
    };
    std::vector<Entry> entries;
    std::vector<std::string> keys;
    entries.reserve(count + store->extra.size());
    keys.reserve(count + store->extra.size());
    auto add = [&](uint32_t at, Outcome outcome, const std::string& shown) {
      keys.push_back(NaturalKey(shown));
      const std::string& key = keys.back();
      Entry entry = {
          {0, 0}, at, static_cast<uint32_t>(keys.size() - 1), static_cast<uint8_t>(outcome)};
      for (size_t i = 0; i < 16; ++i) {
        entry.prefix[i / 8] =
            entry.prefix[i / 8] << 8 | (i < key.size() ? static_cast<unsigned char>(key[i]) : 0);
      }
      entries.push_back(entry);
    };
    for (uint32_t i = 0; i < count; ++i) {
      if (!dropped[i]) add(i, static_cast<Outcome>(d.records[i].outcome), name(i));
    }
    for (size_t i = 0; i < store->extra.size(); ++i) {
      add(static_cast<uint32_t>(count + i), Outcome::kNoRun, store->extra[i].last.computer);
    }
    auto shownName = [&](uint32_t at) {
      return at < count ? name(at) : store->extra[at - count].last.computer;
    };
    std::sort(entries.begin(), entries.end(), [&](const Entry& a, const Entry& b) {
      if (a.outcome != b.outcome) return a.outcome < b.outcome;
      if (a.prefix[0] != b.prefix[0]) return a.prefix[0] < b.prefix[0];
      if (a.prefix[1] != b.prefix[1]) return a.prefix[1] < b.prefix[1];
      int compare = keys[a.key].compare(keys[b.key]);
      if (compare != 0) return compare < 0;
      return shownName(a.at) < shownName(b.at);
    });
    store->order.reserve(entries.size());
    for (const Entry& entry : entries) store->order.push_back(entry.at);
  }
  report.computers = ComputerList(std::move(store));
  return report;
}

ComputerList::ComputerList() : store_(std::make_shared<Store>()) {}
ComputerList::ComputerList(std::shared_ptr<const Store> store) : store_(std::move(store)) {}
size_t ComputerList::size() const { return store_->order.size(); }

namespace {

// Asks the processor for the record of the computer some places after the i-th in the report's
// order: the report walks the computers in order, their records lie in the order they were met.
void FetchAhead(const ComputerList::Store& s, size_t i) {
  constexpr size_t kAhead = 16;
  if (i + kAhead >= s.order.size() || !s.data) return;
  uint32_t at = s.order[i + kAhead];
  if (at >= s.data->records.size()) return;
  const char* record = reinterpret_cast<const char*>(&s.data->records[at]);
  __builtin_prefetch(record);
  __builtin_prefetch(record + sizeof(ComputerRecord) - 1);
}

}  // namespace

Run ComputerList::Columns(size_t i) const {
  const Store& s = *store_;
  FetchAhead(s, i);
  uint32_t at = s.order[i];
  size_t records = s.data ? s.data->records.size() : 0;
  if (at >= records) return s.extra[at - records].last;
  const FleetData& d = *s.data;
  const ComputerRecord& record = d.records[at];
  Run run;
  AppendDecoded(d.Name(record), (record.flags & kNameUtf8) != 0, &run.computer);
  run.outcome = static_cast<Outcome>(record.outcome);
  run.firstTime = UnpackTime(record.first);
  bool startUtf8 = (record.flags & kStartUtf8) != 0;
  run.hasStart = (record.flags & kHasStart) != 0;
  if (record.script != kNone) AppendDecoded(d.Text(record.script), startUtf8, &run.script);
  run.hasUser = (record.flags & kHasUser) != 0;
  if (record.user != kNone) AppendDecoded(d.Text(record.user), startUtf8, &run.user);
  return run;
}

ComputerState ComputerList::operator[](size_t i) const {
  const Store& s = *store_;
  FetchAhead(s, i);
  uint32_t at = s.order[i];
  size_t records = s.data ? s.data->records.size() : 0;
  if (at >= records) return s.extra[at - records];
  const ComputerRecord& record = s.data->records[at];
  ComputerState state;
  state.last = MakeRun(*s.data, record);
  auto merged = s.mergedRuns.find(at);
  state.runs = merged != s.mergedRuns.end() ? merged->second : record.runs;
  state.expected = !s.expected.empty() && s.expected[at] != 0;
  SetAge(&state.last, s.now, s.staleAfter);
  return state;
}

}  // namespace report
}  // namespace kestario
