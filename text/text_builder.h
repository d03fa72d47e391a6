// A growing byte text, NUL-terminated, that doubles its room as it grows (unlike ByteBuffer, whose
// block is always exact): for texts built by many small appends. It is the program's growable
// array of bytes (text/growable_array.h) with a terminator kept after the bytes and the size
// limit of a text block. Every append reports whether memory sufficed; a failed one leaves the
// text as it was.
#ifndef KESTARIO_TEXT_TEXT_BUILDER_H_
#define KESTARIO_TEXT_TEXT_BUILDER_H_

#include <cstddef>
#include <cstring>

#include "text/byte_buffer.h"
#include "text/growable_array.h"

namespace kestario {

class TextBuilder {
 public:
  TextBuilder() : bytes_(64) {}

  bool Append(const char* bytes, size_t count) {
    // No text passes kMaxBlockSize, the largest block a TextString may hold.
    if (count >= kMaxBlockSize - length()) {
      tooLong_ = true;
      return false;
    }
    if (!bytes_.Reserve(bytes_.count() + count + 1)) return false;
    bytes_.Append(bytes, count);
    bytes_.items()[bytes_.count()] = '\0';
    return true;
  }
  void Clear() { bytes_.Clear(); }
  const char* text() const { return bytes_.items() != nullptr ? bytes_.items() : ""; }
  // The bytes appended, the terminator left out.
  size_t length() const { return bytes_.count(); }
  // Whether an append failed because the text would pass kMaxBlockSize.
  bool TooLong() const { return tooLong_; }

 private:
  bool tooLong_ = false;
  GrowableArray<char> bytes_;
};

}  // namespace kestario

#endif  // KESTARIO_TEXT_TEXT_BUILDER_H_
