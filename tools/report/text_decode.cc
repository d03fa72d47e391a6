#include "tools/report/text_decode.h"

#include <cstdint>
#include <cstring>

namespace kestario {
namespace report {
namespace {

#include "tools/report/cp932_table.inc"

constexpr uint32_t kReplacement = 0xFFFD;

// The lead index of a Shift-JIS lead byte (see cp932_table.inc).
unsigned LeadIndex(unsigned char lead) { return lead < 0xE0 ? lead - 0x81u : lead - 0xE0u + 31u; }

// The length of the well-formed UTF-8 sequence at `p` (at most `left` bytes), 0 when there is none.
size_t SequenceLength(const unsigned char* p, size_t left) {
  unsigned char c = p[0];
  if (c < 0x80) return 1;
  auto trail = [&](size_t i) { return i < left && (p[i] & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) return trail(1) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (!trail(1) || !trail(2)) return 0;
    if (c == 0xE0 && p[1] < 0xA0) return 0;   // overlong
    if (c == 0xED && p[1] >= 0xA0) return 0;  // a surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (!trail(1) || !trail(2) || !trail(3)) return 0;
    if (c == 0xF0 && p[1] < 0x90) return 0;   // overlong
    if (c == 0xF4 && p[1] >= 0x90) return 0;  // past U+10FFFF
    return 4;
  }
  return 0;
}

bool IsWide(uint32_t c) {
  return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
         (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
         (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
         (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
         (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
         (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
         (c >= 0x20000 && c <= 0x3FFFD);
}

bool IsCombining(uint32_t c) {
  return (c >= 0x0300 && c <= 0x036F) || (c >= 0x3099 && c <= 0x309A) ||
         (c >= 0xFE00 && c <= 0xFE0F) || c == 0x200B || c == 0x200D;
}

}  // namespace

bool IsValidUtf8(std::string_view bytes) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t left = bytes.size();
  while (left != 0) {
    // Plain ASCII eight bytes at a time.
    if (left >= 8) {
      uint64_t word;
      std::memcpy(&word, p, 8);
      if ((word & 0x8080808080808080ull) == 0) {
        p += 8;
        left -= 8;
        continue;
      }
    }
    size_t length = SequenceLength(p, left);
    if (length == 0) return false;
    p += length;
    left -= length;
  }
  return true;
}

void AppendCodePoint(uint32_t code, std::string* out) {
  if (code < 0x80) {
    out->push_back(static_cast<char>(code));
  } else if (code < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (code >> 6)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else if (code < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (code >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (code >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (code & 0x3F)));
  }
}

void AppendDecoded(std::string_view bytes, bool utf8, std::string* out) {
  if (utf8) {
    out->append(bytes.data(), bytes.size());
    return;
  }
  const unsigned char* p = reinterpret_cast<const unsigned char*>(bytes.data());
  size_t size = bytes.size();
  for (size_t i = 0; i < size;) {
    uint16_t single = kCp932Single[p[i]];
    if (single != kCp932Lead) {
      AppendCodePoint(single == kCp932NoCharacter ? kReplacement : single, out);
      ++i;
      continue;
    }
    uint16_t pair = kCp932NoCharacter;
    if (i + 1 < size && p[i + 1] >= kCp932FirstTrail && p[i + 1] <= kCp932LastTrail) {
      pair = kCp932Pairs[LeadIndex(p[i]) * kCp932TrailCount + (p[i + 1] - kCp932FirstTrail)];
    }
    if (pair == kCp932NoCharacter) {
      // A lead byte without a fitting second byte: that byte alone is no character; what follows
      // it is read afresh.
      AppendCodePoint(kReplacement, out);
      ++i;
    } else {
      AppendCodePoint(pair, out);
      i += 2;
    }
  }
}

std::string Decoded(std::string_view bytes) {
  std::string out;
  AppendDecoded(bytes, IsValidUtf8(bytes), &out);
  return out;
}

uint32_t NextCodePoint(std::string_view text, size_t* at) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data()) + *at;
  size_t length = SequenceLength(p, text.size() - *at);
  if (length == 0) {
    ++*at;
    return kReplacement;
  }
  *at += length;
  switch (length) {
    case 1:
      return p[0];
    case 2:
      return (p[0] & 0x1Fu) << 6 | (p[1] & 0x3Fu);
    case 3:
      return (p[0] & 0x0Fu) << 12 | (p[1] & 0x3Fu) << 6 | (p[2] & 0x3Fu);
    default:
      return (p[0] & 0x07u) << 18 | (p[1] & 0x3Fu) << 12 | (p[2] & 0x3Fu) << 6 | (p[3] & 0x3Fu);
  }
}

size_t DisplayWidth(std::string_view text) {
  size_t ascii = 0;  // printable ASCII, one column each: most names and paths
  while (ascii < text.size() && text[ascii] >= 0x20 && text[ascii] < 0x7F) ++ascii;
  if (ascii == text.size()) return ascii;
  size_t width = 0;
  for (size_t at = 0; at < text.size();) {
    uint32_t c = NextCodePoint(text, &at);
    width += IsWide(c) ? 2 : IsCombining(c) ? 0 : 1;
  }
  return width;
}

}  // namespace report
}  // namespace kestario
