// An allocation gate for tests: the program's allocation path fails once a budget runs out.
#ifndef KESTARIO_TESTS_SUPPORT_ALLOCATION_BUDGET_H_
#define KESTARIO_TESTS_SUPPORT_ALLOCATION_BUDGET_H_

#include <cstddef>

#include <gtest/gtest.h>

namespace kestario {

// How many allocations may still succeed; -1 means no limit.
extern int g_allocations_left;

// The gate to install with SetAllocationGate: refuses every allocation once the budget is spent.
bool LimitedGate(size_t size);

// A test whose allocations go through LimitedGate (no limit until a test sets
// g_allocations_left), with the gate taken away and the budget reset after it.
class AllocationGateTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

}  // namespace kestario

#endif  // KESTARIO_TESTS_SUPPORT_ALLOCATION_BUDGET_H_
