// The real system of the Windows build: every call forwards to the Win32 function it is named
// after. Failures are plain results (false, 0, null); nothing throws.
#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/checked_image_win32.h"
#include "platform/copy_win32.h"
#include "platform/data_folder_win32.h"
#include "platform/file_checks_win32.h"
#include "platform/file_info_win32.h"
#include "platform/folder_handle_win32.h"
#include "platform/handle_win32.h"
#include "platform/pending_renames_win32.h"
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
    Handle thread(::CreateThread(nullptr, 0, WriteEvent, event, 0, nullptr));
    if (!thread.valid()) return WriteEvent(event) != 0;
    constexpr DWORD kEventWaitMilliseconds = 1000;
    DWORD written = 0;
    bool ended = ::WaitForSingleObject(thread.get(), kEventWaitMilliseconds) == WAIT_OBJECT_0 &&
                 ::GetExitCodeThread(thread.get(), &written);
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
    return Win32CopyFile(from, to, failIfExists, nullptr, 0, nullptr, nullptr) !=
           CopyOutcome::kFailed;
  }

  CopyOutcome CopyFileOverA(const char* from, const char* to, const KeptFileNames* names,
                            uint32_t flags, ContentPin* pin, KeptAs* as) override {
    *as = KeptAs::kNone;
    return Win32CopyFile(from, to, false, names, flags, pin, as);
  }

  bool MoveFileExA(const char* from, const char* to, uint32_t flags) override {
    return ::MoveFileExA(from, to, flags) != FALSE;
  }

  bool SetFileAttributesA(const char* path, uint32_t attributes) override {
    return ::SetFileAttributesA(path, attributes) != FALSE;
  }

  bool GetFinalPathNameA(const char* path, TextString* finalPath) override {
    char* resolved = FinalPathOf(path);
    bool ok = resolved && finalPath->SetText(resolved);
    free(resolved);
    return ok;
  }

  bool GetFileStampA(const char* path, FileStamp* stamp) override {
    // The name itself: a symbolic link or junction is not followed; a folder opens too.
    BY_HANDLE_FILE_INFORMATION info;
    {
      Handle handle(::CreateFileA(
          path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
          nullptr));
      if (!handle.valid() || !::GetFileInformationByHandle(handle.get(), &info)) return false;
    }
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
    FindHandle search(::FindFirstFileA(pattern.GetConstText(), &found));
    if (!search.valid()) return ::GetLastError() == ERROR_FILE_NOT_FOUND;
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
    } while (::FindNextFileA(search.get(), &found));
    return ok;
  }

  bool PendingRenamesOntoA(const char* to, const char* pattern, const char* keep, bool cancel,
                           ByteBuffer* sources) override {
    return Win32PendingRenamesOnto(to, pattern, keep, cancel, sources);
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
    return Win32PrivateDataFolder(name, folder, create);
  }

  FileHandle CreateFileA(const char* path, FileAccess access) override {
    DWORD attributes = ::GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return kNoFile;
    }
    DWORD rights = access == FileAccess::kRead        ? GENERIC_READ
                   : access == FileAccess::kReadWrite ? GENERIC_READ | GENERIC_WRITE
                                                      : FILE_APPEND_DATA;
    Handle file(::CreateFileA(path, rights, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, access == FileAccess::kRead ? OPEN_EXISTING : OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return kNoFile;
    // A console, a pipe or another device opens too: only a file on a disk is kept.
    BY_HANDLE_FILE_INFORMATION info;
    if (::GetFileType(file.get()) != FILE_TYPE_DISK ||
        !::GetFileInformationByHandle(file.get(), &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return kNoFile;
    }
    return reinterpret_cast<FileHandle>(file.release());
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

  // The calls on an open folder: platform/folder_handle_win32.cc.
  FileHandle OpenFolderA(const char* path, FileIdentity* identity) override {
    return Win32OpenFolder(path, identity);
  }
  bool GetFileStampInFolderA(FileHandle folder, const char* name, FileStamp* stamp) override {
    TextString path;
    return Win32NameInFolder(folder, name, &path) && GetFileStampA(path.GetConstText(), stamp);
  }
  bool MoveFileInFolderA(FileHandle folder, const char* from, const char* to,
                         uint32_t flags) override {
    TextString fromPath;
    TextString toPath;
    return (flags & kMoveFileDelayUntilReboot) == 0 && Win32NameInFolder(folder, from, &fromPath) &&
           Win32NameInFolder(folder, to, &toPath) &&
           ::MoveFileExA(fromPath.GetConstText(), toPath.GetConstText(), flags) != FALSE;
  }
  bool DeleteFileInFolderA(FileHandle folder, const char* name) override {
    TextString path;
    return Win32NameInFolder(folder, name, &path) && ::DeleteFileA(path.GetConstText()) != FALSE;
  }
  bool ClearFileAttributesInFolderA(FileHandle folder, const char* name,
                                    uint32_t attributes) override {
    TextString path;
    if (!Win32NameInFolder(folder, name, &path)) return false;
    DWORD now = ::GetFileAttributesA(path.GetConstText());
    if (now == INVALID_FILE_ATTRIBUTES) return false;
    DWORD left = now & ~static_cast<DWORD>(attributes);
    return left == now || ::SetFileAttributesA(path.GetConstText(),
                                               left != 0 ? left : FILE_ATTRIBUTE_NORMAL) != FALSE;
  }

  bool AnyFileMatchesA(const char* path) override {
    WIN32_FIND_DATAA found;
    FindHandle search(::FindFirstFileA(path, &found));
    return search.valid();
  }

  uint32_t GetFileAttributesA(const char* path) override { return ::GetFileAttributesA(path); }

  bool AccessCheckA(const char* path, uint32_t access) override {
    return Win32AccessCheck(path, access);
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
    FILETIME written;
    {
      Handle file(::CreateFileA(path, GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!file.valid() || !::GetFileTime(file.get(), nullptr, nullptr, &written)) return false;
    }
    FILETIME local;
    SYSTEMTIME calendar;
    if (!::FileTimeToLocalFileTime(&written, &local) ||
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
    Handle thread(created.hThread);  // only the process is waited for
    *process = reinterpret_cast<ProcessHandle>(created.hProcess);
    return true;
  }

  // The checked image stays open, so unchangeable, until the process is closed: after its wait.
  bool CreateProcessPinnedA(char* commandLine, const char* currentDirectory, const char* image,
                            ContentPin* pin, ProcessHandle* process) override {
    *process = kNoProcess;
    Handle checked = OpenCheckedImage(image, pin);
    if (!checked.valid() || !CreateProcessA(commandLine, currentDirectory, process)) return false;
    heldImage_ = static_cast<Handle&&>(checked);
    heldFor_ = *process;
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
    if (process == heldFor_) heldImage_.reset();
    ::CloseHandle(reinterpret_cast<HANDLE>(process));
  }

 private:
  Handle heldImage_;  // the file of the pinned program started last, while it is not closed
  ProcessHandle heldFor_ = kNoProcess;
};

}  // namespace

System& RealSystem() {
  static Win32System system;
  return system;
}

}  // namespace kestario
