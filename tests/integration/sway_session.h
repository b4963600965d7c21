// A private headless sway session for the Wayland desktop tests: sway with
// the headless backend and the pixman renderer, no input devices, its own
// XDG_RUNTIME_DIR and configuration. sway refuses to run as root, so under
// root it runs as the test user kSwayTestUser (created on first use);
// otherwise as the caller. The daemon under test runs as the same user,
// as a user service would (DaemonOptions::user).
//
//   auto sway = SwaySession::Start({.outputs = {{1920, 1080}}});  // null if sway cannot start
//   TestDaemon::Start({.env = sway->Env(), .user = sway->user()});
//   sway->Run("grim -o HEADLESS-1 -");                             // as the session's user
#ifndef TARVIX_TESTS_INTEGRATION_SWAY_SESSION_H_
#define TARVIX_TESTS_INTEGRATION_SWAY_SESSION_H_

#include <sys/types.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "integration/accessibility_bus.h"
#include "integration/x_session.h"

namespace tarvix::testing {

inline constexpr char kSwayTestUser[] = "tarvix-wayland-test";

struct SwayOutput {
  int width = 1920;
  int height = 1080;
  // Position in sway's layout and scale (sway's "output ... pos ... scale").
  int x = 0;
  int y = 0;
  int scale = 1;
  // sway's "output ... transform": "normal", "90", "flipped-180", ...
  const char* transform = "normal";
};

struct SwayOptions {
  // The wlroots compositor in /usr/bin: "sway", or "cage" (a kiosk that
  // shows its newest window fullscreen, with no IPC and no configuration:
  // its outputs are wlroots' headless ones of 1280x720 side by side, so of
  // `outputs` only their number counts, and `background` and `xwayland`
  // are ignored).
  std::string compositor = "sway";
  std::vector<SwayOutput> outputs = {SwayOutput{}};
  // The background of every output: a colour "#RRGGBB", or the path of
  // an image (readable by the session's user) stretched over each output.
  std::string background = "#336699";
  // A private session bus with the AT-SPI bus and registry on it, run as
  // the session's user; Env() then names the session bus, so programs
  // launched here and the daemon join that accessibility bus.
  bool accessibility = false;
  // XWayland for X clients (sway starts the server when the first one
  // connects); Env() then names its DISPLAY.
  bool xwayland = false;
};

class SwaySession {
 public:
  // Null when the compositor (or the test user) is not there or did not
  // come up (sway: answer `swaymsg -t get_outputs`) within a few seconds.
  static std::unique_ptr<SwaySession> Start(const SwayOptions& options = {});
  ~SwaySession();
  SwaySession(const SwaySession&) = delete;
  SwaySession& operator=(const SwaySession&) = delete;

  // The user sway runs as ("" when it runs as the caller).
  const std::string& user() const { return user_; }
  pid_t pid() const { return sway_ ? sway_->pid() : -1; }
  // How long sway took to answer its first get_outputs.
  std::chrono::milliseconds start_time() const { return start_time_; }

  // XDG_RUNTIME_DIR, WAYLAND_DISPLAY and SWAYSOCK (sway only) of the session, and
  // DBUS_SESSION_BUS_ADDRESS and DISPLAY where the options asked for them.
  std::map<std::string, std::string> Env() const;

  // Runs a shell command as the session's user in the session's
  // environment; its standard output.
  std::string Run(const std::string& shell_command) const;
  // Starts a program (argv[0] a path) as the session's user in the
  // session's environment, its standard output a pipe to read lines from;
  // the returned process is the program itself. Null when it cannot start.
  std::unique_ptr<SessionProcess> Launch(const std::vector<std::string>& argv) const;

 private:
  SwaySession() = default;
  // Reads back the X display sway gave XWayland into x_display_.
  bool ReadXDisplay(std::chrono::steady_clock::time_point deadline);
  bool StartAccessibility();
  std::string runtime_dir_;
  std::string user_;
  std::string wayland_display_;
  std::string swaysock_;
  std::string x_display_;
  std::chrono::milliseconds start_time_{0};
  // cage's program ends when this, its standard input, is closed.
  int lifeline_ = -1;
  std::unique_ptr<SessionProcess> sway_;
  std::unique_ptr<AccessibilityBus> accessibility_;
};

}  // namespace tarvix::testing

#endif  // TARVIX_TESTS_INTEGRATION_SWAY_SESSION_H_
