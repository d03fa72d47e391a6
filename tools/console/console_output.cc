#include "tools/console/console_output.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <cstring>

namespace kestario {
namespace console {

#ifdef _WIN32
std::string Utf8(const wchar_t* text, size_t size) {
  if (size == 0) return std::string();
  int length =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length > 0 ? length : 0), '\0');
  if (length > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(size), &narrow[0], length, nullptr,
                        nullptr);
  }
  return narrow;
}

std::wstring Wide(const std::string& text) {
  if (text.empty()) return std::wstring();
  int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) {
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  }
  return wide;
}
#endif

#ifdef _WIN32
namespace {

// `wide` in the ANSI code page; false when a character has no exact form there.
bool ToAnsi(const std::wstring& wide, std::string* ansi) {
  ansi->clear();
  if (wide.empty()) return true;
  if (GetACP() == CP_UTF8) {
    *ansi = Utf8(wide.data(), wide.size());
    return true;
  }
  BOOL lossy = FALSE;
  int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                                   static_cast<int>(wide.size()), nullptr, 0, nullptr, &lossy);
  if (length <= 0 || lossy) return false;
  ansi->assign(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                      &(*ansi)[0], length, nullptr, &lossy);
  return !lossy;
}

}  // namespace

bool AnsiPath(const std::string& utf8Path, std::string* ansiPath, std::string* problem) {
  std::wstring wide = Wide(utf8Path);
  if (ToAnsi(wide, ansiPath)) return true;
  DWORD size = GetShortPathNameW(wide.c_str(), nullptr, 0);
  std::wstring shortPath(size, L'\0');
  if (size != 0) size = GetShortPathNameW(wide.c_str(), &shortPath[0], size);
  if (size == 0) {
    *problem = SystemReason(GetLastError());
    return false;
  }
  shortPath.resize(size);
  if (ToAnsi(shortPath, ansiPath)) return true;
  *problem = "its name cannot be written in this system's ANSI code page (" +
             std::to_string(GetACP()) + "), and it has no short (8.3) name that can";
  return false;
}
#else
bool AnsiPath(const std::string& utf8Path, std::string* ansiPath, std::string* /*problem*/) {
  *ansiPath = utf8Path;
  return true;
}
#endif

namespace {

#ifdef _WIN32
// WriteFile takes at most this many bytes, WriteConsoleW this many UTF-16 units, at a time.
constexpr size_t kLargestWrite = size_t{1} << 30;
constexpr size_t kConsolePiece = 8192;

bool WriteToConsole(HANDLE console, const std::string& text) {
  if (text.empty()) return true;
  std::wstring wide = Wide(text);
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

// Why the last write failed, in the system's words.
std::string WriteFailure() {
#ifdef _WIN32
  return SystemReason(GetLastError());
#else
  return std::strerror(errno != 0 ? errno : EIO);
#endif
}

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
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE) {
    SetLastError(ERROR_INVALID_HANDLE);  // a closed stream: nothing can be written
    return false;
  }
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) return WriteToConsole(handle, text);
  return WriteAll(reinterpret_cast<intptr_t>(handle), text.data(), text.size());
#else
  return WriteAll(stream == Stream::kOutput ? STDOUT_FILENO : STDERR_FILENO, text.data(),
                  text.size());
#endif
}

#ifdef _WIN32
std::string SystemReason(unsigned long code) {
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::string reason;
  if (length != 0 && text != nullptr) {
    while (length != 0 && (text[length - 1] == L'\r' || text[length - 1] == L'\n' ||
                           text[length - 1] == L' ' || text[length - 1] == L'.')) {
      --length;
    }
    reason = Utf8(text, length);
  }
  if (text != nullptr) LocalFree(text);
  return reason + (reason.empty() ? "" : " ") + "(error " + std::to_string(code) + ")";
}

std::vector<std::string> Utf8Arguments(int argc, wchar_t** argv) {
  std::vector<std::string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(Utf8(argv[i], wcslen(argv[i])));
  return arguments;
}
#endif

void Output::Write(const std::string& piece) {
  if (!written_) return;
#ifndef _WIN32
  errno = 0;
#endif
  if (!console::Write(Stream::kOutput, piece)) {
    written_ = false;
    failure_ = WriteFailure();
  }
}

int Output::Finish(const char* program, const std::string& err, int status, int failedStatus) {
  bool errWritten = console::Write(Stream::kError, err);
  if (!written_) {
    std::string said = std::string(program) + ": cannot write the output: " + failure_ + "\n";
    errWritten = console::Write(Stream::kError, said) && errWritten;
  }
  return written_ && errWritten ? status : failedStatus;
}

int Finish(const char* program, const std::string& out, const std::string& err, int status,
           int failedStatus) {
  Output output;
  output.Write(out);
  return output.Finish(program, err, status, failedStatus);
}

}  // namespace console
}  // namespace kestario
