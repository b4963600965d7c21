// Ending on SIGTERM, SIGINT and SIGHUP without leaving the keyboard changed.
#ifndef TARVIX_DAEMON_SHUTDOWN_SIGNALS_H_
#define TARVIX_DAEMON_SHUTDOWN_SIGNALS_H_

namespace tarvix {

// Blocks SIGTERM, SIGINT and SIGHUP (each one not ignored at start: an
// ignored SIGHUP is how nohup works) in the calling thread, so that every
// thread created afterwards has them blocked too, and starts one thread
// that waits for them. On one, input stops (a request in progress gives back
// the keycodes it lent and releases its keys; no further request starts),
// then the signal is raised again with its default action, so the process
// ends with that signal's status. Call once, early in start-up, before any
// other thread exists. Children reset their signal mask before exec.
void HandleShutdownSignals();

// Opens and closes an input backend once, which puts back what a daemon
// killed mid-request left on the keyboard. Failures (no display) are
// ignored: every input request tries again.
void RestoreInputLeftovers();

}  // namespace tarvix

#endif  // TARVIX_DAEMON_SHUTDOWN_SIGNALS_H_
