// The accessible application on Linux: AT-SPI over sd-bus.
//
// AT-SPI costs a D-Bus round trip per read, so nothing here waits for one
// reply before sending the next read that does not depend on it: a level's
// children, and every attribute of every recorded element, are in flight
// together, and a child read on screen has its child count and interfaces
// asked as soon as its states are in, so neither the next level nor the
// attribute reads need a round of their own for them. Where the
// application offers org.a11y.atspi.Cache, one GetItems call gives the
// role, name, states, interfaces, child count and index of every element
// as the application reads them when it answers; the list of elements is
// only a hint (a cache can miss elements added a moment ago), so a
// parent's cached children are used only when their number and indices
// agree with the child count the cache gives for the parent, and read
// from the parent otherwise.
//
// The ATK bridge (GTK 3 and other ATK toolkits) builds its cache only once
// an assistive technology has registered for events. An application
// without one is given one the way a screen reader does it: an event
// listener is registered with the registry and withdrawn at once, which
// the bridge takes as the sign to build its cache. It stays for the
// application's life and is kept current by the bridge.
//
// An application that offers a direct connection (the ATK bridge does) is
// read over it, past the bus daemon; one is made the first time the
// application is read and kept (see atspi_peers.h). Registry calls, and
// the second GetItems that must follow the registry's news, stay on the bus.
//
// Only what is on screen is walked: a child without the SHOWING state
// (an item of a closed menu, a hidden page, a scrolled-out row) is left
// out with its subtree, so its states are read with the children. GTK 4
// sets SHOWING on windows only; inside them VISIBLE stands in for it.
//
// What one call may hold is bounded whatever an application sends: texts
// share one budget, object paths and action names have a length limit,
// and at most kMaxReadsAtOnce calls read a tree at the same time.
#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <semaphore>
#include <unordered_map>
#include <unordered_set>

#include "base/utf8.h"
#include "platform/accessibility.h"
#include "platform/atspi/atspi_bus.h"
#include "platform/atspi/atspi_peers.h"
#include "platform/atspi/atspi_roles.h"
#include "platform/atspi/atspi_states.h"
#include "platform/atspi/atspi_values.h"
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
constexpr char kRegistry[] = "org.a11y.atspi.Registry";
// An event no toolkit sends: registered only for the moment it takes the
// applications to build their caches.
constexpr char kWakeEvent[] = "window:desktop-create";

// The interfaces whose reads the reply needs.
constexpr uint8_t kComponent = 1;
constexpr uint8_t kAction = 2;
constexpr uint8_t kText = 4;
constexpr uint8_t kValue = 8;

// Bounds on what an application can make the daemon hold.
constexpr size_t kMaxTextBytes = 65536;
// All texts of one call together (names, values, cached names).
constexpr size_t kMaxHeldText = 4 << 20;
constexpr size_t kMaxPathBytes = 1024;
constexpr size_t kMaxActionBytes = 64;
constexpr size_t kMaxApplications = 4096;
constexpr size_t kMaxCacheItems = 20000;
constexpr size_t kMaxActions = 64;
constexpr size_t kMaxTopLevels = 256;
// Up to this many children are read in one GetChildren; a parent with
// more is read child by child, a chunk at a time, only until enough of
// them are on screen or kMaxScannedChildren were looked at.
constexpr int32_t kBulkChildren = 1024;
constexpr int32_t kChildChunk = 128;
constexpr int32_t kMaxScannedChildren = 8192;

// Tree reads running at once: each may hold a bus connection and the
// replies of a large application.
constexpr std::ptrdiff_t kMaxReadsAtOnce = 2;
std::counting_semaphore<kMaxReadsAtOnce> read_slots(kMaxReadsAtOnce);

// An application that let a read go unanswered is not asked again for a
// while, so calls queued behind the one that found it silent do not each
// wait out a timeout of their own.
constexpr auto kSilentFor = seconds(2);
std::mutex silent_mutex;
// By bus name; lives as long as the process.
auto& silent_until = *new std::unordered_map<std::string, BusClock::time_point>;

void MarkSilent(const std::string& bus_name) {
  std::lock_guard lock(silent_mutex);
  const BusClock::time_point now = BusClock::now();
  std::erase_if(silent_until, [&](const auto& entry) { return entry.second <= now; });
  silent_until[bus_name] = now + kSilentFor;
}

bool RecentlySilent(const std::string& bus_name) {
  std::lock_guard lock(silent_mutex);
  const auto it = silent_until.find(bus_name);
  return it != silent_until.end() && BusClock::now() < it->second;
}

// Applications already asked to build a cache: one that did not (its
// toolkit has none) is not asked again on every call.
constexpr size_t kMaxAskedForCache = 4096;
std::mutex asked_mutex;
auto& asked_for_cache = *new std::unordered_set<std::string>;  // lives as long as the process

// Whether `bus_name` is asked now: false when it was before.
bool FirstAskForCache(const std::string& bus_name) {
  std::lock_guard lock(asked_mutex);
  if (asked_for_cache.size() >= kMaxAskedForCache) asked_for_cache.clear();
  return asked_for_cache.insert(bus_name).second;
}

// What does not change for the life of an application's unique bus name
// (a bus never gives a unique name twice): the process behind it, asked
// once per name and bus, and its toolkit's quirks, once both toolkit reads
// answered.
struct KnownApplication {
  uint32_t pid = 0;
  std::optional<ToolkitQuirks> quirks;
};
constexpr size_t kMaxKnownApplications = 4096;
std::mutex known_mutex;
// Lives as long as the process.
auto& known_applications = *new std::unordered_map<std::string, KnownApplication>;

std::optional<KnownApplication> Known(const std::string& bus_id, const std::string& name) {
  if (bus_id.empty()) return std::nullopt;
  std::lock_guard lock(known_mutex);
  const auto it = known_applications.find(bus_id + '\n' + name);
  if (it == known_applications.end()) return std::nullopt;
  return it->second;
}

