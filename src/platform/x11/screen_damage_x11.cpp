// Screen damage from the X server's DAMAGE extension: one damage object on
// the root window reporting raw rectangles. Drawing into any window
// damages the root's picture, so one object sees the whole screen without
// following windows as they come and go.
#include <poll.h>
#include <xcb/damage.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "platform/screen_damage.h"
#include "platform/x11/x_connection.h"

namespace tarvix {
namespace {

constexpr char kGone[] = "unavailable: the X server closed the connection";

class XDamageWatch final : public ScreenDamageWatch {
 public:
  XDamageWatch(std::unique_ptr<XConnection> x, xcb_damage_damage_t damage, uint8_t notify,
               XRect main)
      : x_(std::move(x)), damage_(damage), notify_(notify), main_(main) {}
  ~XDamageWatch() override {
    if (x_->broken()) return;
    xcb_damage_destroy(x_->get(), damage_);
    xcb_flush(x_->get());
  }

  // A round trip, then every change reported before it dropped.
  Result<void> Sync() {
    if (Result<void> synced = x_->Sync(); !synced) return synced;
    std::vector<PointRect> dropped;
    Drain(dropped);
    return {};
  }

  Result<std::vector<PointRect>> Next(std::chrono::steady_clock::time_point until) override {
    std::vector<PointRect> changes;
    while (true) {
      Drain(changes);
      if (!changes.empty()) return changes;
      if (x_->broken()) return Error(kGone);
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          until - std::chrono::steady_clock::now());
      if (left.count() <= 0) return changes;
      pollfd fd{xcb_get_file_descriptor(x_->get()), POLLIN, 0};
      const int wait_ms = static_cast<int>(std::min<int64_t>(left.count() + 1, 60'000));
      if (poll(&fd, 1, wait_ms) < 0 && errno != EINTR) return Error(kGone);
    }
  }

 private:
  // Every event already read or readable without waiting.
  void Drain(std::vector<PointRect>& changes) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(x_->get())) {
      if ((event->response_type & 0x7F) == notify_) {
        const auto* damage = reinterpret_cast<const xcb_damage_notify_event_t*>(event);
        changes.push_back(PointRect{int64_t{damage->area.x} - main_.x,
                                    int64_t{damage->area.y} - main_.y, damage->area.width,
                                    damage->area.height});
      }
      free(event);
    }
  }

  std::unique_ptr<XConnection> x_;
  xcb_damage_damage_t damage_;
  uint8_t notify_;
  XRect main_;
};

}  // namespace

// Served through the desktop chooser (platform/desktop_backend.h).
namespace x11 {

Result<std::unique_ptr<ScreenDamageWatch>> WatchScreenDamage() {
  Result<std::unique_ptr<XConnection>> opened = XConnection::Open();
  if (!opened) return Error("unavailable: " + std::move(opened).error());
  std::unique_ptr<XConnection> x = std::move(opened).value();
  Result<const xcb_query_extension_reply_t*> extension = x->Extension(&xcb_damage_id);
  if (!extension) return Error("unavailable: " + std::move(extension).error());
  if (*extension == nullptr || !(*extension)->present) {
    return Error("unavailable: the X server lacks the DAMAGE extension");
  }
  // The extension must be told the client's version before any other use.
  auto version = x->Await<xcb_damage_query_version_reply_t>(
      xcb_damage_query_version(x->get(), XCB_DAMAGE_MAJOR_VERSION, XCB_DAMAGE_MINOR_VERSION));
  if (!version || !*version) return Error("unavailable: the X server's DAMAGE did not answer");
  const XRect main = x->MainDisplay();
  const xcb_damage_damage_t damage = xcb_generate_id(x->get());
  if (!x->Check(xcb_damage_create_checked(x->get(), damage, x->root(),
                                          XCB_DAMAGE_REPORT_LEVEL_RAW_RECTANGLES))) {
    return Error("unavailable: the X server refused to report damage");
  }
  const auto notify = static_cast<uint8_t>((*extension)->first_event + XCB_DAMAGE_NOTIFY);
  auto watch = std::make_unique<XDamageWatch>(std::move(x), damage, notify, main);
  // A new damage object reports its whole drawable at once; that is not a
  // change. Everything the server sent before the round trip's reply has
  // arrived with it, so dropping what is there drops exactly that report.
  if (Result<void> synced = watch->Sync(); !synced) return Error("unavailable: " + synced.error());
  return std::unique_ptr<ScreenDamageWatch>(std::move(watch));
}

}  // namespace x11
}  // namespace tarvix
