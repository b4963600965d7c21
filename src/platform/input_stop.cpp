#include "platform/input_stop.h"

#include <atomic>

namespace tarvix {
namespace {

// Never destroyed: a signal may stop input while the process ends.
std::mutex& InputLock() {
  static std::mutex* const lock = new std::mutex;
  return *lock;
}

std::atomic<bool> stop_requested{false};

}  // namespace

std::unique_lock<std::mutex> HoldInputForRequest() {
  return std::unique_lock<std::mutex>(InputLock());
}

bool InputStopRequested() { return stop_requested.load(std::memory_order_acquire); }

void StopInput() {
  stop_requested.store(true, std::memory_order_release);
  InputLock().lock();  // released by the end of the process only
}

}  // namespace tarvix
