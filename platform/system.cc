#include "platform/system.h"

#include <cstring>

namespace kestario {

namespace {
System* installed = nullptr;
uint32_t generation = 0;
}  // namespace

FileCalls::~FileCalls() = default;
FileHandleCalls::~FileHandleCalls() = default;
MachineCalls::~MachineCalls() = default;
ProcessCalls::~ProcessCalls() = default;
ProfileCalls::~ProfileCalls() = default;
UiCalls::~UiCalls() = default;
System::~System() = default;

System& CurrentSystem() { return installed ? *installed : RealSystem(); }

void SetSystem(System* system) {
  installed = system;
  ++generation;
}

uint32_t SystemGeneration() { return generation; }

uint32_t CopyOutModuleFileName(const char* text, size_t length, char* buffer, uint32_t size) {
  if (!buffer || size == 0) return 0;
  if (length >= size) {
    memcpy(buffer, text, size - 1);
    buffer[size - 1] = '\0';
    return size;
  }
  memcpy(buffer, text, length);
  buffer[length] = '\0';
  return static_cast<uint32_t>(length);
}

uint32_t CopyOutWindowsDirectory(const char* text, size_t length, char* buffer, uint32_t size) {
  if (!buffer || length >= size) return static_cast<uint32_t>(length + 1);
  memcpy(buffer, text, length);
  buffer[length] = '\0';
  return static_cast<uint32_t>(length);
}

const char* MessageBoxKind(unsigned style) {
  switch (style & kMbIconMask) {
    case kMbIconError:
      return "ERROR";
    case kMbIconQuestion:
      return "QUESTION";
    case kMbIconWarning:
      return "WARNING";
    default:
      return "INFORMATION";
  }
}

}  // namespace kestario
