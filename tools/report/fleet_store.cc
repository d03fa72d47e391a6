#include "tools/report/fleet_store.h"

#include <cstring>
#include <new>

#if defined(__linux__)
#include <sys/mman.h>
#endif

#include "tools/report/log_line.h"
#include "tools/report/text_decode.h"

namespace kestario {
namespace report {
namespace {

uint64_t Mix(uint64_t value) {
  value *= 0x9E3779B97F4A7C15ull;
  return value ^ (value >> 32);
}

// The exit code that an end line's details give last: "...; exit code 1603".
bool TakeExitCode(std::string_view details, int* code) {
  constexpr std::string_view kExitCode = "exit code ";
  size_t at = details.rfind(kExitCode);
  if (at == std::string_view::npos || (at != 0 && (at < 2 || details.substr(at - 2, 2) != "; "))) {
    return false;
  }
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
  if (value < INT32_MIN || value > int64_t{UINT32_MAX}) return false;
  // Windows exit codes are 32-bit: 3221225477 is the same code as -1073741819.
  *code = static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(value)));
  return true;
}

}  // namespace

#if defined(__linux__)
namespace {
constexpr size_t kLargePage = size_t{2} << 20;
// Blocks from this size on are mapped on their own, aligned to a large page.
constexpr size_t kLargeBlock = 2 * kLargePage;
size_t MappedSize(size_t bytes) { return (bytes + kLargePage - 1) / kLargePage * kLargePage; }
}  // namespace

void* AllocateLarge(size_t bytes) {
  if (bytes < kLargeBlock) return ::operator new(bytes);
  size_t size = MappedSize(bytes);
  // One large page more than asked, so that the block can start on a large page's boundary.
  void* mapped =
      mmap(nullptr, size + kLargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
  uintptr_t aligned = (start + kLargePage - 1) / kLargePage * kLargePage;
  if (aligned != start) munmap(mapped, aligned - start);
  if (aligned + size != start + size + kLargePage) {
    munmap(reinterpret_cast<void*>(aligned + size), start + kLargePage - aligned);
  }
  void* block = reinterpret_cast<void*>(aligned);
  madvise(block, size, MADV_HUGEPAGE);  // a hint: without large pages the block works the same
  return block;
}

void FreeLarge(void* block, size_t bytes) {
  if (bytes < kLargeBlock) {
    ::operator delete(block);
  } else {
    munmap(block, MappedSize(bytes));
  }
}
#else
void* AllocateLarge(size_t bytes) { return ::operator new(bytes); }
void FreeLarge(void* block, size_t) { ::operator delete(block); }
#endif

void HashIndex::Insert(uint32_t hash, uint32_t value) {
  if ((count_ + 1) * 2 > cells_.size()) Grow();
  size_t i = hash & mask_;
  while (cells_[i].value != kNoText) i = (i + 1) & mask_;
  cells_[i] = Cell{hash, value};
  ++count_;
}

void HashIndex::Erase(uint32_t hash, uint32_t value) {
  size_t i = hash & mask_;
  while (cells_[i].value != value) i = (i + 1) & mask_;
  cells_[i].value = kNoText;
  --count_;
  // Moves back the entries after it that could not take their own cell.
  for (size_t j = (i + 1) & mask_; cells_[j].value != kNoText; j = (j + 1) & mask_) {
    size_t home = cells_[j].hash & mask_;
    bool stays = i <= j ? (home > i && home <= j) : (home > i || home <= j);
    if (!stays) {
      cells_[i] = cells_[j];
      cells_[j].value = kNoText;
      i = j;
    }
  }
}

void HashIndex::Values(std::vector<uint32_t>* values) const {
  for (const Cell& cell : cells_) {
    if (cell.value != kNoText) values->push_back(cell.value);
  }
}

void HashIndex::Clear() {
  cells_.clear();
  count_ = 0;
  mask_ = 0;
}

void HashIndex::Grow() {
  LargeVector<Cell> old = std::move(cells_);
  cells_.assign(old.empty() ? 64 : old.size() * 2, Cell());
  mask_ = cells_.size() - 1;
  count_ = 0;
  for (const Cell& cell : old) {
    if (cell.value != kNoText) Insert(cell.hash, cell.value);
  }
}

uint32_t HashBytes(std::string_view bytes) {
  uint64_t hash = bytes.size();
  const char* p = bytes.data();
  size_t left = bytes.size();
  uint64_t word;
  for (; left >= 8; p += 8, left -= 8) {
    std::memcpy(&word, p, 8);
    hash = Mix(hash ^ word);
  }
  word = 0;
  std::memcpy(&word, p, left);
  return static_cast<uint32_t>(Mix(hash ^ word));
}

uint32_t TextTable::Add(std::string_view text) {
  if (lastId_ != kNoText && View(lastId_) == text) return lastId_;
  uint32_t hash = HashBytes(text);
  uint32_t id = index_.Find(hash, [&](uint32_t i) { return View(i) == text; });
  if (id == kNoText) {
    id = static_cast<uint32_t>(starts_.size() - 1);
    bytes_.append(text.data(), text.size());
    starts_.push_back(bytes_.size());
    index_.Insert(hash, id);
  }
  lastId_ = id;
  return id;
}

int64_t PackTime(const LogTime& time) {
  if (!time.known) return INT64_MIN;
  return time.clock * 8192 + (time.offset + 2048) * 2 + (time.hasOffset ? 1 : 0);
}

LogTime UnpackTime(int64_t packed) {
  LogTime time;
  if (packed == INT64_MIN) return time;
  time.known = true;
  time.hasOffset = (packed & 1) != 0;
  time.offset = static_cast<int16_t>(((packed >> 1) & 4095) - 2048);
  time.clock = packed >> 13;
  return time;
}

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

Run MakeRun(const FleetData& data, const ComputerRecord& record) {
  Run run;
  auto decode = [&](uint32_t id, uint8_t flag, std::string* out) {
    if (id != kNoText) AppendDecoded(data.Text(id), (record.flags & flag) != 0, out);
  };
  AppendDecoded(data.Name(record), (record.flags & kNameUtf8) != 0, &run.computer);
  run.pid = std::to_string(record.pid);
  run.hasStart = (record.flags & kHasStart) != 0;
  decode(record.program, kStartUtf8, &run.program);
  decode(record.script, kStartUtf8, &run.script);
  decode(record.caption, kStartUtf8, &run.caption);
  run.hasUser = (record.flags & kHasUser) != 0;
  decode(record.user, kStartUtf8, &run.user);
  run.firstTime = UnpackTime(record.first);
  run.lastTime = UnpackTime(record.last);
  run.endTime = UnpackTime(record.end);
  run.outcome = static_cast<Outcome>(record.outcome);
  run.message = run.outcome == Outcome::kFailed ? record.message : 0;
  run.signal = run.outcome == Outcome::kStopped ? record.message : 0;
  run.hasMessageText = (record.flags & kHasMessageText) != 0;
  if (run.hasMessageText) {
    decode(record.error, kErrorUtf8, &run.messageText);
    DecodeLineBreaks(&run.messageText);
  }
  decode(record.answer, kEndUtf8, &run.answer);
  decode(record.details, kEndUtf8, &run.details);
  run.hasExitCode = TakeExitCode(run.details, &run.exitCode);
  decode(record.step, kStepUtf8, &run.lastStep);
  run.log = record.log;
  run.order = record.order;
  return run;
}

}  // namespace report
}  // namespace kestario
