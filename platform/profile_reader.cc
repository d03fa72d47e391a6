#include "platform/profile_reader.h"

#include <cstdlib>
#include <cstring>

#include "text/ascii.h"
#include "text/hash.h"

namespace kestario {

// A section is kept as the offsets of its name and of its body (the lines after its "[...]" line
// up to the next one); its entries are found in the body's lines when it is looked at. Offsets are
// 32 bits (files over kMaxProfileSize are refused) and the array is sized exactly by a first pass
// over the text: at 100,000 procedures the parse is a large part of the program's memory, and a
// lookup reads the few short lines of one section, as many as a table of its entries would be
// compared with.
struct ProfileData::Section {
  uint32_t nameOffset;
  uint32_t nameLength;
  uint32_t bodyStart;
  uint32_t bodyEnd;
};

namespace {

bool EqualNoCase(const char* left, size_t leftLength, const char* right, size_t rightLength) {
  return leftLength == rightLength && AsciiEqualNoCase(left, right, leftLength);
}

// FNV-1a with ASCII letters folded, its bits then mixed (the finaliser of MurmurHash3): names
// such as "P1" to "P99999" differ in a few bits of their last bytes, which FNV alone leaves in
// the high bits, and the index uses the low ones.
uint64_t HashNoCase(const char* text, size_t length) {
  uint64_t hash = HashBytes(kHashStart, text, length, HashCase::kFoldAscii);
  hash ^= hash >> 33;
  hash *= 0xff51afd7ed558ccdull;
  hash ^= hash >> 33;
  hash *= 0xc4ceb9fe1a85ec53ull;
  hash ^= hash >> 33;
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

// The parts of an entry line: `start` is its first byte that is not a blank, `end` the byte after
// its last one.
struct EntryParts {
  size_t nameOffset;
  size_t nameLength;
  bool hasValue;
  size_t valueOffset;
  size_t valueLength;
};

EntryParts SplitEntry(const char* text, size_t start, size_t end) {
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
  size_t valueLength = hasValue ? LengthToNul(text + valueStart, end - valueStart) : 0;
  return EntryParts{start, LengthToNul(text + start, nameEnd - start), hasValue, valueStart,
                    valueLength};
}

// The entries of a section's body, in order: every line that is not empty, but of several lines
// in a row with an empty name only the first. The body holds no "[...]" line.
//
// Given the first byte of a name (`firstByte`, ASCII case folded), it passes over the lines whose
// name cannot be that one without taking them apart. Only for a name that is not empty: lines
// with an empty name are passed over too, and the rule for them no longer holds.
class EntryWalk {
 public:
  EntryWalk(const char* text, size_t start, size_t end, int firstByte = -1)
      : text_(text), position_(start), end_(end), firstByte_(firstByte) {}

  bool Next(EntryParts* parts) {
    while (position_ < end_) {
      size_t start = position_;
      while (position_ < end_ && text_[position_] != '\n' && text_[position_] != '\r') {
        ++position_;
      }
      size_t end = position_;
      while (position_ < end_ && (text_[position_] == '\n' || text_[position_] == '\r')) {
        ++position_;
      }
      TrimBlanks(text_, &start, &end);
      if (start >= end) continue;
      if (firstByte_ >= 0 && AsciiLower(static_cast<unsigned char>(text_[start])) != firstByte_) {
        continue;
      }
      *parts = SplitEntry(text_, start, end);
      if (parts->nameLength == 0 && previousUnnamed_) continue;
      previousUnnamed_ = parts->nameLength == 0;
      return true;
    }
    return false;
  }

 private:
  const char* text_;
  size_t position_;
  size_t end_;
  int firstByte_;
  bool previousUnnamed_ = false;
};

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

}  // namespace

bool IsProfileBlank(unsigned char c) { return (c >= 0x09 && c <= 0x0D) || c == 0x1A || c == 0x20; }

ProfileData::ProfileData()
    : text_(nullptr),
      textLength_(0),
      sections_(nullptr),
      sectionCount_(0),
      index_(nullptr),
      indexSize_(0),
      last_(nullptr) {}

ProfileData::~ProfileData() { Clear(); }

void ProfileData::Clear() {
  free(text_);
  free(sections_);
  free(index_);
  text_ = nullptr;
  textLength_ = 0;
  sections_ = nullptr;
  sectionCount_ = 0;
  index_ = nullptr;
  indexSize_ = 0;
  last_ = nullptr;
}

bool ProfileData::Parse(const void* bytes, size_t size) {
  char* copy = static_cast<char*>(malloc(size ? size : 1));
  if (!copy) {
    Clear();
    return false;
  }
  if (size) memcpy(copy, bytes, size);
  return Adopt(copy, size);
}

bool ProfileData::Adopt(char* bytes, size_t size) {
  Clear();
  if (size > kMaxProfileSize) {
    free(bytes);
    return false;
  }
  text_ = bytes;
  textLength_ = size;
  // Every "[...]" line holds a "[": their count bounds the sections, and one pass fills them.
  size_t bound = 1;
  for (const char* at = text_; at < text_ + textLength_; ++at, ++bound) {
    at = static_cast<const char*>(memchr(at, '[', static_cast<size_t>(text_ + textLength_ - at)));
    if (!at) break;
  }
  sections_ = static_cast<Section*>(malloc(bound * sizeof(Section)));
  if (!sections_) {
    Clear();
    return false;
  }
  sectionCount_ = Scan();
  if (sectionCount_ < bound) {
    void* exact = realloc(sections_, sectionCount_ * sizeof(Section));
    if (exact) sections_ = static_cast<Section*>(exact);
  }
  if (!BuildIndex()) {
    Clear();
    return false;
  }
  IndexSections();
  return true;
}

// Walks the lines of the text, fills the array of sections (as large as the bound of "[" bytes)
// and returns the number of sections.
size_t ProfileData::Scan() {
  const char* text = text_;
  size_t size = textLength_;
  size_t position = 0;
  const unsigned char* bytes = reinterpret_cast<const unsigned char*>(text);
  if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) position = 3;
  // The unnamed section of the lines before the first "[...]" line.
  size_t sections = 1;
  sections_[0] = Section{0, 0, static_cast<uint32_t>(position), 0};
  while (position < size) {
    size_t lineStart = position;
    size_t start = position;
    while (position < size && text[position] != '\n' && text[position] != '\r') ++position;
    size_t end = position;
    while (position < size && (text[position] == '\n' || text[position] == '\r')) ++position;
    TrimBlanks(text, &start, &end);
    if (start >= end || text[start] != '[') continue;
    size_t close = end;
    while (close > start && text[close - 1] != ']') --close;
    if (close <= start + 1) continue;  // no "]" after the "[": an entry line
    // close - 1 is the last "]", never the opening "["
    size_t nameStart = start + 1;
    size_t nameEnd = close - 1;
    TrimBlanks(text, &nameStart, &nameEnd);
    sections_[sections - 1].bodyEnd = static_cast<uint32_t>(lineStart);
    sections_[sections] =
        Section{static_cast<uint32_t>(nameStart),
                static_cast<uint32_t>(LengthToNul(text + nameStart, nameEnd - nameStart)),
                static_cast<uint32_t>(position), 0};
    ++sections;
  }
  sections_[sections - 1].bodyEnd = static_cast<uint32_t>(size);
  return sections;
}

// The index: open addressing, filled to at most four fifths.
bool ProfileData::BuildIndex() {
  size_t size = 16;
  while (size * 4 < sectionCount_ * 5) size *= 2;
  index_ = static_cast<uint32_t*>(calloc(size, sizeof(uint32_t)));
  if (!index_) return false;
  indexSize_ = size;
  return true;
}

void ProfileData::IndexSections() {
  size_t mask = indexSize_ - 1;
  for (size_t i = 0; i < sectionCount_; ++i) {
    const Section& section = sections_[i];
    const char* name = text_ + section.nameOffset;
    size_t slot = HashNoCase(name, section.nameLength) & mask;
    bool duplicate = false;
    while (index_[slot] != 0) {
      const Section& other = sections_[index_[slot] - 1];
      if (EqualNoCase(text_ + other.nameOffset, other.nameLength, name, section.nameLength)) {
        duplicate = true;  // the first section of a name wins
        break;
      }
      slot = (slot + 1) & mask;
    }
    if (!duplicate) index_[slot] = static_cast<uint32_t>(i + 1);
  }
}

const ProfileData::Section* ProfileData::Lookup(const char* name, size_t length) const {
  if (!index_) return nullptr;
  // The keys of one procedure are read one after another from its section.
  if (last_ && EqualNoCase(text_ + last_->nameOffset, last_->nameLength, name, length)) {
    return last_;
  }
  size_t slot = HashNoCase(name, length) & (indexSize_ - 1);
  while (index_[slot] != 0) {
    const Section& section = sections_[index_[slot] - 1];
    if (EqualNoCase(text_ + section.nameOffset, section.nameLength, name, length)) {
      last_ = &section;
      return &section;
    }
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
  int firstByte = keyName.length ? AsciiLower(static_cast<unsigned char>(keyName.text[0])) : -1;
  EntryWalk walk(text_, found->bodyStart, found->bodyEnd, firstByte);
  EntryParts entry;
  while (walk.Next(&entry)) {
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
  auto listed = [this](const EntryParts& entry) {
    return entry.nameLength == 0 ? entry.hasValue : text_[entry.nameOffset] != ';';
  };
  size_t needed = 1;
  EntryParts entry;
  if (found) {
    EntryWalk walk(text_, found->bodyStart, found->bodyEnd);
    while (walk.Next(&entry)) {
      if (!listed(entry)) continue;
      needed += entry.nameLength + 1 + (entry.hasValue ? entry.valueLength + 1 : 0);
    }
  }
  if (!out || capacity < needed) return needed;
  char* write = out;
  if (found) {
    EntryWalk walk(text_, found->bodyStart, found->bodyEnd);
    while (walk.Next(&entry)) {
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
