// The question of the Windows build that is asked before a change without making it
// (System::AccessCheckA): what an open would answer the running user now.
#ifndef KESTARIO_PLATFORM_FILE_CHECKS_WIN32_H_
#define KESTARIO_PLATFORM_FILE_CHECKS_WIN32_H_

#include <cstdint>

namespace kestario {

// Whether `path` grants the running user every right of `access` (the Win32 values of
// file_calls.h): AccessCheck of its security descriptor with the process's token; kDeleteAccess
// is also granted by its folder's FILE_DELETE_CHILD. A file whose volume keeps no security
// descriptor grants everything; so does one on another machine's share (whose access list names
// that machine's accounts) when it exists. False for an empty or null path.
bool Win32AccessCheck(const char* path, uint32_t access);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_FILE_CHECKS_WIN32_H_
