// UTF-8 and UTF-16 for the Linux system, whose ANSI code page is UTF-8.
//
// The script's bytes are taken as UTF-8 and must come back unchanged on the terminal, even when
// they are not valid UTF-8: such a byte travels through UTF-16 as the lone surrogate U+DC00 + byte
// (U+DC80 to U+DCFF), which no valid UTF-8 ever gives, and is turned back into its byte on the
// way out. Valid UTF-8 is a maximal sequence that encodes a scalar value in its shortest form
// (no surrogates, nothing above U+10FFFF).
#ifndef KESTARIO_PLATFORM_UTF8_POSIX_H_
#define KESTARIO_PLATFORM_UTF8_POSIX_H_

#include <cstdint>

#include "text/text_string.h"
#include "text/wide_text.h"

namespace kestario {

// What becomes of a byte that is not part of valid UTF-8 on the way to UTF-16.
enum class InvalidUtf8 {
  kKeepByte,  // the lone surrogate U+DC00 + byte
  kReplace,   // U+FFFD
  kFail,      // the conversion fails
};

// The `size` bytes at `text` as UTF-16 in `wide`; false (`wide` empty) when memory runs out or,
// with kFail, when a byte is not part of valid UTF-8.
bool Utf8ToUtf16(const char* text, uint32_t size, InvalidUtf8 invalid, WideText* wide);

// What becomes of a lone surrogate on the way back.
enum class LoneSurrogate {
  kByteOrQuestionMark,  // U+DC80 to U+DCFF their byte, every other one "?"
  kReplace,             // U+FFFD
};

// The `size` units at `text` as UTF-8 in `bytes`; false (`bytes` empty) when memory runs out.
bool Utf16ToUtf8(const char16_t* text, uint32_t size, LoneSurrogate lone, TextString* bytes);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_UTF8_POSIX_H_
