#include "text/text_string.h"

#include <cstdio>
#include <cstring>

#include "text/ascii.h"
#include "text/growable_array.h"

// Choices for inputs that no caller passes, all of them safe (nothing outside the block is read or
// written, and every loop ends):
// - A null text argument reads as the empty text.
// - A block without any NUL (possible only through the inherited byte operations) has the block
//   size as its length; the text operations then expect the caller to restore the terminator.
// - A string without storage (after a failed allocation, Free or Remove) reads as the empty text;
//   GetText then returns a static zero byte, reset on every call, that must not be written to.
// - Extract and ReplaceRange clip positions to [text, text + length]: `first` below the text is the
//   first character, `last` past the text is the last character. A `last` more than one character
//   before `first` is handled as `last` = `first` - 1: Extract gives the empty string and
//   ReplaceRange inserts before `first`.
// - Tokens and words: an empty separator gives 0 tokens and no span. A `first` still negative after
//   the count is added gives no span. A `last` below `first` gives no span, except with `first` 0,
//   where the scan stops at once and spans the first token or word; start-up's directory rule
//   relies on this: GetTokens(0, -2, "\\") of a name without a backslash is the whole name.
// - Blocks: an empty opening or closing text, or equal ones, give 0 blocks and no span; an index
//   still negative after the count is added, or `first` > `last`, gives no span.
// - Mid and MidChar need 0 <= first <= last < length, else the empty string. ReplaceMid and
//   ReplaceChar need 0 <= first <= length and first - 1 <= last < length, else no change.
// - ReplaceAll with an empty pattern changes nothing. With a replacement that contains the pattern
//   each original occurrence is replaced once, left to right. Otherwise the search restarts where
//   a new occurrence can first begin after each replacement, which finds what a restart at the
//   beginning would; as a last guard it stops after kMaxReplacements.
// - Format results longer than 1,023 bytes are cut there (vsnprintf); a formatting error gives the
//   empty text.
// - ToInt clamps numbers outside the signed 32-bit range to INT32_MIN or INT32_MAX.

