// The program's texts between their encodings, through the system (MultiByteToWideChar and
// WideCharToMultiByte): the script's bytes are in the ANSI code page, what is shown is UTF-16,
// and the run log and the checker's JSON are UTF-8.
#ifndef KESTARIO_PLATFORM_ENCODING_H_
#define KESTARIO_PLATFORM_ENCODING_H_

#include <cstdint>

#include "text/byte_buffer.h"
#include "text/text_string.h"
#include "text/wide_text.h"

namespace kestario {

// The script's text as UTF-16, exactly as MessageBoxA would have shown it. False, `wide` empty,
// when memory runs out.
bool AnsiToWide(const char* text, WideText* wide);
bool AnsiToWide(const char* text, uint32_t size, WideText* wide);

// A UTF-16 text as UTF-8 (a lone surrogate becomes U+FFFD); false, `utf8` empty, when memory
// runs out.
bool WideToUtf8(const WideText& text, TextString* utf8);

// The script's text as UTF-8, always valid UTF-8: a byte that is not text of the code page becomes
// what Windows makes of it (on Linux U+FFFD). False, `utf8` empty, when memory runs out.
bool AnsiToUtf8(const char* text, TextString* utf8);

// The script's `size` bytes as UTF-8 in `utf8` when every byte is valid text of the ANSI code page;
// false (the text to be taken as it is) when one is not, or when memory runs out.
bool ValidAnsiToUtf8(const char* text, uint32_t size, ByteBuffer* utf8);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_ENCODING_H_