void RememberOwner(const std::string& bus_id, const std::string& name, uint32_t pid) {
  if (bus_id.empty()) return;
  std::lock_guard lock(known_mutex);
  if (known_applications.size() >= kMaxKnownApplications) known_applications.clear();
  known_applications[bus_id + '\n' + name] = {pid, std::nullopt};
}

// Kept only for a name whose owner is known.
void RememberQuirks(const std::string& bus_id, const std::string& name, ToolkitQuirks quirks) {
  std::lock_guard lock(known_mutex);
  const auto it = known_applications.find(bus_id + '\n' + name);
  if (it != known_applications.end()) it->second.quirks = quirks;
}

class ReadSlot {
 public:
  // Waits for a free slot until `deadline`; held() tells whether it came.
  explicit ReadSlot(BusClock::time_point deadline)
      : held_(read_slots.try_acquire_until(deadline)) {}
  ~ReadSlot() {
    if (held_) read_slots.release();
  }
  ReadSlot(const ReadSlot&) = delete;
  ReadSlot& operator=(const ReadSlot&) = delete;
  bool held() const { return held_; }

 private:
  bool held_;
};

// GTK's position for a widget that is not on screen.
constexpr int32_t kNoPosition = INT32_MIN;

std::string Bounded(const char* text, size_t limit = kMaxTextBytes) {
  return BoundedText(text, limit);
}

uint8_t InterfaceBit(std::string_view name) {
  if (name == "org.a11y.atspi.Component") return kComponent;
  if (name == "org.a11y.atspi.Action") return kAction;
  if (name == "org.a11y.atspi.Text") return kText;
  if (name == "org.a11y.atspi.Value") return kValue;
  return 0;
}

// The interfaces a GetInterfaces reply names; nullopt without a reply.
std::optional<uint8_t> ReadInterfaces(sd_bus_message* m) {
  if (!m || sd_bus_message_enter_container(m, 'a', "s") <= 0) return std::nullopt;
  uint8_t found = 0;
  const char* name = nullptr;
  while (sd_bus_message_read_basic(m, 's', &name) > 0) found |= InterfaceBit(name);
  return found;
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
  std::string description;
};

struct Element {
  std::string bus_name;
  std::string path;
  std::optional<CachedItem> cached;
  // Read with the element's parent's children (or from the cache).
  std::optional<uint64_t> states;
  // Read right after the states of an uncached element the walk may
  // expand, so its children follow without a round of their own.
  std::optional<int32_t> child_count;
  // What an uncached element answered to an earlier attribute read, so a
  // later one (the rest of a filter's matches) asks only what is new.
  std::optional<std::string> role_name;
  std::optional<std::string> name;
  std::optional<std::string> description;
  std::optional<uint8_t> interfaces;
};

// One parent's children as read for the walk: ids and states by index.
struct ChildScan {
  ElementId parent = 0;
  size_t limit = 0;
  bool hidden_too = false;
  int32_t count = 0;
  std::vector<std::optional<ElementId>> ids;
  std::vector<std::optional<uint64_t>> states;
  // Children listed in the round that reads the live count (`listing`
  // until that list is in), and that count once read; a list that did not
  // come is empty.
  std::optional<std::vector<std::optional<ElementId>>> listed;
  bool listing = false;
  std::optional<int32_t> live_count;
  // Child-by-child reading: the next index to ask, and the children of the
  // current chunk not fully read yet.
  int32_t next_index = 0;
  size_t pending = 0;
};

// One opened application: its root and what differs by toolkit.
struct OpenedApp {
  ElementId root = 0;
  int32_t pid = 0;
  ToolkitQuirks quirks;
};

class AtspiApplication final : public AccessibleApplication {
 public:
  AtspiApplication(std::unique_ptr<ReadSlot> slot, AtspiBusLease bus,
                   BusClock::time_point deadline, std::chrono::microseconds per_call,
                   XRect display, std::string_view window_title)
      : slot_(std::move(slot)),
        bus_(std::move(bus)),
        deadline_(deadline),
        per_call_(per_call),
        display_(display),
        x_title_(window_title) {}

  // Finds the application whose bus connection belongs to `pid` (every
  // application when nullopt) and reads its cache; false when there is
  // none.
  bool Find(std::optional<int32_t> pid);

  std::optional<FocusedWindow> Focused() override;
  std::vector<std::vector<ElementId>> Children(std::span<const ChildrenRequest> requests) override;
  std::vector<ElementAttributes> Attributes(std::span<const ElementId> elements) override {
    return ReadAttributes(elements, false, DetailReads{});
  }
  std::vector<ElementAttributes> DetailedAttributes(std::span<const ElementId> elements,
                                                    const DetailReads& reads) override {
    return ReadAttributes(elements, true, reads);
  }
  std::vector<TopLevelWindow> Windows() override;
  ElementHandle Handle(ElementId element) override;
  std::vector<int32_t> Unresponsive() override;
  bool OutOfTime() override { return BusClock::now() >= deadline_; }

