// DLLs of System32 that the Windows build loads when it first needs them instead of importing
// them. A DLL that is no Known DLL (bcrypt.dll, crypt32.dll) is looked for first in the program's
// own folder when it is imported, and that folder is often a file share that more accounts can
// write than should run code as SYSTEM; loaded by the System32 search rule alone
// (LOAD_LIBRARY_SEARCH_SYSTEM32), only the system's own copy is ever taken.
#ifndef KESTARIO_PLATFORM_SYSTEM_LIBRARY_WIN32_H_
#define KESTARIO_PLATFORM_SYSTEM_LIBRARY_WIN32_H_

#include <windows.h>

namespace kestario {

// The module of System32's DLL `name` (for example L"bcrypt.dll"), loaded on the first call and
// kept for the process; null when it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* name);

// Puts the address of the function `name` of `dll` into `*function` (null when `dll` is null or
// has no such function); whether there is one.
template <typename Function>
bool ResolveCall(HMODULE dll, const char* name, Function* function) {
  // Through void (*)(): GetProcAddress's type says nothing of the function's own.
  *function =
      dll == nullptr
          ? nullptr
          : reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(dll, name)));
  return *function != nullptr;
}

// The calls that `load` fills in on the first call, kept for the process: `calls` when `load`
// succeeded that once, null ever after when it failed.
template <typename Calls>
const Calls* LoadedOnce(bool (*load)(Calls* calls)) {
  static Calls calls;
  static const bool ready = load(&calls);
  return ready ? &calls : nullptr;
}

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_SYSTEM_LIBRARY_WIN32_H_
