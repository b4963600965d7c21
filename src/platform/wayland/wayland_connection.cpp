#include "platform/wayland/wayland_connection.h"

#include <errno.h>
#include <poll.h>
#include <wayland-client.h>

#include <algorithm>
#include <cstring>

#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;

// The newest versions whose events the listeners below handle.
constexpr uint32_t kOutputVersion = 4;
constexpr uint32_t kScreencopyVersion = 3;
constexpr uint32_t kXdgOutputVersion = 3;

const wl_output_listener kOutputListener = {
    .geometry = [](void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                   const char* make, const char* model, int32_t transform) {
      auto* out = static_cast<WaylandOutput*>(data);
      out->geometry.x = x;
      out->geometry.y = y;
      out->geometry.transform = transform;
      if (out->geometry.description.empty()) {
        out->geometry.description = std::string(make ? make : "") + " " + (model ? model : "");
      }
    },
    .mode = [](void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
      if ((flags & WL_OUTPUT_MODE_CURRENT) == 0) return;
      auto* out = static_cast<WaylandOutput*>(data);
      out->geometry.mode_width = width;
      out->geometry.mode_height = height;
    },
    .done = [](void*, wl_output*) {},
    .scale = [](void* data, wl_output*, int32_t factor) {
      static_cast<WaylandOutput*>(data)->geometry.scale = factor;
    },
    .name = [](void* data, wl_output*, const char* name) {
      static_cast<WaylandOutput*>(data)->geometry.name = name ? name : "";
    },
    .description = [](void* data, wl_output*, const char* description) {
      static_cast<WaylandOutput*>(data)->geometry.description = description ? description : "";
    },
};

const zxdg_output_v1_listener kXdgOutputListener = {
    .logical_position = [](void* data, zxdg_output_v1*, int32_t x, int32_t y) {
      auto* out = static_cast<WaylandOutput*>(data);
      out->geometry.has_logical = true;
      out->geometry.logical_x = x;
      out->geometry.logical_y = y;
    },
    .logical_size = [](void* data, zxdg_output_v1*, int32_t width, int32_t height) {
      auto* out = static_cast<WaylandOutput*>(data);
      out->geometry.logical_width = width;
      out->geometry.logical_height = height;
    },
    .done = [](void*, zxdg_output_v1*) {},
    .name = [](void* data, zxdg_output_v1*, const char* name) {
      auto* out = static_cast<WaylandOutput*>(data);
      if (out->geometry.name.empty() && name != nullptr) out->geometry.name = name;
    },
    .description = [](void*, zxdg_output_v1*, const char*) {},
};

}  // namespace

void WaylandConnection::OnGlobal(void* data, wl_registry* registry, uint32_t name,
                                 const char* interface, uint32_t version) {
  auto* self = static_cast<WaylandConnection*>(data);
  const std::string_view kind = interface;
  if (kind == wl_shm_interface.name && self->shm_ == nullptr) {
    self->shm_ = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
  } else if (kind == zwlr_screencopy_manager_v1_interface.name && self->screencopy_ == nullptr) {
    self->screencopy_version_ = std::min(version, kScreencopyVersion);
    self->screencopy_ = static_cast<zwlr_screencopy_manager_v1*>(wl_registry_bind(
        registry, name, &zwlr_screencopy_manager_v1_interface, self->screencopy_version_));
  } else if (kind == zxdg_output_manager_v1_interface.name && self->xdg_outputs_ == nullptr) {
    self->xdg_outputs_ = static_cast<zxdg_output_manager_v1*>(wl_registry_bind(
        registry, name, &zxdg_output_manager_v1_interface, std::min(version, kXdgOutputVersion)));
  } else if (kind == wl_output_interface.name) {
    auto output = std::make_unique<WaylandOutput>();
    output->global = name;
    output->output = static_cast<wl_output*>(
        wl_registry_bind(registry, name, &wl_output_interface, std::min(version, kOutputVersion)));
    wl_output_add_listener(output->output, &kOutputListener, output.get());
    self->outputs_.push_back(std::move(output));
  }
}

