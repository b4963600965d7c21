// Screen capture on wlroots compositors: zwlr_screencopy_manager_v1 copies
// an output (or a rectangle of it) into shared memory of ours (a memfd
// handed over as a wl_shm pool), in a format the compositor picks among
// those it offers; the pixels then take the X11 backend's encoding path
// (platform/x11/png_encoder.h, image_scale.h).
//
// Each capture opens its own connection, so captures on several workers
// share nothing; a connection costs a few round trips, far below the copy
// and the encoding.
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wlr_desktop.h"
#include "platform/x11/image_scale.h"
#include "platform/x11/png_encoder.h"
#include "wlr-screencopy-unstable-v1-client-protocol.h"

namespace tarvix {
namespace {

constexpr char kFailed[] = "screencapture failed - ";

Unexpected<std::string> Failed(const std::string& reason) { return Error(kFailed + reason); }

// Memory of ours the compositor copies into; unmapped when destroyed.
class SharedPixels {
 public:
  SharedPixels() = default;
  ~SharedPixels() {
    if (memory_ != nullptr) munmap(memory_, size_);
  }
  SharedPixels(SharedPixels&& other) noexcept
      : memory_(std::exchange(other.memory_, nullptr)), size_(other.size_) {}
  SharedPixels& operator=(SharedPixels&& other) noexcept {
    std::swap(memory_, other.memory_);
    std::swap(size_, other.size_);
    return *this;
  }

  // A mapped memfd of `size` bytes and its descriptor (the caller closes
  // it once the compositor has it); nothing when the system refuses.
  static std::optional<std::pair<SharedPixels, int>> Create(size_t size) {
    const int fd = memfd_create("tarvix-agentd-screen", MFD_CLOEXEC);
    if (fd < 0) return std::nullopt;
    void* memory = MAP_FAILED;
    if (ftruncate(fd, static_cast<off_t>(size)) == 0) {
      memory = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    }
    if (memory == MAP_FAILED) {
      close(fd);
      return std::nullopt;
    }
    SharedPixels pixels;
    pixels.memory_ = memory;
    pixels.size_ = size;
    return std::make_pair(std::move(pixels), fd);
  }

  uint8_t* data() const { return static_cast<uint8_t*>(memory_); }

