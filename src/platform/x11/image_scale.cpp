#include "platform/x11/image_scale.h"

#include <pixman.h>
#include <turbojpeg.h>

#include <algorithm>
#include <bit>
#include <memory>
#include <new>
#include <system_error>
#include <thread>

namespace tarvix {
namespace {

struct PixmanUnref {
  void operator()(pixman_image_t* image) const { pixman_image_unref(image); }
};
using PixmanImage = std::unique_ptr<pixman_image_t, PixmanUnref>;

// x8r8g8b8 as bytes in memory.
constexpr TJPF kNativeXrgb = std::endian::native == std::endian::little ? TJPF_BGRX : TJPF_XRGB;

struct TjDestroy {
  void operator()(void* handle) const { tjDestroy(handle); }
};

// pixman's format for `layout`: channels in red, green, blue order from the
// top (ARGB) or the reverse (ABGR), contiguous from bit 0, in this
// machine's byte order.
pixman_format_code_t FormatOf(const PixelLayout& layout) {
  const auto none = static_cast<pixman_format_code_t>(0);
  if (layout.big_endian != (std::endian::native == std::endian::big)) return none;
  const uint32_t bpp = layout.bits_per_pixel;
  if (bpp != 16 && bpp != 24 && bpp != 32) return none;
  const auto width = [](uint32_t mask) { return static_cast<uint32_t>(std::popcount(mask)); };
  const auto shift = [](uint32_t mask) { return static_cast<uint32_t>(std::countr_zero(mask)); };
  const uint32_t r = width(layout.red_mask), g = width(layout.green_mask),
                 b = width(layout.blue_mask);
  if (r == 0 || g == 0 || b == 0 || r > 8 || g > 8 || b > 8) return none;
  const auto contiguous = [&](uint32_t mask) {
    return (mask >> shift(mask)) == (uint32_t{1} << width(mask)) - 1;
  };
  if (!contiguous(layout.red_mask) || !contiguous(layout.green_mask) ||
      !contiguous(layout.blue_mask)) {
    return none;
  }
  int type = 0;
  if (shift(layout.blue_mask) == 0 && shift(layout.green_mask) == b &&
      shift(layout.red_mask) == b + g) {
    type = PIXMAN_TYPE_ARGB;
  } else if (shift(layout.red_mask) == 0 && shift(layout.green_mask) == r &&
             shift(layout.blue_mask) == r + g) {
    type = PIXMAN_TYPE_ABGR;
  } else {
    return none;
  }
  const auto format = static_cast<pixman_format_code_t>(PIXMAN_FORMAT(bpp, type, 0, r, g, b));
  return pixman_format_supported_source(format) ? format : none;
}

}  // namespace

bool IsNativeXrgb(const PixelLayout& layout) {
  return layout.bits_per_pixel == 32 && layout.red_mask == 0xff0000 &&
         layout.green_mask == 0x00ff00 && layout.blue_mask == 0x0000ff &&
         layout.big_endian == (std::endian::native == std::endian::big);
}

Result<XrgbImage> ScaleToXrgb(const PixelImage& image, uint32_t width, uint32_t height) {
  if (width == 0 || height == 0 || width > image.width || height > image.height) {
    return Error("cannot scale " + std::to_string(image.width) + "x" +
                 std::to_string(image.height) + " to " + std::to_string(width) + "x" +
                 std::to_string(height));
  }
  const pixman_format_code_t format = FormatOf(image.layout);
  if (format == 0 || image.stride % 4 != 0) {
    return Error("the screen's pixel format cannot be scaled");
  }
  XrgbImage out;
  try {
    out.pixels.resize(size_t{width} * height);
  } catch (const std::bad_alloc&) {
    return Error("out of memory for the scaled image");
  }
  out.width = width;
  out.height = height;
  // Resampling costs far more than the copy it writes: the rows are
  // split between this thread and one more, each with its own view of
  // the source (pixman images are not shared between threads).
  const bool scaled = width != image.width || height != image.height;
  auto rows = [&](uint32_t first, uint32_t end) -> bool {
    // pixman takes a mutable pointer but only reads a source.
    PixmanImage source(pixman_image_create_bits_no_clear(
        format, static_cast<int>(image.width), static_cast<int>(image.height),
        reinterpret_cast<uint32_t*>(const_cast<uint8_t*>(image.data)),
        static_cast<int>(image.stride)));
    PixmanImage target(pixman_image_create_bits_no_clear(
        PIXMAN_x8r8g8b8, static_cast<int>(width), static_cast<int>(height), out.pixels.data(),
        static_cast<int>(width * 4)));
    if (!source || !target) return false;
    if (scaled) {
      const double sx = static_cast<double>(image.width) / width;
      const double sy = static_cast<double>(image.height) / height;
      pixman_transform_t transform;
      pixman_transform_init_scale(&transform, pixman_double_to_fixed(sx),
                                  pixman_double_to_fixed(sy));
      pixman_image_set_transform(source.get(), &transform);
      // Edge pixels repeat outwards instead of fading into transparency.
      pixman_image_set_repeat(source.get(), PIXMAN_REPEAT_PAD);
      int count = 0;
      pixman_fixed_t* params = pixman_filter_create_separable_convolution(
          &count, pixman_double_to_fixed(sx), pixman_double_to_fixed(sy), PIXMAN_KERNEL_BOX,
          PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, PIXMAN_KERNEL_BOX, 4, 4);
      if (params == nullptr) return false;
      const bool set = pixman_image_set_filter(
          source.get(), PIXMAN_FILTER_SEPARABLE_CONVOLUTION, params, count);
      free(params);
      if (!set) return false;
    }
    // Source coordinates before the transform are the target's.
    pixman_image_composite32(PIXMAN_OP_SRC, source.get(), nullptr, target.get(), 0,
                             static_cast<int32_t>(first), 0, 0, 0, static_cast<int32_t>(first),
                             static_cast<int32_t>(width), static_cast<int32_t>(end - first));
    return true;
  };
  const uint32_t half = scaled && height >= 64 ? height / 2 : height;
  bool helper_done = true;
  std::thread helper;
  if (half < height) {
    try {
      helper = std::thread([&] { helper_done = rows(half, height); });
    } catch (const std::system_error&) {
      helper_done = rows(half, height);  // no thread to be had: all rows here
    }
  }
  const bool done = rows(0, half);
  if (helper.joinable()) helper.join();
  if (!done || !helper_done) return Error("out of memory for the scaled image");
  return out;
}

void DrawCursor(XrgbImage& image, const uint32_t* argb, uint32_t width, uint32_t height,
                int32_t x, int32_t y) {
  PixmanImage cursor(pixman_image_create_bits_no_clear(
      PIXMAN_a8r8g8b8, static_cast<int>(width), static_cast<int>(height),
      const_cast<uint32_t*>(argb), static_cast<int>(width * 4)));
  PixmanImage target(pixman_image_create_bits_no_clear(
      PIXMAN_x8r8g8b8, static_cast<int>(image.width), static_cast<int>(image.height),
      image.pixels.data(), static_cast<int>(image.width * 4)));
  if (!cursor || !target) return;
  pixman_image_composite32(PIXMAN_OP_OVER, cursor.get(), nullptr, target.get(), 0, 0, 0, 0, x, y,
                           static_cast<int32_t>(width), static_cast<int32_t>(height));
}

Result<std::string> EncodeJpeg(const PixelImage& image, int quality) {
  if (!IsNativeXrgb(image.layout)) return Error("jpeg: the pixels are not 32-bit xrgb");
  std::unique_ptr<void, TjDestroy> compressor(tjInitCompress());
  if (!compressor) return Error("jpeg: cannot start the compressor");
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;  // NOLINT: the library's type
  const int failed = tjCompress2(compressor.get(), image.data, static_cast<int>(image.width),
                                 static_cast<int>(image.stride), static_cast<int>(image.height),
                                 kNativeXrgb, &jpeg, &size, TJSAMP_420,
                                 std::clamp(quality, 1, 100), 0);
  if (failed != 0) {
    std::string error = std::string("jpeg: ") + tjGetErrorStr2(compressor.get());
    tjFree(jpeg);
    return Error(std::move(error));
  }
  std::string bytes(reinterpret_cast<const char*>(jpeg), size);
  tjFree(jpeg);
  return bytes;
}

}  // namespace tarvix
