// The copy of the Windows build: through a temporary file in the destination's folder, put in
// place by one rename.
#include "platform/copy_win32.h"

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "platform/checked_image_win32.h"
#include "platform/file_info_win32.h"
#include "platform/handle_win32.h"
#include "text/text_string.h"

namespace kestario {
namespace {

// The copy behind CopyFileA. The data goes to a new file ".NAME.XXXXXX" in the destination's own
// folder, which gets everything the finished file should have (the source's modification time
// and attributes; for a replaced file, its access list, creation time and, where the user may
// assign them, its owner and group), is flushed, and is then put in place by one rename on that
// volume: MoveFileExA, replacing an existing destination (MOVEFILE_REPLACE_EXISTING) and never a
// file that appeared meanwhile when there was none. So the destination is the old file or the
// whole new one at every moment, never missing, and nothing can fail once the new file is in
// place. (ReplaceFileA is not used: it takes the old file away before the new one takes its name,
// and Wine's leaves an empty "rfXXXX.tmp" when two copies meet.) The temporary file is marked for
// deletion while it is written, so that it goes even when the process is ended half-way.
//
// Asked to keep the replaced file (`kept`), the copy makes it a hard link of that name just before
// the rename (on a volume without hard links, it renames the old file there first). Asked to
// replace a file in use, a destination that a running program holds (a sharing violation) is
// renamed to `kept` and the new file takes its name; when even the rename is refused (the file is
// held without FILE_SHARE_DELETE), the new file is left at `staged` and put in place at the next
// restart (MOVEFILE_DELAY_UNTIL_REBOOT, which only administrators may ask for).
class AtomicCopy {
 public:
  struct Extras {
    const KeptFileNames* names = nullptr;  // the names beside the destination
    bool keep = false;                     // a replaced file is kept
    bool mark = false;                     // a new file gets a second name
    bool replaceInUse = false;
    ContentPin* pin = nullptr;  // the bytes must match it
    KeptAs* as = nullptr;       // receives which name the copy kept, marked or staged
  };

