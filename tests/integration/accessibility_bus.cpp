#include "integration/accessibility_bus.h"

#include <signal.h>

#include <cstdlib>
#include <thread>

namespace tarvix::testing {
namespace {

using Clock = std::chrono::steady_clock;

std::string Trimmed(std::string text) {
  text.erase(0, text.find_first_not_of(" \n"));
  text.erase(text.find_last_not_of(" \n") + 1);
  return text;
}

}  // namespace

std::unique_ptr<AccessibilityBus> AccessibilityBus::Start(const std::string& dir,
                                                          const Spawn& spawn, const Run& run) {
  std::unique_ptr<AccessibilityBus> bus(new AccessibilityBus);
  // The session bus prints its address once it listens.
  bus->session_bus_ = spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile",
                             "--address=unix:path=" + dir + "/bus", "--print-address=1"});
  if (!bus->session_bus_) return nullptr;
  const std::optional<std::string> address = bus->session_bus_->ReadLine(std::chrono::seconds(5));
  if (!address || address->empty()) return nullptr;
  bus->session_address_ = *address;
  const std::string on_session = "DBUS_SESSION_BUS_ADDRESS='" + bus->session_address_ + "' ";
  bus->bus_launcher_ =
      spawn({"/usr/bin/env", "DBUS_SESSION_BUS_ADDRESS=" + bus->session_address_,
             "XDG_RUNTIME_DIR=" + dir, "XDG_CONFIG_HOME=" + dir, "XDG_CACHE_HOME=" + dir,
             "XDG_DATA_HOME=" + dir, "/usr/libexec/at-spi-bus-launcher", "--launch-immediately"});
  if (!bus->bus_launcher_) return nullptr;
  const auto deadline = Clock::now() + std::chrono::seconds(10);
  while (bus->atspi_address_.empty() && Clock::now() < deadline) {
    const std::string out = Trimmed(run(on_session + "dbus-send --session --print-reply=literal "
                                                     "--dest=org.a11y.Bus /org/a11y/bus "
                                                     "org.a11y.Bus.GetAddress 2>/dev/null"));
    if (out.starts_with("unix:"))
      bus->atspi_address_ = out;
    else
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  if (bus->atspi_address_.empty()) return nullptr;
  // Without --print-reply dbus-send does not wait, and the property is
  // silently left unset.
  run(on_session +
      "dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus "
      "org.freedesktop.DBus.Properties.Set string:org.a11y.Status string:IsEnabled "
      "variant:boolean:true >/dev/null 2>&1");
  // Asking the registry starts it; then the bus and the registry are known
  // by pid, to be stopped with the session.
  const std::string atspi = "--bus='" + bus->atspi_address_ + "' ";
  run("dbus-send " + atspi +
      "--print-reply --dest=org.a11y.atspi.Registry /org/a11y/atspi/accessible/root "
      "org.a11y.atspi.Accessible.GetChildren >/dev/null 2>&1");
  for (const char* name : {"org.a11y.atspi.Registry", "org.freedesktop.DBus"}) {
    const std::string out = run("dbus-send " + atspi +
                                "--print-reply=literal --dest=org.freedesktop.DBus / "
                                "org.freedesktop.DBus.GetConnectionUnixProcessID string:" +
                                name + " 2>/dev/null");
    const size_t digits = out.find_first_of("0123456789");
    if (digits == std::string::npos) return nullptr;
    bus->adopted_.push_back(static_cast<pid_t>(std::atoi(out.c_str() + digits)));
  }
  return bus;
}

AccessibilityBus::~AccessibilityBus() {
  bus_launcher_.reset();
  for (pid_t pid : adopted_) {
    if (pid > 1) kill(pid, SIGTERM);
  }
  const auto deadline = Clock::now() + std::chrono::seconds(3);
  for (pid_t pid : adopted_) {
    while (pid > 1 && kill(pid, 0) == 0 && Clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (pid > 1 && kill(pid, 0) == 0) kill(pid, SIGKILL);
  }
  session_bus_.reset();
}

}  // namespace tarvix::testing
