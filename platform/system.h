// The thin layer through which the program reaches the operating system. The calls carry the
// "A" or "W" names of the Win32 functions they stand for (real functions in <windows.h>, not
// macros, so both headers meet in one file), with their shape and meaning: the Windows build
// forwards to them (system_win32.cc), the Linux build meets the same contract with POSIX calls
// (system_posix.cc); above this layer the code is the same. The script's texts are bytes in the
// ANSI code page ("A" calls); the program's own texts are UTF-16 ("W" calls). Tests and fuzz
// targets install their own System to answer boxes, fake the registry or keep files in memory.
#ifndef KESTARIO_PLATFORM_SYSTEM_H_
#define KESTARIO_PLATFORM_SYSTEM_H_

#include <cstdint>

#include "text/byte_buffer.h"
#include "text/text_string.h"
#include "text/wide_text.h"

namespace kestario {

// The byte that separates folders in a path: the backslash on Windows, "/" on Linux.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
constexpr const char* kPathSeparatorText = "\\";
#else
constexpr char kPathSeparator = '/';
constexpr const char* kPathSeparatorText = "/";
#endif

// Message box styles and answers, with their Win32 values.
constexpr unsigned kMbOk = 0x00;
constexpr unsigned kMbYesNo = 0x04;
constexpr unsigned kMbIconError = 0x10;
constexpr unsigned kMbIconQuestion = 0x20;
constexpr unsigned kMbIconWarning = 0x30;
constexpr unsigned kMbIconInformation = 0x40;
constexpr unsigned kMbIconMask = 0xF0;
constexpr unsigned kMbTypeMask = 0x0F;
constexpr int kIdOk = 1;
constexpr int kIdCancel = 2;
constexpr int kIdYes = 6;
constexpr int kIdNo = 7;

// The languages of the program's own texts (LANGID values), and the code pages of the text
// conversions with the flag that makes an invalid text a failure, with their Win32 values.
constexpr uint16_t kLangJapanese = 0x0411;
constexpr uint16_t kLangEnglish = 0x0409;
constexpr unsigned kCpAcp = 0;
constexpr unsigned kCpUtf8 = 65001;
constexpr uint32_t kMbErrInvalidChars = 0x08;

// Registry handles and results, with their Win32 values.
using RegistryHandle = uintptr_t;
constexpr RegistryHandle kNoRegistryHandle = 0;
constexpr RegistryHandle kLocalMachine = 0x80000002u;
constexpr uint32_t kKeyRead = 0x20019u;
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorMoreData = 234;

// File attributes, with their Win32 values.
constexpr uint32_t kInvalidFileAttributes = 0xFFFFFFFFu;
constexpr uint32_t kFileAttributeReadOnly = 0x01u;
constexpr uint32_t kFileAttributeHidden = 0x02u;
constexpr uint32_t kFileAttributeDirectory = 0x10u;
constexpr uint32_t kFileAttributeNormal = 0x80u;

// Event types of the system's log (ReportEventW), with their Win32 values.
constexpr uint16_t kEventTypeError = 0x0001;
constexpr uint16_t kEventTypeWarning = 0x0002;
constexpr uint16_t kEventTypeInformation = 0x0004;

// Access rights, with their Win32 values. On a folder, kFileReadData lists it, kFileWriteData
// adds a file to it, kFileExecute passes through it and kFileDeleteChild removes a name from it.
constexpr uint32_t kFileReadData = 0x0001u;
constexpr uint32_t kFileWriteData = 0x0002u;
constexpr uint32_t kFileExecute = 0x0020u;
constexpr uint32_t kFileDeleteChild = 0x0040u;
constexpr uint32_t kDeleteAccess = 0x00010000u;

// Program kinds of GetBinaryTypeA, with their Win32 values (the others are programs that a 64-bit
// Windows does not start).
constexpr uint32_t kScs32BitBinary = 0;
constexpr uint32_t kScs64BitBinary = 6;
// MoveFileExA flags, with their Win32 values.
constexpr uint32_t kMoveFileReplaceExisting = 0x1u;
constexpr uint32_t kMoveFileDelayUntilReboot = 0x4u;
constexpr uint32_t kMoveFileWriteThrough = 0x8u;

// CopyFileOverA flags.
constexpr uint32_t kCopyKeepReplaced = 0x1u;  // a replaced file is kept, not dropped
constexpr uint32_t kCopyReplaceInUse = 0x2u;  // a file that a running program holds is replaced
constexpr uint32_t kCopyMarkNew = 0x4u;       // a new destination is marked as made by the call

// The full names beside a file under which MoveFileAsideA and CopyFileOverA keep it, all made by
// the caller (in the file's own folder, names that nothing else uses).
struct KeptFileNames {
  const char* kept;        // the old file, given the hidden attribute
  const char* keptHidden;  // the old file, hidden already
  const char* mark;        // a second name of a new file
  const char* staged;      // the new file before it is in place
};
// Which of those names a call left a file under.
enum class KeptAs : uint8_t { kNone, kKept, kKeptHidden, kMark, kStaged };

// How a CopyFileOverA (which may keep the replaced file, or meet a running program) ended.
enum class CopyOutcome : uint8_t {
  kFailed,     // nothing changed: the destination is as it was
  kCopied,     // the new file is in place (a replaced file kept under the kept name when asked)
  kSetAside,   // the destination was in use: renamed to the kept name, the new file in place
  kAtRestart,  // the destination is held: the staged copy replaces it at the next restart
};

using ProcessHandle = uintptr_t;
constexpr ProcessHandle kNoProcess = 0;

// An open file, as CreateFileA gives it; kNoFile stands for INVALID_HANDLE_VALUE.
using FileHandle = uintptr_t;
constexpr FileHandle kNoFile = 0;

// What CreateFileA opens a file for.
enum class FileAccess {
  kRead,       // GENERIC_READ; the file must exist (OPEN_EXISTING)
  kReadWrite,  // GENERIC_READ | GENERIC_WRITE: read, write, set the end; OPEN_ALWAYS
  kAppend,     // FILE_APPEND_DATA only: no reading, every write lands at the end; OPEN_ALWAYS
};
// WriteFile's offset for "at the file's end" (an OVERLAPPED offset of 0xFFFFFFFF:0xFFFFFFFF).
constexpr uint64_t kFileEnd = UINT64_MAX;
// LockFileEx flags, with their Win32 values.
constexpr uint32_t kLockFailImmediately = 0x1;
constexpr uint32_t kLockExclusive = 0x2;

// Which file an open handle is (GetFileInformationByHandle): one file when both numbers are
// equal (Windows: volume serial number and file index; Linux: device and inode).
struct FileIdentity {
  uint64_t volume;
  uint64_t index;
};

// What a name is now, its last step not followed (GetFileStampA): which file, its size, last write
// (FILETIME; Linux ns since 1970), and whether it is a link (or reparse point) or a folder.
struct FileStamp {
  FileIdentity identity;
  uint64_t size;
  uint64_t writeTime;
  bool link;
  bool folder;
};

struct LocalDate {  // as FileTimeToSystemTime gives its fields
  uint16_t year;
  uint16_t month;
  uint16_t day;
};

// A local date and time, as GetLocalTime gives its fields, and how far that local time is ahead of
// UTC at that moment, in whole minutes (negative west of Greenwich).
struct LocalTime {
  uint16_t year;
  uint16_t month;
  uint16_t day;
  uint16_t hour;
  uint16_t minute;
  uint16_t second;
  int16_t utcOffsetMinutes = 0;
};

class System {
 public:
  virtual ~System();