namespace kestario {

namespace {

constexpr int64_t kMaxReplacements = 1 << 20;

char g_empty_text[1] = {'\0'};

const char* OrEmpty(const char* text) { return text == nullptr ? "" : text; }

int64_t Length(const char* text) { return static_cast<int64_t>(std::strlen(text)); }

bool EqualNoCase(const char* left, const char* right, int64_t count) {
  return AsciiEqualNoCase(left, right, static_cast<size_t>(count));
}

// The distance from `base` to `position` in bytes, computed on the addresses, so that positions
// from anywhere are safe to clip.
int64_t OffsetOf(const char* base, const char* position) {
  return static_cast<int64_t>(reinterpret_cast<uintptr_t>(position) -
                              reinterpret_cast<uintptr_t>(base));
}

// `base` + `offset` as an address; an offset of -1 (an empty span at the first character) is
// formed without pointer arithmetic outside the block.
const char* PositionAt(const char* base, int64_t offset) {
  return reinterpret_cast<const char*>(reinterpret_cast<uintptr_t>(base) +
                                       static_cast<uintptr_t>(offset));
}

// A new string holding `count` bytes from `source` (the empty string for count <= 0).
TextString MakeText(const char* source, int64_t count) {
  TextString result;
  if (count <= 0) return result;
  if (count >= static_cast<int64_t>(UINT32_MAX)) {
    result.Free();
    return result;
  }
  if (result.Allocate(static_cast<uint32_t>(count + 1))) {
    std::memcpy(result.GetData(), source, static_cast<size_t>(count));
  }
  return result;
}

// Clips a span [first, last] of offsets to a text of `length` bytes (see the notes at the top).
void ClipSpan(int64_t length, int64_t* first, int64_t* last) {
  if (*first < 0) *first = 0;
  if (*first > length) *first = length;
  if (*last > length - 1) *last = length - 1;
  if (*last < *first - 1) *last = *first - 1;
}

int64_t CountTokensIn(const char* text, const char* separator) {
  if (*text == '\0' || *separator == '\0') return 0;
  const size_t step = std::strlen(separator);
  int64_t count = 1;
  for (const char* hit = std::strstr(text, separator); hit != nullptr;
       hit = std::strstr(hit + step, separator)) {
    ++count;
  }
  return count;
}

// Whether the space at `space` ends a word, given the quoted state of the word it lies in.
bool EndsWord(const char* text, const char* space, bool quoted) {
  return !quoted || (space > text && space[-1] == '"');
}

int64_t CountWordsIn(const char* text) {
  if (*text == '\0') return 0;
  int64_t count = 1;
  bool quoted = text[0] == '"';
  for (const char* space = std::strchr(text, ' '); space != nullptr;
       space = std::strchr(space + 1, ' ')) {
    if (EndsWord(text, space, quoted)) {
      ++count;
      quoted = space[1] == '"';
    }
  }
  return count;
}

// Adds `count` once to negative indexes; false when no span can start (see the notes at the top).
bool ResolveIndexes(int64_t count, int64_t* first, int64_t* last) {
  if (*first < 0 || *last < 0) {
    if (count == 0) return false;
    if (*first < 0) *first += count;
    if (*last < 0) *last += count;
  }
  if (*first < 0) return false;
  return *first <= *last || *first == 0;
}

bool FindTokenSpan(const char* text, int64_t first, int64_t last, const char* separator,
                   int64_t* start, int64_t* end) {
  if (*separator == '\0') return false;
  if (!ResolveIndexes(CountTokensIn(text, separator), &first, &last)) return false;
  const size_t step = std::strlen(separator);
  bool has_start = first == 0;
  bool has_end = false;
  *start = 0;
  const char* scan = text;
  for (int64_t i = 0; scan != nullptr && i < last;) {
    const char* hit = std::strstr(scan, separator);
    if (hit == nullptr) {
      scan = nullptr;
      break;
    }
    scan = hit + step;
    ++i;
    if (!has_start && i >= first) {
      *start = scan - text;
      has_start = true;
    }
  }
  if (scan != nullptr) {
    const char* hit = std::strstr(scan, separator);
    if (hit != nullptr) {
      *end = hit - text - 1;
      has_end = true;
    }
  }
  if (!has_start) return false;
  if (!has_end) *end = Length(text) - 1;
  return true;
}

bool FindWordSpan(const char* text, int64_t first, int64_t last, int64_t* start, int64_t* end) {
  if (!ResolveIndexes(CountWordsIn(text), &first, &last)) return false;
  bool has_start = first == 0;
  bool has_end = false;
  *start = 0;
  const char* scan = text;
  bool quoted = text[0] == '"';
  for (int64_t i = 0; scan != nullptr && i < last;) {
    const char* space = std::strchr(scan, ' ');
    if (space == nullptr) {
      scan = nullptr;
      break;
    }
    if (EndsWord(text, space, quoted)) {
      ++i;
      quoted = space[1] == '"';
    }
    scan = space + 1;
    if (!has_start && i >= first) {
      *start = scan - text;
      has_start = true;
    }
  }
  if (scan != nullptr) {
    for (const char* space = std::strchr(scan, ' '); space != nullptr;
         space = std::strchr(space + 1, ' ')) {
      if (EndsWord(text, space, quoted)) {
        *end = space - text - 1;
        has_end = true;
        break;
      }
    }
  }
  if (!has_start) return false;
  if (!has_end) *end = Length(text) - 1;
  return true;
}

// One step of the block scan from `scan`.
enum class BlockStep { kEnd, kOpening, kClosing };

// The steps of one block scan, from the start of a text towards its end. The next occurrence of
// each delimiter is searched for again only once the scan has passed the one found before, and
// every search stops at the occurrence it finds, so a whole scan reads the text about twice
// instead of once per step: a long text full of one delimiter and without the other no longer
// takes time quadratic in its length.
class BlockScanner {
 public:
  BlockScanner(const char* text, const char* opening, const char* closing)
      : end_(text + std::strlen(text)), open_(opening), close_(closing) {}

