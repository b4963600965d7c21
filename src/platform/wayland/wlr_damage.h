// Screen damage on wlroots compositors (platform/screen_damage.h) through
// screencopy's copy_with_damage: each output has one frame in flight,
// which the compositor completes once something on the output changed,
// telling where since that output's last frame. What it tells is where
// clients redrew (GTK redraws its whole window for a spinner), so the
// frames' pixels are compared within it and only the tiles whose pixels
// changed count, as the X server's damage counts only what was drawn.
// Each output has two shared buffers, written by turns and kept for the
// watch's life. Frames are asked for at most every kDamageFrameInterval
// per output, so a screen that changes all the time costs the compositor
// a bounded number of copies; what changes in between comes with the
// next frame, as the compositor keeps collecting it.
#ifndef TARVIX_PLATFORM_WAYLAND_WLR_DAMAGE_H_
#define TARVIX_PLATFORM_WAYLAND_WLR_DAMAGE_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/result.h"
#include "platform/point_rect.h"
#include "platform/screen_damage.h"
#include "platform/wayland/wlr_layout.h"

namespace tarvix::wlr {

inline constexpr std::chrono::milliseconds kDamageFrameInterval{33};
// Changes are told in tiles of this many pixels square.
inline constexpr uint32_t kDamageTile = 64;

Result<std::unique_ptr<ScreenDamageWatch>> WatchScreenDamage();

// The tiles (a grid of kDamageTile from the frame's corner) in which two
// frames differ within `area`, each clipped to `area`. Frames are rows of
// `stride` bytes holding `bytes_per_pixel` per pixel; `area` lies inside.
std::vector<PixelBox> ChangedTiles(const uint8_t* before, const uint8_t* after, size_t stride,
                                   uint32_t bytes_per_pixel, const PixelBox& area);

// A damaged box of `output`'s frame (pixels of a frame `frame_width` x
// `frame_height`, in the order before the output's transform) in global
// points, `main` being the main output's logical rectangle; rounded
// outwards.
PointRect DamageInGlobalPoints(const PixelBox& box, uint32_t frame_width, uint32_t frame_height,
                               const OutputGeometry& output, const PointRect& main);

}  // namespace tarvix::wlr

#endif  // TARVIX_PLATFORM_WAYLAND_WLR_DAMAGE_H_
