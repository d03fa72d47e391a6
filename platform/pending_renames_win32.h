// The renames that Windows makes at the next restart, as the Windows build reads and cancels them
// (System::PendingRenamesOntoA).
#ifndef KESTARIO_PLATFORM_PENDING_RENAMES_WIN32_H_
#define KESTARIO_PLATFORM_PENDING_RENAMES_WIN32_H_

#include "text/byte_buffer.h"

namespace kestario {

// The renames left for the restart (MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT, kept in the
// Session Manager's PendingFileRenameOperations) onto the file `to`, as named or links followed,
// from a file whose name matches `pattern` (one "*", case ignored), but `keep`: each source in the
// ANSI code page, NUL-ended, appended to `sources`. `cancel` takes them off the list and deletes
// their sources. False when the list cannot be read, or when it cannot be changed as asked.
bool Win32PendingRenamesOnto(const char* to, const char* pattern, const char* keep, bool cancel,
                             ByteBuffer* sources);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_PENDING_RENAMES_WIN32_H_
