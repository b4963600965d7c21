// The input backend on X11: XTest fake input on a fresh connection per
// request, with keys found in the server's current keyboard map.
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>

#include "platform/input_backend.h"
#include "platform/input_stop.h"
#include "platform/x11/x_connection.h"
#include "platform/x11/x_input_ledger.h"
#include "platform/x11/x_key_levels.h"
#include "platform/x11/x_keymap.h"
#include "platform/x11/x_keysyms.h"
#include "platform/x11/x_lent_keycodes.h"
#include "platform/x11/x_sync.h"
#include "platform/x11/xsettings.h"

namespace tarvix {

const char kInputUnavailableHint[] =
    " (Linux: set DISPLAY, and XAUTHORITY if needed, to the desktop session)";

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kKeyPause(20);
constexpr milliseconds kTextPause(2);
// Between the presses of a chord: a window manager misses a binding
// (openbox its alt+Tab) whose modifier and key go down back to back.
constexpr milliseconds kChordPause(2);
constexpr milliseconds kServerTimeout = kXReplyDeadline;
// The double-click time and distance toolkits use when the session
// publishes none.
constexpr milliseconds kDefaultDoubleClickTime(400);
constexpr int32_t kDefaultDoubleClickDistance = 5;
// One wheel line is one button click on X; this bounds what a single
// request can post (a 32-bit amount would otherwise keep the input thread
// busy for hours).
constexpr int64_t kMaxScrollLines = 1000;

std::string Failure(std::string_view reason) {
  return "simulating input failed: (" + std::string(reason) + ")";
}

// StrokeFor's error when lending a keycode failed; LentKeycodes says why.
constexpr char kLendFailed[] = "lend failed";

// The core modifier masks of one stroke, lowest bit first.
template <typename Visit>
void ForEachModifier(xkb_mod_mask_t mask, Visit visit) {
  for (int index = 0; index < 8; ++index) {
    if ((mask & (1u << index)) != 0) visit(index);
  }
}

class XTestInputBackend : public InputBackend {
 public:
  XTestInputBackend(std::unique_lock<std::mutex> hold, std::unique_ptr<XConnection> x)
      : hold_(std::move(hold)), x_(std::move(x)), ledger_(x_->get(), x_->root()) {}

  ~XTestInputBackend() override {
    ReleaseEverything();
    lent_.reset();  // gives lent keycodes back before the connection goes
    // The server may drop what a client sent just before it hung up: one
    // round trip makes sure the record is gone.
    if (ledger_.Clear()) (void)XSyncWithin(c(), kServerTimeout);
  }

  // Undoes what a daemon that died mid-request left on the keyboard.
  bool RestoreLeftovers() { return ledger_.RestoreLeftovers(); }

  ClickTiming click_timing() override {
    if (!timing_) {
      const std::string settings = ReadXSettings(*x_);
      const std::optional<int32_t> ms = FindXSettingsInteger(settings, "Net/DoubleClickTime");
      const std::optional<int32_t> distance =
          FindXSettingsInteger(settings, "Net/DoubleClickDistance");
      timing_ = ClickTiming{ms && *ms > 0 ? milliseconds(*ms) : kDefaultDoubleClickTime, true,
                            distance && *distance >= 0 ? *distance : kDefaultDoubleClickDistance};
    }
    return *timing_;
  }

  std::optional<PointerPoint> QueryPointer() override {
    if (!origin_) origin_ = x_->MainDisplay();
    const xcb_query_pointer_cookie_t cookie = xcb_query_pointer(c(), x_->root());
    // The round trip bounds the wait; the pointer's reply comes before it.
    if (!XSyncWithin(c(), kServerTimeout)) {
      xcb_discard_reply(c(), cookie.sequence);
      return std::nullopt;
    }
    XcbReply<xcb_query_pointer_reply_t> reply(xcb_query_pointer_reply(c(), cookie, nullptr));
    if (!reply) return std::nullopt;
    return PointerPoint{reply->root_x - origin_->x, reply->root_y - origin_->y};
  }

