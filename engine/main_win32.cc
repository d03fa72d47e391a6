// The Windows entry point: a GUI program (no console window) entered through WinMain.
#include <windows.h>

#include <cstdlib>
#include <new>

#include "engine/driver.h"

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR commandLine,
                   int /*show*/) {
  // Before anything can load a DLL: search for DLLs only in System32, never in the program's own
  // folder or the current directory, where a planted copy could be waiting.
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
  return kestario::UpdaterMain(commandLine);
}

// The program's allocation functions: the C heap, and a null result when it is exhausted. The
// program is built without exceptions and allocates only with the nothrow forms; replacing the
// runtime's versions keeps its exception machinery (and the threads library that it needs) out
// of the executable. A plain `new` that fails ends the process, as it would without a handler.
void* operator new(std::size_t size) {
  void* block = std::malloc(size != 0 ? size : 1);
  if (block == nullptr) std::abort();
  return block;
}
void* operator new[](std::size_t size) { return operator new(size); }
void* operator new(std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  return std::malloc(size != 0 ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t& /*tag*/) noexcept {
  return std::malloc(size != 0 ? size : 1);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t /*size*/) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t /*size*/) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t& /*tag*/) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t& /*tag*/) noexcept { std::free(block); }