  // GetPrivateProfileStringA: the value of `key` in `section` of `file`, or `defaultValue` when
  // there is no such key (or section, or file). The value is read whole, however long.
  virtual void GetPrivateProfileStringA(const char* section, const char* key,
                                        const char* defaultValue, TextString* value,
                                        const char* file) = 0;
  // GetPrivateProfileSectionA: the entries of `section`, each followed by a NUL byte, the list
  // ended by one more NUL byte (a single NUL byte when the section is absent or empty). Read whole.
  // When memory runs out, `entries` is left empty (no bytes at all).
  virtual void GetPrivateProfileSectionA(const char* section, ByteBuffer* entries,
                                         const char* file) = 0;
  // WritePrivateProfileStringA(NULL, NULL, NULL, file), the flush of the profile cache: reads of
  // `file` after it see it as it is at the first of them, or later. Linux looks at the file (a
  // stat, a new parse if it changed) at that first read and serves the rest from that parse until
  // the next flush, a file never flushed at every read; Windows reads it at every call (nothing to
  // do).
  virtual void FlushPrivateProfile(const char* file) = 0;

  // GetUserDefaultUILanguage: the language of the user's desktop, such as 0x0411 (Japanese). The
  // Linux program is a Japanese one: kLangJapanese, whatever the environment.
  virtual uint16_t GetUserDefaultUILanguage() = 0;
  // LoadStringW on the program's own module, from the string table of `language` (found with
  // FindResourceExW): copies catalog text `id` into `buffer` (at most size - 1 units and a 0) and
  // returns the units copied; 0 and an empty text when there is none.
  virtual int LoadStringW(uint16_t language, unsigned id, char16_t* buffer, int size) = 0;
  // MessageBoxW with no owner window; returns the answer (kIdOk, kIdYes, kIdNo ...), 0 on failure.
  virtual int MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) = 0;
  // MultiByteToWideChar(codePage, flags): the `size` bytes at `text` as UTF-16 in `wide`; a byte
  // that is not text of the code page becomes what Windows makes of it, or with kMbErrInvalidChars
  // the result is false. WideCharToMultiByte(codePage, 0): the `size` units at `text` as bytes;
  // a character the code page cannot hold becomes "?", a lone surrogate in UTF-8 U+FFFD. Both are
  // false, the result empty, when memory runs out. On Linux the ANSI code page is UTF-8 in which
  // every byte comes back: a byte that is not part of valid UTF-8 becomes the lone surrogate
  // U+DC00 + byte, which kCpAcp turns back into that byte (and kCpUtf8 into U+FFFD).
  virtual bool MultiByteToWideChar(unsigned codePage, uint32_t flags, const char* text,
                                   uint32_t size, WideText* wide) = 0;
  virtual bool WideCharToMultiByte(unsigned codePage, const char16_t* text, uint32_t size,
                                   TextString* bytes) = 0;
  // IsDBCSLeadByte: whether `byte` begins a double-byte character in the ANSI code page (such as
  // 0x83 in code page 932, where 0x83 0x7C is one character and holds no "|"). Never on Linux.
  virtual bool IsDBCSLeadByte(uint8_t byte) = 0;
  // GetProcessWindowStation and GetUserObjectInformationA(UOI_FLAGS): whether the process's window
  // station is visible (WSF_VISIBLE), so that someone can see and answer a box. A program started
  // by a service or as SYSTEM runs on one that is not. The terminal box of Linux is always "seen":
  // it never waits on nobody, since at the end of its input it answers at once (No, or OK).
  virtual bool IsWindowStationVisible() = 0;

