// A stand-alone box: shows one MessageBoxA whose caption and text are given in the ANSI code page
// (CP932 on a Japanese system), so the harness can be proven without the updater itself.
//
// Usage: box_probe.exe STYLE CAPTION-HEX TEXT-HEX
// where CAPTION-HEX and TEXT-HEX are the bytes in hexadecimal. Prints the answer as "answer N".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Decodes hexadecimal text into bytes; returns a malloc'ed NUL-terminated string or null.
char* DecodeHex(const char* hex) {
  size_t length = std::strlen(hex) / 2;
  char* bytes = static_cast<char*>(std::malloc(length + 1));
  if (bytes == nullptr) return nullptr;
  for (size_t i = 0; i < length; ++i) {
    unsigned value = 0;
    if (std::sscanf(hex + 2 * i, "%2x", &value) != 1) {
      std::free(bytes);
      return nullptr;
    }
    bytes[i] = static_cast<char>(value);
  }
  bytes[length] = '\0';
  return bytes;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: box_probe STYLE CAPTION-HEX TEXT-HEX\n");
    return 2;
  }
  unsigned style = static_cast<unsigned>(std::strtoul(argv[1], nullptr, 0));
  char* caption = DecodeHex(argv[2]);
  char* text = DecodeHex(argv[3]);
  if (caption == nullptr || text == nullptr) return 2;
  int answer = MessageBoxA(nullptr, text, caption, style);
  std::printf("answer %d\n", answer);
  std::fflush(stdout);
  std::free(caption);
  std::free(text);
  return 0;
}
