#include "platform/system_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/command_line_posix.h"
#include "platform/file_checks_posix.h"
#include "platform/file_handle_posix.h"
#include "platform/file_ops_posix.h"
#include "platform/folder_handle_posix.h"
#include "platform/path_owners_posix.h"
#include "platform/profile_reader.h"
#include "platform/signal_ignored_posix.h"
#include "platform/stop_signals.h"
#include "platform/syslog_posix.h"
#include "platform/terminal_box_posix.h"
#include "platform/utf8_posix.h"
#include "text/ascii.h"

#ifndef KESTARIO_REGISTRY_FILE
#define KESTARIO_REGISTRY_FILE "/etc/kestario/registry.ini"
#endif
#ifndef KESTARIO_JOURNAL_BASE
#define KESTARIO_JOURNAL_BASE "/var/tmp"
#endif
#ifndef KESTARIO_SYSLOG_SOCKET
#define KESTARIO_SYSLOG_SOCKET "/dev/log"
#endif

namespace kestario {

namespace {

struct CatalogText {
  uint16_t language;
  unsigned id;
  const char16_t* text;
};

#define KESTARIO_MESSAGE(n, t) {kLangJapanese, n, u"" t},
#define KESTARIO_MESSAGE_ENGLISH(n, t) {kLangEnglish, n, u"" t},
#define KESTARIO_CAPTION(t)
#define KESTARIO_CAPTION_ENGLISH(t)
constexpr CatalogText kCatalog[] = {
#include "resources/texts.def"
};
#undef KESTARIO_MESSAGE
#undef KESTARIO_MESSAGE_ENGLISH
#undef KESTARIO_CAPTION
#undef KESTARIO_CAPTION_ENGLISH

constexpr long kErrorInvalidHandle = 6;
constexpr long kErrorAccessDenied = 5;
constexpr long kErrorNotEnoughMemory = 8;
constexpr long kErrorInvalidParameter = 87;

// Copies `length` bytes and a NUL into a TextString, whole; false (the text empty) when memory runs
// out.
bool AssignBytes(TextString* target, const char* text, size_t length) {
  if (length >= UINT32_MAX || !target->Allocate(static_cast<uint32_t>(length + 1))) {
    target->SetText("");
    return false;
  }
  if (length) memcpy(target->GetText(), text, length);
  target->GetText()[length] = '\0';
  return true;
}

// The absolute form of `path` against the current folder (a copy); null when memory runs out.
char* AbsolutePath(const char* path) {
  if (path[0] == '/') return strdup(path);
  char* folder = getcwd(nullptr, 0);
  if (!folder) return nullptr;
  size_t folderLength = strlen(folder);
  size_t pathLength = strlen(path);
  char* result = static_cast<char*>(malloc(folderLength + 1 + pathLength + 1));
  if (result) {
    memcpy(result, folder, folderLength);
    result[folderLength] = '/';
    memcpy(result + folderLength + 1, path, pathLength + 1);
  }
  free(folder);
  return result;
}

// The children started without a wait that were still running when their handle was closed:
// SIGCHLD reaps each of them as it ends, so that none stays a zombie. The array is changed only
// with SIGCHLD blocked; the handler only clears slots.
pid_t* g_detached = nullptr;
size_t g_detachedSlots = 0;
bool g_reaperInstalled = false;

void ReapDetachedChildren(int) {
  int savedErrno = errno;
  for (size_t i = 0; i < g_detachedSlots; ++i) {
    int status;
    if (g_detached[i] > 0 && waitpid(g_detached[i], &status, WNOHANG) != 0) g_detached[i] = 0;
  }
  errno = savedErrno;
}

// Blocks SIGCHLD for its lifetime.
class ChildSignalHeld {
 public:
  ChildSignalHeld() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGCHLD);
    held_ = sigprocmask(SIG_BLOCK, &set, &previous_) == 0;
  }
  ~ChildSignalHeld() {
    if (held_) sigprocmask(SIG_SETMASK, &previous_, nullptr);
  }
  ChildSignalHeld(const ChildSignalHeld&) = delete;
  ChildSignalHeld& operator=(const ChildSignalHeld&) = delete;