  // The next step from `scan`, which never moves backwards between calls.
  BlockStep Next(const char* scan, const char** hit) {
    const char* open = Occurrence(scan, &open_);
    const char* close = Occurrence(scan, &close_);
    if (open != nullptr && close != nullptr && open < close) {
      *hit = open;
      return BlockStep::kOpening;
    }
    if (close != nullptr) {
      *hit = close;
      return BlockStep::kClosing;
    }
    return BlockStep::kEnd;
  }

  // Takes the next step from `*scan`: moves `*scan` past the delimiter met and `*depth` up by
  // one for an opening, down for a closing; `*hit` is where the delimiter begins. At the end,
  // nothing changes.
  BlockStep Take(const char** scan, int64_t* depth, const char** hit) {
    const BlockStep step = Next(*scan, hit);
    if (step == BlockStep::kOpening) {
      ++*depth;
      *scan = *hit + open_.length;
    } else if (step == BlockStep::kClosing) {
      --*depth;
      *scan = *hit + close_.length;
    }
    return step;
  }

 private:
  struct Delimiter {
    explicit Delimiter(const char* delimiter) : text(delimiter), length(std::strlen(delimiter)) {}
    const char* text;
    size_t length;
    bool searched = false;
    const char* at = nullptr;  // once searched, null: there is none further on
  };

  // The first occurrence at or after `scan`, as strstr finds it; the search looks no further
  // than that occurrence.
  const char* Find(const char* scan, const Delimiter& what) const {
    for (const char* p = scan; p < end_; ++p) {
      p = static_cast<const char*>(std::memchr(p, what.text[0], static_cast<size_t>(end_ - p)));
      if (p == nullptr) return nullptr;
      if (static_cast<size_t>(end_ - p) < what.length) return nullptr;
      if (std::memcmp(p, what.text, what.length) == 0) return p;
    }
    return nullptr;
  }

  const char* Occurrence(const char* scan, Delimiter* what) {
    if (!what->searched || (what->at != nullptr && what->at < scan)) {
      what->at = Find(scan, *what);
      what->searched = true;
    }
    return what->at;
  }

