// A growing byte text, NUL-terminated, that doubles its room as it grows (unlike ByteBuffer, whose
// block is always exact): for texts built by many small appends. Every append reports whether
// memory sufficed; a failed one leaves the text as it was.
#ifndef KESTARIO_TEXT_TEXT_BUILDER_H_
#define KESTARIO_TEXT_TEXT_BUILDER_H_

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "text/byte_buffer.h"

namespace kestario {

class TextBuilder {
 public:
  TextBuilder() = default;
  ~TextBuilder() { std::free(text_); }
  TextBuilder(const TextBuilder&) = delete;
  TextBuilder& operator=(const TextBuilder&) = delete;

  bool Append(const char* bytes, size_t count) {
    // No text passes kMaxBlockSize, the largest block a TextString may hold.
    if (count >= kMaxBlockSize - length_) {
      tooLong_ = true;
      return false;
    }
    if (count >= capacity_ - length_ || text_ == nullptr) {
      size_t capacity = capacity_ == 0 ? 64 : capacity_;
      while (count >= capacity - length_) {
        if (capacity > SIZE_MAX / 2) return false;
        capacity *= 2;
      }
      void* grown = std::realloc(text_, capacity);
      if (grown == nullptr) return false;
      text_ = static_cast<char*>(grown);
      capacity_ = capacity;
    }
    std::memcpy(text_ + length_, bytes, count);
    length_ += count;
    text_[length_] = '\0';
    return true;
  }
  void Clear() { length_ = 0; }
  const char* text() const { return text_ != nullptr ? text_ : ""; }
  // The bytes appended, the terminator left out.
  size_t length() const { return length_; }
  // Whether an append failed because the text would pass kMaxBlockSize.
  bool TooLong() const { return tooLong_; }

 private:
  bool tooLong_ = false;
  char* text_ = nullptr;
  size_t length_ = 0;
  size_t capacity_ = 0;
};

}  // namespace kestario

#endif  // KESTARIO_TEXT_TEXT_BUILDER_H_
