#include "platform/folder_handle_win32.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/file_info_win32.h"
#include "platform/handle_win32.h"

namespace kestario {

namespace {

HANDLE AsHandle(FileHandle folder) { return reinterpret_cast<HANDLE>(folder); }

// Whether two full paths name the same place: letters' case aside, and a separator at the end.
bool SamePath(const char* one, const char* other) {
  size_t oneLength = strlen(one);
  size_t otherLength = strlen(other);
  while (oneLength > 3 && (one[oneLength - 1] == '\\' || one[oneLength - 1] == '/')) --oneLength;
  while (otherLength > 3 && (other[otherLength - 1] == '\\' || other[otherLength - 1] == '/')) {
    --otherLength;
  }
  return oneLength == otherLength &&
         ::CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, one, static_cast<int>(oneLength),
                          other, static_cast<int>(otherLength)) == CSTR_EQUAL;
}

// One step of a path: not empty, neither "." nor "..", no separator (a double-byte character's
// second byte may be a backslash's: it is not one).
bool IsPlainStep(const char* name) {
  if (!name || !*name || strcmp(name, ".") == 0 || strcmp(name, "..") == 0) return false;
  for (const char* at = name; *at != '\0'; ++at) {
    if (::IsDBCSLeadByte(static_cast<BYTE>(*at)) && at[1] != '\0') {
      ++at;
    } else if (*at == '\\' || *at == '/') {
      return false;
    }
  }
  return true;
}

}  // namespace

FileHandle Win32OpenFolder(const char* path, FileIdentity* identity) {
  if (!path || !*path) return kNoFile;
  Handle folder(::CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!folder.valid()) return kNoFile;
  BY_HANDLE_FILE_INFORMATION info;
  char* finalPath = nullptr;
  bool ok = ::GetFileInformationByHandle(folder.get(), &info) &&
            (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
            (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 &&
            (finalPath = FinalPath(folder.get())) != nullptr && SamePath(finalPath, path);
  free(finalPath);
  if (!ok) return kNoFile;
  identity->volume = info.dwVolumeSerialNumber;
  identity->index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return reinterpret_cast<FileHandle>(folder.release());
}

bool Win32NameInFolder(FileHandle folder, const char* name, TextString* path) {
  if (folder == kNoFile || !IsPlainStep(name)) return false;
  char* finalPath = FinalPath(AsHandle(folder));
  if (!finalPath) return false;
  size_t length = strlen(finalPath);
  bool ok = path->SetText(finalPath) &&
            (length != 0 && finalPath[length - 1] == '\\' ? true : path->AppendText("\\")) &&
            path->AppendText(name);
  free(finalPath);
  return ok;
}

}  // namespace kestario
