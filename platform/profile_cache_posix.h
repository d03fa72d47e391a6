// Parsed profile files, kept while the file on disk is unchanged.
//
// A lookup stats the file; a cached parse is used only while the file's device, inode, size and
// modification time (with nanoseconds) are those of the parse, so a read never sees contents
// older than the lookup. Files of any size are read whole.
//
// A flushed file is looked at once: the first lookup after Flush stats it (and parses it again
// when it changed), the lookups after that one use that parse without looking at the file, until
// the next Flush. So the reads between two flushes cost no system call and all see one state of
// the file, the state at the first of them.
#ifndef KESTARIO_PLATFORM_PROFILE_CACHE_POSIX_H_
#define KESTARIO_PLATFORM_PROFILE_CACHE_POSIX_H_

#include <cstddef>

#include "platform/profile_reader.h"
#include "text/byte_buffer.h"

namespace kestario {

class ProfileCache {
 public:
  ProfileCache();
  ~ProfileCache();
  ProfileCache(const ProfileCache&) = delete;
  ProfileCache& operator=(const ProfileCache&) = delete;

  // The parse of the file at `path` as it is now; null when it is missing, not a regular file,
  // cannot be read, or memory runs out. Valid until the next call.
  const ProfileData* Get(const char* path);

  // Starts a new round of reads of the file at `path`: see above.
  void Flush(const char* path);

  // Reads the file at `path` whole through one descriptor into `bytes` and fixes its parse to
  // those bytes: until Release, Get and Flush of `path` do not look at the file again, and the
  // slot is never given to another path. False, `bytes` empty, when the file is missing, not a
  // regular file, cannot be read, or memory runs out.
  bool Hold(const char* path, ByteBuffer* bytes);
  void Release(const char* path);

  // Whether the last Get gave null because memory ran out.
  bool OutOfMemory() const { return outOfMemory_; }

  // How many times a file was read and parsed (for tests of the cache).
  size_t LoadCount() const { return loads_; }

 private:
  struct Slot;
  static constexpr size_t kSlots = 8;
  Slot* Find(const char* path);
  Slot* Claim(const char* path);
  const ProfileData* Load(const char* path, Slot** slot, bool* answered);
  Slot* slots_;
  size_t nextVictim_;
  size_t loads_;
  bool outOfMemory_;
};

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_PROFILE_CACHE_POSIX_H_
