// The real system of the Windows build: every call forwards to the ANSI Win32 function it is
// named after. Failures are plain results (false, 0, null); nothing throws.
#include <windows.h>

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

// The copy behind CopyFileA. The data goes to a new file ".NAME.XXXXXX" in the destination's own
// folder, which is flushed and then put in place in one step on that volume: ReplaceFileA when
// the destination exists, because it keeps the replaced file's owner, ACL and identity (as an
// administrator expects of a replaced file) and swaps the data in one rename, and MoveFileExA
// with MOVEFILE_WRITE_THROUGH when it does not (without MOVEFILE_REPLACE_EXISTING, so a file that
// appeared meanwhile is never overwritten). Whatever fails, the destination is the old file or
// the whole new one. The temporary file is marked for deletion while it is written, so that it
// goes even when the process is ended half-way.
class AtomicCopy {
 public:
  static bool Run(const char* from, const char* to, bool failIfExists) {
    HANDLE source = ::CreateFileA(from, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (source == INVALID_HANDLE_VALUE) return false;
    AtomicCopy copy(from, source);
    bool ok = copy.CopyTo(to, failIfExists);
    ::CloseHandle(source);
    return ok;
  }

 private:
  AtomicCopy(const char* from, HANDLE source) : from_(from), source_(source) {}

  static bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  }

  bool CopyTo(const char* to, bool failIfExists) {
    if (!::GetFileInformationByHandle(source_, &sourceInfo_) ||
        (sourceInfo_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return false;
    }
    DWORD attributes = ::GetFileAttributesA(to);
    bool replacing = attributes != INVALID_FILE_ATTRIBUTES;
    if (!replacing && ::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
    char* resolved = nullptr;
    if (replacing) {
      // The destination as it stands: the same file as the source (another spelling, a link)
      // is left alone; a symbolic link is written through to the file it names (its final
      // path, which Wine gives for Unix links too; a plain file without one is taken as named).
      HANDLE probe = ::CreateFileA(to, FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      if (probe == INVALID_HANDLE_VALUE) return false;
      BY_HANDLE_FILE_INFORMATION targetInfo;
      bool known = ::GetFileInformationByHandle(probe, &targetInfo) != FALSE;
      if (known && SameFile(sourceInfo_, targetInfo)) {
        ::CloseHandle(probe);
        return !failIfExists;
      }
      if (known) resolved = FinalPath(probe);
      ::CloseHandle(probe);
      if (!known || failIfExists ||
          (targetInfo.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) ||
          (!resolved && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        free(resolved);
        return false;
      }
      if (resolved) to = resolved;
      // Writable, and held by nobody without sharing: the failures CopyFileA has.
      HANDLE writable =
          ::CreateFileA(to, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (writable == INVALID_HANDLE_VALUE) {
        free(resolved);
        return false;
      }
      ::CloseHandle(writable);
    }
    bool ok = CopyThroughTemporary(to, replacing);
    free(resolved);
    return ok;
  }

  // The path of the file that `handle` names, links followed; null when it cannot be had.
  static char* FinalPath(HANDLE handle) {
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

  bool CopyThroughTemporary(const char* to, bool replacing) {
    char* temporary = TemporaryTemplate(to);
    if (!temporary) return false;
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
      return replacing && error == ERROR_ACCESS_DENIED && ::CopyFileA(from_, to, FALSE);
    }
    bool ok = MarkForDeletion(target, true) && CopyData(target) && SourceUnchanged() &&
              ::SetFileTime(target, nullptr, nullptr, &sourceInfo_.ftLastWriteTime) &&
              ::FlushFileBuffers(target) && MarkForDeletion(target, false);
    ::CloseHandle(target);
    if (ok) {
      if (replacing) {
        ok = ::ReplaceFileA(to, temporary, nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr,
                            nullptr) != FALSE;
        if (!ok && ::GetLastError() == ERROR_UNABLE_TO_MOVE_REPLACEMENT) {
          // The old file is gone and the new one still has its temporary name: put it in place.
          ok = ::MoveFileExA(temporary, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
        }
      } else {
        ok = ::MoveFileExA(temporary, to, MOVEFILE_WRITE_THROUGH) != FALSE;
      }
      // The new file carries the source's attributes, as CopyFileA gives them.
      DWORD kept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                   FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
      DWORD wanted = sourceInfo_.dwFileAttributes & kept;
      if (ok && !::SetFileAttributesA(to, wanted ? wanted : FILE_ATTRIBUTE_NORMAL)) ok = false;
    }
    if (!ok) ::DeleteFileA(temporary);  // gone already when marked; a name left after a failed move
    free(temporary);
    return ok;
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
  BY_HANDLE_FILE_INFORMATION sourceInfo_ = {};
  uint64_t copied_ = 0;
};

// Whether the running user is granted every right of `access` on `path` by its security
// descriptor, as an open would check it (GetFileSecurityA, then AccessCheck with the process's
// token). A file whose volume keeps no security descriptor grants everything.
bool Granted(const char* path, DWORD access) {
  const SECURITY_INFORMATION parts =
      OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
  DWORD size = 0;
  if (!::GetFileSecurityA(path, parts, nullptr, 0, &size) &&
      ::GetLastError() == ERROR_NOT_SUPPORTED) {
    return true;
  }
  if (size == 0) return false;
  void* descriptor = malloc(size);
  HANDLE process = nullptr;
  HANDLE token = nullptr;
  bool granted = false;
  if (descriptor && ::GetFileSecurityA(path, parts, descriptor, size, &size) &&
      ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE, &process) &&
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

  bool CopyFileA(const char* from, const char* to, bool failIfExists) override {
    return AtomicCopy::Run(from, to, failIfExists);
  }

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
