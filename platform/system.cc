#include "platform/system.h"

namespace kestario {

namespace {
System* installed = nullptr;
}  // namespace

System::~System() = default;

System& CurrentSystem() { return installed ? *installed : RealSystem(); }

void SetSystem(System* system) { installed = system; }

}  // namespace kestario