 private:
  // Nullopt for a path too long to hold.
  std::optional<ElementId> Intern(std::string_view bus_name, std::string_view path);
  // `text` cut to what the call's text budget still allows.
  std::string Held(const char* text);
  // A call to an application that went silent is not sent: its handler
  // gets null at once.
  void Call(BusCalls& calls, ElementId id, const char* interface, const char* member,
            BusCalls::Append append, BusCalls::OnReply on_reply) {
    const Element& e = elements_[id];
    if (silent_names_.contains(e.bus_name)) {
      if (on_reply) on_reply(nullptr);
      return;
    }
    calls.Add(e.bus_name, e.path, interface, member, std::move(append), std::move(on_reply));
  }
  void GetProperty(BusCalls& calls, ElementId id, const char* property, BusCalls::OnReply on_reply) {
    Call(calls, id, kProperties, "Get", Args("ss", kAccessible, property), std::move(on_reply));
  }
  // Runs `calls`; an application that let a call go unanswered is not
  // asked again by this object, so it costs one timeout, not one per read,
  // while the other applications' reads go on.
  void Run(BusCalls& calls) {
    calls.Run();
    for (const std::string& name : calls.stalled_destinations()) {
      if (app_of_name_.contains(name)) {
        silent_names_.insert(name);
        MarkSilent(name);
      } else {
        responsive_ = false;  // the registry or the bus itself
      }
    }
    // Late replies would pile up for the idle connection.
    if (calls.stalled()) bus_.DoNotReuse();
    if (calls.broken()) {
      responsive_ = false;
      bus_.Discard();
    }
  }
  bool Usable() const { return responsive_ && bus_ && BusClock::now() < deadline_; }
  const OpenedApp* AppOf(ElementId id) const {
    const auto it = app_of_name_.find(elements_[id].bus_name);
    return it == app_of_name_.end() ? nullptr : &apps_[it->second];
  }
  // `error` receives the D-Bus error name when the call fails.
  void ReadCache(BusCalls& calls, ElementId root, std::string* error);
  // Has the applications without a cache build one (see the top of the
  // file) and reads it again, once per application and process.
  void AskForCaches(std::span<const std::string> errors);
  void SettleCache(std::unordered_map<ElementId, std::vector<std::pair<int32_t, ElementId>>> listed);
  // The cached children of `parent` when they agree with its live count.
  const std::vector<ElementId>* CachedChildren(ElementId parent, int32_t live_count) const;
  // Bounds, actions, text and (detailed) value of `id`, as far as it has
  // the interfaces.
  void ReadInterfaceAttributes(BusCalls& calls, ElementId id, uint8_t interfaces, bool detailed,
                               ElementAttributes* out);
  std::vector<ElementAttributes> ReadAttributes(std::span<const ElementId> elements,
                                                bool detailed, const DetailReads& reads);
  // Each request's children with their states.
  std::vector<ChildScan> ScanChildren(std::span<const ChildrenRequest> requests);
  void ReadChildren(BusCalls& calls, ChildScan& scan);
  void ReadChildChunk(BusCalls& calls, ChildScan& scan);
  // Records child `i` of `scan` and reads its states unless known; `done`
  // runs once they are in (or could not be read).
  void TakeChild(BusCalls& calls, ChildScan& scan, size_t i, ElementId child,
                 std::function<void()> done);
  void ChildDone(BusCalls& calls, ChildScan& scan);
  void TakeCached(ChildScan& scan, const std::vector<ElementId>& cached) const;
  // The first `scan.limit` children read that are on screen (or all read,
  // for a scan of hidden ones too).
  std::vector<ElementId> OnScreen(const ChildScan& scan) const;
  // The names of `windows`, from the cache or read.
  std::vector<std::string> WindowNames(std::span<const ElementId> windows);

  // Calls to an application with a direct connection go over it.
  void RouteToPeers(BusCalls& calls) const {
    for (const auto& peer : peers_) {
      if (sd_bus_is_open(peer.second.get()) > 0) calls.Route(peer.first, peer.second.get());
    }
  }
  // Connects to the applications that gave their direct address, keeping
  // the connections that answer.
  void ConnectPeers(std::span<const std::pair<size_t, std::string>> addresses);

  std::unique_ptr<ReadSlot> slot_;
  AtspiBusLease bus_;
  // The bus's id, telling its applications from those of an earlier bus.
  std::string bus_id_;
  // Direct connections held by this call, by application bus name.
  std::vector<std::pair<std::string, AtspiPeerLease>> peers_;
  BusClock::time_point deadline_;
  // How long one read waits for an application that does not answer.
  std::chrono::microseconds per_call_;
  XRect display_;
  std::string x_title_;
  // False once the registry or the bus failed: nothing more is asked.
  bool responsive_ = true;
  std::vector<OpenedApp> apps_;
  // Application bus name -> index in apps_.
  std::unordered_map<std::string, size_t> app_of_name_;
  // Bus name -> pid, for every application found (silent ones included).
  std::unordered_map<std::string, int32_t> pid_of_name_;
  std::unordered_set<std::string> silent_names_;
  size_t text_budget_ = kMaxHeldText;
  std::vector<Element> elements_;
  std::unordered_map<std::string, ElementId> ids_;
  // Parent -> its cached children in index order, for parents whose cached
  // children have the indices 0 to n-1 exactly once each.
  std::unordered_map<ElementId, std::vector<ElementId>> cached_children_;
};

std::optional<ElementId> AtspiApplication::Intern(std::string_view bus_name,
                                                  std::string_view path) {
  if (path.size() > kMaxPathBytes) return std::nullopt;
  std::string key;
  key.reserve(bus_name.size() + path.size() + 1);
  key.append(bus_name).append(1, '\n').append(path);
  const auto [it, inserted] = ids_.try_emplace(std::move(key), static_cast<ElementId>(elements_.size()));
  if (inserted) {
    Element& element = elements_.emplace_back();
    element.bus_name = bus_name;
    element.path = path;
  }
  return it->second;
}

std::string AtspiApplication::Held(const char* text) {
  std::string held = Bounded(text, std::min(kMaxTextBytes, text_budget_));
  text_budget_ -= std::min(text_budget_, held.size());
  return held;
}

