#include "tools/checker/predictions.h"

#include "platform/call_refusals.h"
#include "platform/path_questions.h"
#include "tools/checker/paths.h"
#include "tools/checker/script_lines.h"

namespace kestario {
namespace checker {
namespace {

// Whether a copy's destination exists; `problem` is set when it cannot even be looked at.
bool TargetExists(const std::string& path, std::string* problem) {
  PathKind kind = GetPathKindA(path.c_str());
  if (kind == PathKind::kUnreachable) *problem = "the destination cannot be reached";
  return kind != PathKind::kNothing && kind != PathKind::kUnreachable;
}

// Whether the predicted files hold a file that is no folder at `path` (IsFileTest).
bool IsModelFile(const char* path, void* files) {
  return static_cast<const PredictedFiles*>(files)->IsNonFolder(path);
}

// Why the platform would refuse a call, in the report's words; `copied`: the file is one that the
// run copied earlier.
std::string RefusalText(Refusal refusal, bool copied = false) {
  switch (refusal) {
    case Refusal::kNone:
      break;
    case Refusal::kWildcard:
      return "a wildcard names no file to delete";
    case Refusal::kMissing:
      return "it does not exist";
    case Refusal::kFolder:
      return "it is a folder";
    case Refusal::kReadOnly:
      return copied ? "it is read-only (the copy made earlier in the run is)" : "it is read-only";
    case Refusal::kMayNotDelete:
      return "this user may not delete it";
    case Refusal::kFolderKeepsNames:
      return copied ? "its folder does not let this user remove files"
                    : "its folder does not let this user remove files (its permissions, an "
                      "immutable or append-only folder, or a read-only file system)";
    case Refusal::kPinned:
      return "this user may not delete it (the sticky bit of its folder, an immutable or "
             "append-only file, or a mount point)";
    case Refusal::kSourceNotRegular:
      return "the source is not a regular file";
    case Refusal::kSourceUnreadable:
      return "the source cannot be read";
    case Refusal::kPathTooLong:
      return "the destination's path is longer than MAX_PATH allows";
    case Refusal::kFolderMissing:
      return "the destination's folder does not exist";
    case Refusal::kFolderUnreadable:
      return "the destination's folder cannot be read";
    case Refusal::kNoRoomForTemporary:
      return "the destination's name leaves no room for the temporary file's name beside it";
    case Refusal::kFolderAppendOnly:
      return "the destination's folder takes new files but lets none be renamed (append-only)";
    case Refusal::kMayWriteNotDelete:
      return "this user may not replace the destination (it may write but not delete it)";
    case Refusal::kReplacePinned:
      return "this user may not replace the destination (the sticky bit of its folder, an "
             "immutable or append-only file, or a mount point)";
    case Refusal::kFolderRefusesNew:
      return "the destination's folder does not let this user add files";
    case Refusal::kFolderNotWritable:
      return "the destination's folder is not writable";
    case Refusal::kHiddenNotInPlace:
      return "the destination's folder does not let this user add files, and a hidden "
             "destination is not written in place";
    case Refusal::kNotWritableInPlace:
      return "the destination's folder is not writable, and the destination cannot be written in "
             "place";
    case Refusal::kNotAProgram:
      return "the file is not a program this Windows starts";
    case Refusal::kNotStartable:
      return "the file is not a program this machine starts (an ELF of this machine whose loader "
             "exists, or a script whose interpreter is one)";
    case Refusal::kProgramMissing:
      return "the program cannot be found";
    case Refusal::kProgramFolder:
      return "the program is a folder";
    case Refusal::kMayNotExecute:
      return "this user may not execute it (its mode, or a file system mounted noexec)";
    case Refusal::kParameterTooLong:
      break;  // with its numbers: ProgramProblem
  }
  return std::string();
}

}  // namespace

// Whether two names are one file: two spellings of one name, or one file by its identity.
bool SameFile(const std::string& left, const std::string& right) {
  return PathKey(left) == PathKey(right) || IsSameFileA(left.c_str(), right.c_str());
}

// Why the platform would not open `path` for writing; empty when it would.
std::string WriteProblem(const std::string& path, bool exists) {
  std::string folder, name;
  SplitPath(path, &folder, &name);
  if (name.empty() || HasWildcard(path) || !IsFolder(folder)) return "no such folder";
  if (!WouldOpenForWritingA(path.c_str(), exists)) return "not writable";
  return std::string();
}

std::string StepPredictions::DeleteProblem(const std::string& path) {
  return RefusalText(CheckDeleteA(*real_, path.c_str()));
}

std::string StepPredictions::DeleteOfCopyProblem(const std::string& path,
                                                 const PredictedFiles::Entry& entry) {
  return RefusalText(CheckDeleteOfCopyA(*real_, path.c_str(), entry.attributesOf.c_str()), true);
}

std::string StepPredictions::SourceProblem(const std::string& path) {
  uint32_t attributes = RealAttributes(path);
  if (HasWildcard(path) || attributes == kInvalidFileAttributes) {
    return "the source does not exist";
  }
  if (attributes & kFileAttributeDirectory) return "the source is a folder";
  return RefusalText(CheckCopySourceA(*real_, path.c_str()));
}

std::string StepPredictions::DestinationProblem(const std::string& target,
                                                const std::string& source, bool failIfExists,
                                                Destination* destination) {
  TextString written;
  if (!GetWriteTargetA(target.c_str(), &written)) {
    destination->path = target;
    return "the destination is a symbolic link to nothing";
  }
  destination->path = written.GetConstText();
  std::string problem;
  destination->entry = files_->Find(destination->path);
  if (destination->entry != nullptr) {
    destination->exists = destination->entry->present;
  } else {
    destination->exists = TargetExists(destination->path, &problem);
    if (!problem.empty()) return problem;
    if (destination->exists && files_->Find(source) == nullptr &&
        SameFile(source, destination->path)) {
      destination->same = true;  // as the program does: nothing to copy, the file stays
      return failIfExists ? "the destination exists" : std::string();
    }
  }
  if (destination->exists) {
    if (failIfExists) return "the destination exists";
    problem = ReplaceProblem(*destination);
    if (!problem.empty()) return problem;
  }
  return PlaceProblem(destination);
}

// Why the existing destination cannot be replaced: a folder, a read-only file, one that this
// user may not write. A hidden file is replaced like any other.
std::string StepPredictions::ReplaceProblem(const Destination& destination) {
  const PredictedFiles::Entry* entry = destination.entry;
  uint32_t attributes = RealAttributes(entry != nullptr ? entry->attributesOf : destination.path);
  if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeDirectory)) {
    return "the destination is a folder";
  }
  if (attributes != kInvalidFileAttributes && (attributes & kFileAttributeReadOnly)) {
    return entry != nullptr ? "the destination is read-only (the copy made earlier in the run is)"
                            : "the destination is read-only";
  }
  std::string rights = entry != nullptr ? entry->accessOf : destination.path;
  if (!rights.empty() && !Granted(rights, kFileWriteData)) {
    return "this user may not write the destination";
  }
  return std::string();
}