  // GetModuleFileNameA(NULL, ...): writes the running executable's path and returns its length;
  // returns `size` (with a cut text) when the buffer is too small, 0 on failure.
  virtual uint32_t GetModuleFileNameA(char* buffer, uint32_t size) = 0;
  // GetWindowsDirectoryA: writes the directory and returns its length; when it does not fit,
  // returns the size needed (terminator included) and writes nothing.
  virtual uint32_t GetWindowsDirectoryA(char* buffer, uint32_t size) = 0;
  // GetSystemDirectoryA, whole, into `folder`: the folder of cmd.exe (C:\Windows\system32).
  // False when the system cannot tell; Linux has no such folder, and always says false.
  virtual bool GetSystemDirectoryA(TextString* folder) = 0;
  // GetComputerNameA (Linux: the host name) and GetUserNameA (Linux: the login name of the real
  // user id), whole, into `name`; false, `name` unchanged, when the system cannot tell.
  virtual bool GetComputerNameA(TextString* name) = 0;
  virtual bool GetUserNameA(TextString* name) = 0;
  // GetLocalTime with its offset from UTC (Windows: the local time and the UTC time of one instant,
  // GetSystemTime and SystemTimeToTzSpecificLocalTime; Linux: localtime_r and tm_gmtoff), and
  // GetCurrentProcessId.
  virtual void GetLocalTime(LocalTime* time) = 0;
  virtual uint32_t GetCurrentProcessId() = 0;

