#include "tools/report/fleet.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

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

const char* FindLastNewline(const char* data, size_t size) {
  for (const char* p = data + size; p != data;) {
    if (*--p == '\n') return p;
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
  std::string end;  // the end line's event; empty without one
  Outcome outcome = Outcome::kUnfinished;
  LogTime firstTime;
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
  int compare = time.View().compare(otherTime.View());
  return compare != 0 ? compare > 0 : order > otherOrder;
}

// The run as the report shows it, its texts decoded line by line.
Run Decoded(const RawRun& raw) {
  Run run;
  bool computerUtf8 = IsValidUtf8(raw.computer);
  bool utf8 = computerUtf8 && IsValidUtf8(raw.start);
  AppendDecoded(raw.computer, raw.start.empty() ? computerUtf8 : utf8, &run.computer);
  run.pid = raw.pid;
  run.firstTime = raw.firstTime;
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
    run.signal = end.end == EndKind::kStopped ? end.signal : 0;
    AppendDecoded(end.answer, utf8, &run.answer);
    AppendDecoded(end.details, utf8, &run.details);
  }
  if (run.outcome == Outcome::kFailed && raw.errorMessage == run.message) {
    Event error = ParseEvent(raw.error);
    run.hasMessageText = true;
    AppendDecoded(error.text, computerUtf8 && IsValidUtf8(raw.error), &run.messageText);
  }
  return run;
}

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }
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
    case Outcome::kCancelled:
      return "cancelled";
    case Outcome::kFinished:
      break;
  }
  return "finished";
}

void LogTime::Set(std::string_view time) {
  std::memcpy(text, time.data(), sizeof text);
  known = true;
}

bool ListedBefore(const ComputerState& a, const ComputerState& b) {
  if (a.last.outcome != b.last.outcome) return a.last.outcome < b.last.outcome;
  return CompareNames(a.last.computer, b.last.computer) < 0;
}

struct FleetReader::State {
  void Line(const char* data, size_t start, size_t end);
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
    const char* newline = FindLastNewline(s.buffer.get() + held, static_cast<size_t>(got));
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
  for (size_t start = 0; start < size;) {
    size_t newline = s.map.NextNewline(start);
    size_t end = newline;
    if (end != start && data[end - 1] == '\r') --end;
    s.Line(data, start, end);
    start = newline + 1;
  }
}

void FleetReader::EndLog(const std::string& error) {
  State& s = *state_;
  for (uint32_t slot = 0; slot < s.pool.size(); ++slot) {
    if (s.pool[slot].open) s.Close(slot);
  }
  s.openIndex.Clear();
  s.lastSlot = kNone;
  s.logs.back().error = error;
}

void FleetReader::State::Line(const char* data, size_t start, size_t end) {
  std::string_view line(data + start, end - start);
  LineHead head;
  if (!ParseHead(line, &head)) {
    // Foreign, or cut off: a head further on begins a whole line written after it.
    size_t at = FindHead(line, 1);
    Skip();
    if (at == std::string_view::npos) return;
    start += at;
    line.remove_prefix(at);
    ParseHead(line, &head);
  }
  // A head inside the event begins a line written after this one was cut off: the time's colons
  // stand out in the map.
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
  run.outcome = Outcome::kUnfinished;
  run.firstTime.Set(head.time);
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

void FleetReader::State::OnEvent(const LineHead& head) {
  // Only start, error and end lines tell how a run goes; the others need no more than their
  // head, which Line found whole.
  char first = head.event.front();
  if (first != 's' && first != 'e') return;
  Event parsed = ParseEvent(head.event);
  if (parsed.kind == EventKind::kTorn) {
    ++logs.back().skipped;
    return;
  }
  uint64_t computerHash = ComputerHash(head);
  uint32_t slot = FindOpen(head, computerHash);
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

FleetReport FleetReader::Report() const {
  const State& s = *state_;
  FleetReport report;
  report.logs = s.logs;
  for (const LogSummary& log : s.logs) {
    report.lines += log.lines;
    report.skipped += log.skipped;
    report.runs += log.runs;
    if (!log.error.empty()) ++report.unreadable;
  }
  for (int i = 0; i < kOutcomeCount; ++i) report.runsByOutcome[i] = s.runsByOutcome[i];
  // One computer may have written its name in two encodings (an older log in code page 932, a
  // newer one in UTF-8): the same name decoded is the same computer.
  std::unordered_map<std::string, size_t> byName;
  for (const RawState& raw : s.computers) {
    Run run = Decoded(s.pool[raw.last].run);
    auto found = byName.find(run.computer);
    if (found == byName.end()) {
      byName.emplace(run.computer, report.computers.size());
      report.computers.push_back(ComputerState{std::move(run), raw.runs});
      continue;
    }
    ComputerState& state = report.computers[found->second];
    state.runs += raw.runs;
    if (IsLater(run.firstTime, run.order, state.last.firstTime, state.last.order)) {
      state.last = std::move(run);
    }
  }
  for (const ComputerState& state : report.computers) {
    ++report.computersByOutcome[static_cast<int>(state.last.outcome)];
  }
  std::sort(report.computers.begin(), report.computers.end(), ListedBefore);
  return report;
}

}  // namespace report
}  // namespace kestario
