// The least work that any report of a shared run log must do, to put beside updater-report and
// `wc -l` on the same file. It shares LOG between THREADS (1 by default) at line ends, each
// reading its part in blocks of 1 MB as updater-report reads a log, finds the line ends and the
// spaces of a line's head 64 bytes at a time (AVX2), and does one of five amounts of work, each
// including the ones before it:
//
//   lines      finds each line's end (what `wc -l` does)
//   heads      and each line's computer and process id (a hash of each)
//   runs       and the run of each start and end line: a start line opens a run, an end line
//              closes it (lines between are not followed to their run)
//   computers  and each computer's last run: the ends of all runs, kept in the order of the log,
//              are shared out between the threads by computer, each keeping its own computers
//   rows       and then one row a computer, in the order of their names, to standard output:
//              the name and the byte offset of its last run's start
//
// A run whose start and end lines fall to two threads is joined when both are done: its end line
// waits, with its place in the order, for the thread before to hand over the runs still open.
//
// It cuts every corner a report cannot: names and process ids are known by a 64-bit hash alone
// (names are compared only to put the rows in order, byte by byte), a line is assumed to be of the
// current form with its computer and process id within 64 bytes of its time (any other line is
// passed over), no text is kept but the names, none is decoded or checked, no time is read, the
// last run is the last to end, and the rows are a fifth of the report's bytes. What it costs is
// therefore about the least a report can cost on the machine it runs on with that many cores.
// Its counts and the time each step took go to standard error.
//
// usage: report_floor [-j THREADS] lines|heads|runs|computers|rows LOG
#include <fcntl.h>
#include <immintrin.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

enum class Work { kLines, kHeads, kRuns, kComputers, kRows };

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

  // Asks for the memory of `key`'s first slot ahead of Find.
  void Prefetch(uint64_t key) const { __builtin_prefetch(&slots_[key & (slots_.size() - 1)]); }

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

  size_t size() const { return used_; }

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

// A run's end line: its computer, its name (copied out of the block it was read in), and where
// its start line is (kNoStart: in the part before, or nowhere).
struct End {
  static constexpr uint64_t kNoStart = ~uint64_t{0};
  uint64_t computer;
  uintptr_t name;  // while its part is read, where among the part's names; then the address
  uint32_t nameSize;
  uint64_t start;
  const char* Name() const { return reinterpret_cast<const char*>(name); }
};

constexpr size_t kBlock = size_t{1} << 20;
constexpr size_t kPadding = 64;  // readable bytes after a block's end, so that loads never check

// The lines of one thread's part of the log, and what it keeps of them (on cache lines of its
// own: the counts change at every line).
class alignas(128) Part {
 public:
  explicit Part(Work work) : work_(work) {}

  // The lines of bytes [from, to) of `fd`: `from` is its start or just after a line feed, and so
  // is `to` or it is the file's end. 0, or the errno of a read that failed.
  int Scan(int fd, uint64_t from, uint64_t to) {
    if (work_ >= Work::kRuns) {
      ends_.reserve(static_cast<size_t>(to - from) / 256);
      names_.reserve(static_cast<size_t>(to - from) / 64);
    }
    std::vector<char> buffer(2 * kBlock + kPadding);
    size_t kept = 0;         // bytes of a line begun in the block before
    uint64_t offset = from;  // the file offset of buffer[0]
    for (uint64_t at = from;;) {
      size_t wanted = static_cast<size_t>(std::min<uint64_t>(kBlock, to - at));
      if (kept + wanted + kPadding > buffer.size()) buffer.resize(2 * (kept + wanted) + kPadding);
      ssize_t got = wanted == 0 ? 0 : pread(fd, buffer.data() + kept, wanted, at);
      if (got < 0) return errno;
      at += got;
      size_t size = kept + static_cast<size_t>(got);
      std::memset(buffer.data() + size, 0, kPadding);
      const char* begin = buffer.data();
      const char* line = begin;
      for (size_t i = kept & ~size_t{63}; i < size; i += 64) {
        uint64_t ends = Find64(begin + i, '\n');
        if (size - i < 64) ends &= (uint64_t{1} << (size - i)) - 1;
        for (; ends != 0; ends &= ends - 1) {
          const char* lineEnd = begin + i + __builtin_ctzll(ends);
          Line(line, lineEnd - line, offset + (line - begin));
          line = lineEnd + 1;
        }
      }
      kept = begin + size - line;
      offset += line - begin;
      std::memmove(buffer.data(), line, kept);
      if (got == 0) break;
    }
    if (kept != 0) Line(buffer.data(), kept, offset);
    for (End& end : ends_) end.name += reinterpret_cast<uintptr_t>(names_.data());
    return 0;
  }

