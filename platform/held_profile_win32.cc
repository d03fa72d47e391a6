// A profile file held open while the program reads it: others may read it, but nobody may write,
// delete or rename it until it is let go, so GetPrivateProfileStringA reads the bytes that were
// read here.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/profile_parts_win32.h"

namespace kestario {
namespace {

// The one file held, and its path (one file at a time).
HANDLE g_held = INVALID_HANDLE_VALUE;
char* g_heldPath = nullptr;

void LetGo() {
  if (g_held != INVALID_HANDLE_VALUE) ::CloseHandle(g_held);
  g_held = INVALID_HANDLE_VALUE;
  free(g_heldPath);
  g_heldPath = nullptr;
}

}  // namespace

bool Win32HoldProfile(const char* file, ByteBuffer* bytes) {
  bytes->Free();
  LetGo();
  // Shared for reading only: every writer, deleter and renamer is refused while it is open.
  HANDLE handle = ::CreateFileA(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size;
  bool read = ::GetFileType(handle) == FILE_TYPE_DISK && ::GetFileSizeEx(handle, &size) &&
              size.QuadPart >= 0 && size.QuadPart < 0x7FFFFFFF &&
              bytes->Allocate(static_cast<uint32_t>(size.QuadPart));
  DWORD done = 0;
  for (DWORD at = 0; read && at < static_cast<DWORD>(size.QuadPart); at += done) {
    read = ::ReadFile(handle, bytes->GetData() + at, static_cast<DWORD>(size.QuadPart) - at, &done,
                      nullptr) &&
           done > 0;
  }
  g_heldPath = read ? _strdup(file) : nullptr;
  if (g_heldPath == nullptr) {
    ::CloseHandle(handle);
    bytes->Free();
    return false;
  }
  g_held = handle;
  return true;
}

void Win32ReleaseProfile(const char* file) {
  if (g_heldPath != nullptr && file != nullptr && strcmp(g_heldPath, file) == 0) LetGo();
}

}  // namespace kestario