  const char* end_;
  Delimiter open_;
  Delimiter close_;
};

bool UsableDelimiters(const char* opening, const char* closing) {
  return *opening != '\0' && *closing != '\0' && std::strcmp(opening, closing) != 0;
}

int64_t CountBlocksIn(const char* text, const char* opening, const char* closing) {
  if (!UsableDelimiters(opening, closing)) return 0;
  int64_t count = 0;
  int64_t depth = 0;
  const char* scan = text;
  const char* hit = nullptr;
  BlockScanner scanner(text, opening, closing);
  for (BlockStep step; (step = scanner.Take(&scan, &depth, &hit)) != BlockStep::kEnd;) {
    if (step == BlockStep::kClosing && depth == 0) ++count;
  }
  return count;
}

bool FindBlockSpan(const char* text, int64_t first, int64_t last, const char* opening,
                   const char* closing, int64_t* start, int64_t* end) {
  if (!UsableDelimiters(opening, closing)) return false;
  if (first < 0 || last < 0) {
    const int64_t count = CountBlocksIn(text, opening, closing);
    if (count == 0) return false;
    if (first < 0) first += count;
    if (last < 0) last += count;
  }
  if (first < 0 || last < 0 || first > last) return false;
  const size_t open_length = std::strlen(opening);
  const size_t close_length = std::strlen(closing);
  bool has_start = false;
  bool has_end = false;
  int64_t opened = 0;
  int64_t depth = 0;
  const char* scan = text;
  const char* hit = nullptr;
  BlockScanner scanner(text, opening, closing);
  do {
    const BlockStep step = scanner.Take(&scan, &depth, &hit);
    if (step == BlockStep::kEnd) break;
    if (step == BlockStep::kOpening && depth == 1) ++opened;  // a top-level block
    if (!has_start && opened > first) {
      *start = scan - text;
      has_start = true;
    }
  } while (opened <= last);
  for (BlockStep step; (step = scanner.Take(&scan, &depth, &hit)) != BlockStep::kEnd;) {
    if (step == BlockStep::kClosing && depth == 0) {
      *end = hit - text - 1;
      has_end = true;
      break;
    }
  }
  if (!has_start) return false;
  *start -= static_cast<int64_t>(open_length);
  if (has_end) {
    *end += static_cast<int64_t>(close_length);
  } else {
    *end = Length(text) - 1;
  }
  return true;
}

}  // namespace

int CompareNoCase(const char* left, const char* right) {
  const unsigned char* a = reinterpret_cast<const unsigned char*>(OrEmpty(left));
  const unsigned char* b = reinterpret_cast<const unsigned char*>(OrEmpty(right));
  for (;; ++a, ++b) {
    const unsigned char x = AsciiLower(*a);
    const unsigned char y = AsciiLower(*b);
    if (x != y) return x < y ? -1 : 1;
    if (x == '\0') return 0;
  }
}

TextString::TextString() {
  Init();
  Assign("");
}

TextString::TextString(const char* text) {
  Init();
  Assign("");
  Assign(text);
}

TextString::TextString(const TextString& other) : ByteBuffer() {
  Init();
  Assign("");
  Assign(other);
}

TextString& TextString::operator=(const TextString& other) { return Assign(other); }

TextString::~TextString() { Free(); }

void TextString::Init() {}

bool TextString::SetText(const char* text) {
  text = OrEmpty(text);
  const size_t length = std::strlen(text);
  if (length >= UINT32_MAX) {
    Free();
    return false;
  }
  return SetBytes(text, static_cast<uint32_t>(length + 1));
}

// The joined text is built in a second block before this one changes, so `text` may lie in it.
bool TextString::AppendText(const char* text) {
  text = OrEmpty(text);
  const int64_t old_length = GetLength();
  const int64_t add_length = Length(text);
  const int64_t total = old_length + add_length + 1;
  ByteBuffer joined;
  if (total > static_cast<int64_t>(UINT32_MAX) || !joined.Allocate(static_cast<uint32_t>(total))) {
    Free();
    return false;
  }
  std::memcpy(joined.GetData(), GetConstText(), static_cast<size_t>(old_length));
  std::memcpy(joined.GetData() + old_length, text, static_cast<size_t>(add_length));
  return SetBytes(joined.GetConstData(), joined.GetSize());
}

void TextString::Compact() {
  const int64_t length = GetLength();
  if (length + 1 == static_cast<int64_t>(GetSize())) return;
  Assign(MakeText(GetConstText(), length));
}

const char* TextString::GetConstText() const {
  const uint8_t* data = GetConstData();
  return data == nullptr ? "" : reinterpret_cast<const char*>(data);
}

char* TextString::GetText() {
  uint8_t* data = GetData();
  if (data != nullptr) return reinterpret_cast<char*>(data);
  g_empty_text[0] = '\0';
  return g_empty_text;
}

TextString& TextString::Assign(const TextString& other) { return Assign(other.GetConstText()); }

TextString& TextString::Assign(const char* text) {
  SetText(text);
  return *this;
}

TextString& TextString::Append(const TextString& other) { return Append(other.GetConstText()); }

TextString& TextString::Append(const char* text) {
  AppendText(text);
  return *this;
}

TextString TextString::Concat(const TextString& other) const {
  return Concat(other.GetConstText());
}

TextString TextString::Concat(const char* text) const {
  TextString copy(*this);
  copy.Append(text);
  return copy;
}

bool TextString::IsEqualNoCase(const char* text) const {
  return CompareNoCase(GetConstText(), text) == 0;
}
bool TextString::IsNotEqualNoCase(const char* text) const {
  return CompareNoCase(GetConstText(), text) != 0;
}
bool TextString::IsGreaterOrEqualNoCase(const char* text) const {
  return CompareNoCase(GetConstText(), text) >= 0;
}
bool TextString::IsGreaterNoCase(const char* text) const {
  return CompareNoCase(GetConstText(), text) > 0;
}
bool TextString::IsLessOrEqualNoCase(const char* text) const {
  return CompareNoCase(GetConstText(), text) <= 0;
}
bool TextString::IsLessNoCase(const char* text) const {
  return CompareNoCase(GetConstText(), text) < 0;
}

// Never reads past the block: a block without a NUL has the block size as its length.
int32_t TextString::GetLength() const {
  const uint8_t* data = GetConstData();
  if (data == nullptr) return 0;
  const void* nul = std::memchr(data, '\0', GetSize());
  const int64_t length = nul == nullptr ? GetSize() : static_cast<const uint8_t*>(nul) - data;
  return length > INT32_MAX ? INT32_MAX : static_cast<int32_t>(length);
}

TextString TextString::Extract(const char* first, const char* last) const {
  const char* text = GetConstText();
  int64_t from = OffsetOf(text, first);
  int64_t to = OffsetOf(text, last);
  ClipSpan(GetLength(), &from, &to);
  return MakeText(text + from, to - from + 1);
}

// Head, `text` and tail are joined in a new block before this one changes, so `text` may lie in
// this string's own text.
void TextString::ReplaceRange(const char* first, const char* last, const char* text) {
  const char* own = GetConstText();
  const int64_t length = GetLength();
  int64_t from = OffsetOf(own, first);
  int64_t to = OffsetOf(own, last);
  ClipSpan(length, &from, &to);
  text = OrEmpty(text);
  const int64_t insert_length = Length(text);
  const int64_t tail_length = length - (to + 1);
  const int64_t total = from + insert_length + tail_length + 1;
  ByteBuffer joined;
  if (total > static_cast<int64_t>(UINT32_MAX) || !joined.Allocate(static_cast<uint32_t>(total))) {
    SetText("");
    return;
  }
  uint8_t* out = joined.GetData();
  std::memcpy(out, own, static_cast<size_t>(from));
  std::memcpy(out + from, text, static_cast<size_t>(insert_length));
  std::memcpy(out + from + insert_length, own + to + 1, static_cast<size_t>(tail_length));
  if (!SetBytes(joined.GetConstData(), joined.GetSize())) SetText("");
}

TextString TextString::MidChar(int32_t index) const { return Mid(index, index); }

TextString TextString::Mid(int32_t first, int32_t last) const {
  if (first < 0 || first > last || last >= GetLength()) return TextString();
  const char* text = GetConstText();
  return Extract(text + first, text + last);
}

void TextString::ReplaceChar(int32_t index, const char* text) { ReplaceMid(index, index, text); }

void TextString::ReplaceMid(int32_t first, int32_t last, const char* text) {
  const int64_t length = GetLength();
  if (first < 0 || first > length || static_cast<int64_t>(last) < static_cast<int64_t>(first) - 1 ||
      last >= length) {
    return;
  }
  const char* own = GetConstText();
  ReplaceRange(own + first, PositionAt(own, last), text);
}

int32_t TextString::CountWords() const {
  return static_cast<int32_t>(CountWordsIn(GetConstText()));
}

bool TextString::FindWords(int32_t first, int32_t last, const char** start,
                           const char** end) const {
  const char* text = GetConstText();
  int64_t from = 0;
  int64_t to = 0;
  if (!FindWordSpan(text, first, last, &from, &to)) return false;
  if (start != nullptr) *start = text + from;
  if (end != nullptr) *end = PositionAt(text, to);
  return true;
}

TextString TextString::GetWord(int32_t index) const { return GetWords(index, index); }

TextString TextString::GetWords(int32_t first, int32_t last) const {
  const char* text = GetConstText();
  int64_t from = 0;
  int64_t to = 0;
  if (!FindWordSpan(text, first, last, &from, &to)) return TextString();
  return MakeText(text + from, to - from + 1);
}

void TextString::ReplaceWord(int32_t index, const char* text) { ReplaceWords(index, index, text); }

void TextString::ReplaceWords(int32_t first, int32_t last, const char* text) {
  const char* start = nullptr;
  const char* end = nullptr;
  if (FindWords(first, last, &start, &end)) ReplaceRange(start, end, text);
}

int32_t TextString::CountTokens(const char* separator) const {
  return static_cast<int32_t>(CountTokensIn(GetConstText(), OrEmpty(separator)));
}

bool TextString::FindTokens(int32_t first, int32_t last, const char* separator, const char** start,
                            const char** end) const {
  const char* text = GetConstText();
  int64_t from = 0;
  int64_t to = 0;
  if (!FindTokenSpan(text, first, last, OrEmpty(separator), &from, &to)) return false;
  if (start != nullptr) *start = text + from;
  if (end != nullptr) *end = PositionAt(text, to);
  return true;
}

TextString TextString::GetToken(int32_t index, const char* separator) const {
  return GetTokens(index, index, separator);
}

TextString TextString::GetTokens(int32_t first, int32_t last, const char* separator) const {
  const char* text = GetConstText();
  int64_t from = 0;
  int64_t to = 0;
  if (!FindTokenSpan(text, first, last, OrEmpty(separator), &from, &to)) return TextString();
  return MakeText(text + from, to - from + 1);
}

void TextString::ReplaceToken(int32_t index, const char* separator, const char* text) {
  ReplaceTokens(index, index, separator, text);
}

void TextString::ReplaceTokens(int32_t first, int32_t last, const char* separator,
                               const char* text) {
  const char* start = nullptr;
  const char* end = nullptr;
  if (FindTokens(first, last, separator, &start, &end)) ReplaceRange(start, end, text);
}

int32_t TextString::CountBlocks(const char* opening, const char* closing) const {
  return static_cast<int32_t>(CountBlocksIn(GetConstText(), OrEmpty(opening), OrEmpty(closing)));
}

bool TextString::FindBlocks(int32_t first, int32_t last, const char* opening, const char* closing,
                            const char** start, const char** end) const {
  const char* text = GetConstText();
  int64_t from = 0;
  int64_t to = 0;
  if (!FindBlockSpan(text, first, last, OrEmpty(opening), OrEmpty(closing), &from, &to)) {
    return false;
  }
  if (start != nullptr) *start = text + from;
  if (end != nullptr) *end = PositionAt(text, to);
  return true;
}

TextString TextString::GetBlock(int32_t index, const char* opening, const char* closing) const {
  return GetBlocks(index, index, opening, closing);
}

TextString TextString::GetBlocks(int32_t first, int32_t last, const char* opening,
                                 const char* closing) const {
  const char* text = GetConstText();
  int64_t from = 0;
  int64_t to = 0;
  if (!FindBlockSpan(text, first, last, OrEmpty(opening), OrEmpty(closing), &from, &to)) {
    return TextString();
  }
  return MakeText(text + from, to - from + 1);
}

void TextString::ReplaceBlock(int32_t index, const char* opening, const char* closing,
                              const char* text) {
  ReplaceBlocks(index, index, opening, closing, text);
}

void TextString::ReplaceBlocks(int32_t first, int32_t last, const char* opening,
                               const char* closing, const char* text) {
  const char* start = nullptr;
  const char* end = nullptr;
  if (FindBlocks(first, last, opening, closing, &start, &end)) ReplaceRange(start, end, text);
}

void TextString::Trim(const char* text) { TrimEnds(text, text); }

void TextString::TrimEnds(const char* leading, const char* trailing) {
  leading = OrEmpty(leading);
  trailing = OrEmpty(trailing);
  const char* text = GetConstText();
  const int64_t length = GetLength();
  const int64_t lead_length = Length(leading);
  const int64_t trail_length = Length(trailing);
  int64_t start = 0;
  int64_t end = length - 1;
  if (lead_length != 0) {
    while (length - start >= lead_length && EqualNoCase(text + start, leading, lead_length)) {
      start += lead_length;
    }
  }
  if (trail_length != 0) {
    int64_t remaining = length - start;
    while (remaining >= trail_length &&
           EqualNoCase(text + end + 1 - trail_length, trailing, trail_length)) {
      end -= trail_length;
      remaining -= trail_length;
    }
  }
  if (start == 0 && end == length - 1) return;
  Assign(MakeText(text + start, end - start + 1));
}

TextString& TextString::Format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  FormatV(format, arguments);
  va_end(arguments);
  return *this;
}

