#include "tools/report/line_map.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kestario {
namespace report {
namespace {

// The bits of the bytes that end lines ('\n' and '\r') and of those equal to ':' among the 64 at
// `p`.
void MapChunk(const char* p, uint64_t* newlines, uint64_t* colons) {
#if defined(__SSE2__)
  const __m128i newline = _mm_set1_epi8('\n');
  const __m128i carriageReturn = _mm_set1_epi8('\r');
  const __m128i colon = _mm_set1_epi8(':');
  uint64_t n = 0, c = 0;
  for (int i = 0; i < 4; ++i) {
    __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
    n |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(
             _mm_or_si128(_mm_cmpeq_epi8(bytes, newline), _mm_cmpeq_epi8(bytes, carriageReturn)))))
         << (16 * i);
    c |= static_cast<uint64_t>(
             static_cast<uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, colon))))
         << (16 * i);
  }
  *newlines = n;
  *colons = c;
#else
  uint64_t n = 0, c = 0;
  for (int i = 0; i < 64; ++i) {
    n |= static_cast<uint64_t>(p[i] == '\n' || p[i] == '\r') << i;
    c |= static_cast<uint64_t>(p[i] == ':') << i;
  }
  *newlines = n;
  *colons = c;
#endif
}

}  // namespace

void LineMap::Build(const char* data, size_t size) {
  size_ = size;
  size_t words = (size + 63) / 64;
  newlines_.resize(words);
  colons_.resize(words);
  size_t whole = size / 64;
  for (size_t i = 0; i < whole; ++i) MapChunk(data + 64 * i, &newlines_[i], &colons_[i]);
  if (whole != words) {
    char last[64] = {};
    std::memcpy(last, data + 64 * whole, size - 64 * whole);
    MapChunk(last, &newlines_[whole], &colons_[whole]);
  }
}

}  // namespace report
}  // namespace kestario