  Result<void> MovePointer(int32_t x, int32_t y) override {
    if (!origin_) origin_ = x_->MainDisplay();
    if (x_->severed()) return Error(Failure("failed creating event to move the mouse"));
    // Root coordinates are 16-bit in the protocol; the server keeps the
    // pointer on the screen anyway.
    const auto root_x = static_cast<int16_t>(std::clamp<int64_t>(
        static_cast<int64_t>(x) + origin_->x, INT16_MIN, INT16_MAX));
    const auto root_y = static_cast<int16_t>(std::clamp<int64_t>(
        static_cast<int64_t>(y) + origin_->y, INT16_MIN, INT16_MAX));
    xcb_test_fake_input(c(), XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, x_->root(), root_x, root_y,
                        0);
    return Synced("failed creating event to move the mouse");
  }

  Result<void> ClickButton(MouseButton button, int64_t /*click_count*/) override {
    // X events carry no click state: clients count clicks from timing.
    PostButton(kButtons[static_cast<size_t>(button)], 1);
    return Synced("failed creating event to enter mouse button");
  }

  Result<void> Scroll(int32_t length, ScrollAxis axis) override {
    const bool vertical = axis == ScrollAxis::kVertical;
    const uint8_t button = length > 0 ? (vertical ? 5 : 7) : (vertical ? 4 : 6);
    const int64_t lines = std::min(std::abs(static_cast<int64_t>(length)), kMaxScrollLines);
    PostButton(button, lines);
    return Synced("failed creating event to scroll");
  }

  Result<void> ClickKey(const Key& key) override {
    const xkb_keysym_t keysym = KeysymForKey(key);
    if (key.is_character && key.character == 0) return {};
    Result<KeyStroke> stroke = StrokeFor(keysym, true);
    if (!stroke) return Error(TypingFailure("failed creating event to press the key", 0, 1));
    if (lent_) lent_->SendMappings();
    std::this_thread::sleep_for(kKeyPause);
    PressModifiers(stroke->modifiers, XCB_KEY_PRESS);
    PostKey(XCB_KEY_PRESS, stroke->keycode);
    if (!XSyncWithin(c(), kServerTimeout)) {
      return Error(Failure("failed creating event to press the key"));
    }
    std::this_thread::sleep_for(kKeyPause);
    PostKey(XCB_KEY_RELEASE, stroke->keycode);
    PressModifiers(stroke->modifiers, XCB_KEY_RELEASE);
    if (Result<void> synced = Synced("failed creating event to release the key"); !synced) {
      return synced;
    }
    if (lent_ && !lent_->GiveBack()) {
      return Error(LendFailure("failed creating event to release the key", 1, 1));
    }
    return {};
  }

