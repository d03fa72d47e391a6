// Questions about names and files that a model of the file calls asks before it predicts what a
// call would do, answered as this platform's own calls meet the file system, changing nothing:
// what a name is, whether two names are one file, which names a wildcard finds, where a write
// through a name lands, and how names compare. System holds the calls that the program makes;
// these are asked only by a model of them (path_questions_posix.cc, path_questions_win32.cc).
#ifndef KESTARIO_PLATFORM_PATH_QUESTIONS_H_
#define KESTARIO_PLATFORM_PATH_QUESTIONS_H_

#include <cstddef>
#include <cstdint>

#include "text/byte_buffer.h"
#include "text/text_string.h"

namespace kestario {

// What a name is, links followed.
enum class PathKind : uint8_t {
  kNothing,      // no file or folder has that name
  kUnreachable,  // Linux: it cannot be looked at (stat fails otherwise than with ENOENT: a folder
                 // on the way that may not be searched, a loop of links, a name too long)
  kFolder,
  kFile,    // Linux a regular file; Windows any file that is no folder (see IsDiskFileA)
  kPipe,    // Linux: a named pipe
  kDevice,  // Linux: a character or block device
  kOther,   // Linux: anything else (a socket)
};

// Linux stat; Windows GetFileAttributesA (kNothing, kFolder or kFile only).
PathKind GetPathKindA(const char* path);

// Whether an existing file keeps its bytes on a disk, as opposed to a pipe or a device: Windows
// CreateFileA for its attributes and GetFileType; Linux stat. True when it cannot be asked (the
// file cannot be opened, or is not there).
bool IsDiskFileA(const char* path);

// Whether CreateFileA would open `path` for writing now, `exists` saying whether the caller takes
// it to exist: an existing one must be a file on a disk that is not a folder (Windows: and not
// read-only; Linux: a regular file that the user may write); a new one needs (Linux) a folder
// that the user may write and search. Whether the folder exists is the caller's question.
bool WouldOpenForWritingA(const char* path, bool exists);

// Whether two names are one file now, links followed: Linux the same device and inode, Windows
// the same volume serial number and file index (GetFileInformationByHandle), as the copy finds a
// destination that is its own source. False when either names nothing.
bool IsSameFileA(const char* left, const char* right);

// The names in `folder` that `pattern` ("*" any run of bytes, "?" one byte) matches, as the search
// of FindFirstFileA and FindNextFileA finds them (Linux: every entry, "." and ".." included,
// compared byte for byte), each ended by a NUL byte, appended to `names`. False when the folder
// cannot be listed or memory runs out.
bool ListMatchingNamesA(const char* folder, const char* pattern, ByteBuffer* names);

// The file that a copy onto `path` writes: Linux writes through a symbolic link to the file it
// names (its full path); Windows replaces the name itself. False for a link to nothing.
bool GetWriteTargetA(const char* path, TextString* target);

// Whether `path` lies on a file system whose files' sizes are not their lengths (Linux /proc,
// /sys and their kin): a copy reads another number of bytes than the size it is told. Windows:
// never.
bool IsSizeNotLengthA(const char* path);

// The full path by which two spellings of a name compare: Linux realpath (links and "." resolved;
// false when it names nothing), Windows GetFullPathNameA.
bool GetComparablePathA(const char* path, TextString* full);

// How file names are spelled: whether a byte separates folders in a path (Linux "/"; Windows "\"
// and "/"), a byte as names compare it (Windows folds the ASCII letters to lower case, Linux keeps
// every byte), and the length of a name as it is stored (Windows drops the dots and blanks that
// end it, except in "." and ".."; Linux keeps them).
bool IsPathSeparator(char c);
char FoldNameCase(char c);
size_t StoredNameLength(const char* name, size_t length);

// Whether `name` matches `pattern`: "*" any run of bytes, "?" one byte, every other byte as names
// compare it (FoldNameCase).
bool NameMatchesWildcard(const char* pattern, const char* name);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_PATH_QUESTIONS_H_