 private:
  sigset_t previous_;
  bool held_;
};

// Hands a running child to the reaper; false when there is no room for it (it is then reaped
// by init once the program ends).
bool DetachChild(pid_t child) {
  ChildSignalHeld held;
  if (!g_reaperInstalled) {
    struct sigaction reaper;
    memset(&reaper, 0, sizeof reaper);
    reaper.sa_handler = ReapDetachedChildren;
    sigemptyset(&reaper.sa_mask);
    reaper.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    if (sigaction(SIGCHLD, &reaper, nullptr) != 0) return false;
    g_reaperInstalled = true;
  }
  size_t slot = 0;
  while (slot < g_detachedSlots && g_detached[slot] > 0) ++slot;
  if (slot == g_detachedSlots) {
    size_t next = g_detachedSlots ? g_detachedSlots * 2 : 16;
    pid_t* larger = static_cast<pid_t*>(realloc(g_detached, next * sizeof(pid_t)));
    if (!larger) return false;
    for (size_t i = g_detachedSlots; i < next; ++i) larger[i] = 0;
    g_detached = larger;
    g_detachedSlots = next;
  }
  g_detached[slot] = child;
  // It may have ended before it was put in the table.
  int status;
  if (waitpid(child, &status, WNOHANG) != 0) g_detached[slot] = 0;
  return true;
}

}  // namespace

PosixSystem::PosixSystem()
    : registryFile_(nullptr),
      dataBase_(nullptr),
      syslogSocket_(nullptr),
      terminalIn_(STDIN_FILENO),
      terminalOut_(STDERR_FILENO) {}

PosixSystem::~PosixSystem() {
  for (size_t i = 0; i < openKeys_.count(); ++i) free(openKeys_[i]);
  free(registryFile_);
  free(dataBase_);
  free(syslogSocket_);
}

void PosixSystem::SetRegistryFile(const char* path) {
  free(registryFile_);
  registryFile_ = path ? strdup(path) : nullptr;
}

const char* PosixSystem::RegistryFile() const {
  return registryFile_ ? registryFile_ : KESTARIO_REGISTRY_FILE;
}

void PosixSystem::SetTerminal(int inFd, int outFd) {
  terminalIn_ = inFd;
  terminalOut_ = outFd;
}

void PosixSystem::GetPrivateProfileStringA(const char* section, const char* key,
                                           const char* defaultValue, TextString* value,
                                           const char* file) {
  if (!value) return;
  const ProfileData* data = profiles_.Get(file);
  ProfileSpan found = ResolveProfileString(data, section, key, defaultValue);
  AssignBytes(value, found.text, found.length);
}

void PosixSystem::FlushPrivateProfile(const char* file) { profiles_.Flush(file); }

bool PosixSystem::HoldPrivateProfileA(const char* file, ByteBuffer* bytes) {
  return profiles_.Hold(file, bytes);
}

void PosixSystem::ReleasePrivateProfileA(const char* file) { profiles_.Release(file); }

void PosixSystem::GetPrivateProfileSectionA(const char* section, ByteBuffer* entries,
                                            const char* file) {
  if (!entries) return;
  const ProfileData* data = profiles_.Get(file);
  static const char kEmpty[1] = {'\0'};
  if (!data) {
    if (profiles_.OutOfMemory() || !entries->SetBytes(kEmpty, 1)) entries->Free();
    return;
  }
  size_t size = data->ListSection(section, nullptr, 0);
  if (size > UINT32_MAX || !entries->Allocate(static_cast<uint32_t>(size))) {
    entries->Free();  // out of memory
    return;
  }
  data->ListSection(section, reinterpret_cast<char*>(entries->GetData()), size);
}

bool PosixSystem::IsDBCSLeadByte(uint8_t /*byte*/) { return false; }

uint16_t PosixSystem::GetUserDefaultUILanguage() { return kLangJapanese; }

