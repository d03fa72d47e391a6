// Calls of the Windows system (system_win32.cc) that live in files of their own: the profile file
// held open (held_profile_win32.cc) and the enumeration of a key's values
// (registry_values_win32.cc). Their contracts are those of ProfileCalls (profile_calls.h).
#ifndef KESTARIO_PLATFORM_PROFILE_PARTS_WIN32_H_
#define KESTARIO_PLATFORM_PROFILE_PARTS_WIN32_H_

#include <cstdint>

#include "platform/profile_calls.h"

namespace kestario {

bool Win32HoldProfile(const char* file, ByteBuffer* bytes);
void Win32ReleaseProfile(const char* file);
long Win32EnumRegistryValue(RegistryHandle key, uint32_t index, TextString* name, uint32_t* type,
                            TextString* data);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_PROFILE_PARTS_WIN32_H_