  // RegOpenKeyExA / RegQueryValueExA / RegCloseKey, read only. RegQueryValueEx with a null `data`
  // writes the value's size to `*size`; with a buffer it reads at most `*size` bytes.
  virtual long RegOpenKeyExA(RegistryHandle root, const char* subKey, uint32_t access,
                             RegistryHandle* result) = 0;
  virtual long RegQueryValueExA(RegistryHandle key, const char* valueName, uint8_t* data,
                                uint32_t* size) = 0;
  virtual long RegCloseKey(RegistryHandle key) = 0;

  // DeleteFileA: removes one file; a folder, a missing file or an empty name fails.
  virtual bool DeleteFileA(const char* path) = 0;
  // MoveFileAsideA: DeleteFileA, but the file is renamed to `names.kept` and hidden
  // (`names.keptHidden` when it was hidden already) instead of removed: it fails exactly where
  // DeleteFileA fails, and a link is moved, never its target. `*as` tells which name it took.
  virtual bool MoveFileAsideA(const char* path, const KeptFileNames& names, KeptAs* as) = 0;
  // CopyFileA: copies `from` onto `to`, replacing an existing file unless `failIfExists`.
  virtual bool CopyFileA(const char* from, const char* to, bool failIfExists) = 0;
  // CopyFileOverA: CopyFileA(from, to, FALSE) for a copy that may have to be undone or may meet a
  // running program. `names` (null with none of the flags) are the names beside the destination;
  // `*as` tells which one the call left a file under (kNone for none). With kCopyKeepReplaced or
  // kCopyMarkNew the new file has the staged name whenever it has one before it is in place
  // (Linux: the temporary file's), and a destination that could only be written in place fails.
  // - kCopyKeepReplaced: a replaced file is not dropped but kept, hidden (a hard link made just
  //   before the new file takes the name; on a Windows volume without hard links, a rename
  //   first): the old file itself, its bytes, times, owner and access.
  // - kCopyMarkNew: a new destination gets the mark as a second name (a hard link; an empty file
  //   on a Windows volume without hard links) just before it takes its own.
  // - kCopyReplaceInUse (Windows): a destination that a running program holds (a sharing
  //   violation) is renamed to the kept name, hidden, and the new file takes its name
  //   (kSetAside; the renamed file is deleted at the next restart when the process may,
  //   MOVEFILE_DELAY_UNTIL_REBOOT). One that cannot even be renamed is replaced at the next
  //   restart from a copy with the staged name (MOVEFILE_DELAY_UNTIL_REBOOT), when the process
  //   may: kAtRestart. Linux holds no such files: with this flag alone this is CopyFileA.
  virtual CopyOutcome CopyFileOverA(const char* from, const char* to, const KeptFileNames* names,
                                    uint32_t flags, KeptAs* as) = 0;
  // MoveFileExA: renames a file (or a folder) on its volume; replaces an existing `to` only with
  // kMoveFileReplaceExisting; kMoveFileWriteThrough returns when the rename is on the disk;
  // kMoveFileDelayUntilReboot (Windows, administrators only; `to` null deletes) records it for the
  // next restart instead (Linux: false).
  virtual bool MoveFileExA(const char* from, const char* to, uint32_t flags) = 0;
  // SetFileAttributesA. Linux keeps no attributes (a leading "." hides a file): true, and nothing
  // changes.
  virtual bool SetFileAttributesA(const char* path, uint32_t attributes) = 0;
  // CreateFileA and GetFinalPathNameByHandleA (Linux: realpath): the full path of the file that
  // `path` names, links followed; false when it names nothing.
  virtual bool GetFinalPathNameA(const char* path, TextString* finalPath) = 0;
  // CreateFileA with FILE_FLAG_OPEN_REPARSE_POINT and GetFileInformationByHandle (Linux: lstat):
  // the stamp of what `path` names, a link at its last step not followed; false when nothing.
  virtual bool GetFileStampA(const char* path, FileStamp* stamp) = 0;
  // FindFirstFileA and FindNextFileA: the names in `folder` that end in `suffix` (no folders),
  // each ended by a NUL byte, appended to `names`; false when the folder cannot be listed.
  virtual bool ListFilesA(const char* folder, const char* suffix, ByteBuffer* names) = 0;
  // The renames MoveFileExA(kMoveFileDelayUntilReboot) left for the restart onto the file `to` (as
  // named or links followed) from a file whose name matches `pattern` (one "*"), but `keep`: each
  // source, NUL-ended, into `sources`; `cancel` takes them off the list and deletes them. False
  // when the list cannot be read or changed. Linux has no such list: true, none found.
  virtual bool PendingRenamesOntoA(const char* to, const char* pattern, const char* keep,
                                   bool cancel, ByteBuffer* sources) = 0;
  // GetDiskFreeSpaceExA: bytes free to this user on `folder`'s volume, its serial (Linux: statvfs).
  virtual bool GetDiskFreeSpaceExA(const char* folder, uint64_t* available, uint64_t* volume) = 0;
  // This account's own folder `name` among the machine's shared data, which survives a restart:
  // Windows "<ProgramData>\<name>\<the account's SID>" (CSIDL_COMMON_APPDATA; `name` may hold
  // several steps, "A\B"), Linux "<the build's base, /var/tmp>/<name>-<uid>". `create` makes it,
  // for the account alone (and SYSTEM and Administrators, or root). False when missing (without
  // `create`) or untrusted: not a folder, a link, or another account's.
  virtual bool GetPrivateDataFolderA(const char* name, TextString* folder, bool create) = 0;
  // CreateFileA of a regular file, shared for reading, writing and deleting: others may read,
  // write, delete or replace it meanwhile, and a deleted or replaced file stays open under the
  // handle. Only a regular file opens, and nothing waits for anything else (Linux O_NONBLOCK |
  // O_NOCTTY and fstat; Windows GetFileType). Not inherited by started programs. kNoFile on
  // failure.
  virtual FileHandle CreateFileA(const char* path, FileAccess access) = 0;
  // ReadFile and WriteFile at `offset` (an OVERLAPPED offset; Linux pread and pwrite). WriteFile
  // at kFileEnd appends in one piece, however many processes append to the file at once (as
  // FILE_APPEND_DATA and O_APPEND do); a handle opened with kAppend writes only there. Both set
  // `*done` to the bytes moved; WriteFile is true only when all were written (a full disk or the
  // file size limit leaves a part written and gives false; on Linux SIGXFSZ is ignored meanwhile).
  virtual bool ReadFile(FileHandle file, uint64_t offset, char* buffer, uint32_t size,
                        uint32_t* done) = 0;
  virtual bool WriteFile(FileHandle file, uint64_t offset, const char* bytes, uint32_t length,
                         uint32_t* done) = 0;
  // FlushFileBuffers: the file's data and size are on the disk when it returns true.
  virtual bool FlushFileBuffers(FileHandle file) = 0;
  // LockFileEx and UnlockFileEx on bytes `offset` to `offset + length - 1`, which need not exist:
  // a lock that other processes and machines respect on the same file (byte-range locks; on Linux
  // fcntl, per open file). Shared unless kLockExclusive; waits for the range unless
  // kLockFailImmediately. On Windows another handle can neither read nor write locked bytes.
  virtual bool LockFileEx(FileHandle file, uint32_t flags, uint64_t offset, uint64_t length) = 0;
  virtual bool UnlockFileEx(FileHandle file, uint64_t offset, uint64_t length) = 0;
  // GetFileSizeEx and GetFileInformationByHandle (the file's identity).
  virtual bool GetFileSizeEx(FileHandle file, uint64_t* size) = 0;
  virtual bool GetFileInformationByHandle(FileHandle file, FileIdentity* identity) = 0;
  // SetFilePointerEx to `size` and SetEndOfFile: cuts the file there (or extends it with zeros).
  virtual bool SetEndOfFile(FileHandle file, uint64_t size) = 0;
  // CloseHandle on a file handle from CreateFileA.
  virtual void CloseHandle(FileHandle file) = 0;
  // FindFirstFileA followed by FindClose: whether anything (file or folder) matches the path,
  // which may hold the wildcards "*" and "?".
  virtual bool AnyFileMatchesA(const char* path) = 0;
  // GetFileAttributesA: the attributes of the file or folder `path` names (a folder has
  // kFileAttributeDirectory), kInvalidFileAttributes when it names nothing. No wildcards. On
  // Linux a file whose owner may not write it is kFileAttributeReadOnly, and none is hidden.
  virtual uint32_t GetFileAttributesA(const char* path) = 0;
  // GetFullPathNameA: `path` made full from the current folder, into `full` (Windows also
  // resolves "." and "..", makes "/" a "\" and drops the dots and blanks at the end); false when
  // it cannot be made.
  virtual bool GetFullPathNameA(const char* path, TextString* full) = 0;
  // CreateFileA (read, shared, existing only), GetFileTime, FileTimeToLocalFileTime and
  // FileTimeToSystemTime: the file's last-write date in local time; false when it cannot be opened.
  virtual bool GetFileLocalDate(const char* path, LocalDate* date) = 0;

