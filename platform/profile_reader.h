// A parser of profile (INI) file contents, with the lookup rules of the Windows profile functions
// GetPrivateProfileStringA and GetPrivateProfileSectionA. Portable and free of I/O: it is given the
// file's bytes, so fuzz targets and comparison tests can drive it directly.
//
// Parsing, line by line:
// - A UTF-8 byte-order mark at the start is skipped. Bytes are not decoded otherwise.
// - A line ends at LF or CR (runs of them end one line), so LF, CRLF and lone CR all work.
// - Blanks are the bytes 0x09-0x0D, 0x1A (DOS end of file) and 0x20; they are dropped from both
//   ends of every line. Empty lines are skipped.
// - A line starting with "[" that holds a "]" starts a section. Its name is the text between the
//   "[" and the LAST "]", with blanks dropped; text after that "]" is ignored. "[]" is a section
//   with an empty name. A "[" line without any "]" is an ordinary entry line.
// - Lines before the first section form an unnamed section (name "").
// - Any other line is an entry. With a "=", the name is the text before the first "=" (blanks
//   before the "=" dropped) and the value the text after it (blanks after the "=" dropped).
//   Without "=", the whole line is a name without a value. A line starting with "=" is an entry
//   with an empty name; of several such lines in a row only the first is kept.
// - A NUL byte ends the name, value or section name it occurs in.
// Lookups:
// - Names compare ignoring the case of ASCII A-Z only. The first section of a name wins; later
//   sections of the same name are never consulted, not even for keys missing from the first.
//   Within a section the first entry of a name wins.
// - A single read (FindValue) drops blanks around the section and key names asked for and finds
//   only entries written with "=": a name without a value gives the default. One pair of
//   matching quotes (' or ") around the value is removed. Comment lines cannot get in the way of
//   a read: a line ";KEY=1" is an entry named ";KEY", which no key name without the ";" matches
//   (asked for by that very name, it is found, as with Wine's reader).
// - The section listing (ListSection) matches the section name as given (no blanks dropped) and
//   returns each entry as "name=value" (or the bare name), quotes kept, skipping entries whose
//   name starts with ";".
#ifndef KESTARIO_PLATFORM_PROFILE_READER_H_
#define KESTARIO_PLATFORM_PROFILE_READER_H_

#include <cstddef>
#include <cstdint>

namespace kestario {

// A run of bytes inside a ProfileData (not NUL-terminated).
struct ProfileSpan {
  const char* text;
  size_t length;
};

class ProfileData {
 public:
  ProfileData();
  ~ProfileData();
  ProfileData(const ProfileData&) = delete;
  ProfileData& operator=(const ProfileData&) = delete;

  // Parses a whole file's bytes, replacing earlier contents. False when memory runs out or the
  // file is larger than kMaxProfileSize (the data is then empty).
  bool Parse(const void* bytes, size_t size);
  // The same for a block from malloc, which the data keeps as its text instead of a copy (and
  // frees, also when it returns false).
  bool Adopt(char* bytes, size_t size);

  // The largest file that is parsed: offsets within it are kept in 32 bits.
  static constexpr size_t kMaxProfileSize = 0x7FFFFFFFu;

  // The value of `key` in `section` as a single read sees it: true and the value (quotes removed)
  // when found; false when the section, the key, or the key's "=" is missing.
  bool FindValue(const char* section, const char* key, ProfileSpan* value) const;

  // Whether a section of exactly this name (ignoring ASCII case) exists.
  bool HasSection(const char* section) const;

  // Writes the section listing: each entry followed by a NUL byte, then one more NUL byte (a single
  // NUL byte for an absent or empty section). Returns the size of the whole listing; writes only
  // when it fits into `capacity` bytes (pass null and 0 to learn the size).
  size_t ListSection(const char* section, char* out, size_t capacity) const;

  size_t SectionCount() const { return sectionCount_; }

 private:
  struct Section;
  size_t Scan();
  bool BuildIndex();
  void IndexSections();
  const Section* Lookup(const char* name, size_t length) const;
  void Clear();

  char* text_;
  size_t textLength_;
  Section* sections_;
  size_t sectionCount_;
  uint32_t* index_;  // open addressing: section number + 1, 0 for an empty slot
  size_t indexSize_;
  mutable const Section* last_;  // the section found by the last lookup
};

// The GetPrivateProfileStringA result for `data` (null when the file is absent): the found value,
// or else `defaultValue` with its trailing spaces dropped and one pair of surrounding quotes
// removed. The result points into `data` or `defaultValue`.
ProfileSpan ResolveProfileString(const ProfileData* data, const char* section, const char* key,
                                 const char* defaultValue);

// True for the bytes the profile functions treat as blanks.
bool IsProfileBlank(unsigned char c);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_PROFILE_READER_H_
