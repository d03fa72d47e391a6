#include "settings/profile.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/system.h"

namespace kestario {
namespace {

bool IsScanSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads a decimal integer the way scanning with "%d" does: white space skipped, an optional sign,
// then digits. False when no digit follows; a number beyond 32 bits is clamped.
bool ScanDecimal(const char* text, int32_t* number) {
  while (IsScanSpace(*text)) ++text;
  const char* digits = text;
  if (*digits == '+' || *digits == '-') ++digits;
  if (*digits < '0' || *digits > '9') return false;
  errno = 0;
  long long value = std::strtoll(text, nullptr, 10);
  if (value > INT32_MAX) value = INT32_MAX;
  if (value < INT32_MIN) value = INT32_MIN;
  *number = static_cast<int32_t>(value);
  return true;
}

// Reads the raw value; false when it reads as absent.
bool ReadRaw(const char* file, const char* section, const char* key, TextString* value) {
  CurrentSystem().GetPrivateProfileStringA(section, key, kNoData, value, file);
  return CompareNoCase(value->GetConstText(), kNoData) != 0;
}

}  // namespace

bool ReadProfileString(const char* file, const char* section, const char* key,
                       TextString* destination) {
  TextString value;
  if (!ReadRaw(file, section, key, &value)) return false;
  destination->Swap(value);  // the value's block becomes the destination's, without a copy
  return true;
}

bool ReadProfileInt(const char* file, const char* section, const char* key, int32_t* destination) {
  TextString value;
  if (!ReadRaw(file, section, key, &value)) return false;
  ScanDecimal(value.GetConstText(), destination);
  return true;
}

int32_t ReadProfileSection(const char* file, const char* section, TextString* destination) {
  ByteBuffer entries;
  CurrentSystem().GetPrivateProfileSectionA(section, &entries, file);
  const char* begin = reinterpret_cast<const char*>(entries.GetConstData());
  if (begin == nullptr || entries.GetSize() == 0) return -1;  // no bytes at all: out of memory
  const char* limit = begin + entries.GetSize();
  if (*begin == '\0') return 0;

  // Measure first, then build the result in one block: sections can hold thousands of entries.
  int32_t count = 0;
  size_t added = 0;
  for (const char* entry = begin; entry < limit && *entry != '\0';) {
    size_t length = strnlen(entry, static_cast<size_t>(limit - entry));
    if (*entry != ';') {
      ++count;
      added += length + 1;
    }
    entry += length + 1;
  }
  if (count == 0) return 0;

  size_t oldLength = static_cast<size_t>(destination->GetLength());
  bool startsEmpty = oldLength == 0;
  if (startsEmpty) --added;  // no line feed before the first entry
  if (oldLength + added + 1 > UINT32_MAX) return -1;
  TextString joined;
  if (!joined.Allocate(static_cast<uint32_t>(oldLength + added + 1))) return -1;
  char* out = joined.GetText();
  std::memcpy(out, destination->GetConstText(), oldLength);
  out += oldLength;
  bool first = startsEmpty;
  for (const char* entry = begin; entry < limit && *entry != '\0';) {
    size_t length = strnlen(entry, static_cast<size_t>(limit - entry));
    if (*entry != ';') {
      if (!first) *out++ = '\n';
      first = false;
      std::memcpy(out, entry, length);
      out += length;
    }
    entry += length + 1;
  }
  *out = '\0';
  destination->Swap(joined);
  return count;
}

}  // namespace kestario
