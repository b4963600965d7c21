#include "platform/x11/image_scale.h"

#include <turbojpeg.h>

#include <cstdlib>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

// An image of 32-bit pixels from a generator of x, y.
template <typename F>
XrgbImage Make(uint32_t width, uint32_t height, F pixel) {
  XrgbImage image{std::vector<uint32_t>(size_t{width} * height), width, height};
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) image.pixels[size_t{y} * width + x] = pixel(x, y);
  }
  return image;
}

int Channel(uint32_t pixel, int shift) { return static_cast<int>((pixel >> shift) & 0xff); }

TEST(ScaleToXrgbTest, AveragesTheAreaEachPixelCovers) {
  const struct {
    const char* name;
    XrgbImage source;
    uint32_t width, height;
    uint32_t expected;  // every target pixel
  } cases[] = {
      // Nearest-neighbour would give pure black or pure white.
      {"one-pixel checkerboard halved", Make(64, 48, [](uint32_t x, uint32_t y) {
         return (x + y) % 2 ? 0xffffffu : 0u;
       }), 32, 24, 0x808080},
      {"stripes of three to one", Make(60, 30, [](uint32_t x, uint32_t) {
         return x % 3 == 0 ? 0xff0000u : 0x0000ffu;
       }), 20, 10, 0x5500aa},
      {"same size is a copy", Make(5, 3, [](uint32_t, uint32_t) { return 0x123456u; }), 5, 3,
       0x123456},
  };
  for (const auto& c : cases) {
    Result<XrgbImage> scaled = ScaleToXrgb(c.source.View(), c.width, c.height);
    ASSERT_TRUE(scaled) << c.name << ": " << scaled.error();
    ASSERT_EQ(scaled->pixels.size(), size_t{c.width} * c.height) << c.name;
    int worst = 0;
    for (uint32_t pixel : scaled->pixels) {
      for (int shift : {0, 8, 16}) {
        worst = std::max(worst, std::abs(Channel(pixel, shift) - Channel(c.expected, shift)));
      }
    }
    EXPECT_LE(worst, 3) << c.name;  // the filter samples each pixel in 16 phases
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