  Result<void> PressButton(MouseButton button) override {
    const uint8_t code = kButtons[static_cast<size_t>(button)];
    if (!buttons_down_[code]) {
      buttons_down_[code] = true;
      ledger_.RecordHeldButton(code);
      xcb_test_fake_input(c(), XCB_BUTTON_PRESS, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
    return Synced("failed creating event to press mouse button");
  }

  Result<void> ReleaseButton(MouseButton button) override {
    const uint8_t code = kButtons[static_cast<size_t>(button)];
    if (!buttons_down_[code]) return {};
    buttons_down_[code] = false;
    xcb_test_fake_input(c(), XCB_BUTTON_RELEASE, code, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    return Synced("failed creating event to release mouse button");
  }

  Result<void> PressKey(const Key& key) override {
    constexpr char kReason[] = "failed creating event to press the key";
    const xkb_keysym_t keysym = KeysymForKey(key);
    Result<KeyStroke> stroke = StrokeFor(keysym, true);
    if (!stroke) return Error(TypingFailure(kReason, 0, 1));
    // Clients read a new mapping from the events that announce it, in
    // order, before the key: the pause only spares them a burst.
    if (lent_ && lent_->SendMappings()) {
      std::this_thread::sleep_for(kKeyPause);
    } else if (!held_.empty()) {
      std::this_thread::sleep_for(kChordPause);
    }
    held_.push_back(HeldKey{keysym, *stroke});
    ForEachModifier(stroke->modifiers, [&](int index) { Down(keymap_->ModifierKey(index)); });
    Down(static_cast<xcb_keycode_t>(stroke->keycode));
    return Synced(kReason);
  }

  Result<void> ReleaseKey(const Key& key) override {
    constexpr char kReason[] = "failed creating event to release the key";
    const xkb_keysym_t keysym = KeysymForKey(key);
    const auto held = std::find_if(held_.rbegin(), held_.rend(),
                                   [&](const HeldKey& h) { return h.keysym == keysym; });
    if (held == held_.rend()) return {};
    const KeyStroke stroke = held->stroke;
    held_.erase(std::next(held).base());
    UpWithModifiers(stroke);
    if (Result<void> synced = Synced(kReason); !synced) return synced;
    // Lent keycodes go back once no held key needs them.
    if (held_.empty() && lent_ && !lent_->GiveBack()) return Error(LendFailure(kReason, 1, 1));
    return {};
  }

  Result<void> EnterText(std::string_view utf8) override {
    const std::vector<Key> keys = KeysForText(utf8);
    if (keys.empty()) return {};
    constexpr char kReason[] = "failed creating event to enter the text";
    // In batches: as many keys as the lent keycodes carry without waiting
    // for clients, their map changes sent together, then their keys.
    std::vector<KeyStroke> batch;
    for (size_t sent = 0; sent < keys.size(); sent += batch.size()) {
      if (InputStopRequested()) return Error(Failure("the daemon is shutting down"));
      batch.clear();
      while (sent + batch.size() < keys.size()) {
        const Key& key = keys[sent + batch.size()];
        Result<KeyStroke> stroke = StrokeFor(KeysymForKey(key), batch.empty());
        if (stroke) {
          batch.push_back(*stroke);
        } else if (batch.empty() || !lent_ ||
                   lent_->failure() != LentKeycodes::Failure::kAllInUse) {
          return Error(TypingFailure(kReason, sent, keys.size()));
        } else {
          break;
        }
      }
      if (lent_) lent_->SendMappings();
      for (const KeyStroke& stroke : batch) {
        PressModifiers(stroke.modifiers, XCB_KEY_PRESS);
        PostKey(XCB_KEY_PRESS, stroke.keycode);
        PostKey(XCB_KEY_RELEASE, stroke.keycode);
        PressModifiers(stroke.modifiers, XCB_KEY_RELEASE);
      }
    }
    Result<void> synced = Synced(kReason);
    if (synced && lent_ && !lent_->GiveBack()) {
      synced = Error(LendFailure(kReason, keys.size(), keys.size()));
    }
    std::this_thread::sleep_for(kTextPause);
    return synced;
  }

 private:
  xcb_connection_t* c() const { return x_->get(); }

  struct HeldKey {
    xkb_keysym_t keysym;
    KeyStroke stroke;
  };
  static constexpr uint8_t kButtons[] = {1, 2, 3};

  // Keycodes go down with their first holder and up with their last.
  void Down(xcb_keycode_t keycode) {
    if (keys_down_[keycode]++ == 0) PostKey(XCB_KEY_PRESS, keycode);
  }
  void Up(xcb_keycode_t keycode) {
    if (keys_down_[keycode] == 0) return;
    if (--keys_down_[keycode] == 0) PostKey(XCB_KEY_RELEASE, keycode);
  }

  void UpWithModifiers(const KeyStroke& stroke) {
    Up(static_cast<xcb_keycode_t>(stroke.keycode));
    for (int index = 7; index >= 0; --index) {
      if ((stroke.modifiers & (1u << index)) != 0) Up(keymap_->ModifierKey(index));
    }
  }

  // What a closing backend still holds goes up: keys before the lent
  // keycodes go back, buttons last.
  void ReleaseEverything() {
    bool posted = !held_.empty();
    while (!held_.empty()) {
      const KeyStroke stroke = held_.back().stroke;
      held_.pop_back();
      UpWithModifiers(stroke);
    }
    held_.clear();
    for (size_t code = 0; code < buttons_down_.size(); ++code) {
      if (!buttons_down_[code]) continue;
      posted = true;
      buttons_down_[code] = false;
      xcb_test_fake_input(c(), XCB_BUTTON_RELEASE, static_cast<uint8_t>(code), XCB_CURRENT_TIME,
                          XCB_NONE, 0, 0, 0);
    }
    if (posted) (void)XSyncWithin(c(), kServerTimeout);
  }

  // Why typing failed after `sent` of `total` keys were sent.
  std::string TypingFailure(std::string_view reason, size_t sent, size_t total) const {
    return lend_failed_ ? LendFailure(reason, sent, total) : Failure(reason);
  }
  std::string LendFailure(std::string_view reason, size_t sent, size_t total) const {
    switch (lent_->failure()) {
      case LentKeycodes::Failure::kClientLate:
        return "the focused application did not take the keys within " +
               std::to_string(kClientAnswerTimeout.count()) + " s (" + std::to_string(sent) +
               " of " + std::to_string(total) + " characters sent)";
      case LentKeycodes::Failure::kStopped:
        return Failure("the daemon is shutting down");
      case LentKeycodes::Failure::kNoSpareKeycode:
      case LentKeycodes::Failure::kServerFailed:
      case LentKeycodes::Failure::kAllInUse:
        break;
    }
    return Failure(reason);
  }

  Result<void> Synced(std::string_view reason) {
    if (XSyncWithin(c(), kServerTimeout)) return {};
    return Error(Failure(reason));
  }

  void PostButton(uint8_t button, int64_t clicks) {
    for (int64_t i = 0; i < clicks; ++i) {
      xcb_test_fake_input(c(), XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
      xcb_test_fake_input(c(), XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
    }
  }

  void PostKey(uint8_t type, xkb_keycode_t keycode) {
    if (type == XCB_KEY_PRESS) ledger_.RecordHeld(static_cast<xcb_keycode_t>(keycode));
    xcb_test_fake_input(c(), type, static_cast<uint8_t>(keycode), XCB_CURRENT_TIME, XCB_NONE, 0,
                        0, 0);
  }

  // Presses the modifiers in order, releases them in reverse.
  void PressModifiers(xkb_mod_mask_t mask, uint8_t type) {
    if (type == XCB_KEY_PRESS) {
      ForEachModifier(mask, [&](int index) { PostKey(type, keymap_->ModifierKey(index)); });
    } else {
      for (int index = 7; index >= 0; --index) {
        if ((mask & (1u << index)) != 0) PostKey(type, keymap_->ModifierKey(index));
      }
    }
  }

  // The key and modifiers that type `keysym` now: from the keyboard map
  // (read on first use), else a lent spare keycode.
  Result<KeyStroke> StrokeFor(xkb_keysym_t keysym, bool may_wait) {
    if (keysym == XKB_KEY_NoSymbol) return Error("no keysym");
    if (!keymap_) {
      // xkbcommon reads the map in blocking round trips: bounded by
      // severing the connection.
      Result<std::unique_ptr<XKeymap>> loaded = x_->Bounded([&] { return XKeymap::Load(c()); });
      if (x_->severed()) return Error(kXServerSilent);
      if (!loaded) return Error(std::move(loaded).error());
      keymap_ = std::move(loaded).value();
    }
    auto found = found_.find(keysym);
    if (found == found_.end()) found = found_.emplace(keysym, keymap_->Find(keysym)).first;
    if (found->second) return *found->second;
    constexpr xkb_mod_mask_t kShift = 1;
    if (!lent_) {
      // Four keysyms per keycode where the map has a level-3 key and the
      // four-level type, Shift can be pressed, and Caps Lock is off (the
      // type ignores it, so clients would capitalise).
      std::optional<FourLevels> four_levels;
      if (keymap_->level_three() != 0 && keymap_->ModifierKey(0) != 0 &&
          !keymap_->caps_locked()) {
        four_levels = FindFourLevels(c(), keymap_->level_three());
      }
      lent_ = std::make_unique<LentKeycodes>(c(), x_->root(), keymap_->Spare(), &ledger_,
                                             four_levels);
      level_three_ = four_levels ? four_levels->level_three : 0;
    }
    const std::optional<LentKeycodes::Lent> lent = lent_->Lend(keysym, may_wait);
    if (!lent) {
      lend_failed_ = lent_->failure() != LentKeycodes::Failure::kAllInUse;
      return Error(kLendFailed);
    }
    if (level_three_ != 0) {
      return KeyStroke{lent->keycode, ((lent->level & 1) != 0 ? kShift : 0) |
                                          ((lent->level & 2) != 0 ? level_three_ : 0)};
    }
    // The lent keycode behaves like a letter key: Shift or Caps Lock, not
    // both, selects its second level.
    const bool shift = (lent->level == 1) != keymap_->caps_locked() && keymap_->ModifierKey(0) != 0;
    return KeyStroke{lent->keycode, shift ? kShift : 0};
  }

  // The input lock, from open to close (a shutdown signal waits for it).
  std::unique_lock<std::mutex> hold_;
  std::unique_ptr<XConnection> x_;
  XInputLedger ledger_;
  bool lend_failed_ = false;
  std::optional<ClickTiming> timing_;
  std::optional<XRect> origin_;
  std::unique_ptr<XKeymap> keymap_;
  // Keymap search results by keysym; nullopt where a keycode must be lent.
  std::unordered_map<xkb_keysym_t, std::optional<KeyStroke>> found_;
  std::unique_ptr<LentKeycodes> lent_;
  // Keys pressed and not yet released, in press order; how many holders
  // each keycode has; which buttons are down.
  std::vector<HeldKey> held_;
  std::array<uint16_t, 256> keys_down_{};
  std::array<bool, 6> buttons_down_{};
  // The modifier of the lent keycodes' third level; 0 on two levels.
  xkb_mod_mask_t level_three_ = 0;
};

}  // namespace

namespace {

// The open error for a connection that failed; a silent server is named
// after the display it did not open, with the wait that ran out.
std::string OpenFailure(const std::string& error) {
  if (error == kXServerSilent) {
    return std::string("no connection could be established: (cannot open the X display)") +
           kInputServerSilent;
  }
  return "no connection could be established: (" + error + ")";
}

}  // namespace

// Served through the desktop chooser (platform/desktop_backend.h).
namespace x11 {

Result<std::unique_ptr<InputBackend>> OpenInputBackend() {
  std::unique_lock<std::mutex> hold = HoldInputForRequest();
  if (InputStopRequested()) {
    return Error("no connection could be established: (the daemon is shutting down)");
  }
  Result<std::unique_ptr<XConnection>> x = XConnection::Open();
  if (!x) return Error(OpenFailure(x.error()));
  const Result<const xcb_query_extension_reply_t*> xtest = (*x)->Extension(&xcb_test_id);
  if (!xtest) return Error(OpenFailure(xtest.error()));
  if (*xtest == nullptr || (*xtest)->present == 0) {
    return Error("no connection could be established: (the X server lacks the XTEST extension)");
  }
  auto backend = std::make_unique<XTestInputBackend>(std::move(hold), std::move(x).value());
  // A server too slow to answer here fails the request's own steps soon.
  (void)backend->RestoreLeftovers();
  return std::unique_ptr<InputBackend>(std::move(backend));
}

}  // namespace x11
}  // namespace tarvix
