#include "engine/undo.h"

#include "engine/file_checks.h"
#include "engine/files_in_use.h"
#include "platform/system.h"
#include "runlog/run_log.h"
#include "settings/messages.h"

namespace kestario {
namespace rollback {

using journal::Journal;
using journal::kCopyChange;
using journal::Target;

namespace {

enum class Undo { kNothing, kUndone, kFailed };

// The folder of a change, opened for its undo without following a link at any step, and closed
// when it goes: every name of the change is then looked at and acted on in it, so a folder above
// it that is replaced meanwhile (by a link to somewhere else) changes nothing.
class HeldFolder {
 public:
  HeldFolder(const TextString& path, FileIdentity* identity)
      : handle_(CurrentSystem().OpenFolderA(path.GetConstText(), identity)) {}
  ~HeldFolder() {
    if (handle_ != kNoFile) CurrentSystem().CloseHandle(handle_);
  }
  HeldFolder(const HeldFolder&) = delete;
  HeldFolder& operator=(const HeldFolder&) = delete;
  FileHandle handle() const { return handle_; }

 private:
  FileHandle handle_;
};

// The last step of `path`, after its last separator.
TextString LastStep(const TextString& path) {
  const char* text = path.GetConstText();
  const char* step = text;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == kPathSeparator || *p == '/') step = p + 1;
  }
  TextString name;
  name.SetText(step);
  return name;
}

// Puts the kept file `kept` back as `target`, both names in `folder`, its hidden attribute taken
// off first when the run gave it (kKeptSuffix). Neither name is followed if it is a link: a
// rename acts on names.
bool PutBack(FileHandle folder, const char* kept, const char* target, bool hiddenByRun,
             uint32_t flags) {
  System& system = CurrentSystem();
  if (hiddenByRun) system.ClearFileAttributesInFolderA(folder, kept, kFileAttributeHidden);
  if (flags == 0) {
    // Two names of one file (a run killed between keeping the old file and replacing it): the
    // old file is still in place, and the kept name goes.
    return system.DeleteFileInFolderA(folder, kept);
  }
  return system.MoveFileInFolderA(folder, kept, target, flags | kMoveFileWriteThrough);
}

// Undoes one change, if it was made and is still as the run left it; logs it. Nothing is touched
// when the folder, the kept file or the file in place is not what the run left: the kept file
// stays for the administrator, and `failure` names it. Every name is acted on in the folder as
// it was opened and found to be the one the run changed.
Undo UndoTarget(const Journal& journal, const Target& target, UndoFailure* failure) {
  System& system = CurrentSystem();
  TextString folder = journal.Text(target.folder);
  TextString name = journal.Text(target.name);
  TextString stem = journal.Text(target.stem);
  TextString procedure = journal.Text(target.procedure);
  TextString path = Joined(folder, name.GetConstText());
  auto line = [&]() {
    LogLine log;
    log.Add("undo ").Add(procedure).Add(": ");
    return log;
  };
  auto fail = [&](const TextString& kept, const char* why) {
    if (IsRunLogOn()) {
      LogLine log = line();
      log.Add("could not put back ").Quoted(path);
      if (why != nullptr) log.Add(": ").Add(why);
      if (kept.GetLength() != 0) log.Add("; the old file stays as ").Quoted(kept);
      log.Write();
    }
    failure->path.Assign(path);
    failure->kept.Assign(kept);
    return Undo::kFailed;
  };
  TextString keptOld = WithSuffix(stem, kKeptSuffix);
  FileIdentity identity = {};
  HeldFolder held(folder, &identity);
  if (held.handle() == kNoFile || !SameIdentity(identity, target.folderIdentity)) {
    // Gone, or another folder (or a link on the way) under its name: nothing in it is the run's
    // to touch. A link in its place is told of (the run's kept files may lie where the folder
    // went), and so is another folder that holds the change's names.
    FileStamp now;
    bool linked = system.GetFileStampA(folder.GetConstText(), &now) && now.link;
    bool anything = linked || Exists(keptOld.GetConstText()) ||
                    Exists(WithSuffix(stem, kKeptHiddenSuffix).GetConstText()) ||
                    Exists(WithSuffix(stem, kMarkSuffix).GetConstText());
    if (!anything) return Undo::kNothing;
    return fail(keptOld, "its folder is no longer the one the run changed");
  }
  FileHandle here = held.handle();
  TextString stemName = LastStep(stem);
  auto named = [&](const char* suffix) { return WithSuffix(stemName, suffix); };
  auto exists = [&](const TextString& inFolder) {
    FileStamp stamp;
    return system.GetFileStampInFolderA(here, inFolder.GetConstText(), &stamp);
  };
  bool isCopy = target.kind == kCopyChange;
  // A COPY's new file that is not in place (a run killed while it copied, or a copy waiting for
  // a restart, which then finds nothing to put in place) goes first.
  TextString staged = WithSuffix(stem, kStagedSuffix);
  bool stagedRemoved =
      isCopy && system.DeleteFileInFolderA(here, named(kStagedSuffix).GetConstText());
  FileStamp inPlace;
  bool present = system.GetFileStampInFolderA(here, name.GetConstText(), &inPlace);
  // Whether the file in place is the one the COPY left: its stamp, or when the run could not
  // record that, the size and time it took from its source.
  bool leftByRun = present && !inPlace.link &&
                   (target.settled ? SameStamp(inPlace, target.placed)
                                   : inPlace.size == target.sourceSize &&
                                         inPlace.writeTime == target.sourceTime);
  static const char* const kKeptSuffixes[] = {kKeptSuffix, kKeptHiddenSuffix};
  for (const char* suffix : kKeptSuffixes) {
    TextString kept = WithSuffix(stem, suffix);
    TextString keptName = named(suffix);
    FileStamp keptStamp;
    if (!system.GetFileStampInFolderA(here, keptName.GetConstText(), &keptStamp)) continue;
    bool hiddenByRun = suffix == kKeptSuffixes[0];
    if (!target.hadOld || !SameStamp(keptStamp, target.old)) {
      return fail(kept, "the kept file is not the one the run kept");
    }
    uint32_t flags = kMoveFileReplaceExisting;
    if (!present) {
      flags = kMoveFileWriteThrough;  // nothing in its place: never replace what may come
    } else if (isCopy && SameIdentity(inPlace.identity, keptStamp.identity) && !inPlace.link) {
      flags = 0;  // the old file never left its place
    } else if (!isCopy || !leftByRun) {
      return fail(kept, "it is no longer what the run left there");
    }
    if (!PutBack(here, keptName.GetConstText(), name.GetConstText(), hiddenByRun, flags)) {
      return fail(kept, nullptr);
    }
    system.DeleteFileInFolderA(here, named(kMarkSuffix).GetConstText());
    if (IsRunLogOn()) {
      if (isCopy) {
        line().Add("the old file is back in ").Quoted(path).Write();
      } else {
        line().Add("put back ").Quoted(path).Write();
      }
    }
    return Undo::kUndone;
  }
  if (!isCopy) return Undo::kNothing;
  TextString made = named(kMarkSuffix);
  if (!exists(made)) {
    if (!stagedRemoved) return Undo::kNothing;
    if (IsRunLogOn())
      line().Add("removed the new file ").Quoted(staged).Add(", never put in place").Write();
    return Undo::kUndone;
  }
  // The COPY made the file: it goes (the marker after it, so that a run stopped between the two
  // still knows), when it is still the one it made.
  if (present && !leftByRun) {
    if (IsRunLogOn()) {
      line()
          .Add("did not remove ")
          .Quoted(path)
          .Add(": it is no longer the file the run made")
          .Write();
    }
    system.DeleteFileInFolderA(here, made.GetConstText());
    failure->path.Assign(path);
    failure->kept.SetText("");
    return Undo::kFailed;
  }
  if (present && !system.DeleteFileInFolderA(here, name.GetConstText()) && exists(name)) {
    if (IsRunLogOn())
      line().Add("could not remove ").Quoted(path).Add(", which the run made").Write();
    failure->path.Assign(path);
    failure->kept.SetText("");
    return Undo::kFailed;
  }
  system.DeleteFileInFolderA(here, made.GetConstText());
  if (IsRunLogOn()) line().Add("removed ").Quoted(path).Add(", which the run made").Write();
  return Undo::kUndone;
}

}  // namespace

