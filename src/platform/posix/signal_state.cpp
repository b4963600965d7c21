#include "platform/signal_state.h"

#include <signal.h>

namespace tarvix {

void ResetInheritedSignalState() {
  signal(SIGCHLD, SIG_DFL);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
}

}  // namespace tarvix
