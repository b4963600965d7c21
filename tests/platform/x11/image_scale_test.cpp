#include "platform/x11/image_scale.h"

#include <turbojpeg.h>

#include <algorithm>
#include <cstdlib>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

// An image of 32-bit pixels from a generator of x, y.
template <typename F>
XrgbImage Make(uint32_t width, uint32_t height, F pixel) {
  XrgbImage image{XrgbPixels(size_t{width} * height), width, height};
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) image.pixels[size_t{y} * width + x] = pixel(x, y);
  }
  return image;
}

int Channel(uint32_t pixel, int shift) { return static_cast<int>((pixel >> shift) & 0xff); }

// The exact area average of channel `shift` over target pixel (tx, ty).
double AreaAverage(const XrgbImage& source, uint32_t width, uint32_t height, uint32_t tx,
                   uint32_t ty, int shift) {
  const double sx = static_cast<double>(source.width) / width;
  const double sy = static_cast<double>(source.height) / height;
  const double left = tx * sx, right = (tx + 1) * sx, top = ty * sy, bottom = (ty + 1) * sy;
  double sum = 0;
  for (auto y = static_cast<uint32_t>(top); y < source.height && y < bottom; ++y) {
    const double dy = std::min(bottom, y + 1.0) - std::max(top, static_cast<double>(y));
    for (auto x = static_cast<uint32_t>(left); x < source.width && x < right; ++x) {
      const double dx = std::min(right, x + 1.0) - std::max(left, static_cast<double>(x));
      sum += dx * dy * Channel(source.pixels[size_t{y} * source.width + x], shift);
    }
  }
  return sum / (sx * sy);
}

TEST(ScaleToXrgbTest, AveragesTheAreaEachPixelCovers) {
  uint32_t seed = 12345;
  const auto noise = [&seed](uint32_t, uint32_t) {
    seed = seed * 1664525 + 1013904223;
    return seed >> 8;
  };
  const struct {
    const char* name;
    XrgbImage source;
    uint32_t width, height;
  } cases[] = {
      // Nearest-neighbour would give pure black or pure white.
      {"one-pixel checkerboard halved", Make(64, 48, [](uint32_t x, uint32_t y) {
         return (x + y) % 2 ? 0xffffffu : 0u;
       }), 32, 24},
      {"noise, two thirds", Make(96, 60, noise), 64, 40},
      {"noise, a hair smaller", Make(41, 23, noise), 40, 22},
      {"noise, rows shorter than a vector", Make(7, 5, noise), 3, 2},
      {"noise, one axis only", Make(50, 9, noise), 7, 9},
      {"noise to one pixel", Make(300, 2, noise), 1, 1},
      {"same size is a copy", Make(5, 3, noise), 5, 3},
  };
  for (const auto& c : cases) {
    Result<XrgbImage> scaled = ScaleToXrgb(c.source.View(), c.width, c.height);
    ASSERT_TRUE(scaled) << c.name << ": " << scaled.error();
    ASSERT_EQ(scaled->pixels.size(), size_t{c.width} * c.height) << c.name;
    double worst = 0;
    for (uint32_t y = 0; y < c.height; ++y) {
      for (uint32_t x = 0; x < c.width; ++x) {
        for (int shift : {0, 8, 16}) {
          const double exact = AreaAverage(c.source, c.width, c.height, x, y, shift);
          worst = std::max(worst, std::abs(exact - Channel(scaled->pixels[y * c.width + x], shift)));
        }
      }
    }
    EXPECT_LT(worst, 1.0) << c.name;  // rounding only
  }
}

TEST(ScaleToXrgbTest, ReadsOtherLayoutsAndRefusesToEnlarge) {
  // r5g6b5: pure green, and a 16-bit stride of 2 pixels padded to 8 bytes.
  const uint16_t green[] = {0x07e0, 0x07e0, 0, 0, 0x07e0, 0x07e0, 0, 0};
  const PixelImage rgb565{reinterpret_cast<const uint8_t*>(green), 2, 2, 8,
                          {16, false, 0xf800, 0x07e0, 0x001f}};
  Result<XrgbImage> converted = ScaleToXrgb(rgb565, 1, 1);
  ASSERT_TRUE(converted) << converted.error();
  EXPECT_EQ(converted->pixels[0] & 0xffffff, 0x00ff00u);
  const XrgbImage small = Make(4, 4, [](uint32_t, uint32_t) { return 0u; });
  EXPECT_FALSE(ScaleToXrgb(small.View(), 5, 4));
  EXPECT_FALSE(ScaleToXrgb(small.View(), 0, 4));
  PixelImage odd = small.View();
  odd.layout = {32, false, 0x00ff00, 0xff0000, 0x0000ff};  // green above red
  EXPECT_FALSE(ScaleToXrgb(odd, 2, 2));
}

TEST(EncodeJpegTest, DecodesToNearlyTheSamePixels) {
  const XrgbImage image = Make(64, 32, [](uint32_t x, uint32_t y) {
    return (x * 4) << 16 | (y * 8) << 8 | 0x40;
  });
  Result<std::string> jpeg = EncodeJpeg(image.View(), 95);
  ASSERT_TRUE(jpeg) << jpeg.error();
  tjhandle decompressor = tjInitDecompress();
  std::vector<uint8_t> rgb(64 * 32 * 3);
  ASSERT_EQ(tjDecompress2(decompressor, reinterpret_cast<const uint8_t*>(jpeg->data()),
                          jpeg->size(), rgb.data(), 64, 0, 32, TJPF_RGB, 0),
            0);
  tjDestroy(decompressor);
  int worst = 0;
  for (size_t i = 0; i < image.pixels.size(); ++i) {
    for (int c = 0; c < 3; ++c) {
      worst = std::max(worst, std::abs(rgb[i * 3 + c] - Channel(image.pixels[i], 16 - 8 * c)));
    }
  }
  EXPECT_LE(worst, 8);
  PixelImage rgb565 = image.View();
  rgb565.layout = {16, false, 0xf800, 0x07e0, 0x001f};
  EXPECT_FALSE(EncodeJpeg(rgb565, 80));
}

TEST(DrawCursorTest, BlendsOverTheImageAndClipsAtItsEdges) {
  XrgbImage image = Make(4, 3, [](uint32_t, uint32_t) { return 0x000000u; });
  // Opaque white, half-transparent white (premultiplied), transparent.
  const uint32_t cursor[] = {0xffffffff, 0x80808080, 0x00000000, 0xffffffff};
  DrawCursor(image, cursor, 2, 2, 3, 2);  // only the top-left pixel lands
  DrawCursor(image, cursor, 2, 2, -1, 0);  // the right column lands at x 0
  EXPECT_EQ(image.pixels[0] & 0xffffff, 0x808080u);
  EXPECT_EQ(image.pixels[4] & 0xffffff, 0xffffffu);
  EXPECT_EQ(image.pixels[2 * 4 + 3] & 0xffffff, 0xffffffu);
  EXPECT_EQ(image.pixels[1] & 0xffffff, 0u);
}

}  // namespace
}  // namespace tarvix