void UndoAll(const Journal& journal, UndoCount* count) {
  for (uint32_t i = journal.targetCount; i-- > 0;) {
    UndoFailure failure;
    Undo result = UndoTarget(journal, journal.TargetAt(i), &failure);
    if (result == Undo::kUndone) ++count->undone;
    if (result == Undo::kFailed && count->failed++ == 0) {
      count->first.path.Assign(failure.path);
      count->first.kept.Assign(failure.kept);
    }
  }
}

void RemoveKept(const Journal& journal, JournalFile* file) {
  System& system = CurrentSystem();
  for (uint32_t i = 0; i < journal.targetCount; ++i) {
    const Target& target = journal.TargetAt(i);
    TextString stem = journal.Text(target.stem);
    TextString stemName = LastStep(stem);
    // The names are looked at and removed in the folder the run changed, opened as the undo
    // opens it; one that is no longer that folder holds nothing of the run's to remove.
    FileIdentity identity = {};
    HeldFolder held(journal.Text(target.folder), &identity);
    bool same = held.handle() != kNoFile && SameIdentity(identity, target.folderIdentity);
    static const char* const kSuffixes[] = {kKeptSuffix, kKeptHiddenSuffix, kMarkSuffix};
    for (const char* suffix : kSuffixes) {
      TextString kept = WithSuffix(stem, suffix);
      TextString keptName = WithSuffix(stemName, suffix);
      FileStamp stamp;
      if (same ? !system.GetFileStampInFolderA(held.handle(), keptName.GetConstText(), &stamp)
               : !Exists(kept.GetConstText())) {
        continue;
      }
      const char* why = nullptr;
      if (!same) {
        why = " is not in the folder the run changed: it stays for the administrator";
      } else if (suffix != kMarkSuffix && (!target.hadOld || !SameStamp(stamp, target.old))) {
        why = " is not the file the run kept: it stays for the administrator";
      }
      if (why != nullptr) {
        if (IsRunLogOn()) LogLine().Add("rollback: ").Quoted(kept).Add(why).Write();
        continue;
      }
      // One still in use (Windows) goes later, by its full name: the folder stays held meanwhile.
      if (!system.DeleteFileInFolderA(held.handle(), keptName.GetConstText())) {
        RemoveKeptFile(kept.GetConstText(), file);
      }
    }
  }
}

void ReportUndoFailure(const UndoCount& count) {
  if (count.failed != 0) {
    ReportError(kMsgUndoFailed, count.first.path.GetConstText(), count.first.kept.GetConstText());
  }
}

}  // namespace rollback
}  // namespace kestario
