#include "support/allocation_budget.h"

#include "text/byte_buffer.h"

namespace kestario {

int g_allocations_left = -1;

bool LimitedGate(size_t) {
  if (g_allocations_left < 0) return true;
  if (g_allocations_left == 0) return false;
  --g_allocations_left;
  return true;
}

void AllocationGateTest::SetUp() { SetAllocationGate(&LimitedGate); }

void AllocationGateTest::TearDown() {
  g_allocations_left = -1;
  SetAllocationGate(nullptr);
}

}  // namespace kestario
