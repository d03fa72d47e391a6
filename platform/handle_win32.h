// Owners of the Windows build's handles: each closes its handle once, when it goes out of scope,
// so that no return path forgets one. Move-only; nothing throws.
#ifndef KESTARIO_PLATFORM_HANDLE_WIN32_H_
#define KESTARIO_PLATFORM_HANDLE_WIN32_H_

#include <windows.h>

namespace kestario {

// Owns `Type` (a handle the calls give as null or INVALID_HANDLE_VALUE when they fail) and ends it
// with `Closer::Close`.
template <typename Type, typename Closer>
class OwnedHandle {
 public:
  OwnedHandle() = default;
  explicit OwnedHandle(Type handle) : handle_(handle) {}
  OwnedHandle(OwnedHandle&& other) noexcept : handle_(other.release()) {}
  OwnedHandle& operator=(OwnedHandle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  ~OwnedHandle() { reset(); }

  Type get() const { return handle_; }
  bool valid() const {
    return handle_ != nullptr && handle_ != reinterpret_cast<Type>(INVALID_HANDLE_VALUE);
  }
  // Gives the handle up, not closed, to the caller; the owner is left empty.
  Type release() {
    Type handle = handle_;
    handle_ = nullptr;
    return handle;
  }
  // Closes the handle held (if any) and holds `handle` instead.
  void reset(Type handle = nullptr) {
    if (valid()) Closer::Close(handle_);
    handle_ = handle;
  }
  // Where a call that gives a handle through a pointer puts it; the owner must be empty.
  Type* receive() { return &handle_; }

 private:
  Type handle_ = nullptr;
};

struct KernelHandleCloser {
  static void Close(HANDLE handle) { ::CloseHandle(handle); }
};
struct FindHandleCloser {
  static void Close(HANDLE handle) { ::FindClose(handle); }
};
struct RegistryKeyCloser {
  static void Close(HKEY key) { ::RegCloseKey(key); }
};

// A kernel object's handle: a file, a process, a thread, a token (CloseHandle).
using Handle = OwnedHandle<HANDLE, KernelHandleCloser>;
// A search of FindFirstFileA (FindClose).
using FindHandle = OwnedHandle<HANDLE, FindHandleCloser>;
// An open registry key (RegCloseKey).
using RegistryKey = OwnedHandle<HKEY, RegistryKeyCloser>;

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_HANDLE_WIN32_H_
