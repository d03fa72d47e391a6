// Prints what the profile (INI) reader of a platform answers to a list of queries, in an escaped
// form that two platforms can be compared by (tests/wine/profile_diff.sh).
//
// The Windows build asks the real GetPrivateProfileStringA / GetPrivateProfileSectionA (under
// Wine, Wine's); the Linux build asks the program's own System (RealSystem()).
//
// Usage: profile_probe INI-FILE QUERY-FILE
// Each line of the query file is one query, fields separated by a tab; "\xHH" in a field stands
// for the byte HH (for tabs, spaces at the ends and other bytes). Lines starting with "#" and
// empty lines are skipped.
//   value <TAB> section <TAB> key    the value of a key, with the default "NO_DATA"
//   section <TAB> section            the entries of a section
// Output, one line per query:
//   value [section] [key] = "text"
//   section [section] = {"entry", "entry"}
// Bytes outside printable ASCII, the double quote and the backslash are written as \xHH. A text
// longer than 200 bytes is written as its length, its first and last 40 bytes and a hash.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/system.h"
#include "text/byte_buffer.h"
#include "text/text_string.h"
#endif

namespace {

constexpr const char* kNoData = "NO_DATA";
constexpr size_t kShortText = 200;
constexpr size_t kEdge = 40;

void PutEscaped(const char* text, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    unsigned char byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x20 || byte > 0x7E || byte == '"' || byte == '\\') {
      std::printf("\\x%02X", byte);
    } else {
      std::putchar(byte);
    }
  }
}

void PutText(const char* text, size_t length) {
  if (length <= kShortText) {
    std::putchar('"');
    PutEscaped(text, length);
    std::putchar('"');
    return;
  }
  uint32_t hash = 2166136261u;  // FNV-1a
  for (size_t i = 0; i < length; ++i) {
    hash = (hash ^ static_cast<unsigned char>(text[i])) * 16777619u;
  }
  std::printf("<%zu bytes \"", length);
  PutEscaped(text, kEdge);
  std::printf("\"...\"");
  PutEscaped(text + length - kEdge, kEdge);
  std::printf("\" fnv1a %08X>", static_cast<unsigned>(hash));
}

// Decodes the "\xHH" escapes of a query field in place.
void Unescape(char* field) {
  char* out = field;
  for (const char* in = field; *in != '\0';) {
    unsigned value = 0;
    if (in[0] == '\\' && in[1] == 'x' && std::sscanf(in + 2, "%2x", &value) == 1) {
      *out++ = static_cast<char>(value);
      in += 4;
    } else {
      *out++ = *in++;
    }
  }
  *out = '\0';
}

// Prints a list of NUL-terminated entries ended by an empty one (or by `size`). A long list shows
// its first entries, then the number of the others, the last one and a hash over them.
void PutEntries(const char* buffer, size_t size) {
  constexpr int kShownEntries = 8;
  std::printf("{");
  size_t offset = 0;
  int count = 0;
  uint32_t hash = 2166136261u;  // FNV-1a over the entries that are not shown, NULs included
  const char* last = nullptr;
  size_t lastLength = 0;
  while (buffer != nullptr && offset < size && buffer[offset] != '\0') {
    const char* entry = buffer + offset;
    size_t length = strnlen(entry, size - offset);
    if (count < kShownEntries) {
      std::printf("%s", count == 0 ? "" : ", ");
      PutText(entry, length);
    } else {
      for (size_t i = 0; i < length; ++i) {
        hash = (hash ^ static_cast<unsigned char>(entry[i])) * 16777619u;
      }
      hash = hash * 16777619u;  // the NUL that ends the entry
      last = entry;
      lastLength = length;
    }
    ++count;
    offset += length + 1;
  }
  if (count > kShownEntries) {
    std::printf(", <%d more, the last ", count - kShownEntries);
    PutText(last, lastLength);
    std::printf(", fnv1a %08X>", static_cast<unsigned>(hash));
  }
  std::printf("}");
}

#ifdef _WIN32

// Reads a value whole: the buffer doubles while the call returns size - 1 (a cut value).
void QueryValue(const char* file, const char* section, const char* key) {
  for (DWORD size = 64;; size *= 2) {
    char* buffer = static_cast<char*>(std::malloc(size));
    if (buffer == nullptr) std::exit(3);
    DWORD length = GetPrivateProfileStringA(section, key, kNoData, buffer, size, file);
    if (length < size - 1 || size >= (64u << 20)) {
      PutText(buffer, length);
      std::free(buffer);
      return;
    }
    std::free(buffer);
  }
}

// Reads a section whole: the buffer doubles while the call returns size - 2 (a cut list).
void QuerySection(const char* file, const char* section) {
  for (DWORD size = 64;; size *= 2) {
    char* buffer = static_cast<char*>(std::malloc(size));
    if (buffer == nullptr) std::exit(3);
    DWORD length = GetPrivateProfileSectionA(section, buffer, size, file);
    if (length < size - 2 || size >= (64u << 20)) {
      PutEntries(buffer, length + 1);
      std::free(buffer);
      return;
    }
    std::free(buffer);
  }
}

#else

void QueryValue(const char* file, const char* section, const char* key) {
  kestario::TextString value;
  kestario::RealSystem().GetPrivateProfileStringA(section, key, kNoData, &value, file);
  PutText(value.GetConstText(), std::strlen(value.GetConstText()));
}

void QuerySection(const char* file, const char* section) {
  kestario::ByteBuffer entries;
  kestario::RealSystem().GetPrivateProfileSectionA(section, &entries, file);
  PutEntries(reinterpret_cast<const char*>(entries.GetConstData()), entries.GetSize());
}

#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: profile_probe INI-FILE QUERY-FILE\n");
    return 2;
  }
  const char* file = argv[1];
  std::FILE* queries = std::fopen(argv[2], "rb");
  if (queries == nullptr) {
    std::fprintf(stderr, "profile_probe: cannot open %s\n", argv[2]);
    return 2;
  }
  char line[4096];
  while (std::fgets(line, sizeof(line), queries) != nullptr) {
    line[std::strcspn(line, "\r\n")] = '\0';
    if (line[0] == '\0' || line[0] == '#') continue;
    char* fields[3] = {line, nullptr, nullptr};
    int count = 1;
    for (char* p = line; *p != '\0' && count < 3; ++p) {
      if (*p == '\t') {
        *p = '\0';
        fields[count++] = p + 1;
      }
    }
    for (int i = 1; i < count; ++i) Unescape(fields[i]);
    if (std::strcmp(fields[0], "value") == 0 && count == 3) {
      std::printf("value [");
      PutEscaped(fields[1], std::strlen(fields[1]));
      std::printf("] [");
      PutEscaped(fields[2], std::strlen(fields[2]));
      std::printf("] = ");
      QueryValue(file, fields[1], fields[2]);
    } else if (std::strcmp(fields[0], "section") == 0 && count == 2) {
      std::printf("section [");
      PutEscaped(fields[1], std::strlen(fields[1]));
      std::printf("] = ");
      QuerySection(file, fields[1]);
    } else {
      std::printf("bad query");
    }
    std::printf("\n");
  }
  std::fclose(queries);
  return 0;
}
