// What the command-line tools (updater-check, updater-report) print: UTF-8 texts, to standard
// output or standard error. On Windows a console is written in UTF-16 with WriteConsoleW, so that
// every text reads right whatever the console's code page; output that goes elsewhere (a file, a
// pipe) gets the UTF-8 bytes, as everything does on Linux.
#ifndef KESTARIO_TOOLS_CONSOLE_CONSOLE_OUTPUT_H_
#define KESTARIO_TOOLS_CONSOLE_CONSOLE_OUTPUT_H_

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestario {
namespace console {

enum class Stream { kOutput, kError };

// Writes all of UTF-8 `text`; false when the stream took less.
bool Write(Stream stream, const std::string& text);

// Writes all `size` bytes to the open file `handle` (a file descriptor on Linux, a HANDLE on
// Windows), in as many calls as it takes; false when one fails.
bool WriteAll(intptr_t handle, const char* data, size_t size);

}  // namespace console
}  // namespace kestario

#endif  // KESTARIO_TOOLS_CONSOLE_CONSOLE_OUTPUT_H_
