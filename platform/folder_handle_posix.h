// The calls on an open folder of the Linux build (System::OpenFolderA and the calls on the names
// in it). A folder's handle is its descriptor plus one, as a file's (file_handle_posix.h), and
// closes the same way.
#ifndef KESTARIO_PLATFORM_FOLDER_HANDLE_POSIX_H_
#define KESTARIO_PLATFORM_FOLDER_HANDLE_POSIX_H_

#include "platform/system.h"

namespace kestario {

// Opens the folder `path` (full) step by step from the root with openat(O_NOFOLLOW |
// O_DIRECTORY): a step that is a link, "." or ".." fails it. The last step is opened for reading
// (so that it can be flushed) where the process may, else as a path only.
FileHandle PosixOpenFolder(const char* path, FileIdentity* identity);
// What `name` is in `folder` (fstatat, a link not followed); with `folder` kNoFile, `name` is a
// path (lstat).
bool PosixGetFileStamp(FileHandle folder, const char* name, FileStamp* stamp);
// Removes the file `name` in `folder` (unlinkat): a folder fails.
bool PosixDeleteFileInFolder(FileHandle folder, const char* name);
// The descriptor of a folder's handle (-1 for kNoFile).
int PosixFolderDescriptor(FileHandle folder);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_FOLDER_HANDLE_POSIX_H_
