// Holds a file open with share mode 0, as another program that locks it would, until a second
// file appears (or two minutes pass). With "shared" it shares the file for reading, writing and
// deleting instead, as a program that only looks at it would.
//
// usage: hold_open.exe FILE RELEASE [shared]
//   prints "held" once FILE is open (exit 1 when it cannot be opened), then waits until the
//   file RELEASE exists, closes FILE and exits 0. FILE "-" holds nothing: the program only waits
//   for RELEASE (a start line for programs that are to go on together).
#include <windows.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
  bool shared = argc == 4 && std::strcmp(argv[3], "shared") == 0;
  if (argc != 3 && !shared) {
    std::fprintf(stderr, "usage: hold_open FILE RELEASE [shared]\n");
    return 2;
  }
  bool nothing = std::strcmp(argv[1], "-") == 0;
  DWORD sharing = shared ? FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE : 0;
  HANDLE file = nothing ? nullptr
                        : CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, sharing, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "hold_open: cannot open %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  std::printf("held\n");
  std::fflush(stdout);
  for (int i = 0; i < 12000 && GetFileAttributesA(argv[2]) == INVALID_FILE_ATTRIBUTES; ++i) {
    Sleep(10);
  }
  if (!nothing) CloseHandle(file);
  return 0;
}
