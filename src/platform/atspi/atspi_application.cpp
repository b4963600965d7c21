// The accessible application on Linux: AT-SPI over sd-bus.
//
// AT-SPI costs a D-Bus round trip per read, so nothing here waits for one
// reply before sending the next read that does not depend on it: a level's
// children, and every attribute of every recorded element, are in flight
// together. Where the application offers org.a11y.atspi.Cache, one
// GetItems call gives the role, name, states and interfaces of every
// element and the tree's shape; the shape is only a hint (a cache can
// miss elements), so a parent's cached children are used only when their
// number and indices agree with the parent's live ChildCount, and read
// from the parent otherwise.
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <unordered_map>

#include "base/utf8.h"
#include "platform/accessibility.h"
#include "platform/atspi/atspi_bus.h"
#include "platform/atspi/atspi_roles.h"
#include "platform/x11/x_connection.h"

namespace tarvix {
namespace {

using std::chrono::seconds;

// A read waits at most this long; the whole call at most kBudget.
constexpr auto kPerCall = seconds(1);
constexpr auto kBudget = seconds(3);

constexpr char kAccessible[] = "org.a11y.atspi.Accessible";
constexpr char kProperties[] = "org.freedesktop.DBus.Properties";
constexpr char kRootPath[] = "/org/a11y/atspi/accessible/root";
constexpr char kDBus[] = "org.freedesktop.DBus";

// AtspiStateType bits.
constexpr uint32_t kStateActive = 1;
constexpr uint32_t kStateEnabled = 8;
constexpr uint32_t kStateMultiLine = 17;
constexpr uint32_t kStateShowing = 25;

// The interfaces whose reads the reply needs.
constexpr uint8_t kComponent = 1;
constexpr uint8_t kAction = 2;
constexpr uint8_t kText = 4;

// Bounds on what an application can make the daemon hold.
constexpr size_t kMaxTextBytes = 65536;
constexpr size_t kMaxApplications = 4096;
constexpr size_t kMaxCacheItems = 100000;
constexpr size_t kMaxActions = 64;
constexpr size_t kMaxTopLevels = 256;
// Up to this many children are read in one GetChildren; a parent with
// more is read child by child, only as far as the walk needs.
constexpr int32_t kBulkChildren = 1024;

// GTK's position for a widget that is not on screen.
constexpr int32_t kNoPosition = INT32_MIN;

std::string Bounded(const char* text) {
  if (text == nullptr) return "";
  std::string_view bytes(text, strnlen(text, kMaxTextBytes));
  // Cutting may split a character; the lossy decoding mends the end.
  return LossyUtf8(bytes);
}

struct ObjectRef {
  const char* name = nullptr;
  const char* path = nullptr;
};

bool ReadRef(sd_bus_message* m, ObjectRef* ref) {
  return sd_bus_message_read(m, "(so)", &ref->name, &ref->path) > 0;
}

// An "au" state set as one 64-bit mask; longer sets keep their first two
// words.
bool ReadStates(sd_bus_message* m, uint64_t* states) {
  if (sd_bus_message_enter_container(m, 'a', "u") <= 0) return false;
  *states = 0;
  uint32_t word = 0;
  for (int i = 0; sd_bus_message_read_basic(m, 'u', &word) > 0; ++i) {
    if (i < 2) *states |= uint64_t{word} << (32 * i);
  }
  return sd_bus_message_exit_container(m) >= 0;
}

bool ReadVariant(sd_bus_message* m, char type, void* value) {
  const char contents[2] = {type, '\0'};
  return sd_bus_message_enter_container(m, 'v', contents) > 0 &&
         sd_bus_message_read_basic(m, type, value) > 0;
}

uint8_t InterfaceBit(std::string_view name) {
  if (name == "org.a11y.atspi.Component") return kComponent;
  if (name == "org.a11y.atspi.Action") return kAction;
  if (name == "org.a11y.atspi.Text") return kText;
  return 0;
}

// Arguments of numbers and static strings (captured by value as given).
BusCalls::Append Args(const char* types, auto... values) {
  return [=](sd_bus_message* m) { return sd_bus_message_append(m, types, values...); };
}

// What the application's cache says about one element.
struct CachedItem {
  ElementId parent = 0;
  int32_t index = -1;
  int32_t child_count = -1;
  uint8_t interfaces = 0;
  uint32_t role = 0;
  uint64_t states = 0;
  std::string name;
};

struct Element {
  std::string bus_name;
  std::string path;
  std::optional<CachedItem> cached;
};

class AtspiApplication final : public AccessibleApplication {
 public:
  AtspiApplication(AtspiBusLease bus, BusClock::time_point deadline, XRect display,
                   std::string_view window_title)
      : bus_(std::move(bus)), deadline_(deadline), display_(display), x_title_(window_title) {}