  // Joins the end lines whose runs started in an earlier part, looking in `before`, the nearest
  // first.
  void Join(const std::vector<Part*>& before) {
    for (const auto& orphan : orphans_) {
      End& end = ends_[orphan.first];
      for (auto part = before.rbegin(); part != before.rend(); ++part) {
        Table::Slot* run = (*part)->runs_.Find(orphan.second, false);
        if (run == nullptr) continue;
        end.start = run->value;
        (*part)->runs_.Erase(run);
        break;
      }
      if (end.start == End::kNoStart) end.computer = 0;  // a run with no start in the log
    }
  }

  const std::vector<End>& ends() const { return ends_; }
  uint64_t lines() const { return lines_; }
  uint64_t heads() const { return heads_; }
  uint64_t started() const { return started_; }

 private:
  __attribute__((always_inline)) void Line(const char* line, size_t size, uint64_t offset) {
    ++lines_;
    // "2026-12-08T09:00:01+09:00 PC-101 3120 start: ..." (the time is at least 19 bytes)
    if (work_ == Work::kLines || size < 20) return;
    const char* end = line + size;
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
    if (work_ == Work::kHeads || end - event < 4) return;
    if (std::memcmp(event, "start:", 6) == 0) {
      runs_.Find(runKey, true)->value = offset;
      ++started_;
      return;
    }
    if (std::memcmp(event, "end:", 4) != 0) return;
    uint32_t nameSize = static_cast<uint32_t>(pid - 1 - name);
    End ended{computer, names_.size(), nameSize, End::kNoStart};
    names_.append(name, nameSize);
    Table::Slot* run = runs_.Find(runKey, false);
    if (run != nullptr) {
      ended.start = run->value;
      runs_.Erase(run);
    } else {
      orphans_.emplace_back(ends_.size(), runKey);
    }
    ends_.push_back(ended);
  }

  Work work_;
  std::string names_;  // the names of the ends_, one after another
  Table runs_;         // the runs under way: a run's key to its start's offset
  std::vector<End> ends_;
  std::vector<std::pair<size_t, uint64_t>> orphans_;  // ends_ without their start: at, run key
  uint64_t lines_ = 0, heads_ = 0, started_ = 0;
};

// A computer's row, with the first 16 bytes of its name beside it (big-endian, so that they
// compare as the bytes do), for the name to be read from the log only when they are equal.
struct Row {
  uint64_t high, low;
  const End* end;

  static Row Of(const End* end) {
    unsigned char bytes[16] = {};
    std::memcpy(bytes, end->Name(), std::min<uint32_t>(end->nameSize, 16));
    uint64_t high = 0, low = 0;
    for (int i = 0; i < 8; ++i) {
      high = high << 8 | bytes[i];
      low = low << 8 | bytes[8 + i];
    }
    return Row{high, low, end};
  }

  bool operator<(const Row& other) const {
    if (high != other.high) return high < other.high;
    if (low != other.low) return low < other.low;
    return std::string_view(end->Name(), end->nameSize) <
           std::string_view(other.end->Name(), other.end->nameSize);
  }
};

// One thread's share of the computers: those whose key falls to it, each with its last run.
class alignas(128) Computers {
 public:
  void Keep(const std::vector<Part*>& parts, size_t share, size_t shares) {
    constexpr size_t kAhead = 16;
    for (const Part* part : parts) {
      const std::vector<End>& ends = part->ends();
      for (size_t i = 0; i < ends.size(); ++i) {
        if (i + kAhead < ends.size() && Mine(ends[i + kAhead].computer, share, shares)) {
          last_.Prefetch(ends[i + kAhead].computer);
        }
        const End& end = ends[i];
        if (end.computer == 0 || !Mine(end.computer, share, shares)) continue;
        last_.Find(end.computer, true)->value = reinterpret_cast<uint64_t>(&end);
      }
    }
  }

  // The last runs in the order of the computers' names.
  void Sort() {
    rows_.reserve(last_.size());
    last_.Visit([&](const Table::Slot& slot) {
      rows_.push_back(Row::Of(reinterpret_cast<const End*>(slot.value)));
    });
    std::sort(rows_.begin(), rows_.end());
  }

  size_t size() const { return last_.size(); }
  const std::vector<Row>& rows() const { return rows_; }

 private:
  static bool Mine(uint64_t computer, size_t share, size_t shares) {
    return (computer >> 40) % shares == share;
  }

  Table last_;  // a computer's key to its last End
  std::vector<Row> rows_;
};

// "NAME START\n" for each of `rows`.
void Format(const Row* rows, size_t count, std::string* out) {
  out->reserve(count * 32);
  char digits[24];
  for (size_t i = 0; i < count; ++i) {
    out->append(rows[i].end->Name(), rows[i].end->nameSize);
    out->push_back(' ');
    char* at = digits + sizeof digits;
    uint64_t value = rows[i].end->start;
    do {
      *--at = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
    out->append(at, digits + sizeof digits - at);
    out->push_back('\n');
  }
}

// Runs `function(i)` for i in [0, count) on a thread each (the last on this one).
template <typename Function>
void OnThreads(size_t count, Function function) {
  std::vector<std::thread> threads;
  for (size_t i = 0; i + 1 < count; ++i) threads.emplace_back(function, i);
  function(count - 1);
  for (std::thread& thread : threads) thread.join();
}

}  // namespace

