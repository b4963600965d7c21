// Screen capture on wlroots compositors: zwlr_screencopy_manager_v1 copies
// an output (or a rectangle of it) into shared memory of ours (a memfd
// handed over as a wl_shm pool), in a format the compositor picks among
// those it offers; the pixels then take the X11 backend's encoding path
// (platform/x11/png_encoder.h, image_scale.h).
//
// A rotated or flipped output is copied in its pixels' order before the
// output's transform turns them; each frame is turned as it shows on
// screen (TurnToScreen), as grim does. An area across several outputs is
// copied part by part from each output and composed into one image at the
// highest scale among them (grim's rule: no output's pixels are lost),
// the parts of lower scale enlarged bilinearly; what lies on no output
// within the area is black, as grim leaves it.
//
// Each capture opens its own connection, so captures on several workers
// share nothing; a connection costs a few round trips, far below the copy
// and the encoding.
#include <pixman.h>
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

// One copied frame, as it shows on screen: its pixels (in the shared
// memory, in a turned copy, or composed of several) and how many of them
// make a point.
struct Frame {
  SharedPixels memory;
  std::vector<uint8_t, UninitializedAllocator<uint8_t>> turned;
  XrgbImage composed;
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
// when null) of `output`, turned as it shows on screen, reserving what
// `peak` says from the budget once the size is known (nothing when `peak`
// is null: the caller reserved).
Result<Frame> CopyOutput(WaylandConnection& c, const WaylandOutput& output,
                         const PointRect* region, bool cursor, BudgetBytes peak,
                         MemoryBudget& budget, MemoryBudget::Grant& grant) {
  const int32_t transform = output.geometry.transform;
  // A region of a turned output is cut from a copy of the whole output:
  // wlroots before 0.16 turns the region the wrong way on outputs turned
  // by 90 or 270 degrees (the mirrored ones are their own inverse), and
  // nothing tells which way a compositor turns it.
  const PointRect* cut = region;
  if (transform != WL_OUTPUT_TRANSFORM_NORMAL) region = nullptr;
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
  const size_t turned_size =
      transform != WL_OUTPUT_TRANSFORM_NORMAL ? size_t{chosen->height} * row_bytes : 0;
  if (peak != nullptr) {
    grant = MemoryBudget::Grant();
    grant = budget.Reserve(peak(size + turned_size, chosen->width, chosen->height));
  }

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
  if (transform != WL_OUTPUT_TRANSFORM_NORMAL) {
    const uint32_t bytes = layout->bits_per_pixel / 8;
    const bool swaps = SwapsSides(transform);
    const uint32_t width = swaps ? chosen->height : chosen->width;
    const uint32_t height = swaps ? chosen->width : chosen->height;
    result.turned.resize(turned_size);
    TurnToScreen(result.image, bytes, transform, result.turned.data(), size_t{width} * bytes);
    result.memory = SharedPixels();
    result.image = {result.turned.data(), width, height, size_t{width} * bytes, *layout};
    if (cut != nullptr) {
      const PointRect whole = LogicalRect(output.geometry);
      const auto to_pixels = [&](int64_t points, uint32_t pixels, int64_t of) {
        return static_cast<uint32_t>(std::clamp<int64_t>(
            std::llround(static_cast<double>(points) * pixels / static_cast<double>(of)), 0,
            pixels));
      };
      const uint32_t left = to_pixels(cut->x, width, whole.w);
      const uint32_t top = to_pixels(cut->y, height, whole.h);
      const uint32_t right = to_pixels(cut->x + cut->w, width, whole.w);
      const uint32_t bottom = to_pixels(cut->y + cut->h, height, whole.h);
      if (right <= left || bottom <= top) return Failed("the area lies on no output");
      result.image.data += size_t{top} * result.image.stride + size_t{left} * bytes;
      result.image.width = right - left;
      result.image.height = bottom - top;
    }
  }
  const int64_t points = cut != nullptr ? cut->w : LogicalRect(output.geometry).w;
  result.scale =
      points > 0 ? static_cast<double>(result.image.width) / static_cast<double>(points) : 1;
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

// The piece of an area on one output, in that output's logical points.
struct Part {
  size_t output;
  PointRect on_output;
};

// The box around the parts in the compositor's layout.
PointRect PartsBox(const Desktop& desktop, const std::vector<Part>& parts) {
  int64_t left = INT64_MAX, top = INT64_MAX, right = INT64_MIN, bottom = INT64_MIN;
  for (const Part& part : parts) {
    const PointRect output = LogicalRect(desktop.geometry[part.output]);
    left = std::min(left, output.x + part.on_output.x);
    top = std::min(top, output.y + part.on_output.y);
    right = std::max(right, output.x + part.on_output.x + part.on_output.w);
    bottom = std::max(bottom, output.y + part.on_output.y + part.on_output.h);
  }
  return {left, top, right - left, bottom - top};
}

struct PixmanUnref {
  void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using PixmanImage = std::unique_ptr<pixman_image_t, PixmanUnref>;

// Copies each part from its output and draws it into one image of the
// parts' box at the highest scale among their outputs. A part of lower
// scale is enlarged bilinearly from a copy one point wider on each side
// (within its output), so its edges inside the area blend with their true
// neighbours as in a copy of the whole output. Reserves the image, the
// largest part's copy and the encoding's peak before the first copy.
Result<Frame> ComposeParts(Desktop& desktop, const std::vector<Part>& parts, bool cursor,
                           MemoryBudget& budget, MemoryBudget::Grant& grant) {
  WaylandConnection& c = *desktop.connection;
  const PointRect box = PartsBox(desktop, parts);
  double scale = 1;
  for (const Part& part : parts) {
    scale = std::max(scale, PixelsPerPoint(desktop.geometry[part.output]));
  }
  const auto pixels = [&](int64_t points, double per_point) {
    return static_cast<int64_t>(std::floor(static_cast<double>(points) * per_point));
  };
  const int64_t width = pixels(box.w, scale), height = pixels(box.h, scale);
  if (width <= 0 || height <= 0 || width > INT32_MAX / 4 || height > INT32_MAX / 4) {
    return Failed("the area is too large to compose");
  }
  std::vector<PointRect> regions;
  size_t largest = 0;
  for (const Part& part : parts) {
    const OutputGeometry& output = desktop.geometry[part.output];
    PointRect region = part.on_output;
    const double per_point = PixelsPerPoint(output);
    if (per_point < scale) {
      const PointRect whole = LogicalRect(output);
      const int64_t left = std::max<int64_t>(region.x - 1, 0);
      const int64_t top = std::max<int64_t>(region.y - 1, 0);
      region = {left, top, std::min(region.x + region.w + 1, whole.w) - left,
                std::min(region.y + region.h + 1, whole.h) - top};
    }
    regions.push_back(region);
    // The copy, its turned or converted copy, at most 4 bytes a pixel each.
    const auto copy = static_cast<size_t>(pixels(region.w + 1, per_point)) *
                      static_cast<size_t>(pixels(region.h + 1, per_point)) * 4 * 2;
    largest = std::max(largest, copy);
  }
  const size_t composed_bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4;
  grant = MemoryBudget::Grant();
  grant = budget.Reserve(CapturePeakBytes(composed_bytes + largest, static_cast<uint32_t>(width),
                                          static_cast<uint32_t>(height)));

  Frame result;
  result.composed.width = static_cast<uint32_t>(width);
  result.composed.height = static_cast<uint32_t>(height);
  result.composed.pixels.assign(static_cast<size_t>(width) * static_cast<size_t>(height), 0);
  PixmanImage target(pixman_image_create_bits_no_clear(
      PIXMAN_x8r8g8b8, static_cast<int>(width), static_cast<int>(height),
      result.composed.pixels.data(), static_cast<int>(width * 4)));
  if (target == nullptr) return Failed("cannot allocate memory for the image");
  for (size_t i = 0; i < parts.size(); ++i) {
    const Part& part = parts[i];
    const PointRect output = LogicalRect(desktop.geometry[part.output]);
    MemoryBudget::Grant unused;
    Result<Frame> frame =
        CopyOutput(c, *c.outputs()[part.output], &regions[i], cursor, nullptr, budget, unused);
    if (!frame) return frame;
    XrgbImage converted;
    PixelImage source = frame->image;
    if (!IsNativeXrgb(source.layout)) {
      Result<XrgbImage> xrgb = ScaleToXrgb(source, source.width, source.height);
      if (!xrgb) return Failed(xrgb.error());
      converted = std::move(xrgb).value();
      source = converted.View();
    }
    // pixman takes a mutable pointer but only reads a source.
    PixmanImage from(pixman_image_create_bits_no_clear(
        PIXMAN_x8r8g8b8, static_cast<int>(source.width), static_cast<int>(source.height),
        reinterpret_cast<uint32_t*>(const_cast<uint8_t*>(source.data)),
        static_cast<int>(source.stride)));
    if (from == nullptr) return Failed("cannot allocate memory for the image");
    // Maps the composed image's pixels onto the copy's: a point p of the
    // layout is (p - box) * scale in the one and (p - region) * frame scale
    // in the other.
    const double ratio = frame->scale / scale;
    const double shift = static_cast<double>(box.x - output.x - regions[i].x) * frame->scale;
    const double shift_y = static_cast<double>(box.y - output.y - regions[i].y) * frame->scale;
    pixman_transform_t transform;
    pixman_transform_init_scale(&transform, pixman_double_to_fixed(ratio),
                                pixman_double_to_fixed(ratio));
    pixman_transform_translate(&transform, nullptr, pixman_double_to_fixed(shift),
                               pixman_double_to_fixed(shift_y));
    pixman_image_set_transform(from.get(), &transform);
    pixman_image_set_filter(from.get(), ratio == 1 ? PIXMAN_FILTER_NEAREST : PIXMAN_FILTER_BILINEAR,
                            nullptr, 0);
    pixman_image_set_repeat(from.get(), PIXMAN_REPEAT_PAD);
    const auto left = static_cast<int32_t>(pixels(output.x + part.on_output.x - box.x, scale));
    const auto top = static_cast<int32_t>(pixels(output.y + part.on_output.y - box.y, scale));
    const auto right = static_cast<int32_t>(std::min<int64_t>(
        pixels(output.x + part.on_output.x + part.on_output.w - box.x, scale), width));
    const auto bottom = static_cast<int32_t>(std::min<int64_t>(
        pixels(output.y + part.on_output.y + part.on_output.h - box.y, scale), height));
    pixman_image_composite32(PIXMAN_OP_SRC, from.get(), nullptr, target.get(), left, top, 0, 0,
                             left, top, right - left, bottom - top);
  }
  result.image = result.composed.View();
  result.scale = scale;
  return result;
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
  // The rectangle is clipped to the outputs it lies on: to its one
  // output, or to the box around its parts on several.
  const PointRect wanted{area.x, area.y, area.width, area.height};
  std::vector<Part> parts;
  for (size_t i = 0; i < desktop->geometry.size(); ++i) {
    if (std::optional<PointRect> on = OnOutput(wanted, main, desktop->geometry[i])) {
      parts.push_back({i, *on});
    }
  }
  if (parts.empty()) return Failed("the area lies on no output");
  if (parts.size() > 1) {
    Result<Frame> frame = ComposeParts(*desktop, parts, area.cursor, budget, grant);
    if (!frame) return Error(std::move(frame).error());
    const PointRect box = PartsBox(*desktop, parts);
    return std::unique_ptr<ScreenImage>(
        new WaylandScreenImage(std::move(frame).value(), box.x - main.x, box.y - main.y));
  }
  const Part& part = parts.front();
  Result<Frame> frame = CopyOutput(c, *c.outputs()[part.output], &part.on_output, area.cursor,
                                   CapturePeakBytes, budget, grant);
  if (!frame) return Error(std::move(frame).error());
  const PointRect output = LogicalRect(desktop->geometry[part.output]);
  return std::unique_ptr<ScreenImage>(new WaylandScreenImage(std::move(frame).value(),
                                                             output.x + part.on_output.x - main.x,
                                                             output.y + part.on_output.y - main.y));
}

}  // namespace wlr
}  // namespace tarvix
