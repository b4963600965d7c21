#include "platform/wayland/wlr_input.h"

#include <fcntl.h>
#include <linux/input-event-codes.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "platform/input_stop.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wlr_keymap.h"
#include "platform/wayland/wlr_layout.h"
#include "platform/wayland/xwayland_typing.h"
#include "platform/x11/x_keysyms.h"
#include "platform/x11/x_lent_keycodes.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "wlr-virtual-pointer-unstable-v1-client-protocol.h"

namespace tarvix {
namespace wlr {
namespace {

// GTK's defaults; a Wayland session publishes its own only to the
// toolkit's settings, which the compositor does not relay.
constexpr std::chrono::milliseconds kDoubleClickTime(400);
constexpr int32_t kDoubleClickDistance = 5;
// As on X11: one wheel line is one discrete step, and a request posts at
// most this many.
constexpr int64_t kMaxScrollLines = 1000;
// libwayland buffers 4 KiB of requests and gives a connection up when the
// socket is full: long runs of events wait for the compositor every so
// many events.
constexpr size_t kEventsPerSync = 64;
// One wheel step in wl_pointer axis units, as libinput reports a click.
constexpr double kAxisPerStep = 15;
// What an X client that takes no pings gets to read a text, as on X11.
constexpr std::chrono::milliseconds kXClientCatchUp(100);

std::string Failure(std::string_view reason) {
  return "simulating input failed: (" + std::string(reason) + ")";
}

// `step`, any error of it replaced by the failure text for `reason`.
Result<void> Prefixed(Result<void> step, std::string_view reason) {
  if (step) return step;
  return Error(Failure(reason));
}

uint32_t NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(now.tv_sec * 1000 + now.tv_nsec / 1000000);
}

// The virtual pointer and keyboard with their connection, and the
// keyboard's state the compositor cannot be asked for.
class VirtualDevices {
 public:
  static Result<std::unique_ptr<VirtualDevices>> Create() {
    Result<std::unique_ptr<WaylandConnection>> opened = WaylandConnection::Open();
    if (!opened) return Error(std::move(opened).error());
    std::unique_ptr<VirtualDevices> d(new VirtualDevices(std::move(opened).value()));
    d->registry_ = wl_display_get_registry(d->c_->display());
    static const wl_registry_listener listener = {.global = &VirtualDevices::OnGlobal,
                                                  .global_remove = &VirtualDevices::OnRemove};
    wl_registry_add_listener(d->registry_, &listener, d.get());
    if (Result<void> listed = d->c_->Roundtrip(); !listed) return Error(std::move(listed).error());
    if (d->seat_ == nullptr) return Error("the Wayland compositor offers no seat");
    if (d->pointer_manager_ == nullptr) {
      return Error(
          "the Wayland compositor offers no virtual pointer (zwlr_virtual_pointer_manager_v1)");
    }
    if (d->keyboard_manager_ == nullptr) {
      return Error(
          "the Wayland compositor offers no virtual keyboard (zwp_virtual_keyboard_manager_v1)");
    }
    d->pointer_ = zwlr_virtual_pointer_manager_v1_create_virtual_pointer(d->pointer_manager_,
                                                                         d->seat_);
    d->keyboard_ =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(d->keyboard_manager_, d->seat_);
    // A key before the first keymap is a protocol error.
    if (Result<void> uploaded = d->UseChordKeymap({}); !uploaded) {
      return Error(std::move(uploaded).error());
    }
    return d;
  }

  ~VirtualDevices() {
    if (pointer_ != nullptr) zwlr_virtual_pointer_v1_destroy(pointer_);
    if (keyboard_ != nullptr) zwp_virtual_keyboard_v1_destroy(keyboard_);
    if (pointer_manager_ != nullptr) zwlr_virtual_pointer_manager_v1_destroy(pointer_manager_);
    if (keyboard_manager_ != nullptr) zwp_virtual_keyboard_manager_v1_destroy(keyboard_manager_);
    if (seat_ != nullptr) wl_seat_destroy(seat_);
    if (registry_ != nullptr) wl_registry_destroy(registry_);
  }

  // The compositor still answers, with the outputs described afresh.
  Result<void> Refresh() { return c_->DescribeOutputs(); }
  Result<void> Sync() { return c_->Roundtrip(); }

  std::vector<OutputGeometry> Outputs() const {
    std::vector<OutputGeometry> outputs;
    for (const auto& output : c_->outputs()) {
      if (!removed_.contains(output->global)) outputs.push_back(output->geometry);
    }
    return outputs;
  }

