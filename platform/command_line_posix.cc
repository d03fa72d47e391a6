#include "platform/command_line_posix.h"

#include <cstdlib>
#include <cstring>

namespace kestario {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsArgumentBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// A growing NUL-terminated byte text.
struct Builder {
  char* text = nullptr;
  size_t length = 0;
  size_t capacity = 0;

  bool Push(char c) {
    if (length + 2 > capacity) {
      size_t next = capacity ? capacity * 2 : 32;
      char* larger = static_cast<char*>(realloc(text, next));
      if (!larger) return false;
      text = larger;
      capacity = next;
    }
    text[length++] = c;
    text[length] = '\0';
    return true;
  }
  ~Builder() { free(text); }
};

struct Vector {
  char** items = nullptr;
  size_t count = 0;
  size_t capacity = 0;

  bool Add(char* item) {
    if (!item) return false;
    if (count + 2 > capacity) {
      size_t next = capacity ? capacity * 2 : 8;
      char** larger = static_cast<char**>(realloc(items, next * sizeof(char*)));
      if (!larger) {
        free(item);
        return false;
      }
      items = larger;
      capacity = next;
    }
    items[count++] = item;
    items[count] = nullptr;
    return true;
  }
};

char* CopyRange(const char* start, size_t length) {
  char* copy = static_cast<char*>(malloc(length + 1));
  if (!copy) return nullptr;
  memcpy(copy, start, length);
  copy[length] = '\0';
  return copy;
}

// Splits `rest` by shell quoting rules into `out`.
bool SplitArguments(const char* rest, Vector* out) {
  const char* p = rest;
  for (;;) {
    while (*p && IsArgumentBlank(*p)) ++p;
    if (!*p) return true;
    Builder word;
    bool any = false;
    while (*p && !IsArgumentBlank(*p)) {
      any = true;
      if (*p == '\'') {
        ++p;
        while (*p && *p != '\'') {
          if (!word.Push(*p++)) return false;
        }
        if (*p) ++p;
      } else if (*p == '"') {
        ++p;
        while (*p && *p != '"') {
          if (*p == '\\' && (p[1] == '$' || p[1] == '`' || p[1] == '"' || p[1] == '\\')) {
            if (!word.Push(p[1])) return false;
            p += 2;
          } else if (*p == '\\' && p[1] == '\n') {
            p += 2;
          } else {
            if (!word.Push(*p++)) return false;
          }
        }
        if (*p) ++p;
      } else if (*p == '\\') {
        if (p[1] == '\n') {
          p += 2;
        } else if (p[1]) {
          if (!word.Push(p[1])) return false;
          p += 2;
        } else {
          if (!word.Push('\\')) return false;
          ++p;
        }
      } else {
        if (!word.Push(*p++)) return false;
      }
    }
    if (any) {
      char* text = word.text ? word.text : CopyRange("", 0);
      word.text = nullptr;
      if (!out->Add(text)) return false;
    }
  }
}

}  // namespace

void FreeArgumentVector(char** argv) {
  if (!argv) return;
  for (char** item = argv; *item; ++item) free(*item);
  free(argv);
}

bool SplitCommandLine(const char* commandLine, char*** argv) {
  *argv = nullptr;
  if (!commandLine) return false;
  const char* p = commandLine;
  while (IsBlank(*p)) ++p;
  if (!*p) return false;

  Vector result;
  const char* rest = nullptr;
  if (*p == '"') {
    const char* close = strchr(p + 1, '"');
    size_t length = close ? static_cast<size_t>(close - (p + 1)) : strlen(p + 1);
    if (!result.Add(CopyRange(p + 1, length))) {
      FreeArgumentVector(result.items);
      return false;
    }
    rest = close ? close + 1 : p + 1 + length;
  } else {
    const char* end = p;
    while (*end && !IsBlank(*end)) ++end;
    if (!result.Add(CopyRange(p, static_cast<size_t>(end - p)))) {
      FreeArgumentVector(result.items);
      return false;
    }
    rest = end;
  }
  if (!SplitArguments(rest, &result)) {
    FreeArgumentVector(result.items);
    return false;
  }
  *argv = result.items;
  return true;
}

}  // namespace kestario
