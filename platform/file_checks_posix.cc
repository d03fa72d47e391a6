#include "platform/file_checks_posix.h"

#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <limits.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/system.h"

#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000
#endif

namespace kestario {

namespace {

// What the kernel keeps about a file that decides whether it may be changed.
struct Facts {
  mode_t mode = 0;
  uid_t owner = 0;
  bool immutable = false;
  bool appendOnly = false;
  bool mountRoot = false;
  bool mountKnown = false;  // statx tells whether it is a mount's root
  dev_t device = 0;
};

bool ReadFacts(const char* path, bool follow, Facts* facts) {
  struct statx info;
  int how = AT_STATX_SYNC_AS_STAT | (follow ? 0 : AT_SYMLINK_NOFOLLOW);
  if (statx(AT_FDCWD, path, how, STATX_BASIC_STATS, &info) != 0) return false;
  facts->mode = info.stx_mode;
  facts->owner = info.stx_uid;
  facts->device = makedev(info.stx_dev_major, info.stx_dev_minor);
  facts->immutable = (info.stx_attributes & STATX_ATTR_IMMUTABLE) != 0;
  facts->appendOnly = (info.stx_attributes & STATX_ATTR_APPEND) != 0;
  facts->mountKnown = (info.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) != 0;
  facts->mountRoot = (info.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
  const uint64_t flags = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  if ((info.stx_attributes_mask & flags) != flags &&
      (S_ISREG(info.stx_mode) || S_ISDIR(info.stx_mode))) {
    // A file system whose statx does not report the flags: ask for them.
    int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    if (fd >= 0) {
      int bits = 0;
      if (ioctl(fd, FS_IOC_GETFLAGS, &bits) == 0) {
        facts->immutable = (bits & FS_IMMUTABLE_FL) != 0;
        facts->appendOnly = (bits & FS_APPEND_FL) != 0;
      }
      close(fd);
    }
  }
  return true;
}

// The folder part of `path` (a malloc'd copy): "." without a separator, "/" for a name in it.
char* FolderOf(const char* path) {
  const char* slash = strrchr(path, '/');
  if (!slash) return strdup(".");
  return strndup(path, slash == path ? 1 : static_cast<size_t>(slash - path));
}

bool MayUnlink(const char* path, const Facts& file) {
  if (file.immutable || file.appendOnly || (file.mountKnown && file.mountRoot)) return false;
  char* folder = FolderOf(path);
  if (!folder) return false;
  Facts parent;
  bool ok = ReadFacts(folder, true, &parent) && PosixAccessCheck(folder, kFileDeleteChild);
  // Without statx's word on mounts, a file on another device than its folder is a mount's root.
  if (ok && !file.mountKnown && file.device != parent.device) ok = false;
  uid_t user = geteuid();
  if (ok && (parent.mode & S_ISVTX) && user != 0 && user != file.owner && user != parent.owner) {
    ok = false;
  }
  free(folder);
  return ok;
}

// ---------------------------------------------------------------------------------------------
// Programs, as execve takes them.

constexpr int kMostInterpreters = 4;  // scripts run by scripts, as deep as the kernel follows
constexpr size_t kHeadSize = 256;     // the bytes of a file the kernel reads to choose its loader

#if defined(__x86_64__)
constexpr uint16_t kMachine = EM_X86_64;
constexpr uint16_t kMachine32 = EM_386;
#elif defined(__aarch64__)
constexpr uint16_t kMachine = EM_AARCH64;
constexpr uint16_t kMachine32 = EM_ARM;
#else
#error "the ELF machine of this architecture is not known here"
#endif
#if __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
constexpr unsigned char kByteOrder = ELFDATA2LSB;
#else
constexpr unsigned char kByteOrder = ELFDATA2MSB;
#endif

bool ProgramType(const char* path, uint32_t* type, int depth);

bool ReadAt(int fd, void* buffer, size_t size, off_t offset) {
  return pread(fd, buffer, size, offset) == static_cast<ssize_t>(size);
}

// Whether the open ELF file is an image of this machine whose program headers lie in the file and
// whose loader, if it names one, is such an image too (`loader` false: it is the loader).
template <typename Header, typename ProgramHeader>
bool ElfImage(int fd, uint64_t size, uint16_t machine, bool loader) {
  Header header;
  if (!ReadAt(fd, &header, sizeof header, 0)) return false;
  if (header.e_ident[EI_DATA] != kByteOrder || header.e_ident[EI_VERSION] != EV_CURRENT ||
      (header.e_type != ET_EXEC && header.e_type != ET_DYN) || header.e_machine != machine ||
      header.e_phentsize != sizeof(ProgramHeader) || header.e_phnum == 0 ||
      header.e_phnum > 65536u / sizeof(ProgramHeader)) {
    return false;
  }
  uint64_t bytes = header.e_phnum * sizeof(ProgramHeader);
  if (header.e_phoff > size || bytes > size - header.e_phoff) return false;
  ProgramHeader* headers = static_cast<ProgramHeader*>(malloc(bytes));
  if (!headers) return false;
  bool ok = ReadAt(fd, headers, bytes, static_cast<off_t>(header.e_phoff));
  for (size_t i = 0; ok && i < header.e_phnum; ++i) {
    const ProgramHeader& entry = headers[i];
    if (entry.p_type != PT_INTERP) continue;
    if (!loader || entry.p_filesz < 2 || entry.p_filesz > PATH_MAX || entry.p_offset > size ||
        entry.p_filesz > size - entry.p_offset) {
      ok = false;
      break;
    }
    char* name = static_cast<char*>(malloc(entry.p_filesz));
    ok = name && ReadAt(fd, name, entry.p_filesz, static_cast<off_t>(entry.p_offset)) &&
         name[entry.p_filesz - 1] == '\0';
    if (ok) {
      // The loader: an executable regular file, itself an image of this machine.
      struct stat info;
      int loaderFd = -1;
      ok = stat(name, &info) == 0 && S_ISREG(info.st_mode) &&
           faccessat(AT_FDCWD, name, X_OK, AT_EACCESS) == 0 &&
           (loaderFd = open(name, O_RDONLY | O_CLOEXEC)) >= 0 &&
           ElfImage<Header, ProgramHeader>(loaderFd, static_cast<uint64_t>(info.st_size), machine,
                                           false);
      if (loaderFd >= 0) close(loaderFd);
    }
    free(name);
    break;
  }
  free(headers);
  return ok;
}

bool ElfType(int fd, uint64_t size, const unsigned char* head, uint32_t* type) {
  if (head[EI_CLASS] == ELFCLASS64 && sizeof(void*) == 8) {
    *type = kScs64BitBinary;
    return ElfImage<Elf64_Ehdr, Elf64_Phdr>(fd, size, kMachine, true);
  }
  if (head[EI_CLASS] == ELFCLASS32) {
    *type = kScs32BitBinary;
    return ElfImage<Elf32_Ehdr, Elf32_Phdr>(fd, size, sizeof(void*) == 8 ? kMachine32 : kMachine,
                                            true);
  }
  return false;
}

bool IsSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

// A "#!" script: its interpreter line read as the kernel reads the first kHeadSize bytes.
bool ScriptType(const char* path, const unsigned char* head, uint32_t* type, int depth) {
  if (depth >= kMostInterpreters) return false;
  const char* text = reinterpret_cast<const char*>(head);
  const char* last = text + kHeadSize - 1;
  const char* end = static_cast<const char*>(memchr(text, '\n', kHeadSize));
  if (!end) {
    // No line end: the name must be followed by a blank or NUL, else it may have been cut.
    const char* name = text + 2;
    while (name < last && IsSpaceOrTab(*name)) ++name;
    const char* after = name;
    while (after < last && !IsSpaceOrTab(*after) && *after != '\0') ++after;
    if (name >= last || after >= last) return false;
    end = last;
  }
  while (end > text + 2 && IsSpaceOrTab(end[-1])) --end;
  const char* name = text + 2;
  while (name < end && IsSpaceOrTab(*name)) ++name;
  const char* nameEnd = name;
  while (nameEnd < end && !IsSpaceOrTab(*nameEnd) && *nameEnd != '\0') ++nameEnd;
  if (nameEnd == name) return false;
  size_t length = static_cast<size_t>(nameEnd - name);
  char* interpreter;
  if (*name == '/') {
    interpreter = strndup(name, length);
  } else {
    char* folder = FolderOf(path);
    size_t folderLength = folder ? strlen(folder) : 0;
    interpreter = folder ? static_cast<char*>(malloc(folderLength + 1 + length + 1)) : nullptr;
    if (interpreter) {
      memcpy(interpreter, folder, folderLength);
      interpreter[folderLength] = '/';
      memcpy(interpreter + folderLength + 1, name, length);
      interpreter[folderLength + 1 + length] = '\0';
    }
    free(folder);
  }
  bool ok = interpreter && ProgramType(interpreter, type, depth + 1);
  free(interpreter);
  return ok;
}

// Reads a small text file whole (a binfmt_misc entry); a malloc'd NUL-terminated copy or null.
char* ReadSmallFile(const char* path) {
  int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  constexpr size_t kLargest = 8192;
  char* text = static_cast<char*>(malloc(kLargest + 1));
  ssize_t got = text ? read(fd, text, kLargest) : -1;
  close(fd);
  if (got < 0) {
    free(text);
    return nullptr;
  }
  text[got] = '\0';
  return text;
}

// Reads the hexadecimal bytes of a binfmt_misc entry's "magic" or "mask" line.
size_t ReadHex(const char* text, unsigned char* bytes, size_t size) {
  size_t count = 0;
  while (count < size && text[0] && text[1] && text[0] != '\n') {
    char pair[3] = {text[0], text[1], '\0'};
    char* end;
    unsigned long value = strtoul(pair, &end, 16);
    if (*end != '\0') break;
    bytes[count++] = static_cast<unsigned char>(value);
    text += 2;
  }
  return count;
}

// Whether the binfmt_misc entry in `entry` (its /proc text) takes the file `path` with the first
// bytes `head`; `interpreter` gets its interpreter line, `fixed` whether it was opened when
// registered (flag F), so that the path need not be reachable now.
bool MiscEntryTakes(const char* entry, const char* path, const unsigned char* head,
                    const char** interpreter, size_t* interpreterLength, bool* fixed) {
  if (strncmp(entry, "enabled\n", 8) != 0) return false;
  unsigned char magic[kHeadSize];
  unsigned char mask[kHeadSize];
  size_t magicLength = 0;
  size_t maskLength = 0;
  size_t offset = 0;
  const char* extension = nullptr;
  size_t extensionLength = 0;
  *fixed = false;
  *interpreter = nullptr;
  for (const char* line = entry; *line;) {
    const char* end = strchr(line, '\n');
    size_t length = end ? static_cast<size_t>(end - line) : strlen(line);
    if (strncmp(line, "interpreter ", 12) == 0) {
      *interpreter = line + 12;
      *interpreterLength = length - 12;
    } else if (strncmp(line, "flags: ", 7) == 0) {
      *fixed = memchr(line + 7, 'F', length - 7) != nullptr;
    } else if (strncmp(line, "offset ", 7) == 0) {
      offset = strtoul(line + 7, nullptr, 10);
    } else if (strncmp(line, "magic ", 6) == 0) {
      magicLength = ReadHex(line + 6, magic, sizeof magic);
    } else if (strncmp(line, "mask ", 5) == 0) {
      maskLength = ReadHex(line + 5, mask, sizeof mask);
    } else if (strncmp(line, "extension .", 11) == 0) {
      extension = line + 11;
      extensionLength = length - 11;
    }
    if (!end) break;
    line = end + 1;
  }
  if (!*interpreter) return false;
  if (extension) {
    const char* name = strrchr(path, '/');
    const char* dot = strrchr(name ? name : path, '.');
    return dot && strlen(dot + 1) == extensionLength &&
           memcmp(dot + 1, extension, extensionLength) == 0;
  }
  if (magicLength == 0 || offset > kHeadSize || magicLength > kHeadSize - offset) return false;
  for (size_t i = 0; i < magicLength; ++i) {
    unsigned char bits = i < maskLength ? mask[i] : 0xFF;
    if (((head[offset + i] ^ magic[i]) & bits) != 0) return false;
  }
  return true;
}

// The word of binfmt_misc, which the kernel asks before the ELF and script loaders: -1 when no
// enabled entry takes the file, else whether its interpreter would start.
int MiscType(const char* path, const unsigned char* head, uint32_t* type, int depth) {
  static const char kFolder[] = "/proc/sys/fs/binfmt_misc";
  char* status = ReadSmallFile("/proc/sys/fs/binfmt_misc/status");
  bool enabled = status && strncmp(status, "enabled", 7) == 0;
  free(status);
  DIR* folder = enabled ? opendir(kFolder) : nullptr;
  if (!folder) return -1;
  int result = -1;
  while (result < 0) {
    struct dirent* found = readdir(folder);
    if (!found) break;
    const char* name = found->d_name;
    if (name[0] == '.' || strcmp(name, "status") == 0 || strcmp(name, "register") == 0) continue;
    char entryPath[sizeof kFolder + 1 + 256];
    snprintf(entryPath, sizeof entryPath, "%s/%s", kFolder, name);
    char* entry = ReadSmallFile(entryPath);
    const char* interpreter = nullptr;
    size_t interpreterLength = 0;
    bool fixed = false;
    if (entry && MiscEntryTakes(entry, path, head, &interpreter, &interpreterLength, &fixed)) {
      char* program = strndup(interpreter, interpreterLength);
      *type = sizeof(void*) == 8 ? kScs64BitBinary : kScs32BitBinary;
      uint32_t ignored;
      result = program && (fixed || ProgramType(program, &ignored, depth + 1)) ? 1 : 0;
      free(program);
    }
    free(entry);
  }
  closedir(folder);
  return result;
}

bool ProgramType(const char* path, uint32_t* type, int depth) {
  struct stat info;
  if (stat(path, &info) != 0 || !S_ISREG(info.st_mode) ||
      faccessat(AT_FDCWD, path, X_OK, AT_EACCESS) != 0) {
    return false;
  }
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return false;
  unsigned char head[kHeadSize] = {0};  // a shorter file reads as if padded with NUL bytes
  ssize_t got = pread(fd, head, sizeof head, 0);
  bool ok = false;
  if (got > 0) {
    int misc = MiscType(path, head, type, depth);
    if (misc >= 0) {
      ok = misc == 1;
    } else if (got >= SELFMAG && memcmp(head, ELFMAG, SELFMAG) == 0) {
      ok = ElfType(fd, static_cast<uint64_t>(info.st_size), head, type);
    } else if (head[0] == '#' && head[1] == '!') {
      ok = ScriptType(path, head, type, depth);
    }
  }
  close(fd);
  return ok;
}

}  // namespace

bool PosixAccessCheck(const char* path, uint32_t access) {
  if (!path || !*path) return false;
  Facts facts;
  if (!ReadFacts(path, (access & kDeleteAccess) == 0, &facts)) return false;
  int mode = ((access & kFileReadData) ? R_OK : 0) | ((access & kFileWriteData) ? W_OK : 0) |
             ((access & kFileExecute) ? X_OK : 0);
  if (mode != 0 && faccessat(AT_FDCWD, path, mode, AT_EACCESS) != 0) return false;
  bool folder = S_ISDIR(facts.mode);
  if ((access & kFileWriteData) && !folder && facts.appendOnly) return false;
  if ((access & kFileDeleteChild) && (!folder || facts.immutable || facts.appendOnly ||
                                      faccessat(AT_FDCWD, path, W_OK | X_OK, AT_EACCESS) != 0)) {
    return false;
  }
  return (access & kDeleteAccess) == 0 || MayUnlink(path, facts);
}

bool PosixGetBinaryType(const char* path, uint32_t* type) {
  if (!path || !*path || !type) return false;
  return ProgramType(path, type, 0);
}

}  // namespace kestario
