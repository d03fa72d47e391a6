// The real system of the Windows build: every call forwards to the Win32 function it is named
// after. Failures are plain results (false, 0, null); nothing throws.
#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <sddl.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/profile_parts_win32.h"
#include "platform/system.h"
#include "text/byte_buffer.h"
#include "text/text_string.h"

namespace kestario {
namespace {

// Profile buffers start at these sizes and double while the platform cuts the result, up to
// kProfileBufferLimit. A value or section larger than the limit arrives cut.
constexpr DWORD kFirstValueBufferSize = 1024;
constexpr DWORD kFirstSectionBufferSize = 32768;
constexpr DWORD kProfileBufferLimit = 64u << 20;

// The predefined registry roots (HKEY_LOCAL_MACHINE and its kin) are 32-bit values that Windows
// sign-extends to pointer width; a RegistryHandle holds them zero-extended.
HKEY ToHkey(RegistryHandle handle) {
  if (handle >= 0x80000000u && handle <= 0x8000000Fu) {
    return reinterpret_cast<HKEY>(
        static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<LONG>(handle))));
  }
  return reinterpret_cast<HKEY>(handle);
}

// The owner, group and access list of the file `path`, or with `path` null of the file open as
// `file`: a block to free, or null with the error set.
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

// The path of the file that `handle` names, links followed; null when it cannot be had.
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

// The renames that Windows makes at the next restart (MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT):
// a REG_MULTI_SZ of pairs of NT paths ("\??\C:\..."), the target after a "!" when it replaces a
// file and empty for a deletion.
const wchar_t kSessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t kPendingRenames[] = L"PendingFileRenameOperations";

// `text` in the ANSI code page as UTF-16, in a block to free; null when it cannot be made.
wchar_t* WideCopy(const char* text) {
  int units = ::MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
  if (units <= 0) return nullptr;
  wchar_t* wide = static_cast<wchar_t*>(malloc(static_cast<size_t>(units) * sizeof(wchar_t)));
  if (wide && ::MultiByteToWideChar(CP_ACP, 0, text, -1, wide, units) != units) {
    free(wide);
    return nullptr;
  }
  return wide;
}