// The result is formatted into a local buffer first, so the arguments may be this string's text.
TextString& TextString::FormatV(const char* format, va_list arguments) {
  char result[kFormatBufferSize] = {'\0'};
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  const int written = std::vsnprintf(result, sizeof(result), OrEmpty(format), arguments);
#pragma GCC diagnostic pop
  if (written < 0) result[0] = '\0';
  return Assign(result);
}

// A text lying in this string's own block is copied in one step, since clearing first would
// release it.
void TextString::ClearAndAppend(const char* text) {
  text = OrEmpty(text);
  const uint8_t* data = GetConstData();
  if (data != nullptr && OffsetOf(reinterpret_cast<const char*>(data), text) >= 0 &&
      OffsetOf(reinterpret_cast<const char*>(data), text) < static_cast<int64_t>(GetSize())) {
    SetText(text);
    return;
  }
  if (GetLength() != 0) Assign("");
  if (*text != '\0') Append(text);
}

int32_t TextString::ToInt() const {
  const char* p = GetConstText();
  while (*p == ' ' || (*p >= '\t' && *p <= '\r')) ++p;
  bool negative = false;
  if (*p == '+' || *p == '-') negative = *p++ == '-';
  if (*p < '0' || *p > '9') return 0;
  int64_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (value <= static_cast<int64_t>(INT32_MAX) + 1) value = value * 10 + (*p - '0');
  }
  if (negative)
    return value > static_cast<int64_t>(INT32_MAX) ? INT32_MIN : static_cast<int32_t>(-value);
  return value > INT32_MAX ? INT32_MAX : static_cast<int32_t>(value);
}

