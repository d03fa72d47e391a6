#include "platform/call_refusals.h"

#include <cstdlib>
#include <cstring>

namespace kestario {

bool SplitCommandWords(const char* text, ByteBuffer* words) {
  size_t length = std::strlen(text);
  char* split = static_cast<char*>(std::malloc(length + 1));
  if (split == nullptr) return false;
  size_t used = 0;
  size_t wordStart = 0;
  bool quoted = false;
  for (size_t i = 0; i <= length; ++i) {
    char c = i < length ? text[i] : ' ';
    if (c == '"') {
      quoted = !quoted;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (used != wordStart) split[used++] = '\0';
      wordStart = used;
    } else {
      split[used++] = c;
    }
  }
  bool appended = used == 0 || words->AppendBytes(split, static_cast<uint32_t>(used));
  std::free(split);
  return appended;
}

bool SetTextPrefix(TextString* text, const char* bytes, size_t length) {
  char* prefix = static_cast<char*>(std::malloc(length + 1));
  if (prefix == nullptr) return false;
  std::memcpy(prefix, bytes, length);
  prefix[length] = '\0';
  bool set = text->SetText(prefix);
  std::free(prefix);
  return set;
}

}  // namespace kestario
