#include "text/wide_text.h"

#include <cstring>

namespace kestario {

namespace {

const char16_t kEmpty[1] = {u'\0'};

}  // namespace

const char16_t* WideText::GetUnits() const {
  const uint8_t* data = block_.GetConstData();
  return data == nullptr ? kEmpty : reinterpret_cast<const char16_t*>(data);
}

uint32_t WideText::GetLength() const { return block_.GetSize() < 2 ? 0 : block_.GetSize() / 2 - 1; }

char16_t* WideText::Allocate(uint32_t count) {
  if (count >= UINT32_MAX / 2 || !block_.Allocate((count + 1) * 2)) {
    block_.Free();
    return nullptr;
  }
  return reinterpret_cast<char16_t*>(block_.GetData());
}

bool WideText::Assign(const char16_t* units, uint32_t count) {
  Clear();
  return Append(units, count);
}

bool WideText::Assign(const char16_t* text) { return Assign(text, WideLength(text)); }

// The new block is filled before the old one goes, so `units` may lie in this text.
bool WideText::Append(const char16_t* units, uint32_t count) {
  if (count == 0 || units == nullptr) return true;
  const uint32_t length = GetLength();
  if (count >= UINT32_MAX / 2 - length - 1) {
    Clear();
    return false;
  }
  ByteBuffer grown;
  if (!grown.Allocate((length + count + 1) * 2)) {
    Clear();
    return false;
  }
  char16_t* target = reinterpret_cast<char16_t*>(grown.GetData());
  if (length != 0) std::memcpy(target, GetUnits(), length * 2);
  std::memcpy(target + length, units, count * 2);
  block_.Swap(grown);
  return true;
}

bool WideText::Append(const char16_t* text) { return Append(text, WideLength(text)); }

bool WideText::Append(const WideText& other) { return Append(other.GetUnits(), other.GetLength()); }

void WideText::Clear() { block_.Free(); }

uint32_t WideLength(const char16_t* text) {
  if (text == nullptr) return 0;
  uint32_t length = 0;
  while (text[length] != u'\0') ++length;
  return length;
}

}  // namespace kestario
