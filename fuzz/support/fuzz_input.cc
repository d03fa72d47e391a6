#include "support/fuzz_input.h"

#include <cstring>

namespace kestario {
namespace fuzz {

std::vector<std::string> SplitParts(const uint8_t* data, size_t size, size_t count) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const size_t separator = std::strlen(kPartSeparator);
  std::vector<std::string> parts;
  size_t at = 0;
  while (parts.size() + 1 < count) {
    const size_t next = text.find(kPartSeparator, at);
    if (next == std::string::npos) break;
    parts.push_back(text.substr(at, next - at));
    at = next + separator;
  }
  parts.push_back(at <= text.size() ? text.substr(at) : std::string());
  parts.resize(count);
  return parts;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(at, end - at));
    at = end + 1;
  }
  return lines;
}

}  // namespace fuzz
}  // namespace kestario
