#include "platform/sha256.h"

#include <cstring>

namespace kestario {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool operator==(const Sha256Digest& a, const Sha256Digest& b) {
  return memcmp(a.bytes, b.bytes, kSha256Size) == 0;
}

bool ParseSha256Hex(const char* text, size_t length, Sha256Digest* digest) {
  if (text == nullptr || length != kSha256HexLength) return false;
  Sha256Digest parsed;
  for (size_t i = 0; i < kSha256Size; ++i) {
    int high = HexValue(text[2 * i]);
    int low = HexValue(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    parsed.bytes[i] = static_cast<uint8_t>(high * 16 + low);
  }
  *digest = parsed;
  return true;
}

void FormatSha256Hex(const Sha256Digest& digest, char text[kSha256HexLength + 1]) {
  static const char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < kSha256Size; ++i) {
    text[2 * i] = kDigits[digest.bytes[i] >> 4];
    text[2 * i + 1] = kDigits[digest.bytes[i] & 0x0F];
  }
  text[kSha256HexLength] = '\0';
}

}  // namespace kestario
