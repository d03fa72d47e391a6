#include "platform/utf8_posix.h"

namespace kestario {
namespace {

// The length of the valid UTF-8 sequence at `text` (at most `left` bytes), and its scalar value;
// 0 when the bytes there are not one.
uint32_t ValidSequence(const unsigned char* text, uint32_t left, uint32_t* value) {
  const unsigned char lead = text[0];
  if (lead < 0x80) {
    *value = lead;
    return 1;
  }
  uint32_t length;
  unsigned char low = 0x80;
  unsigned char high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    *value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    *value = lead & 0x0Fu;
    if (lead == 0xE0) low = 0xA0;   // no overlong form
    if (lead == 0xED) high = 0x9F;  // no surrogate
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    *value = lead & 0x07u;
    if (lead == 0xF0) low = 0x90;   // no overlong form
    if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  } else {
    return 0;
  }
  if (length > left) return 0;
  for (uint32_t i = 1; i < length; ++i) {
    const unsigned char next = text[i];
    if (next < (i == 1 ? low : 0x80) || next > (i == 1 ? high : 0xBF)) return 0;
    *value = (*value << 6) | (next & 0x3Fu);
  }
  return length;
}

// Walks the text once to count the units (`out` null), once more to write them.
bool DecodeInto(const unsigned char* text, uint32_t size, InvalidUtf8 invalid, char16_t* out,
                uint32_t* units) {
  uint32_t count = 0;
  for (uint32_t at = 0; at < size;) {
    uint32_t value = 0;
    uint32_t length = ValidSequence(text + at, size - at, &value);
    if (length == 0) {
      if (invalid == InvalidUtf8::kFail) return false;
      value = invalid == InvalidUtf8::kKeepByte ? 0xDC00u + text[at] : 0xFFFDu;
      length = 1;
    }
    at += length;
    if (value >= 0x10000) {
      if (out != nullptr) {
        out[count] = static_cast<char16_t>(0xD800u + ((value - 0x10000) >> 10));
        out[count + 1] = static_cast<char16_t>(0xDC00u + ((value - 0x10000) & 0x3FFu));
      }
      count += 2;
    } else {
      if (out != nullptr) out[count] = static_cast<char16_t>(value);
      ++count;
    }
  }
  *units = count;
  return true;
}

// The bytes of the character at `text` into `out` (when not null); returns how many units it
// took and sets `*length` to its bytes.
uint32_t EncodeOne(const char16_t* text, uint32_t left, LoneSurrogate lone, unsigned char* out,
                   uint32_t* length) {
  uint32_t value = text[0];
  uint32_t taken = 1;
  if (value >= 0xD800 && value <= 0xDBFF && left > 1 && text[1] >= 0xDC00 && text[1] <= 0xDFFF) {
    value = 0x10000 + ((value - 0xD800) << 10) + (text[1] - 0xDC00u);
    taken = 2;
  } else if (value >= 0xD800 && value <= 0xDFFF) {
    if (lone == LoneSurrogate::kReplace) {
      value = 0xFFFD;
    } else {
      *length = 1;
      if (out != nullptr) {
        out[0] = value >= 0xDC80 && value <= 0xDCFF ? static_cast<unsigned char>(value - 0xDC00)
                                                    : static_cast<unsigned char>('?');
      }
      return 1;
    }
  }
  unsigned char bytes[4];
  if (value < 0x80) {
    bytes[0] = static_cast<unsigned char>(value);
    *length = 1;
  } else if (value < 0x800) {
    bytes[0] = static_cast<unsigned char>(0xC0 | (value >> 6));
    bytes[1] = static_cast<unsigned char>(0x80 | (value & 0x3F));
    *length = 2;
  } else if (value < 0x10000) {
    bytes[0] = static_cast<unsigned char>(0xE0 | (value >> 12));
    bytes[1] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
    bytes[2] = static_cast<unsigned char>(0x80 | (value & 0x3F));
    *length = 3;
  } else {
    bytes[0] = static_cast<unsigned char>(0xF0 | (value >> 18));
    bytes[1] = static_cast<unsigned char>(0x80 | ((value >> 12) & 0x3F));
    bytes[2] = static_cast<unsigned char>(0x80 | ((value >> 6) & 0x3F));
    bytes[3] = static_cast<unsigned char>(0x80 | (value & 0x3F));
    *length = 4;
  }
  if (out != nullptr) {
    for (uint32_t i = 0; i < *length; ++i) out[i] = bytes[i];
  }
  return taken;
}

}  // namespace

bool Utf8ToUtf16(const char* text, uint32_t size, InvalidUtf8 invalid, WideText* wide) {
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  uint32_t units = 0;
  if (text == nullptr) size = 0;
  if (!DecodeInto(bytes, size, invalid, nullptr, &units)) {
    wide->Clear();
    return false;
  }
  if (units == 0) {
    wide->Clear();
    return true;
  }
  char16_t* out = wide->Allocate(units);
  return out != nullptr && DecodeInto(bytes, size, invalid, out, &units);
}

bool Utf16ToUtf8(const char16_t* text, uint32_t size, LoneSurrogate lone, TextString* bytes) {
  if (text == nullptr) size = 0;
  uint64_t total = 0;
  for (uint32_t at = 0; at < size;) {
    uint32_t length = 0;
    at += EncodeOne(text + at, size - at, lone, nullptr, &length);
    total += length;
  }
  if (total >= UINT32_MAX || !bytes->Allocate(static_cast<uint32_t>(total + 1))) {
    bytes->SetText("");
    return false;
  }
  unsigned char* out = reinterpret_cast<unsigned char*>(bytes->GetText());
  for (uint32_t at = 0; at < size;) {
    uint32_t length = 0;
    at += EncodeOne(text + at, size - at, lone, out, &length);
    out += length;
  }
  *out = '\0';
  return true;
}

}  // namespace kestario
