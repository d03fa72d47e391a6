// The bytes of a run log as UTF-8. Logs written on Windows hold the system's ANSI code page
// (code page 932 on a Japanese system) or UTF-8; logs written on Linux hold UTF-8. Each line is
// taken as UTF-8 when it is valid UTF-8, else as code page 932.
#ifndef KESTARIO_TOOLS_REPORT_TEXT_DECODE_H_
#define KESTARIO_TOOLS_REPORT_TEXT_DECODE_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace kestario {
namespace report {

// Whether `bytes` is well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

// Appends `bytes` to `out` as UTF-8: as they are when `utf8` (the caller found the line valid
// UTF-8), else decoded from code page 932, where a byte or pair that is no character there
// becomes U+FFFD.
void AppendDecoded(std::string_view bytes, bool utf8, std::string* out);

// `bytes` as UTF-8, decided on its own: as it is when valid UTF-8, else from code page 932.
std::string Decoded(std::string_view bytes);

// Appends the UTF-8 form of `code` (at most U+10FFFF, no surrogate).
void AppendCodePoint(uint32_t code, std::string* out);

// The next character of valid UTF-8 `text` at `*at`, which moves past it.
uint32_t NextCodePoint(std::string_view text, size_t* at);

// The columns that valid UTF-8 `text` takes on a terminal: two for each wide East Asian
// character, none for a combining mark, one for any other.
size_t DisplayWidth(std::string_view text);

}  // namespace report
}  // namespace kestario

#endif  // KESTARIO_TOOLS_REPORT_TEXT_DECODE_H_
