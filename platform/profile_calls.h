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
constexpr long kErrorSuccess = 0;
constexpr long kErrorFileNotFound = 2;
constexpr long kErrorMoreData = 234;

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

  // RegOpenKeyExA / RegQueryValueExA / RegCloseKey, read only. RegQueryValueEx with a null `data`
  // writes the value's size to `*size`; with a buffer it reads at most `*size` bytes.
  virtual long RegOpenKeyExA(RegistryHandle root, const char* subKey, uint32_t access,
                             RegistryHandle* result) = 0;
  virtual long RegQueryValueExA(RegistryHandle key, const char* valueName, uint8_t* data,
                                uint32_t* size) = 0;
  virtual long RegCloseKey(RegistryHandle key) = 0;
};

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_PROFILE_CALLS_H_