Result<std::unique_ptr<WaylandConnection>> WaylandConnection::Open() {
  std::unique_ptr<WaylandConnection> c(new WaylandConnection);
  c->display_ = wl_display_connect(nullptr);
  if (c->display_ == nullptr) return Error(kCompositorUnreachable);
  c->registry_ = wl_display_get_registry(c->display_);
  static const wl_registry_listener listener = {
      .global = &WaylandConnection::OnGlobal,
      .global_remove = [](void*, wl_registry*, uint32_t) {},
  };
  wl_registry_add_listener(c->registry_, &listener, c.get());
  if (Result<void> listed = c->Roundtrip(); !listed) return Error(std::move(listed).error());
  return c;
}

WaylandConnection::~WaylandConnection() {
  for (const auto& output : outputs_) {
    if (output->xdg != nullptr) zxdg_output_v1_destroy(output->xdg);
    if (wl_output_get_version(output->output) >= WL_OUTPUT_RELEASE_SINCE_VERSION) {
      wl_output_release(output->output);
    } else {
      wl_output_destroy(output->output);
    }
  }
  if (xdg_outputs_ != nullptr) zxdg_output_manager_v1_destroy(xdg_outputs_);
  if (screencopy_ != nullptr) zwlr_screencopy_manager_v1_destroy(screencopy_);
  if (shm_ != nullptr) wl_shm_destroy(shm_);
  if (registry_ != nullptr) wl_registry_destroy(registry_);
  if (display_ != nullptr) {
    // Sends the destroy requests without waiting for anything.
    wl_display_flush(display_);
    wl_display_disconnect(display_);
  }
}

Result<void> WaylandConnection::DescribeOutputs() {
  if (xdg_outputs_ != nullptr) {
    for (const auto& output : outputs_) {
      if (output->xdg != nullptr) continue;
      output->xdg = zxdg_output_manager_v1_get_xdg_output(xdg_outputs_, output->output);
      zxdg_output_v1_add_listener(output->xdg, &kXdgOutputListener, output.get());
    }
  }
  // wl_output sends its description on bind, xdg_output on creation: one
  // round trip brings both.
  return Roundtrip();
}

Result<void> WaylandConnection::Dispatch(const std::function<bool()>& done,
                                         std::chrono::milliseconds limit) {
  if (given_up_) return Error(kCompositorSilent);
  const Clock::time_point deadline = Clock::now() + limit;
  const int fd = wl_display_get_fd(display_);
  for (;;) {
    if (wl_display_dispatch_pending(display_) < 0) return Error(kCompositorGone);
    if (done()) return {};
    // Another thread of ours never reads this connection, so a failed
    // prepare only means events are queued: dispatch them first.
    if (wl_display_prepare_read(display_) != 0) continue;
    short events = POLLIN;
    if (wl_display_flush(display_) < 0) {
      if (errno != EAGAIN) {
        wl_display_cancel_read(display_);
        return Error(kCompositorGone);
      }
      events |= POLLOUT;  // the socket is full: wait until it drains too
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd p{fd, events, 0};
    const int ready = left.count() > 0 ? poll(&p, 1, static_cast<int>(left.count())) : 0;
    if (ready < 0 && errno == EINTR) {
      wl_display_cancel_read(display_);
      continue;
    }
    if (ready <= 0) {
      wl_display_cancel_read(display_);
      given_up_ = true;
      return Error(kCompositorSilent);
    }
    if ((p.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
      if (wl_display_read_events(display_) < 0) return Error(kCompositorGone);
    } else {
      wl_display_cancel_read(display_);
    }
  }
}

Result<void> WaylandConnection::Roundtrip() {
  bool synced = false;
  static const wl_callback_listener listener = {
      .done = [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; },
  };
  wl_callback* callback = wl_display_sync(display_);
  wl_callback_add_listener(callback, &listener, &synced);
  Result<void> waited = Dispatch([&] { return synced; });
  wl_callback_destroy(callback);
  return waited;
}

}  // namespace tarvix
