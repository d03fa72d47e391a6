// This account's own folder among the machine's shared data, and the owners trusted with it.
#include "platform/data_folder_win32.h"

#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <sddl.h>

#include <cstring>

#include "platform/handle_win32.h"

namespace kestario {
namespace {

// Whether `owner` is an account that this process trusts with its own folder: itself (its user or
// the default owner of what it creates), SYSTEM or the Administrators.
bool IsTrustedOwner(PSID owner, PSID user, PSID defaultOwner) {
  return owner && ::IsValidSid(owner) &&
         ((user && ::EqualSid(owner, user)) || (defaultOwner && ::EqualSid(owner, defaultOwner)) ||
          ::IsWellKnownSid(owner, WinLocalSystemSid) ||
          ::IsWellKnownSid(owner, WinBuiltinAdministratorsSid));
}

// A token's TOKEN_USER or TOKEN_OWNER record in `buffer`; false when it does not fit.
bool TokenRecord(HANDLE token, TOKEN_INFORMATION_CLASS kind, void* buffer, DWORD size) {
  DWORD needed = 0;
  return ::GetTokenInformation(token, kind, buffer, size, &needed) != FALSE;
}

}  // namespace

bool Win32PrivateDataFolder(const char* name, TextString* folder, bool create) {
  // ProgramData, the known folder (CSIDL_COMMON_APPDATA): from shell32, loaded from System32
  // only, and only when a folder is asked for.
  constexpr int kCommonAppData = 0x0023;
  using FolderPath = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
  HMODULE shell = ::LoadLibraryExA("shell32.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (!shell) return false;
  FolderPath folderPath = reinterpret_cast<FolderPath>(
      reinterpret_cast<void*>(::GetProcAddress(shell, "SHGetFolderPathA")));
  char base[MAX_PATH];
  bool found = folderPath && SUCCEEDED(folderPath(nullptr, kCommonAppData, nullptr, 0, base));
  ::FreeLibrary(shell);
  Handle token;
  if (!found || !::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.receive())) {
    return false;
  }
  alignas(8) char userRecord[512];
  alignas(8) char ownerRecord[512];
  bool known = TokenRecord(token.get(), TokenUser, userRecord, sizeof userRecord) &&
               TokenRecord(token.get(), TokenOwner, ownerRecord, sizeof ownerRecord);
  if (!known) return false;
  PSID user = reinterpret_cast<TOKEN_USER*>(userRecord)->User.Sid;
  PSID defaultOwner = reinterpret_cast<TOKEN_OWNER*>(ownerRecord)->Owner;
  char* sid = nullptr;
  if (!::ConvertSidToStringSidA(user, &sid)) return false;
  TextString path;
  // Each step of `name` in turn, then the account's own folder.
  bool ok = path.SetText(base) && path.AppendText("\\") && path.AppendText(name);
  for (char* at = path.GetText() + std::strlen(base) + 1; ok && create; ++at) {
    if (*at != '\\' && *at != '\0') continue;
    char ended = *at;
    *at = '\0';
    ::CreateDirectoryA(path.GetConstText(), nullptr);
    *at = ended;
    if (ended == '\0') break;
  }
  ok = ok && path.AppendText("\\") && path.AppendText(sid);
  if (ok && create) {
    TextString access;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (access.SetText("D:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FA;;;") &&
        access.AppendText(sid) && access.AppendText(")") &&
        ::ConvertStringSecurityDescriptorToSecurityDescriptorA(
            access.GetConstText(), SDDL_REVISION_1, &descriptor, nullptr)) {
      SECURITY_ATTRIBUTES attributes = {sizeof attributes, descriptor, FALSE};
      ::CreateDirectoryA(path.GetConstText(), &attributes);
      ::LocalFree(descriptor);
    }
  }
  ::LocalFree(sid);
  if (!ok) return false;
  DWORD attributes = ::GetFileAttributesA(path.GetConstText());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
      (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
    return false;
  }
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR ownerDescriptor = nullptr;
  if (::GetNamedSecurityInfoA(path.GetConstText(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                              &owner, nullptr, nullptr, nullptr,
                              &ownerDescriptor) != ERROR_SUCCESS) {
    return false;
  }
  bool trusted = IsTrustedOwner(owner, user, defaultOwner);
  ::LocalFree(ownerDescriptor);
  return trusted && folder->SetText(path.GetConstText());
}

}  // namespace kestario
