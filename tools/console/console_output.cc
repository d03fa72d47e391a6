#include "tools/console/console_output.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>

namespace kestario {
namespace console {
namespace {

#ifdef _WIN32
// WriteFile takes at most this many bytes, WriteConsoleW this many UTF-16 units, at a time.
constexpr size_t kLargestWrite = size_t{1} << 30;
constexpr size_t kConsolePiece = 8192;

bool WriteToConsole(HANDLE console, const std::string& text) {
  if (text.empty()) return true;
  int units =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(units > 0 ? units : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
  for (size_t at = 0; at < wide.size();) {
    size_t count = std::min(kConsolePiece, wide.size() - at);
    // A surrogate pair stays within one piece.
    if (count < wide.size() - at && IS_HIGH_SURROGATE(wide[at + count - 1])) --count;
    DWORD written = 0;
    if (!WriteConsoleW(console, wide.data() + at, static_cast<DWORD>(count), &written, nullptr) ||
        written == 0) {
      return false;
    }
    at += written;
  }
  return true;
}
#endif

}  // namespace

bool WriteAll(intptr_t handle, const char* data, size_t size) {
  for (size_t at = 0; at < size;) {
#ifdef _WIN32
    DWORD written = 0;
    DWORD count = static_cast<DWORD>(std::min(kLargestWrite, size - at));
    if (!WriteFile(reinterpret_cast<HANDLE>(handle), data + at, count, &written, nullptr) ||
        written == 0) {
      return false;
    }
#else
    ssize_t written = write(static_cast<int>(handle), data + at, size - at);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
#endif
    at += static_cast<size_t>(written);
  }
  return true;
}

bool Write(Stream stream, const std::string& text) {
#ifdef _WIN32
  HANDLE handle = GetStdHandle(stream == Stream::kOutput ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return false;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) return WriteToConsole(handle, text);
  return WriteAll(reinterpret_cast<intptr_t>(handle), text.data(), text.size());
#else
  return WriteAll(stream == Stream::kOutput ? STDOUT_FILENO : STDERR_FILENO, text.data(),
                  text.size());
#endif
}

}  // namespace console
}  // namespace kestario