bool AtspiApplication::Find(std::optional<int32_t> pid) {
  struct Match {
    size_t order;
    int32_t pid;
    std::string name;
    std::string path;
  };
  std::vector<Match> matches;
  std::vector<std::string> present;
  bool listed = false;
  sd_id128_t bus_id;
  if (sd_bus_get_bus_id(bus_.get(), &bus_id) >= 0) {
    char text[SD_ID128_STRING_MAX];
    bus_id_ = sd_id128_to_string(bus_id, text);
  }
  auto take = [&](size_t order, uint32_t owner, const std::string& name, const char* path) {
    if (pid && owner != static_cast<uint32_t>(*pid)) return;
    matches.push_back({order, static_cast<int32_t>(owner), name, path});
  };
  BusCalls calls(bus_.get(), deadline_, per_call_);
  calls.Add("org.a11y.atspi.Registry", kRootPath, kAccessible, "GetChildren", nullptr,
            [&](sd_bus_message* m) {
              if (!m || sd_bus_message_enter_container(m, 'a', "(so)") <= 0) return;
              listed = true;
              ObjectRef app;
              for (size_t order = 0; order < kMaxApplications && ReadRef(m, &app); ++order) {
                // The reply's strings die with it; the call is sent later.
                std::string name = app.name;
                present.push_back(name);
                if (const std::optional<KnownApplication> known = Known(bus_id_, name)) {
                  take(order, known->pid, name, app.path);
                  continue;
                }
                calls.Add(kDBus, "/org/freedesktop/DBus", kDBus, "GetConnectionUnixProcessID",
                          [name](sd_bus_message* call) {
                            return sd_bus_message_append(call, "s", name.c_str());
                          },
                          [&, order, name = std::string(app.name), path = std::string(app.path)](
                              sd_bus_message* r) {
                            uint32_t owner = 0;
                            if (!r || sd_bus_message_read(r, "u", &owner) <= 0) return;
                            RememberOwner(bus_id_, name, owner);
                            take(order, owner, name, path.c_str());
                          });
              }
            });
  Run(calls);
  if (!bus_) return false;
  if (listed && !bus_id_.empty()) ForgetAtspiPeersExcept(bus_id_, present);
  if (matches.empty()) return false;
  std::sort(matches.begin(), matches.end(),
            [](const Match& a, const Match& b) { return a.order < b.order; });
  // One process may hold several connections; its first one counts.
  if (pid) matches.resize(1);
  // Registry and bus answered; only the applications are asked from here.
  for (const Match& match : matches) {
    pid_of_name_[match.name] = match.pid;
    if (RecentlySilent(match.name)) {
      silent_names_.insert(match.name);
      continue;
    }
    const std::optional<ElementId> root = Intern(match.name, match.path);
    if (!root) continue;
    app_of_name_[match.name] = apps_.size();
    apps_.push_back({*root, match.pid, {}});
  }
  if (apps_.empty()) return !pid && !silent_names_.empty();
  std::vector<std::pair<size_t, std::string>> addresses;
  for (size_t k = 0; k < apps_.size() && !bus_id_.empty(); ++k) {
    const std::string& name = elements_[apps_[k].root].bus_name;
    const AtspiPeerKey key{bus_id_, name, apps_[k].pid};
    if (AtspiPeerLease peer = LeaseAtspiPeer(key)) {
      peers_.emplace_back(name, std::move(peer));
    } else if (WantAtspiPeerAddress(key)) {
      addresses.emplace_back(k, "");
    }
  }
  BusCalls cache(bus_.get(), deadline_, per_call_);
  RouteToPeers(cache);
  for (auto& address : addresses) {
    std::string* out = &address.second;
    Call(cache, apps_[address.first].root, "org.a11y.atspi.Application",
         "GetApplicationBusAddress", nullptr, [out](sd_bus_message* m) {
           const char* text = nullptr;
           if (m && sd_bus_message_read(m, "s", &text) > 0) *out = Bounded(text, kMaxPathBytes);
         });
  }
  // The toolkit's name and version, by application; unset where its
  // quirks are known from an earlier call.
  std::vector<std::optional<std::pair<std::string, std::string>>> toolkits(apps_.size());
  std::vector<std::string> errors(apps_.size());
  for (size_t k = 0; k < apps_.size(); ++k) {
    ReadCache(cache, apps_[k].root, &errors[k]);
    const std::string& name = elements_[apps_[k].root].bus_name;
    if (const std::optional<KnownApplication> known = Known(bus_id_, name);
        known && known->quirks) {
      apps_[k].quirks = *known->quirks;
      continue;
    }
    toolkits[k].emplace();
    for (const auto& read : {std::pair{"ToolkitName", &toolkits[k]->first},
                             std::pair{"Version", &toolkits[k]->second}}) {
      // A plain variable: clang 14 cannot capture a structured binding.
      std::string* out = read.second;
      Call(cache, apps_[k].root, kProperties, "Get",
           Args("ss", "org.a11y.atspi.Application", read.first), [out](sd_bus_message* m) {
             const char* text = nullptr;
             if (m && ReadVariant(m, 's', &text)) *out = Bounded(text, kMaxActionBytes);
           });
    }
  }
  Run(cache);
  AskForCaches(errors);
  ConnectPeers(addresses);
  for (size_t k = 0; k < apps_.size(); ++k) {
    if (!toolkits[k]) continue;
    apps_[k].quirks = QuirksOf(toolkits[k]->first, toolkits[k]->second);
    // A toolkit that did not answer both is asked again next time.
    if (!toolkits[k]->first.empty() && !toolkits[k]->second.empty()) {
      RememberQuirks(bus_id_, elements_[apps_[k].root].bus_name, apps_[k].quirks);
    }
  }
  return true;
}

