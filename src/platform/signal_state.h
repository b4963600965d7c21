// The signal state the daemon starts from.
#ifndef TARVIX_PLATFORM_SIGNAL_STATE_H_
#define TARVIX_PLATFORM_SIGNAL_STATE_H_

namespace tarvix {

// Undoes signal state that a parent handed down through exec: SIGCHLD
// ignored (the kernel then reaps every child itself, so waiting for a
// command fails with ECHILD) goes back to its default, and the signal mask
// is emptied (a blocked SIGTERM would make the daemon unstoppable). Other
// dispositions are left alone: an ignored SIGHUP is how nohup works. Call
// first in start-up, before any thread exists, so every thread inherits the
// empty mask.
void ResetInheritedSignalState();

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_SIGNAL_STATE_H_
