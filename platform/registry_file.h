// Where a build keeps the registry that its RegOpenKeyExA and RegQueryValueExA read: Windows has
// its own; the Linux build reads a file (docs/registry.md), for which a command-line tool may name
// another one (--registry FILE). Answered by registry_file_posix.cc and registry_file_win32.cc.
#ifndef KESTARIO_PLATFORM_REGISTRY_FILE_H_
#define KESTARIO_PLATFORM_REGISTRY_FILE_H_

#include "platform/system.h"

namespace kestario {

// Whether this build's registry is a file that another file may stand in for.
bool RegistryIsAFile();

// A new system of this build that reads the registry from `file`, for the caller to delete; null
// where the registry is no file (Windows) or memory runs out.
System* NewSystemWithRegistryFile(const char* file);

}  // namespace kestario

#endif  // KESTARIO_PLATFORM_REGISTRY_FILE_H_