void AtspiApplication::ConnectPeers(
    std::span<const std::pair<size_t, std::string>> addresses) {
  struct Pending {
    size_t app;
    SdBusPtr bus;
    bool answered = false;
  };
  std::vector<Pending> pending;
  for (const auto& address : addresses) {
    const std::string& name = elements_[apps_[address.first].root].bus_name;
    if (address.second.empty() || silent_names_.contains(name)) continue;
    if (SdBusPtr bus = ConnectAtspiPeer(address.second)) {
      pending.push_back({address.first, std::move(bus)});
    }
  }
  if (pending.empty() || !Usable()) return;
  // The handshake and a ping in one round for all: the connection is kept
  // only once the application answered on it.
  BusCalls calls(bus_.get(), deadline_, per_call_);
  for (Pending& p : pending) {
    const ElementId root = apps_[p.app].root;
    calls.Route(elements_[root].bus_name, p.bus.get());
    bool* answered = &p.answered;
    Call(calls, root, "org.freedesktop.DBus.Peer", "Ping", nullptr,
         [answered](sd_bus_message* m) { *answered = m != nullptr; });
  }
  Run(calls);
  for (Pending& p : pending) {
    if (!p.answered) continue;
    const std::string& name = elements_[apps_[p.app].root].bus_name;
    if (AtspiPeerLease peer = AdoptAtspiPeer({bus_id_, name, apps_[p.app].pid}, std::move(p.bus))) {
      peers_.emplace_back(name, std::move(peer));
    }
  }
}

void AtspiApplication::AskForCaches(std::span<const std::string> errors) {
  std::vector<size_t> lacking;
  for (size_t k = 0; k < apps_.size() && k < errors.size(); ++k) {
    if ((errors[k] == SD_BUS_ERROR_UNKNOWN_METHOD || errors[k] == SD_BUS_ERROR_UNKNOWN_OBJECT) &&
        FirstAskForCache(elements_[apps_[k].root].bus_name)) {
      lacking.push_back(k);
    }
  }
  if (lacking.empty() || !Usable()) return;
  // The registry tells the applications of the new listener before it
  // answers, and each application handles that before a call sent to it
  // later: the second GetItems finds the cache built.
  BusCalls calls(bus_.get(), deadline_, per_call_);
  calls.Add(kRegistry, "/org/a11y/atspi/registry", kRegistry, "RegisterEvent",
            Args("s", kWakeEvent), [&](sd_bus_message* m) {
              if (!m) return;
              calls.Add(kRegistry, "/org/a11y/atspi/registry", kRegistry, "DeregisterEvent",
                        Args("s", kWakeEvent), nullptr);
              for (const size_t k : lacking) ReadCache(calls, apps_[k].root, nullptr);
            });
  Run(calls);
}

void AtspiApplication::ReadCache(BusCalls& calls, ElementId root, std::string* error) {
  calls.Add(elements_[root].bus_name, "/org/a11y/atspi/cache", "org.a11y.atspi.Cache",
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
                const std::optional<ElementId> id = Intern(self.name, self.path);
                const std::optional<ElementId> parent_id = Intern(parent.name, parent.path);
                if (!id || !parent_id) continue;
                if (elements_[*id].cached) continue;  // listed twice: the first counts
                item.name = Held(name);
                item.description = Held(description);
                item.parent = *parent_id;
                listed[item.parent].emplace_back(item.index, *id);
                elements_[*id].states = item.states;
                elements_[*id].cached = std::move(item);
              }
              SettleCache(std::move(listed));
            },
            error);
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

void AtspiApplication::TakeChild(BusCalls& calls, ChildScan& scan, size_t i, ElementId child,
                                 std::function<void()> done) {
  scan.ids[i] = child;
  if (const std::optional<uint64_t> states = elements_[child].states) {
    scan.states[i] = states;
    if (done) done();
    return;
  }
  Call(calls, child, kAccessible, "GetState", nullptr,
       [this, &calls, &scan, i, child, done = std::move(done)](sd_bus_message* m) {
         uint64_t states = 0;
         if (m && ReadStates(m, &states)) {
           scan.states[i] = elements_[child].states = states;
           const OpenedApp* app = AppOf(child);
           if (scan.hidden_too || IsOnScreen(states, app ? app->quirks : ToolkitQuirks{})) {
             GetProperty(calls, child, "ChildCount", [this, child](sd_bus_message* r) {
               int32_t count = 0;
               if (r && ReadVariant(r, 'i', &count)) elements_[child].child_count = count;
             });
             // A child on screen is likely recorded, and the reads of its
             // attributes need its interfaces: asked now, they cost the
             // attribute read no round of its own.
             Call(calls, child, kAccessible, "GetInterfaces", nullptr,
                  [this, child](sd_bus_message* r) {
                    if (const std::optional<uint8_t> found = ReadInterfaces(r)) {
                      elements_[child].interfaces = found;
                    }
                  });
           }
         }
         if (done) done();
       });
}

void AtspiApplication::ReadChildren(BusCalls& calls, ChildScan& scan) {
  if (scan.count <= kBulkChildren && scan.listed) {
    scan.ids.assign(static_cast<size_t>(scan.count), std::nullopt);
    scan.states.assign(scan.ids.size(), std::nullopt);
    for (size_t i = 0; i < scan.ids.size() && i < scan.listed->size(); ++i) {
      if (const std::optional<ElementId> child = (*scan.listed)[i]) {
        TakeChild(calls, scan, i, *child, nullptr);
      }
    }
    return;
  }
  if (scan.count <= kBulkChildren) {
    scan.ids.assign(static_cast<size_t>(scan.count), std::nullopt);
    scan.states.assign(scan.ids.size(), std::nullopt);
    Call(calls, scan.parent, kAccessible, "GetChildren", nullptr,
         [this, &calls, &scan](sd_bus_message* m) {
           if (!m || sd_bus_message_enter_container(m, 'a', "(so)") <= 0) return;
           ObjectRef ref;
           for (size_t i = 0; i < scan.ids.size() && ReadRef(m, &ref); ++i) {
             if (const std::optional<ElementId> child = Intern(ref.name, ref.path)) {
               TakeChild(calls, scan, i, *child, nullptr);
             }
           }
         });
    return;
  }
  ReadChildChunk(calls, scan);
}

