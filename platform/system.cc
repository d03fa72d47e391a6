#include "platform/system.h"

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

}  // namespace kestario