int PosixSystem::LoadStringW(uint16_t language, unsigned id, char16_t* buffer, int size) {
  if (!buffer || size <= 0) return 0;
  buffer[0] = u'\0';
  for (const CatalogText& entry : kCatalog) {
    if (entry.id != id || entry.language != language) continue;
    int length = static_cast<int>(WideLength(entry.text));
    if (length > size - 1) length = size - 1;
    memcpy(buffer, entry.text, static_cast<size_t>(length) * sizeof(char16_t));
    buffer[length] = u'\0';
    return length;
  }
  return 0;
}

int PosixSystem::MessageBoxW(const char16_t* text, const char16_t* caption, unsigned style) {
  // The terminal gets the bytes back: the script's own, as they were, and the program's texts in
  // UTF-8. A box whose texts memory cannot hold is not shown.
  TextString textBytes;
  TextString captionBytes;
  if (!Utf16ToUtf8(text, WideLength(text), LoneSurrogate::kByteOrQuestionMark, &textBytes) ||
      (caption && !Utf16ToUtf8(caption, WideLength(caption), LoneSurrogate::kByteOrQuestionMark,
                               &captionBytes))) {
    return 0;
  }
  // A terminal whose reader has gone makes the box fail to show, not end the program: SIGPIPE is
  // ignored while the box is written (the disposition is put back after, so started programs
  // get the usual one).
  SignalIgnored pipeSignal(SIGPIPE);
  fflush(stdout);
  fflush(stderr);
  return RunTerminalMessageBox(terminalIn_, terminalOut_, textBytes.GetConstText(),
                               caption ? captionBytes.GetConstText() : nullptr, style,
                               StopSignalDescriptor());
}

bool PosixSystem::MultiByteToWideChar(unsigned codePage, uint32_t flags, const char* text,
                                      uint32_t size, WideText* wide) {
  InvalidUtf8 invalid = (flags & kMbErrInvalidChars) ? InvalidUtf8::kFail
                        : codePage == kCpUtf8        ? InvalidUtf8::kReplace
                                                     : InvalidUtf8::kKeepByte;
  return Utf8ToUtf16(text, size, invalid, wide);
}

bool PosixSystem::WideCharToMultiByte(unsigned codePage, const char16_t* text, uint32_t size,
                                      TextString* bytes) {
  return Utf16ToUtf8(
      text, size,
      codePage == kCpUtf8 ? LoneSurrogate::kReplace : LoneSurrogate::kByteOrQuestionMark, bytes);
}

uint32_t PosixSystem::GetModuleFileNameA(char* buffer, uint32_t size) {
  if (!buffer || size == 0) return 0;
  size_t capacity = 256;
  for (;;) {
    char* link = static_cast<char*>(malloc(capacity));
    if (!link) return 0;
    ssize_t length = readlink("/proc/self/exe", link, capacity);
    if (length < 0) {
      free(link);
      buffer[0] = '\0';
      return 0;
    }
    if (static_cast<size_t>(length) == capacity) {  // perhaps cut: try a larger block
      free(link);
      if (capacity > (1u << 20)) return 0;
      capacity *= 2;
      continue;
    }
    uint32_t result = CopyOutModuleFileName(link, static_cast<size_t>(length), buffer, size);
    free(link);
    return result;
  }
}

bool PosixSystem::IsWindowStationVisible() { return true; }

bool PosixSystem::WriteEventLogEntry(const char* source, uint16_t type, uint32_t /*id*/,
                                     const char* const* /*strings*/, uint16_t /*count*/,
                                     const char* text) {
  int priority = type == kEventTypeError     ? LOG_ERR
                 : type == kEventTypeWarning ? LOG_WARNING
                                             : LOG_INFO;
  // Never through syslog(3), whose send blocks while the daemon does not read: a socket of our
  // own that gives up after a second. A system without a log daemon loses the event, and nothing
  // is written elsewhere.
  constexpr int kEventWaitMilliseconds = 1000;
  return SendSyslogMessage(syslogSocket_ != nullptr ? syslogSocket_ : KESTARIO_SYSLOG_SOCKET,
                           LOG_USER | priority, source, text, kEventWaitMilliseconds);
}

