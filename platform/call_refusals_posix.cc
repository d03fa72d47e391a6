#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/call_refusals.h"
#include "platform/command_line_posix.h"
#include "platform/path_questions.h"

namespace kestario {
namespace {

// The folder part of `path` (before its last "/"; "." when there is none), into `folder`.
bool FolderOf(const char* path, TextString* folder) {
  const char* slash = std::strrchr(path, '/');
  if (slash == nullptr) return folder->SetText(".");
  size_t length = slash == path ? 1 : static_cast<size_t>(slash - path);
  return SetTextPrefix(folder, path, length);
}

// The size of parameters up to which execve certainly takes them: the least room any stack limit
// gives them, less room for the environment.
constexpr size_t kSurelyPassed = 64 * 1024;

}  // namespace

Refusal CheckDeleteA(System& system, const char* path) {
  FileStamp stamp;
  if (!system.GetFileStampA(path, &stamp)) return Refusal::kMissing;
  if (stamp.folder) return Refusal::kFolder;
  if (!system.AccessCheckA(path, kDeleteAccess)) {
    TextString folder;
    if (FolderOf(path, &folder) && !system.AccessCheckA(folder.GetConstText(), kFileDeleteChild)) {
      return Refusal::kFolderKeepsNames;
    }
    return Refusal::kPinned;
  }
  return Refusal::kNone;
}

Refusal CheckDeleteOfCopyA(System& system, const char* path, const char* /*attributesOf*/) {
  TextString folder;
  if (FolderOf(path, &folder) && !system.AccessCheckA(folder.GetConstText(), kFileDeleteChild)) {
    return Refusal::kFolderKeepsNames;
  }
  return Refusal::kNone;
}

Refusal CheckCopySourceA(System& system, const char* path) {
  if (GetPathKindA(path) != PathKind::kFile) return Refusal::kSourceNotRegular;
  if (!system.AccessCheckA(path, kFileReadData)) return Refusal::kSourceUnreadable;
  return Refusal::kNone;
}

Refusal CheckCopyPlaceA(System& system, CopyPlace* place) {
  TextString folder;
  if (!FolderOf(place->path, &folder)) return Refusal::kFolderMissing;
  const char* name = std::strrchr(place->path, '/');
  name = name != nullptr ? name + 1 : place->path;
  if (GetPathKindA(folder.GetConstText()) != PathKind::kFolder) return Refusal::kFolderMissing;
  if (!system.AccessCheckA(folder.GetConstText(), kFileReadData)) {
    return Refusal::kFolderUnreadable;
  }
  // The copy is put in place through ".NAME.XXXXXX" beside the destination.
  long longest = pathconf(folder.GetConstText(), _PC_NAME_MAX);
  if (longest > 0 && std::strlen(name) + 8 > static_cast<size_t>(longest)) {
    return Refusal::kNoRoomForTemporary;
  }
  if (system.AccessCheckA(folder.GetConstText(), kFileWriteData | kFileExecute)) {
    if (!system.AccessCheckA(folder.GetConstText(), kFileDeleteChild)) {
      return Refusal::kFolderAppendOnly;
    }
    if (place->exists && !place->copiedBefore && !system.AccessCheckA(place->path, kDeleteAccess)) {
      return Refusal::kReplacePinned;
    }
    return Refusal::kNone;
  }
  if (!place->exists) return Refusal::kFolderNotWritable;
  // Written in place (it keeps the time of the writing where the user may not set the source's).
  const char* rights = place->copiedBefore ? place->rightsOf : place->path;
  if (*rights != '\0' && !system.AccessCheckA(rights, kFileWriteData)) {
    return Refusal::kNotWritableInPlace;
  }
  place->inPlace = true;
  return Refusal::kNone;
}

bool CopyKeepsReplacedAttributes() { return true; }

bool FindCommandLineProgramA(System& system, const char* line, IsFileTest /*isFile*/,
                             void* /*context*/, TextString* program, ByteBuffer* parameters) {
  char** argv = nullptr;
  if (!SplitCommandLine(line, &argv)) return false;
  // The parameters in one piece: each followed by its NUL byte, as they lie in no argv.
  size_t total = 0;
  for (char** argument = argv + 1; *argument != nullptr; ++argument) {
    total += std::strlen(*argument) + 1;
  }
  char* joined = static_cast<char*>(std::malloc(total + 1));
  size_t used = 0;
  for (char** argument = argv + 1; joined != nullptr && *argument != nullptr; ++argument) {
    size_t length = std::strlen(*argument) + 1;
    std::memcpy(joined + used, *argument, length);
    used += length;
  }
  bool found = joined != nullptr && program->SetText(argv[0]) &&
               (used == 0 || parameters->AppendBytes(joined, static_cast<uint32_t>(used)));
  std::free(joined);
  FreeArgumentVector(argv);
  if (!found) return false;
  if (program->GetLength() != 0 && program->GetConstText()[0] != '/') {
    TextString full;
    if (system.GetFullPathNameA(program->GetConstText(), &full)) program->Assign(full);
  }
  return true;
}

StartCheck CheckStartA(System& system, const char* program, size_t /*lineLength*/,
                       const size_t* wordSizes, size_t wordCount) {
  StartCheck check;
  uint32_t attributes = system.GetFileAttributesA(program);
  if (attributes == kInvalidFileAttributes) {
    check.refusal = Refusal::kProgramMissing;
    return check;
  }
  if (attributes & kFileAttributeDirectory) {
    check.refusal = Refusal::kProgramFolder;
    return check;
  }
  if (!system.AccessCheckA(program, kFileExecute)) {
    check.refusal = Refusal::kMayNotExecute;
    return check;
  }
  // The longest parameter execve passes (MAX_ARG_STRLEN, 32 pages).
  size_t longest = 32 * static_cast<size_t>(sysconf(_SC_PAGESIZE));
  size_t total = 0;
  for (size_t i = 0; i < wordCount; ++i) {
    if (wordSizes[i] + 1 > longest) {
      check.refusal = Refusal::kParameterTooLong;
      check.size = wordSizes[i];
      check.limit = longest;
      return check;
    }
    total += wordSizes[i] + 1 + sizeof(char*);
  }
  uint32_t type = 0;
  if (!system.AccessCheckA(program, kFileReadData)) {
    check.doubt = StartDoubt::kUnreadable;
  } else if (!system.GetBinaryTypeA(program, &type)) {
    check.refusal = Refusal::kNotStartable;
  } else if (total > kSurelyPassed) {
    check.doubt = StartDoubt::kManyParameters;
    check.size = total;
  }
  return check;
}

}  // namespace kestario
