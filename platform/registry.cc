#include "platform/registry.h"

namespace kestario {

RegistryKey::RegistryKey(RegistryHandle root, const char* subKey)
    : root_(root), subKey_(subKey ? subKey : ""), handle_(kNoRegistryHandle) {}

RegistryKey::~RegistryKey() { Close(); }

bool RegistryKey::Open(uint32_t access) {
  Close();
  if (root_ == kNoRegistryHandle) return false;
  RegistryHandle opened = kNoRegistryHandle;
  if (CurrentSystem().RegOpenKeyExA(root_, subKey_.GetConstText(), access, &opened) !=
      kErrorSuccess) {
    return false;
  }
  handle_ = opened;
  return handle_ != kNoRegistryHandle;
}

void RegistryKey::Close() {
  if (handle_ == kNoRegistryHandle) return;
  CurrentSystem().RegCloseKey(handle_);
  handle_ = kNoRegistryHandle;
}

uint32_t RegistryKey::QueryValueSize(const char* valueName) {
  uint32_t size = 0;
  if (!IsOpen()) return 0;
  CurrentSystem().RegQueryValueExA(handle_, valueName, nullptr, &size);  // result not needed
  return size;
}

bool RegistryKey::QueryValue(const char* valueName, TextString* result) {
  uint32_t size = QueryValueSize(valueName);
  if (size == 0 || !IsOpen() || !result) return false;
  // One zero byte more than the data, so that the text ends even when the data holds no NUL.
  if (size == UINT32_MAX || !result->Allocate(size + 1)) return false;
  char* buffer = result->GetText();
  if (!buffer) return false;
  return CurrentSystem().RegQueryValueExA(handle_, valueName, reinterpret_cast<uint8_t*>(buffer),
                                          &size) == kErrorSuccess;
}

bool RegistryKey::ReadValue(const char* valueName, TextString* result) {
  bool read = Open(kKeyRead) && QueryValue(valueName, result);
  Close();
  return read;
}

bool LookupAppPath(const char* application, TextString* result, int32_t wantFullPath) {
  TextString path = TextString("Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\")
                        .Concat(application ? application : "");
  RegistryKey key(kLocalMachine, path.GetConstText());
  return key.ReadValue(wantFullPath != 0 ? "" : "PATH", result);
}

}  // namespace kestario
