// Read-only registry access: one key opened for the time of one read, and the App Paths lookup.
#ifndef KESTARIO_PLATFORM_REGISTRY_H_
#define KESTARIO_PLATFORM_REGISTRY_H_

#include <cstdint>

#include "platform/system.h"
#include "text/text_string.h"

namespace kestario {

class RegistryKey {
 public:
  RegistryKey(RegistryHandle root, const char* subKey);
  virtual ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  // Opens the key (closing it first if open); true when it is open afterwards.
  bool Open(uint32_t access);
  void Close();
  // The value's size in bytes; 0 when the key is closed or the value is not reported.
  uint32_t QueryValueSize(const char* valueName);
  // Reads the value's data into `result` (its text is the data up to the first NUL byte).
  bool QueryValue(const char* valueName, TextString* result);
  // Open, QueryValue, Close: the key is closed again in every case.
  bool ReadValue(const char* valueName, TextString* result);

  bool IsOpen() const { return handle_ != kNoRegistryHandle; }

 private:
  RegistryHandle root_;
  TextString subKey_;
  RegistryHandle handle_;
};

// The App Paths entry of `application` below HKEY_LOCAL_MACHINE: its default value (the full path
// of the program) when `wantFullPath` is nonzero, its "PATH" value otherwise.
bool LookupAppPath(const char* application, TextString* result, int32_t wantFullPath);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_REGISTRY_H_
