// RegEnumValueA, whole: the buffers grow while the value does not fit.
#include <windows.h>

#include "platform/profile_parts_win32.h"

namespace kestario {

long Win32EnumRegistryValue(RegistryHandle key, uint32_t index, TextString* name, uint32_t* type,
                            TextString* data) {
  // A value name has at most 16,383 characters.
  constexpr DWORD kNameRoom = 16384;
  DWORD dataRoom = 1024;
  for (;;) {
    if (!name->Allocate(kNameRoom) || !data->Allocate(dataRoom + 1)) return ERROR_NOT_ENOUGH_MEMORY;
    DWORD nameLength = kNameRoom;
    DWORD dataSize = dataRoom;
    DWORD valueType = 0;
    LONG status = ::RegEnumValueA(reinterpret_cast<HKEY>(key), index, name->GetText(), &nameLength,
                                  nullptr, &valueType, data->GetData(), &dataSize);
    if (status == ERROR_MORE_DATA && dataSize > dataRoom && dataSize < (64u << 20)) {
      dataRoom = dataSize;
      continue;
    }
    if (status != ERROR_SUCCESS) return status;
    name->GetText()[nameLength] = '\0';
    data->GetData()[dataSize] = 0;  // the text ends at the first NUL byte, here at the latest
    *type = valueType;
    return ERROR_SUCCESS;
  }
}

}  // namespace kestario