void AtspiApplication::ReadChildChunk(BusCalls& calls, ChildScan& scan) {
  const int32_t end = std::min({scan.count, scan.next_index + kChildChunk, kMaxScannedChildren});
  if (scan.next_index >= end) return;
  scan.ids.resize(static_cast<size_t>(end), std::nullopt);
  scan.states.resize(scan.ids.size(), std::nullopt);
  scan.pending = static_cast<size_t>(end - scan.next_index);
  for (int32_t index = scan.next_index; index < end; ++index) {
    Call(calls, scan.parent, kAccessible, "GetChildAtIndex", Args("i", index),
         [this, &calls, &scan, index](sd_bus_message* m) {
           ObjectRef ref;
           std::optional<ElementId> child;
           if (m && ReadRef(m, &ref)) child = Intern(ref.name, ref.path);
           if (!child) return ChildDone(calls, scan);
           TakeChild(calls, scan, static_cast<size_t>(index), *child,
                     [this, &calls, &scan] { ChildDone(calls, scan); });
         });
  }
  scan.next_index = end;
}

void AtspiApplication::ChildDone(BusCalls& calls, ChildScan& scan) {
  if (--scan.pending > 0) return;
  if (OnScreen(scan).size() < scan.limit) ReadChildChunk(calls, scan);
}

void AtspiApplication::TakeCached(ChildScan& scan, const std::vector<ElementId>& cached) const {
  scan.count = static_cast<int32_t>(cached.size());
  scan.ids.assign(cached.begin(), cached.end());
  for (const ElementId child : cached) scan.states.push_back(elements_[child].states);
}

std::vector<ChildScan> AtspiApplication::ScanChildren(std::span<const ChildrenRequest> requests) {
  // Sized once: the handlers hold references into it.
  std::vector<ChildScan> scans(requests.size());
  if (!Usable()) return scans;
  BusCalls calls(bus_.get(), deadline_, per_call_);
  RouteToPeers(calls);
  for (size_t k = 0; k < requests.size(); ++k) {
    ChildScan& scan = scans[k];
    scan.parent = requests[k].parent;
    scan.limit = requests[k].limit;
    scan.hidden_too = requests[k].hidden_too;
    if (scan.limit == 0) continue;
    // The cache's count was read by the application with the rest of the
    // cache: where the cached children agree with it, nothing is asked.
    const Element& parent = elements_[scan.parent];
    if (parent.cached && parent.cached->child_count >= 0 &&
        !silent_names_.contains(parent.bus_name)) {
      if (const std::vector<ElementId>* cached =
              CachedChildren(scan.parent, parent.cached->child_count)) {
        TakeCached(scan, *cached);
        continue;
      }
    }
    auto counted = [this, &calls, &scan](int32_t count) {
      scan.count = count;
      if (scan.count <= 0) return;
      if (const std::vector<ElementId>* cached = CachedChildren(scan.parent, scan.count)) {
        return TakeCached(scan, *cached);
      }
      ReadChildren(calls, scan);
    };
    if (parent.child_count && !silent_names_.contains(parent.bus_name)) {
      counted(*parent.child_count);
      continue;
    }
    if (!parent.cached || parent.cached->child_count < 0 ||
        parent.cached->child_count > kBulkChildren) {
      GetProperty(calls, scan.parent, "ChildCount", [counted](sd_bus_message* m) {
        int32_t count = 0;
        if (m && ReadVariant(m, 'i', &count)) counted(count);
      });
      continue;
    }
    // The cache's children disagree with its count, which says a bulk read
    // is small: the children are listed in the same round as the live
    // count, which then decides as above.
    scan.listed.emplace();
    scan.listing = true;
    GetProperty(calls, scan.parent, "ChildCount", [&scan, counted](sd_bus_message* m) {
      int32_t count = 0;
      if (!m || !ReadVariant(m, 'i', &count)) return;
      scan.live_count = count;
      if (!scan.listing) counted(count);
    });
    Call(calls, scan.parent, kAccessible, "GetChildren", nullptr,
         [this, &scan, counted](sd_bus_message* m) {
           scan.listing = false;
           ObjectRef ref;
           if (m && sd_bus_message_enter_container(m, 'a', "(so)") > 0) {
             while (scan.listed->size() < static_cast<size_t>(kBulkChildren) && ReadRef(m, &ref)) {
               scan.listed->push_back(Intern(ref.name, ref.path));
             }
           }
           if (scan.live_count) counted(*scan.live_count);
         });
  }
  Run(calls);
  return scans;
}

std::vector<ElementId> AtspiApplication::OnScreen(const ChildScan& scan) const {
  std::vector<ElementId> read;
  std::vector<std::optional<uint64_t>> states;
  for (size_t i = 0; i < scan.ids.size(); ++i) {
    if (!scan.ids[i]) continue;
    read.push_back(*scan.ids[i]);
    states.push_back(scan.states[i]);
  }
  if (scan.hidden_too) {
    if (read.size() > scan.limit) read.resize(scan.limit);
    return read;
  }
  const OpenedApp* app = AppOf(scan.parent);
  return OnScreenChildren<ElementId>(read, states, scan.limit, app ? app->quirks : ToolkitQuirks{});
}

std::vector<std::vector<ElementId>> AtspiApplication::Children(
    std::span<const ChildrenRequest> requests) {
  std::vector<std::vector<ElementId>> children;
  for (const ChildScan& scan : ScanChildren(requests)) children.push_back(OnScreen(scan));
  return children;
}

struct ElementReads {
  std::optional<std::string> role_name;
  std::optional<uint64_t> states;
  std::optional<std::string> description;
};

std::vector<std::string> AtspiApplication::WindowNames(std::span<const ElementId> windows) {
  std::vector<std::string> names(windows.size());
  BusCalls calls(bus_.get(), deadline_, per_call_);
  RouteToPeers(calls);
  const bool usable = Usable();
  for (size_t i = 0; i < windows.size(); ++i) {
    if (const std::optional<CachedItem>& item = elements_[windows[i]].cached) {
      names[i] = item->name;
    } else if (usable) {
      GetProperty(calls, windows[i], "Name", [&, i](sd_bus_message* m) {
        const char* text = nullptr;
        if (m && ReadVariant(m, 's', &text)) names[i] = Held(text);
      });
    }
  }
  if (usable) Run(calls);
  return names;
}