  zwlr_virtual_pointer_v1* pointer() const { return pointer_; }

  void Key(uint32_t keycode, bool pressed) {
    zwp_virtual_keyboard_v1_key(keyboard_, NowMs(), keycode - 8,
                                pressed ? WL_KEYBOARD_KEY_STATE_PRESSED
                                        : WL_KEYBOARD_KEY_STATE_RELEASED);
  }
  void Modifiers(uint32_t depressed, uint32_t locked) {
    zwp_virtual_keyboard_v1_modifiers(keyboard_, depressed, 0, locked, 0);
  }

  // The keymap of the keys now being typed.
  const VirtualKeymap& keymap() const { return keymap_; }
  bool chord_keymap() const { return chord_; }
  // Whether the last Use...Keymap call uploaded a keymap.
  bool keymap_changed() const { return changed_; }
  uint32_t locked() const { return locked_; }
  void Toggle(uint32_t mask) { locked_ ^= mask; }

  // Uploads the chord keymap, with keys for `extra` keysyms; the key of
  // every keysym on the current chord keymap keeps its keycode.
  Result<void> UseChordKeymap(const std::vector<xkb_keysym_t>& extra) {
    std::vector<xkb_keysym_t> wanted = chord_ ? extras_ : std::vector<xkb_keysym_t>{};
    bool missing = !chord_;
    for (const xkb_keysym_t keysym : extra) {
      if (chord_ && keymap_.Find(keysym)) continue;
      missing = true;
      if (std::find(wanted.begin(), wanted.end(), keysym) == wanted.end()) {
        wanted.push_back(keysym);
      }
    }
    changed_ = missing;
    if (!missing) return {};
    VirtualKeymap keymap = ChordKeymap(wanted);
    extras_ = std::move(wanted);
    chord_ = true;
    return Upload(std::move(keymap));
  }

  Result<void> UseTextKeymap(const std::vector<xkb_keysym_t>& keysyms) {
    chord_ = false;
    changed_ = true;
    extras_.clear();
    return Upload(TextKeymap(keysyms));
  }

 private:
  explicit VirtualDevices(std::unique_ptr<WaylandConnection> c) : c_(std::move(c)) {}

  static void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version) {
    auto* self = static_cast<VirtualDevices*>(data);
    const std::string_view kind = interface;
    if (kind == wl_seat_interface.name && self->seat_ == nullptr) {
      self->seat_ = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (kind == zwlr_virtual_pointer_manager_v1_interface.name &&
               self->pointer_manager_ == nullptr) {
      self->pointer_manager_ = static_cast<zwlr_virtual_pointer_manager_v1*>(
          wl_registry_bind(registry, name, &zwlr_virtual_pointer_manager_v1_interface,
                           std::min(version, 2u)));
    } else if (kind == zwp_virtual_keyboard_manager_v1_interface.name &&
               self->keyboard_manager_ == nullptr) {
      self->keyboard_manager_ = static_cast<zwp_virtual_keyboard_manager_v1*>(
          wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
  }
  static void OnRemove(void* data, wl_registry*, uint32_t name) {
    static_cast<VirtualDevices*>(data)->removed_.insert(name);
  }

  // Hands the keymap over in a sealed memfd, then waits until the
  // compositor has it: its clients get it before the keys that follow.
  Result<void> Upload(VirtualKeymap keymap) {
    const int fd = memfd_create("tarvix-agentd-keymap", MFD_CLOEXEC | MFD_ALLOW_SEALING);
    if (fd < 0) return Error("cannot create the keymap's memory file");
    // The size counts the terminating NUL, as keymaps on Wayland do.
    const size_t size = keymap.text.size() + 1;
    bool written = true;
    for (size_t done = 0; written && done < size;) {
      const ssize_t n = write(fd, keymap.text.c_str() + done, size - done);
      written = n > 0;
      if (written) done += static_cast<size_t>(n);
    }
    if (!written) {
      close(fd);
      return Error("cannot write the keymap's memory file");
    }
    (void)fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_WRITE | F_SEAL_SEAL);
    // libwayland sends a duplicate of the descriptor.
    zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<uint32_t>(size));
    close(fd);
    keymap_ = std::move(keymap);
    return c_->Roundtrip();
  }

  std::unique_ptr<WaylandConnection> c_;
  wl_registry* registry_ = nullptr;
  wl_seat* seat_ = nullptr;
  zwlr_virtual_pointer_manager_v1* pointer_manager_ = nullptr;
  zwp_virtual_keyboard_manager_v1* keyboard_manager_ = nullptr;
  zwlr_virtual_pointer_v1* pointer_ = nullptr;
  zwp_virtual_keyboard_v1* keyboard_ = nullptr;
  std::set<uint32_t> removed_;  // registry names of outputs gone since
  VirtualKeymap keymap_;
  bool chord_ = false;
  bool changed_ = false;
  std::vector<xkb_keysym_t> extras_;  // of the chord keymap
  uint32_t locked_ = 0;               // Caps Lock and Num Lock as toggled by us
};

// The devices for the daemon's life; touched only under the input lock.
std::unique_ptr<VirtualDevices>& Devices() {
  static auto* devices = new std::unique_ptr<VirtualDevices>;
  return *devices;
}

class WlrInputBackend : public InputBackend {
 public:
  WlrInputBackend(std::unique_lock<std::mutex> hold, VirtualDevices& devices)
      : hold_(std::move(hold)), d_(devices) {}

