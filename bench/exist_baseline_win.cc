// The floor for EXIST procedures under Wine: the profile and file calls that updater.exe makes for
// a script of COUNT EXIST procedures P0 ... P(COUNT-1), and nothing else (no symbols, no records).
//
// usage: exist_baseline.exe SCRIPT FOLDER COUNT [profile|find]    (exit 1 when a step fails)
//
// At start the DEFINE section and UPDATER's NAME and PROC are read, as the program's start-up
// reads them. Then for each procedure its MODE and FILE are read with GetPrivateProfileStringA
// (1,024-byte buffer, the program's first size), "<Data>" at the start of FILE is replaced by
// FOLDER (the program's symbol expansion, by hand), and FindFirstFileA and FindClose test the
// file. With "profile" only the profile calls are made, with "find" only the file calls (on the
// paths the script would give), to tell what the time goes to.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// FindFirstFileA and FindClose, as the program's EXIST makes them.
static bool Exists(const char* path) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) return 2;
  const char* script = argv[1];
  const char* folder = argv[2];
  long count = strtol(argv[3], nullptr, 10);
  bool profile = argc == 4 || strcmp(argv[4], "profile") == 0;
  bool find = argc == 4 || strcmp(argv[4], "find") == 0;
  if (!profile) {
    char path[MAX_PATH * 2];
    for (long i = 0; i < count; ++i) {
      snprintf(path, sizeof path, "%s\\f%ld.dat", folder, i);
      if (!Exists(path)) return 1;
    }
    return 0;
  }
  static char section[32768];
  GetPrivateProfileSectionA("DEFINE", section, sizeof section, script);
  char value[1024];
  GetPrivateProfileStringA("UPDATER", "NAME", "NO_DATA", value, sizeof value, script);
  // PROC is as long as the list: its buffer doubles until the list fits, as the program's does.
  for (DWORD size = 1024;; size *= 2) {
    char* proc = static_cast<char*>(malloc(size));
    if (!proc) return 1;
    DWORD length = GetPrivateProfileStringA("UPDATER", "PROC", "NO_DATA", proc, size, script);
    free(proc);
    if (length < size - 1) break;
  }
  char name[32];
  char path[MAX_PATH * 2];
  for (long i = 0; i < count; ++i) {
    snprintf(name, sizeof name, "P%ld", i);
    GetPrivateProfileStringA(name, "MODE", "NO_DATA", value, sizeof value, script);
    if (lstrcmpiA(value, "EXIST") != 0) return 1;
    GetPrivateProfileStringA(name, "FILE", "NO_DATA", value, sizeof value, script);
    if (!find) continue;
    const char* rest = strncmp(value, "<Data>", 6) == 0 ? value + 6 : value;
    snprintf(path, sizeof path, "%s%s", folder, rest);
    if (!Exists(path)) return 1;
  }
  return 0;
}
