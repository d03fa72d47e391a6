// The renames that Windows makes at the next restart: read from the registry, and taken off it.
#include "platform/pending_renames_win32.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/file_info_win32.h"
#include "platform/handle_win32.h"

namespace kestario {
namespace {

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
    resolved = FinalPathOf(path);
    if (!resolved) return nullptr;
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

}  // namespace

bool Win32PendingRenamesOnto(const char* to, const char* pattern, const char* keep, bool cancel,
                             ByteBuffer* sources) {
  RegistryKey key;
  LONG status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0,
                                KEY_QUERY_VALUE | (cancel ? KEY_SET_VALUE : 0), key.receive());
  bool writable = status == ERROR_SUCCESS || !cancel;
  if (status != ERROR_SUCCESS && cancel) {
    status =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManager, 0, KEY_QUERY_VALUE, key.receive());
  }
  if (status != ERROR_SUCCESS) return false;
  DWORD type = 0;
  DWORD size = 0;
  status = ::RegQueryValueExW(key.get(), kPendingRenames, nullptr, &type, nullptr, &size);
  if (status != ERROR_SUCCESS || type != REG_MULTI_SZ) {
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
            ::RegQueryValueExW(key.get(), kPendingRenames, nullptr, &type,
                               reinterpret_cast<BYTE*>(list), &size) == ERROR_SUCCESS;
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
      ok = ::RegDeleteValueW(key.get(), kPendingRenames) == ERROR_SUCCESS;
    } else {
      kept[keptUnits++] = L'\0';  // the list's end
      ok = ::RegSetValueExW(key.get(), kPendingRenames, 0, REG_MULTI_SZ,
                            reinterpret_cast<const BYTE*>(kept),
                            static_cast<DWORD>(keptUnits * sizeof(wchar_t))) == ERROR_SUCCESS;
    }
  }
  free(list);
  free(kept);
  free(named);
  free(followed);
  free(wanted);
  free(stays);
  return ok;
}

}  // namespace kestario
