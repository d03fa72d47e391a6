// The least work that any report of a shared run log must do, to put beside updater-report and
// `wc -l` on the same file. It reads LOG in blocks of 1 MB, as updater-report does, finds the line
// ends and the spaces of a line's head 64 bytes at a time (AVX2), and does one of five amounts of
// work, each including the ones before it:
//
//   lines      finds each line's end (what `wc -l` does)
//   heads      and each line's computer and process id (a hash of each)
//   runs       and the run they belong to: a start line opens a run, an end line closes it, every
//              other line looks its run up
//   computers  and, at each end line, the computer's record among all the computers seen,
//              where the run's start is kept as its last run
//   rows       and then one row a computer, in the order of their names, to standard output:
//              the name and the byte offset of its last run's start
//
// It cuts every corner a report cannot: names and process ids are known by a 64-bit hash alone
// (never compared), a line is assumed to be of the current form with its computer and process id
// within 64 bytes of its time (any other line is passed over), no text is kept, decoded or
// checked, no time is read, and the rows are a fifth of the report's. What it costs is therefore
// about the least a reader of this plain kind (one core, a lookup for every line and every run)
// can cost on the machine it runs on.
//
// usage: report_floor lines|heads|runs|computers|rows LOG
#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum class Work { kLines, kHeads, kRuns, kComputers, kRows };

constexpr size_t kPadding = 64;  // readable bytes after a block's end, so that loads never check

// Bit i set where byte i of the 64 at `p` is `c`.
__attribute__((target("avx2"))) uint64_t Find64(const char* p, char c) {
  __m256i wanted = _mm256_set1_epi8(c);
  __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
  __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32));
  uint32_t a = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(low, wanted)));
  uint32_t b = static_cast<uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(high, wanted)));
  return a | (uint64_t{b} << 32);
}

uint64_t Hash(const char* bytes, size_t size, uint64_t seed) {
  uint64_t hash = seed ^ (size * 0x9E3779B97F4A7C15ull);
  for (; size >= 8; bytes += 8, size -= 8) {
    uint64_t word;
    std::memcpy(&word, bytes, 8);
    hash = (hash ^ word) * 0xFF51AFD7ED558CCDull;
    hash ^= hash >> 32;
  }
  uint64_t tail = 0;
  std::memcpy(&tail, bytes, size);
  hash = (hash ^ tail) * 0xC4CEB9FE1A85EC53ull;
  return (hash ^ (hash >> 29)) | 1;  // never 0, the mark of a free slot
}

// Open addressing with linear probing; erasing shifts the slots after it back, so that no
// tombstones build up over millions of runs.
class Table {
 public:
  struct Slot {
    uint64_t key = 0;
    uint64_t value = 0;
  };

  // The slot of `key`, made when `make` (and it is not there yet); null when it is not there.
  Slot* Find(uint64_t key, bool make) {
    if (make && (used_ + 1) * 2 > slots_.size()) Grow();
    for (size_t i = key & (slots_.size() - 1);; i = (i + 1) & (slots_.size() - 1)) {
      if (slots_[i].key == key) return &slots_[i];
      if (slots_[i].key != 0) continue;
      if (!make) return nullptr;
      ++used_;
      slots_[i].key = key;
      return &slots_[i];
    }
  }

  void Erase(Slot* slot) {
    size_t mask = slots_.size() - 1;
    size_t hole = static_cast<size_t>(slot - slots_.data());
    for (size_t i = (hole + 1) & mask; slots_[i].key != 0; i = (i + 1) & mask) {
      size_t home = slots_[i].key & mask;
      if (((i - home) & mask) >= ((i - hole) & mask)) {
        slots_[hole] = slots_[i];
        hole = i;
      }
    }
    slots_[hole] = Slot();
    --used_;
  }

  template <typename Function>
  void Visit(Function function) const {
    for (const Slot& slot : slots_) {
      if (slot.key != 0) function(slot);
    }
  }

 private:
  void Grow() {
    std::vector<Slot> old(slots_.size() * 2);
    old.swap(slots_);
    used_ = 0;
    for (const Slot& slot : old) {
      if (slot.key != 0) *Find(slot.key, true) = slot;
    }
  }

  std::vector<Slot> slots_ = std::vector<Slot>(1024);
  size_t used_ = 0;
};

// The work on one log: what it keeps, and what it counted.
class Floor {
 public:
  explicit Floor(Work work) : work_(work) {}