  ~WlrInputBackend() override {
    bool posted = !held_.empty();
    while (!held_.empty()) {
      const KeymapStroke stroke = held_.back().stroke;
      held_.pop_back();
      Up(stroke);
    }
    for (size_t i = 0; i < buttons_down_.size(); ++i) {
      if (!buttons_down_[i]) continue;
      posted = true;
      PostButton(kButtons[i], false);
    }
    if (posted) (void)d_.Sync();
  }

  ClickTiming click_timing() override {
    return ClickTiming{kDoubleClickTime, true, kDoubleClickDistance};
  }

  // The compositor does not tell where the pointer is; right after this
  // request moved it, it is where the move put it (a physical mouse moved
  // in those few milliseconds aside), so a click elsewhere need not wait.
  std::optional<PointerPoint> QueryPointer() override { return moved_to_; }

  Result<void> MovePointer(int32_t x, int32_t y) override {
    constexpr char kReason[] = "failed creating event to move the mouse";
    const std::optional<AbsoluteMotion> motion = PointerMotionTo(x, y, d_.Outputs());
    if (!motion) return Error(Failure(kReason));
    zwlr_virtual_pointer_v1_motion_absolute(d_.pointer(), NowMs(), motion->x, motion->y,
                                            motion->x_extent, motion->y_extent);
    zwlr_virtual_pointer_v1_frame(d_.pointer());
    moved_to_.reset();
    if (Result<void> synced = Synced(kReason); !synced) return synced;
    moved_to_ = PointerPoint{x, y};
    return {};
  }

  Result<void> ClickButton(MouseButton button, int64_t /*click_count*/) override {
    // Clients count clicks from the events' times, as on X11.
    const uint32_t code = kButtons[static_cast<size_t>(button)];
    PostButton(code, true);
    PostButton(code, false);
    return Synced("failed creating event to enter mouse button");
  }

  Result<void> Scroll(int32_t length, ScrollAxis axis) override {
    constexpr char kReason[] = "failed creating event to scroll";
    const uint32_t wl_axis = axis == ScrollAxis::kVertical ? WL_POINTER_AXIS_VERTICAL_SCROLL
                                                           : WL_POINTER_AXIS_HORIZONTAL_SCROLL;
    const int32_t step = length > 0 ? 1 : -1;
    const int64_t lines = std::min(std::abs(static_cast<int64_t>(length)), kMaxScrollLines);
    for (int64_t i = 0; i < lines; ++i) {
      zwlr_virtual_pointer_v1_axis_source(d_.pointer(), WL_POINTER_AXIS_SOURCE_WHEEL);
      zwlr_virtual_pointer_v1_axis_discrete(d_.pointer(), NowMs(), wl_axis,
                                            wl_fixed_from_double(step * kAxisPerStep), step);
      zwlr_virtual_pointer_v1_frame(d_.pointer());
      if ((i + 1) % kEventsPerSync == 0) {
        if (Result<void> synced = Synced(kReason); !synced) return synced;
      }
    }
    return Synced(kReason);
  }

  Result<void> ClickKey(const Key& key) override {
    if (key.is_character && key.character == 0) return {};
    if (Result<void> pressed = PressKey(key); !pressed) return pressed;
    return ReleaseKey(key);
  }

  Result<void> PressButton(MouseButton button) override {
    const size_t index = static_cast<size_t>(button);
    if (!buttons_down_[index]) {
      buttons_down_[index] = true;
      PostButton(kButtons[index], true);
    }
    return Synced("failed creating event to press mouse button");
  }

  Result<void> ReleaseButton(MouseButton button) override {
    const size_t index = static_cast<size_t>(button);
    if (!buttons_down_[index]) return {};
    buttons_down_[index] = false;
    PostButton(kButtons[index], false);
    return Synced("failed creating event to release mouse button");
  }