namespace {

// A text built in one go, in the program's growable array of bytes (from the text blocks'
// allocator, so that the tests' gate reaches it); every append keeps room for a terminator. Also
// used as a stack.
class Builder {
 public:
  bool Reserve(int64_t needed) {
    return needed <= static_cast<int64_t>(UINT32_MAX) &&
           bytes_.Reserve(static_cast<size_t>(needed));
  }
  bool Append(const char* bytes, int64_t count) {
    return Reserve(length() + count + 1) && bytes_.Append(bytes, static_cast<size_t>(count));
  }
  // Appends `count` bytes in reverse order.
  bool AppendReversed(const char* bytes, int64_t count) {
    if (!Reserve(length() + count + 1)) return false;
    for (int64_t i = count - 1; i >= 0; --i) bytes_.Append(bytes[i]);
    return true;
  }
  void Drop(int64_t count) { bytes_.SetCount(bytes_.count() - static_cast<size_t>(count)); }
  char Last() const { return bytes_.Last(); }
  const char* bytes() const { return bytes_.items(); }
  int64_t length() const { return static_cast<int64_t>(bytes_.count()); }

 private:
  GrowableArray<char, BlockMemory> bytes_{64};
};

// The first occurrence of `what` (`length` bytes, at least 1) in [from, end), or null.
const char* FindIn(const char* from, const char* end, const char* what, int64_t length) {
  for (const char* p = from; p < end; ++p) {
    p = static_cast<const char*>(std::memchr(p, what[0], static_cast<size_t>(end - p)));
    if (p == nullptr || end - p < length) return nullptr;
    if (std::memcmp(p, what, static_cast<size_t>(length)) == 0) return p;
  }
  return nullptr;
}

}  // namespace

