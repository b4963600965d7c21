// One lasting worker per kind in the process: a thread with a connection of
// its own that must outlive the call that started it (the clipboard's
// owner serves other clients after clipboard_write has answered).
#ifndef TARVIX_PLATFORM_LASTING_WORKER_H_
#define TARVIX_PLATFORM_LASTING_WORKER_H_

#include <memory>
#include <mutex>

#include "base/result.h"

namespace tarvix {

// The running worker of kind T, started by T::Start() on first use and
// again once the last one has ended (T::ended(): its connection failed).
// Never freed: the worker lives until the daemon exits.
template <typename T>
Result<std::shared_ptr<T>> LastingWorker() {
  static std::mutex mutex;
  static auto* instance = new std::shared_ptr<T>();
  std::lock_guard lock(mutex);
  if (*instance && !(*instance)->ended()) return *instance;
  Result<std::shared_ptr<T>> started = T::Start();
  if (started) *instance = *started;
  return started;
}

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_LASTING_WORKER_H_
