#include "platform/registry_file.h"

#include <new>

#include "platform/system_posix.h"

namespace kestario {

bool RegistryIsAFile() { return true; }

System* NewSystemWithRegistryFile(const char* file) {
  PosixSystem* system = new (std::nothrow) PosixSystem;
  if (system != nullptr) system->SetRegistryFile(file);
  return system;
}

}  // namespace kestario
