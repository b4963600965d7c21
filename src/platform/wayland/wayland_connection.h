// One connection to the Wayland compositor named by WAYLAND_DISPLAY (in
// XDG_RUNTIME_DIR), through libwayland-client, with the globals the
// wlroots backend uses bound and the outputs described.
//
// A compositor that is stopped (SIGSTOP, a hung frame) answers nothing,
// and libwayland's own round trip waits for ever, so every wait here goes
// through Dispatch: prepare_read, poll with the deadline, read_events,
// dispatch_pending. A connection that missed a deadline is given up: every
// later wait on it fails at once. Not thread-safe: one caller at a time
// (each desktop call opens its own).
#ifndef TARVIX_PLATFORM_WAYLAND_WAYLAND_CONNECTION_H_
#define TARVIX_PLATFORM_WAYLAND_WAYLAND_CONNECTION_H_

#include <cstdint>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/result.h"
#include "platform/wayland/wlr_layout.h"

struct wl_display;
struct wl_registry;
struct wl_shm;
struct wl_output;
struct zwlr_screencopy_manager_v1;
struct zxdg_output_manager_v1;
struct zxdg_output_v1;

namespace tarvix {

// How long the daemon waits for the compositor to answer one exchange.
inline constexpr std::chrono::milliseconds kWaylandReplyDeadline{2000};
// The error of a wait that ran out; callers put their own prefix before it.
inline constexpr char kCompositorSilent[] = "the Wayland compositor did not answer within 2 s";
inline constexpr char kCompositorGone[] = "the Wayland compositor closed the connection";
inline constexpr char kCompositorUnreachable[] =
    "cannot connect to the Wayland compositor (WAYLAND_DISPLAY, XDG_RUNTIME_DIR)";

// One wl_output with what its xdg_output adds.
struct WaylandOutput {
  WaylandOutput() = default;
  WaylandOutput(const WaylandOutput&) = delete;
  WaylandOutput& operator=(const WaylandOutput&) = delete;

  uint32_t global = 0;  // its registry name
  wl_output* output = nullptr;
  zxdg_output_v1* xdg = nullptr;
  OutputGeometry geometry;
};

class WaylandConnection {
 public:
  // Connects and binds wl_shm, zwlr_screencopy_manager_v1 and the outputs
  // (one registry round trip). Fails with kCompositorUnreachable,
  // kCompositorSilent or kCompositorGone.
  static Result<std::unique_ptr<WaylandConnection>> Open();
  ~WaylandConnection();
  WaylandConnection(const WaylandConnection&) = delete;
  WaylandConnection& operator=(const WaylandConnection&) = delete;

  wl_display* display() const { return display_; }
  // Null when the compositor does not offer them.
  wl_shm* shm() const { return shm_; }
  zwlr_screencopy_manager_v1* screencopy() const { return screencopy_; }
  uint32_t screencopy_version() const { return screencopy_version_; }

  // Describes every output: mode, scale, transform, names and (through
  // xdg-output, where offered) the logical rectangle; without xdg-output
  // the logical rectangle is derived from the mode, scale and position.
  Result<void> DescribeOutputs();
  const std::vector<std::unique_ptr<WaylandOutput>>& outputs() const { return outputs_; }

  // Dispatches events until `done` holds, within `limit`. Fails with
  // kCompositorSilent (the connection is then given up) or kCompositorGone
  // (also for a protocol error, which ends a Wayland connection).
  Result<void> Dispatch(const std::function<bool()>& done,
                        std::chrono::milliseconds limit = kWaylandReplyDeadline);
  // Every request sent so far has been handled and its events dispatched.
  Result<void> Roundtrip();

 private:
  WaylandConnection() = default;
  static void OnGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version);

  wl_display* display_ = nullptr;
  wl_registry* registry_ = nullptr;
  wl_shm* shm_ = nullptr;
  zwlr_screencopy_manager_v1* screencopy_ = nullptr;
  uint32_t screencopy_version_ = 0;
  zxdg_output_manager_v1* xdg_outputs_ = nullptr;
  std::vector<std::unique_ptr<WaylandOutput>> outputs_;
  bool given_up_ = false;
};

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_WAYLAND_WAYLAND_CONNECTION_H_
