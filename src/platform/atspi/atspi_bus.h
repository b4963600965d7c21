// The accessibility (AT-SPI) bus: finding it and keeping connections to
// it warm between "ui_tree" calls.
//
// The bus is looked for in this order, a source that does not answer
// giving way to the next: AT_SPI_BUS_ADDRESS; the session bus's
// org.a11y.Bus.GetAddress; the AT_SPI_BUS property of the X root window
// (so a daemon started outside the desktop's environment still finds it).
#ifndef TARVIX_PLATFORM_ATSPI_ATSPI_BUS_H_
#define TARVIX_PLATFORM_ATSPI_ATSPI_BUS_H_

#include <systemd/sd-bus.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/atspi/bus_calls.h"

namespace tarvix {

// Nothing is flushed: every call made was answered or given up, and a
// flush has no deadline.
struct SdBusClose {
  void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
using SdBusPtr = std::unique_ptr<sd_bus, SdBusClose>;

// An accessibility-bus connection lent to one caller. Given back to the
// pool on destruction unless it broke, was discarded or retired, or holds
// traffic nobody read (a late reply, a message from a peer): what sits
// unread on an idle connection would pile up in the bus daemon and be
// read by the next caller.
class AtspiBusLease {
 public:
  AtspiBusLease() = default;
  explicit AtspiBusLease(SdBusPtr bus) : bus_(std::move(bus)) {}
  AtspiBusLease(AtspiBusLease&&) = default;
  AtspiBusLease& operator=(AtspiBusLease&&) = default;
  AtspiBusLease(const AtspiBusLease&) = delete;
  AtspiBusLease& operator=(const AtspiBusLease&) = delete;
  ~AtspiBusLease();

  sd_bus* get() const { return bus_.get(); }
  explicit operator bool() const { return bus_ != nullptr; }
  // The connection is not given back (it failed mid-call).
  void Discard() { bus_.reset(); }
  // The connection stays usable but is closed when given back (a call on
  // it went unanswered, so its reply may still come).
  void DoNotReuse() { reusable_ = false; }

 private:
  SdBusPtr bus_;
  bool reusable_ = true;
};

// Reads the X root window's AT_SPI_BUS property; nullopt without one.
using RootBusAddress = std::function<std::optional<std::string>()>;

// A connection to the accessibility bus: a pooled one that is still open
// and received nothing while idle (one that did is closed unread), else a
// new one to the first source that answers by `deadline` (each
// source given at most a second). Empty when no bus was found.
// Thread-safe.
AtspiBusLease LeaseAtspiBus(BusClock::time_point deadline, const RootBusAddress& root_address);

// LeaseAtspiBus with the X root window of DISPLAY as the last source (the
// X server asked only if the others fail).
AtspiBusLease LeaseDesktopAtspiBus(BusClock::time_point deadline);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_ATSPI_ATSPI_BUS_H_
