// Acting on one element over AT-SPI: the element is reached again by the
// bus name and object path its snapshot recorded. Every call has the
// per-read wait and the control's whole budget as deadlines, so an
// application that stopped answering fails the call, never hangs it.
#include <algorithm>
#include <string>

#include "platform/accessibility.h"
#include "platform/atspi/atspi_bus.h"
#include "platform/atspi/atspi_roles.h"
#include "platform/atspi/atspi_states.h"
#include "platform/atspi/atspi_values.h"

namespace tarvix {
namespace {

using std::chrono::seconds;

constexpr auto kPerCall = seconds(1);
// One control call (a read, an action) at most this long.
constexpr auto kCallBudget = seconds(2);

constexpr char kAccessible[] = "org.a11y.atspi.Accessible";
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";
constexpr size_t kMaxTextBytes = 65536;
constexpr size_t kMaxNameBytes = 64;
constexpr size_t kMaxActions = 64;

// What an application or the bus answers for an object that is gone.
bool MeansGone(const std::string& error) {
  static constexpr std::string_view kGone[] = {
      "org.freedesktop.DBus.Error.UnknownObject", "org.freedesktop.DBus.Error.UnknownMethod",
      "org.freedesktop.DBus.Error.UnknownInterface", "org.freedesktop.DBus.Error.ServiceUnknown",
      "org.freedesktop.DBus.Error.NameHasNoOwner"};
  return std::find(std::begin(kGone), std::end(kGone), error) != std::end(kGone);
}

class AtspiElementControl final : public ElementControl {
 public:
  explicit AtspiElementControl(const ElementHandle& handle) : pid_(handle.pid) {
    const size_t split = handle.locator.find('\n');
    if (split != std::string::npos) {
      bus_name_ = handle.locator.substr(0, split);
      path_ = handle.locator.substr(split + 1);
    }
  }

  Result<ElementReading> Read() override;
  Result<void> DoAction(size_t index) override {
    return CallForTrue(path_, "org.a11y.atspi.Action", "DoAction",
                       Args("i", static_cast<int32_t>(index)));
  }
  Result<void> Focus() override {
    return CallForTrue(path_, "org.a11y.atspi.Component", "GrabFocus", nullptr);
  }
  Result<void> ScrollTo() override {
    // ATSPI_SCROLL_ANYWHERE: the least movement that shows it.
    Result<void> scrolled =
        CallForTrue(path_, "org.a11y.atspi.Component", "ScrollTo", Args("u", uint32_t{6}));
    if (scrolled || scrolled.error() != Unavailable("the application refused ScrollTo")) {
      return scrolled;
    }
    // GTK 3 scrolls nothing this way, but a scrolled pane shows the element
    // that takes the keyboard focus, as for a user tabbing to it.
    if (Focus()) return {};
    return scrolled;
  }
  Result<void> Select() override;
  Result<void> SetText(std::string_view text) override {
    std::string copy(text);
    return CallForTrue(path_, "org.a11y.atspi.EditableText", "SetTextContents",
                       [copy](sd_bus_message* m) { return sd_bus_message_append(m, "s", copy.c_str()); });
  }
  Result<void> SetNumber(double number) override;

 private:
  // The bus, leased on first use; false with `error` set when there is none.
  bool Connect(std::string* error);
  // Runs `calls` and turns what went wrong into the call's error.
  Result<void> Finish(BusCalls& calls, const std::string& error);
  Result<void> CallForTrue(const std::string& path, const char* interface, const char* member,
                           BusCalls::Append append);
  std::string Unavailable(std::string_view what) const {
    return "unavailable: " + std::string(what) + " (pid " + std::to_string(pid_) + ")";
  }