int main(int argc, char** argv) {
  static const char* const kWork[] = {"lines", "heads", "runs", "computers", "rows"};
  size_t threads = 1;
  if (argc == 5 && std::strcmp(argv[1], "-j") == 0) {
    threads = std::strtoul(argv[2], nullptr, 10);
    argc -= 2;
    argv += 2;
  }
  int chosen = -1;
  for (int i = 0; argc == 3 && threads >= 1 && threads <= 64 && i < 5; ++i) {
    if (std::strcmp(argv[1], kWork[i]) == 0) chosen = i;
  }
  if (chosen < 0) {
    std::fprintf(stderr, "usage: report_floor [-j THREADS] lines|heads|runs|computers|rows LOG\n");
    return 2;
  }
  if (!__builtin_cpu_supports("avx2")) {
    std::fprintf(stderr, "report_floor: needs a processor with AVX2\n");
    return 2;
  }
  auto started = std::chrono::steady_clock::now();
  int fd = open(argv[2], O_RDONLY | O_CLOEXEC);
  struct stat info;
  if (fd < 0 || fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    std::fprintf(stderr, "report_floor: cannot read %s\n", argv[2]);
    return 2;
  }
  uint64_t size = static_cast<uint64_t>(info.st_size);
  Work work = static_cast<Work>(chosen);
  std::string phases;  // how long each step took, for standard error
  auto step = [&](const char* name) {
    auto now = std::chrono::steady_clock::now();
    char text[64];
    std::snprintf(text, sizeof text, "%s%s %.3f s", phases.empty() ? "" : ", ", name,
                  std::chrono::duration<double>(now - started).count());
    phases += text;
    started = now;
  };

  // The parts, each from just after a line feed.
  std::vector<uint64_t> bounds{0};
  for (size_t i = 1; i < threads; ++i) {
    uint64_t at = std::max(bounds.back(), size / threads * i);
    char bytes[4096];
    for (ssize_t got; (got = pread(fd, bytes, sizeof bytes, at)) > 0; at += got) {
      const void* feed = std::memchr(bytes, '\n', got);
      if (feed == nullptr) continue;
      at += static_cast<const char*>(feed) - bytes + 1;
      break;
    }
    bounds.push_back(std::min(at, size));
  }
  bounds.push_back(size);
  std::vector<Part> parts(threads, Part(work));
  std::vector<int> failed(threads);
  OnThreads(threads, [&](size_t i) { failed[i] = parts[i].Scan(fd, bounds[i], bounds[i + 1]); });
  for (int error : failed) {
    if (error == 0) continue;
    std::fprintf(stderr, "report_floor: cannot read %s: %s\n", argv[2], std::strerror(error));
    return 2;
  }
  std::vector<Part*> done;
  step("scan");
  for (Part& part : parts) {
    part.Join(done);
    done.push_back(&part);
  }
  step("join");

  std::vector<Computers> computers(threads);
  if (work >= Work::kComputers) {
    OnThreads(threads, [&](size_t i) { computers[i].Keep(done, i, threads); });
    step("computers");
  }
  if (work == Work::kRows) {
    OnThreads(threads, [&](size_t i) { computers[i].Sort(); });
    step("sort");
  }
  if (work == Work::kRows) {
    std::vector<Row> rows;
    for (const Computers& share : computers) {
      size_t middle = rows.size();
      rows.insert(rows.end(), share.rows().begin(), share.rows().end());
      std::inplace_merge(rows.begin(), rows.begin() + middle, rows.end());
    }
    step("merge");
    std::vector<std::string> text(threads);
    OnThreads(threads, [&](size_t i) {
      size_t from = rows.size() / threads * i;
      size_t to = i + 1 == threads ? rows.size() : rows.size() / threads * (i + 1);
      Format(rows.data() + from, to - from, &text[i]);
    });
    for (const std::string& piece : text) std::fwrite(piece.data(), 1, piece.size(), stdout);
    std::fflush(stdout);
    step("rows");
  }

  uint64_t lines = 0, heads = 0, opened = 0, ended = 0, kept = 0;
  for (const Part& part : parts) {
    lines += part.lines();
    heads += part.heads();
    opened += part.started();
    for (const End& end : part.ends()) ended += end.computer != 0;
  }
  for (const Computers& share : computers) kept += share.size();
  std::fprintf(stderr,
               "%llu lines, %llu heads, %llu runs started, %llu ended, %llu computers\n%s\n",
               static_cast<unsigned long long>(lines), static_cast<unsigned long long>(heads),
               static_cast<unsigned long long>(opened), static_cast<unsigned long long>(ended),
               static_cast<unsigned long long>(kept), phases.c_str());
  return 0;
}
