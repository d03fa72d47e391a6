#include "tools/report/fleet.h"

#include <algorithm>
#include <cstring>

#include "tools/report/log_line.h"
#include "tools/report/text_decode.h"

namespace kestario {
namespace report {
namespace {

// Logs are read in blocks of this size; a longer line makes the buffer grow to hold it.
constexpr size_t kBlockSize = size_t{1} << 20;

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

const char* FindLastNewline(const char* data, size_t size) {
  for (const char* p = data + size; p != data;) {
    if (*--p == '\n') return p;
  }
  return nullptr;
}

// Whether run `a` is later than run `b` of the same computer.
bool IsLater(const Run& a, const Run& b) {
  int compare = a.firstTime.View().compare(b.firstTime.View());
  return compare != 0 ? compare > 0 : a.order > b.order;
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

struct FleetReader::OpenRun {
  bool used = false;
  std::string key;
  Run run;
  int lastError = 0;  // the last error message of the run, and its text
  std::string lastErrorText;
};

FleetReader::FleetReader() = default;
FleetReader::~FleetReader() = default;

void FleetReader::ReadLog(const std::string& path, ByteSource* source) {
  if (!buffer_) {
    buffer_.reset(new char[kBlockSize]);
    bufferSize_ = kBlockSize;
  }
  BeginLog(path);
  std::string error;
  size_t held = 0;  // the bytes of an unfinished line at the buffer's start
  for (;;) {
    if (held == bufferSize_) {
      std::unique_ptr<char[]> bigger(new char[bufferSize_ * 2]);
      std::memcpy(bigger.get(), buffer_.get(), held);
      buffer_ = std::move(bigger);
      bufferSize_ *= 2;
    }
    int64_t got = source->Read(buffer_.get() + held, bufferSize_ - held, &error);
    if (got < 0) break;
    logs_.back().bytes += static_cast<uint64_t>(got);
    if (got == 0) {
      if (held != 0) Lines(buffer_.get(), held);  // the last line has no line end
      break;
    }
    size_t total = held + static_cast<size_t>(got);
    const char* newline = FindLastNewline(buffer_.get() + held, static_cast<size_t>(got));
    if (newline == nullptr) {
      held = total;
      continue;
    }
    size_t whole = static_cast<size_t>(newline - buffer_.get()) + 1;
    Lines(buffer_.get(), whole);
    held = total - whole;
    std::memmove(buffer_.get(), buffer_.get() + whole, held);
  }
  EndLog(error);
  // A long line made the buffer grow; the next log starts with the usual size again.
  if (bufferSize_ > kBlockSize) {
    buffer_.reset(new char[kBlockSize]);
    bufferSize_ = kBlockSize;
  }
}

void FleetReader::AddUnreadable(const std::string& path, const std::string& error) {
  BeginLog(path);
  EndLog(error);
}

void FleetReader::BeginLog(const std::string& path) {
  logs_.emplace_back();
  logs_.back().path = path;
  atLogStart_ = true;
}

void FleetReader::Lines(const char* data, size_t size) {
  if (atLogStart_) {
    atLogStart_ = false;
    if (size >= kByteOrderMark.size() && std::memcmp(data, kByteOrderMark.data(), 3) == 0) {
      data += kByteOrderMark.size();
      size -= kByteOrderMark.size();
    }
  }
  const char* end = data + size;
  while (data != end) {
    const char* newline = static_cast<const char*>(std::memchr(data, '\n', end - data));
    const char* next = newline ? newline + 1 : end;
    size_t length = static_cast<size_t>((newline ? newline : end) - data);
    if (length != 0 && data[length - 1] == '\r') --length;
    Line(std::string_view(data, length));
    data = next;
  }
}

void FleetReader::EndLog(const std::string& error) {
  for (size_t slot = 0; slot < open_.size(); ++slot) {
    if (open_[slot].used) Close(slot);
  }
  open_.clear();
  freeSlots_.clear();
  openIndex_.clear();
  keySlot_ = SIZE_MAX;
  logs_.back().error = error;
}

void FleetReader::Skip() {
  ++logs_.back().lines;
  ++logs_.back().skipped;
}

void FleetReader::Line(std::string_view line) {
  LineHead head;
  if (!ParseHead(line, &head)) {
    // Foreign, or cut off: a head further on begins a whole line written after it.
    size_t at = FindHead(line, 1);
    Skip();
    if (at == std::string_view::npos) return;
    line.remove_prefix(at);
    ParseHead(line, &head);
  }
  for (;;) {
    size_t glued = FindHead(line, static_cast<size_t>(head.event.data() - line.data()));
    if (glued == std::string_view::npos) break;
    Skip();
    line.remove_prefix(glued);
    ParseHead(line, &head);
  }
  ++logs_.back().lines;
  OnEvent(line, head.time, head.computer, head.pid, head.event);
}

size_t FleetReader::FindOpen(std::string_view computer, std::string_view pid) {
  size_t length = computer.size() + 1 + pid.size();
  if (keySlot_ != SIZE_MAX && key_.size() == length &&
      std::memcmp(key_.data(), computer.data(), computer.size()) == 0 &&
      std::memcmp(key_.data() + computer.size() + 1, pid.data(), pid.size()) == 0) {
    return keySlot_;
  }
  key_.assign(computer.data(), computer.size());
  key_.push_back(' ');
  key_.append(pid.data(), pid.size());
  auto found = openIndex_.find(key_);
  keySlot_ = found == openIndex_.end() ? SIZE_MAX : found->second;
  return keySlot_;
}

size_t FleetReader::Open(std::string_view line, std::string_view computer, std::string_view pid,
                         std::string_view time) {
  size_t slot;
  if (!freeSlots_.empty()) {
    slot = freeSlots_.back();
    freeSlots_.pop_back();
  } else {
    slot = open_.size();
    open_.emplace_back();
  }
  OpenRun& open = open_[slot];
  open.used = true;
  open.key.assign(computer.data(), computer.size());
  open.key.push_back(' ');
  open.key.append(pid.data(), pid.size());
  open.lastError = 0;
  open.lastErrorText.clear();
  open.run = Run();
  Run& run = open.run;
  AppendDecoded(computer, IsValidUtf8(line), &run.computer);
  run.pid.assign(pid.data(), pid.size());
  run.firstTime.Set(time);
  run.log = logs_.size() - 1;
  run.order = order_++;
  openIndex_[open.key] = slot;
  key_ = open.key;
  keySlot_ = slot;
  return slot;
}

void FleetReader::Close(size_t slot) {
  OpenRun& open = open_[slot];
  Run& run = open.run;
  if (run.outcome == Outcome::kFailed && open.lastError == run.message && run.message != 0) {
    run.hasMessageText = true;
    run.messageText = std::move(open.lastErrorText);
  }
  ++logs_.back().runs;
  ++runsByOutcome_[static_cast<int>(run.outcome)];
  ComputerState& state = computers_[run.computer];
  ++state.runs;
  if (state.runs == 1 || IsLater(run, state.last)) state.last = std::move(run);
  openIndex_.erase(open.key);
  if (keySlot_ == slot) keySlot_ = SIZE_MAX;
  open.used = false;
  freeSlots_.push_back(slot);
}

void FleetReader::OnEvent(std::string_view line, std::string_view time, std::string_view computer,
                          std::string_view pid, std::string_view event) {
  Event parsed = ParseEvent(event);
  if (parsed.kind == EventKind::kTorn) {
    ++logs_.back().skipped;
    return;
  }
  size_t slot = FindOpen(computer, pid);
  if (parsed.kind == EventKind::kStart) {
    // The same computer and process id again: the process that had it ended without an end
    // line, and the system gave its number to a new one.
    if (slot != SIZE_MAX) Close(slot);
    slot = Open(line, computer, pid, time);
    Run& run = open_[slot].run;
    bool utf8 = IsValidUtf8(line);
    run.hasStart = true;
    AppendDecoded(parsed.program, utf8, &run.program);
    AppendDecoded(parsed.script, utf8, &run.script);
    AppendDecoded(parsed.caption, utf8, &run.caption);
    run.hasUser = parsed.hasUser;
    AppendDecoded(parsed.user, utf8, &run.user);
  } else if (slot == SIZE_MAX) {
    // A line of a run whose start is not in this log (it began in an earlier one).
    slot = Open(line, computer, pid, time);
  }
  OpenRun& open = open_[slot];
  open.run.lastTime.Set(time);
  if (parsed.kind == EventKind::kError) {
    open.lastError = parsed.message;
    open.lastErrorText.clear();
    AppendDecoded(parsed.text, IsValidUtf8(line), &open.lastErrorText);
  } else if (parsed.kind == EventKind::kEnd) {
    Run& run = open.run;
    run.endTime.Set(time);
    bool utf8 = IsValidUtf8(line);
    switch (parsed.end) {
      case EndKind::kFinished:
        run.outcome = Outcome::kFinished;
        break;
      case EndKind::kMessage:
        run.outcome = Outcome::kFailed;
        run.message = parsed.message;
        break;
      case EndKind::kAnswer:
        run.outcome = Outcome::kCancelled;
        AppendDecoded(parsed.answer, utf8, &run.answer);
        break;
      case EndKind::kStopped:
        run.outcome = Outcome::kStopped;
        break;
    }
    AppendDecoded(parsed.details, utf8, &run.details);
    Close(slot);
  }
}

FleetReport FleetReader::Report() const {
  FleetReport report;
  report.logs = logs_;
  for (const LogSummary& log : logs_) {
    report.lines += log.lines;
    report.skipped += log.skipped;
    report.runs += log.runs;
    if (!log.error.empty()) ++report.unreadable;
  }
  for (int i = 0; i < kOutcomeCount; ++i) report.runsByOutcome[i] = runsByOutcome_[i];
  report.computers.reserve(computers_.size());
  for (const auto& entry : computers_) {
    report.computers.push_back(entry.second);
    ++report.computersByOutcome[static_cast<int>(entry.second.last.outcome)];
  }
  std::sort(report.computers.begin(), report.computers.end(), ListedBefore);
  return report;
}

}  // namespace report
}  // namespace kestario
