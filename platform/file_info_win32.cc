// What the Windows build reads about a file in more than one of its calls.
#include "platform/file_info_win32.h"

#include <cstdlib>
#include <cstring>

#include "platform/handle_win32.h"

namespace kestario {

void* ReadSecurity(const char* path, HANDLE file) {
  const SECURITY_INFORMATION kWhat =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  void* descriptor = nullptr;
  DWORD size = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    BOOL read = path ? ::GetFileSecurityA(path, kWhat, descriptor, size, &size)
                     : ::GetKernelObjectSecurity(file, kWhat, descriptor, size, &size);
    if (read) return descriptor;
    free(descriptor);
    descriptor = nullptr;
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return nullptr;
    descriptor = malloc(size);
    if (!descriptor) return nullptr;
  }
  free(descriptor);
  return nullptr;
}

char* FinalPath(HANDLE handle) {
  DWORD size = ::GetFinalPathNameByHandleA(handle, nullptr, 0, FILE_NAME_NORMALIZED);
  if (size == 0) return nullptr;
  char* path = static_cast<char*>(malloc(size + 1));
  if (!path) return nullptr;
  DWORD length = ::GetFinalPathNameByHandleA(handle, path, size + 1, FILE_NAME_NORMALIZED);
  if (length == 0 || length > size) {
    free(path);
    return nullptr;
  }
  if (strncmp(path, "\\\\?\\", 4) == 0 && path[5] == ':') memmove(path, path + 4, length - 3);
  return path;
}
char* FinalPathOf(const char* path) {
  Handle file(::CreateFileA(path, FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file.valid() ? FinalPath(file.get()) : nullptr;
}

}  // namespace kestario
