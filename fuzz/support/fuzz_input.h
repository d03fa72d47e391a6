// The text layout of the fuzz inputs that carry a script: parts separated by lines "%%", so that
// seeds are plain text files and the fuzzer can move text between the parts.
#ifndef KESTARIO_FUZZ_SUPPORT_FUZZ_INPUT_H_
#define KESTARIO_FUZZ_SUPPORT_FUZZ_INPUT_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestario {
namespace fuzz {

// The separator line between two parts.
constexpr const char* kPartSeparator = "\n%%\n";

// Splits the bytes at every separator line into exactly `count` parts: missing parts are empty,
// and the last part keeps any further separators.
std::vector<std::string> SplitParts(const uint8_t* data, size_t size, size_t count);

// The lines of a text (split at "\n"; a last line without a line feed counts).
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace fuzz
}  // namespace kestario

#endif  // KESTARIO_FUZZ_SUPPORT_FUZZ_INPUT_H_
