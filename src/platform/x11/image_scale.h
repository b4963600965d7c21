// Scaling and JPEG encoding of captured pixels: pixman's separable
// convolution with box filters (area averaging: every source pixel counts,
// so thin text neither vanishes nor shimmers) and libjpeg-turbo.
#ifndef TARVIX_PLATFORM_X11_IMAGE_SCALE_H_
#define TARVIX_PLATFORM_X11_IMAGE_SCALE_H_

#include <cstdint>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "base/result.h"
#include "platform/x11/png_encoder.h"

namespace tarvix {

// Leaves new elements uninitialised: a scaled image is written in full,
// and zeroing its megabytes first cost a quarter of a capture.
template <typename T>
struct UninitializedAllocator : std::allocator<T> {
  template <typename U>
  struct rebind {
    using other = UninitializedAllocator<U>;
  };
  UninitializedAllocator() = default;
  template <typename U>
  explicit UninitializedAllocator(const UninitializedAllocator<U>& /*other*/) noexcept {}
  template <typename U>
  void construct(U* place) noexcept(std::is_nothrow_default_constructible_v<U>) {
    ::new (static_cast<void*>(place)) U;
  }
  template <typename U, typename... Args>
  void construct(U* place, Args&&... args) {
    std::construct_at(place, std::forward<Args>(args)...);
  }
};
using XrgbPixels = std::vector<uint32_t, UninitializedAllocator<uint32_t>>;

// 32-bit pixels, blue in the low byte, the top byte unused (pixman's
// x8r8g8b8 on a little-endian machine).
struct XrgbImage {
  XrgbPixels pixels;
  uint32_t width = 0;
  uint32_t height = 0;

  PixelImage View() const {
    return {reinterpret_cast<const uint8_t*>(pixels.data()), width, height, size_t{width} * 4,
            PixelLayout{}};
  }
};

// True when `layout` is the 32-bit x8r8g8b8 layout of this machine.
bool IsNativeXrgb(const PixelLayout& layout);

// `image` resampled to width x height (each at least 1 and at most the
// source's: this never enlarges) by area averaging; at the same size a
// plain conversion. Fails for a layout pixman cannot read (big-endian
// units, channels out of the usual order) or without memory.
Result<XrgbImage> ScaleToXrgb(const PixelImage& image, uint32_t width, uint32_t height);

// Draws a cursor image (premultiplied 32-bit ARGB, `width` x `height`)
// over `image` with its top-left corner at (x, y); parts outside are cut.
void DrawCursor(XrgbImage& image, const uint32_t* argb, uint32_t width, uint32_t height,
                int32_t x, int32_t y);

// JPEG of a 32-bit x8r8g8b8 (native) image, 4:2:0, quality 1 to 100.
Result<std::string> EncodeJpeg(const PixelImage& image, int quality);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_IMAGE_SCALE_H_
