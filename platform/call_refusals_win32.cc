#include <windows.h>

#include <cstring>

#include "platform/call_refusals.h"
#include "platform/handle_win32.h"
#include "platform/path_questions.h"

namespace kestario {
namespace {

bool HasWildcard(const char* path) { return std::strpbrk(path, "*?") != nullptr; }

// The folder part of `path` (before its last "\" or "/"; "." when there is none), into `folder`.
bool FolderOf(const char* path, TextString* folder) {
  size_t length = std::strlen(path);
  while (length > 0 && !IsPathSeparator(path[length - 1])) --length;
  if (length == 0) return folder->SetText(".");
  return SetTextPrefix(folder, path, length == 1 ? 1 : length - 1);
}

// Windows takes a command line of at most this many characters, its terminating NUL included.
constexpr size_t kLongestCommandLine = 32767;

// The file that CreateProcessA starts for the first `length` bytes of `name`: the name itself,
// or, when nothing has that name and its last part has no extension, the name with ".exe". A
// folder is never started.
bool ResolveProgram(const char* name, size_t length, IsFileTest isFile, void* context,
                    TextString* program) {
  if (!SetTextPrefix(program, name, length)) return false;
  if (isFile(program->GetConstText(), context)) return true;
  const char* last = program->GetConstText() + length;
  while (last > program->GetConstText() && !IsPathSeparator(last[-1])) --last;
  if (GetPathKindA(program->GetConstText()) == PathKind::kFolder || std::strchr(last, '.')) {
    return false;
  }
  return program->AppendText(".exe") && isFile(program->GetConstText(), context);
}

}  // namespace

Refusal CheckDeleteA(System& system, const char* path) {
  if (HasWildcard(path)) return Refusal::kWildcard;
  uint32_t attributes = system.GetFileAttributesA(path);
  if (attributes == kInvalidFileAttributes) return Refusal::kMissing;
  if (attributes & kFileAttributeDirectory) return Refusal::kFolder;
  if (attributes & kFileAttributeReadOnly) return Refusal::kReadOnly;
  if (!system.AccessCheckA(path, kDeleteAccess)) return Refusal::kMayNotDelete;
  return Refusal::kNone;
}

Refusal CheckDeleteOfCopyA(System& system, const char* /*path*/, const char* attributesOf) {
  uint32_t attributes = system.GetFileAttributesA(attributesOf);
  if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeReadOnly)) {
    return Refusal::kReadOnly;
  }
  return Refusal::kNone;
}

Refusal CheckCopySourceA(System& /*system*/, const char* path) {
  Handle file(::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
  return file.valid() ? Refusal::kNone : Refusal::kSourceUnreadable;
}

Refusal CheckCopyPlaceA(System& system, CopyPlace* place) {
  // The program's ANSI calls take paths of up to MAX_PATH - 1 bytes.
  if (std::strlen(place->path) >= MAX_PATH) return Refusal::kPathTooLong;
  TextString folder;
  if (!FolderOf(place->path, &folder) || GetPathKindA(folder.GetConstText()) != PathKind::kFolder) {
    return Refusal::kFolderMissing;
  }
  if (system.AccessCheckA(folder.GetConstText(), kFileWriteData)) {
    if (place->exists && !place->copiedBefore && !system.AccessCheckA(place->path, kDeleteAccess)) {
      return Refusal::kMayWriteNotDelete;
    }
    return Refusal::kNone;
  }
  if (!place->exists) return Refusal::kFolderRefusesNew;
  // CopyFileA in place, which refuses a hidden destination.
  uint32_t attributes =
      system.GetFileAttributesA(place->copiedBefore ? place->attributesOf : place->path);
  if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeHidden)) {
    return Refusal::kHiddenNotInPlace;
  }
  place->inPlace = true;
  return Refusal::kNone;
}

bool CopyKeepsReplacedAttributes() { return false; }

bool FindCommandLineProgramA(System& /*system*/, const char* line, IsFileTest isFile, void* context,
                             TextString* program, ByteBuffer* parameters) {
  size_t start = std::strspn(line, " \t");
  size_t size = std::strlen(line);
  if (start == size) return false;
  size_t end;
  if (line[start] == '"') {
    const char* close = std::strchr(line + start + 1, '"');
    size_t length =
        close == nullptr ? size - start - 1 : static_cast<size_t>(close - line) - start - 1;
    end = close == nullptr ? size : static_cast<size_t>(close - line) + 1;
    if (!ResolveProgram(line + start + 1, length, isFile, context, program)) return false;
  } else {
    end = start;
    for (;;) {
      end += 1 + std::strcspn(line + end + 1, " \t");
      if (end > size) end = size;
      if (ResolveProgram(line + start, end - start, isFile, context, program)) break;
      if (end == size) return false;
    }
  }
  return SplitCommandWords(line + end, parameters);
}

StartCheck CheckStartA(System& system, const char* program, size_t lineLength,
                       const size_t* /*wordSizes*/, size_t /*wordCount*/) {
  StartCheck check;
  size_t length = std::strlen(program);
  if (length >= 4 && (_stricmp(program + length - 4, ".bat") == 0 ||
                      _stricmp(program + length - 4, ".cmd") == 0)) {
    return check;
  }
  uint32_t type = 0;
  if (!system.GetBinaryTypeA(program, &type) ||
      (type != kScs32BitBinary && type != kScs64BitBinary)) {
    check.refusal = Refusal::kNotAProgram;
    return check;
  }
  if (lineLength + 1 > kLongestCommandLine) {
    check.doubt = StartDoubt::kLongLine;
    check.size = lineLength;
  }
  return check;
}

}  // namespace kestario