bool PosixSystem::GetComputerNameA(TextString* name) {
  char host[256];
  if (gethostname(host, sizeof host) != 0) return false;
  host[sizeof host - 1] = '\0';
  return name->SetText(host);
}

bool PosixSystem::GetUserNameA(TextString* name) {
  // The login name of the real user id, as the password database records it.
  long wanted = sysconf(_SC_GETPW_R_SIZE_MAX);
  size_t size = wanted > 0 ? static_cast<size_t>(wanted) : 16384;
  char* buffer = static_cast<char*>(malloc(size));
  if (!buffer) return false;
  struct passwd entry;
  struct passwd* found = nullptr;
  bool known = getpwuid_r(getuid(), &entry, buffer, size, &found) == 0 && found != nullptr &&
               found->pw_name != nullptr && name->SetText(found->pw_name);
  free(buffer);
  return known;
}

void PosixSystem::GetLocalTime(LocalTime* time) {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local;
  time_t seconds = now.tv_sec;
  if (!localtime_r(&seconds, &local)) memset(&local, 0, sizeof local);
  time->year = static_cast<uint16_t>(local.tm_year + 1900);
  time->month = static_cast<uint16_t>(local.tm_mon + 1);
  time->day = static_cast<uint16_t>(local.tm_mday);
  time->hour = static_cast<uint16_t>(local.tm_hour);
  time->minute = static_cast<uint16_t>(local.tm_min);
  time->second = static_cast<uint16_t>(local.tm_sec);
  time->utcOffsetMinutes = static_cast<int16_t>(local.tm_gmtoff / 60);
}

uint32_t PosixSystem::GetCurrentProcessId() { return static_cast<uint32_t>(getpid()); }

uint32_t PosixSystem::GetWindowsDirectoryA(char* buffer, uint32_t size) {
  static const char kFolder[] = "/etc";
  return CopyOutWindowsDirectory(kFolder, sizeof kFolder - 1, buffer, size);
}

bool PosixSystem::GetSystemDirectoryA(TextString* /*folder*/) { return false; }

long PosixSystem::RegOpenKeyExA(RegistryHandle root, const char* subKey, uint32_t /*access*/,
                                RegistryHandle* result) {
  if (!result) return kErrorInvalidParameter;
  *result = kNoRegistryHandle;
  if (root != kLocalMachine) return kErrorInvalidHandle;
  const char* path = subKey ? subKey : "";
  const ProfileData* data = profiles_.Get(RegistryFile());
  // A registry file that is there but cannot be read is not an empty registry: it may hold keys
  // this user must not miss (a signature policy).
  struct stat status;
  if (!data && stat(RegistryFile(), &status) == 0) return kErrorAccessDenied;
  if (!data || !data->HasSection(path)) return kErrorFileNotFound;
  size_t slot = 0;
  while (slot < openKeys_.count() && openKeys_[slot]) ++slot;
  if (slot == openKeys_.count() && !openKeys_.Append(nullptr)) return kErrorFileNotFound;
  openKeys_[slot] = strdup(path);
  if (!openKeys_[slot]) return kErrorFileNotFound;
  *result = static_cast<RegistryHandle>(slot + 1);
  return kErrorSuccess;
}

long PosixSystem::RegQueryValueExA(RegistryHandle key, const char* valueName, uint8_t* data,
                                   uint32_t* size) {
  if (key == kNoRegistryHandle || key > openKeys_.count() || !openKeys_[key - 1]) {
    return kErrorInvalidHandle;
  }
  if (data && !size) return kErrorInvalidParameter;
  const char* name = (!valueName || !*valueName) ? "@" : valueName;
  const ProfileData* profile = profiles_.Get(RegistryFile());
  ProfileSpan value;
  if (!profile || !profile->FindValue(openKeys_[key - 1], name, &value)) {
    return kErrorFileNotFound;
  }
  if (value.length >= UINT32_MAX) return kErrorFileNotFound;
  uint32_t needed = static_cast<uint32_t>(value.length + 1);
  if (!data) {
    if (size) *size = needed;
    return kErrorSuccess;
  }
  if (*size < needed) {
    *size = needed;
    return kErrorMoreData;
  }
  memcpy(data, value.text, value.length);
  data[value.length] = 0;
  *size = needed;
  return kErrorSuccess;
}