// The full path of `path` as UTF-16, links followed when `followLinks` and the file exists; a block
// to free, or null.
wchar_t* WideFullPath(const char* path, bool followLinks) {
  char* resolved = nullptr;
  if (followLinks) {
    HANDLE file = ::CreateFileA(path, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    resolved = FinalPath(file);
    ::CloseHandle(file);
  } else {
    DWORD size = ::GetFullPathNameA(path, 0, nullptr, nullptr);
    resolved = size ? static_cast<char*>(malloc(size)) : nullptr;
    if (resolved && ::GetFullPathNameA(path, size, resolved, nullptr) >= size) {
      free(resolved);
      resolved = nullptr;
    }
  }
  wchar_t* wide = resolved ? WideCopy(resolved) : nullptr;
  free(resolved);
  return wide;
}

// An entry of the list without its "!" and "\??\".
const wchar_t* DosPath(const wchar_t* entry) {
  if (*entry == L'!') ++entry;
  return wcsncmp(entry, L"\\??\\", 4) == 0 ? entry + 4 : entry;
}

// Whether the last part of `path` matches `pattern` (a prefix, "*", a suffix), case ignored.
bool NameMatches(const wchar_t* path, const wchar_t* pattern) {
  const wchar_t* name = path;
  for (const wchar_t* p = path; *p; ++p) {
    if (*p == L'\\' || *p == L'/') name = p + 1;
  }
  const wchar_t* star = wcschr(pattern, L'*');
  if (!star) return _wcsicmp(name, pattern) == 0;
  size_t prefix = static_cast<size_t>(star - pattern);
  size_t suffix = wcslen(star + 1);
  size_t length = wcslen(name);
  return length >= prefix + suffix && _wcsnicmp(name, pattern, prefix) == 0 &&
         _wcsicmp(name + length - suffix, star + 1) == 0;
}

bool SamePath(const wchar_t* one, const wchar_t* other) {
  return one && other && _wcsicmp(one, other) == 0;
}

// System::PendingRenamesOntoA.
bool PendingRenamesOnto(const char* to, const char* pattern, const char* keep, bool cancel,
                        ByteBuffer* sources) {
  HKEY key = nullptr;
  LONG status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0,
                                KEY_QUERY_VALUE | (cancel ? KEY_SET_VALUE : 0), &key);
  bool writable = status == ERROR_SUCCESS || !cancel;
  if (status != ERROR_SUCCESS && cancel) {
    status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, &key);
  }
  if (status != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD size = 0;
  status = ::RegQueryValueExW(key, kPendingRenames, nullptr, &type, nullptr, &size);
  if (status != ERROR_SUCCESS || type != REG_MULTI_SZ) {
    ::RegCloseKey(key);
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_SUCCESS;
  }
  DWORD units = size / sizeof(wchar_t);
  // Room for two more NULs, so that a list stored without its last ones still ends.
  wchar_t* list = static_cast<wchar_t*>(calloc(units + 2, sizeof(wchar_t)));
  wchar_t* kept = static_cast<wchar_t*>(calloc(units + 2, sizeof(wchar_t)));
  wchar_t* named = WideFullPath(to, false);
  wchar_t* followed = WideFullPath(to, true);
  wchar_t* wanted = WideCopy(pattern);
  wchar_t* stays = keep && *keep ? WideFullPath(keep, false) : nullptr;
  bool ok = list && kept && named && wanted &&
            ::RegQueryValueExW(key, kPendingRenames, nullptr, &type, reinterpret_cast<BYTE*>(list),
                               &size) == ERROR_SUCCESS;
  units = size / sizeof(wchar_t);
  size_t keptUnits = 0;
  int found = 0;
  for (size_t at = 0; ok && at < units && list[at];) {
    const wchar_t* source = list + at;
    size_t sourceUnits = wcslen(source) + 1;
    const wchar_t* target = source + sourceUnits;
    size_t targetUnits = at + sourceUnits < units ? wcslen(target) + 1 : 0;
    at += sourceUnits + targetUnits;
    const wchar_t* from = DosPath(source);
    const wchar_t* onto = targetUnits > 1 ? DosPath(target) : nullptr;
    if (onto && (SamePath(onto, named) || SamePath(onto, followed)) && NameMatches(from, wanted) &&
        !SamePath(from, stays)) {
      ++found;
      int bytes = ::WideCharToMultiByte(CP_ACP, 0, from, -1, nullptr, 0, nullptr, nullptr);
      char* text = bytes > 0 ? static_cast<char*>(malloc(static_cast<size_t>(bytes))) : nullptr;
      if (text && ::WideCharToMultiByte(CP_ACP, 0, from, -1, text, bytes, nullptr, nullptr)) {
        sources->AppendBytes(text, static_cast<uint32_t>(bytes));
      }
      free(text);
      if (cancel) {
        // The staged file goes too (whatever its attributes); a rename that finds no source at
        // the restart does nothing.
        ::SetFileAttributesW(from, FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(from);
      }
      continue;
    }
    memcpy(kept + keptUnits, source, (sourceUnits + targetUnits) * sizeof(wchar_t));
    keptUnits += sourceUnits + targetUnits;
  }
  if (ok && cancel && found != 0) {
    if (!writable) {
      ok = false;
    } else if (keptUnits == 0) {
      ok = ::RegDeleteValueW(key, kPendingRenames) == ERROR_SUCCESS;
    } else {
      kept[keptUnits++] = L'\0';  // the list's end
      ok = ::RegSetValueExW(key, kPendingRenames, 0, REG_MULTI_SZ,
                            reinterpret_cast<const BYTE*>(kept),
                            static_cast<DWORD>(keptUnits * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
  }
  ::RegCloseKey(key);
  free(list);
  free(kept);
  free(named);
  free(followed);
  free(wanted);
  free(stays);
  return ok;
}

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

// "<ProgramData>\<name>\<SID>": this account's own folder. Made for the account, SYSTEM and the
// Administrators alone (a protected access list), so that no other user can put a file in it;
// one that somebody else made (its owner) is not used.
bool PrivateDataFolder(const char* name, TextString* folder, bool create) {
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
  HANDLE token = nullptr;
  if (!found || !::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  alignas(8) char userRecord[512];
  alignas(8) char ownerRecord[512];
  bool known = TokenRecord(token, TokenUser, userRecord, sizeof userRecord) &&
               TokenRecord(token, TokenOwner, ownerRecord, sizeof ownerRecord);
  ::CloseHandle(token);
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

// The copy behind CopyFileA. The data goes to a new file ".NAME.XXXXXX" in the destination's own
// folder, which gets everything the finished file should have (the source's modification time
// and attributes; for a replaced file, its access list, creation time and, where the user may
// assign them, its owner and group), is flushed, and is then put in place by one rename on that
// volume: MoveFileExA, replacing an existing destination (MOVEFILE_REPLACE_EXISTING) and never a
// file that appeared meanwhile when there was none. So the destination is the old file or the
// whole new one at every moment, never missing, and nothing can fail once the new file is in
// place. (ReplaceFileA is not used: it takes the old file away before the new one takes its name,
// and Wine's leaves an empty "rfXXXX.tmp" when two copies meet.) The temporary file is marked for
// deletion while it is written, so that it goes even when the process is ended half-way.
//
// Asked to keep the replaced file (`kept`), the copy makes it a hard link of that name just before
// the rename (on a volume without hard links, it renames the old file there first). Asked to
// replace a file in use, a destination that a running program holds (a sharing violation) is
// renamed to `kept` and the new file takes its name; when even the rename is refused (the file is
// held without FILE_SHARE_DELETE), the new file is left at `staged` and put in place at the next
// restart (MOVEFILE_DELAY_UNTIL_REBOOT, which only administrators may ask for).
class AtomicCopy {
 public:
  struct Extras {
    const KeptFileNames* names = nullptr;  // the names beside the destination
    bool keep = false;                     // a replaced file is kept
    bool mark = false;                     // a new file gets a second name
    bool replaceInUse = false;
    KeptAs* as = nullptr;  // receives which name the copy kept, marked or staged
  };

  static CopyOutcome Run(const char* from, const char* to, bool failIfExists,
                         const Extras& extras) {
    // Shared for writing too, as Linux has no say in it: a file that another handle may write
    // (the run log, which the run keeps open) is copied, and one that changes meanwhile fails.
    HANDLE source = ::CreateFileA(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (source == INVALID_HANDLE_VALUE) return CopyOutcome::kFailed;
    AtomicCopy copy(from, source, extras);
    CopyOutcome outcome = copy.CopyTo(to, failIfExists);
    ::CloseHandle(source);
    return outcome;
  }

 private:
  AtomicCopy(const char* from, HANDLE source, const Extras& extras)
      : from_(from), source_(source), extras_(extras) {
    if (extras_.as) *extras_.as = KeptAs::kNone;
  }

  // The name beside the destination that `as` stands for.
  bool Name(TextString* name, KeptAs as) const {
    const KeptFileNames* names = extras_.names;
    const char* given = !names                      ? nullptr
                        : as == KeptAs::kKept       ? names->kept
                        : as == KeptAs::kKeptHidden ? names->keptHidden
                        : as == KeptAs::kMark       ? names->mark
                                                    : names->staged;
    return given && name->SetText(given);
  }
  // Tells the caller what the copy kept.
  void Report(KeptAs as) const {
    if (extras_.as) *extras_.as = as;
  }

  static bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  }

  CopyOutcome CopyTo(const char* to, bool failIfExists) {
    constexpr CopyOutcome kFailed = CopyOutcome::kFailed;
    if (!::GetFileInformationByHandle(source_, &sourceInfo_) ||
        (sourceInfo_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return kFailed;
    }
    DWORD attributes = ::GetFileAttributesA(to);
    bool replacing = attributes != INVALID_FILE_ATTRIBUTES;
    if (!replacing && ::GetLastError() != ERROR_FILE_NOT_FOUND) return kFailed;
    char* resolved = nullptr;
    bool inUse = false;
    BY_HANDLE_FILE_INFORMATION targetInfo = {};
    if (replacing) {
      // The destination as it stands: the same file as the source (another spelling, a link)
      // is left alone; a symbolic link is written through to the file it names (its final
      // path, which Wine gives for Unix links too; a plain file without one is taken as named).
      HANDLE probe = ::CreateFileA(to, FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      if (probe == INVALID_HANDLE_VALUE) return kFailed;
      bool known = ::GetFileInformationByHandle(probe, &targetInfo) != FALSE;
      if (known && SameFile(sourceInfo_, targetInfo)) {
        ::CloseHandle(probe);
        return failIfExists ? kFailed : CopyOutcome::kCopied;
      }
      if (known) resolved = FinalPath(probe);
      ::CloseHandle(probe);
      if (!known || failIfExists ||
          (targetInfo.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) ||
          (!resolved && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        free(resolved);
        return kFailed;
      }
      if (resolved) to = resolved;
      // Writable, and held by nobody without sharing: the failures CopyFileA has. A file that a
      // running program holds may be replaced when the COPY asks for it.
      HANDLE writable =
          ::CreateFileA(to, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (writable == INVALID_HANDLE_VALUE) {
        inUse = CanReplaceInUse() && ::GetLastError() == ERROR_SHARING_VIOLATION;
        if (!inUse) {
          free(resolved);
          return kFailed;
        }
      } else {
        ::CloseHandle(writable);
      }
    }
    // The names beside it: the old file's (hidden, unless it was hidden already), the new one's
    // mark and its staged name.
    bool hiddenAlready = replacing && (targetInfo.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN);
    oldAttributes_ = targetInfo.dwFileAttributes;
    oldAs_ = hiddenAlready ? KeptAs::kKeptHidden : KeptAs::kKept;
    bool named = (!(extras_.keep || extras_.replaceInUse) || Name(&old_, oldAs_)) &&
                 (!extras_.mark || Name(&made_, KeptAs::kMark)) &&
                 (!(extras_.keep || extras_.mark || extras_.replaceInUse) ||
                  Name(&staged_, KeptAs::kStaged));
    if (!named) {
      free(resolved);
      return kFailed;
    }
    CopyOutcome outcome = CopyThroughTemporary(to, replacing ? &targetInfo : nullptr, inUse);
    free(resolved);
    return outcome;
  }

  bool CanReplaceInUse() const { return extras_.replaceInUse && extras_.names; }

  // Hides the old file, kept or set aside, unless it was hidden already.
  void HideOld() const {
    if (oldAttributes_ & FILE_ATTRIBUTE_HIDDEN) return;
    DWORD plain = oldAttributes_ & ~FILE_ATTRIBUTE_NORMAL;
    ::SetFileAttributesA(old_.GetConstText(), plain | FILE_ATTRIBUTE_HIDDEN);
  }

  // "<folder>\.<name>.XXXXXX" for `to`, the X's to be filled in; null when `to` ends in a
  // separator or memory runs out.
  static char* TemporaryTemplate(const char* to) {
    const char* name = to;
    for (const char* p = to; *p; ++p) {
      if (*p == '\\' || *p == '/' || (*p == ':' && p == to + 1)) name = p + 1;
    }
    if (!*name) return nullptr;
    size_t folderLength = static_cast<size_t>(name - to);
    size_t nameLength = strlen(name);
    char* result = static_cast<char*>(malloc(folderLength + nameLength + 9));
    if (!result) return nullptr;
    memcpy(result, to, folderLength);
    result[folderLength] = '.';
    memcpy(result + folderLength + 1, name, nameLength);
    memcpy(result + folderLength + 1 + nameLength, ".XXXXXX", 8);
    return result;
  }

  static void FillRandomSuffix(char* path, unsigned attempt) {
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    uint64_t value = (static_cast<uint64_t>(::GetTickCount()) << 20) ^ ::GetCurrentProcessId() ^
                     (static_cast<uint64_t>(attempt + 1) * 0x9E3779B97F4A7C15ull);
    LARGE_INTEGER counter;
    if (::QueryPerformanceCounter(&counter)) value ^= static_cast<uint64_t>(counter.QuadPart);
    char* end = path + strlen(path);
    for (char* p = end - 6; p < end; ++p) {
      *p = kDigits[value % 36];
      value /= 36;
    }
  }

  static bool MarkForDeletion(HANDLE file, bool deleted) {
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = deleted ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition) != FALSE;
  }

  // Whether two security descriptors hold the same access list.
  static bool SameAccessList(void* one, void* other) {
    BOOL present[2] = {FALSE, FALSE};
    BOOL defaulted = FALSE;
    ACL* list[2] = {nullptr, nullptr};
    SECURITY_DESCRIPTOR_CONTROL control[2] = {0, 0};
    DWORD revision = 0;
    void* descriptors[2] = {one, other};
    for (int i = 0; i < 2; ++i) {
      if (!::GetSecurityDescriptorDacl(descriptors[i], &present[i], &list[i], &defaulted) ||
          !::GetSecurityDescriptorControl(descriptors[i], &control[i], &revision)) {
        return false;
      }
    }
    if (present[0] != present[1] || ((control[0] ^ control[1]) & SE_DACL_PROTECTED)) return false;
    if (!list[0] || !list[1]) return list[0] == list[1];
    return list[0]->AclSize == list[1]->AclSize && memcmp(list[0], list[1], list[0]->AclSize) == 0;
  }

  // Carries the replaced file's access list over to `target` (opened with READ_CONTROL, WRITE_DAC
  // and WRITE_OWNER) where the new file did not get the same one from its folder, and its owner
  // and group where Windows lets this user assign them (its own account, or with the restore
  // privilege); otherwise the new file is the user's, as any file the user makes. A volume that
  // keeps no security (FAT) has none to carry.
  static bool CarrySecurity(const char* replaced, HANDLE target) {
    void* old = ReadSecurity(replaced, nullptr);
    if (!old) {
      DWORD error = ::GetLastError();
      return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
    }
    void* fresh = ReadSecurity(nullptr, target);
    bool ok = (fresh && SameAccessList(old, fresh)) ||
              ::SetKernelObjectSecurity(target, DACL_SECURITY_INFORMATION, old);
    if (ok) {
      (void)::SetKernelObjectSecurity(target, OWNER_SECURITY_INFORMATION, old);
      (void)::SetKernelObjectSecurity(target, GROUP_SECURITY_INFORMATION, old);
    }
    free(fresh);
    free(old);
    return ok;
  }

  // Gives `target` the source's modification time and attributes (as CopyFileA gives them) and
  // the replaced file's creation time.
  bool SetTimesAndAttributes(HANDLE target, const BY_HANDLE_FILE_INFORMATION* replaced) {
    const DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                        FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic = {};  // a time of 0 is left as it is
    if (replaced) basic.CreationTime = Time(replaced->ftCreationTime);
    basic.LastWriteTime = Time(sourceInfo_.ftLastWriteTime);
    DWORD wanted = sourceInfo_.dwFileAttributes & kKept;
    basic.FileAttributes = wanted ? wanted : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(target, FileBasicInfo, &basic, sizeof basic) != FALSE;
  }

  static LARGE_INTEGER Time(const FILETIME& time) {
    LARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = static_cast<LONG>(time.dwHighDateTime);
    return value;
  }

  // Renames `temporary` to `to`. Windows renames onto a file only while no program has it open:
  // one that has it open for a moment (a virus scanner, an indexer, another copy looking at it)
  // makes the rename fail, and it is tried again for about a second before the copy fails.
  static bool PutInPlace(const char* temporary, const char* to, bool replacing) {
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replacing ? MOVEFILE_REPLACE_EXISTING : 0);
    for (int attempt = 1;; ++attempt) {
      if (::MoveFileExA(temporary, to, flags)) return true;
      DWORD error = ::GetLastError();
      if (attempt == kRenameAttempts || !RenameRefused(error)) {
        ::SetLastError(error);
        return false;
      }
      ::Sleep(kRenamePause);
    }
  }

  // Whether a failed rename onto a file says that a program has the file open.
  static bool RenameRefused(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
  }
  static constexpr int kRenameAttempts = 20;
  static constexpr DWORD kRenamePause = 50;  // milliseconds

  // `replaced`: the destination's information when it exists, else null. `inUse`: a running
  // program holds it.
  CopyOutcome CopyThroughTemporary(const char* to, const BY_HANDLE_FILE_INFORMATION* replaced,
                                   bool inUse) {
    constexpr CopyOutcome kFailed = CopyOutcome::kFailed;
    char* temporary = TemporaryTemplate(to);
    if (!temporary) return kFailed;
    HANDLE target = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    for (unsigned attempt = 0; attempt < 100 && target == INVALID_HANDLE_VALUE; ++attempt) {
      FillRandomSuffix(temporary, attempt);
      // The rights asked for when a file is made are granted on this handle whatever access list
      // the file gets later, so that it can always be removed through it. It stays open while the
      // file is renamed into place, shared so that neither that rename nor another copy that
      // looks at the destination just then is refused.
      target =
          ::CreateFileA(temporary, GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
      error = target == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    if (target == INVALID_HANDLE_VALUE) {
      free(temporary);
      // A folder that refuses new files, with a destination the user may write (an
      // administrator may grant one file in a protected folder): copied in place, as before.
      // Not when the old file is to be kept or is in use: writing in place would lose it.
      bool inPlace = replaced && !inUse && !extras_.keep && error == ERROR_ACCESS_DENIED &&
                     ::CopyFileA(from_, to, FALSE);
      return inPlace ? CopyOutcome::kCopied : kFailed;
    }
    bool written = MarkForDeletion(target, true) && CopyData(target) && SourceUnchanged() &&
                   (!replaced || CarrySecurity(to, target)) && MarkForDeletion(target, false) &&
                   SetTimesAndAttributes(target, replaced) && ::FlushFileBuffers(target);
    CopyOutcome outcome = kFailed;
    bool inPlace = false;
    // A new file is marked before it takes its name; one that cannot be is not put in place.
    bool marking = !replaced && extras_.mark;
    bool marked = written && marking && Mark(temporary);
    if (written && !inUse && (marked || !marking)) {
      int kept = replaced && extras_.keep ? KeepOld(to) : kNotKept;
      if (kept != kKeepFailed &&
          PutInPlace(temporary, to, replaced != nullptr && kept != kRenamedAside)) {
        outcome = CopyOutcome::kCopied;
        if (kept != kNotKept) {
          HideOld();
          Report(oldAs_);
        }
        if (marked) Report(KeptAs::kMark);
      } else {
        DWORD refused = ::GetLastError();
        if (kept == kLinked) ::DeleteFileA(old_.GetConstText());
        if (kept == kRenamedAside) ::MoveFileExA(old_.GetConstText(), to, 0);
        // A destination that another program keeps open while sharing it for writing cannot be
        // renamed onto, but CopyFileA writes such a file in place: so does the copy, as for a
        // folder that refuses new files (not atomic). A program that does not share it for
        // writing (a running program's image) refuses that too, and the copy fails, unless the
        // COPY asks to replace it.
        bool held = kept != kKeepFailed && replaced && RenameRefused(refused);
        inUse = held && CanReplaceInUse();
        inPlace = held && !inUse && !extras_.keep;
      }
    }
    if (written && inUse) outcome = ReplaceInUse(to, temporary);
    bool ok = outcome != kFailed;
    if (!ok && marked) ::DeleteFileA(made_.GetConstText());
    if (!ok) {
      // Not in place: the temporary file goes, read-only or not, through the handle that may.
      FILE_BASIC_INFO plain = {};
      plain.FileAttributes = FILE_ATTRIBUTE_NORMAL;
      ::SetFileInformationByHandle(target, FileBasicInfo, &plain, sizeof plain);
      MarkForDeletion(target, true);
    }
    ::CloseHandle(target);
    free(temporary);
    if (inPlace && ::CopyFileA(from_, to, FALSE)) outcome = CopyOutcome::kCopied;
    return outcome;
  }

  // How the replaced file was kept (KeepOld).
  static constexpr int kNotKept = 0;
  static constexpr int kLinked = 1;        // `kept` is a hard link of it: `to` stays in place
  static constexpr int kRenamedAside = 2;  // a volume without hard links: it was renamed there
  static constexpr int kKeepFailed = 3;

  // Marks the new file `temporary` as made by the run: `kept` becomes a second name of it (on a
  // volume without hard links, an empty file of that name).
  bool Mark(const char* temporary) const {
    if (::CreateHardLinkA(made_.GetConstText(), temporary, nullptr)) return true;
    DWORD error = ::GetLastError();
    if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION) return false;
    HANDLE marker = ::CreateFileA(made_.GetConstText(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker == INVALID_HANDLE_VALUE) return false;
    ::CloseHandle(marker);
    return true;
  }

  // Keeps the file `to` under the name `kept`: a hard link, so that the destination stays whole
  // until the new file takes its name; on a volume without hard links (FAT), a rename.
  int KeepOld(const char* to) const {
    if (::CreateHardLinkA(old_.GetConstText(), to, nullptr)) return kLinked;
    DWORD error = ::GetLastError();
    if ((error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) &&
        ::MoveFileExA(to, old_.GetConstText(), 0)) {
      return kRenamedAside;
    }
    return kKeepFailed;
  }

  // The complete new file `temporary` for a destination that a running program holds. The
  // program keeps its open file under the kept name, and the new one takes the destination's;
  // the old one goes at the next restart. A file held without leave to rename it is replaced at
  // the next restart from the staged copy instead, when the run may ask for that.
  CopyOutcome ReplaceInUse(const char* to, const char* temporary) {
    if (::MoveFileExA(to, old_.GetConstText(), 0)) {
      if (!PutInPlace(temporary, to, false)) {
        ::MoveFileExA(old_.GetConstText(), to, 0);
        return CopyOutcome::kFailed;
      }
      HideOld();
      ::MoveFileExA(old_.GetConstText(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      Report(oldAs_);
      return CopyOutcome::kSetAside;
    }
    if (!::MoveFileExA(temporary, staged_.GetConstText(), MOVEFILE_WRITE_THROUGH)) {
      return CopyOutcome::kFailed;
    }
    if (!::MoveFileExA(staged_.GetConstText(), to,
                       MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
      return CopyOutcome::kFailed;  // the temporary's handle removes it, by whatever name
    }
    Report(KeptAs::kStaged);
    return CopyOutcome::kAtRestart;
  }

  bool CopyData(HANDLE target) {
    static constexpr DWORD kChunk = 1u << 20;
    char* buffer = static_cast<char*>(malloc(kChunk));
    if (!buffer) return false;
    bool ok = true;
    copied_ = 0;
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(source_, buffer, kChunk, &got, nullptr)) {
        ok = false;
        break;
      }
      if (got == 0) break;
      DWORD written = 0;
      if (!::WriteFile(target, buffer, got, &written, nullptr) || written != got) {
        ok = false;
        break;
      }
      copied_ += got;
    }
    free(buffer);
    return ok;
  }

  // Whether the source is still what it was when the copy began, and all of it was copied.
  bool SourceUnchanged() {
    BY_HANDLE_FILE_INFORMATION after;
    uint64_t size =
        (static_cast<uint64_t>(sourceInfo_.nFileSizeHigh) << 32) | sourceInfo_.nFileSizeLow;
    return ::GetFileInformationByHandle(source_, &after) &&
           after.nFileSizeHigh == sourceInfo_.nFileSizeHigh &&
           after.nFileSizeLow == sourceInfo_.nFileSizeLow && copied_ == size &&
           ::CompareFileTime(&after.ftLastWriteTime, &sourceInfo_.ftLastWriteTime) == 0;
  }

  const char* from_;
  HANDLE source_;
  Extras extras_;
  TextString old_, made_, staged_;  // the names beside the destination
  DWORD oldAttributes_ = 0;
  KeptAs oldAs_ = KeptAs::kKept;  // which name old_ is
  BY_HANDLE_FILE_INFORMATION sourceInfo_ = {};
  uint64_t copied_ = 0;
};

HANDLE ToHandle(FileHandle file) { return reinterpret_cast<HANDLE>(file); }

// The OVERLAPPED of a synchronous call at `offset` (kFileEnd gives 0xFFFFFFFF:0xFFFFFFFF).
OVERLAPPED At(uint64_t offset) {
  OVERLAPPED at = {};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

// char16_t and WCHAR are both UTF-16 units on Windows.
static_assert(sizeof(WCHAR) == sizeof(char16_t), "WCHAR is a UTF-16 unit");
const WCHAR* Wide(const char16_t* text) { return reinterpret_cast<const WCHAR*>(text); }

// Whether the running user is granted every right of `access` on `path` by its security
// descriptor, as an open would check it (GetFileSecurityA, then AccessCheck with the process's
// token). A file whose volume keeps no security descriptor grants everything.
bool Granted(const char* path, DWORD access) {
  void* descriptor = ReadSecurity(path, nullptr);
  if (!descriptor) {
    DWORD error = ::GetLastError();
    return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
  }
  HANDLE process = nullptr;
  HANDLE token = nullptr;
  bool granted = false;
  if (::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &process) &&
      ::DuplicateToken(process, SecurityImpersonation, &token)) {
    GENERIC_MAPPING mapping = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE,
                               FILE_ALL_ACCESS};
    DWORD desired = access;
    ::MapGenericMask(&desired, &mapping);
    PRIVILEGE_SET privileges;
    DWORD privilegesSize = sizeof privileges;
    DWORD grantedRights = 0;
    BOOL allowed = FALSE;
    granted = ::AccessCheck(descriptor, token, desired, &mapping, &privileges, &privilegesSize,
                            &grantedRights, &allowed) &&
              allowed;
  }
  if (token) ::CloseHandle(token);
  if (process) ::CloseHandle(process);
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

class Win32System final : public System {
 public:
  void GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                TextString* value, const char* file) override {
    // The call returns size - 1 when it had to cut the value (size - 2 when section or key is
    // null and it lists names); then the buffer doubles and the value is read again.
    const DWORD cut = (section == nullptr || key == nullptr) ? 2 : 1;
    for (DWORD size = kFirstValueBufferSize;; size *= 2) {
      if (!value->Allocate(size)) {
        value->Assign(defaultValue);  // Out of memory reads as an absent key.
        return;
      }
      DWORD length =
          ::GetPrivateProfileStringA(section, key, defaultValue, value->GetText(), size, file);
      if (length < size - cut || size >= kProfileBufferLimit) break;
    }
    value->Compact();
  }

  void GetPrivateProfileSectionA(const char* section, ByteBuffer* entries,
                                 const char* file) override {
    // The entries come as "a=1\0b=2\0\0"; the call returns their length without the last NUL,
    // and size - 2 when it had to cut them.
    DWORD length = 0;
    for (DWORD size = kFirstSectionBufferSize;; size *= 2) {
      if (!entries->Allocate(size)) {
        entries->Free();  // Out of memory: no bytes at all, unlike an empty section.
        return;
      }
      length = ::GetPrivateProfileSectionA(section, reinterpret_cast<char*>(entries->GetData()),
                                           size, file);
      if (length < size - 2 || size >= kProfileBufferLimit) {
        if (length > size - 2) length = size - 2;
        break;
      }
    }
    // Keep the entries and the NUL that ends the list; an empty section is one NUL byte.
    uint8_t* data = entries->GetData();
    data[length] = 0;
    if (length > 0 && data[length - 1] != 0) {
      // A cut list whose last entry lost its terminator: end the entry, then the list.
      data[length + 1] = 0;
      ++length;
    }
    entries->Remove(length + 1, entries->GetSize() - (length + 1));
  }

  // The platform's profile functions read the file afresh at every call: there is no parse of
  // ours to flush, and the platform's own flush (a WritePrivateProfileStringA call) is not made.
  void FlushPrivateProfile(const char* /*file*/) override {}
  bool HoldPrivateProfileA(const char* file, ByteBuffer* bytes) override {
    return Win32HoldProfile(file, bytes);
  }
  void ReleasePrivateProfileA(const char* file) override { Win32ReleaseProfile(file); }

  uint16_t GetUserDefaultUILanguage() override { return ::GetUserDefaultUILanguage(); }

  int LoadStringW(uint16_t language, unsigned id, char16_t* buffer, int size) override {
    // A string table resource holds 16 strings (block id / 16 + 1), each one its length in units
    // followed by its units; the block of the given language is taken, whatever the thread's.
    if (buffer == nullptr || size <= 0) return 0;
    buffer[0] = u'\0';
    HMODULE module = ::GetModuleHandleW(nullptr);
    HRSRC found = ::FindResourceExW(module, MAKEINTRESOURCEW(6) /* RT_STRING */,
                                    MAKEINTRESOURCEW(id / 16 + 1), language);
    HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    const WCHAR* units = loaded ? static_cast<const WCHAR*>(::LockResource(loaded)) : nullptr;
    if (units == nullptr) return 0;
    const WCHAR* end = units + ::SizeofResource(module, found) / sizeof(WCHAR);
    for (unsigned skip = id % 16; skip > 0 && units < end; --skip) units += 1 + *units;
    if (units >= end) return 0;
    int length = *units++;
    if (length > end - units) length = static_cast<int>(end - units);
    if (length > size - 1) length = size - 1;
    std::memcpy(buffer, units, static_cast<size_t>(length) * sizeof(char16_t));
    buffer[length] = u'\0';
    return length;
  }

  int MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) override {
    return ::MessageBoxW(nullptr, Wide(text), Wide(caption), style);
  }

  bool MultiByteToWideChar(unsigned codePage, uint32_t flags, const char* text, uint32_t size,
                           WideText* wide) override {
    wide->Clear();
    if (size == 0) return true;
    if (size > 0x3FFFFFFFu) return false;
    int length = static_cast<int>(size);
    int units = ::MultiByteToWideChar(codePage, flags, text, length, nullptr, 0);
    if (units <= 0) return false;
    char16_t* out = wide->Allocate(static_cast<uint32_t>(units));
    if (out == nullptr) return false;
    if (::MultiByteToWideChar(codePage, flags, text, length, reinterpret_cast<WCHAR*>(out),
                              units) != units) {
      wide->Clear();
      return false;
    }
    return true;
  }

  bool WideCharToMultiByte(unsigned codePage, const char16_t* text, uint32_t size,
                           TextString* bytes) override {
    if (size == 0) return bytes->SetText("");
    if (size > 0x1FFFFFFFu) return false;
    const WCHAR* units = Wide(text);
    int length = static_cast<int>(size);
    int needed = ::WideCharToMultiByte(codePage, 0, units, length, nullptr, 0, nullptr, nullptr);
    if (needed <= 0 || !bytes->Allocate(static_cast<uint32_t>(needed) + 1)) {
      bytes->SetText("");
      return false;
    }
    if (::WideCharToMultiByte(codePage, 0, units, length, bytes->GetText(), needed, nullptr,
                              nullptr) != needed) {
      bytes->SetText("");
      return false;
    }
    return true;
  }
  bool IsDBCSLeadByte(uint8_t byte) override { return ::IsDBCSLeadByte(byte) != FALSE; }

  bool WriteEventLogEntry(const char* source, uint16_t type, uint32_t id,
                          const char* const* strings, uint16_t count,
                          const char* /*text*/) override {
    // The strings in UTF-16; Event Viewer fills them into the text of the message table's entry
    // `id`. ReportEventW is a call to the event log service that waits for its answer, for as
    // long as the service takes: it runs on a thread of its own, and the run waits for it one
    // second at most. A thread still waiting then ends with the process; it owns the event.
    PendingEvent* event = new (std::nothrow) PendingEvent;
    if (event == nullptr) return false;
    event->type = type;
    event->id = id;
    event->count = count;
    event->wide = new (std::nothrow) WideText[count + 1u];
    event->units = new (std::nothrow) const WCHAR*[count + 1u];
    bool converted =
        event->wide != nullptr && event->units != nullptr &&
        this->MultiByteToWideChar(CP_UTF8, 0, source, static_cast<uint32_t>(std::strlen(source)),
                                  &event->source);
    for (uint16_t i = 0; converted && i < count; ++i) {
      converted = this->MultiByteToWideChar(
          CP_UTF8, 0, strings[i], static_cast<uint32_t>(std::strlen(strings[i])), &event->wide[i]);
      event->units[i] = Wide(event->wide[i].GetUnits());
    }
    if (!converted) {
      FreeEvent(event);
      return false;
    }
    HANDLE thread = ::CreateThread(nullptr, 0, WriteEvent, event, 0, nullptr);
    if (thread == nullptr) return WriteEvent(event) != 0;
    constexpr DWORD kEventWaitMilliseconds = 1000;
    DWORD written = 0;
    bool ended = ::WaitForSingleObject(thread, kEventWaitMilliseconds) == WAIT_OBJECT_0 &&
                 ::GetExitCodeThread(thread, &written);
    ::CloseHandle(thread);
    return ended && written != 0;
  }

  struct PendingEvent {
    uint16_t type = 0;
    uint32_t id = 0;
    uint16_t count = 0;
    WideText* wide = nullptr;
    const WCHAR** units = nullptr;
    WideText source;
  };

  static void FreeEvent(PendingEvent* event) {
    delete[] event->units;
    delete[] event->wide;
    delete event;
  }

  // Writes the event and frees it; 1 when it was written.
  static DWORD WINAPI WriteEvent(void* parameter) {
    PendingEvent* event = static_cast<PendingEvent*>(parameter);
    bool written = false;
    HANDLE source = ::RegisterEventSourceW(nullptr, Wide(event->source.GetUnits()));
    if (source != nullptr) {
      written = ::ReportEventW(source, event->type, 0, event->id, nullptr, event->count, 0,
                               event->units, nullptr) != FALSE;
      ::DeregisterEventSource(source);
    }
    FreeEvent(event);
    return written ? 1 : 0;
  }

  bool IsWindowStationVisible() override {
    HWINSTA station = ::GetProcessWindowStation();
    if (station == nullptr) return false;
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    if (!::GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, &needed)) {
      return false;
    }
    return (flags.dwFlags & WSF_VISIBLE) != 0;
  }

  uint32_t GetModuleFileNameA(char* buffer, uint32_t size) override {
    return ::GetModuleFileNameA(nullptr, buffer, size);
  }

  uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) override {
    return ::GetWindowsDirectoryA(buffer, size);
  }

  bool GetSystemDirectoryA(TextString* folder) override {
    char buffer[MAX_PATH + 1];
    UINT length = ::GetSystemDirectoryA(buffer, sizeof buffer);
    return length > 0 && length < sizeof buffer && folder->SetText(buffer);
  }

  bool GetComputerNameA(TextString* name) override {
    char buffer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof buffer;
    return ::GetComputerNameA(buffer, &size) && name->SetText(buffer);
  }

  bool GetUserNameA(TextString* name) override {
    char buffer[257];  // UNLEN + 1
    DWORD size = sizeof buffer;
    return ::GetUserNameA(buffer, &size) && name->SetText(buffer);
  }

  void GetLocalTime(LocalTime* time) override {
    // One instant, in UTC and in local time: their difference is the offset at that instant.
    SYSTEMTIME utc;
    SYSTEMTIME now;
    ::GetSystemTime(&utc);
    if (!::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &now)) {
      ::GetLocalTime(&now);
      ::GetSystemTime(&utc);
    }
    FILETIME utcTicks;
    FILETIME localTicks;
    time->utcOffsetMinutes = 0;
    if (::SystemTimeToFileTime(&utc, &utcTicks) && ::SystemTimeToFileTime(&now, &localTicks)) {
      ULARGE_INTEGER local;
      ULARGE_INTEGER universal;
      local.LowPart = localTicks.dwLowDateTime;
      local.HighPart = localTicks.dwHighDateTime;
      universal.LowPart = utcTicks.dwLowDateTime;
      universal.HighPart = utcTicks.dwHighDateTime;
      int64_t ahead = static_cast<int64_t>(local.QuadPart - universal.QuadPart);
      constexpr int64_t kTicksPerMinute = 600000000;  // 100 ns each
      int64_t half = ahead < 0 ? -kTicksPerMinute / 2 : kTicksPerMinute / 2;
      time->utcOffsetMinutes = static_cast<int16_t>((ahead + half) / kTicksPerMinute);
    }
    time->year = now.wYear;
    time->month = now.wMonth;
    time->day = now.wDay;
    time->hour = now.wHour;
    time->minute = now.wMinute;
    time->second = now.wSecond;
  }

  uint32_t GetCurrentProcessId() override { return ::GetCurrentProcessId(); }

  long RegOpenKeyExA(RegistryHandle root, const char* subKey, uint32_t access,
                     RegistryHandle* result) override {
    HKEY key = nullptr;
    LONG status = ::RegOpenKeyExA(ToHkey(root), subKey, 0, access, &key);
    *result = status == ERROR_SUCCESS ? reinterpret_cast<RegistryHandle>(key) : kNoRegistryHandle;
    return status;
  }

  long RegQueryValueExA(RegistryHandle key, const char* valueName, uint8_t* data,
                        uint32_t* size) override {
    DWORD byteCount = *size;
    LONG status = ::RegQueryValueExA(ToHkey(key), valueName, nullptr, nullptr, data, &byteCount);
    *size = byteCount;
    return status;
  }

  long RegCloseKey(RegistryHandle key) override { return ::RegCloseKey(ToHkey(key)); }
  long RegEnumValueA(RegistryHandle key, uint32_t index, TextString* name, uint32_t* type,
                     TextString* data) override {
    return Win32EnumRegistryValue(key, index, name, type, data);
  }
  // HKEY_LOCAL_MACHINE takes an administrator to change.
  bool RegistryWritableByOthers() override { return false; }

  bool DeleteFileA(const char* path) override { return ::DeleteFileA(path) != FALSE; }

  bool MoveFileAsideA(const char* path, const KeptFileNames& names, KeptAs* as) override {
    // What DeleteFileA refuses: a folder (a link to one too) and a read-only file. A file held
    // without FILE_SHARE_DELETE refuses the rename as it refuses the deletion.
    *as = KeptAs::kNone;
    DWORD attributes = ::GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
      return false;
    }
    bool hidden = (attributes & FILE_ATTRIBUTE_HIDDEN) != 0;
    const char* kept = hidden ? names.keptHidden : names.kept;
    if (!kept || !::MoveFileExA(path, kept, 0)) return false;
    if (!hidden) {
      ::SetFileAttributesA(kept, (attributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_HIDDEN);
    }
    *as = hidden ? KeptAs::kKeptHidden : KeptAs::kKept;
    return true;
  }

  bool CopyFileA(const char* from, const char* to, bool failIfExists) override {
    return AtomicCopy::Run(from, to, failIfExists, AtomicCopy::Extras()) != CopyOutcome::kFailed;
  }

  CopyOutcome CopyFileOverA(const char* from, const char* to, const KeptFileNames* names,
                            uint32_t flags, KeptAs* as) override {
    *as = KeptAs::kNone;
    AtomicCopy::Extras extras;
    extras.names = names;
    extras.keep = (flags & kCopyKeepReplaced) != 0;
    extras.mark = (flags & kCopyMarkNew) != 0;
    extras.replaceInUse = (flags & kCopyReplaceInUse) != 0;
    extras.as = as;
    return AtomicCopy::Run(from, to, false, extras);
  }

  bool MoveFileExA(const char* from, const char* to, uint32_t flags) override {
    return ::MoveFileExA(from, to, flags) != FALSE;
  }

  bool SetFileAttributesA(const char* path, uint32_t attributes) override {
    return ::SetFileAttributesA(path, attributes) != FALSE;
  }

  bool GetFinalPathNameA(const char* path, TextString* finalPath) override {
    HANDLE file = ::CreateFileA(path, FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    char* resolved = FinalPath(file);
    ::CloseHandle(file);
    bool ok = resolved && finalPath->SetText(resolved);
    free(resolved);
    return ok;
  }

  bool GetFileStampA(const char* path, FileStamp* stamp) override {
    // The name itself: a symbolic link or junction is not followed; a folder opens too.
    HANDLE handle = ::CreateFileA(
        path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    bool known = ::GetFileInformationByHandle(handle, &info) != FALSE;
    ::CloseHandle(handle);
    if (!known) return false;
    stamp->identity.volume = info.dwVolumeSerialNumber;
    stamp->identity.index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    stamp->size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    stamp->writeTime = (static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
                       info.ftLastWriteTime.dwLowDateTime;
    stamp->link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    stamp->folder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return true;
  }

  bool ListFilesA(const char* folder, const char* suffix, ByteBuffer* names) override {
    TextString pattern;
    if (!pattern.SetText(folder) || !pattern.AppendText("\\*") || !pattern.AppendText(suffix)) {
      return false;
    }
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(pattern.GetConstText(), &found);
    if (search == INVALID_HANDLE_VALUE) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    size_t suffixLength = strlen(suffix);
    bool ok = true;
    do {
      size_t length = strlen(found.cFileName);
      // "*.abc" also finds "x.abcd" through its short name: the suffix is checked.
      if ((found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ||
          length <= suffixLength || strcmp(found.cFileName + length - suffixLength, suffix) != 0) {
        continue;
      }
      ok = ok && names->AppendBytes(found.cFileName, static_cast<uint32_t>(length) + 1);
    } while (::FindNextFileA(search, &found));
    ::FindClose(search);
    return ok;
  }

  bool PendingRenamesOntoA(const char* to, const char* pattern, const char* keep, bool cancel,
                           ByteBuffer* sources) override {
    return PendingRenamesOnto(to, pattern, keep, cancel, sources);
  }

  bool GetDiskFreeSpaceExA(const char* folder, uint64_t* available, uint64_t* volume) override {
    // A share's name must end in a backslash; any folder may.
    TextString named;
    if (!folder || !named.SetText(folder)) return false;
    int32_t length = named.GetLength();
    if (length != 0 && folder[length - 1] != '\\' && !named.AppendText("\\")) return false;
    ULARGE_INTEGER space = {};
    char root[MAX_PATH + 1];
    DWORD serial = 0;
    if (!::GetDiskFreeSpaceExA(named.GetConstText(), &space, nullptr, nullptr) ||
        !::GetVolumePathNameA(folder, root, sizeof root) ||
        !::GetVolumeInformationA(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
      return false;
    }
    *available = space.QuadPart;
    *volume = serial;
    return true;
  }

  bool GetPrivateDataFolderA(const char* name, TextString* folder, bool create) override {
    return PrivateDataFolder(name, folder, create);
  }

  FileHandle CreateFileA(const char* path, FileAccess access) override {
    DWORD attributes = ::GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return kNoFile;
    }
    DWORD rights = access == FileAccess::kRead        ? GENERIC_READ
                   : access == FileAccess::kReadWrite ? GENERIC_READ | GENERIC_WRITE
                                                      : FILE_APPEND_DATA;
    HANDLE file = ::CreateFileA(
        path, rights, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        access == FileAccess::kRead ? OPEN_EXISTING : OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return kNoFile;
    // A console, a pipe or another device opens too: only a file on a disk is kept.
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      ::CloseHandle(file);
      return kNoFile;
    }
    return reinterpret_cast<FileHandle>(file);
  }

  bool ReadFile(FileHandle file, uint64_t offset, char* buffer, uint32_t size,
                uint32_t* done) override {
    OVERLAPPED at = At(offset);
    DWORD got = 0;
    bool ok =
        ::ReadFile(ToHandle(file), buffer, size, &got, &at) || ::GetLastError() == ERROR_HANDLE_EOF;
    *done = got;
    return ok;
  }

  bool WriteFile(FileHandle file, uint64_t offset, const char* bytes, uint32_t length,
                 uint32_t* done) override {
    OVERLAPPED at = At(offset);  // kFileEnd: 0xFFFFFFFF:0xFFFFFFFF, the file's end
    DWORD put = 0;
    bool ok = ::WriteFile(ToHandle(file), bytes, length, &put, &at) && put == length;
    *done = put;
    return ok;
  }

  bool FlushFileBuffers(FileHandle file) override {
    return ::FlushFileBuffers(ToHandle(file)) != FALSE;
  }

  bool LockFileEx(FileHandle file, uint32_t flags, uint64_t offset, uint64_t length) override {
    OVERLAPPED at = At(offset);
    return ::LockFileEx(ToHandle(file), flags, 0, static_cast<DWORD>(length),
                        static_cast<DWORD>(length >> 32), &at) != FALSE;
  }

  bool UnlockFileEx(FileHandle file, uint64_t offset, uint64_t length) override {
    OVERLAPPED at = At(offset);
    return ::UnlockFileEx(ToHandle(file), 0, static_cast<DWORD>(length),
                          static_cast<DWORD>(length >> 32), &at) != FALSE;
  }

  bool GetFileSizeEx(FileHandle file, uint64_t* size) override {
    LARGE_INTEGER value;
    if (!::GetFileSizeEx(ToHandle(file), &value)) return false;
    *size = static_cast<uint64_t>(value.QuadPart);
    return true;
  }

  bool GetFileInformationByHandle(FileHandle file, FileIdentity* identity) override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(ToHandle(file), &info)) return false;
    identity->volume = info.dwVolumeSerialNumber;
    identity->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
  }

  bool SetEndOfFile(FileHandle file, uint64_t size) override {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(size);
    return ::SetFilePointerEx(ToHandle(file), at, nullptr, FILE_BEGIN) &&
           ::SetEndOfFile(ToHandle(file));
  }

  void CloseHandle(FileHandle file) override { ::CloseHandle(ToHandle(file)); }

  bool AnyFileMatchesA(const char* path) override {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    return true;
  }

  uint32_t GetFileAttributesA(const char* path) override { return ::GetFileAttributesA(path); }

  bool AccessCheckA(const char* path, uint32_t access) override {
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

  bool GetBinaryTypeA(const char* path, uint32_t* type) override {
    DWORD kind = 0;
    if (!path || !type || !::GetBinaryTypeA(path, &kind)) return false;
    *type = kind;
    return true;
  }

  bool GetFullPathNameA(const char* path, TextString* full) override {
    DWORD size = ::GetFullPathNameA(path, 0, nullptr, nullptr);
    if (size == 0 || !full->Allocate(size)) return false;
    DWORD length = ::GetFullPathNameA(path, size, full->GetText(), nullptr);
    return length > 0 && length < size;
  }

  bool GetFileLocalDate(const char* path, LocalDate* date) override {
    // Shared with every other handle: a file that another one writes (the run log) has a date.
    HANDLE file =
        ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    FILETIME written;
    BOOL read = ::GetFileTime(file, nullptr, nullptr, &written);
    ::CloseHandle(file);
    FILETIME local;
    SYSTEMTIME calendar;
    if (!read || !::FileTimeToLocalFileTime(&written, &local) ||
        !::FileTimeToSystemTime(&local, &calendar)) {
      return false;
    }
    date->year = calendar.wYear;
    date->month = calendar.wMonth;
    date->day = calendar.wDay;
    return true;
  }

  bool CreateProcessA(char* commandLine, const char* currentDirectory,
                      ProcessHandle* process) override {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created = {};
    if (!::CreateProcessA(nullptr, commandLine, nullptr, nullptr, FALSE, 0, nullptr,
                          currentDirectory, &startup, &created)) {
      *process = kNoProcess;
      return false;
    }
    ::CloseHandle(created.hThread);
    *process = reinterpret_cast<ProcessHandle>(created.hProcess);
    return true;
  }

  bool WaitForProcess(ProcessHandle process) override {
    return ::WaitForSingleObject(reinterpret_cast<HANDLE>(process), INFINITE) != WAIT_FAILED;
  }

  bool GetExitCodeProcess(ProcessHandle process, uint32_t* code) override {
    DWORD exitCode = 0;
    if (!::GetExitCodeProcess(reinterpret_cast<HANDLE>(process), &exitCode)) return false;
    *code = exitCode;
    return true;
  }

  void CloseProcess(ProcessHandle process) override {
    ::CloseHandle(reinterpret_cast<HANDLE>(process));
  }
};

}  // namespace

System& RealSystem() {
  static Win32System system;
  return system;
}

}  // namespace kestario
