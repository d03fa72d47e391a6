// The program's one string type: a NUL-terminated byte text in a block that the string owns.
//
// Characters are bytes; no encoding is assumed, so Shift-JIS (or UTF-8) text passes through
// unchanged and every search is byte by byte. Letter case is ignored only for ASCII A-Z.
// Indexes of tokens, words and blocks count from 0; a negative index counts from the end.
// Positions are pointers into the string's own text.
//
// Every operation is safe for any index or range: an index outside the tokens, words or blocks
// gives the empty string or leaves the string unchanged, and positions outside the text are
// clipped to it. Allocation failure leaves the string reading as the empty text.
#ifndef KESTARIO_TEXT_TEXT_STRING_H_
#define KESTARIO_TEXT_TEXT_STRING_H_

#include <cstdarg>
#include <cstdint>

#include "text/byte_buffer.h"

namespace kestario {

// Formatted results (Format, FormatV) hold at most this many bytes with the terminator; a longer
// result is cut at the last whole byte that fits.
constexpr int kFormatBufferSize = 1024;

class TextString : public ByteBuffer {
 public:
  TextString();
  TextString(const char* text);  // NOLINT(google-explicit-constructor): value type, like a literal
  TextString(const TextString& other);
  TextString& operator=(const TextString& other);

  // The virtual operations, in the order of the class's table (the ByteBuffer ones come first).
  ~TextString() override;
  void Init() override;

  virtual bool SetText(const char* text);
  virtual bool AppendText(const char* text);
  virtual void Compact();
  virtual const char* GetConstText() const;
  virtual char* GetText();
  virtual TextString& Assign(const TextString& other);
  virtual TextString& Assign(const char* text);
  virtual TextString& Append(const TextString& other);
  virtual TextString& Append(const char* text);
  virtual TextString Concat(const TextString& other) const;
  virtual TextString Concat(const char* text) const;
  virtual bool IsEqualNoCase(const char* text) const;
  virtual bool IsNotEqualNoCase(const char* text) const;
  virtual bool IsGreaterOrEqualNoCase(const char* text) const;
  virtual bool IsGreaterNoCase(const char* text) const;
  virtual bool IsLessOrEqualNoCase(const char* text) const;
  virtual bool IsLessNoCase(const char* text) const;
  virtual int32_t GetLength() const;
  virtual TextString Extract(const char* first, const char* last) const;
  virtual void ReplaceRange(const char* first, const char* last, const char* text);
  virtual TextString MidChar(int32_t index) const;
  virtual TextString Mid(int32_t first, int32_t last) const;
  virtual void ReplaceChar(int32_t index, const char* text);
  virtual void ReplaceMid(int32_t first, int32_t last, const char* text);
  virtual int32_t CountWords() const;
  virtual bool FindWords(int32_t first, int32_t last, const char** start, const char** end) const;
  virtual TextString GetWord(int32_t index) const;
  virtual TextString GetWords(int32_t first, int32_t last) const;
  virtual void ReplaceWord(int32_t index, const char* text);
  virtual void ReplaceWords(int32_t first, int32_t last, const char* text);
  virtual int32_t CountTokens(const char* separator) const;
  virtual bool FindTokens(int32_t first, int32_t last, const char* separator, const char** start,
                          const char** end) const;
  virtual TextString GetToken(int32_t index, const char* separator) const;
  virtual TextString GetTokens(int32_t first, int32_t last, const char* separator) const;
  virtual void ReplaceToken(int32_t index, const char* separator, const char* text);
  virtual void ReplaceTokens(int32_t first, int32_t last, const char* separator, const char* text);
  virtual int32_t CountBlocks(const char* opening, const char* closing) const;
  virtual bool FindBlocks(int32_t first, int32_t last, const char* opening, const char* closing,
                          const char** start, const char** end) const;
  virtual TextString GetBlock(int32_t index, const char* opening, const char* closing) const;
  virtual TextString GetBlocks(int32_t first, int32_t last, const char* opening,
                               const char* closing) const;
  virtual void ReplaceBlock(int32_t index, const char* opening, const char* closing,
                            const char* text);
  virtual void ReplaceBlocks(int32_t first, int32_t last, const char* opening, const char* closing,
                             const char* text);
  virtual void Trim(const char* text);
  virtual void TrimEnds(const char* leading, const char* trailing);
  virtual TextString& Format(const char* format, ...);
  virtual TextString& FormatV(const char* format, va_list arguments);
  virtual void ClearAndAppend(const char* text);
  virtual int32_t ToInt() const;
  virtual void ReplaceAll(const char* pattern, const char* text);
  virtual const char* Find(const char* text) const;
};

// Compares two texts ignoring the case of ASCII A-Z only: <0, 0 or >0 like strcmp.
int CompareNoCase(const char* left, const char* right);

}  // namespace kestario

#endif  // KESTARIO_TEXT_TEXT_STRING_H_
