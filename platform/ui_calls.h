// The system's calls for what the user sees and the text of it: the desktop's language, the
// program's own catalog, message boxes and the code pages (part of System, system.h).
#ifndef KESTARIO_PLATFORM_UI_CALLS_H_
#define KESTARIO_PLATFORM_UI_CALLS_H_

#include <cstdint>

#include "text/text_string.h"
#include "text/wide_text.h"

#include "platform/profile_calls.h"

namespace kestario {

// Message box styles and answers, with their Win32 values.
constexpr unsigned kMbOk = 0x00;
constexpr unsigned kMbYesNo = 0x04;
constexpr unsigned kMbIconError = 0x10;
constexpr unsigned kMbIconQuestion = 0x20;
constexpr unsigned kMbIconWarning = 0x30;
constexpr unsigned kMbIconInformation = 0x40;
constexpr unsigned kMbIconMask = 0xF0;
constexpr unsigned kMbTypeMask = 0x0F;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// The languages of the program's own texts (LANGID values), and the code pages of the text
// conversions with the flag that makes an invalid text a failure, with their Win32 values.
constexpr uint16_t kLangJapanese = 0x0411;
constexpr uint16_t kLangEnglish = 0x0409;
constexpr unsigned kCpAcp = 0;
constexpr unsigned kCpUtf8 = 65001;
constexpr uint32_t kMbErrInvalidChars = 0x08;

class UiCalls : public ProfileCalls {
 public:
  ~UiCalls() override;

  // GetUserDefaultUILanguage: the language of the user's desktop, such as 0x0411 (Japanese). The
  // Linux program is a Japanese one: kLangJapanese, whatever the environment.
  virtual uint16_t GetUserDefaultUILanguage() = 0;
  // LoadStringW on the program's own module, from the string table of `language` (found with
  // FindResourceExW): copies catalog text `id` into `buffer` (at most size - 1 units and a 0) and
  // returns the units copied; 0 and an empty text when there is none.
  virtual int LoadStringW(uint16_t language, unsigned id, char16_t* buffer, int size) = 0;
  // MessageBoxW with no owner window; returns the answer (kIdOk, kIdYes, kIdNo ...), 0 on failure.
  virtual int MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) = 0;
  // MultiByteToWideChar(codePage, flags): the `size` bytes at `text` as UTF-16 in `wide`; a byte
  // that is not text of the code page becomes what Windows makes of it, or with kMbErrInvalidChars
  // the result is false. WideCharToMultiByte(codePage, 0): the `size` units at `text` as bytes;
  // a character the code page cannot hold becomes "?", a lone surrogate in UTF-8 U+FFFD. Both are
  // false, the result empty, when memory runs out. On Linux the ANSI code page is UTF-8 in which
  // every byte comes back: a byte that is not part of valid UTF-8 becomes the lone surrogate
  // U+DC00 + byte, which kCpAcp turns back into that byte (and kCpUtf8 into U+FFFD).
  virtual bool MultiByteToWideChar(unsigned codePage, uint32_t flags, const char* text,
                                   uint32_t size, WideText* wide) = 0;
  virtual bool WideCharToMultiByte(unsigned codePage, const char16_t* text, uint32_t size,
                                   TextString* bytes) = 0;
  // IsDBCSLeadByte: whether `byte` begins a double-byte character in the ANSI code page (such as
  // 0x83 in code page 932, where 0x83 0x7C is one character and holds no "|"). Never on Linux.
  virtual bool IsDBCSLeadByte(uint8_t byte) = 0;
  // GetProcessWindowStation and GetUserObjectInformationA(UOI_FLAGS): whether the process's window
  // station is visible (WSF_VISIBLE), so that someone can see and answer a box. A program started
  // by a service or as SYSTEM runs on one that is not. The terminal box of Linux is always "seen":
  // it never waits on nobody, since at the end of its input it answers at once (No, or OK).
  virtual bool IsWindowStationVisible() = 0;
};

// The word for the icon of a box `style`: "ERROR", "QUESTION", "WARNING", else "INFORMATION".
const char* MessageBoxKind(unsigned style);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_UI_CALLS_H_