 private:
  void* memory_ = nullptr;
  size_t size_ = 0;
};

// One copied frame: its pixels and how many of them make a point.
struct Frame {
  SharedPixels memory;
  PixelImage image;
  double scale = 1;
};

using BudgetBytes = size_t (*)(size_t buffer_bytes, uint32_t width, uint32_t height);

// The state of one zwlr_screencopy_frame_v1 as its events tell it.
struct FrameEvents {
  struct Offer {
    uint32_t format, width, height, stride;
  };
  std::vector<Offer> offers;
  bool buffers_done = false;
  uint32_t flags = 0;
  bool ready = false;
  bool failed = false;
};

const zwlr_screencopy_frame_v1_listener kFrameListener = {
    .buffer = [](void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width,
                 uint32_t height, uint32_t stride) {
      static_cast<FrameEvents*>(data)->offers.push_back({format, width, height, stride});
    },
    .flags = [](void* data, zwlr_screencopy_frame_v1*,
                uint32_t flags) { static_cast<FrameEvents*>(data)->flags = flags; },
    .ready = [](void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t,
                uint32_t) { static_cast<FrameEvents*>(data)->ready = true; },
    .failed = [](void* data,
                 zwlr_screencopy_frame_v1*) { static_cast<FrameEvents*>(data)->failed = true; },
    .damage = [](void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t, uint32_t) {},
    .linux_dmabuf = [](void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {},
    .buffer_done = [](void* data, zwlr_screencopy_frame_v1*) {
      static_cast<FrameEvents*>(data)->buffers_done = true;
    },
};

struct FrameDeleter {
  void operator()(zwlr_screencopy_frame_v1* frame) const { zwlr_screencopy_frame_v1_destroy(frame); }
};
struct BufferDeleter {
  void operator()(wl_buffer* buffer) const { wl_buffer_destroy(buffer); }
};

// Copies `region` (the output's own logical coordinates; the whole output
// when null) of `output`, reserving what `peak` says from the budget once
// the size is known.
Result<Frame> CopyOutput(WaylandConnection& c, const WaylandOutput& output,
                         const PointRect* region, bool cursor, BudgetBytes peak,
                         MemoryBudget& budget, MemoryBudget::Grant& grant) {
  if (output.geometry.transform != WL_OUTPUT_TRANSFORM_NORMAL) {
    return Failed("rotated or flipped Wayland outputs are not supported yet");
  }
  FrameEvents events;
  const int32_t overlay = cursor ? 1 : 0;
  std::unique_ptr<zwlr_screencopy_frame_v1, FrameDeleter> frame(
      region == nullptr
          ? zwlr_screencopy_manager_v1_capture_output(c.screencopy(), overlay, output.output)
          : zwlr_screencopy_manager_v1_capture_output_region(
                c.screencopy(), overlay, output.output, static_cast<int32_t>(region->x),
                static_cast<int32_t>(region->y), static_cast<int32_t>(region->w),
                static_cast<int32_t>(region->h)));
  zwlr_screencopy_frame_v1_add_listener(frame.get(), &kFrameListener, &events);
  // From version 3 on the offers end with buffer_done; before, the one
  // offer comes at once, so a round trip has it.
  Result<void> offered =
      c.screencopy_version() >= 3
          ? c.Dispatch([&] { return events.buffers_done || events.failed; })
          : c.Roundtrip();
  if (!offered) return Failed(offered.error());
  if (events.failed) return Failed("the Wayland compositor refused to copy the screen");
  const FrameEvents::Offer* chosen = nullptr;
  std::optional<PixelLayout> layout;
  for (const FrameEvents::Offer& offer : events.offers) {
    layout = ShmFormatLayout(offer.format);
    if (layout) {
      chosen = &offer;
      break;
    }
  }
  if (chosen == nullptr) {
    return Failed("the Wayland compositor offers the screen only in pixel formats this daemon "
                  "cannot read");
  }
  const size_t row_bytes = size_t{chosen->width} * layout->bits_per_pixel / 8;
  if (chosen->width == 0 || chosen->height == 0 || chosen->stride < row_bytes) {
    return Failed("the Wayland compositor offered an empty or malformed buffer");
  }
  const size_t size = size_t{chosen->stride} * chosen->height;
  grant = MemoryBudget::Grant();
  grant = budget.Reserve(peak(size, chosen->width, chosen->height));

  std::optional<std::pair<SharedPixels, int>> shared = SharedPixels::Create(size);
  if (!shared) return Failed("cannot allocate shared memory for the image");
  wl_shm_pool* pool = wl_shm_create_pool(c.shm(), shared->second, static_cast<int32_t>(size));
  close(shared->second);  // the request carries its own copy
  std::unique_ptr<wl_buffer, BufferDeleter> buffer(wl_shm_pool_create_buffer(
      pool, 0, static_cast<int32_t>(chosen->width), static_cast<int32_t>(chosen->height),
      static_cast<int32_t>(chosen->stride), chosen->format));
  wl_shm_pool_destroy(pool);  // the buffer keeps the memory
  zwlr_screencopy_frame_v1_copy(frame.get(), buffer.get());
  Result<void> copied = c.Dispatch([&] { return events.ready || events.failed; });
  if (!copied) return Failed(copied.error());
  if (events.failed) return Failed("the Wayland compositor could not copy the screen");

  Frame result;
  result.memory = std::move(shared->first);
  uint8_t* data = result.memory.data();
  if ((events.flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0) {
    std::vector<uint8_t> row(chosen->stride);
    for (uint32_t top = 0, bottom = chosen->height - 1; top < bottom; ++top, --bottom) {
      std::memcpy(row.data(), data + size_t{top} * chosen->stride, chosen->stride);
      std::memcpy(data + size_t{top} * chosen->stride, data + size_t{bottom} * chosen->stride,
                  chosen->stride);
      std::memcpy(data + size_t{bottom} * chosen->stride, row.data(), chosen->stride);
    }
  }
  result.image = {data, chosen->width, chosen->height, chosen->stride, *layout};
  const int64_t points = region != nullptr ? region->w : LogicalRect(output.geometry).w;
  result.scale = points > 0 ? static_cast<double>(chosen->width) / static_cast<double>(points) : 1;
  return result;
}

// The connection and its outputs, with the main display known.
struct Desktop {
  std::unique_ptr<WaylandConnection> connection;
  std::vector<OutputGeometry> geometry;
  size_t main = 0;
};

Result<Desktop> OpenDesktop() {
  Result<std::unique_ptr<WaylandConnection>> opened = WaylandConnection::Open();
  if (!opened) return Failed(opened.error());
  Desktop desktop;
  desktop.connection = std::move(opened).value();
  WaylandConnection& c = *desktop.connection;
  if (c.screencopy() == nullptr || c.shm() == nullptr) {
    return Failed("the Wayland compositor no longer offers wlroots screencopy");
  }
  if (Result<void> described = c.DescribeOutputs(); !described) {
    return Failed(described.error());
  }
  for (const auto& output : c.outputs()) desktop.geometry.push_back(output->geometry);
  const std::optional<size_t> main = MainOutput(desktop.geometry);
  if (!main) return Failed("the Wayland compositor has no output");
  desktop.main = *main;
  return desktop;
}

// A copied frame held for encoding.
class WaylandScreenImage : public ScreenImage {
 public:
  WaylandScreenImage(Frame frame, int64_t origin_x, int64_t origin_y)
      : frame_(std::move(frame)), origin_x_(origin_x), origin_y_(origin_y) {}

  uint32_t width() const override { return frame_.image.width; }
  uint32_t height() const override { return frame_.image.height; }
  int64_t origin_x() const override { return origin_x_; }
  int64_t origin_y() const override { return origin_y_; }
  double scale() const override { return frame_.scale; }

  Result<std::string> Encode(const ImageEncoding& encoding) override {
    const PixelImage& image = frame_.image;
    const bool full = encoding.width == image.width && encoding.height == image.height;
    if (full && encoding.format == ImageFormat::kPng) return Checked(EncodePng(image));
    if (full && IsNativeXrgb(image.layout)) return Checked(EncodeJpeg(image, encoding.quality));
    scaled_ = XrgbImage();  // one scaled copy at a time
    Result<XrgbImage> scaled = ScaleToXrgb(image, encoding.width, encoding.height);
    if (!scaled) return Failed(scaled.error());
    scaled_ = std::move(scaled).value();
    if (encoding.format == ImageFormat::kPng) return Checked(EncodePng(scaled_.View()));
    return Checked(EncodeJpeg(scaled_.View(), encoding.quality));
  }

 private:
  static Result<std::string> Checked(Result<std::string> encoded) {
    if (!encoded) return Failed(encoded.error());
    return encoded;
  }

  Frame frame_;
  int64_t origin_x_;
  int64_t origin_y_;
  XrgbImage scaled_;
};

}  // namespace

namespace wlr {

Result<std::string> CaptureMainDisplayPng(MemoryBudget& budget, MemoryBudget::Grant& grant) {
  Result<Desktop> desktop = OpenDesktop();
  if (!desktop) return Error(std::move(desktop).error());
  const WaylandOutput& main = *desktop->connection->outputs()[desktop->main];
  Result<Frame> frame =
      CopyOutput(*desktop->connection, main, nullptr, false, ScreenshotPeakBytes, budget, grant);
  if (!frame) return Error(std::move(frame).error());
  Result<std::string> png = EncodePng(frame->image);
  if (!png) return Failed(png.error());
  return png;
}

Result<std::unique_ptr<ScreenImage>> GrabScreenArea(const CaptureArea& area, MemoryBudget& budget,
                                                    MemoryBudget::Grant& grant) {
  Result<Desktop> desktop = OpenDesktop();
  if (!desktop) return Error(std::move(desktop).error());
  WaylandConnection& c = *desktop->connection;
  const PointRect main = LogicalRect(desktop->geometry[desktop->main]);
  if (area.main_display) {
    Result<Frame> frame = CopyOutput(c, *c.outputs()[desktop->main], nullptr, area.cursor,
                                     CapturePeakBytes, budget, grant);
    if (!frame) return Error(std::move(frame).error());
    return std::unique_ptr<ScreenImage>(new WaylandScreenImage(std::move(frame).value(), 0, 0));
  }
  // The rectangle, clipped to the desktop, must lie on one output: the
  // compositor copies one output per frame.
  const PointRect wanted{area.x, area.y, area.width, area.height};
  std::optional<size_t> best;
  std::optional<PointRect> best_part;
  for (size_t i = 0; i < desktop->geometry.size(); ++i) {
    const std::optional<PointRect> part = OnOutput(wanted, main, desktop->geometry[i]);
    if (!part) continue;
    if (best) return Failed("an area across several Wayland outputs is not supported yet");
    best = i;
    best_part = part;
  }
  if (!best) return Failed("the area lies on no output");
  Result<Frame> frame =
      CopyOutput(c, *c.outputs()[*best], &*best_part, area.cursor, CapturePeakBytes, budget, grant);
  if (!frame) return Error(std::move(frame).error());
  const PointRect output = LogicalRect(desktop->geometry[*best]);
  const int64_t origin_x = output.x + best_part->x - main.x;
  const int64_t origin_y = output.y + best_part->y - main.y;
  return std::unique_ptr<ScreenImage>(
      new WaylandScreenImage(std::move(frame).value(), origin_x, origin_y));
}

}  // namespace wlr
}  // namespace tarvix
