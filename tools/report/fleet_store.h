// How the reader keeps the computers of a fleet: a million of them in about a hundred bytes each.
// Each computer's last run is one fixed-size record; its texts (program, script, caption, user,
// error text, answer, details, last step) are numbers in a table that holds each distinct text
// once, as the log's bytes; a Run is made from a record, its texts decoded, only when a report
// asks for it.
#ifndef KESTARIO_TOOLS_REPORT_FLEET_STORE_H_
#define KESTARIO_TOOLS_REPORT_FLEET_STORE_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tools/report/fleet.h"

namespace kestario {
namespace report {

constexpr uint32_t kNoText = UINT32_MAX;

// Memory for the large arrays of a fleet (its records, its index, its names). A million
// computers' records are looked up in no order, so each lookup would miss the processor's table
// of pages as well as its caches: blocks of some megabytes are asked of the system on their own
// and marked for its large pages, where it has them (Linux), so that one entry covers 2 MB.
void* AllocateLarge(size_t bytes);
void FreeLarge(void* block, size_t bytes);

template <typename T>
struct LargeAllocator {
  using value_type = T;
  LargeAllocator() = default;
  template <typename U>
  LargeAllocator(const LargeAllocator<U>&) {}
  T* allocate(size_t count) { return static_cast<T*>(AllocateLarge(count * sizeof(T))); }
  void deallocate(T* block, size_t count) { FreeLarge(block, count * sizeof(T)); }
  template <typename U>
  bool operator==(const LargeAllocator<U>&) const {
    return true;
  }
  template <typename U>
  bool operator!=(const LargeAllocator<U>&) const {
    return false;
  }
};
template <typename T>
using LargeVector = std::vector<T, LargeAllocator<T>>;

// An open-addressing index (linear probing) from 32-bit hashes to numbers kept elsewhere; the
// caller tells apart the entries whose hashes are equal.
class HashIndex {
 public:
  template <typename Equal>
  uint32_t Find(uint32_t hash, Equal equal) const {
    if (cells_.empty()) return kNoText;
    for (size_t i = hash & mask_;; i = (i + 1) & mask_) {
      const Cell& cell = cells_[i];
      if (cell.value == kNoText) return kNoText;
      if (cell.hash == hash && equal(cell.value)) return cell.value;
    }
  }
  // Asks the processor to fetch the cell where a search for `hash` begins.
  void Prefetch(uint32_t hash) const {
    if (!cells_.empty()) __builtin_prefetch(&cells_[hash & mask_]);
  }
  // Calls `visit` with each value whose hash is `hash` (and perhaps others that share the cell).
  template <typename Visit>
  void Candidates(uint32_t hash, Visit visit) const {
    if (cells_.empty()) return;
    for (size_t i = hash & mask_; cells_[i].value != kNoText; i = (i + 1) & mask_) {
      if (cells_[i].hash == hash) visit(cells_[i].value);
    }
  }
  void Insert(uint32_t hash, uint32_t value);
  void Erase(uint32_t hash, uint32_t value);
  // Appends every value to `values`.
  void Values(std::vector<uint32_t>* values) const;
  void Clear();

 private:
  struct Cell {
    uint32_t hash = 0;
    uint32_t value = kNoText;
  };
  void Grow();

  LargeVector<Cell> cells_;
  size_t count_ = 0;
  size_t mask_ = 0;
};

// A hash of `bytes`, eight at a time.
uint32_t HashBytes(std::string_view bytes);

// Distinct texts, each kept once and named by a number.
class TextTable {
 public:
  // The number of `text`, added when it is new.
  uint32_t Add(std::string_view text);
  std::string_view View(uint32_t id) const {
    return std::string_view(bytes_.data() + starts_[id], starts_[id + 1] - starts_[id]);
  }

 private:
  std::string bytes_;
  std::vector<uint64_t> starts_{0};
  HashIndex index_;
  uint32_t lastId_ = kNoText;  // the last text added: runs of one script repeat their texts
};

// A time in eight bytes: its clock, offset and whether they are known.
int64_t PackTime(const LogTime& time);
LogTime UnpackTime(int64_t packed);

// The bits of ComputerRecord::flags.
enum RecordFlag : uint8_t {
  kHasStart = 1,
  kHasUser = 2,
  kHasMessageText = 4,
  kNameUtf8 = 8,    // the name is decoded as UTF-8 (else from code page 932)
  kStartUtf8 = 16,  // the same for the texts of the start line, the error line, the end line
  kErrorUtf8 = 32,  // and the last step
  kEndUtf8 = 64,
  kStepUtf8 = 128,
};

constexpr size_t kNameHead = 16;

// The first kNameHead bytes of `name` into `head`, zeros after a shorter one.
inline void TakeNameHead(std::string_view name, char* head) {
  std::memset(head, 0, kNameHead);
  std::memcpy(head, name.data(), name.size() < kNameHead ? name.size() : kNameHead);
}

// A computer and its last run.
struct ComputerRecord {
  uint64_t name = 0;  // in FleetData::names
  uint32_t nameSize = 0;
  // The name's first bytes (zeros after a shorter one): most names are told apart, and found
  // equal, without reading FleetData::names.
  char nameHead[kNameHead] = {};
  uint32_t program = kNoText, script = kNoText, caption = kNoText,
           user = kNoText;  // in FleetData::texts
  uint32_t error = kNoText, answer = kNoText, details = kNoText, step = kNoText;
  uint32_t log = 0;
  uint32_t runs = 0;    // all its runs
  int32_t message = 0;  // kFailed: the message that stopped it; kStopped: the signal, or 0
  uint8_t outcome = 0;
  uint8_t flags = 0;
  uint64_t pid = 0;
  int64_t first = 0, last = 0, end = 0;  // packed times
  uint64_t order = 0;
};

// What the reader keeps of every computer; reports made from it share it.
struct FleetData {
  // The computers' names as the logs hold them, back to back.
  std::basic_string<char, std::char_traits<char>, LargeAllocator<char>> names;
  TextTable texts;
  LargeVector<ComputerRecord> records;
  HashIndex index;  // a name's hash to its record

  // Whether `record` is that of the computer `name`, whose TakeNameHead is `head`.
  bool IsNamed(const ComputerRecord& record, std::string_view name, const char* head) const {
    return record.nameSize == name.size() && std::memcmp(record.nameHead, head, kNameHead) == 0 &&
           (name.size() <= kNameHead || Name(record) == name);
  }
  std::string_view Name(const ComputerRecord& record) const {
    return std::string_view(names.data() + record.name, record.nameSize);
  }
  std::string_view Text(uint32_t id) const {
    return id == kNoText ? std::string_view() : texts.View(id);
  }
};

// The line breaks of a box text, which the log writes as the two characters "\n" (and "\r"), as
// real ones; inside double quotes (paths and values) the text is left as it is.
void DecodeLineBreaks(std::string* text);

// The run that `record` keeps, its texts decoded. Its age and staleness are left to the caller.
Run MakeRun(const FleetData& data, const ComputerRecord& record);

}  // namespace report
}  // namespace kestario

#endif  // KESTARIO_TOOLS_REPORT_FLEET_STORE_H_
