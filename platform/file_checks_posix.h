// The questions of the Linux build that are asked before a change without making it
// (System::AccessCheckA and System::GetBinaryTypeA): what the kernel would answer the effective
// user if the file were opened, unlinked or executed now.
#ifndef KESTARIO_PLATFORM_FILE_CHECKS_POSIX_H_
#define KESTARIO_PLATFORM_FILE_CHECKS_POSIX_H_

#include <cstdint>

namespace kestario {

// Whether `path` grants every right of `access` (the Win32 values of system.h):
// - kFileReadData, kFileWriteData, kFileExecute: faccessat with AT_EACCESS (read-only mounts,
//   noexec mounts and the immutable flag included); a file that is append-only refuses
//   kFileWriteData, since a write that truncates it fails.
// - kFileDeleteChild (a folder): names may be removed from it: write and search rights, and
//   neither immutable nor append-only.
// - kDeleteAccess: what unlink and a rename over it check: its folder grants kFileDeleteChild; a
// sticky
//   folder lets only the file's owner, the folder's owner or root; the file (not followed when it
//   is a symbolic link) is neither immutable nor append-only, and is not a mount point.
// The flags are read with statx, or FS_IOC_GETFLAGS on file systems whose statx does not report
// them. False when `path` names nothing.
bool PosixAccessCheck(const char* path, uint32_t access);

// Whether execve would start `path` now, and the class of the ELF image that would run
// (kScs64BitBinary or kScs32BitBinary): a regular file the user may execute that is
//   - an ELF executable or shared object of this machine's architecture, byte order and class
//     (on x86-64 also a 32-bit x86 one), with its program headers in the file and its loader
//     (PT_INTERP) itself such a program;
//   - a "#!" script whose interpreter line the kernel accepts and whose interpreter is a program
//     (at most four levels); a relative interpreter is taken from the script's folder;
//   - or a file that an enabled binfmt_misc entry takes (by magic bytes or extension), whose
//     interpreter is a program.
bool PosixGetBinaryType(const char* path, uint32_t* type);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_FILE_CHECKS_POSIX_H_