  // Finds the application whose bus connection belongs to `pid` and reads
  // its cache; false when there is none.
  bool Find(int32_t pid);

  std::optional<FocusedWindow> Focused() override;
  std::vector<std::vector<ElementId>> Children(std::span<const ChildrenRequest> requests) override;
  std::vector<ElementAttributes> Attributes(std::span<const ElementId> elements) override;

 private:
  ElementId Intern(std::string_view bus_name, std::string_view path);
  void Call(BusCalls& calls, ElementId id, const char* interface, const char* member,
            BusCalls::Append append, BusCalls::OnReply on_reply) {
    const Element& e = elements_[id];
    calls.Add(e.bus_name, e.path, interface, member, std::move(append), std::move(on_reply));
  }
  void GetProperty(BusCalls& calls, ElementId id, const char* property, BusCalls::OnReply on_reply) {
    Call(calls, id, kProperties, "Get", Args("ss", kAccessible, property), std::move(on_reply));
  }
  // Runs `calls`; an application that let a call go unanswered is not
  // asked again in this "ui_tree" call, so it costs one timeout, not one
  // per read.
  void Run(BusCalls& calls) {
    calls.Run();
    if (calls.stalled()) responsive_ = false;
    if (calls.broken()) {
      responsive_ = false;
      bus_.Discard();
    }
  }
  bool Usable() const { return responsive_ && bus_ && BusClock::now() < deadline_; }
  void ReadCache(BusCalls& calls);
  void SettleCache(std::unordered_map<ElementId, std::vector<std::pair<int32_t, ElementId>>> listed);
  // The cached children of `parent` when they agree with its live count.
  const std::vector<ElementId>* CachedChildren(ElementId parent, int32_t live_count) const;
  // Bounds, actions and text of `id`, as far as it has the interfaces.
  void ReadInterfaceAttributes(BusCalls& calls, ElementId id, uint8_t interfaces,
                               ElementAttributes* out);
  void ReadChildren(BusCalls& calls, ElementId parent, int32_t count, size_t limit,
                    std::vector<std::optional<ElementId>>* out);