  Result<void> PressKey(const Key& key) override {
    constexpr char kReason[] = "failed creating event to press the key";
    const xkb_keysym_t keysym = KeysymForKey(key);
    if (keysym == XKB_KEY_NoSymbol) return Error(Failure(kReason));
    const bool was_chord = d_.chord_keymap();
    if (Result<void> ready = d_.UseChordKeymap({keysym}); !ready) return Error(Failure(kReason));
    if (!held_.empty() && was_chord && d_.keymap_changed()) {
      // Clients start a new keymap with no modifier and hear of the held
      // ones only when the state changes: it changes twice.
      d_.Modifiers(0, 0);
      d_.Modifiers(Depressed(0), d_.locked());
    }
    const std::optional<KeymapStroke> stroke = d_.keymap().Find(keysym);
    if (!stroke) return Error(Failure(kReason));
    const std::optional<KeymapStroke> shift = d_.keymap().Find(XKB_KEY_Shift_L);
    held_.push_back(HeldKey{keysym, *stroke});
    // The Shift a character needs goes down first, as its own key and in
    // the modifier state, so the key arrives with it; what a modifier key
    // sets follows its press.
    if ((stroke->modifiers & kModShift) != 0 && shift) Down(shift->keycode);
    if ((stroke->modifiers & ~Depressed(1)) != 0) d_.Modifiers(Depressed(0), d_.locked());
    Down(stroke->keycode);
    d_.Toggle(stroke->toggles);
    d_.Modifiers(Depressed(0), d_.locked());
    return Synced(kReason);
  }

  Result<void> ReleaseKey(const Key& key) override {
    const xkb_keysym_t keysym = KeysymForKey(key);
    const auto held = std::find_if(held_.rbegin(), held_.rend(),
                                   [&](const HeldKey& h) { return h.keysym == keysym; });
    if (held == held_.rend()) return {};
    const KeymapStroke stroke = held->stroke;
    held_.erase(std::next(held).base());
    Up(stroke);
    return Synced("failed creating event to release the key");
  }

  Result<void> EnterText(std::string_view utf8) override {
    constexpr char kReason[] = "failed creating event to enter the text";
    const std::vector<Key> keys = KeysForText(utf8);
    if (keys.empty()) return {};
    std::vector<xkb_keysym_t> keysyms;
    keysyms.reserve(keys.size());
    for (const Key& key : keys) {
      keysyms.push_back(KeysymForKey(key));
      if (keysyms.back() == XKB_KEY_NoSymbol) return Error(Failure(kReason));
    }
    // An X client reads the keys by the keymap it has when it reads them:
    // each text keymap waits for it (xwayland_typing.h).
    const std::unique_ptr<XWaylandTyping> x_client = XWaylandTyping::ForFocusedWindow();
    // The text types exactly, without the modifiers held for a chord or a
    // drag: they come back with the chord keymap.
    d_.Modifiers(0, 0);
    Result<void> typed;
    for (size_t sent = 0; typed && sent < keysyms.size();) {
      if (InputStopRequested()) {
        typed = Error(Failure("the daemon is shutting down"));
        break;
      }
      // As many keys as one keymap holds, from `sent` on.
      typed = Prefixed(
          d_.UseTextKeymap({keysyms.begin() + static_cast<ptrdiff_t>(sent), keysyms.end()}),
          kReason);
      if (!typed) break;
      size_t end = sent;
      while (end < keysyms.size() && d_.keymap().Find(keysyms[end])) ++end;
      if (end == sent) {
        typed = Error(Failure(kReason));
        break;
      }
      const uint32_t last = d_.keymap().Find(keysyms[end - 1])->keycode;
      for (size_t in_batch = 1; typed && sent < end; ++sent, ++in_batch) {
        const uint32_t keycode = d_.keymap().Find(keysyms[sent])->keycode;
        d_.Key(keycode, true);
        // An X client's last key stays down until XWayland has it.
        if (!x_client || sent + 1 < end) d_.Key(keycode, false);
        if (in_batch % kEventsPerSync == 0) typed = Prefixed(d_.Sync(), kReason);
      }
      if (typed && x_client) typed = AwaitXClient(*x_client, last, sent, keysyms.size());
    }
    Result<void> back = Prefixed(d_.UseChordKeymap({}), kReason);
    d_.Modifiers(Depressed(0), d_.locked());
    if (back) back = Prefixed(d_.Sync(), kReason);
    return typed ? back : typed;
  }