// The rule: find the first occurrence from the search point, replace it, and search again from
// the first place where a new occurrence can begin (L - 1 bytes before the replacement, L the
// pattern's length, since the text before it is unchanged), or, when the replacement holds the
// pattern itself, from just after the replacement.
//
// The result is built in one go instead of in place. The text before the search point never
// changes again and goes to `out`; the bytes to search again after a replacement (the L - 1 before
// it and the replacement itself) are put on the stack `again`, whose top is the next byte, ahead
// of the rest of the original text. Each replacement thus costs its own length rather than a copy
// of the whole text, also when replacements keep forming new occurrences until the last guard.
void TextString::ReplaceAll(const char* pattern, const char* text) {
  const TextString own_pattern(pattern);
  const TextString own_text(text);
  if (own_pattern.GetLength() == 0 || own_text.GetLength() != Length(OrEmpty(text))) return;
  const char* what = own_pattern.GetConstText();
  const char* with = own_text.GetConstText();
  const int64_t what_length = own_pattern.GetLength();
  const int64_t with_length = own_text.GetLength();
  const bool restart = std::strstr(with, what) == nullptr;
  const char* rest = GetConstText();  // the original text not yet taken
  const char* rest_end = rest + GetLength();
  if (FindIn(rest, rest_end, what, what_length) == nullptr) return;

  Builder out;
  Builder again;
  bool built = out.Reserve(rest_end - rest + 1);
  for (int64_t done = 0; built;) {
    if (done == kMaxReplacements) {
      while (built && again.length() != 0) {
        const char c = again.Last();
        again.Drop(1);
        built = out.Append(&c, 1);
      }
      built = built && out.Append(rest, rest_end - rest);
      break;
    }
    if (again.length() != 0) {
      // Does the pattern begin at the top of the stack (running on into the rest)?
      const int64_t stacked = again.length();
      const int64_t from_stack = stacked < what_length ? stacked : what_length;
      bool match = rest_end - rest >= what_length - from_stack;
      for (int64_t i = 0; match && i < what_length; ++i) {
        const char c = i < from_stack ? again.bytes()[stacked - 1 - i] : rest[i - from_stack];
        match = c == what[i];
      }
      if (!match) {
        const char c = again.Last();
        again.Drop(1);
        built = out.Append(&c, 1);
        continue;
      }
      again.Drop(from_stack);
      rest += what_length - from_stack;
    } else {
      const char* hit = FindIn(rest, rest_end, what, what_length);
      if (hit == nullptr) {
        built = out.Append(rest, rest_end - rest);
        break;
      }
      built = out.Append(rest, hit - rest);
      rest = hit + what_length;
    }
    ++done;
    if (restart) {
      // Search again from L - 1 bytes before the replacement, the replacement included.
      const int64_t back = out.length() < what_length - 1 ? out.length() : what_length - 1;
      built = built && again.AppendReversed(with, with_length) &&
              again.AppendReversed(out.bytes() + out.length() - back, back);
      out.Drop(back);
    } else {
      built = built && out.Append(with, with_length);
    }
  }
  if (!built || !out.Append("", 1)) {
    SetText("");
    return;
  }
  SetText(out.bytes());
}

const char* TextString::Find(const char* text) const {
  return std::strstr(GetConstText(), OrEmpty(text));
}

}  // namespace kestario