  static CopyOutcome Run(const char* from, const char* to, bool failIfExists,
                         const Extras& extras) {
    // Shared for writing too, as Linux has no say in it: a file that another handle may write
    // (the run log, which the run keeps open) is copied, and one that changes meanwhile fails.
    Handle source(::CreateFileA(from, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!source.valid()) return CopyOutcome::kFailed;
    AtomicCopy copy(from, source.get(), extras);
    return copy.CopyTo(to, failIfExists);
  }

 private:
  AtomicCopy(const char* from, HANDLE source, const Extras& extras)
      : from_(from), source_(source), extras_(extras) {
    if (extras_.as) *extras_.as = KeptAs::kNone;
  }

  // The name beside the destination that `as` stands for.
  bool Name(TextString* name, KeptAs as) const {
    const KeptFileNames* names = extras_.names;
    const char* given = !names                      ? nullptr
                        : as == KeptAs::kKept       ? names->kept
                        : as == KeptAs::kKeptHidden ? names->keptHidden
                        : as == KeptAs::kMark       ? names->mark
                                                    : names->staged;
    return given && name->SetText(given);
  }
  // Tells the caller what the copy kept.
  void Report(KeptAs as) const {
    if (extras_.as) *extras_.as = as;
  }

  static bool SameFile(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
  }

  CopyOutcome CopyTo(const char* to, bool failIfExists) {
    constexpr CopyOutcome kFailed = CopyOutcome::kFailed;
    if (!::GetFileInformationByHandle(source_, &sourceInfo_) ||
        (sourceInfo_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      return kFailed;
    }
    DWORD attributes = ::GetFileAttributesA(to);
    bool replacing = attributes != INVALID_FILE_ATTRIBUTES;
    if (!replacing && ::GetLastError() != ERROR_FILE_NOT_FOUND) return kFailed;
    char* resolved = nullptr;
    bool inUse = false;
    BY_HANDLE_FILE_INFORMATION targetInfo = {};
    if (replacing) {
      // The destination as it stands: the same file as the source (another spelling, a link)
      // is left alone; a symbolic link is written through to the file it names (its final
      // path, which Wine gives for Unix links too; a plain file without one is taken as named).
      bool known = false;
      {
        Handle probe(::CreateFileA(to, FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!probe.valid()) return kFailed;
        known = ::GetFileInformationByHandle(probe.get(), &targetInfo) != FALSE;
        if (known && SameFile(sourceInfo_, targetInfo)) {
          // Nothing to copy; a pin is checked all the same.
          return failIfExists || (extras_.pin && !SourceMatchesPin()) ? kFailed
                                                                      : CopyOutcome::kCopied;
        }
        if (known) resolved = FinalPath(probe.get());
      }
      if (!known || failIfExists ||
          (targetInfo.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) ||
          (!resolved && (attributes & FILE_ATTRIBUTE_REPARSE_POINT))) {
        free(resolved);
        return kFailed;
      }
      if (resolved) to = resolved;
      // Writable, and held by nobody without sharing: the failures CopyFileA has. A file that a
      // running program holds may be replaced when the COPY asks for it.
      Handle writable(::CreateFileA(to, GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
      if (!writable.valid()) {
        inUse = CanReplaceInUse() && ::GetLastError() == ERROR_SHARING_VIOLATION;
        if (!inUse) {
          free(resolved);
          return kFailed;
        }
      }
    }
    // The names beside it: the old file's (hidden, unless it was hidden already), the new one's
    // mark and its staged name.
    bool hiddenAlready = replacing && (targetInfo.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN);
    oldAttributes_ = targetInfo.dwFileAttributes;
    oldAs_ = hiddenAlready ? KeptAs::kKeptHidden : KeptAs::kKept;
    bool named = (!(extras_.keep || extras_.replaceInUse) || Name(&old_, oldAs_)) &&
                 (!extras_.mark || Name(&made_, KeptAs::kMark)) &&
                 (!(extras_.keep || extras_.mark || extras_.replaceInUse) ||
                  Name(&staged_, KeptAs::kStaged));
    if (!named) {
      free(resolved);
      return kFailed;
    }
    CopyOutcome outcome = CopyThroughTemporary(to, replacing ? &targetInfo : nullptr, inUse);
    free(resolved);
    return outcome;
  }

  bool CanReplaceInUse() const { return extras_.replaceInUse && extras_.names; }

  // Hides the old file, kept or set aside, unless it was hidden already.
  void HideOld() const {
    if (oldAttributes_ & FILE_ATTRIBUTE_HIDDEN) return;
    DWORD plain = oldAttributes_ & ~FILE_ATTRIBUTE_NORMAL;
    ::SetFileAttributesA(old_.GetConstText(), plain | FILE_ATTRIBUTE_HIDDEN);
  }

  // "<folder>\.<name>.XXXXXX" for `to`, the X's to be filled in; null when `to` ends in a
  // separator or memory runs out.
  static char* TemporaryTemplate(const char* to) {
    const char* name = to;
    for (const char* p = to; *p; ++p) {
      if (*p == '\\' || *p == '/' || (*p == ':' && p == to + 1)) name = p + 1;
    }
    if (!*name) return nullptr;
    size_t folderLength = static_cast<size_t>(name - to);
    size_t nameLength = strlen(name);
    char* result = static_cast<char*>(malloc(folderLength + nameLength + 9));
    if (!result) return nullptr;
    memcpy(result, to, folderLength);
    result[folderLength] = '.';
    memcpy(result + folderLength + 1, name, nameLength);
    memcpy(result + folderLength + 1 + nameLength, ".XXXXXX", 8);
    return result;
  }

  static void FillRandomSuffix(char* path, unsigned attempt) {
    static const char kDigits[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    uint64_t value = (static_cast<uint64_t>(::GetTickCount()) << 20) ^ ::GetCurrentProcessId() ^
                     (static_cast<uint64_t>(attempt + 1) * 0x9E3779B97F4A7C15ull);
    LARGE_INTEGER counter;
    if (::QueryPerformanceCounter(&counter)) value ^= static_cast<uint64_t>(counter.QuadPart);
    char* end = path + strlen(path);
    for (char* p = end - 6; p < end; ++p) {
      *p = kDigits[value % 36];
      value /= 36;
    }
  }

  static bool MarkForDeletion(HANDLE file, bool deleted) {
    FILE_DISPOSITION_INFO disposition;
    disposition.DeleteFile = deleted ? TRUE : FALSE;
    return ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                        sizeof disposition) != FALSE;
  }

  // Whether two security descriptors hold the same access list.
  static bool SameAccessList(void* one, void* other) {
    BOOL present[2] = {FALSE, FALSE};
    BOOL defaulted = FALSE;
    ACL* list[2] = {nullptr, nullptr};
    SECURITY_DESCRIPTOR_CONTROL control[2] = {0, 0};
    DWORD revision = 0;
    void* descriptors[2] = {one, other};
    for (int i = 0; i < 2; ++i) {
      if (!::GetSecurityDescriptorDacl(descriptors[i], &present[i], &list[i], &defaulted) ||
          !::GetSecurityDescriptorControl(descriptors[i], &control[i], &revision)) {
        return false;
      }
    }
    if (present[0] != present[1] || ((control[0] ^ control[1]) & SE_DACL_PROTECTED)) return false;
    if (!list[0] || !list[1]) return list[0] == list[1];
    return list[0]->AclSize == list[1]->AclSize && memcmp(list[0], list[1], list[0]->AclSize) == 0;
  }

  // Carries the replaced file's access list over to `target` (opened with READ_CONTROL, WRITE_DAC
  // and WRITE_OWNER) where the new file did not get the same one from its folder, and its owner
  // and group where Windows lets this user assign them (its own account, or with the restore
  // privilege); otherwise the new file is the user's, as any file the user makes. A volume that
  // keeps no security (FAT) has none to carry.
  static bool CarrySecurity(const char* replaced, HANDLE target) {
    void* old = ReadSecurity(replaced, nullptr);
    if (!old) {
      DWORD error = ::GetLastError();
      return error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION;
    }
    void* fresh = ReadSecurity(nullptr, target);
    bool ok = (fresh && SameAccessList(old, fresh)) ||
              ::SetKernelObjectSecurity(target, DACL_SECURITY_INFORMATION, old);
    if (ok) {
      (void)::SetKernelObjectSecurity(target, OWNER_SECURITY_INFORMATION, old);
      (void)::SetKernelObjectSecurity(target, GROUP_SECURITY_INFORMATION, old);
    }
    free(fresh);
    free(old);
    return ok;
  }

  // Gives `target` the source's modification time and attributes (as CopyFileA gives them) and
  // the replaced file's creation time.
  bool SetTimesAndAttributes(HANDLE target, const BY_HANDLE_FILE_INFORMATION* replaced) {
    const DWORD kKept = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                        FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic = {};  // a time of 0 is left as it is
    if (replaced) basic.CreationTime = Time(replaced->ftCreationTime);
    basic.LastWriteTime = Time(sourceInfo_.ftLastWriteTime);
    DWORD wanted = sourceInfo_.dwFileAttributes & kKept;
    basic.FileAttributes = wanted ? wanted : FILE_ATTRIBUTE_NORMAL;
    return ::SetFileInformationByHandle(target, FileBasicInfo, &basic, sizeof basic) != FALSE;
  }

  static LARGE_INTEGER Time(const FILETIME& time) {
    LARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = static_cast<LONG>(time.dwHighDateTime);
    return value;
  }

  // Renames `temporary` to `to`. Windows renames onto a file only while no program has it open:
  // one that has it open for a moment (a virus scanner, an indexer, another copy looking at it)
  // makes the rename fail, and it is tried again for about a second before the copy fails.
  static bool PutInPlace(const char* temporary, const char* to, bool replacing) {
    DWORD flags = MOVEFILE_WRITE_THROUGH | (replacing ? MOVEFILE_REPLACE_EXISTING : 0);
    for (int attempt = 1;; ++attempt) {
      if (::MoveFileExA(temporary, to, flags)) return true;
      DWORD error = ::GetLastError();
      if (attempt == kRenameAttempts || !RenameRefused(error)) {
        ::SetLastError(error);
        return false;
      }
      ::Sleep(kRenamePause);
    }
  }

  // Whether a failed rename onto a file says that a program has the file open.
  static bool RenameRefused(DWORD error) {
    return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
  }
  static constexpr int kRenameAttempts = 20;
  static constexpr DWORD kRenamePause = 50;  // milliseconds

  // `replaced`: the destination's information when it exists, else null. `inUse`: a running
  // program holds it.
  CopyOutcome CopyThroughTemporary(const char* to, const BY_HANDLE_FILE_INFORMATION* replaced,
                                   bool inUse) {
    constexpr CopyOutcome kFailed = CopyOutcome::kFailed;
    char* temporary = TemporaryTemplate(to);
    if (!temporary) return kFailed;
    Handle target;
    DWORD error = 0;
    for (unsigned attempt = 0; attempt < 100 && !target.valid(); ++attempt) {
      FillRandomSuffix(temporary, attempt);
      // The rights asked for when a file is made are granted on this handle whatever access list
      // the file gets later, so that it can always be removed through it. It stays open while the
      // file is renamed into place, shared so that neither that rename nor another copy that
      // looks at the destination just then is refused.
      // A pinned copy shares no writing: the bytes it hashes as it writes them stay the file's.
      DWORD sharing = FILE_SHARE_READ | FILE_SHARE_DELETE | (extras_.pin ? 0 : FILE_SHARE_WRITE);
      target.reset(::CreateFileA(temporary,
                                 GENERIC_WRITE | DELETE | READ_CONTROL | WRITE_DAC | WRITE_OWNER,
                                 sharing, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
      error = target.valid() ? 0 : ::GetLastError();
      if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    if (!target.valid()) {
      free(temporary);
      // A folder that refuses new files, with a destination the user may write (an
      // administrator may grant one file in a protected folder): copied in place, as before.
      // Not when the old file is to be kept or is in use: writing in place would lose it.
      bool inPlace = replaced && !inUse && !extras_.keep && !extras_.pin &&
                     error == ERROR_ACCESS_DENIED && ::CopyFileA(from_, to, FALSE);
      return inPlace ? CopyOutcome::kCopied : kFailed;
    }
    HANDLE file = target.get();
    bool written = MarkForDeletion(file, true) && CopyData(file) && SourceUnchanged() &&
                   (!replaced || CarrySecurity(to, file)) && MarkForDeletion(file, false) &&
                   SetTimesAndAttributes(file, replaced) && ::FlushFileBuffers(file);
    CopyOutcome outcome = kFailed;
    bool inPlace = false;
    // A new file is marked before it takes its name; one that cannot be is not put in place.
    bool marking = !replaced && extras_.mark;
    bool marked = written && marking && Mark(temporary);
    if (written && !inUse && (marked || !marking)) {
      int kept = replaced && extras_.keep ? KeepOld(to) : kNotKept;
      if (kept != kKeepFailed &&
          PutInPlace(temporary, to, replaced != nullptr && kept != kRenamedAside)) {
        outcome = CopyOutcome::kCopied;
        if (kept != kNotKept) {
          HideOld();
          Report(oldAs_);
        }
        if (marked) Report(KeptAs::kMark);
      } else {
        DWORD refused = ::GetLastError();
        if (kept == kLinked) ::DeleteFileA(old_.GetConstText());
        if (kept == kRenamedAside) ::MoveFileExA(old_.GetConstText(), to, 0);
        // A destination that another program keeps open while sharing it for writing cannot be
        // renamed onto, but CopyFileA writes such a file in place: so does the copy, as for a
        // folder that refuses new files (not atomic). A program that does not share it for
        // writing (a running program's image) refuses that too, and the copy fails, unless the
        // COPY asks to replace it.
        bool held = kept != kKeepFailed && replaced && RenameRefused(refused);
        inUse = held && CanReplaceInUse();
        inPlace = held && !inUse && !extras_.keep && !extras_.pin;
      }
    }
    if (written && inUse) outcome = ReplaceInUse(to, temporary);
    bool ok = outcome != kFailed;
    if (!ok && marked) ::DeleteFileA(made_.GetConstText());
    if (!ok) {
      // Not in place: the temporary file goes, read-only or not, through the handle that may.
      FILE_BASIC_INFO plain = {};
      plain.FileAttributes = FILE_ATTRIBUTE_NORMAL;
      ::SetFileInformationByHandle(file, FileBasicInfo, &plain, sizeof plain);
      MarkForDeletion(file, true);
    }
    target.reset();  // a temporary file not put in place goes now, before any copy in place
    free(temporary);
    if (inPlace && ::CopyFileA(from_, to, FALSE)) outcome = CopyOutcome::kCopied;
    return outcome;
  }

  // How the replaced file was kept (KeepOld).
  static constexpr int kNotKept = 0;
  static constexpr int kLinked = 1;        // `kept` is a hard link of it: `to` stays in place
  static constexpr int kRenamedAside = 2;  // a volume without hard links: it was renamed there
  static constexpr int kKeepFailed = 3;

  // Marks the new file `temporary` as made by the run: `kept` becomes a second name of it (on a
  // volume without hard links, an empty file of that name).
  bool Mark(const char* temporary) const {
    if (::CreateHardLinkA(made_.GetConstText(), temporary, nullptr)) return true;
    DWORD error = ::GetLastError();
    if (error != ERROR_NOT_SUPPORTED && error != ERROR_INVALID_FUNCTION) return false;
    Handle marker(::CreateFileA(made_.GetConstText(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    return marker.valid();
  }

  // Keeps the file `to` under the name `kept`: a hard link, so that the destination stays whole
  // until the new file takes its name; on a volume without hard links (FAT), a rename.
  int KeepOld(const char* to) const {
    if (::CreateHardLinkA(old_.GetConstText(), to, nullptr)) return kLinked;
    DWORD error = ::GetLastError();
    if ((error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION) &&
        ::MoveFileExA(to, old_.GetConstText(), 0)) {
      return kRenamedAside;
    }
    return kKeepFailed;
  }

  // The complete new file `temporary` for a destination that a running program holds. The
  // program keeps its open file under the kept name, and the new one takes the destination's;
  // the old one goes at the next restart. A file held without leave to rename it is replaced at
  // the next restart from the staged copy instead, when the run may ask for that.
  CopyOutcome ReplaceInUse(const char* to, const char* temporary) {
    if (::MoveFileExA(to, old_.GetConstText(), 0)) {
      if (!PutInPlace(temporary, to, false)) {
        ::MoveFileExA(old_.GetConstText(), to, 0);
        return CopyOutcome::kFailed;
      }
      HideOld();
      ::MoveFileExA(old_.GetConstText(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
      Report(oldAs_);
      return CopyOutcome::kSetAside;
    }
    if (!::MoveFileExA(temporary, staged_.GetConstText(), MOVEFILE_WRITE_THROUGH)) {
      return CopyOutcome::kFailed;
    }
    if (!::MoveFileExA(staged_.GetConstText(), to,
                       MOVEFILE_DELAY_UNTIL_REBOOT | MOVEFILE_REPLACE_EXISTING)) {
      return CopyOutcome::kFailed;  // the temporary's handle removes it, by whatever name
    }
    Report(KeptAs::kStaged);
    return CopyOutcome::kAtRestart;
  }

  // Whether the source, read from its start, matches the pin (sets what it found when not).
  bool SourceMatchesPin() {
    Sha256Digest found;
    if (!HashOpenFile(source_, &found)) return false;
    if (found == extras_.pin->expected) return true;
    extras_.pin->found = found;
    extras_.pin->differs = true;
    return false;
  }

  bool CopyData(HANDLE target) {
    static constexpr DWORD kChunk = 1u << 20;
    char* buffer = static_cast<char*>(malloc(kChunk));
    if (!buffer) return false;
    Sha256 hash;
    bool ok = !extras_.pin || hash.Begin();
    copied_ = 0;
    for (;;) {
      DWORD got = 0;
      if (!::ReadFile(source_, buffer, kChunk, &got, nullptr)) {
        ok = false;
        break;
      }
      if (got == 0) break;
      DWORD written = 0;
      if (!::WriteFile(target, buffer, got, &written, nullptr) || written != got ||
          (extras_.pin && !hash.Update(buffer, got))) {
        ok = false;
        break;
      }
      copied_ += got;
    }
    free(buffer);
    Sha256Digest found;
    if (ok && extras_.pin) ok = hash.Finish(&found);
    if (ok && extras_.pin && found != extras_.pin->expected) {
      extras_.pin->found = found;
      extras_.pin->differs = true;
      ok = false;
    }
    return ok;
  }

  // Whether the source is still what it was when the copy began, and all of it was copied.
  bool SourceUnchanged() {
    BY_HANDLE_FILE_INFORMATION after;
    uint64_t size =
        (static_cast<uint64_t>(sourceInfo_.nFileSizeHigh) << 32) | sourceInfo_.nFileSizeLow;
    return ::GetFileInformationByHandle(source_, &after) &&
           after.nFileSizeHigh == sourceInfo_.nFileSizeHigh &&
           after.nFileSizeLow == sourceInfo_.nFileSizeLow && copied_ == size &&
           ::CompareFileTime(&after.ftLastWriteTime, &sourceInfo_.ftLastWriteTime) == 0;
  }

  const char* from_;
  HANDLE source_;
  Extras extras_;
  TextString old_, made_, staged_;  // the names beside the destination
  DWORD oldAttributes_ = 0;
  KeptAs oldAs_ = KeptAs::kKept;  // which name old_ is
  BY_HANDLE_FILE_INFORMATION sourceInfo_ = {};
  uint64_t copied_ = 0;
};

}  // namespace

CopyOutcome Win32CopyFile(const char* from, const char* to, bool failIfExists,
                          const KeptFileNames* names, uint32_t flags, ContentPin* pin, KeptAs* as) {
  AtomicCopy::Extras extras;
  extras.pin = pin;
  extras.names = names;
  extras.keep = (flags & kCopyKeepReplaced) != 0;
  extras.mark = (flags & kCopyMarkNew) != 0;
  extras.replaceInUse = (flags & kCopyReplaceInUse) != 0;
  extras.as = as;
  return AtomicCopy::Run(from, to, failIfExists, extras);
}

}  // namespace kestario
