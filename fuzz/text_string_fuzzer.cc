// Fuzz target: TextString and ByteBuffer operations on arbitrary texts, separators, indexes and
// block delimiters. The input is decoded into a sequence of operations on two strings and one
// byte buffer; after every operation the string must still be one terminated text inside its
// block, and the operations that can be checked against a plain reading of their contract are
// (tokens and words rejoin into the text, a trimmed text is part of the original, ReplaceAll
// leaves no pattern behind, ToInt reads like strtoll, formatted texts stay within 1,023 bytes).
//
// The first byte may switch on allocation failures (every allocation whose number has its bit set
// in a fuzz-chosen mask fails); the contract checks are then skipped, the memory checks are not.
#include <fuzzer/FuzzedDataProvider.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/check.h"
#include "text/byte_buffer.h"
#include "text/text_string.h"

namespace kestario {
namespace {

constexpr int32_t kMaxText = 1 << 14;

uint64_t g_gateMask = 0;
uint64_t g_allocations = 0;

bool Gate(size_t /*size*/) { return ((g_gateMask >> (g_allocations++ % 64)) & 1u) == 0; }

// The string is one text ended by a NUL inside its block (or has no block at all).
void CheckTerminated(const TextString& s) {
  const uint8_t* data = s.GetConstData();
  if (data == nullptr) {
    FUZZ_CHECK(s.GetLength() == 0);
    FUZZ_CHECK(*s.GetConstText() == '\0');
    return;
  }
  FUZZ_CHECK(std::memchr(data, '\0', s.GetSize()) != nullptr);
  FUZZ_CHECK(static_cast<size_t>(s.GetLength()) == std::strlen(s.GetConstText()));
}

int32_t Index(FuzzedDataProvider& in) {
  const uint8_t k = in.ConsumeIntegral<uint8_t>();
  if (k < 0xF8) return static_cast<int32_t>(static_cast<int8_t>(k)) / 8;
  static constexpr int32_t kFar[] = {INT32_MIN, INT32_MAX,     -1000, 1000,
                                     65536,     INT32_MIN + 1, -2,    INT32_MAX - 1};
  return kFar[k - 0xF8];
}

std::string Text(FuzzedDataProvider& in) {
  static const char* const kCommon[] = {",", "\\", "/", ".",  "=", "\n", "<",   ">",
                                        "{", "}",  " ", "\"", "",  "::", "\\n", "ini"};
  const uint8_t k = in.ConsumeIntegral<uint8_t>();
  if (k < 128) return kCommon[k % 16];
  return in.ConsumeRandomLengthString(24).c_str();  // a C text ends at its first NUL
}

// A position inside (or just past) the text of `s`.
const char* Position(FuzzedDataProvider& in, const TextString& s) {
  const int32_t length = s.GetLength();
  const int32_t offset = in.ConsumeIntegralInRange<int32_t>(0, length + 1);
  return s.GetConstText() + (offset > length ? length : offset);
}

bool Contains(const std::string& haystack, const std::string& needle) {
  return haystack.find(needle) != std::string::npos;
}

int Sign(int value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

int32_t ReferenceToInt(const char* text) {
  const char* p = text;
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  if (*p == '+' || *p == '-') ++p;
  if (*p < '0' || *p > '9') return 0;
  errno = 0;
  long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX) return INT32_MAX;
  if (value < INT32_MIN) return INT32_MIN;
  return static_cast<int32_t>(value);
}

// ReplaceAll read plainly, in place: replace the first occurrence from the search point, then
// search again from L - 1 bytes before the replacement (L the pattern's length), or from just
// after it when the replacement holds the pattern.
void ReferenceReplaceAll(TextString* s, const std::string& pattern, const std::string& text) {
  if (pattern.empty()) return;
  const int64_t length = static_cast<int64_t>(pattern.size());
  const bool restart = !Contains(text, pattern);
  int64_t from = 0;
  for (int done = 0; done < (1 << 20); ++done) {
    const char* base = s->GetConstText();
    if (from > s->GetLength()) break;
    const char* hit = std::strstr(base + from, pattern.c_str());
    if (hit == nullptr) break;
    const int64_t at = hit - base;
    s->ReplaceRange(hit, hit + length - 1, text.c_str());
    from = restart ? (at - length + 1 < 0 ? 0 : at - length + 1)
                   : at + static_cast<int64_t>(text.size());
  }
}

void CheckTokens(const TextString& s, const std::string& separator) {
  const int32_t count = s.CountTokens(separator.c_str());
  const std::string text = s.GetConstText();
  if (text.empty() || separator.empty()) {
    FUZZ_CHECK(count == 0);
    return;
  }
  FUZZ_CHECK(count >= 1);
  FUZZ_CHECK(std::string(s.GetTokens(0, -1, separator.c_str()).GetConstText()) == text);
  FUZZ_CHECK(std::string(s.GetToken(count, separator.c_str()).GetConstText()).empty());
  FUZZ_CHECK(std::string(s.GetToken(-1, separator.c_str()).GetConstText()) ==
             s.GetToken(count - 1, separator.c_str()).GetConstText());
  if (count > 64) return;
  std::string joined;
  for (int32_t i = 0; i < count; ++i) {
    if (i > 0) joined += separator;
    joined += s.GetToken(i, separator.c_str()).GetConstText();
  }
  FUZZ_CHECK(joined == text);
}

void CheckWords(const TextString& s) {
  const int32_t count = s.CountWords();
  const std::string text = s.GetConstText();
  if (text.empty()) {
    FUZZ_CHECK(count == 0);
    return;
  }
  FUZZ_CHECK(std::string(s.GetWords(0, -1).GetConstText()) == text);
  if (count > 64) return;
  std::string joined;
  for (int32_t i = 0; i < count; ++i) {
    if (i > 0) joined += ' ';
    joined += s.GetWord(i).GetConstText();
  }
  FUZZ_CHECK(joined == text);
}

// The block count by the plain reading of the scan: at each step the next opening counts when it
// comes before the next closing; a closing that brings the depth back to 0 ends a block.
int32_t ReferenceCountBlocks(const char* text, const std::string& opening,
                             const std::string& closing) {
  if (opening.empty() || closing.empty() || opening == closing) return 0;
  int32_t count = 0;
  int64_t depth = 0;
  const char* scan = text;
  for (;;) {
    const char* open = std::strstr(scan, opening.c_str());
    const char* close = std::strstr(scan, closing.c_str());
    if (open != nullptr && close != nullptr && open < close) {
      ++depth;
      scan = open + opening.size();
    } else if (close != nullptr) {
      if (--depth == 0) ++count;
      scan = close + closing.size();
    } else {
      return count;
    }
  }
}

void CheckBlocks(const TextString& s, const std::string& opening, const std::string& closing) {
  const int32_t count = s.CountBlocks(opening.c_str(), closing.c_str());
  FUZZ_CHECK(count == ReferenceCountBlocks(s.GetConstText(), opening, closing));
  const std::string text = s.GetConstText();
  for (int32_t i = 0; i < count && i < 16; ++i) {
    const std::string block = s.GetBlock(i, opening.c_str(), closing.c_str()).GetConstText();
    FUZZ_CHECK(block.compare(0, opening.size(), opening) == 0);
    FUZZ_CHECK(Contains(text, block));
  }
}

void RunOperation(FuzzedDataProvider& in, TextString& s, TextString& t, ByteBuffer& b,
                  bool checks) {
  const uint8_t op = in.ConsumeIntegral<uint8_t>() % 26;
  switch (op) {
    case 0:
      s.SetText(Text(in).c_str());
      break;
    case 1:
      s.AppendText(Text(in).c_str());
      break;
    case 2: {
      const std::string before = s.GetConstText();
      if (in.ConsumeBool()) {
        s.Assign(s);
        if (checks) FUZZ_CHECK(before == s.GetConstText());
      } else {
        s.Append(s);
        if (checks) FUZZ_CHECK(before + before == s.GetConstText());
      }
      break;
    }
    case 3: {
      const std::string other = Text(in);
      TextString joined = s.Concat(other.c_str());
      CheckTerminated(joined);
      if (checks) FUZZ_CHECK(std::string(s.GetConstText()) + other == joined.GetConstText());
      t = s.Concat(t);
      break;
    }
    case 4: {
      const std::string other = Text(in);
      const int order = Sign(CompareNoCase(s.GetConstText(), other.c_str()));
      FUZZ_CHECK(order == -Sign(CompareNoCase(other.c_str(), s.GetConstText())));
      FUZZ_CHECK(s.IsEqualNoCase(other.c_str()) == (order == 0));
      FUZZ_CHECK(s.IsNotEqualNoCase(other.c_str()) == (order != 0));
      FUZZ_CHECK(s.IsGreaterOrEqualNoCase(other.c_str()) == (order >= 0));
      FUZZ_CHECK(s.IsGreaterNoCase(other.c_str()) == (order > 0));
      FUZZ_CHECK(s.IsLessOrEqualNoCase(other.c_str()) == (order <= 0));
      FUZZ_CHECK(s.IsLessNoCase(other.c_str()) == (order < 0));
      break;
    }
    case 5: {
      const char* first = Position(in, s);
      const char* last = Position(in, s);
      TextString part = s.Extract(first, last);
      CheckTerminated(part);
      if (checks) FUZZ_CHECK(Contains(s.GetConstText(), part.GetConstText()));
      break;
    }
    case 6: {
      const char* first = Position(in, s);
      const char* last = Position(in, s);
      s.ReplaceRange(first, last, Text(in).c_str());
      break;
    }
    case 7: {
      TextString part = in.ConsumeBool() ? s.MidChar(Index(in)) : s.Mid(Index(in), Index(in));
      CheckTerminated(part);
      if (checks) FUZZ_CHECK(Contains(s.GetConstText(), part.GetConstText()));
      break;
    }
    case 8:
      if (in.ConsumeBool()) {
        s.ReplaceChar(Index(in), Text(in).c_str());
      } else {
        const int32_t first = Index(in);
        s.ReplaceMid(first, Index(in), Text(in).c_str());
      }
      break;
    case 9: {
      const int32_t first = Index(in);
      const int32_t last = Index(in);
      const char* start = nullptr;
      const char* end = nullptr;
      if (s.FindWords(first, last, &start, &end)) {
        FUZZ_CHECK(start >= s.GetConstText() && start <= s.GetConstText() + s.GetLength());
        FUZZ_CHECK(end + 1 >= start && end < s.GetConstText() + s.GetLength());
      }
      CheckTerminated(s.GetWord(first));
      CheckTerminated(s.GetWords(first, last));
      if (checks) CheckWords(s);
      break;
    }
    case 10:
      if (in.ConsumeBool()) {
        s.ReplaceWord(Index(in), Text(in).c_str());
      } else {
        const int32_t first = Index(in);
        s.ReplaceWords(first, Index(in), Text(in).c_str());
      }
      break;
    case 11: {
      const std::string separator = Text(in);
      const int32_t first = Index(in);
      const int32_t last = Index(in);
      const char* start = nullptr;
      const char* end = nullptr;
      if (s.FindTokens(first, last, separator.c_str(), &start, &end)) {
        FUZZ_CHECK(start >= s.GetConstText() && start <= s.GetConstText() + s.GetLength());
        FUZZ_CHECK(end + 1 >= start && end < s.GetConstText() + s.GetLength());
      }
      CheckTerminated(s.GetToken(first, separator.c_str()));
      CheckTerminated(s.GetTokens(first, last, separator.c_str()));
      if (checks) CheckTokens(s, separator);
      break;
    }
    case 12: {
      const std::string separator = Text(in);
      if (in.ConsumeBool()) {
        s.ReplaceToken(Index(in), separator.c_str(), Text(in).c_str());
      } else {
        const int32_t first = Index(in);
        s.ReplaceTokens(first, Index(in), separator.c_str(), Text(in).c_str());
      }
      break;
    }
    case 13: {
      const std::string opening = Text(in);
      const std::string closing = Text(in);
      const int32_t first = Index(in);
      const int32_t last = Index(in);
      const char* start = nullptr;
      const char* end = nullptr;
      if (s.FindBlocks(first, last, opening.c_str(), closing.c_str(), &start, &end)) {
        FUZZ_CHECK(start >= s.GetConstText() && start <= s.GetConstText() + s.GetLength());
        FUZZ_CHECK(end + 1 >= start && end < s.GetConstText() + s.GetLength());
      }
      CheckTerminated(s.GetBlocks(first, last, opening.c_str(), closing.c_str()));
      if (checks) CheckBlocks(s, opening, closing);
      break;
    }
    case 14: {
      const std::string opening = Text(in);
      const std::string closing = Text(in);
      const int32_t first = Index(in);
      const int32_t last = in.ConsumeBool() ? first : Index(in);
      s.ReplaceBlocks(first, last, opening.c_str(), closing.c_str(), Text(in).c_str());
      break;
    }
    case 15: {
      const std::string before = s.GetConstText();
      if (in.ConsumeBool()) {
        s.Trim(Text(in).c_str());
      } else {
        const std::string leading = Text(in);
        s.TrimEnds(leading.c_str(), Text(in).c_str());
      }
      if (checks) FUZZ_CHECK(Contains(before, s.GetConstText()));
      break;
    }
    case 16:
      FUZZ_CHECK(s.ToInt() == ReferenceToInt(s.GetConstText()));
      break;
    case 17: {
      const std::string pattern = Text(in);
      const std::string replacement = Text(in);
      TextString reference(s);
      s.ReplaceAll(pattern.c_str(), replacement.c_str());
      // The in-place reference copies the text at every replacement: only for short results.
      if (checks && s.GetLength() <= kMaxText) {
        ReferenceReplaceAll(&reference, pattern, replacement);
        FUZZ_CHECK(std::strcmp(s.GetConstText(), reference.GetConstText()) == 0);
        if (!pattern.empty() && !Contains(replacement, pattern)) {
          FUZZ_CHECK(s.Find(pattern.c_str()) == nullptr);
        }
      }
      break;
    }
    case 18: {
      const std::string needle = Text(in);
      const char* found = s.Find(needle.c_str());
      if (found != nullptr) {
        FUZZ_CHECK(found >= s.GetConstText() && found <= s.GetConstText() + s.GetLength());
      }
      break;
    }
    case 19: {
      const std::string first = in.ConsumeRandomLengthString(2048);
      const std::string second = Text(in);
      t.Format("%s|%s", first.c_str(), second.c_str());
      FUZZ_CHECK(t.GetLength() <= kFormatBufferSize - 1);
      // Formatting this string's own text into itself.
      s.Format("%s", s.GetConstText());
      break;
    }
    case 20: {
      const uint32_t size = in.ConsumeIntegralInRange<uint32_t>(1, 300);
      if (s.Allocate(size)) {
        FUZZ_CHECK(s.GetLength() == 0);
        const std::string text = in.ConsumeRandomLengthString(size == 0 ? 0 : size - 1);
        if (size != 0) std::memcpy(s.GetText(), text.data(), std::strlen(text.c_str()));
        s.Compact();
        if (checks) {
          FUZZ_CHECK(std::strcmp(s.GetConstText(), text.c_str()) == 0);
          FUZZ_CHECK(s.GetSize() == static_cast<uint32_t>(s.GetLength()) + 1);
        }
      }
      break;
    }
    case 21:
      if (in.ConsumeBool() && s.GetLength() > 0) {
        s.ClearAndAppend(Position(in, s));  // a text inside the string itself
      } else {
        s.ClearAndAppend(Text(in).c_str());
      }
      break;
    case 22: {
      const std::string bytes = in.ConsumeRandomLengthString(64);
      switch (in.ConsumeIntegral<uint8_t>() % 8) {
        case 0:
          b.SetBytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
          break;
        case 1:
          b.AppendBytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
          break;
        case 2:
          b.AppendBuffer(b);
          break;
        case 3: {
          ByteBuffer part =
              b.SubBuffer(in.ConsumeIntegral<uint32_t>() % 80, in.ConsumeIntegral<uint32_t>());
          FUZZ_CHECK(part.GetSize() <= b.GetSize());
          break;
        }
        case 4:
          b.Remove(in.ConsumeIntegral<uint32_t>() % 80, in.ConsumeIntegral<uint32_t>());
          break;
        case 5: {
          ByteBuffer other;
          other.SetBytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
          const bool equal = b.IsEqual(other);
          FUZZ_CHECK(equal == !b.IsNotEqual(other));
          FUZZ_CHECK(b.IsLess(other) == !b.IsGreaterOrEqual(other));
          FUZZ_CHECK(b.IsGreater(other) == !b.IsLessOrEqual(other));
          ByteBuffer joined = b.ConcatBuffer(other);
          if (checks) FUZZ_CHECK(joined.GetSize() == b.GetSize() + other.GetSize());
          break;
        }
        case 6:
          b.AssignBuffer(b);
          break;
        default:
          if (b.Allocate(in.ConsumeIntegralInRange<uint32_t>(0, 128))) {
            for (uint32_t i = 0; i < b.GetSize(); ++i) FUZZ_CHECK(b.GetConstData()[i] == 0);
          }
          break;
      }
      break;
    }
    case 23: {
      TextString copy(s);
      s = t;
      t = copy;
      break;
    }
    case 24: {
      const TextString copy(s);
      CheckTerminated(copy);
      if (checks) FUZZ_CHECK(std::strcmp(copy.GetConstText(), s.GetConstText()) == 0);
      break;
    }
    default:
      s.Compact();
      break;
  }
}

}  // namespace
}  // namespace kestario

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using kestario::TextString;
  FuzzedDataProvider in(data, size);
  const bool failAllocations = (in.ConsumeIntegral<uint8_t>() & 0x80) != 0;
  kestario::g_gateMask = failAllocations ? in.ConsumeIntegral<uint64_t>() : 0;
  kestario::g_allocations = 0;
  {
    TextString s(in.ConsumeRandomLengthString(256).c_str());
    TextString t;
    kestario::ByteBuffer b;
    if (failAllocations) kestario::SetAllocationGate(&kestario::Gate);
    for (int steps = 0; steps < 64 && in.remaining_bytes() > 0; ++steps) {
      kestario::RunOperation(in, s, t, b, !failAllocations);
      kestario::CheckTerminated(s);
      kestario::CheckTerminated(t);
      if (s.GetLength() > kestario::kMaxText) s.SetText("");
      if (t.GetLength() > kestario::kMaxText) t.SetText("");
    }
    kestario::SetAllocationGate(nullptr);
  }
  return 0;
}
