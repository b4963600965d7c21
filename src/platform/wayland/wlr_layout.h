// The arithmetic of the wlroots backend, kept apart from the protocol so
// it is tested without a compositor: output rectangles, the main display,
// how a rectangle of global points maps onto an output, and how shared
// memory formats read as pixels.
#ifndef TARVIX_PLATFORM_WAYLAND_WLR_LAYOUT_H_
#define TARVIX_PLATFORM_WAYLAND_WLR_LAYOUT_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/point_rect.h"
#include "platform/x11/png_encoder.h"

namespace tarvix {

// What the compositor says of one output.
struct OutputGeometry {
  std::string name;         // "HEADLESS-1", "DP-2" (wl_output v4 or xdg-output)
  std::string description;  // make and model
  // wl_output.geometry's position in the compositor's space.
  int32_t x = 0;
  int32_t y = 0;
  // The current mode, in pixels.
  int32_t mode_width = 0;
  int32_t mode_height = 0;
  int32_t scale = 1;      // wl_output.scale (integer; xdg-output tells fractional ones)
  int32_t transform = 0;  // wl_output.transform; 0 is normal
  // xdg-output's logical rectangle, when the compositor offers xdg-output.
  bool has_logical = false;
  int32_t logical_x = 0;
  int32_t logical_y = 0;
  int32_t logical_width = 0;
  int32_t logical_height = 0;
};

// The output's rectangle in the compositor's logical space (xdg-output's,
// else the position with the mode divided by the scale, turned for
// transforms of 90 and 270 degrees).
PointRect LogicalRect(const OutputGeometry& output);

// Pixels per logical point: the mode's width over the logical width
// (2 on a HiDPI output at scale 2; 1 when unknown).
double PixelsPerPoint(const OutputGeometry& output);

// The main display, whose top-left corner is the origin of global points:
// the output at (0,0) of the compositor's layout, else the first output the
// compositor announced. Nothing for an empty list.
std::optional<size_t> MainOutput(const std::vector<OutputGeometry>& outputs);

// A rectangle of global points in the output's own logical coordinates,
// clipped to it; nothing when they do not overlap. `main` is the main
// output's logical rectangle.
std::optional<PointRect> OnOutput(const PointRect& global, const PointRect& main,
                                  const OutputGeometry& output);

// Absolute pointer motion as zwlr_virtual_pointer_v1 takes it: a position
// within the bounding box of all outputs, out of the box's size.
struct AbsoluteMotion {
  uint32_t x = 0;
  uint32_t y = 0;
  uint32_t x_extent = 0;
  uint32_t y_extent = 0;
  bool operator==(const AbsoluteMotion&) const = default;
};

// The motion that puts the pointer on the global point (`x`, `y`): the
// point in the compositor's layout (global points are relative to the
// main output), kept inside the outputs' bounding box as an X server keeps
// the pointer on its screen. Nothing for an empty list.
std::optional<AbsoluteMotion> PointerMotionTo(int64_t x, int64_t y,
                                              const std::vector<OutputGeometry>& outputs);

// How a wl_shm format (DRM fourcc codes, with ARGB8888 = 0 and
// XRGB8888 = 1) lays its pixels out in memory; nothing for formats the
// encoders cannot read (8-bit, YUV, 16-bit float, 64-bit).
std::optional<PixelLayout> ShmFormatLayout(uint32_t format);

// A rectangle of a frame's pixels.
struct PixelBox {
  uint32_t x = 0, y = 0, w = 0, h = 0;
  friend bool operator==(const PixelBox&, const PixelBox&) = default;
};

// The compositor copies an output's pixels in the order they leave for the
// screen, before the output's wl_output.transform turns them (0 normal,
// 1-3 turned by 90, 180 and 270 degrees, 4-7 the same mirrored left to
// right first), as grim reads them. A frame of `width` x `height` pixels
// shows on screen as width x height, or height x width when turned by 90
// or 270 degrees.
bool SwapsSides(int32_t transform);
// Where the `box` of such a frame shows on screen.
PixelBox TurnBox(const PixelBox& box, int32_t transform, uint32_t width, uint32_t height);
// Writes the frame `from` (`bytes_per_pixel` of 2, 3 or 4) as it shows on
// screen into `to`, rows of `to_stride` bytes; `to` holds the turned
// frame and does not overlap `from`.
void TurnToScreen(const PixelImage& from, uint32_t bytes_per_pixel, int32_t transform, uint8_t* to,
                  size_t to_stride);

// What a screenshot may hold at its peak besides nothing else: the shared
// buffer of `buffer_bytes`, the PNG at its worst and the PNG's Base64
// text; and what a capture may (one 32-bit scaled copy and a JPEG's worst
// on top), as the X11 backend counts them.
size_t ScreenshotPeakBytes(size_t buffer_bytes, uint32_t width, uint32_t height);
size_t CapturePeakBytes(size_t buffer_bytes, uint32_t width, uint32_t height);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_WAYLAND_WLR_LAYOUT_H_
