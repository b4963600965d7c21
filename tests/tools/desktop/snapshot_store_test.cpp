#include "tools/desktop/snapshot_store.h"

#include <gtest/gtest.h>

namespace tarvix {
namespace {

std::vector<ElementHandle> Handles(uint64_t snapshot, size_t count) {
  std::vector<ElementHandle> handles;
  for (size_t i = 0; i < count; ++i) {
    handles.push_back({.pid = 1, .locator = std::to_string(snapshot) + "/" + std::to_string(i)});
  }
  return handles;
}

TEST(SnapshotStoreTest, KeepsTheLastEightAndWordsEveryOtherRef) {
  SnapshotStore store;
  for (uint64_t n = 1; n <= 9; ++n) ASSERT_EQ(store.Add(Handles(n, 3)), n);
  const std::pair<std::string, std::string> cases[] = {
      {"s2e0", "2/0"},
      {"s9e2", "9/2"},
      {"s1e0", "stale ref: s1e0 (snapshot s1 superseded)"},
      {"s9e3", "unknown ref: s9e3"},
      {"s10e0", "unknown ref: s10e0"},
      {"", "unknown ref: "},
      {"s0e0", "unknown ref: s0e0"},
      {"s02e0", "unknown ref: s02e0"},
      {"s2e01", "unknown ref: s2e01"},
      {"s2e", "unknown ref: s2e"},
      {"s2e0x", "unknown ref: s2e0x"},
      {"S2E0", "unknown ref: S2E0"},
      {"s-2e0", "unknown ref: s-2e0"},
      {"s99999999999999999999e0", "unknown ref: s99999999999999999999e0"},
      {std::string(100, 'x'), "unknown ref: " + std::string(64, 'x') + "..."},
  };
  for (const auto& [ref, expected] : cases) {
    const Result<ElementHandle> found = store.Find(ref);
    EXPECT_EQ(found ? found->locator : found.error(), expected) << ref;
  }
}

TEST(SnapshotStoreTest, BoundsItsBytes) {
  SnapshotStore store;
  ElementHandle big{.pid = 1, .locator = std::string(4096, 'p')};
  // Each snapshot holds about 20 MiB: the bound keeps the newest ones only.
  for (int n = 0; n < 4; ++n) {
    (void)store.Add(std::vector<ElementHandle>(5000, big));
    EXPECT_LE(store.bytes(), SnapshotStore::kMaxStoreBytes);
  }
  EXPECT_TRUE(store.Find("s4e4999"));
  EXPECT_EQ(store.Find("s1e0").error(), "stale ref: s1e0 (snapshot s1 superseded)");
}

}  // namespace
}  // namespace tarvix
