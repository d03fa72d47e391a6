// A program's file opened so that nobody can change it, and hashed: the Windows half of
// CreateProcessPinnedA (process_calls.h).
#ifndef KESTARIO_PLATFORM_CHECKED_IMAGE_WIN32_H_
#define KESTARIO_PLATFORM_CHECKED_IMAGE_WIN32_H_

#include "platform/handle_win32.h"
#include "platform/sha256.h"

namespace kestario {

// Opens `path` for reading, denying write and delete sharing (no handle of any process or client
// of a file server may write, rename or delete it while the returned handle is open), reads it
// whole into the platform's SHA-256, and returns the handle when the bytes match `pin`. Otherwise
// an empty handle; pin->differs when the bytes were read and differ.
Handle OpenCheckedImage(const char* path, ContentPin* pin);

// The SHA-256 of everything the open file `file` reads from its current position to its end.
bool HashOpenFile(HANDLE file, Sha256Digest* digest);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_CHECKED_IMAGE_WIN32_H_
