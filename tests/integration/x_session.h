// A private X session for desktop tests: its own Xvfb on a display number
// the server picks itself (-displayfd), optionally openbox, and helper
// programs (GTK windows written in Python) started against it. Stops
// exactly what it started.
//
//   auto x = XSession::Start(24, 1280, 800);   // null when Xvfb cannot start
//   x->StartWindowManager();
//   auto win = x->LaunchPython("gtk_window.py", {"--title", "A"});
//   win->ReadLine(5s);                          // the script's "ready ..." line
//   TestDaemon::Start({.env = x->Env()});
#ifndef TARVIX_TESTS_INTEGRATION_X_SESSION_H_
#define TARVIX_TESTS_INTEGRATION_X_SESSION_H_

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.h"

namespace tarvix::testing {

class AccessibilityBus;

// A child process of the session; SIGTERM, then SIGKILL, and reaped on
// destruction. Its standard output is a pipe the test can read lines from.
class SessionProcess {
 public:
  SessionProcess(pid_t pid, int stdout_fd) : pid_(pid), stdout_fd_(stdout_fd) {}
  ~SessionProcess();
  SessionProcess(const SessionProcess&) = delete;
  SessionProcess& operator=(const SessionProcess&) = delete;

  pid_t pid() const { return pid_; }
  // The next line of standard output (without the newline), or nullopt
  // when none arrives within `timeout` or the process closed it.
  std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
  // The next line that is a JSON object holding `member` (a probe's
  // report), skipping other lines; null when none arrives within `timeout`.
  Json NextReportWith(std::string_view member, std::chrono::milliseconds timeout);
  // Every line, parsed as JSON, until none has come for `quiet`.
  std::vector<Json> Drain(std::chrono::milliseconds quiet);

 private:
  pid_t pid_;
  int stdout_fd_;
  std::string buffered_;
};

class XSession {
 public:
  // Starts "Xvfb :N -noreset" with one screen of width x height x depth.
  // `display_number` asks for a given display (to bring a server back on
  // the number a daemon already uses); otherwise the server picks a free
  // one. `server_args` go to the end of Xvfb's command line (say
  // "-extension XTEST" to leave an extension out). Null when the server
  // does not come up within a few seconds.
  static std::unique_ptr<XSession> Start(int depth, int width, int height,
                                         std::optional<int> display_number = std::nullopt,
                                         const std::vector<std::string>& server_args = {});
  ~XSession();
  XSession(const XSession&) = delete;
  XSession& operator=(const XSession&) = delete;

  // ":N".
  const std::string& display() const { return display_; }
  // The Xvfb process (to stop and continue it), or -1.
  pid_t server_pid() const { return server_ ? server_->pid() : -1; }
  int display_number() const { return number_; }

  // Starts openbox and waits until it manages the screen (EWMH check
  // window published). False when it did not within a few seconds.
  bool StartWindowManager();

  // Starts a private session bus and the AT-SPI bus launcher on it (the
  // launcher starts the accessibility bus and publishes it on the root
  // window), turns accessibility on and starts the registry. Programs
  // launched afterwards join that session and its accessibility bus. False
  // when any of them did not come up within a few seconds.
  bool StartAccessibility();
  // The accessibility bus's address ("" before StartAccessibility).
  const std::string& accessibility_bus() const { return atspi_address_; }

  // Runs /usr/bin/python3 with tests/integration/<script> and `args` in
  // this session: without a session bus and accessibility bridge, or, once
  // StartAccessibility succeeded, with them unless `at_bridge` is false.
  std::unique_ptr<SessionProcess> LaunchPython(const std::string& script,
                                               const std::vector<std::string>& args,
                                               bool at_bridge = true);
  // Runs a program from the search path the same way (stdout captured).
  std::unique_ptr<SessionProcess> Launch(const std::vector<std::string>& argv,
                                         bool at_bridge = true);

  // Runs a shell command in this session; its standard output.
  std::string Run(const std::string& shell_command) const;

  // Environment for TestDaemon: DISPLAY (and no XAUTHORITY: Xvfb without
  // -auth accepts local clients).
  std::map<std::string, std::string> Env() const { return {{"DISPLAY", display_}}; }
  // Env() and the private session bus, once StartAccessibility succeeded.
  std::map<std::string, std::string> SessionEnv() const;

  // Clients connected to the server now (X-Resource), or -1.
  int ClientCount() const;

  // Stops the accessibility processes, the session bus, the window
  // manager and the server, in that order.
  void Stop();

 private:
  XSession() = default;
  std::unique_ptr<SessionProcess> Spawn(const std::vector<std::string>& argv, bool capture_stdout,
                                        int extra_fd = -1, bool at_bridge = false);
  void StopAccessibility();
  std::string session_dir_;
  std::string session_address_;
  std::string atspi_address_;
  std::unique_ptr<AccessibilityBus> accessibility_;
  std::string display_;
  int number_ = -1;
  std::unique_ptr<SessionProcess> server_;
  std::unique_ptr<SessionProcess> window_manager_;
};

}  // namespace tarvix::testing

#endif  // TARVIX_TESTS_INTEGRATION_X_SESSION_H_