std::optional<FocusedWindow> AtspiApplication::Focused() {
  if (apps_.empty()) return std::nullopt;
  const OpenedApp& app = apps_.front();
  const ChildrenRequest request{app.root, kMaxTopLevels};
  const std::vector<ChildScan> scans = ScanChildren({&request, 1});
  std::vector<ElementId> windows;
  std::vector<std::optional<uint64_t>> states;
  for (size_t i = 0; i < scans[0].ids.size(); ++i) {
    if (!scans[0].ids[i]) continue;
    windows.push_back(*scans[0].ids[i]);
    states.push_back(scans[0].states[i]);
  }
  const std::optional<size_t> chosen = ChooseWindow(states);
  if (!chosen) return std::nullopt;
  const ElementId window = windows[*chosen];
  const std::string name = WindowNames({&window, 1})[0];
  // A window with a client-side title bar has no accessible name; its X
  // window still has a title.
  return FocusedWindow{window, name.empty() ? x_title_ : name,
                       app.quirks.window_relative_extents};
}

std::vector<TopLevelWindow> AtspiApplication::Windows() {
  std::vector<ChildrenRequest> requests;
  for (const OpenedApp& app : apps_) requests.push_back({app.root, kMaxTopLevels, true});
  const std::vector<ChildScan> scans = ScanChildren(requests);
  std::vector<TopLevelWindow> windows;
  std::vector<ElementId> ids;
  for (size_t k = 0; k < scans.size(); ++k) {
    for (size_t i = 0; i < scans[k].ids.size(); ++i) {
      if (!scans[k].ids[i]) continue;
      const uint64_t states = scans[k].states[i].value_or(0);
      windows.push_back({.element = *scans[k].ids[i],
                         .pid = apps_[k].pid,
                         .title = "",
                         .active = HasState(states, kStateActive),
                         .showing = HasState(states, kStateShowing),
                         .window_relative_bounds = apps_[k].quirks.window_relative_extents});
      ids.push_back(*scans[k].ids[i]);
    }
  }
  std::vector<std::string> names = WindowNames(ids);
  for (size_t i = 0; i < windows.size(); ++i) windows[i].title = std::move(names[i]);
  return windows;
}

ElementHandle AtspiApplication::Handle(ElementId element) {
  const Element& e = elements_[element];
  const auto pid = pid_of_name_.find(e.bus_name);
  return {.pid = pid == pid_of_name_.end() ? 0 : pid->second,
          .locator = e.bus_name + '\n' + e.path,
          .native = nullptr};
}

std::vector<int32_t> AtspiApplication::Unresponsive() {
  std::vector<int32_t> pids;
  for (const std::string& name : silent_names_) {
    if (const auto it = pid_of_name_.find(name); it != pid_of_name_.end()) {
      pids.push_back(it->second);
    }
  }
  std::sort(pids.begin(), pids.end());
  pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
  return pids;
}

void AtspiApplication::ReadInterfaceAttributes(BusCalls& calls, ElementId id, uint8_t interfaces,
                                               bool detailed, ElementAttributes* out) {
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
        names.push_back(Bounded(name, kMaxActionBytes));
      }
      out->actions = std::move(names);
    });
  }
  if (interfaces & kText) {
    Call(calls, id, "org.a11y.atspi.Text", "GetText", Args("ii", int32_t{0}, int32_t{-1}),
         [this, out](sd_bus_message* m) {
           const char* text = nullptr;
           if (m && sd_bus_message_read(m, "s", &text) > 0) out->value = Held(text);
         });
  } else if (detailed && (interfaces & kValue)) {
    Call(calls, id, kProperties, "Get", Args("ss", "org.a11y.atspi.Value", "CurrentValue"),
         [out](sd_bus_message* m) {
           double number = 0;
           if (m && ReadVariant(m, 'd', &number)) out->value = NumberText(number);
         });
  }
}

