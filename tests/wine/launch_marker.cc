// A program that leaves a trace of having been started: it writes the command line it was given
// into a file named like itself with ".ran" appended, and exits 0.
#include <windows.h>

#include <cstdio>

int main() {
  char path[MAX_PATH + 8];
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  lstrcpyA(path + length, ".ran");
  FILE* trace = std::fopen(path, "wb");
  if (!trace) return 1;
  std::fputs(GetCommandLineA(), trace);
  std::fclose(trace);
  return 0;
}
