// Starts a program on a window station that nobody can see, as a service or a SYSTEM startup
// script would: creates the window station "KestarioHidden" (CreateWindowStationA) with a desktop
// "Default" (CreateDesktopA) and starts the program there (STARTUPINFO.lpDesktop), then waits for
// it to end, at most the given number of seconds.
//
// Usage: station_launcher.exe SECONDS PROGRAM [ARGUMENT...]
// Prints what it did, the flags of both window stations (UOI_FLAGS; WSF_VISIBLE is 1), and how
// the program ended. Exit status: 0 when the program ended by itself, 1 when it had to be ended
// after the time-out, 2 when the station, the desktop or the program could not be made.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void PrintFlags(const char* what, HWINSTA station) {
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  if (GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed)) {
    std::printf("%s: UOI_FLAGS dwFlags=0x%lx, visible=%s\n", what, flags.dwFlags,
                (flags.dwFlags & WSF_VISIBLE) ? "yes" : "no");
  } else {
    std::printf("%s: GetUserObjectInformationA failed, error %lu\n", what, GetLastError());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: station_launcher.exe SECONDS PROGRAM [ARGUMENT...]\n");
    return 2;
  }
  DWORD seconds = static_cast<DWORD>(std::strtoul(argv[1], nullptr, 10));
  std::string commandLine = std::string("\"") + argv[2] + "\"";
  for (int i = 3; i < argc; ++i) commandLine += std::string(" ") + argv[i];

  HWINSTA previous = GetProcessWindowStation();
  PrintFlags("the launcher's window station", previous);
  HWINSTA station = CreateWindowStationA("KestarioHidden", 0, WINSTA_ALL_ACCESS, nullptr);
  if (station == nullptr) {
    std::printf("CreateWindowStationA failed, error %lu\n", GetLastError());
    return 2;
  }
  PrintFlags("the new window station KestarioHidden", station);
  // A desktop is made on the process's own window station: switch to the new one for it.
  if (!SetProcessWindowStation(station)) {
    std::printf("SetProcessWindowStation failed, error %lu\n", GetLastError());
    return 2;
  }
  HDESK desktop = CreateDesktopA("Default", nullptr, nullptr, 0, GENERIC_ALL, nullptr);
  DWORD desktopError = GetLastError();
  SetProcessWindowStation(previous);
  if (desktop == nullptr) {
    std::printf("CreateDesktopA failed, error %lu\n", desktopError);
    return 2;
  }
  std::printf("desktop KestarioHidden\\Default made\n");

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  char desktopName[] = "KestarioHidden\\Default";
  startup.lpDesktop = desktopName;
  PROCESS_INFORMATION process = {};
  std::string line = commandLine;
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    std::printf("CreateProcessA failed, error %lu\n", GetLastError());
    return 2;
  }
  std::printf("started %s on KestarioHidden\\Default\n", commandLine.c_str());
  std::fflush(stdout);
  DWORD waited = WaitForSingleObject(process.hProcess, seconds * 1000);
  int status = 0;
  if (waited == WAIT_OBJECT_0) {
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    std::printf("the program ended by itself, exit code %lu\n", code);
  } else {
    std::printf("the program did not end within %lu s; ended now\n", seconds);
    TerminateProcess(process.hProcess, 1);
    status = 1;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  CloseDesktop(desktop);
  CloseWindowStation(station);
  return status;
}
