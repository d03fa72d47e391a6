// The real system of the Windows build: every call forwards to the ANSI Win32 function it is
// named after. Failures are plain results (false, 0, null); nothing throws.
#include <windows.h>
// After windows.h:
#include <aclapi.h>
#include <sddl.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

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

// Whether `owner` is an account that this process trusts with its journals: itself (its user or
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

// "<ProgramData>\Kestario\Rollback\<SID>": the folder of this account's journals. Made for the
// account, SYSTEM and the Administrators alone (a protected access list), so that no other user
// can put a journal in it; one that somebody else made (its owner) is not used.
bool JournalFolder(TextString* folder, bool create) {
  // ProgramData, the known folder (CSIDL_COMMON_APPDATA): from shell32, loaded from System32
  // only, and only by the runs that keep journals.
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
  bool ok = path.SetText(base) && path.AppendText("\\Kestario");
  if (ok && create) ::CreateDirectoryA(path.GetConstText(), nullptr);
  ok = ok && path.AppendText("\\Rollback");
  if (ok && create) ::CreateDirectoryA(path.GetConstText(), nullptr);
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
// folder, which is flushed and then put in place in one step on that volume: ReplaceFileA when
// the destination exists, because it keeps the replaced file's owner, ACL and identity (as an
// administrator expects of a replaced file) and swaps the data in one rename, and MoveFileExA
// with MOVEFILE_WRITE_THROUGH when it does not (without MOVEFILE_REPLACE_EXISTING, so a file that
// appeared meanwhile is never overwritten). Whatever fails, the destination is the old file or
// the whole new one. The temporary file is marked for deletion while it is written, so that it
// goes even when the process is ended half-way.
//
// Asked to keep the replaced file (`kept`), ReplaceFileA renames it there (its backup name). Asked
// to replace a file in use, a destination that a running program holds (a sharing violation) is
// renamed to `kept` and the new file takes its name; when even the rename is refused (the file is
// held without FILE_SHARE_DELETE), the new file is left at `staged` and put in place at the next
// restart (MOVEFILE_DELAY_UNTIL_REBOOT, which only administrators may ask for).
class AtomicCopy {
 public:
  struct Extras {
    const char* kept = nullptr;  // the name of the old file, kept or set aside
    bool keep = false;           // the replaced file goes to `kept`
    bool replaceInUse = false;
    const char* staged = nullptr;
  };

  static CopyOutcome Run(const char* from, const char* to, bool failIfExists,
                         const Extras& extras) {
    HANDLE source = ::CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (source == INVALID_HANDLE_VALUE) return CopyOutcome::kFailed;
    AtomicCopy copy(from, source, extras);
    CopyOutcome outcome = copy.CopyTo(to, failIfExists);
    ::CloseHandle(source);
    return outcome;
  }

 private:
  AtomicCopy(const char* from, HANDLE source, const Extras& extras)
      : from_(from), source_(source), extras_(extras) {}

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
    if (replacing) {
      // The destination as it stands: the same file as the source (another spelling, a link)
      // is left alone; a symbolic link is written through to the file it names (its final
      // path, which Wine gives for Unix links too; a plain file without one is taken as named).
      HANDLE probe = ::CreateFileA(to, FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      if (probe == INVALID_HANDLE_VALUE) return kFailed;
      BY_HANDLE_FILE_INFORMATION targetInfo;
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
        inUse = extras_.replaceInUse && extras_.kept && extras_.staged &&
                ::GetLastError() == ERROR_SHARING_VIOLATION;
        if (!inUse) {
          free(resolved);
          return kFailed;
        }
      } else {
        ::CloseHandle(writable);
      }
    }
    CopyOutcome outcome = CopyThroughTemporary(to, replacing, inUse);
    free(resolved);
    return outcome;
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

  CopyOutcome CopyThroughTemporary(const char* to, bool replacing, bool inUse) {
    constexpr CopyOutcome kFailed = CopyOutcome::kFailed;
    char* temporary = TemporaryTemplate(to);
    if (!temporary) return kFailed;
    HANDLE target = INVALID_HANDLE_VALUE;
    DWORD error = 0;
    for (unsigned attempt = 0; attempt < 100 && target == INVALID_HANDLE_VALUE; ++attempt) {
      FillRandomSuffix(temporary, attempt);
      target = ::CreateFileA(temporary, GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
      error = target == INVALID_HANDLE_VALUE ? ::GetLastError() : 0;
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    if (target == INVALID_HANDLE_VALUE) {
      free(temporary);
      // A folder that refuses new files, with a destination the user may write (an
      // administrator may grant one file in a protected folder): copied in place, as before.
      // Not when the old file is to be kept: writing in place would lose it.
      bool inPlace = replacing && !inUse && !extras_.keep && error == ERROR_ACCESS_DENIED &&
                     ::CopyFileA(from_, to, FALSE);
      return inPlace ? CopyOutcome::kCopied : kFailed;
    }
    bool ok = MarkForDeletion(target, true) && CopyData(target) && SourceUnchanged() &&
              ::SetFileTime(target, nullptr, nullptr, &sourceInfo_.ftLastWriteTime) &&
              ::FlushFileBuffers(target) && MarkForDeletion(target, false);
    ::CloseHandle(target);
    CopyOutcome outcome = ok ? CopyOutcome::kCopied : kFailed;
    if (ok && replacing && !inUse) {
      const char* backup = extras_.keep ? extras_.kept : nullptr;
      ok = ::ReplaceFileA(to, temporary, backup, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                          nullptr) != FALSE;
      DWORD replaceError = ok ? 0 : ::GetLastError();
      if (replaceError ==
          (backup ? ERROR_UNABLE_TO_MOVE_REPLACEMENT_2 : ERROR_UNABLE_TO_MOVE_REPLACEMENT)) {
        // The old file is gone (to its backup name, when one was given) and the new one still
        // has its temporary name: put it in place.
        ok = ::MoveFileExA(temporary, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
      } else if (!ok && extras_.replaceInUse && extras_.kept && extras_.staged &&
                 (replaceError == ERROR_SHARING_VIOLATION ||
                  replaceError == ERROR_UNABLE_TO_REMOVE_REPLACED)) {
        inUse = true;  // a running program took the file meanwhile
      }
    } else if (ok && !replacing) {
      ok = ::MoveFileExA(temporary, to, MOVEFILE_WRITE_THROUGH) != FALSE;
    }
    if (ok && inUse) outcome = ReplaceInUse(to, temporary);
    // The new file carries the source's attributes, as CopyFileA gives them.
    if (ok && outcome != CopyOutcome::kAtRestart && !::SetFileAttributesA(to, NewAttributes())) {
      ok = false;
    }
    if (!ok) outcome = kFailed;
    // Gone already when marked; a name left after a failed move or a replacement in use.
    if (outcome != CopyOutcome::kAtRestart) ::DeleteFileA(temporary);
    free(temporary);
    return outcome;
  }

  DWORD NewAttributes() const {
    DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                 FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    DWORD wanted = sourceInfo_.dwFileAttributes & kept;
    return wanted ? wanted : FILE_ATTRIBUTE_NORMAL;
  }

  // The complete new file `temporary` for a destination that a running program holds. The
  // program keeps its open file under the kept name, and the new one takes the destination's;
  // the old one goes at the next restart. A file held without leave to rename it is replaced at
  // the next restart from the staged copy instead, when the run may ask for that.
  CopyOutcome ReplaceInUse(const char* to, const char* temporary) {
    if (::MoveFileExA(to, extras_.kept, 0)) {
      if (!::MoveFileExA(temporary, to, MOVEFILE_WRITE_THROUGH)) {
        ::MoveFileExA(extras_.kept, to, 0);
        return CopyOutcome::kFailed;
      }
      ::MoveFileExA(extras_.kept, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      return CopyOutcome::kSetAside;
    }
    if (!::MoveFileExA(temporary, extras_.staged, MOVEFILE_WRITE_THROUGH) ||
        !::SetFileAttributesA(extras_.staged, NewAttributes())) {
      ::DeleteFileA(extras_.staged);
      return CopyOutcome::kFailed;
    }
    if (!::MoveFileExA(extras_.staged, to,
                       MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
      ::DeleteFileA(extras_.staged);
      return CopyOutcome::kFailed;
    }
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

  int LoadStringA(unsigned id, char* buffer, int size) override {
    return ::LoadStringA(::GetModuleHandleA(nullptr), id, buffer, size);
  }

  bool AnsiToUtf8(const char* text, uint32_t size, ByteBuffer* utf8) override {
    if (size == 0 || size > 0x3FFFFFFFu) return false;
    int length = static_cast<int>(size);
    int wide = ::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, length, nullptr, 0);
    if (wide <= 0) return false;
    wchar_t* units = new (std::nothrow) wchar_t[wide];
    if (units == nullptr) return false;
    bool converted = false;
    if (::MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, text, length, units, wide) == wide) {
      int bytes = ::WideCharToMultiByte(CP_UTF8, 0, units, wide, nullptr, 0, nullptr, nullptr);
      if (bytes > 0 && utf8->Allocate(static_cast<uint32_t>(bytes))) {
        converted =
            ::WideCharToMultiByte(CP_UTF8, 0, units, wide, reinterpret_cast<char*>(utf8->GetData()),
                                  bytes, nullptr, nullptr) == bytes;
      }
    }
    delete[] units;
    return converted;
  }

  int MessageBoxA(const char* text, const char* caption, unsigned style) override {
    return ::MessageBoxA(nullptr, text, caption, style);
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
    SYSTEMTIME now;
    ::GetLocalTime(&now);
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

  bool DeleteFileA(const char* path) override { return ::DeleteFileA(path) != FALSE; }

  bool DeleteFileKeepingA(const char* path, const char* keptPath) override {
    // What DeleteFileA refuses: a folder (a link to one too) and a read-only file. A file held
    // without FILE_SHARE_DELETE refuses the rename as it refuses the deletion.
    DWORD attributes = ::GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))) {
      return false;
    }
    return ::MoveFileExA(path, keptPath, 0) != FALSE;
  }

  bool CopyFileA(const char* from, const char* to, bool failIfExists) override {
    return AtomicCopy::Run(from, to, failIfExists, AtomicCopy::Extras()) != CopyOutcome::kFailed;
  }

  CopyOutcome CopyFileKeepingA(const char* from, const char* to, const char* keptPath,
                               uint32_t flags, const char* stagedPath) override {
    AtomicCopy::Extras extras;
    extras.kept = keptPath;
    extras.keep = (flags & kCopyKeepReplaced) != 0;
    extras.replaceInUse = (flags & kCopyReplaceInUse) != 0;
    extras.staged = stagedPath;
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

  bool GetJournalFolder(TextString* folder, bool create) override {
    return JournalFolder(folder, create);
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

  bool AppendFileA(const char* path, const char* bytes, uint32_t length) override {
    // Append rights only: every write goes to the file's end, whoever else appends meanwhile.
    HANDLE file = ::CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = ::WriteFile(file, bytes, length, &written, nullptr) && written == length;
    if (!::CloseHandle(file)) ok = false;
    return ok;
  }

  bool FindAnyMatch(const char* path) override {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
    return true;
  }

  uint32_t GetFileAttributesA(const char* path) override { return ::GetFileAttributesA(path); }

  bool GetFileLocalDate(const char* path, LocalDate* date) override {
    HANDLE file = ::CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
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