long PosixSystem::RegCloseKey(RegistryHandle key) {
  if (key == kNoRegistryHandle || key > openKeys_.count() || !openKeys_[key - 1]) {
    return kErrorInvalidHandle;
  }
  free(openKeys_[key - 1]);
  openKeys_[key - 1] = nullptr;
  return kErrorSuccess;
}

long PosixSystem::RegEnumValueA(RegistryHandle key, uint32_t index, TextString* name,
                                uint32_t* type, TextString* data) {
  if (key == kNoRegistryHandle || key > openKeys_.count() || !openKeys_[key - 1]) {
    return kErrorInvalidHandle;
  }
  if (!name || !type || !data) return kErrorInvalidParameter;
  const char* section = openKeys_[key - 1];
  const ProfileData* profile = profiles_.Get(RegistryFile());
  if (!profile) return kErrorNoMoreItems;
  size_t size = profile->ListSection(section, nullptr, 0);
  char* listing = static_cast<char*>(malloc(size));
  if (!listing) return kErrorNotEnoughMemory;
  profile->ListSection(section, listing, size);
  // The values in file order: lines with "=", the first line of each name (ASCII case ignored).
  long result = kErrorNoMoreItems;
  uint32_t number = 0;
  for (const char* entry = listing; *entry != '\0'; entry += strlen(entry) + 1) {
    const char* equals = strchr(entry, '=');
    if (!equals) continue;
    size_t length = static_cast<size_t>(equals - entry);
    bool seen = false;
    for (const char* earlier = listing; earlier != entry && !seen; earlier += strlen(earlier) + 1) {
      const char* mark = strchr(earlier, '=');
      seen = mark && static_cast<size_t>(mark - earlier) == length &&
             AsciiEqualNoCase(earlier, entry, length);
    }
    if (seen || number++ != index) continue;
    bool isDefault = length == 1 && entry[0] == '@';
    ProfileSpan value;
    TextString valueName;
    result = kErrorNotEnoughMemory;
    if (!AssignBytes(&valueName, entry, length)) break;
    if (!profile->FindValue(section, valueName.GetConstText(), &value)) value = ProfileSpan{};
    if (!AssignBytes(data, value.text, value.length)) break;
    if (isDefault) {
      if (!name->SetText("")) break;
    } else {
      name->Swap(valueName);
    }
    *type = kRegSz;
    result = kErrorSuccess;
    break;
  }
  free(listing);
  return result;
}

bool PosixSystem::RegistryWritableByOthers() { return OthersCanChangePath(RegistryFile()); }

size_t PosixSystem::OpenRegistryKeyCount() const {
  size_t count = 0;
  for (size_t i = 0; i < openKeys_.count(); ++i) count += openKeys_[i] ? 1 : 0;
  return count;
}

bool PosixSystem::DeleteFileA(const char* path) { return PosixDeleteFile(path); }

bool PosixSystem::MoveFileAsideA(const char* path, const KeptFileNames& names, KeptAs* as) {
  // No attributes: the leading "." of the name hides it.
  *as = KeptAs::kNone;
  if (names.kept == nullptr || !PosixDeleteFile(path, names.kept)) return false;
  *as = KeptAs::kKept;
  return true;
}

bool PosixSystem::CopyFileA(const char* from, const char* to, bool failIfExists) {
  return PosixCopyFile(from, to, failIfExists);
}