// Why the copy cannot be put in place in the destination's folder: through a new file beside it,
// or, in a folder that refuses new files, by writing the existing destination in place.
std::string StepPredictions::PlaceProblem(Destination* destination) {
  const std::string& path = destination->path;
  std::string folder, name;
  SplitPath(path, &folder, &name);
  if (name.empty() || HasWildcard(path)) return "the destination names no file";
  const PredictedFiles::Entry* entry = destination->entry;
  CopyPlace place = {path.c_str(),
                     destination->exists,
                     entry != nullptr,
                     entry != nullptr ? entry->attributesOf.c_str() : "",
                     entry != nullptr ? entry->accessOf.c_str() : "",
                     false};
  std::string problem = RefusalText(CheckCopyPlaceA(*real_, &place));
  destination->inPlace = place.inPlace;
  return problem;
}

bool StepPredictions::FindProgram(const std::string& line, std::string* program,
                                  std::vector<std::string>* arguments) {
  TextString found;
  ByteBuffer parameters;
  if (!FindCommandLineProgramA(*real_, line.c_str(), IsModelFile,
                               const_cast<PredictedFiles*>(files_), &found, &parameters)) {
    return false;
  }
  *program = found.GetConstText();
  *arguments = Words(parameters);
  return true;
}

std::string StepPredictions::ProgramProblem(const std::string& program, const std::string& line,
                                            const std::vector<std::string>& words,
                                            std::string* unsure) {
  std::vector<size_t> sizes;
  for (const std::string& word : words) sizes.push_back(word.size());
  StartCheck check = CheckStartA(*real_, program.c_str(), line.size(), sizes.data(), sizes.size());
  switch (check.doubt) {
    case StartDoubt::kNone:
      break;
    case StartDoubt::kUnreadable:
      *unsure = "this user may execute " + program +
                " but not read it, so whether the system takes it as a program cannot be told";
      break;
    case StartDoubt::kLongLine:
      *unsure = "the command line has " + std::to_string(check.size) +
                " characters: Windows refuses more than 32,767, Wine passes them on";
      break;
    case StartDoubt::kManyParameters:
      *unsure = "the command line has " + std::to_string(check.size) +
                " bytes of parameters: whether the system passes them depends on the updater's "
                "stack limit and environment";
      break;
  }
  if (check.refusal == Refusal::kParameterTooLong) {
    return "a parameter of " + std::to_string(check.size) + " bytes is longer than the " +
           std::to_string(check.limit) + " the system passes";
  }
  return RefusalText(check.refusal);
}

}  // namespace checker
}  // namespace kestario
