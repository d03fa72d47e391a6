#include "platform/system.h"

namespace kestario {

namespace {
System* installed = nullptr;
}  // namespace

System::~System() = default;

bool System::AnsiToUtf8(const char*, uint32_t, ByteBuffer*) { return false; }

System& CurrentSystem() { return installed ? *installed : RealSystem(); }

void SetSystem(System* system) { installed = system; }

}  // namespace kestario