CopyOutcome PosixSystem::CopyFileOverA(const char* from, const char* to, const KeptFileNames* names,
                                       uint32_t flags, ContentPin* pin, KeptAs* as) {
  // A rename replaces a file that a running program has open: nothing is ever held here.
  *as = KeptAs::kNone;
  CopyKeeping keeping;
  if ((flags & (kCopyKeepReplaced | kCopyMarkNew)) != 0 && names == nullptr) {
    return CopyOutcome::kFailed;
  }
  if ((flags & kCopyKeepReplaced) != 0) keeping.keepAs = names->kept;
  if ((flags & kCopyMarkNew) != 0) keeping.markAs = names->mark;
  if (keeping.keepAs || keeping.markAs) keeping.temporaryAs = names->staged;
  keeping.pin = pin;
  if (!PosixCopyFile(from, to, false, &keeping)) return CopyOutcome::kFailed;
  if (keeping.result == CopyKeeping::kKept) *as = KeptAs::kKept;
  if (keeping.result == CopyKeeping::kMarked) *as = KeptAs::kMark;
  return CopyOutcome::kCopied;
}

bool PosixSystem::MoveFileExA(const char* from, const char* to, uint32_t flags) {
  return PosixMoveFile(from, to, flags);
}

bool PosixSystem::SetFileAttributesA(const char* /*path*/, uint32_t /*attributes*/) {
  return true;  // no attributes to set: a leading "." is what hides a file here
}

bool PosixSystem::GetFinalPathNameA(const char* path, TextString* finalPath) {
  if (!path || !*path) return false;
  char* resolved = realpath(path, nullptr);
  if (!resolved) return false;
  bool ok = finalPath->SetText(resolved);
  free(resolved);
  return ok;
}

bool PosixSystem::GetFileStampA(const char* path, FileStamp* stamp) {
  return PosixGetFileStamp(kNoFile, path, stamp);
}

bool PosixSystem::ListFilesA(const char* folder, const char* suffix, ByteBuffer* names) {
  DIR* directory = opendir(folder);
  if (!directory) return false;
  size_t suffixLength = strlen(suffix);
  bool ok = true;
  while (struct dirent* entry = readdir(directory)) {
    size_t length = strlen(entry->d_name);
    if (length <= suffixLength || strcmp(entry->d_name + length - suffixLength, suffix) != 0 ||
        (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN)) {
      continue;
    }
    ok = ok && names->AppendBytes(entry->d_name, static_cast<uint32_t>(length) + 1);
  }
  closedir(directory);
  return ok;
}

void PosixSystem::SetPrivateDataBase(const char* folder) {
  free(dataBase_);
  dataBase_ = folder ? strdup(folder) : nullptr;
}

void PosixSystem::SetSyslogSocket(const char* path) {
  free(syslogSocket_);
  syslogSocket_ = path ? strdup(path) : nullptr;
}

bool PosixSystem::PendingRenamesOntoA(const char* /*to*/, const char* /*pattern*/,
                                      const char* /*keep*/, bool /*cancel*/,
                                      ByteBuffer* /*sources*/) {
  return true;  // Linux renames nothing at a restart
}

bool PosixSystem::GetDiskFreeSpaceExA(const char* folder, uint64_t* available, uint64_t* volume) {
  struct statvfs space;
  struct stat info;
  if (!folder || statvfs(folder, &space) != 0 || stat(folder, &info) != 0) return false;
  *available = static_cast<uint64_t>(space.f_bavail) * space.f_frsize;
  *volume = static_cast<uint64_t>(info.st_dev);
  return true;
}

bool PosixSystem::GetPrivateDataFolderA(const char* name, TextString* folder, bool create) {
  // One folder per account in a folder that survives a restart (/var/tmp: everybody may make
  // entries, only their owner may remove them). It is the account's own, made with mode 0700, so
  // nobody else can put or replace a file in it; one made by anybody else is not used.
  char path[4096];
  int length =
      snprintf(path, sizeof path, "%s/%s-%u", dataBase_ ? dataBase_ : KESTARIO_JOURNAL_BASE, name,
               static_cast<unsigned>(geteuid()));
  if (length <= 0 || static_cast<size_t>(length) >= sizeof path) return false;
  if (create && mkdir(path, 0700) != 0 && errno != EEXIST) return false;
  struct stat info;
  if (lstat(path, &info) != 0 || !S_ISDIR(info.st_mode) || info.st_uid != geteuid() ||
      (info.st_mode & 077) != 0) {
    return false;
  }
  return folder->SetText(path);
}

