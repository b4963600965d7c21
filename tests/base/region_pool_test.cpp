#include "base/region_pool.h"

#include <cstring>
#include <set>
#include <vector>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

// Slots never overlap, survive reuse in any order, and a flood's regions
// are given back once its slots are free (one region is kept).
TEST(RegionPoolTest, FloodComesAndGoes) {
  RegionPool pool(96);
  std::vector<char*> slots;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < 20000; ++i) {
      auto* slot = static_cast<char*>(pool.Allocate());
      std::memset(slot, round * 7 + 1, 96);
      slots.push_back(slot);
    }
    EXPECT_GT(pool.regions(), 5u);
    std::set<char*> distinct(slots.begin(), slots.end());
    EXPECT_EQ(distinct.size(), slots.size());
    // Free every other slot, then refill: freed slots are reused.
    for (size_t i = 0; i < slots.size(); i += 2) pool.Free(slots[i]);
    for (size_t i = 0; i < slots.size(); i += 2) slots[i] = static_cast<char*>(pool.Allocate());
    distinct = std::set<char*>(slots.begin(), slots.end());
    EXPECT_EQ(distinct.size(), slots.size());
    for (char* slot : slots) pool.Free(slot);
    slots.clear();
    EXPECT_EQ(pool.regions(), 1u);
  }
}

}  // namespace
}  // namespace tarvix
