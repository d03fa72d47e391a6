// Fuzz target: the profile (INI) reader of the Linux build on arbitrary file contents, with the
// section and key names to look up taken from the input.
//
// Input: up to four lookups (a section and a key name each, from the front of the input), then
// the file's bytes. Checked: Parse succeeds; a found value is one piece of one line (no line end,
// no NUL byte); ListSection writes exactly the size it announced into a block of exactly that
// size, as NUL-ended entries of single lines ending in one more NUL; a key found by FindValue is
// listed (by that name) in its section's listing; the default of GetPrivateProfileString is
// returned for what FindValue does not find; parsing the same bytes again gives the same answers.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "platform/profile_reader.h"
#include "support/check.h"
#include "text/ascii.h"

namespace kestario {
namespace {

bool EqualNoCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && AsciiEqualNoCase(a.data(), b.data(), a.size());
}

std::string Trimmed(const std::string& name) {
  size_t start = 0;
  size_t end = name.size();
  while (start < end && IsProfileBlank(static_cast<unsigned char>(name[start]))) ++start;
  while (end > start && IsProfileBlank(static_cast<unsigned char>(name[end - 1]))) --end;
  return name.substr(start, end - start);
}

// The entries of a listing, checked for shape on the way.
std::vector<std::string> Listing(const ProfileData& data, const char* section) {
  const size_t size = data.ListSection(section, nullptr, 0);
  FUZZ_CHECK(size >= 1);
  std::vector<char> block(size);
  FUZZ_CHECK(data.ListSection(section, block.data(), size) == size);
  if (size > 1) {
    FUZZ_CHECK(data.ListSection(section, block.data(), size - 1) == size);  // too small: no write
  }
  FUZZ_CHECK(block[size - 1] == '\0');
  std::vector<std::string> entries;
  size_t at = 0;
  while (at < size - 1) {
    const std::string entry(block.data() + at);
    FUZZ_CHECK(!entry.empty());
    FUZZ_CHECK(entry.find_first_of("\r\n") == std::string::npos);
    FUZZ_CHECK(entry[0] != ';');
    entries.push_back(entry);
    at += entry.size() + 1;
  }
  FUZZ_CHECK(at == size - 1);
  return entries;
}

struct Lookup {
  std::string section;
  std::string key;
};

// The answers of one parse, to compare two parses of the same bytes.
std::string Answers(const ProfileData& data, const std::vector<Lookup>& lookups) {
  std::string answers;
  for (const Lookup& lookup : lookups) {
    ProfileSpan value;
    if (data.FindValue(lookup.section.c_str(), lookup.key.c_str(), &value)) {
      answers += "=" + std::string(value.text, value.length);
    } else {
      answers += "!";
    }
    answers += data.HasSection(lookup.section.c_str()) ? "+" : "-";
  }
  return answers;
}

}  // namespace
}  // namespace kestario

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using kestario::ProfileData;
  using kestario::ProfileSpan;
  FuzzedDataProvider in(data, size);
  std::vector<kestario::Lookup> lookups;
  const int count = in.ConsumeIntegralInRange<int>(0, 4);
  for (int i = 0; i < count; ++i) {
    kestario::Lookup lookup;
    lookup.section = in.ConsumeRandomLengthString(24).c_str();
    lookup.key = in.ConsumeRandomLengthString(24).c_str();
    lookups.push_back(lookup);
  }
  const std::vector<uint8_t> file = in.ConsumeRemainingBytes<uint8_t>();

  ProfileData parsed;
  FUZZ_CHECK(parsed.Parse(file.data(), file.size()));
  FUZZ_CHECK(parsed.SectionCount() >= 1);  // the unnamed section before the first "[...]"
  kestario::Listing(parsed, "");
  for (const kestario::Lookup& lookup : lookups) {
    ProfileSpan value;
    const bool found = parsed.FindValue(lookup.section.c_str(), lookup.key.c_str(), &value);
    const ProfileSpan resolved =
        kestario::ResolveProfileString(&parsed, lookup.section.c_str(), lookup.key.c_str(), "D");
    if (found) {
      const std::string text(value.text, value.length);
      FUZZ_CHECK(text.find_first_of(std::string("\r\n\0", 3)) == std::string::npos);
      FUZZ_CHECK(resolved.text == value.text && resolved.length == value.length);
      const std::string section = kestario::Trimmed(lookup.section);
      FUZZ_CHECK(parsed.HasSection(section.c_str()));
      const std::string key = kestario::Trimmed(lookup.key);
      if (!key.empty() && key[0] != ';') {
        bool listed = false;
        for (const std::string& entry : kestario::Listing(parsed, section.c_str())) {
          const size_t equals = entry.find('=');
          if (equals != std::string::npos && kestario::EqualNoCase(entry.substr(0, equals), key)) {
            listed = true;
          }
        }
        FUZZ_CHECK(listed);
      }
    } else {
      FUZZ_CHECK(std::string(resolved.text, resolved.length) == "D");
    }
    kestario::Listing(parsed, lookup.section.c_str());
  }

  // A second parse into the same object replaces the first and answers alike.
  const std::string first = kestario::Answers(parsed, lookups);
  FUZZ_CHECK(parsed.Parse(file.data(), file.size()));
  FUZZ_CHECK(kestario::Answers(parsed, lookups) == first);
  ProfileData empty;
  FUZZ_CHECK(empty.Parse(nullptr, 0));
  return 0;
}