FileHandle PosixSystem::CreateFileA(const char* path, FileAccess access) {
  return PosixCreateFile(path, access);
}

bool PosixSystem::ReadFile(FileHandle file, uint64_t offset, char* buffer, uint32_t size,
                           uint32_t* done) {
  return PosixReadFile(file, offset, buffer, size, done);
}

bool PosixSystem::WriteFile(FileHandle file, uint64_t offset, const char* bytes, uint32_t length,
                            uint32_t* done) {
  return PosixWriteFile(file, offset, bytes, length, done);
}

bool PosixSystem::FlushFileBuffers(FileHandle file) { return PosixFlushFile(file); }

bool PosixSystem::LockFileEx(FileHandle file, uint32_t flags, uint64_t offset, uint64_t length) {
  return PosixLockFile(file, flags, offset, length);
}

bool PosixSystem::UnlockFileEx(FileHandle file, uint64_t offset, uint64_t length) {
  return PosixUnlockFile(file, offset, length);
}

bool PosixSystem::GetFileSizeEx(FileHandle file, uint64_t* size) {
  return PosixGetFileSize(file, size);
}

bool PosixSystem::GetFileInformationByHandle(FileHandle file, FileIdentity* identity) {
  return PosixGetFileIdentity(file, identity);
}

bool PosixSystem::SetEndOfFile(FileHandle file, uint64_t size) {
  return PosixSetEndOfFile(file, size);
}

void PosixSystem::CloseHandle(FileHandle file) { PosixCloseFile(file); }

FileHandle PosixSystem::OpenFolderA(const char* path, FileIdentity* identity) {
  return PosixOpenFolder(path, identity);
}

bool PosixSystem::GetFileStampInFolderA(FileHandle folder, const char* name, FileStamp* stamp) {
  return folder != kNoFile && PosixGetFileStamp(folder, name, stamp);
}

bool PosixSystem::MoveFileInFolderA(FileHandle folder, const char* from, const char* to,
                                    uint32_t flags) {
  return PosixMoveFileInFolder(PosixFolderDescriptor(folder), from, to, flags);
}

bool PosixSystem::DeleteFileInFolderA(FileHandle folder, const char* name) {
  return PosixDeleteFileInFolder(folder, name);
}

bool PosixSystem::ClearFileAttributesInFolderA(FileHandle folder, const char* name,
                                               uint32_t /*attributes*/) {
  FileStamp stamp;  // no attributes to clear, as SetFileAttributesA
  return GetFileStampInFolderA(folder, name, &stamp);
}

bool PosixSystem::AnyFileMatchesA(const char* path) { return PosixFindAnyMatch(path); }

uint32_t PosixSystem::GetFileAttributesA(const char* path) {
  struct stat info;
  if (!path || !*path || stat(path, &info) != 0) return kInvalidFileAttributes;
  if (S_ISDIR(info.st_mode)) return kFileAttributeDirectory;
  return (info.st_mode & S_IWUSR) ? kFileAttributeNormal : kFileAttributeReadOnly;
}

bool PosixSystem::AccessCheckA(const char* path, uint32_t access) {
  return PosixAccessCheck(path, access);
}

bool PosixSystem::GetBinaryTypeA(const char* path, uint32_t* type) {
  return PosixGetBinaryType(path, type);
}

bool PosixSystem::GetFullPathNameA(const char* path, TextString* full) {
  if (!path || !*path) return false;
  char* absolute = AbsolutePath(path);
  bool made = absolute && full->SetText(absolute);
  free(absolute);
  return made;
}

bool PosixSystem::GetFileLocalDate(const char* path, LocalDate* date) {
  return PosixGetFileLocalDate(path, date);
}

bool PosixSystem::CreateProcessA(char* commandLine, const char* currentDirectory,
                                 ProcessHandle* process) {
  return StartProcess(commandLine, currentDirectory, -1, process);
}

