// A real child process for tests that observe or signal processes; killed
// and reaped on destruction unless the test reaped it.
#ifndef TARVIX_TESTS_FAKES_SPAWNED_CHILD_H_
#define TARVIX_TESTS_FAKES_SPAWNED_CHILD_H_

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace tarvix {

class SpawnedChild {
 public:
  // Runs argv (argv[0] searched on PATH); pid() is -1 when that failed.
  explicit SpawnedChild(std::vector<std::string> argv) {
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], nullptr, nullptr, args.data(), environ) != 0) pid_ = -1;
  }
  ~SpawnedChild() {
    if (pid_ <= 0 || reaped_) return;
    kill(pid_, SIGKILL);
    (void)WaitFor(std::chrono::seconds(10));
  }
  SpawnedChild(const SpawnedChild&) = delete;
  SpawnedChild& operator=(const SpawnedChild&) = delete;

  pid_t pid() const { return pid_; }
  uint32_t id() const { return static_cast<uint32_t>(pid_); }

  // Reaps the child once it ended within `limit`; its wait status.
  std::optional<int> WaitFor(std::chrono::milliseconds limit) {
    int status = 0;
    return Poll(limit, [&] { return reaped_ = waitpid(pid_, &status, WNOHANG) == pid_; })
               ? std::optional<int>(status)
               : std::nullopt;
  }

  // Waits until the child has ended without reaping it: it is a zombie.
  bool WaitUntilZombie(std::chrono::milliseconds limit) {
    return Poll(limit, [&] {
      siginfo_t info{};
      return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
             info.si_pid == pid_;
    });
  }

 private:
  template <typename Done>
  static bool Poll(std::chrono::milliseconds limit, Done done) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
  }

  pid_t pid_ = -1;
  bool reaped_ = false;
};

}  // namespace tarvix

#endif  // TARVIX_TESTS_FAKES_SPAWNED_CHILD_H_
