#include "tools/checker/script_lines.h"
#include "text/ascii.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/path_questions.h"
#include "text/text_string.h"

namespace kestario {
namespace checker {
namespace {

bool IsBlank(char c) {
  unsigned char byte = static_cast<unsigned char>(c);
  return (byte >= 0x09 && byte <= 0x0D) || byte == 0x1A || byte == 0x20;
}

void TrimSpan(const std::string& text, size_t* start, size_t* end) {
  while (*start < *end && IsBlank(text[*start])) ++*start;
  while (*end > *start && IsBlank(text[*end - 1])) --*end;
}

// The first `c` in [start, end), or `end`.
size_t FindIn(const std::string& text, char c, size_t start, size_t end) {
  const void* found = std::memchr(text.data() + start, c, end - start);
  return found ? static_cast<size_t>(static_cast<const char*>(found) - text.data()) : end;
}

// The bytes [start, end) up to the first NUL byte.
std::string CutAtNul(const std::string& text, size_t start, size_t end) {
  return text.substr(start, FindIn(text, '\0', start, end) - start);
}

std::string StripQuotes(const std::string& value) {
  if (value.size() >= 2 && (value[0] == '\'' || value[0] == '"') && value.back() == value[0]) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

// The column of byte `at` of a line that begins at byte `lineStart`: characters counted from 1, a
// UTF-8 continuation byte adding none.
int ColumnAt(const std::string& text, size_t lineStart, size_t at) {
  int column = 1;
  for (size_t i = lineStart; i < at; ++i) {
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) ++column;
  }
  return column;
}

// The rule IDs of a comment line "; updater-check: disable-next-line ID ...", in upper case; none
// for any other line.
std::vector<std::string> DisabledRules(const std::string& text, size_t start, size_t end) {
  static const char kDirective[] = "updater-check:";
  static const char kWhat[] = "disable-next-line";
  std::vector<std::string> ids;
  if (start >= end || text[start] != ';') return ids;
  std::string rest = text.substr(start + 1, end - start - 1);
  size_t at = rest.find_first_not_of(" \t");
  if (at == std::string::npos || rest.compare(at, sizeof kDirective - 1, kDirective) != 0) {
    return ids;
  }
  at = rest.find_first_not_of(" \t", at + sizeof kDirective - 1);
  if (at == std::string::npos || rest.compare(at, sizeof kWhat - 1, kWhat) != 0) return ids;
  at += sizeof kWhat - 1;
  std::string id;
  for (size_t i = at; i <= rest.size(); ++i) {
    char c = i < rest.size() ? rest[i] : ' ';
    if (c == ' ' || c == '\t' || c == ',') {
      if (!id.empty()) ids.push_back(id);
      id.clear();
    } else {
      id += AsciiUpper(c);
    }
  }
  return ids;
}

}  // namespace

bool EqualNoCase(const std::string& left, const std::string& right) {
  return left.size() == right.size() && AsciiEqualNoCase(left.data(), right.data(), left.size());
}

std::string TrimBlanks(const std::string& text) {
  size_t start = 0;
  size_t end = text.size();
  TrimSpan(text, &start, &end);
  return text.substr(start, end - start);
}

std::string FoldName(const std::string& name) {
  std::string folded = TrimBlanks(name);
  for (char& c : folded) c = AsciiLower(c);
  return folded;
}

// The name as the index keeps it: ASCII letters in lower case (the parser has dropped blanks).
std::string IndexName(const std::string& name) {
  std::string folded = name;
  for (char& c : folded) c = AsciiLower(c);
  return folded;
}

void ScriptLines::Parse(const std::string& bytes) {
  sections_.clear();
  firstSection_.clear();
  disabled_.clear();
  sections_.push_back(Section{});
  firstSection_.emplace("", 0);
  size_t position = 0;
  if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) position = 3;
  int line = 1;
  while (position < bytes.size()) {
    size_t start = position;
    const size_t lineStart = position;
    while (position < bytes.size() && bytes[position] != '\n' && bytes[position] != '\r') {
      ++position;
    }
    size_t end = position;
    int lineOfText = line;
    if (position < bytes.size()) {
      bool crlf =
          bytes[position] == '\r' && position + 1 < bytes.size() && bytes[position + 1] == '\n';
      position += crlf ? 2 : 1;
      ++line;
    }
    TrimSpan(bytes, &start, &end);
    if (start >= end) continue;
    std::vector<std::string> disabled = DisabledRules(bytes, start, end);
    if (!disabled.empty()) disabled_[lineOfText + 1] = disabled;

    if (bytes[start] == '[') {
      size_t close = end;
      while (close > start && bytes[close - 1] != ']') --close;
      if (close > start + 1) {
        size_t nameStart = start + 1;
        size_t nameEnd = close - 1;
        TrimSpan(bytes, &nameStart, &nameEnd);
        Section section;
        section.name = CutAtNul(bytes, nameStart, nameEnd);
        section.line = lineOfText;
        section.column = ColumnAt(bytes, lineStart, start);
        firstSection_.emplace(IndexName(section.name), sections_.size());
        sections_.push_back(section);
        continue;
      }
    }

    Entry entry;
    entry.line = lineOfText;
    entry.column = ColumnAt(bytes, lineStart, start);
    size_t equals = FindIn(bytes, '=', start, end);
    size_t nameEnd = end;
    if (equals < end) {
      nameEnd = equals;
      while (nameEnd > start && IsBlank(bytes[nameEnd - 1])) --nameEnd;
      size_t valueStart = equals + 1;
      while (valueStart < end && IsBlank(bytes[valueStart])) ++valueStart;
      entry.hasValue = true;
      entry.valueColumn = ColumnAt(bytes, lineStart, valueStart);
      entry.text = CutAtNul(bytes, valueStart, end);
      entry.value = StripQuotes(entry.text);
    }
    entry.name = CutAtNul(bytes, start, nameEnd);
    Section& current = sections_.back();
    if (entry.name.empty() && !current.entries.empty() && current.entries.back().name.empty()) {
      continue;
    }
    current.firstEntry.emplace(IndexName(entry.name), current.entries.size());
    current.entries.push_back(entry);
  }
}

const ScriptLines::Section* ScriptLines::FindSection(const std::string& name) const {
  auto found = firstSection_.find(FoldName(name));
  return found == firstSection_.end() ? nullptr : &sections_[found->second];
}

const ScriptLines::Entry* ScriptLines::FindEntry(const Section& section, const std::string& key) {
  auto found = section.firstEntry.find(FoldName(key));
  return found == section.firstEntry.end() ? nullptr : &section.entries[found->second];
}

int ScriptLines::SectionLine(const std::string& name) const {
  const Section* section = FindSection(name);
  if (section == nullptr) return 0;
  return section->line > 0 ? section->line : 1;
}

int ScriptLines::KeyLine(const std::string& section, const std::string& key) const {
  const Section* found = FindSection(section);
  if (found == nullptr) return 1;
  const Entry* entry = FindEntry(*found, key);
  if (entry != nullptr) return entry->line;
  return found->line > 0 ? found->line : 1;
}

bool ScriptLines::IsDisabled(int line, const std::string& id) const {
  auto found = disabled_.find(line);
  if (found == disabled_.end()) return false;
  for (const std::string& disabled : found->second) {
    if (EqualNoCase(disabled, id)) return true;
  }
  return false;
}

bool ReadScriptFile(const std::string& path, std::string* bytes, std::string* problem) {
  // A name that cannot be looked at is left to fopen, which tells why.
  PathKind kind = GetPathKindA(path.c_str());
  if (kind == PathKind::kNothing) {
    *problem = std::strerror(ENOENT);
    return false;
  }
  if (kind == PathKind::kFolder) {
    *problem = "it is a folder";
    return false;
  }
  if (kind != PathKind::kUnreachable && (kind != PathKind::kFile || !IsDiskFileA(path.c_str()))) {
    *problem = "it is not a regular file";
    return false;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    *problem = std::strerror(errno);
    return false;
  }
  bytes->clear();
  char block[65536];
  size_t got;
  while ((got = std::fread(block, 1, sizeof block, file)) > 0) bytes->append(block, got);
  bool failed = std::ferror(file) != 0;
  int error = errno;
  std::fclose(file);
  if (failed) {
    *problem = std::strerror(error);
    return false;
  }
  return true;
}

std::string FullPath(const std::string& path) {
  TextString full;
  return GetComparablePathA(path.c_str(), &full) ? full.GetConstText() : path;
}

}  // namespace checker
}  // namespace kestario
