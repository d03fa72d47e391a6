// The real system of the Windows build: every call forwards to the ANSI Win32 function it is
// named after. Failures are plain results (false, 0, null); nothing throws.
#include <windows.h>

#include <cstdint>

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
        entries->Allocate(1);  // Out of memory reads as an empty section.
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

  int LoadStringA(unsigned id, char* buffer, int size) override {
    return ::LoadStringA(::GetModuleHandleA(nullptr), id, buffer, size);
  }

  int MessageBoxA(const char* text, const char* caption, unsigned style) override {
    return ::MessageBoxA(nullptr, text, caption, style);
  }

  uint32_t GetModuleFileNameA(char* buffer, uint32_t size) override {
    return ::GetModuleFileNameA(nullptr, buffer, size);
  }

  uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) override {
    return ::GetWindowsDirectoryA(buffer, size);
  }

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
    return ::CopyFileA(from, to, failIfExists ? TRUE : FALSE) != FALSE;
  }

  bool FindAnyMatch(const char* path) override {
    WIN32_FIND_DATAA found;
    HANDLE search = ::FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) return false;
    ::FindClose(search);
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
