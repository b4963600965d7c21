// Process exit on Linux: a pidfd, which polls readable once the process
// has ended.
#include <errno.h>
#include <poll.h>
#include <unistd.h>
// glibc 2.36 declares these without C linkage for C++.
extern "C" {
#include <sys/pidfd.h>
}

#include <algorithm>
#include <thread>

#include "platform/process_exit.h"

namespace tarvix {
namespace {

class PidfdExitWatch final : public ProcessExitWatch {
 public:
  explicit PidfdExitWatch(int pidfd) : pidfd_(pidfd) {}
  ~PidfdExitWatch() override { close(pidfd_); }
  PidfdExitWatch(const PidfdExitWatch&) = delete;
  PidfdExitWatch& operator=(const PidfdExitWatch&) = delete;

  bool WaitForExit(std::chrono::nanoseconds timeout) override {
    const auto give_up = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(
          std::max(give_up - std::chrono::steady_clock::now(),
                   std::chrono::steady_clock::duration::zero()));
      pollfd ended = {pidfd_, POLLIN, 0};
      const int n = poll(&ended, 1, static_cast<int>(std::min<int64_t>(left.count(), 1 << 30)));
      if (n > 0) return true;
      if (n == 0 && std::chrono::steady_clock::now() >= give_up) return false;
      if (n < 0 && errno != EINTR) {
        std::this_thread::sleep_until(give_up);
        return false;
      }
    }
  }

 private:
  const int pidfd_;
};

}  // namespace

std::unique_ptr<ProcessExitWatch> ProcessExitWatch::Create(uint32_t pid) {
  if (pid == 0 || pid > 0x7fffffff) return nullptr;
  const int pidfd = pidfd_open(static_cast<pid_t>(pid), 0);  // always close-on-exec
  if (pidfd < 0) return nullptr;
  return std::make_unique<PidfdExitWatch>(pidfd);
}

}  // namespace tarvix