bool PosixSystem::CreateProcessPinnedA(char* commandLine, const char* currentDirectory,
                                       const char* image, ContentPin* pin, ProcessHandle* process) {
  if (process) *process = kNoProcess;
  int copy = PosixSealedProgramCopy(image, pin);
  if (copy < 0) return false;
  bool started = StartProcess(commandLine, currentDirectory, copy, process);
  close(copy);
  return started;
}

bool PosixSystem::StartProcess(char* commandLine, const char* currentDirectory, int image,
                               ProcessHandle* process) {
  if (process) *process = kNoProcess;
  char** argv = nullptr;
  if (!SplitCommandLine(commandLine, &argv)) return false;
  // The program is found from the caller's folder, before the child changes its own.
  char* program = AbsolutePath(argv[0]);
  if (!program) {
    FreeArgumentVector(argv);
    return false;
  }
  int report[2];
  if (pipe2(report, O_CLOEXEC) != 0) {
    free(program);
    FreeArgumentVector(argv);
    return false;
  }
  fflush(stdout);
  fflush(stderr);
  pid_t child = fork();
  if (child == 0) {
    // Only async-signal-safe calls from here on.
    close(report[0]);
    int error = 0;
    // The child reads nothing of this program's standard input (the answers to its boxes).
    int nothing = open("/dev/null", O_RDONLY);
    if (nothing < 0 || dup2(nothing, STDIN_FILENO) < 0) {
      error = errno;
    } else if (nothing != STDIN_FILENO && close(nothing) != 0) {
      error = errno;
    } else if (currentDirectory && *currentDirectory && chdir(currentDirectory) != 0) {
      error = errno;
    } else {
      if (image >= 0) {
        fexecve(image, argv, environ);
      } else {
        execv(program, argv);
      }
      error = errno;
    }
    ssize_t ignored = write(report[1], &error, sizeof error);
    (void)ignored;
    _exit(127);
  }
  close(report[1]);
  free(program);
  FreeArgumentVector(argv);
  if (child < 0) {
    close(report[0]);
    return false;
  }
  int error = 0;
  ssize_t got;
  do {
    got = read(report[0], &error, sizeof error);
  } while (got < 0 && errno == EINTR);
  close(report[0]);
  if (got > 0) {  // the child could not start the program
    int status;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return false;
  }
  if (process) *process = static_cast<ProcessHandle>(child);
  return true;
}

bool PosixSystem::WaitForProcess(ProcessHandle process) {
  if (process == kNoProcess) return false;
  int status;
  for (;;) {
    // A stop signal gives the wait up (the program runs on).
    if (CaughtStopSignal() != 0) return false;
    if (waitpid(static_cast<pid_t>(process), &status, 0) >= 0) {
      waitedProcess_ = process;
      waitedStatus_ = status;
      return true;
    }
    if (errno != EINTR) return false;
  }
}

bool PosixSystem::GetExitCodeProcess(ProcessHandle process, uint32_t* code) {
  // Known for the child waited for last; one ended by a signal gives 128 + the signal, as a shell
  // reports it.
  if (process == kNoProcess || process != waitedProcess_) return false;
  if (WIFEXITED(waitedStatus_)) {
    *code = static_cast<uint32_t>(WEXITSTATUS(waitedStatus_));
  } else if (WIFSIGNALED(waitedStatus_)) {
    *code = 128u + static_cast<uint32_t>(WTERMSIG(waitedStatus_));
  } else {
    return false;
  }
  return true;
}

void PosixSystem::CloseProcess(ProcessHandle process) {
  // Nothing to free for a pid. A child that has already ended (or was waited for) is reaped now;
  // one still running is reaped as soon as it ends.
  if (process == kNoProcess) return;
  pid_t child = static_cast<pid_t>(process);
  int status;
  pid_t reaped;
  do {
    reaped = waitpid(child, &status, WNOHANG);
  } while (reaped < 0 && errno == EINTR);
  if (reaped == 0) DetachChild(child);
}

System& RealSystem() {
  static PosixSystem system;
  return system;
}

}  // namespace kestario
