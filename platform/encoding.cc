#include "platform/encoding.h"

#include <cstring>

#include "platform/system.h"

namespace kestario {

namespace {

bool IsAscii(const char* text) {
  for (const char* p = text; *p != '\0'; ++p) {
    if (static_cast<unsigned char>(*p) >= 0x80) return false;
  }
  return true;
}

}  // namespace

bool AnsiToWide(const char* text, WideText* wide) {
  return AnsiToWide(text, text ? static_cast<uint32_t>(std::strlen(text)) : 0, wide);
}

bool AnsiToWide(const char* text, uint32_t size, WideText* wide) {
  if (size == 0) {
    wide->Clear();
    return true;
  }
  return CurrentSystem().MultiByteToWideChar(kCpAcp, 0, text, size, wide);
}

bool WideToUtf8(const WideText& text, TextString* utf8) {
  return CurrentSystem().WideCharToMultiByte(kCpUtf8, text.GetUnits(), text.GetLength(), utf8);
}

bool AnsiToUtf8(const char* text, TextString* utf8) {
  // ASCII reads the same in every ANSI code page and in UTF-8.
  if (text == nullptr || IsAscii(text)) return utf8->SetText(text ? text : "");
  WideText wide;
  if (!AnsiToWide(text, &wide)) {
    utf8->SetText("");
    return false;
  }
  return WideToUtf8(wide, utf8);
}

bool ValidAnsiToUtf8(const char* text, uint32_t size, ByteBuffer* utf8) {
  if (size == 0) return false;
  System& system = CurrentSystem();
  WideText wide;
  TextString bytes;
  if (!system.MultiByteToWideChar(kCpAcp, kMbErrInvalidChars, text, size, &wide) ||
      !system.WideCharToMultiByte(kCpUtf8, wide.GetUnits(), wide.GetLength(), &bytes)) {
    return false;
  }
  return utf8->SetBytes(bytes.GetConstText(), static_cast<uint32_t>(bytes.GetLength()));
}

}  // namespace kestario