  AtspiBusLease bus_;
  BusClock::time_point deadline_;
  XRect display_;
  std::string x_title_;
  bool responsive_ = true;
  ElementId root_ = 0;
  std::vector<Element> elements_;
  std::unordered_map<std::string, ElementId> ids_;
  // Parent -> its cached children in index order, for parents whose cached
  // children have the indices 0 to n-1 exactly once each.
  std::unordered_map<ElementId, std::vector<ElementId>> cached_children_;
};

ElementId AtspiApplication::Intern(std::string_view bus_name, std::string_view path) {
  std::string key;
  key.reserve(bus_name.size() + path.size() + 1);
  key.append(bus_name).append(1, '\n').append(path);
  const auto [it, inserted] = ids_.try_emplace(std::move(key), static_cast<ElementId>(elements_.size()));
  if (inserted) elements_.push_back({std::string(bus_name), std::string(path), std::nullopt});
  return it->second;
}

bool AtspiApplication::Find(int32_t pid) {
  struct Match {
    size_t order;
    std::string name;
    std::string path;
  };
  std::optional<Match> match;
  BusCalls calls(bus_.get(), deadline_, kPerCall);
  calls.Add("org.a11y.atspi.Registry", kRootPath, kAccessible, "GetChildren", nullptr,
            [&](sd_bus_message* m) {
              if (!m || sd_bus_message_enter_container(m, 'a', "(so)") <= 0) return;
              ObjectRef app;
              for (size_t order = 0; order < kMaxApplications && ReadRef(m, &app); ++order) {
                // The reply's strings die with it; the call is sent later.
                std::string name = app.name;
                calls.Add(kDBus, "/org/freedesktop/DBus", kDBus, "GetConnectionUnixProcessID",
                          [name](sd_bus_message* call) {
                            return sd_bus_message_append(call, "s", name.c_str());
                          },
                          [&, order, name = std::string(app.name), path = std::string(app.path)](
                              sd_bus_message* r) {
                            uint32_t owner = 0;
                            if (!r || sd_bus_message_read(r, "u", &owner) <= 0) return;
                            if (owner != static_cast<uint32_t>(pid)) return;
                            if (match && match->order < order) return;
                            match = Match{order, name, path};
                          });
              }
            });
  Run(calls);
  if (!match || !bus_) return false;
  // Registry and bus answered; only the application is asked from here.
  responsive_ = true;
  root_ = Intern(match->name, match->path);
  BusCalls cache(bus_.get(), deadline_, kPerCall);
  ReadCache(cache);
  Run(cache);
  return true;
}

void AtspiApplication::ReadCache(BusCalls& calls) {
  calls.Add(elements_[root_].bus_name, "/org/a11y/atspi/cache", "org.a11y.atspi.Cache",
            "GetItems", nullptr, [this](sd_bus_message* m) {
              if (!m || sd_bus_message_enter_container(m, 'a', "((so)(so)(so)iiassusau)") <= 0) {
                return;
              }
              std::unordered_map<ElementId, std::vector<std::pair<int32_t, ElementId>>> listed;
              // A malformed item ends the list; what came before it stands.
              for (size_t n = 0; n < kMaxCacheItems; ++n) {
                if (sd_bus_message_enter_container(m, 'r', "(so)(so)(so)iiassusau") <= 0) break;
                ObjectRef self, app, parent;
                CachedItem item;
                const char* name = nullptr;
                const char* description = nullptr;
                if (!ReadRef(m, &self) || !ReadRef(m, &app) || !ReadRef(m, &parent) ||
                    sd_bus_message_read(m, "ii", &item.index, &item.child_count) <= 0 ||
                    sd_bus_message_enter_container(m, 'a', "s") <= 0) {
                  break;
                }
                const char* interface = nullptr;
                while (sd_bus_message_read_basic(m, 's', &interface) > 0) {
                  item.interfaces |= InterfaceBit(interface);
                }
                if (sd_bus_message_exit_container(m) < 0 ||
                    sd_bus_message_read(m, "sus", &name, &item.role, &description) <= 0 ||
                    !ReadStates(m, &item.states) || sd_bus_message_exit_container(m) < 0) {
                  break;
                }
                item.name = Bounded(name);
                const ElementId id = Intern(self.name, self.path);
                item.parent = Intern(parent.name, parent.path);
                if (elements_[id].cached) continue;  // listed twice: the first counts
                listed[item.parent].emplace_back(item.index, id);
                elements_[id].cached = std::move(item);
              }
              SettleCache(std::move(listed));
            });
}

void AtspiApplication::SettleCache(
    std::unordered_map<ElementId, std::vector<std::pair<int32_t, ElementId>>> listed) {
  for (auto& [parent, children] : listed) {
    std::sort(children.begin(), children.end());
    bool dense = true;
    for (size_t i = 0; i < children.size() && dense; ++i) {
      dense = children[i].first == static_cast<int32_t>(i);
    }
    if (!dense) continue;
    std::vector<ElementId>& ids = cached_children_[parent];
    for (const auto& child : children) ids.push_back(child.second);
  }
}

const std::vector<ElementId>* AtspiApplication::CachedChildren(ElementId parent,
                                                               int32_t live_count) const {
  static const std::vector<ElementId> kNone;
  const std::optional<CachedItem>& item = elements_[parent].cached;
  if (item && item->child_count != live_count) return nullptr;
  const auto it = cached_children_.find(parent);
  if (it == cached_children_.end()) {
    // A cached element listed as nobody's parent agrees with 0 children only.
    return item && live_count == 0 ? &kNone : nullptr;
  }
  if (it->second.size() != static_cast<size_t>(live_count)) return nullptr;
  return &it->second;
}

void AtspiApplication::ReadChildren(BusCalls& calls, ElementId parent, int32_t count,
                                    size_t limit, std::vector<std::optional<ElementId>>* out) {
  const size_t wanted = std::min(limit, static_cast<size_t>(count));
  out->assign(wanted, std::nullopt);
  if (wanted == 0) return;
  if (count <= kBulkChildren) {
    Call(calls, parent, kAccessible, "GetChildren", nullptr, [this, out](sd_bus_message* m) {
      if (!m || sd_bus_message_enter_container(m, 'a', "(so)") <= 0) return;
      ObjectRef child;
      for (size_t i = 0; i < out->size() && ReadRef(m, &child); ++i) {
        (*out)[i] = Intern(child.name, child.path);
      }
    });
    return;
  }
  for (size_t i = 0; i < wanted; ++i) {
    Call(calls, parent, kAccessible, "GetChildAtIndex", Args("i", static_cast<int32_t>(i)),
         [this, out, i](sd_bus_message* m) {
           ObjectRef child;
           if (m && ReadRef(m, &child)) (*out)[i] = Intern(child.name, child.path);
         });
  }
}

std::vector<std::vector<ElementId>> AtspiApplication::Children(
    std::span<const ChildrenRequest> requests) {
  std::vector<std::vector<ElementId>> children(requests.size());
  if (!Usable()) return children;
  // Filled by the handlers; an unread child slot stays empty.
  std::vector<std::vector<std::optional<ElementId>>> read(requests.size());
  BusCalls calls(bus_.get(), deadline_, kPerCall);
  for (size_t k = 0; k < requests.size(); ++k) {
    const ChildrenRequest request = requests[k];
    if (request.limit == 0) continue;
    GetProperty(calls, request.parent, "ChildCount", [&, k, request](sd_bus_message* m) {
      int32_t count = 0;
      if (!m || !ReadVariant(m, 'i', &count) || count <= 0) return;
      if (const std::vector<ElementId>* cached = CachedChildren(request.parent, count)) {
        const size_t n = std::min(request.limit, cached->size());
        read[k].assign(cached->begin(), cached->begin() + static_cast<ptrdiff_t>(n));
        return;
      }
      ReadChildren(calls, request.parent, count, request.limit, &read[k]);
    });
  }
  Run(calls);
  for (size_t k = 0; k < requests.size(); ++k) {
    for (const std::optional<ElementId>& child : read[k]) {
      if (child) children[k].push_back(*child);
    }
  }
  return children;
}

struct ElementReads {
  std::optional<std::string> role_name;
  std::optional<uint64_t> states;
};

std::optional<FocusedWindow> AtspiApplication::Focused() {
  const ChildrenRequest request{root_, kMaxTopLevels};
  const std::vector<ElementId> windows = Children({&request, 1})[0];
  std::vector<ElementReads> reads(windows.size());
  std::vector<std::string> names(windows.size());
  BusCalls calls(bus_.get(), deadline_, kPerCall);
  for (size_t i = 0; i < windows.size(); ++i) {
    if (const std::optional<CachedItem>& item = elements_[windows[i]].cached) {
      if (const std::optional<std::string_view> role = AtspiRoleName(item->role)) {
        reads[i].role_name = std::string(*role);
      }
      reads[i].states = item->states;
      names[i] = item->name;
      if (reads[i].role_name) continue;
    }
    if (!Usable()) continue;
    Call(calls, windows[i], kAccessible, "GetRoleName", nullptr, [&, i](sd_bus_message* m) {
      const char* role = nullptr;
      if (m && sd_bus_message_read(m, "s", &role) > 0) reads[i].role_name = Bounded(role);
    });
    if (elements_[windows[i]].cached) continue;
    Call(calls, windows[i], kAccessible, "GetState", nullptr, [&, i](sd_bus_message* m) {
      uint64_t states = 0;
      if (m && ReadStates(m, &states)) reads[i].states = states;
    });
    GetProperty(calls, windows[i], "Name", [&, i](sd_bus_message* m) {
      const char* name = nullptr;
      if (m && ReadVariant(m, 's', &name)) names[i] = Bounded(name);
    });
  }
  Run(calls);
  auto is_window = [&](size_t i) {
    const std::string& role = reads[i].role_name.value_or("");
    return role == "window" || role == "frame" || role == "dialog";
  };
  auto has = [&](size_t i, uint32_t state) { return (reads[i].states.value_or(0) >> state & 1) != 0; };
  std::optional<size_t> chosen;
  for (size_t i = 0; i < windows.size() && !chosen; ++i) {
    if (is_window(i) && has(i, kStateActive)) chosen = i;
  }
  for (size_t i = 0; i < windows.size() && !chosen; ++i) {
    if (is_window(i) && has(i, kStateShowing)) chosen = i;
  }
  if (!chosen) return std::nullopt;
  // A window with a client-side title bar has no accessible name; its X
  // window still has a title.
  return FocusedWindow{windows[*chosen], names[*chosen].empty() ? x_title_ : names[*chosen]};
}

void AtspiApplication::ReadInterfaceAttributes(BusCalls& calls, ElementId id, uint8_t interfaces,
                                               ElementAttributes* out) {
  if (interfaces & kComponent) {
    Call(calls, id, "org.a11y.atspi.Component", "GetExtents", Args("u", uint32_t{0}),
         [this, out](sd_bus_message* m) {
           int32_t x = 0, y = 0, width = 0, height = 0;
           if (!m || sd_bus_message_read(m, "(iiii)", &x, &y, &width, &height) <= 0) return;
           if (x == kNoPosition || y == kNoPosition) return;
           out->bounds = ElementBounds{
               static_cast<double>(int64_t{x} - display_.x),
               static_cast<double>(int64_t{y} - display_.y), static_cast<double>(width),
               static_cast<double>(height)};
         });
  }
  if (interfaces & kAction) {
    Call(calls, id, "org.a11y.atspi.Action", "GetActions", nullptr, [out](sd_bus_message* m) {
      if (!m || sd_bus_message_enter_container(m, 'a', "(sss)") <= 0) return;
      std::vector<std::string> names;
      const char *name = nullptr, *description = nullptr, *binding = nullptr;
      while (names.size() < kMaxActions &&
             sd_bus_message_read(m, "(sss)", &name, &description, &binding) > 0) {
        names.push_back(Bounded(name));
      }
      out->actions = std::move(names);
    });
  }
  if (interfaces & kText) {
    Call(calls, id, "org.a11y.atspi.Text", "GetText", Args("ii", int32_t{0}, int32_t{-1}),
         [out](sd_bus_message* m) {
           const char* text = nullptr;
           if (m && sd_bus_message_read(m, "s", &text) > 0) out->value = Bounded(text);
         });
  }
}

std::vector<ElementAttributes> AtspiApplication::Attributes(std::span<const ElementId> elements) {
  std::vector<ElementAttributes> attributes(elements.size());
  std::vector<ElementReads> reads(elements.size());
  BusCalls calls(bus_.get(), deadline_, kPerCall);
  const bool usable = Usable();
  for (size_t i = 0; i < elements.size(); ++i) {
    const ElementId id = elements[i];
    ElementAttributes& out = attributes[i];
    uint8_t interfaces = 0;
    if (const std::optional<CachedItem>& item = elements_[id].cached) {
      if (const std::optional<std::string_view> role = AtspiRoleName(item->role)) {
        reads[i].role_name = std::string(*role);
      }
      reads[i].states = item->states;
      out.name = item->name;
      interfaces = item->interfaces;
    }
    if (!usable) continue;
    if (!elements_[id].cached) {
      Call(calls, id, kAccessible, "GetState", nullptr, [&, i](sd_bus_message* m) {
        uint64_t states = 0;
        if (m && ReadStates(m, &states)) reads[i].states = states;
      });
      GetProperty(calls, id, "Name", [&, i](sd_bus_message* m) {
        const char* name = nullptr;
        if (m && ReadVariant(m, 's', &name)) attributes[i].name = Bounded(name);
      });
    }
    if (!reads[i].role_name) {
      Call(calls, id, kAccessible, "GetRoleName", nullptr, [&, i](sd_bus_message* m) {
        const char* role = nullptr;
        if (m && sd_bus_message_read(m, "s", &role) > 0) reads[i].role_name = Bounded(role);
      });
    }
    if (elements_[id].cached) {
      ReadInterfaceAttributes(calls, id, interfaces, &attributes[i]);
      continue;
    }
    // Asking an element for an interface it lacks makes GTK log a critical
    // warning; learning its interfaces first costs no extra round trip for
    // the other elements.
    Call(calls, id, kAccessible, "GetInterfaces", nullptr, [&, i, id](sd_bus_message* m) {
      uint8_t found = 0;
      const char* name = nullptr;
      if (!m || sd_bus_message_enter_container(m, 'a', "s") <= 0) return;
      while (sd_bus_message_read_basic(m, 's', &name) > 0) found |= InterfaceBit(name);
      ReadInterfaceAttributes(calls, id, found, &attributes[i]);
    });
  }
  if (usable) Run(calls);
  for (size_t i = 0; i < elements.size(); ++i) {
    const std::optional<uint64_t> states = reads[i].states;
    const bool multi_line = states && (*states >> kStateMultiLine & 1) != 0;
    attributes[i].role = MapAtspiRole(reads[i].role_name.value_or(""), multi_line);
    if (states) attributes[i].enabled = (*states >> kStateEnabled & 1) != 0;
  }
  return attributes;
}

// The AT_SPI_BUS property the bus launcher puts on the root window.
std::optional<std::string> RootWindowBusAddress(const XConnection& x) {
  xcb_connection_t* c = x.get();
  constexpr std::string_view kName = "AT_SPI_BUS";
  XcbReply<xcb_intern_atom_reply_t> atom(xcb_intern_atom_reply(
      c, xcb_intern_atom(c, 1, static_cast<uint16_t>(kName.size()), kName.data()), nullptr));
  if (!atom || atom->atom == XCB_ATOM_NONE) return std::nullopt;
  XcbReply<xcb_get_property_reply_t> value(xcb_get_property_reply(
      c, xcb_get_property(c, 0, x.root(), atom->atom, XCB_ATOM_ANY, 0, 1024), nullptr));
  if (!value || value->format != 8 || xcb_get_property_value_length(value.get()) <= 0) {
    return std::nullopt;
  }
  std::string address(static_cast<const char*>(xcb_get_property_value(value.get())),
                      static_cast<size_t>(xcb_get_property_value_length(value.get())));
  address.resize(strnlen(address.c_str(), address.size()));
  if (address.empty()) return std::nullopt;
  return address;
}

constexpr std::string_view kPressActions[] = {"click", "press", "jump", "toggle"};

}  // namespace

const AccessibilityPlatform& ThisAccessibilityPlatform() {
  static const AccessibilityPlatform platform{
      .source = "atspi-linux",
      .note = "Linux AT-SPI element tree of the focused window (depth/element capped).",
      .fallback_note = "Linux AT-SPI element tree empty/unavailable (enable the desktop's "
                       "accessibility bus, or no focused window) \xE2\x80\x94 returning window "
                       "list instead.",
      .press_actions = kPressActions,
      .press_actions_ignore_ascii_case = true,
  };
  return platform;
}

std::unique_ptr<AccessibleApplication> OpenAccessibleApplication(int32_t pid,
                                                                 std::string_view window_title) {
  const BusClock::time_point deadline = BusClock::now() + kBudget;
  Result<std::unique_ptr<XConnection>> x = XConnection::Open();
  const XConnection* display = x ? x->get() : nullptr;
  AtspiBusLease bus = LeaseAtspiBus(deadline, [display]() -> std::optional<std::string> {
    if (display == nullptr) return std::nullopt;
    return RootWindowBusAddress(*display);
  });
  if (!bus) return nullptr;
  auto application = std::make_unique<AtspiApplication>(
      std::move(bus), deadline, display ? display->MainDisplay() : XRect{}, window_title);
  if (!application->Find(pid)) return nullptr;
  return application;
}

}  // namespace tarvix


