#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "platform/handle_win32.h"
#include "platform/path_questions.h"
#include "text/ascii.h"

namespace kestario {
namespace {

// The file's volume serial number and index, links followed; false when it cannot be opened.
bool Identify(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
  Handle file(::CreateFileA(path, FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return file.valid() && ::GetFileInformationByHandle(file.get(), info) != 0;
}

}  // namespace

PathKind GetPathKindA(const char* path) {
  DWORD attributes = ::GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::kNothing;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathKind::kFolder : PathKind::kFile;
}

bool IsDiskFileA(const char* path) {
  Handle file(::CreateFileA(path, FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return !file.valid() || ::GetFileType(file.get()) == FILE_TYPE_DISK;
}

bool WouldOpenForWritingA(const char* path, bool exists) {
  if (!exists) return true;
  DWORD attributes = ::GetFileAttributesA(path);
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return false;
  return IsDiskFileA(path);
}

bool IsSameFileA(const char* left, const char* right) {
  BY_HANDLE_FILE_INFORMATION a, b;
  return Identify(left, &a) && Identify(right, &b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
         a.nFileIndexLow == b.nFileIndexLow;
}

bool ListMatchingNamesA(const char* folder, const char* pattern, ByteBuffer* names) {
  TextString search(folder);
  if (!search.AppendText("\\") || !search.AppendText(pattern)) return false;
  WIN32_FIND_DATAA found;
  FindHandle listing(::FindFirstFileA(search.GetConstText(), &found));
  if (!listing.valid()) return false;
  bool ok = true;
  do {
    ok = ok && names->AppendBytes(found.cFileName,
                                  static_cast<uint32_t>(std::strlen(found.cFileName)) + 1);
  } while (::FindNextFileA(listing.get(), &found));
  return ok;
}

bool GetWriteTargetA(const char* path, TextString* target) { return target->SetText(path); }

bool IsSizeNotLengthA(const char* /*path*/) { return false; }

bool GetComparablePathA(const char* path, TextString* full) {
  char* made = _fullpath(nullptr, path, 0);
  if (made == nullptr) return false;
  bool set = full->SetText(made);
  free(made);
  return set;
}

bool IsPathSeparator(char c) { return c == '\\' || c == '/'; }

char FoldNameCase(char c) { return AsciiLower(c); }

size_t StoredNameLength(const char* name, size_t length) {
  if ((length == 1 && name[0] == '.') || (length == 2 && name[0] == '.' && name[1] == '.')) {
    return length;
  }
  size_t kept = length;
  while (kept > 0 && (name[kept - 1] == '.' || name[kept - 1] == ' ')) --kept;
  return kept == 0 ? length : kept;
}

}  // namespace kestario
