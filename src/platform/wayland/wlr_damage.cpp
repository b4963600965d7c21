#include "platform/wayland/wlr_damage.h"

#include <errno.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>
#include <vector>

#include "platform/wayland/wayland_connection.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"

namespace tarvix::wlr {
namespace {

using Clock = std::chrono::steady_clock;

// Frames the compositor refused in a row before the watch gives up (one
// may fail while an output changes its mode; the next gets a new buffer).
constexpr int kMaxFailedFrames = 3;

std::string Unavailable(std::string_view reason) { return "unavailable: " + std::string(reason); }

class WlrDamageWatch;

// A frame's worth of shared memory the compositor copies into.
struct SharedFrame {
  wl_buffer* buffer = nullptr;
  uint8_t* pixels = nullptr;
  size_t size = 0;

  SharedFrame() = default;
  SharedFrame(const SharedFrame&) = delete;
  SharedFrame& operator=(const SharedFrame&) = delete;
  ~SharedFrame() { Release(); }
  void Release() {
    if (buffer != nullptr) wl_buffer_destroy(buffer);
    if (pixels != nullptr) munmap(pixels, size);
    buffer = nullptr;
    pixels = nullptr;
  }
};

// One output's frames: the frame in flight and the two buffers it copies
// into by turns.
struct OutputFrames {
  WlrDamageWatch* watch = nullptr;
  const WaylandOutput* output = nullptr;
  zwlr_screencopy_frame_v1* frame = nullptr;
  SharedFrame shared[2];
  size_t next = 0;             // the buffer of the frame in flight
  bool have_previous = false;  // the other one holds the frame before
  uint32_t format = 0, width = 0, height = 0, stride = 0;
  uint32_t bytes_per_pixel = 0;  // 0: a format whose pixels are not compared
  // The offer of the frame in flight, once the compositor made it.
  bool offered = false;
  uint32_t offer_format = 0, offer_width = 0, offer_height = 0, offer_stride = 0;
  uint32_t flags = 0;
  int failed_in_a_row = 0;
  // When the frame in flight was asked for; the next one waits until
  // kDamageFrameInterval after it.
  Clock::time_point asked_at;
  // Frames completed since the watch began.
  uint64_t frames = 0;
  std::vector<PixelBox> damage;  // told for the frame in flight
  std::vector<PixelBox> changed;  // of completed frames, not yet reported

  ~OutputFrames() {
    if (frame != nullptr) zwlr_screencopy_frame_v1_destroy(frame);
  }
};

class WlrDamageWatch final : public ScreenDamageWatch {
 public:
  explicit WlrDamageWatch(std::unique_ptr<WaylandConnection> c) : c_(std::move(c)) {}

  // Starts a frame on every output and waits for the first of each, the
  // pixels later frames are compared with (the compositor tells a new
  // watch the whole output as damage, which is no change).
  Result<void> Start() {
    if (c_->screencopy_version() < 2) {
      return Error(Unavailable(
          "the Wayland compositor's screencopy reports no damage (version 2 is needed)"));
    }
    std::vector<OutputGeometry> geometry;
    for (const auto& output : c_->outputs()) geometry.push_back(output->geometry);
    const std::optional<size_t> main = MainOutput(geometry);
    if (!main) return Error(Unavailable("the Wayland compositor has no output"));
    main_ = LogicalRect(geometry[*main]);
    for (const auto& output : c_->outputs()) {
      auto frames = std::make_unique<OutputFrames>();
      frames->watch = this;
      frames->output = output.get();
      outputs_.push_back(std::move(frames));
    }
    for (auto& frames : outputs_) Ask(*frames);
    Result<void> first = c_->Dispatch([&] {
      return std::all_of(outputs_.begin(), outputs_.end(),
                         [](const auto& frames) { return frames->frames > 0; }) ||
             !error_.empty();
    });
    if (!first) return Error(Unavailable(first.error()));
    if (!error_.empty()) return Error(error_);
    for (auto& frames : outputs_) frames->changed.clear();
    return {};
  }