  // One whole line (without its line end) that begins at `offset` in the file.
  __attribute__((always_inline)) void Line(const char* line, size_t size, uint64_t offset) {
    ++lines_;
    // "2026-12-08T09:00:01+09:00 PC-101 3120 start: ..." (the time is at least 19 bytes)
    if (work_ == Work::kLines || size < 20) return;
    const char* end = line + size;
    // The three spaces after the time: within the 64 bytes after it on every line of a fleet.
    uint64_t spaces = Find64(line + 19, ' ');
    if (size - 19 < 64) spaces &= (uint64_t{1} << (size - 19)) - 1;
    if (__builtin_popcountll(spaces) < 3) return;
    const char* name = line + 19 + __builtin_ctzll(spaces) + 1;
    spaces &= spaces - 1;
    const char* pid = line + 19 + __builtin_ctzll(spaces) + 1;
    spaces &= spaces - 1;
    const char* event = line + 19 + __builtin_ctzll(spaces) + 1;
    uint64_t computer = Hash(name, pid - 1 - name, 1);
    uint64_t runKey = Hash(pid, event - 1 - pid, computer);
    heads_ += runKey & 1;  // always 1: counts the head, and uses the hashes
    if (work_ == Work::kHeads) return;
    bool starts = end - event > 6 && std::memcmp(event, "start:", 6) == 0;
    bool ends = end - event > 4 && std::memcmp(event, "end:", 4) == 0;
    Table::Slot* run = runs_.Find(runKey, starts);
    if (run == nullptr) return;
    if (starts) {
      run->value = offset;
      ++started_;
    }
    if (!ends) return;
    ++ended_;
    if (work_ != Work::kRuns) {
      // The record holds the computer's number in names_ (rows only) and its last run's start,
      // in one slot, so that a run reaches its computer with one look into memory.
      Table::Slot* record = computers_.Find(computer, true);
      if (record->value == 0 && work_ == Work::kRows) {
        names_.emplace_back(name, pid - 1 - name);
        record->value = static_cast<uint64_t>(names_.size()) << kStartBits;
      }
      record->value = (record->value & ~kStartMask) | (run->value + 1);
    }
    runs_.Erase(run);
  }

  // A row a computer, in the order of their names: the name and where its last run started.
  void PrintRows() const {
    std::vector<std::pair<const std::string*, uint64_t>> rows;
    rows.reserve(names_.size());
    computers_.Visit([&](const Table::Slot& slot) {
      rows.emplace_back(&names_[(slot.value >> kStartBits) - 1], (slot.value & kStartMask) - 1);
    });
    std::sort(rows.begin(), rows.end(),
              [](const auto& a, const auto& b) { return *a.first < *b.first; });
    for (const auto& row : rows) {
      std::printf("%s %llu\n", row.first->c_str(), static_cast<unsigned long long>(row.second));
    }
  }

  void PrintCounts() const {
    std::fprintf(stderr, "%llu lines, %llu heads, %llu runs started, %llu ended\n",
                 static_cast<unsigned long long>(lines_), static_cast<unsigned long long>(heads_),
                 static_cast<unsigned long long>(started_),
                 static_cast<unsigned long long>(ended_));
  }

 private:
  static constexpr int kStartBits = 40;  // a log of up to 1 TB
  static constexpr uint64_t kStartMask = (uint64_t{1} << kStartBits) - 1;

  Work work_;
  Table runs_;       // the runs under way: a run's key to its start's offset
  Table computers_;  // a computer's key to its name's number and its last run's start, plus 1
  std::vector<std::string> names_;
  uint64_t lines_ = 0, heads_ = 0, started_ = 0, ended_ = 0;
};

}  // namespace

int main(int argc, char** argv) {
  static const char* const kWork[] = {"lines", "heads", "runs", "computers", "rows"};
  int chosen = -1;
  for (int i = 0; argc == 3 && i < 5; ++i) {
    if (std::strcmp(argv[1], kWork[i]) == 0) chosen = i;
  }
  std::FILE* log = chosen < 0 ? nullptr : std::fopen(argv[2], "rb");
  if (log == nullptr) {
    std::fprintf(stderr, "usage: report_floor lines|heads|runs|computers|rows LOG\n");
    return 2;
  }
  if (!__builtin_cpu_supports("avx2")) {
    std::fprintf(stderr, "report_floor: needs a processor with AVX2\n");
    return 2;
  }
  Work work = static_cast<Work>(chosen);
  Floor floor(work);
  constexpr size_t kBlock = size_t{1} << 20;
  std::vector<char> buffer(2 * kBlock + kPadding);
  size_t kept = 0;      // bytes of a line begun in the block before
  uint64_t offset = 0;  // the file offset of buffer[0]
  for (;;) {
    if (kept + kBlock + kPadding > buffer.size()) buffer.resize(2 * (kept + kBlock) + kPadding);
    size_t got = std::fread(buffer.data() + kept, 1, kBlock, log);
    size_t size = kept + got;
    std::memset(buffer.data() + size, 0, kPadding);
    const char* begin = buffer.data();
    const char* line = begin;
    for (size_t at = 0; at < size; at += 64) {
      uint64_t ends = Find64(begin + at, '\n');
      if (size - at < 64) ends &= (uint64_t{1} << (size - at)) - 1;
      for (; ends != 0; ends &= ends - 1) {
        const char* lineEnd = begin + at + __builtin_ctzll(ends);
        floor.Line(line, lineEnd - line, offset + (line - begin));
        line = lineEnd + 1;
      }
    }
    kept = begin + size - line;
    offset += line - begin;
    std::memmove(buffer.data(), line, kept);
    if (got == 0) break;
  }
  if (kept != 0) floor.Line(buffer.data(), kept, offset);
  std::fclose(log);
  if (work == Work::kRows) floor.PrintRows();
  floor.PrintCounts();
  return 0;
}
