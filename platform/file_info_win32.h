// What the Windows build reads about a file in more than one of its calls: the path a handle
// names and the file's security descriptor.
#ifndef KESTARIO_PLATFORM_FILE_INFO_WIN32_H_
#define KESTARIO_PLATFORM_FILE_INFO_WIN32_H_

#include <windows.h>

namespace kestario {

// The owner, group and access list of the file `path`, or with `path` null of the file open as
// `file`: a block to free, or null with the error set.
void* ReadSecurity(const char* path, HANDLE file);

// The path of the file that `handle` names, links followed ("C:\..." without the "\\?\" that
// GetFinalPathNameByHandleA puts before a drive); a block to free, or null when it cannot be had.
char* FinalPath(HANDLE handle);
// The same for the file or folder that `path` names; null also when it cannot be opened.
char* FinalPathOf(const char* path);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_FILE_INFO_WIN32_H_
