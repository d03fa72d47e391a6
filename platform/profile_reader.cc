#include "platform/profile_reader.h"

#include <cstdlib>
#include <cstring>

namespace kestario {

struct ProfileData::Section {
  size_t nameOffset;
  size_t nameLength;
  size_t firstEntry;
  size_t entryCount;
};

struct ProfileData::Entry {
  size_t nameOffset;
  size_t nameLength;
  size_t valueOffset;
  size_t valueLength;
  bool hasValue;
};

namespace {

unsigned char FoldAscii(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; }

bool EqualNoCase(const char* left, size_t leftLength, const char* right, size_t rightLength) {
  if (leftLength != rightLength) return false;
  for (size_t i = 0; i < leftLength; ++i) {
    if (FoldAscii(static_cast<unsigned char>(left[i])) !=
        FoldAscii(static_cast<unsigned char>(right[i]))) {
      return false;
    }
  }
  return true;
}

uint64_t HashNoCase(const char* text, size_t length) {
  uint64_t hash = 1469598103934665603ull;
  for (size_t i = 0; i < length; ++i) {
    hash ^= FoldAscii(static_cast<unsigned char>(text[i]));
    hash *= 1099511628211ull;
  }
  return hash;
}

// Cuts [*start, *end) to the bytes before its first NUL byte.
size_t LengthToNul(const char* text, size_t length) {
  const void* nul = memchr(text, '\0', length);
  return nul ? static_cast<size_t>(static_cast<const char*>(nul) - text) : length;
}

void TrimBlanks(const char* text, size_t* start, size_t* end) {
  while (*start < *end && IsProfileBlank(static_cast<unsigned char>(text[*start]))) ++*start;
  while (*end > *start && IsProfileBlank(static_cast<unsigned char>(text[*end - 1]))) --*end;
}

// Drops the blanks around a name that a caller asks for.
ProfileSpan TrimmedName(const char* name) {
  size_t start = 0;
  size_t end = strlen(name);
  TrimBlanks(name, &start, &end);
  return ProfileSpan{name + start, end - start};
}

ProfileSpan StripQuotes(ProfileSpan value) {
  if (value.length >= 2 && (value.text[0] == '\'' || value.text[0] == '"') &&
      value.text[value.length - 1] == value.text[0]) {
    return ProfileSpan{value.text + 1, value.length - 2};
  }
  return value;
}

template <typename T>
bool Grow(T** items, size_t* capacity, size_t needed) {
  if (needed <= *capacity) return true;
  size_t next = *capacity ? *capacity * 2 : 16;
  while (next < needed) next *= 2;
  if (next > SIZE_MAX / sizeof(T)) return false;
  void* block = realloc(*items, next * sizeof(T));
  if (!block) return false;
  *items = static_cast<T*>(block);
  *capacity = next;
  return true;
}

}  // namespace

bool IsProfileBlank(unsigned char c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }

ProfileData::ProfileData()
    : text_(nullptr),
      textLength_(0),
      sections_(nullptr),
      sectionCount_(0),
      sectionCapacity_(0),
      entries_(nullptr),
      entryCount_(0),
      entryCapacity_(0),
      index_(nullptr),
      indexSize_(0) {}

ProfileData::~ProfileData() { Clear(); }

void ProfileData::Clear() {
  free(text_);
  free(sections_);
  free(entries_);
  free(index_);
  text_ = nullptr;
  textLength_ = 0;
  sections_ = nullptr;
  sectionCount_ = sectionCapacity_ = 0;
  entries_ = nullptr;
  entryCount_ = entryCapacity_ = 0;
  index_ = nullptr;
  indexSize_ = 0;
}

bool ProfileData::AddSection(size_t nameOffset, size_t nameLength) {
  if (sectionCount_ >= UINT32_MAX - 1) return false;
  if (!Grow(&sections_, &sectionCapacity_, sectionCount_ + 1)) return false;
  sections_[sectionCount_++] = Section{nameOffset, nameLength, entryCount_, 0};
  return true;
}

bool ProfileData::AddEntry(size_t nameOffset, size_t nameLength, bool hasValue, size_t valueOffset,
                           size_t valueLength) {
  if (!Grow(&entries_, &entryCapacity_, entryCount_ + 1)) return false;
  entries_[entryCount_++] = Entry{nameOffset, nameLength, valueOffset, valueLength, hasValue};
  ++sections_[sectionCount_ - 1].entryCount;
  return true;
}

bool ProfileData::Parse(const void* bytes, size_t size) {
  Clear();
  const unsigned char* source = static_cast<const unsigned char*>(bytes);
  if (size >= 3 && source[0] == 0xEF && source[1] == 0xBB && source[2] == 0xBF) {
    source += 3;
    size -= 3;
  }
  text_ = static_cast<char*>(malloc(size ? size : 1));
  if (!text_) return false;
  if (size) memcpy(text_, source, size);
  textLength_ = size;
  const char* text = text_;

  // The unnamed section of the lines before the first "[...]" line.
  if (!AddSection(0, 0)) {
    Clear();
    return false;
  }
  size_t position = 0;
  while (position < size) {
    size_t start = position;
    while (position < size && text[position] != '\n' && text[position] != '\r') ++position;
    size_t end = position;
    while (position < size && (text[position] == '\n' || text[position] == '\r')) ++position;
    TrimBlanks(text, &start, &end);
    if (start >= end) continue;

    if (text[start] == '[') {
      size_t close = end;
      while (close > start && text[close - 1] != ']') --close;
      if (close > start + 1) {  // close - 1 is the last "]", never the opening "["
        size_t nameStart = start + 1;
        size_t nameEnd = close - 1;
        TrimBlanks(text, &nameStart, &nameEnd);
        if (!AddSection(nameStart, LengthToNul(text + nameStart, nameEnd - nameStart))) {
          Clear();
          return false;
        }
        continue;
      }
    }

    const void* equals = memchr(text + start, '=', end - start);
    size_t nameEnd = end;
    bool hasValue = false;
    size_t valueStart = end;
    if (equals) {
      size_t at = static_cast<size_t>(static_cast<const char*>(equals) - text);
      nameEnd = at;
      while (nameEnd > start && IsProfileBlank(static_cast<unsigned char>(text[nameEnd - 1]))) {
        --nameEnd;
      }
      hasValue = true;
      valueStart = at + 1;
      while (valueStart < end && IsProfileBlank(static_cast<unsigned char>(text[valueStart]))) {
        ++valueStart;
      }
    }
    size_t nameLength = LengthToNul(text + start, nameEnd - start);
    const Section& current = sections_[sectionCount_ - 1];
    bool previousUnnamed = current.entryCount > 0 && entries_[entryCount_ - 1].nameLength == 0;
    if (nameLength == 0 && previousUnnamed) continue;
    size_t valueLength = hasValue ? LengthToNul(text + valueStart, end - valueStart) : 0;
    if (!AddEntry(start, nameLength, hasValue, valueStart, valueLength)) {
      Clear();
      return false;
    }
  }
  if (!BuildIndex()) {
    Clear();
    return false;
  }
  return true;
}

bool ProfileData::BuildIndex() {
  size_t size = 16;
  while (size < sectionCount_ * 2) size *= 2;
  index_ = static_cast<uint32_t*>(calloc(size, sizeof(uint32_t)));
  if (!index_) return false;
  indexSize_ = size;
  for (size_t i = 0; i < sectionCount_; ++i) {
    const Section& section = sections_[i];
    const char* name = text_ + section.nameOffset;
    size_t slot = HashNoCase(name, section.nameLength) & (size - 1);
    bool duplicate = false;
    while (index_[slot] != 0) {
      const Section& other = sections_[index_[slot] - 1];
      if (EqualNoCase(text_ + other.nameOffset, other.nameLength, name, section.nameLength)) {
        duplicate = true;  // the first section of a name wins
        break;
      }
      slot = (slot + 1) & (size - 1);
    }
    if (!duplicate) index_[slot] = static_cast<uint32_t>(i + 1);
  }
  return true;
}

const ProfileData::Section* ProfileData::Lookup(const char* name, size_t length) const {
  if (!index_) return nullptr;
  size_t slot = HashNoCase(name, length) & (indexSize_ - 1);
  while (index_[slot] != 0) {
    const Section& section = sections_[index_[slot] - 1];
    if (EqualNoCase(text_ + section.nameOffset, section.nameLength, name, length)) return &section;
    slot = (slot + 1) & (indexSize_ - 1);
  }
  return nullptr;
}

bool ProfileData::FindValue(const char* section, const char* key, ProfileSpan* value) const {
  if (!section || !key) return false;
  ProfileSpan sectionName = TrimmedName(section);
  ProfileSpan keyName = TrimmedName(key);
  const Section* found = Lookup(sectionName.text, sectionName.length);
  if (!found) return false;
  for (size_t i = 0; i < found->entryCount; ++i) {
    const Entry& entry = entries_[found->firstEntry + i];
    const char* name = text_ + entry.nameOffset;
    if (!EqualNoCase(name, entry.nameLength, keyName.text, keyName.length)) continue;
    if (!entry.hasValue) return false;
    *value = StripQuotes(ProfileSpan{text_ + entry.valueOffset, entry.valueLength});
    return true;
  }
  return false;
}

bool ProfileData::HasSection(const char* section) const {
  return section && Lookup(section, strlen(section)) != nullptr;
}

size_t ProfileData::ListSection(const char* section, char* out, size_t capacity) const {
  const Section* found = section ? Lookup(section, strlen(section)) : nullptr;
  // Comments are not listed, nor an entry that a NUL byte left without a name and a value: its
  // empty text would end the listing early and hide the entries after it.
  auto listed = [this](const Entry& entry) {
    return entry.nameLength == 0 ? entry.hasValue : text_[entry.nameOffset] != ';';
  };
  size_t needed = 1;
  if (found) {
    for (size_t i = 0; i < found->entryCount; ++i) {
      const Entry& entry = entries_[found->firstEntry + i];
      if (!listed(entry)) continue;
      needed += entry.nameLength + 1 + (entry.hasValue ? entry.valueLength + 1 : 0);
    }
  }
  if (!out || capacity < needed) return needed;
  char* write = out;
  if (found) {
    for (size_t i = 0; i < found->entryCount; ++i) {
      const Entry& entry = entries_[found->firstEntry + i];
      if (!listed(entry)) continue;
      memcpy(write, text_ + entry.nameOffset, entry.nameLength);
      write += entry.nameLength;
      if (entry.hasValue) {
        *write++ = '=';
        memcpy(write, text_ + entry.valueOffset, entry.valueLength);
        write += entry.valueLength;
      }
      *write++ = '\0';
    }
  }
  *write = '\0';
  return needed;
}

ProfileSpan ResolveProfileString(const ProfileData* data, const char* section, const char* key,
                                 const char* defaultValue) {
  ProfileSpan value;
  if (data && data->FindValue(section, key, &value)) return value;
  if (!defaultValue) return ProfileSpan{"", 0};
  size_t length = strlen(defaultValue);
  while (length > 1 && defaultValue[length - 1] == ' ') --length;
  return StripQuotes(ProfileSpan{defaultValue, length});
}

}  // namespace kestario