  Result<std::vector<PointRect>> Next(Clock::time_point until) override {
    std::vector<PointRect> changes;
    while (true) {
      if (!error_.empty()) return Error(error_);
      Clock::time_point next_ask = Clock::time_point::max();
      for (auto& frames : outputs_) {
        for (const PixelBox& box : frames->changed) {
          changes.push_back(DamageInGlobalPoints(box, frames->width, frames->height,
                                                 frames->output->geometry, main_));
        }
        frames->changed.clear();
        if (frames->frame == nullptr) {
          const Clock::time_point at = frames->asked_at + kDamageFrameInterval;
          if (Clock::now() >= at) {
            Ask(*frames);
          } else {
            next_ask = std::min(next_ask, at);
          }
        }
      }
      if (!changes.empty()) return changes;
      const Clock::time_point now = Clock::now();
      if (now >= until) return changes;
      if (Result<void> waited = Wait(std::min(until, next_ask)); !waited) {
        return Error(std::move(waited).error());
      }
    }
  }

 private:
  static const zwlr_screencopy_frame_v1_listener kListener;

  static OutputFrames& Of(void* data) { return *static_cast<OutputFrames*>(data); }

  // Asks for the output's next frame. Its offer and its damage come as
  // events; the copy is asked for once the offer is complete.
  void Ask(OutputFrames& frames) {
    frames.frame = zwlr_screencopy_manager_v1_capture_output(c_->screencopy(), 0,
                                                             frames.output->output);
    frames.offered = false;
    frames.flags = 0;
    frames.damage.clear();
    frames.asked_at = Clock::now();
    zwlr_screencopy_frame_v1_add_listener(frames.frame, &kListener, &frames);
  }

  // The offer is complete: copies into the output's next buffer; both are
  // made anew when the offer no longer fits them.
  void Copy(OutputFrames& frames) {
    if (!frames.offered) {
      error_ = Unavailable("the Wayland compositor offers the screen in no shared memory format");
      return;
    }
    if (frames.format != frames.offer_format || frames.width != frames.offer_width ||
        frames.height != frames.offer_height || frames.stride != frames.offer_stride) {
      for (SharedFrame& shared : frames.shared) shared.Release();
      frames.have_previous = false;
      frames.format = frames.offer_format;
      frames.width = frames.offer_width;
      frames.height = frames.offer_height;
      frames.stride = frames.offer_stride;
      const std::optional<PixelLayout> layout = ShmFormatLayout(frames.format);
      frames.bytes_per_pixel = layout ? layout->bits_per_pixel / 8 : 0;
      if (frames.bytes_per_pixel != 0 &&
          size_t{frames.width} * frames.bytes_per_pixel > frames.stride) {
        frames.bytes_per_pixel = 0;
      }
    }
    SharedFrame& shared = frames.shared[frames.next];
    if (shared.buffer == nullptr) {
      const size_t size = size_t{frames.stride} * frames.height;
      if (size == 0 || size > INT32_MAX || !Allocate(shared, size, frames)) {
        error_ = Unavailable("cannot allocate shared memory for watching the screen");
        return;
      }
    }
    zwlr_screencopy_frame_v1_copy_with_damage(frames.frame, shared.buffer);
  }

  bool Allocate(SharedFrame& shared, size_t size, const OutputFrames& frames) {
    const int fd = memfd_create("tarvix-agentd-damage", MFD_CLOEXEC);
    if (fd < 0) return false;
    void* memory = MAP_FAILED;
    if (ftruncate(fd, static_cast<off_t>(size)) == 0) {
      memory = mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    }
    if (memory == MAP_FAILED) {
      close(fd);
      return false;
    }
    shared.pixels = static_cast<uint8_t*>(memory);
    shared.size = size;
    wl_shm_pool* pool = wl_shm_create_pool(c_->shm(), fd, static_cast<int32_t>(size));
    close(fd);  // the request carries its own copy
    shared.buffer = wl_shm_pool_create_buffer(
        pool, 0, static_cast<int32_t>(frames.width), static_cast<int32_t>(frames.height),
        static_cast<int32_t>(frames.stride), frames.format);
    wl_shm_pool_destroy(pool);  // the buffer keeps the memory
    return true;
  }

