// Where the lines of a block of a log end, and where a line written after a torn one may begin
// inside a line, found in one pass over the block (sixteen bytes at a time where the processor
// has SSE2) and kept as bitmaps, one bit per byte. The reader then walks from line to line by
// counting zero bits, instead of searching every line once more.
#ifndef KESTARIO_TOOLS_REPORT_LINE_MAP_H_
#define KESTARIO_TOOLS_REPORT_LINE_MAP_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestario {
namespace report {

class LineMap {
 public:
  // Maps `size` bytes at `data`; the map stays valid until the next call.
  void Build(const char* data, size_t size);

  // The offset of the first line feed or carriage return at or after `from`, or the block's size
  // when there is none.
  size_t NextNewline(size_t from) const {
    size_t word = from / 64;
    if (word >= newlines_.size()) return size_;
    uint64_t bits = newlines_[word] & (~uint64_t{0} << (from % 64));
    while (bits == 0) {
      if (++word == newlines_.size()) return size_;
      bits = newlines_[word];
    }
    return 64 * word + static_cast<size_t>(__builtin_ctzll(bits));
  }

  // The offset of the first byte in [from, to) that is a colon with another colon three bytes on
  // (as in "00:33:24", the time of a head), or `to` when there is none.
  size_t NextTimeColon(size_t from, size_t to) const {
    if (from + 3 >= to) return to;
    size_t last = to - 3;  // the colon three bytes on stands before `to`
    for (size_t word = from / 64; 64 * word < last; ++word) {
      uint64_t next = word + 1 < colons_.size() ? colons_[word + 1] : 0;
      // Bit i: a colon at i and at i + 3.
      uint64_t bits = colons_[word] & (colons_[word] >> 3 | next << 61);
      if (word == from / 64) bits &= ~uint64_t{0} << (from % 64);
      if (bits != 0) {
        size_t at = 64 * word + static_cast<size_t>(__builtin_ctzll(bits));
        return at < last ? at : to;
      }
    }
    return to;
  }

 private:
  size_t size_ = 0;
  std::vector<uint64_t> newlines_;
  std::vector<uint64_t> colons_;
};

}  // namespace report
}  // namespace kestario

#endif  // KESTARIO_TOOLS_REPORT_LINE_MAP_H_