  // Questions that updater-check --what-if asks before it predicts a change (changing nothing).
  // AccessCheck, with GetFileSecurityA and the running user's token: whether `path` grants every
  // right of `access`; kDeleteAccess is also granted by the folder's kFileDeleteChild. A file on
  // another machine's share, whose ACL names that machine's accounts, grants everything. Linux
  // answers as the kernel would answer the effective user: read-only mounts, the immutable and
  // append-only flags and, for kDeleteAccess, what unlink checks (file_checks_posix.h).
  virtual bool AccessCheckA(const char* path, uint32_t access) = 0;
  // GetBinaryTypeA: whether `path` is a program image, and its kind. Linux: only what execve
  // would start now (file_checks_posix.h).
  virtual bool GetBinaryTypeA(const char* path, uint32_t* type) = 0;

  // CreateProcessA with the command line (which the call may change) and the current directory.
  virtual bool CreateProcessA(char* commandLine, const char* currentDirectory,
                              ProcessHandle* process) = 0;
  // WaitForSingleObject(process, INFINITE): false when the wait failed (Linux: or a stop signal).
  virtual bool WaitForProcess(ProcessHandle process) = 0;
  // GetExitCodeProcess of a process that has ended; false when it cannot be had.
  virtual bool GetExitCodeProcess(ProcessHandle process, uint32_t* code) = 0;
  // CloseHandle on a process handle from CreateProcess.
  virtual void CloseProcess(ProcessHandle process) = 0;

  // One event in the system's log from `source`; every text in UTF-8. Windows:
  // RegisterEventSourceW(NULL, source), ReportEventW of `type` and `id` with the `count` insertion
  // `strings` (as UTF-16), DeregisterEventSource; the viewer builds the event's text from the
  // program's message table. Linux: syslog(3) of `text`, the same text already built, with
  // `source` as its ident and the priority of `type` (LOG_INFO, LOG_WARNING, LOG_ERR). False when
  // the event was not written (syslog cannot tell: true).
  virtual bool WriteEventLogEntry(const char* source, uint16_t type, uint32_t id,
                                  const char* const* strings, uint16_t count, const char* text) = 0;
};

// The system the program runs on; tests may install another one (null restores the real one).
System& CurrentSystem();
void SetSystem(System* system);
// Counts the SetSystem calls, so that what was asked of one system once is asked again of the next.
uint32_t SystemGeneration();

// The real system of this build.
System& RealSystem();

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_SYSTEM_H_
