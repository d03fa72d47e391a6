// The program's one hash: 64-bit FNV-1a. Fast over the short names it is used for (procedure
// sections, symbols, profile sections and keys), and stable from release to release, which the
// rollback journal's folder name relies on. Not for anything an attacker must not be able to
// collide: that is the platform's cryptography.
#ifndef KESTARIO_TEXT_HASH_H_
#define KESTARIO_TEXT_HASH_H_

#include <cstddef>
#include <cstdint>

#include "text/ascii.h"

namespace kestario {

// The value to begin a hash with (FNV's offset basis).
constexpr uint64_t kHashStart = 14695981039346656037ull;

enum class HashCase { kExact, kFoldAscii };

// `hash` continued by one value (a byte, or a whole number).
constexpr uint64_t HashValue(uint64_t hash, uint64_t value) {
  return (hash ^ value) * 1099511628211ull;
}

// `hash` continued by the `count` bytes at `bytes`; with kFoldAscii, texts that differ only in
// ASCII case hash alike.
inline uint64_t HashBytes(uint64_t hash, const char* bytes, size_t count,
                          HashCase fold = HashCase::kExact) {
  for (size_t i = 0; i < count; ++i) {
    char c = fold == HashCase::kFoldAscii ? AsciiLower(bytes[i]) : bytes[i];
    hash = HashValue(hash, static_cast<unsigned char>(c));
  }
  return hash;
}

// The same for the NUL-terminated `text`.
inline uint64_t HashText(uint64_t hash, const char* text, HashCase fold = HashCase::kExact) {
  for (; *text != '\0'; ++text) {
    char c = fold == HashCase::kFoldAscii ? AsciiLower(*text) : *text;
    hash = HashValue(hash, static_cast<unsigned char>(c));
  }
  return hash;
}

}  // namespace kestario

#endif  // KESTARIO_TEXT_HASH_H_
