// What an open would answer the running user now, asked of a file's security descriptor.
#include "platform/file_checks_win32.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/file_calls.h"
#include "platform/file_info_win32.h"
#include "platform/handle_win32.h"

namespace kestario {
namespace {

// Whether the running user is granted every right of `access` on `path` by its security
// descriptor, as an open would check it (GetFileSecurityA, then AccessCheck with the process's
// token). A file whose volume keeps no security descriptor grants everything.
bool Granted(const char* path, DWORD access) {
  void* descriptor = ReadSecurity(path, nullptr);
  if (!descriptor) {
    DWORD error = ::GetLastError();
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
  }
  Handle process;
  Handle token;
  bool granted = false;
  if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, process.receive()) &&
      ::DuplicateToken(process.get(), SecurityImpersonation, token.receive())) {
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    DWORD desired = access;
    ::MapGenericMask(&desired, &mapping);
    PRIVILEGE_SET privileges;
    DWORD privilegesSize = sizeof privileges;
    DWORD grantedRights = 0;
    BOOL allowed = FALSE;
    granted = ::AccessCheck(descriptor, token.get(), desired, &mapping, &privileges,
                            &privilegesSize, &grantedRights, &allowed) &&
              allowed;
  }
  free(descriptor);
  return granted;
}

// Whether this machine's accounts decide who may change `path`: not so on another machine's
// share, which judges the user by its own.
bool DecidedHere(const char* path) {
  char root[MAX_PATH];
  return ::GetVolumePathNameA(path, root, sizeof root) && ::GetDriveTypeA(root) != DRIVE_REMOTE;
}

// The folder part of `path`, a malloc'd copy ("C:\" for a name in a drive's root); null when
// there is no separator or memory runs out.
char* FolderOf(const char* path) {
  const char* cut = nullptr;
  for (const char* p = path; *p; ++p) {
    if (*p == '\\' || *p == '/') cut = p;
  }
  if (!cut) return nullptr;
  size_t length = static_cast<size_t>(cut - path);
  if (length == 2 && path[1] == ':') ++length;
  char* folder = static_cast<char*>(malloc(length + 1));
  if (!folder) return nullptr;
  memcpy(folder, path, length);
  folder[length] = '\0';
  return folder;
}

}  // namespace

bool Win32AccessCheck(const char* path, uint32_t access) {
  if (!path || !*path) return false;
  // A share's rights cannot be checked from here: what exists counts as granted.
  if (!DecidedHere(path)) return ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
  DWORD rights = access & ~kDeleteAccess;
  if (rights != 0 && !Granted(path, rights)) return false;
  if ((access & kDeleteAccess) == 0 || Granted(path, DELETE)) return true;
  // The folder's right to remove its entries deletes any of them.
  char* folder = FolderOf(path);
  bool granted = folder && Granted(folder, FILE_DELETE_CHILD);
  free(folder);
  return granted;
}

}  // namespace kestario
