// Why this platform's DeleteFileA, CopyFileA and CreateProcessA would refuse a call, asked before
// the call and changing nothing: the checks of each call, as this platform makes them, written
// once for each platform (call_refusals_posix.cc, call_refusals_win32.cc) beside the calls
// themselves. A model of the calls (a prediction of a run) asks these instead of guessing.
// Rights, attributes, stamps and program kinds are asked of `system` (AccessCheckA,
// GetFileAttributesA, GetFileStampA, GetBinaryTypeA, GetFullPathNameA), so that a test's system
// can refuse what it names.
#ifndef KESTARIO_PLATFORM_CALL_REFUSALS_H_
#define KESTARIO_PLATFORM_CALL_REFUSALS_H_

#include <cstddef>
#include <cstdint>

#include "platform/system.h"
#include "text/byte_buffer.h"
#include "text/text_string.h"

namespace kestario {

enum class Refusal : uint8_t {
  kNone,
  // DeleteFileA
  kWildcard,          // Windows: a wildcard names no file to delete
  kMissing,           // nothing by that name (Linux: a link is not followed)
  kFolder,            // a folder
  kReadOnly,          // Windows: the read-only attribute
  kMayNotDelete,      // Windows: the rights of the file or its folder
  kFolderKeepsNames,  // Linux: the folder lets no name be removed (its rights, immutable or
                      // append-only, a read-only file system)
  kPinned,            // Linux: the sticky bit of its folder, an immutable or append-only file, or a
                      // mount point
  // CopyFileA: the source, which exists and is no folder
  kSourceNotRegular,  // Linux
  kSourceUnreadable,
  // CopyFileA: putting the copy in place
  kPathTooLong,         // Windows: the path is longer than the ANSI calls take (MAX_PATH - 1)
  kFolderMissing,       // the destination's folder does not exist
  kFolderUnreadable,    // Linux: it cannot be listed
  kNoRoomForTemporary,  // Linux: the name leaves no room for the temporary name beside it
  kFolderAppendOnly,    // Linux: the folder takes new files but lets none be renamed
  kMayWriteNotDelete,   // Windows: the user may write the destination but not delete it
  kReplacePinned,       // Linux: as kPinned, for the replaced destination
  kFolderRefusesNew,    // Windows: the folder does not let this user add files
  kFolderNotWritable,   // Linux: the folder is not writable
  kHiddenNotInPlace,    // Windows: ... and a hidden destination is not written in place
  kNotWritableInPlace,  // Linux: ... and the destination cannot be written in place
  // CreateProcessA
  kNotAProgram,       // Windows: no program kind (GetBinaryTypeA) that a 64-bit Windows starts
  kNotStartable,      // Linux: no program that execve starts (file_checks_posix.h)
  kProgramMissing,    // Linux: nothing by that name
  kProgramFolder,     // Linux: a folder
  kMayNotExecute,     // Linux: its mode, or a file system mounted noexec
  kParameterTooLong,  // Linux: one parameter is longer than execve ever passes
};

// DeleteFileA of `path` as it is on the disk.
Refusal CheckDeleteA(System& system, const char* path);

// DeleteFileA of a file that an earlier modelled copy made or replaced: it has the attributes of
// the real file `attributesOf`.
Refusal CheckDeleteOfCopyA(System& system, const char* path, const char* attributesOf);

// CopyFileA's source `path`, which exists and is no folder.
Refusal CheckCopySourceA(System& system, const char* path);

// Where a copy would put its file, and what the model knows of it.
struct CopyPlace {
  const char* path;          // the file that is written (Linux: a link's target)
  bool exists;               // it exists (in the model)
  bool copiedBefore;         // an earlier modelled copy made or replaced it
  const char* attributesOf;  // the real file whose attributes it has
  const char* rightsOf;      // the real file whose rights it has; "" for the run's own
  bool inPlace;              // set: written in place, since its folder refuses new files
};
// Putting the copy in place in the destination's folder: through a new file beside it, or, in a
// folder that refuses new files, by writing the existing destination in place.
Refusal CheckCopyPlaceA(System& system, CopyPlace* place);

// Whether a copy that replaces a file leaves it its own attributes (Linux: its mode, owner and
// rights) rather than giving it the source's (Windows: the source's attributes, its own rights).
bool CopyKeepsReplacedAttributes();

// Whether a name is a file that is no folder, as the model of the calls sees it.
using IsFileTest = bool (*)(const char* path, void* context);
// The program and the parameters that CreateProcessA takes from a command line: a quoted program
// runs to its closing quote; otherwise, on Windows, the shortest run of words (split at blanks)
// that `isFile` finds, with ".exe" added to a last part without an extension, and on Linux the
// first word as the program's own command line splits it, made full from the current folder.
// The parameters, each ended by a NUL byte, are appended to `parameters`. False when no program
// can be found.
bool FindCommandLineProgramA(System& system, const char* line, IsFileTest isFile, void* context,
                             TextString* program, ByteBuffer* parameters);

// Words of a Windows command line, split at blanks and tabs outside double quotes, the quotes
// dropped, each ended by a NUL byte and appended to `words`.
bool SplitCommandWords(const char* text, ByteBuffer* words);

// `text` set to the first `length` bytes of `bytes`; false when memory runs out.
bool SetTextPrefix(TextString* text, const char* bytes, size_t length);

// What cannot be told about a start without making it.
enum class StartDoubt : uint8_t {
  kNone,
  kUnreadable,      // Linux: the user may execute the file but not read it
  kLongLine,        // Windows: a command line over 32,767 characters (Wine passes it on)
  kManyParameters,  // Linux: more parameter bytes than execve surely passes
};
struct StartCheck {
  Refusal refusal = Refusal::kNone;
  StartDoubt doubt = StartDoubt::kNone;
  size_t size = 0;   // kParameterTooLong: the parameter's bytes; kLongLine, kManyParameters: the
                     // command line's characters or parameters' bytes
  size_t limit = 0;  // kParameterTooLong: the most execve passes
};
// CreateProcessA of `program` (found), with a command line of `lineLength` bytes whose words (the
// program first) have the sizes `wordSizes`.
StartCheck CheckStartA(System& system, const char* program, size_t lineLength,
                       const size_t* wordSizes, size_t wordCount);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_CALL_REFUSALS_H_
