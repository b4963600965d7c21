// A private accessibility session for desktop tests: a session bus, the
// AT-SPI bus launcher on it (which starts the accessibility bus),
// accessibility turned on and the registry running. The desktop session
// that owns it (XSession, SwaySession) says how its programs are started,
// so they run as its user and see its display.
//
//   auto bus = AccessibilityBus::Start(dir, spawn, run);   // null on failure
//   // programs given bus->session_address() join the accessibility bus
#ifndef TARVIX_TESTS_INTEGRATION_ACCESSIBILITY_BUS_H_
#define TARVIX_TESTS_INTEGRATION_ACCESSIBILITY_BUS_H_

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "integration/x_session.h"

namespace tarvix::testing {

class AccessibilityBus {
 public:
  // Starts `argv` (argv[0] a path) in the desktop session, its standard
  // output a pipe; null when it cannot start.
  using Spawn =
      std::function<std::unique_ptr<SessionProcess>(const std::vector<std::string>& argv)>;
  // Runs a shell command in the desktop session; its standard output.
  using Run = std::function<std::string(const std::string& shell_command)>;

  // The session bus listens in `dir` (writable by the session's user), and
  // the bus processes use it as their XDG directories. Null when any of
  // them did not come up within a few seconds.
  static std::unique_ptr<AccessibilityBus> Start(const std::string& dir, const Spawn& spawn,
                                                 const Run& run);
  // Stops the registry and the accessibility bus, then the launcher and
  // the session bus.
  ~AccessibilityBus();
  AccessibilityBus(const AccessibilityBus&) = delete;
  AccessibilityBus& operator=(const AccessibilityBus&) = delete;

  const std::string& session_address() const { return session_address_; }
  const std::string& atspi_address() const { return atspi_address_; }

 private:
  AccessibilityBus() = default;
  std::string session_address_;
  std::string atspi_address_;
  std::unique_ptr<SessionProcess> session_bus_;
  std::unique_ptr<SessionProcess> bus_launcher_;
  // Started by the accessibility bus (not our children): the registry and
  // the bus itself, stopped by pid.
  std::vector<pid_t> adopted_;
};

}  // namespace tarvix::testing

#endif  // TARVIX_TESTS_INTEGRATION_ACCESSIBILITY_BUS_H_