std::vector<ElementAttributes> AtspiApplication::ReadAttributes(
    std::span<const ElementId> elements, bool detailed, const DetailReads& wanted) {
  std::vector<ElementAttributes> attributes(elements.size());
  std::vector<ElementReads> reads(elements.size());
  BusCalls calls(bus_.get(), deadline_, per_call_);
  RouteToPeers(calls);
  const bool usable = Usable();
  // The interfaces whose reads are wanted this time.
  uint8_t asked = kComponent | kAction | kText | kValue;
  if (!wanted.bounds) asked &= static_cast<uint8_t>(~kComponent);
  if (!wanted.actions) asked &= static_cast<uint8_t>(~kAction);
  if (!wanted.value) asked &= static_cast<uint8_t>(~(kText | kValue));
  for (size_t i = 0; i < elements.size(); ++i) {
    const ElementId id = elements[i];
    const Element& element = elements_[id];
    ElementAttributes& out = attributes[i];
    std::optional<uint8_t> interfaces = element.interfaces;
    reads[i].states = element.states;
    reads[i].role_name = element.role_name;
    reads[i].description = element.description;
    if (element.name) out.name = *element.name;
    if (const std::optional<CachedItem>& item = element.cached) {
      if (const std::optional<std::string_view> role = AtspiRoleName(item->role)) {
        reads[i].role_name = std::string(*role);
      }
      out.name = item->name;
      reads[i].description = item->description;
      interfaces = item->interfaces;
    }
    if (!usable) continue;
    // Each answer is kept with the element too (by id: handlers run
    // after this loop), for a later read of the same element.
    if (!reads[i].states) {
      Call(calls, id, kAccessible, "GetState", nullptr, [this, &reads, i, id](sd_bus_message* m) {
        uint64_t states = 0;
        if (m && ReadStates(m, &states)) reads[i].states = elements_[id].states = states;
      });
    }
    if (!element.cached && !element.name) {
      GetProperty(calls, id, "Name", [this, &attributes, i, id](sd_bus_message* m) {
        const char* name = nullptr;
        if (!m || !ReadVariant(m, 's', &name)) return;
        attributes[i].name = Held(name);
        elements_[id].name = attributes[i].name;
      });
    }
    if (detailed && !reads[i].description) {
      GetProperty(calls, id, "Description", [this, &reads, i, id](sd_bus_message* m) {
        const char* text = nullptr;
        if (!m || !ReadVariant(m, 's', &text)) return;
        reads[i].description = elements_[id].description = Held(text);
      });
    }
    if (!reads[i].role_name) {
      Call(calls, id, kAccessible, "GetRoleName", nullptr, [this, &reads, i, id](sd_bus_message* m) {
        const char* role = nullptr;
        if (m && sd_bus_message_read(m, "s", &role) > 0) {
          reads[i].role_name = elements_[id].role_name = Bounded(role, kMaxActionBytes);
        }
      });
    }
    if (interfaces) {
      uint8_t read = static_cast<uint8_t>(*interfaces & asked);
      // A disabled element is never clickable, so its actions matter to
      // the detailed reply only.
      if (!detailed && reads[i].states && !IsEnabled(*reads[i].states)) {
        read = static_cast<uint8_t>(read & ~kAction);
      }
      ReadInterfaceAttributes(calls, id, read, detailed, &attributes[i]);
      continue;
    }
    // Asking an element for an interface it lacks makes GTK log a critical
    // warning; learning its interfaces first costs no extra round trip for
    // the other elements.
    Call(calls, id, kAccessible, "GetInterfaces", nullptr,
         [this, &calls, &attributes, i, id, detailed, asked](sd_bus_message* m) {
           const std::optional<uint8_t> found = ReadInterfaces(m);
           if (!found) return;
           elements_[id].interfaces = found;
           ReadInterfaceAttributes(calls, id, static_cast<uint8_t>(*found & asked), detailed,
                                   &attributes[i]);
         });
  }
  if (usable) Run(calls);
  for (size_t i = 0; i < elements.size(); ++i) {
    const std::optional<uint64_t> states = reads[i].states;
    const bool multi_line = states && HasState(*states, kStateMultiLine);
    ElementAttributes& out = attributes[i];
    out.role = MapAtspiRole(reads[i].role_name.value_or(""), multi_line);
    if (states) out.enabled = IsEnabled(*states);
    if (!detailed) continue;
    out.answered = states || reads[i].role_name;
    out.description = reads[i].description.value_or("");
    if (states) {
      out.states = AtspiStateNames(*states);
      out.focused = HasState(*states, kStateFocused);
      out.editable = HasState(*states, kStateEditable);
    }
    if (reads[i].role_name == "password text") {
      out.secure = true;
      out.role = "AXSecureTextField";
      out.value = std::nullopt;
    }
  }
  return attributes;
}

constexpr std::string_view kPressActions[] = {"click", "press", "jump", "toggle"};

// How toolkits name the actions of "ui_action"'s verbs (GTK 3: "click",
// "activate", "press"; GTK 4: "click", "activate"; Qt: "Press", "Toggle",
// "ShowMenu"; Firefox: "press", "jump", "check", "uncheck", "expand",
// "collapse"). A check box or an expandable element whose toolkit names
// no such action is toggled or expanded by pressing it.
constexpr std::string_view kPressNames[] = {"press", "click", "activate", "jump", "open"};
constexpr std::string_view kToggleNames[] = {"toggle", "check", "uncheck"};
constexpr std::string_view kExpandNames[] = {"expand", "expand or contract",
                                             "expand or collapse", "open"};
constexpr std::string_view kCollapseNames[] = {"collapse", "expand or contract",
                                               "expand or collapse", "close"};
constexpr std::string_view kShowMenuNames[] = {"showmenu", "show menu", "menu", "popup",
                                               "context menu"};
constexpr AccessibilityPlatform::Verb kVerbs[] = {{"press", kPressNames},
                                                  {"toggle", kToggleNames},
                                                  {"expand", kExpandNames},
                                                  {"collapse", kCollapseNames},
                                                  {"show_menu", kShowMenuNames}};

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
      .verbs = kVerbs,
  };
  return platform;
}

namespace {

std::unique_ptr<AccessibleApplication> Open(std::optional<int32_t> pid,
                                            std::string_view window_title,
                                            BusClock::time_point deadline,
                                            std::chrono::microseconds per_call) {
  // Waiting for a slot counts against the call's budget.
  auto slot = std::make_unique<ReadSlot>(deadline);
  if (!slot->held()) return nullptr;
  Result<std::unique_ptr<XConnection>> x = XConnection::Open();
  AtspiBusLease bus = LeaseDesktopAtspiBus(deadline);
  if (!bus) return nullptr;
  auto application = std::make_unique<AtspiApplication>(
      std::move(slot), std::move(bus), deadline, per_call, x ? (*x)->MainDisplay() : XRect{},
      window_title);
  if (!application->Find(pid)) return nullptr;
  return application;
}

}  // namespace

std::unique_ptr<AccessibleApplication> OpenAccessibleApplication(int32_t pid,
                                                                 std::string_view window_title) {
  return Open(pid, window_title, BusClock::now() + kBudget, kPerCall);
}

std::unique_ptr<AccessibleApplication> OpenAccessibleApplications(
    std::optional<int32_t> pid, std::chrono::milliseconds budget) {
  // A silent application costs one read's wait: at most a third of the
  // budget, so the others' reads still fit in it.
  const std::chrono::microseconds per_call =
      std::min<std::chrono::microseconds>(kPerCall, budget / 3);
  return Open(pid, "", BusClock::now() + budget, std::max(per_call, std::chrono::microseconds(1000)));
}

}  // namespace tarvix
