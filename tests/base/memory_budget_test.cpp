#include "base/memory_budget.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

// Whether a reservation is granted at once beside what is already held.
TEST(MemoryBudgetTest, GrantsWhatFitsOrWhatIsAlone) {
  struct Case {
    const char* name;
    std::vector<size_t> held;
    size_t asked;
    bool granted;
  };
  const Case cases[] = {
      {"fits an empty budget", {}, 60, true},
      {"fills it exactly", {40}, 60, true},
      {"one byte too many", {40}, 61, false},
      {"larger than the budget, alone", {}, 500, true},
      {"larger than the budget, beside another", {1}, 500, false},
      {"nothing fits beside an oversized one", {500}, 1, false},
      {"nothing asked", {100}, 0, true},
  };
  for (const Case& c : cases) {
    MemoryBudget budget(100);
    std::vector<MemoryBudget::Grant> grants;
    for (const size_t bytes : c.held) grants.push_back(budget.Reserve(bytes));
    std::optional<MemoryBudget::Grant> grant = budget.TryReserve(c.asked);
    EXPECT_EQ(grant.has_value(), c.granted) << c.name;
    if (grant) {
      EXPECT_EQ(grant->bytes(), c.asked) << c.name;
    }
    grant.reset();
    grants.clear();
    EXPECT_EQ(budget.held(), 0u) << c.name << ": every grant gives its bytes back";
  }
}

// A waiting reservation is granted when bytes come back, in arrival order:
// a small one that would fit does not pass a large one queued before it.
TEST(MemoryBudgetTest, WaitersAreGrantedInArrivalOrder) {
  MemoryBudget budget(100);
  std::optional<MemoryBudget::Grant> first = budget.Reserve(70);
  std::vector<int> order;
  std::mutex order_mutex;
  auto waiter = [&](size_t bytes, int id) {
    return std::thread([&, bytes, id] {
      MemoryBudget::Grant grant = budget.Reserve(bytes);
      std::lock_guard lock(order_mutex);
      order.push_back(id);
    });
  };
  auto wait_for_waiters = [&](size_t n) {
    while (budget.waiting() != n) std::this_thread::yield();
  };
  std::thread large = waiter(80, 1);
  wait_for_waiters(1);
  // 25 would fit beside the first 70, but not beside the large 80.
  std::thread small = waiter(25, 2);
  wait_for_waiters(2);
  EXPECT_FALSE(budget.TryReserve(10).has_value()) << "nobody passes the queue";
  EXPECT_EQ(budget.held(), 70u);
  first.reset();
  large.join();
  small.join();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));
  EXPECT_EQ(budget.held(), 0u);
  EXPECT_EQ(budget.waiting(), 0u);
}

// Many threads over a budget that fits two at once: never more than two
// hold it, and all of them finish.
TEST(MemoryBudgetTest, NeverMoreThanFitsAtOnce) {
  MemoryBudget budget(100);
  std::atomic<int> holding{0}, most{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) {
    threads.emplace_back([&] {
      for (int round = 0; round < 200; ++round) {
        MemoryBudget::Grant grant = budget.Reserve(50);
        const int now = ++holding;
        int seen = most.load();
        while (now > seen && !most.compare_exchange_weak(seen, now)) {
        }
        --holding;
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_LE(most.load(), 2);
  EXPECT_EQ(budget.held(), 0u);
}

}  // namespace
}  // namespace tarvix
