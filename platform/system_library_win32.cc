#include "platform/system_library_win32.h"

namespace kestario {

HMODULE LoadSystemLibrary(const wchar_t* name) {
  // A module once loaded stays for the process, so loading it again only counts one more
  // reference to the same module; the loader keeps the first answer for every later call.
  return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace kestario