 private:
  struct HeldKey {
    xkb_keysym_t keysym;
    KeymapStroke stroke;
  };
  static constexpr uint32_t kButtons[] = {BTN_LEFT, BTN_MIDDLE, BTN_RIGHT};

  // The modifiers the held keys hold down; `skip_last` leaves the newest
  // held key out.
  uint32_t Depressed(size_t skip_last) const {
    uint32_t mask = 0;
    for (size_t i = 0; i + skip_last < held_.size(); ++i) {
      mask |= held_[i].stroke.modifiers | held_[i].stroke.sets;
    }
    return mask;
  }

  // A key goes up with its last holder; the modifiers it needed or set go
  // with it.
  void Up(const KeymapStroke& stroke) {
    Release(stroke.keycode);
    if ((stroke.modifiers & kModShift) != 0) {
      if (const std::optional<KeymapStroke> shift = d_.keymap().Find(XKB_KEY_Shift_L)) {
        Release(shift->keycode);
      }
    }
    d_.Modifiers(Depressed(0), d_.locked());
  }
  void Down(uint32_t keycode) {
    if (keys_down_[keycode]++ == 0) d_.Key(keycode, true);
  }
  void Release(uint32_t keycode) {
    if (keys_down_[keycode] > 0 && --keys_down_[keycode] == 0) d_.Key(keycode, false);
  }

  void PostButton(uint32_t code, bool pressed) {
    zwlr_virtual_pointer_v1_button(
        d_.pointer(), NowMs(), code,
        pressed ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED);
    zwlr_virtual_pointer_v1_frame(d_.pointer());
  }

  Result<void> Synced(std::string_view reason) { return Prefixed(d_.Sync(), reason); }

  // After a batch typed with `last` still down: XWayland has handled the
  // keys, the last one is up, and the focused client has read them all.
  Result<void> AwaitXClient(XWaylandTyping& x_client, uint32_t last, size_t sent,
                            size_t total) {
    constexpr char kReason[] = "failed creating event to enter the text";
    if (Result<void> synced = Synced(kReason); !synced) return synced;
    const bool handled = x_client.AwaitKey(last, true, kClientAnswerTimeout);
    d_.Key(last, false);
    if (Result<void> synced = Synced(kReason); !synced) return synced;
    if (!handled || !x_client.AwaitKey(last, false, kClientAnswerTimeout)) {
      return Error(Failure(InputStopRequested() ? "the daemon is shutting down" : kReason));
    }
    switch (x_client.PingFocusedClient(kClientAnswerTimeout)) {
      case PingAnswer::kAnswered:
        return {};
      case PingAnswer::kTakesNoPings:
        // Nothing can prove what such a client has read: it gets the time
        // X11 typing gives it.
        std::this_thread::sleep_for(kXClientCatchUp);
        return {};
      case PingAnswer::kLate:
        return Error("the focused application did not take the keys within " +
                     std::to_string(kClientAnswerTimeout.count()) + " s (" +
                     std::to_string(sent) + " of " + std::to_string(total) +
                     " characters sent)");
      case PingAnswer::kAbandoned:
        break;
    }
    return Error(Failure(InputStopRequested() ? "the daemon is shutting down" : kReason));
  }

  // The input lock, from open to close (a shutdown signal waits for it).
  std::unique_lock<std::mutex> hold_;
  VirtualDevices& d_;
  std::vector<HeldKey> held_;
  std::array<uint16_t, 256> keys_down_{};
  std::array<bool, kMouseButtonCount> buttons_down_{};
  std::optional<PointerPoint> moved_to_;
};

}  // namespace

Result<std::unique_ptr<InputBackend>> OpenInputBackend() {
  std::unique_lock<std::mutex> hold = HoldInputForRequest();
  if (InputStopRequested()) {
    return Error("no connection could be established: (the daemon is shutting down)");
  }
  std::unique_ptr<VirtualDevices>& devices = Devices();
  // A compositor that went away (or stopped answering) leaves devices that
  // no longer exist: they are made again on a new connection.
  if (devices && !devices->Refresh()) devices.reset();
  if (!devices) {
    Result<std::unique_ptr<VirtualDevices>> created = VirtualDevices::Create();
    if (!created) return Error("no connection could be established: (" + created.error() + ")");
    devices = std::move(created).value();
    if (Result<void> described = devices->Refresh(); !described) {
      devices.reset();
      return Error("no connection could be established: (" + described.error() + ")");
    }
  }
  return std::unique_ptr<InputBackend>(std::make_unique<WlrInputBackend>(std::move(hold), *devices));
}

}  // namespace wlr
}  // namespace tarvix
