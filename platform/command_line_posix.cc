#include "platform/command_line_posix.h"

#include <cstdlib>
#include <cstring>

#include "text/growable_array.h"

namespace kestario {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsArgumentBlank(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// A growing NUL-terminated byte text.
struct Builder {
  GrowableArray<char> text{32};

  bool Push(char c) {
    if (!text.Reserve(text.count() + 2)) return false;
    text.Append(c);
    text[text.count()] = '\0';
    return true;
  }
};

// A growing null-terminated array of malloc'd texts (Release hands it to FreeArgumentVector).
struct Vector {
  GrowableArray<char*> items{8};

  bool Add(char* item) {
    if (!item) return false;
    if (!items.Reserve(items.count() + 2)) {
      free(item);
      return false;
    }
    items.Append(item);
    items[items.count()] = nullptr;
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
      char* text = word.text.items() ? word.text.Release() : CopyRange("", 0);
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
      FreeArgumentVector(result.items.Release());
      return false;
    }
    rest = close ? close + 1 : p + 1 + length;
  } else {
    const char* end = p;
    while (*end && !IsBlank(*end)) ++end;
    if (!result.Add(CopyRange(p, static_cast<size_t>(end - p)))) {
      FreeArgumentVector(result.items.Release());
      return false;
    }
    rest = end;
  }
  if (!SplitArguments(rest, &result)) {
    FreeArgumentVector(result.items.Release());
    return false;
  }
  *argv = result.items.Release();
  return true;
}

}  // namespace kestario
