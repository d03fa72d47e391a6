// updater-check: validates an update script before it is deployed. See tools/checker/command.h.
//
// Its output is UTF-8 (RunCheckCommand). On Windows a console is written in UTF-16 with
// WriteConsoleW, so that the texts read right whatever the console's code page; output that goes
// elsewhere (a file, a pipe) gets the UTF-8 bytes. Elsewhere the bytes go out as they are.
#ifdef _WIN32
#include <windows.h>
#endif

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "tools/checker/command.h"

namespace {

#ifdef _WIN32
// Writes `text` to the console behind `handle` as UTF-16; false when the handle is no console.
bool WriteToConsole(DWORD handleNumber, const std::string& text) {
  HANDLE handle = GetStdHandle(handleNumber);
  DWORD mode = 0;
  if (handle == INVALID_HANDLE_VALUE || handle == nullptr || !GetConsoleMode(handle, &mode)) {
    return false;
  }
  if (text.empty()) return true;
  int units =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(units > 0 ? units : 0), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], units);
  // In pieces: a console takes a limited amount in one call.
  constexpr size_t kPiece = 8192;
  for (size_t at = 0; at < wide.size(); at += kPiece) {
    DWORD written = 0;
    DWORD count = static_cast<DWORD>(wide.size() - at < kPiece ? wide.size() - at : kPiece);
    if (!WriteConsoleW(handle, wide.data() + at, count, &written, nullptr)) break;
  }
  return true;
}
#endif

void Write(FILE* stream, const std::string& text) {
#ifdef _WIN32
  std::fflush(stream);
  if (WriteToConsole(stream == stderr ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE, text)) return;
#endif
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  std::ostringstream out;
  std::ostringstream err;
  int status = kestario::checker::RunCheckCommand(arguments, out, err);
  Write(stdout, out.str());
  Write(stderr, err.str());
  return status;
}
