// The system's calls that read settings: the profile (INI) functions and the registry, read only
// (part of System, system.h).
#ifndef KESTARIO_PLATFORM_PROFILE_CALLS_H_
#define KESTARIO_PLATFORM_PROFILE_CALLS_H_

#include <cstdint>

#include "text/byte_buffer.h"
#include "text/text_string.h"

namespace kestario {

// Registry handles and results, with their Win32 values.
using RegistryHandle = uintptr_t;
constexpr RegistryHandle kNoRegistryHandle = 0;
constexpr RegistryHandle kLocalMachine = 0x80000002u;
constexpr uint32_t kKeyRead = 0x20019u;
constexpr uint32_t kKeyWow6464Key = 0x0100u;  // the 64-bit view, whatever the program's bitness
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorMoreData = 234;
constexpr long kErrorNoMoreItems = 259;
// Value types, with their Win32 values.
constexpr uint32_t kRegSz = 1;

class ProfileCalls {
 public:
  virtual ~ProfileCalls();

  // GetPrivateProfileStringA: the value of `key` in `section` of `file`, or `defaultValue` when
  // there is no such key (or section, or file). The value is read whole, however long.
  virtual void GetPrivateProfileStringA(const char* section, const char* key,
                                        const char* defaultValue, TextString* value,
                                        const char* file) = 0;
  // GetPrivateProfileSectionA: the entries of `section`, each followed by a NUL byte, the list
  // ended by one more NUL byte (a single NUL byte when the section is absent or empty). Read whole.
  // When memory runs out, `entries` is left empty (no bytes at all).
  virtual void GetPrivateProfileSectionA(const char* section, ByteBuffer* entries,
                                         const char* file) = 0;
  // WritePrivateProfileStringA(NULL, NULL, NULL, file), the flush of the profile cache: reads of
  // `file` after it see it as it is at the first of them, or later. Linux looks at the file (a
  // stat, a new parse if it changed) at that first read and serves the rest from that parse until
  // the next flush, a file never flushed at every read; Windows reads it at every call (nothing to
  // do).
  virtual void FlushPrivateProfile(const char* file) = 0;
  // Fixes what the profile reads of `file` see to its bytes at this call, which are read whole
  // into `bytes` through one open of the file: until ReleasePrivateProfileA, no profile read of
  // `file` sees other bytes. Windows opens it denying writing and deleting to every other opener
  // (a file server enforces that for every client) and keeps it open; Linux serves every later
  // read of `file` from these bytes, without looking at the file again. False, `bytes` empty, when
  // the file cannot be opened or read, or memory runs out. One file at a time.
  virtual bool HoldPrivateProfileA(const char* file, ByteBuffer* bytes) = 0;
  virtual void ReleasePrivateProfileA(const char* file) = 0;

  // RegOpenKeyExA / RegQueryValueExA / RegCloseKey, read only. RegQueryValueEx with a null `data`
  // writes the value's size to `*size`; with a buffer it reads at most `*size` bytes.
  virtual long RegOpenKeyExA(RegistryHandle root, const char* subKey, uint32_t access,
                             RegistryHandle* result) = 0;
  virtual long RegQueryValueExA(RegistryHandle key, const char* valueName, uint8_t* data,
                                uint32_t* size) = 0;
  virtual long RegCloseKey(RegistryHandle key) = 0;
  // RegEnumValueA: the name, type and data of value number `index` (0, 1, ...) of `key`, read
  // whole; `data` holds the data's bytes up to the first NUL byte. kErrorNoMoreItems past the
  // last value. The default value has the empty name.
  virtual long RegEnumValueA(RegistryHandle key, uint32_t index, TextString* name, uint32_t* type,
                             TextString* data) = 0;
  // Whether anyone but the administrators (root) and the user the program runs as could change
  // what the registry calls read below HKEY_LOCAL_MACHINE: could have put a key there, or taken
  // one away. Windows: false (that hive takes an administrator to change). Linux: true when the
  // registry file, or a folder above it, belongs to another user or lets its group or others
  // write (a folder with the sticky bit that belongs to root, such as /tmp, lets nobody replace
  // what it holds); also for a missing file whose nearest existing folder is so.
  virtual bool RegistryWritableByOthers() = 0;
};

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_PROFILE_CALLS_H_
