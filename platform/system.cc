#include "platform/system.h"

namespace kestario {

namespace {
System* installed = nullptr;
uint32_t generation = 0;
}  // namespace

System::~System() = default;

System& CurrentSystem() { return installed ? *installed : RealSystem(); }

void SetSystem(System* system) {
  installed = system;
  ++generation;
}

uint32_t SystemGeneration() { return generation; }

}  // namespace kestario
