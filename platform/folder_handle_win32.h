// The calls on an open folder of the Windows build (System::OpenFolderA and the names in it).
#ifndef KESTARIO_PLATFORM_FOLDER_HANDLE_WIN32_H_
#define KESTARIO_PLATFORM_FOLDER_HANDLE_WIN32_H_

#include "platform/system.h"
#include "text/text_string.h"

namespace kestario {

// Opens the folder `path` (full) with FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
// shared for reading and writing but never for deleting, so that while it is open nobody renames,
// removes or replaces it. Refused when it is a reparse point, not a folder, or when its final
// path is not `path` (a junction or link on the way, which the final path resolves). `identity`
// gets its volume serial number and file index (GetFileInformationByHandle).
FileHandle Win32OpenFolder(const char* path, FileIdentity* identity);
// The full name of `name` (one step: no "\" or "/", neither "." nor "..") in the open folder
// `folder`: the folder's final path now, which the open handle keeps where it is.
bool Win32NameInFolder(FileHandle folder, const char* name, TextString* path);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_FOLDER_HANDLE_WIN32_H_
