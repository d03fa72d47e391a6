// Shows an event's text the way Event Viewer builds it from a registered source: the entry of the
// message table in the source's message file (updater.exe), formatted by FormatMessageW with the
// event's strings.
//
// Usage: event_text.exe PROGRAM ID STRINGS-FILE
// STRINGS-FILE holds the event's strings in UTF-8, one a line, a line break inside a string
// written as the two characters backslash and n. Prints the text in UTF-8 as hexadecimal on one
// line. Exit status: 0 when the text was built, 1 when the program has no such entry, 2 when the
// program or the file could not be read.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const std::string& utf8) {
  int units = MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, nullptr, 0);
  std::wstring wide(units > 0 ? static_cast<size_t>(units) : 1u, L'\0');
  if (units > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, &wide[0], units);
  wide.resize(wide.size() - 1);
  return wide;
}

std::string Unescape(const std::string& line) {
  std::string text;
  for (size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size() && line[i + 1] == 'n') {
      text += '\n';
      ++i;
    } else {
      text += line[i];
    }
  }
  return text;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: event_text.exe PROGRAM ID STRINGS-FILE\n");
    return 2;
  }
  HMODULE module = LoadLibraryExA(argv[1], nullptr, LOAD_LIBRARY_AS_DATAFILE);
  FILE* file = std::fopen(argv[3], "rb");
  if (module == nullptr || file == nullptr) {
    std::fprintf(stderr, "cannot read %s or %s\n", argv[1], argv[3]);
    return 2;
  }
  std::string all;
  char chunk[4096];
  for (size_t got; (got = std::fread(chunk, 1, sizeof chunk, file)) > 0;) all.append(chunk, got);
  std::fclose(file);
  std::vector<std::wstring> strings;
  for (size_t start = 0; start < all.size();) {
    size_t end = all.find('\n', start);
    if (end == std::string::npos) end = all.size();
    strings.push_back(Wide(Unescape(all.substr(start, end - start))));
    start = end + 1;
  }
  std::vector<DWORD_PTR> arguments;
  for (const std::wstring& text : strings) {
    arguments.push_back(reinterpret_cast<DWORD_PTR>(text.c_str()));
  }
  arguments.resize(arguments.size() + 8, reinterpret_cast<DWORD_PTR>(L""));
  wchar_t* text = nullptr;
  DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      module, static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)), 0,
      reinterpret_cast<wchar_t*>(&text), 0, reinterpret_cast<va_list*>(arguments.data()));
  if (length == 0 || text == nullptr) {
    std::fprintf(stderr, "no message %s in %s (error %lu)\n", argv[2], argv[1], GetLastError());
    return 1;
  }
  int bytes =
      WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(length), &utf8[0], bytes, nullptr,
                      nullptr);
  LocalFree(text);
  for (unsigned char c : utf8) std::printf("%02x", c);
  std::printf("\n");
  return 0;
}
