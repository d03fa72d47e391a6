// A UTF-16 text in a block that the text owns: the form in which the program's own texts (the
// message catalog, the default caption) meet the script's texts and reach the screen.
//
// The units are char16_t; the block holds them and a terminating 0 unit, and an empty text has no
// block at all. Allocation failure leaves the text empty and is a false (or null) result.
#ifndef KESTARIO_TEXT_WIDE_TEXT_H_
#define KESTARIO_TEXT_WIDE_TEXT_H_

#include <cstdint>

#include "text/byte_buffer.h"

namespace kestario {

class WideText {
 public:
  // The units, 0-terminated; an empty text gives an empty text, never null.
  const char16_t* GetUnits() const;
  // The number of units, the terminator left out.
  uint32_t GetLength() const;

  // Makes the text `count` 0 units long and returns them, to be written; null when memory runs out.
  char16_t* Allocate(uint32_t count);
  bool Assign(const char16_t* units, uint32_t count);
  bool Assign(const char16_t* text);
  bool Append(const char16_t* units, uint32_t count);
  bool Append(const char16_t* text);
  bool Append(const WideText& other);
  void Clear();

 private:
  ByteBuffer block_;
};

// The number of units before the terminating 0 unit.
uint32_t WideLength(const char16_t* text);

}  // namespace kestario

#endif  // KESTARIO_TEXT_WIDE_TEXT_H_
