// ASCII case: the program compares names (sections, MODE words, symbols, keys) without regard to
// the case of the letters A to Z only. Every other byte, the second byte of a Shift-JIS character
// and UTF-8 included, stays as it is, so these never depend on a locale or a code page.
#ifndef KESTARIO_TEXT_ASCII_H_
#define KESTARIO_TEXT_ASCII_H_

#include <cstddef>

namespace kestario {

constexpr bool IsAsciiUpper(char c) { return c >= 'A' && c <= 'Z'; }
constexpr bool IsAsciiLower(char c) { return c >= 'a' && c <= 'z'; }
constexpr bool IsAsciiLetter(char c) { return IsAsciiUpper(c) || IsAsciiLower(c); }

// `c` with A to Z made a to z; any other byte unchanged.
constexpr char AsciiLower(char c) { return IsAsciiUpper(c) ? static_cast<char>(c - 'A' + 'a') : c; }
// `c` with a to z made A to Z; any other byte unchanged.
constexpr char AsciiUpper(char c) { return IsAsciiLower(c) ? static_cast<char>(c - 'a' + 'A') : c; }
constexpr unsigned char AsciiLower(unsigned char c) {
  return static_cast<unsigned char>(AsciiLower(static_cast<char>(c)));
}

// Whether the `length` bytes at `left` and at `right` are equal but for ASCII case.
inline bool AsciiEqualNoCase(const char* left, const char* right, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    if (AsciiLower(left[i]) != AsciiLower(right[i])) return false;
  }
  return true;
}

}  // namespace kestario

#endif  // KESTARIO_TEXT_ASCII_H_