  // Where the frame just copied differs from the one before, within what
  // the compositor told. Without a frame before, or for pixels this
  // daemon cannot compare, what the compositor told counts as it is.
  void Compare(OutputFrames& frames) {
    const uint8_t* after = frames.shared[frames.next].pixels;
    const uint8_t* before = frames.shared[1 - frames.next].pixels;
    const bool inverted = (frames.flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
    for (PixelBox box : frames.damage) {
      // Clipped to the frame: a compositor's box may overhang it.
      if (box.x >= frames.width || box.y >= frames.height) continue;
      box.w = std::min(box.w, frames.width - box.x);
      box.h = std::min(box.h, frames.height - box.y);
      if (!frames.have_previous || frames.bytes_per_pixel == 0) {
        frames.changed.push_back(box);
        continue;
      }
      // Rows of an inverted frame run bottom up.
      if (inverted) box.y = frames.height - box.y - box.h;
      for (PixelBox tile : ChangedTiles(before, after, frames.stride, frames.bytes_per_pixel, box)) {
        if (inverted) tile.y = frames.height - tile.y - tile.h;
        frames.changed.push_back(tile);
      }
    }
  }

  void Finish(OutputFrames& frames, bool ready) {
    zwlr_screencopy_frame_v1_destroy(frames.frame);
    frames.frame = nullptr;
    if (ready) {
      ++frames.frames;
      frames.failed_in_a_row = 0;
      Compare(frames);
      frames.have_previous = frames.bytes_per_pixel != 0;
      frames.next = 1 - frames.next;
    } else if (++frames.failed_in_a_row >= kMaxFailedFrames) {
      error_ = Unavailable("the Wayland compositor could not copy the screen");
    } else {
      // Perhaps the output changed its mode: the next offer tells.
      frames.format = 0;
    }
    frames.damage.clear();
  }

  // Reads and handles the compositor's events until `until`. A frame may
  // rightly wait for as long as nothing changes, so no answer by then is
  // no failure here; a compositor gone is.
  Result<void> Wait(Clock::time_point until) {
    wl_display* display = c_->display();
    while (true) {
      if (wl_display_dispatch_pending(display) < 0) return Error(Unavailable(kCompositorGone));
      if (wl_display_prepare_read(display) != 0) continue;
      short events = POLLIN;
      if (wl_display_flush(display) < 0) {
        if (errno != EAGAIN) {
          wl_display_cancel_read(display);
          return Error(Unavailable(kCompositorGone));
        }
        events |= POLLOUT;
      }
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
      pollfd p{wl_display_get_fd(display), events, 0};
      const int ready =
          left > 0 ? poll(&p, 1, static_cast<int>(std::min<int64_t>(left, 60'000))) : 0;
      if (ready <= 0) {
        wl_display_cancel_read(display);
        if (ready < 0 && errno == EINTR) continue;
        return {};
      }
      if ((p.revents & (POLLIN | POLLHUP | POLLERR)) == 0) {
        wl_display_cancel_read(display);
        continue;
      }
      if (wl_display_read_events(display) < 0) return Error(Unavailable(kCompositorGone));
      if (wl_display_dispatch_pending(display) < 0) return Error(Unavailable(kCompositorGone));
      return {};
    }
  }

  std::unique_ptr<WaylandConnection> c_;
  std::vector<std::unique_ptr<OutputFrames>> outputs_;
  PointRect main_;
  // Set by a listener: the complete message the watch now fails with.
  std::string error_;
};

const zwlr_screencopy_frame_v1_listener WlrDamageWatch::kListener = {
    .buffer = [](void* data, zwlr_screencopy_frame_v1* frame, uint32_t format, uint32_t width,
                 uint32_t height, uint32_t stride) {
      OutputFrames& frames = Of(data);
      if (frames.offered) return;  // the first shared memory format will do
      frames.offered = true;
      frames.offer_format = format;
      frames.offer_width = width;
      frames.offer_height = height;
      frames.offer_stride = stride;
      // Before version 3 this one offer is all; from 3 on buffer_done ends them.
      if (zwlr_screencopy_frame_v1_get_version(frame) < 3) {
        frames.watch->Copy(frames);
      }
    },
    .flags = [](void* data, zwlr_screencopy_frame_v1*, uint32_t flags) { Of(data).flags = flags; },
    .ready = [](void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {
      Of(data).watch->Finish(Of(data), true);
    },
    .failed = [](void* data, zwlr_screencopy_frame_v1*) { Of(data).watch->Finish(Of(data), false); },
    .damage = [](void* data, zwlr_screencopy_frame_v1*, uint32_t x, uint32_t y, uint32_t width,
                 uint32_t height) {
      OutputFrames& frames = Of(data);
      // A bound on what one frame may report: past it, the boxes' union.
      if (frames.damage.size() >= 64) {
        PixelBox& all = frames.damage.front();
        const uint32_t right = std::max(all.x + all.w, x + width);
        const uint32_t bottom = std::max(all.y + all.h, y + height);
        all.x = std::min(all.x, x);
        all.y = std::min(all.y, y);
        all.w = right - all.x;
        all.h = bottom - all.y;
        return;
      }
      frames.damage.push_back({x, y, width, height});
    },
    .linux_dmabuf = [](void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {},
    .buffer_done = [](void* data, zwlr_screencopy_frame_v1*) { Of(data).watch->Copy(Of(data)); },
};

}  // namespace

std::vector<PixelBox> ChangedTiles(const uint8_t* before, const uint8_t* after, size_t stride,
                                   uint32_t bytes_per_pixel, const PixelBox& area) {
  std::vector<PixelBox> tiles;
  const uint32_t right = area.x + area.w, bottom = area.y + area.h;
  for (uint32_t top = area.y; top < bottom; top = (top / kDamageTile + 1) * kDamageTile) {
    const uint32_t band_bottom = std::min(bottom, (top / kDamageTile + 1) * kDamageTile);
    for (uint32_t left = area.x; left < right; left = (left / kDamageTile + 1) * kDamageTile) {
      const uint32_t tile_right = std::min(right, (left / kDamageTile + 1) * kDamageTile);
      const size_t offset = size_t{left} * bytes_per_pixel;
      const size_t length = size_t{tile_right - left} * bytes_per_pixel;
      for (uint32_t row = top; row < band_bottom; ++row) {
        const size_t at = size_t{row} * stride + offset;
        if (std::memcmp(before + at, after + at, length) != 0) {
          tiles.push_back({left, top, tile_right - left, band_bottom - top});
          break;
        }
      }
    }
  }
  return tiles;
}

PointRect DamageInGlobalPoints(const PixelBox& frame_box, uint32_t frame_width,
                               uint32_t frame_height, const OutputGeometry& output,
                               const PointRect& main) {
  const PointRect logical = LogicalRect(output);
  if (frame_width == 0 || frame_height == 0 || logical.w <= 0) {
    return {logical.x - main.x, logical.y - main.y, logical.w, logical.h};
  }
  // The frame holds the output's pixels before its transform turns them.
  const PixelBox box = TurnBox(frame_box, output.transform, frame_width, frame_height);
  const uint32_t screen_width = SwapsSides(output.transform) ? frame_height : frame_width;
  const double per_point = static_cast<double>(screen_width) / static_cast<double>(logical.w);
  const auto down = [&](uint64_t pixels) {
    return static_cast<int64_t>(std::floor(static_cast<double>(pixels) / per_point));
  };
  const auto up = [&](uint64_t pixels) {
    return static_cast<int64_t>(std::ceil(static_cast<double>(pixels) / per_point));
  };
  const int64_t left = down(box.x), top = down(box.y);
  const int64_t right = up(uint64_t{box.x} + box.w), bottom = up(uint64_t{box.y} + box.h);
  return {logical.x + left - main.x, logical.y + top - main.y, right - left, bottom - top};
}

Result<std::unique_ptr<ScreenDamageWatch>> WatchScreenDamage() {
  Result<std::unique_ptr<WaylandConnection>> opened = WaylandConnection::Open();
  if (!opened) return Error(Unavailable(opened.error()));
  std::unique_ptr<WaylandConnection> c = std::move(opened).value();
  if (c->screencopy() == nullptr || c->shm() == nullptr) {
    return Error(Unavailable("the Wayland compositor no longer offers wlroots screencopy"));
  }
  if (Result<void> described = c->DescribeOutputs(); !described) {
    return Error(Unavailable(described.error()));
  }
  auto watch = std::make_unique<WlrDamageWatch>(std::move(c));
  if (Result<void> started = watch->Start(); !started) return Error(std::move(started).error());
  return std::unique_ptr<ScreenDamageWatch>(std::move(watch));
}

}  // namespace tarvix::wlr
