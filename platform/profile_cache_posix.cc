#include "platform/profile_cache_posix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "text/growable_array.h"

namespace kestario {

struct ProfileCache::Slot {
  char* path;
  dev_t device;
  ino_t inode;
  off_t size;
  struct timespec modified;
  ProfileData* data;  // null: not parsed, or the file is missing or unreadable
  bool flushed;       // reads of the path go by a round, opened by Flush
  bool looked;        // the file was looked at in the current round; `data` is its answer
  bool held;          // `data` is fixed until Release (Hold)
};

namespace {

bool SameFile(const struct stat& now, dev_t device, ino_t inode, off_t size,
              const struct timespec& modified) {
  return now.st_dev == device && now.st_ino == inode && now.st_size == size &&
         now.st_mtim.tv_sec == modified.tv_sec && now.st_mtim.tv_nsec == modified.tv_nsec;
}

// Reads the whole open file into a malloc'd block; sets *outOfMemory when that is why it fails.
bool ReadAll(int fd, size_t hint, char** bytes, size_t* length, bool* outOfMemory) {
  GrowableArray<char> block(hint + 1);
  for (;;) {
    if (block.count() == block.room() && !block.Reserve(block.count() + 1)) {
      *outOfMemory = true;
      return false;
    }
    ssize_t got = read(fd, block.items() + block.count(), block.room() - block.count());
    if (got < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (got == 0) break;
    block.SetCount(block.count() + static_cast<size_t>(got));
  }
  *length = block.count();
  *bytes = block.Release();
  return true;
}

}  // namespace

ProfileCache::ProfileCache() : slots_(nullptr), nextVictim_(0), loads_(0), outOfMemory_(false) {
  slots_ = static_cast<Slot*>(calloc(kSlots, sizeof(Slot)));
}

ProfileCache::~ProfileCache() {
  if (!slots_) return;
  for (size_t i = 0; i < kSlots; ++i) {
    free(slots_[i].path);
    delete slots_[i].data;
  }
  free(slots_);
}

ProfileCache::Slot* ProfileCache::Find(const char* path) {
  for (size_t i = 0; i < kSlots; ++i) {
    if (slots_[i].path && strcmp(slots_[i].path, path) == 0) return &slots_[i];
  }
  return nullptr;
}

// A slot for `path`: its own, or the next victim emptied and named after it; null when memory
// runs out.
ProfileCache::Slot* ProfileCache::Claim(const char* path) {
  Slot* slot = Find(path);
  if (slot) return slot;
  char* copy = strdup(path);
  if (!copy) return nullptr;
  // A held slot is never a victim; one slot at least is not held (one file at a time).
  do {
    slot = &slots_[nextVictim_];
    nextVictim_ = (nextVictim_ + 1) % kSlots;
  } while (slot->held);
  free(slot->path);
  delete slot->data;
  *slot = Slot{};
  slot->path = copy;
  return slot;
}

void ProfileCache::Flush(const char* path) {
  if (!path || !*path || !slots_) return;
  Slot* slot = Claim(path);
  if (!slot || slot->held) return;
  slot->flushed = true;
  slot->looked = false;
}

const ProfileData* ProfileCache::Get(const char* path) {
  outOfMemory_ = !slots_;
  if (!path || !*path || !slots_) return nullptr;
  Slot* slot = Find(path);
  if (slot && (slot->held || (slot->flushed && slot->looked))) return slot->data;
  bool answered = false;  // whether the lookup settled what the round's later reads see
  const ProfileData* result = Load(path, &slot, &answered);
  if (slot && slot->flushed) slot->looked = answered;
  return result;
}

const ProfileData* ProfileCache::Load(const char* path, Slot** found, bool* answered) {
  Slot* slot = *found;
  struct stat now;
  if (stat(path, &now) != 0 || !S_ISREG(now.st_mode)) {
    // Missing (or not a file): so it stays for the round.
    if (slot) {
      delete slot->data;
      slot->data = nullptr;
    }
    *answered = true;
    return nullptr;
  }
  if (slot && slot->data && SameFile(now, slot->device, slot->inode, slot->size, slot->modified)) {
    *answered = true;
    return slot->data;
  }
  if (!slot) {
    slot = Claim(path);
    *found = slot;
    if (!slot) {
      outOfMemory_ = true;
      return nullptr;
    }
  }
  delete slot->data;
  slot->data = nullptr;

  // A file that cannot be read, or memory that runs out, is tried again at the next read.
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat opened;
  char* bytes = nullptr;
  size_t length = 0;
  bool ok = fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
            ReadAll(fd, static_cast<size_t>(opened.st_size), &bytes, &length, &outOfMemory_);
  close(fd);
  if (!ok) return nullptr;
  ++loads_;
  ProfileData* data = new (std::nothrow) ProfileData();
  if (!data) {
    free(bytes);
    outOfMemory_ = true;
    return nullptr;
  }
  if (!data->Adopt(bytes, length)) {
    delete data;
    outOfMemory_ = true;
    return nullptr;
  }
  slot->device = opened.st_dev;
  slot->inode = opened.st_ino;
  slot->size = opened.st_size;
  slot->modified = opened.st_mtim;
  slot->data = data;
  *answered = true;
  return data;
}

bool ProfileCache::Hold(const char* path, ByteBuffer* bytes) {
  bytes->Free();
  if (!path || !*path || !slots_) return false;
  Slot* slot = Claim(path);
  if (!slot) return false;
  slot->held = false;
  delete slot->data;
  slot->data = nullptr;
  slot->looked = false;
  int fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return false;
  struct stat opened;
  char* block = nullptr;
  size_t length = 0;
  bool read = fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
              ReadAll(fd, static_cast<size_t>(opened.st_size), &block, &length, &outOfMemory_) &&
              length < UINT32_MAX;
  close(fd);
  ProfileData* data = read ? new (std::nothrow) ProfileData() : nullptr;
  // One copy for the caller, one for the parse.
  bool held = data != nullptr && bytes->SetBytes(block, static_cast<uint32_t>(length)) &&
              data->Parse(block, length);
  free(block);
  if (!held) {
    delete data;
    bytes->Free();
    return false;
  }
  ++loads_;
  slot->data = data;
  slot->held = true;
  return true;
}

void ProfileCache::Release(const char* path) {
  Slot* slot = path && slots_ ? Find(path) : nullptr;
  if (!slot || !slot->held) return;
  slot->held = false;
  delete slot->data;
  slot->data = nullptr;
  slot->looked = false;
}

}  // namespace kestario
