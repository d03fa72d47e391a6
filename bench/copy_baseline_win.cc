// The floor for the Windows big-file copy: a bare CopyFileA of the file followed by
// FlushFileBuffers of the copy, as the benchmark runs it under the same Wine as the program.
//
// usage: copy_baseline.exe FROM TO    (exit 1 when a step fails)
#include <windows.h>

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  if (!CopyFileA(argv[1], argv[2], FALSE)) return 1;
  HANDLE copy = CreateFileA(argv[2], GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (copy == INVALID_HANDLE_VALUE) return 1;
  BOOL flushed = FlushFileBuffers(copy);
  CloseHandle(copy);
  return flushed ? 0 : 1;
}
