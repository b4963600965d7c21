#include "daemon/shutdown_signals.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <thread>

#include "platform/input_backend.h"
#include "platform/input_stop.h"

namespace tarvix {
namespace {

constexpr int kShutdownSignals[] = {SIGTERM, SIGINT, SIGHUP};

// Runs on its own thread: the signals are taken synchronously (sigwait), so
// nothing here runs in a signal handler and any call is allowed.
[[noreturn]] void WaitForShutdown(sigset_t signals) {
  int signal_number = 0;
  while (sigwait(&signals, &signal_number) != 0) {
  }
  StopInput();
  // The default action ends the process with the signal's status, as if
  // the daemon had not caught it.
  struct sigaction fallback {};
  fallback.sa_handler = SIG_DFL;
  sigemptyset(&fallback.sa_mask);
  sigaction(signal_number, &fallback, nullptr);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  pthread_sigmask(SIG_UNBLOCK, &just_this, nullptr);
  raise(signal_number);
  _exit(128 + signal_number);  // not reached: the default action ends the process
}

}  // namespace

void HandleShutdownSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (const int signal_number : kShutdownSignals) {
    struct sigaction current {};
    if (sigaction(signal_number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) {
      continue;
    }
    sigaddset(&signals, signal_number);
  }
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  std::thread(WaitForShutdown, signals).detach();
}

void RestoreInputLeftovers() { (void)OpenInputBackend(); }

}  // namespace tarvix