  int32_t pid_;
  std::string bus_name_;
  std::string path_;
  AtspiBusLease bus_;
};

bool AtspiElementControl::Connect(std::string* error) {
  if (bus_name_.empty()) {
    *error = kElementGone;
    return false;
  }
  if (!bus_) bus_ = LeaseDesktopAtspiBus(BusClock::now() + kCallBudget);
  if (!bus_) *error = "unavailable: no accessibility bus";
  return static_cast<bool>(bus_);
}

Result<void> AtspiElementControl::Finish(BusCalls& calls, const std::string& error) {
  calls.Run();
  if (calls.broken()) bus_.Discard();
  if (calls.stalled()) {
    bus_.DoNotReuse();
    return Error(Unavailable("the application did not answer within 1 s"));
  }
  if (MeansGone(error)) return Error(kElementGone);
  if (!error.empty()) return Error(Unavailable("the application answered " + error));
  return {};
}

Result<void> AtspiElementControl::CallForTrue(const std::string& path, const char* interface,
                                              const char* member, BusCalls::Append append) {
  std::string error;
  if (!Connect(&error)) return Error(error);
  BusCalls calls(bus_.get(), BusClock::now() + kCallBudget, kPerCall);
  bool answered = false, done = false;
  calls.Add(bus_name_, path, interface, member, std::move(append),
            [&](sd_bus_message* m) {
              int value = 0;
              answered = m != nullptr;
              done = m && sd_bus_message_read_basic(m, 'b', &value) > 0 && value;
            },
            &error);
  if (Result<void> finished = Finish(calls, error); !finished) return finished;
  if (!answered) return Error(Unavailable("the call failed"));
  if (!done) return Error(Unavailable(std::string("the application refused ") + member));
  return {};
}

Result<void> AtspiElementControl::SetNumber(double number) {
  std::string error;
  if (!Connect(&error)) return Error(error);
  BusCalls calls(bus_.get(), BusClock::now() + kCallBudget, kPerCall);
  calls.Add(bus_name_, path_, kProperties, "Set",
            [number](sd_bus_message* m) {
              return sd_bus_message_append(m, "ssv", "org.a11y.atspi.Value", "CurrentValue", "d",
                                           number);
            },
            nullptr, &error);
  return Finish(calls, error);
}

Result<void> AtspiElementControl::Select() {
  std::string error;
  if (!Connect(&error)) return Error(error);
  std::string parent_name, parent_path;
  int32_t index = -1;
  {
    BusCalls calls(bus_.get(), BusClock::now() + kCallBudget, kPerCall);
    calls.Add(bus_name_, path_, kProperties, "Get", Args("ss", kAccessible, "Parent"),
              [&](sd_bus_message* m) {
                ObjectRef parent;
                if (m && sd_bus_message_enter_container(m, 'v', "(so)") > 0 &&
                    ReadRef(m, &parent)) {
                  parent_name = parent.name;
                  parent_path = parent.path;
                }
              },
              &error);
    calls.Add(bus_name_, path_, kAccessible, "GetIndexInParent", nullptr,
              [&](sd_bus_message* m) {
                if (m) sd_bus_message_read_basic(m, 'i', &index);
              });
    if (Result<void> finished = Finish(calls, error); !finished) return finished;
  }
  if (parent_name != bus_name_ || index < 0) {
    return Error(Unavailable("the element's container could not be read"));
  }
  return CallForTrue(parent_path, "org.a11y.atspi.Selection", "SelectChild", Args("i", index));
}

Result<ElementReading> AtspiElementControl::Read() {
  std::string error;
  if (!Connect(&error)) return Error(error);
  ElementReading reading;
  std::optional<uint64_t> states;
  std::string role_name;
  bool has_text = false;
  BusCalls calls(bus_.get(), BusClock::now() + kCallBudget, kPerCall);
  auto add = [&](const std::string& path, const char* interface, const char* member,
                 BusCalls::Append append, BusCalls::OnReply on_reply) {
    calls.Add(bus_name_, path, interface, member, std::move(append), std::move(on_reply));
  };
  calls.Add(bus_name_, path_, kAccessible, "GetState", nullptr,
            [&](sd_bus_message* m) {
              uint64_t read = 0;
              if (m && ReadStates(m, &read)) states = read;
            },
            &error);
  add(path_, kAccessible, "GetRoleName", nullptr, [&](sd_bus_message* m) {
    const char* role = nullptr;
    if (m && sd_bus_message_read(m, "s", &role) > 0) role_name = BoundedText(role, kMaxNameBytes);
  });
  add(path_, kAccessible, "GetInterfaces", nullptr, [&](sd_bus_message* m) {
    const char* name = nullptr;
    if (!m || sd_bus_message_enter_container(m, 'a', "s") <= 0) return;
    bool action = false, value = false;
    while (sd_bus_message_read_basic(m, 's', &name) > 0) {
      const std::string_view interface(name);
      if (interface == "org.a11y.atspi.Action") action = true;
      if (interface == "org.a11y.atspi.Text") has_text = true;
      if (interface == "org.a11y.atspi.Value") value = true;
      if (interface == "org.a11y.atspi.Component") reading.can_focus = reading.can_scroll_to = true;
      if (interface == "org.a11y.atspi.EditableText") reading.can_set_text = true;
    }
    reading.can_set_number = value;
    if (action) {
      add(path_, "org.a11y.atspi.Action", "GetActions", nullptr, [&](sd_bus_message* r) {
        if (!r || sd_bus_message_enter_container(r, 'a', "(sss)") <= 0) return;
        const char *action_name = nullptr, *description = nullptr, *binding = nullptr;
        while (reading.actions.size() < kMaxActions &&
               sd_bus_message_read(r, "(sss)", &action_name, &description, &binding) > 0) {
          reading.actions.push_back(BoundedText(action_name, kMaxNameBytes));
        }
      });
    }
    if (has_text) {
      add(path_, "org.a11y.atspi.Text", "GetText", Args("ii", int32_t{0}, int32_t{-1}),
          [&](sd_bus_message* r) {
            const char* text = nullptr;
            if (r && sd_bus_message_read(r, "s", &text) > 0) {
              reading.value = BoundedText(text, kMaxTextBytes);
            }
          });
    } else if (value) {
      add(path_, kProperties, "Get", Args("ss", "org.a11y.atspi.Value", "CurrentValue"),
          [&](sd_bus_message* r) {
            double number = 0;
            if (r && ReadVariant(r, 'd', &number)) reading.value = NumberText(number);
          });
    }
  });
  add(path_, kProperties, "Get", Args("ss", kAccessible, "Parent"), [&](sd_bus_message* m) {
    ObjectRef parent;
    if (!m || sd_bus_message_enter_container(m, 'v', "(so)") <= 0 || !ReadRef(m, &parent)) return;
    if (parent.name != bus_name_) return;
    add(parent.path, kAccessible, "GetInterfaces", nullptr, [&](sd_bus_message* r) {
      const char* name = nullptr;
      if (!r || sd_bus_message_enter_container(r, 'a', "s") <= 0) return;
      while (sd_bus_message_read_basic(r, 's', &name) > 0) {
        if (std::string_view(name) == "org.a11y.atspi.Selection") reading.can_select = true;
      }
    });
  });
  if (Result<void> finished = Finish(calls, error); !finished) return Error(finished.error());
  if (!states) return Error(Unavailable("the element's states could not be read"));
  if (HasState(*states, kStateDefunct)) return Error(kElementGone);
  reading.states = AtspiStateNames(*states);
  reading.role = MapAtspiRole(role_name, HasState(*states, kStateMultiLine));
  if (role_name == "password text") {
    reading.secure = true;
    reading.role = "AXSecureTextField";
    reading.value = std::nullopt;
  }
  return reading;
}

}  // namespace

std::unique_ptr<ElementControl> OpenElementControl(const ElementHandle& handle) {
  return std::make_unique<AtspiElementControl>(handle);
}

}  // namespace tarvix
