#include "support/allocation_budget.h"

namespace kestario {

int g_allocations_left = -1;

bool LimitedGate(size_t) {
  if (g_allocations_left < 0) return true;
  if (g_allocations_left == 0) return false;
  --g_allocations_left;
  return true;
}

}  // namespace kestario
