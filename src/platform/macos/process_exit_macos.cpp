// Process exit on macOS: a kqueue with an EVFILT_PROC / NOTE_EXIT filter.
#include <errno.h>
#include <sys/event.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

#include "platform/process_exit.h"

namespace tarvix {
namespace {

class KqueueExitWatch final : public ProcessExitWatch {
 public:
  explicit KqueueExitWatch(int kq) : kq_(kq) {}
  ~KqueueExitWatch() override { close(kq_); }
  KqueueExitWatch(const KqueueExitWatch&) = delete;
  KqueueExitWatch& operator=(const KqueueExitWatch&) = delete;

  bool WaitForExit(std::chrono::nanoseconds timeout) override {
    if (ended_) return true;
    const auto give_up = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      const auto left = std::max(give_up - std::chrono::steady_clock::now(),
                                 std::chrono::steady_clock::duration::zero());
      const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
      struct timespec wait;
      wait.tv_sec = static_cast<time_t>(seconds.count());
      wait.tv_nsec = static_cast<long>(
          std::chrono::duration_cast<std::chrono::nanoseconds>(left - seconds).count());
      struct kevent event;
      const int n = kevent(kq_, nullptr, 0, &event, 1, &wait);
      if (n > 0 && event.filter == EVFILT_PROC && (event.fflags & NOTE_EXIT) != 0) {
        ended_ = true;
        return true;
      }
      if (n == 0) return false;
      if (n < 0 && errno != EINTR) {
        std::this_thread::sleep_until(give_up);
        return false;
      }
    }
  }

 private:
  const int kq_;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<ProcessExitWatch> ProcessExitWatch::Create(uint32_t pid) {
  if (pid == 0 || pid > 0x7fffffff) return nullptr;
  // kqueue descriptors are not inherited by children, so no close-on-exec
  // flag is needed.
  const int kq = kqueue();
  if (kq < 0) return nullptr;
  struct kevent change;
  EV_SET(&change, static_cast<uintptr_t>(pid), EVFILT_PROC, EV_ADD | EV_ONESHOT, NOTE_EXIT, 0,
         nullptr);
  // Fails (ESRCH) when the process is gone or already ending; the caller's
  // polling then decides.
  if (kevent(kq, &change, 1, nullptr, 0, nullptr) != 0) {
    close(kq);
    return nullptr;
  }
  return std::make_unique<KqueueExitWatch>(kq);
}

}  // namespace tarvix
