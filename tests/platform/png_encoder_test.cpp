#include "platform/x11/png_encoder.h"

#include <zlib.h>

#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

uint32_t Be32(const std::string& s, size_t at) {
  return uint32_t{static_cast<uint8_t>(s[at])} << 24 | uint32_t{static_cast<uint8_t>(s[at + 1])} << 16 |
         uint32_t{static_cast<uint8_t>(s[at + 2])} << 8 | static_cast<uint8_t>(s[at + 3]);
}

struct Decoded {
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgb;
};

// An independent reader: walks the chunks checking every CRC with zlib,
// inflates the joined IDAT data as one zlib stream (which checks the
// Adler-32) and undoes the row filters.
Decoded DecodePng(const std::string& png) {
  Decoded out;
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  std::string idat;
  std::vector<std::string> tags;
  for (size_t at = 8; at + 12 <= png.size();) {
    const uint32_t length = Be32(png, at);
    const std::string tag = png.substr(at + 4, 4);
    const std::string data = png.substr(at + 8, length);
    const auto* typed = reinterpret_cast<const Bytef*>(png.data() + at + 4);
    EXPECT_EQ(crc32(0, typed, length + 4), Be32(png, at + 8 + length)) << tag;
    if (tag == "IHDR") {
      out.width = Be32(data, 0);
      out.height = Be32(data, 4);
      EXPECT_EQ(data.substr(8), std::string("\x08\x02\x00\x00\x00", 5));
    }
    if (tag == "IDAT") idat += data;
    tags.push_back(tag);
    at += 12 + length;
  }
  EXPECT_EQ(tags.front(), "IHDR");
  EXPECT_EQ(tags.back(), "IEND");
  const size_t row = size_t{out.width} * 3;
  std::vector<uint8_t> raw((row + 1) * out.height);
  uLongf raw_size = raw.size();
  EXPECT_EQ(uncompress(raw.data(), &raw_size, reinterpret_cast<const Bytef*>(idat.data()),
                       idat.size()),
            Z_OK);
  EXPECT_EQ(raw_size, raw.size());
  out.rgb.assign(row * out.height, 0);
  for (uint32_t y = 0; y < out.height; ++y) {
    const uint8_t* in = &raw[y * (row + 1)];
    uint8_t* dst = &out.rgb[y * row];
    const uint8_t* up = y > 0 ? dst - row : nullptr;
    for (size_t i = 0; i < row; ++i) {
      const uint8_t left = i >= 3 ? dst[i - 3] : 0;
      const uint8_t above = up ? up[i] : 0;
      switch (in[0]) {
        case 0: dst[i] = in[1 + i]; break;
        case 1: dst[i] = in[1 + i] + left; break;
        case 2: dst[i] = in[1 + i] + above; break;
        default: ADD_FAILURE() << "unexpected filter " << int{in[0]}; return out;
      }
    }
  }
  return out;
}

// Fills an image of `layout` whose pixel (x, y) has channel values
// chosen from (x, y) and returns the RGB bytes the encoder must produce.
struct Source {
  std::vector<uint8_t> pixels;
  std::vector<uint8_t> expected;
  PixelImage image;
};

Source Make(uint32_t width, uint32_t height, const PixelLayout& layout, size_t padding,
            const std::function<uint32_t(uint32_t x, uint32_t y, uint8_t rgb[3])>& pixel) {
  Source s;
  const size_t unit = layout.bits_per_pixel / 8;
  const size_t stride = width * unit + padding;
  s.pixels.assign(stride * height, 0xEE);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      uint8_t rgb[3];
      const uint32_t value = pixel(x, y, rgb);
      s.expected.insert(s.expected.end(), rgb, rgb + 3);
      uint8_t* p = &s.pixels[y * stride + x * unit];
      for (size_t i = 0; i < unit; ++i) {
        const size_t shift = layout.big_endian ? 8 * (unit - 1 - i) : 8 * i;
        p[i] = static_cast<uint8_t>(value >> shift);
      }
    }
  }
  s.image = {s.pixels.data(), width, height, stride, layout};
  return s;
}

// 8-bit channels: any byte pattern; packed as the layout's masks say.
uint32_t Rgb888(uint32_t x, uint32_t y, uint8_t rgb[3], int red_shift, int blue_shift) {
  rgb[0] = static_cast<uint8_t>(x * 37 + y * 11);
  rgb[1] = static_cast<uint8_t>(y * 53 + (x ^ y));
  rgb[2] = static_cast<uint8_t>((x * y) * 7 + 3);
  return uint32_t{rgb[0]} << red_shift | uint32_t{rgb[1]} << 8 | uint32_t{rgb[2]} << blue_shift;
}

// 5-6-5: the expected bytes are written out by hand from the widened
// extremes and spot values, not by the encoder's rule.
uint32_t Rgb565(uint32_t x, uint32_t y, uint8_t rgb[3]) {
  static const struct {
    uint32_t r5, g6, b5;
    uint8_t r8, g8, b8;
  } kValues[] = {
      {31, 63, 31, 255, 255, 255}, {0, 0, 0, 0, 0, 0}, {16, 32, 1, 132, 130, 8},
      {1, 1, 30, 8, 4, 247},       {15, 31, 17, 123, 125, 140},
  };
  const auto& v = kValues[(x + 2 * y) % 5];
  rgb[0] = v.r8, rgb[1] = v.g8, rgb[2] = v.b8;
  return v.r5 << 11 | v.g6 << 5 | v.b5;
}

TEST(PngEncoderTest, DecodesBitExactForEveryLayoutAndStriping) {
  const PixelLayout bgrx;  // the usual 24/32-bit layout
  const PixelLayout rgbx{32, false, 0x0000ff, 0x00ff00, 0xff0000};
  const PixelLayout bgr24{24, false, 0xff0000, 0x00ff00, 0x0000ff};
  const PixelLayout xrgb_msb{32, true, 0xff0000, 0x00ff00, 0x0000ff};
  const PixelLayout rgb565{16, false, 0xf800, 0x07e0, 0x001f};
  const PixelLayout rgb565_msb{16, true, 0xf800, 0x07e0, 0x001f};
  const PixelLayout deep30{32, false, 0x3ff00000, 0x000ffc00, 0x000003ff};
  auto rgb_888 = [](uint32_t x, uint32_t y, uint8_t c[3]) { return Rgb888(x, y, c, 16, 0); };
  auto bgr_888 = [](uint32_t x, uint32_t y, uint8_t c[3]) { return Rgb888(x, y, c, 0, 16); };
  // 10-bit channels keep their top 8 bits.
  auto rgb_101010 = [](uint32_t x, uint32_t y, uint8_t c[3]) {
    const uint32_t r = (x * 97 + y) & 0x3ff, g = (y * 89 + 5) & 0x3ff, b = (x * y * 3) & 0x3ff;
    c[0] = static_cast<uint8_t>(r >> 2), c[1] = static_cast<uint8_t>(g >> 2),
    c[2] = static_cast<uint8_t>(b >> 2);
    return r << 20 | g << 10 | b;
  };
  struct Case {
    const char* name;
    PixelLayout layout;
    std::function<uint32_t(uint32_t, uint32_t, uint8_t[3])> pixel;
    uint32_t width, height;
    size_t padding;
    PngOptions options;
  } cases[] = {
      {"bgrx one stripe", bgrx, rgb_888, 7, 5, 0, {1, 128}},
      {"bgrx odd width, stripes on two threads", bgrx, rgb_888, 33, 41, 4, {2, 3}},
      {"bgrx one row per stripe", bgrx, rgb_888, 1, 9, 0, {2, 1}},
      {"rgbx", rgbx, bgr_888, 9, 6, 0, {2, 4}},
      {"24 bits per pixel", bgr24, rgb_888, 13, 7, 1, {2, 2}},
      {"big-endian 32", xrgb_msb, rgb_888, 6, 6, 0, {1, 4}},
      {"16-bit 565", rgb565, Rgb565, 11, 10, 2, {2, 3}},
      {"16-bit 565 big-endian", rgb565_msb, Rgb565, 5, 4, 0, {1, 128}},
      {"30-bit depth", deep30, rgb_101010, 17, 9, 0, {2, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Source source = Make(c.width, c.height, c.layout, c.padding, c.pixel);
    Result<std::string> png = EncodePng(source.image, c.options);
    ASSERT_TRUE(png.has_value()) << png.error();
    const Decoded decoded = DecodePng(*png);
    EXPECT_EQ(decoded.width, c.width);
    EXPECT_EQ(decoded.height, c.height);
    EXPECT_EQ(decoded.rgb, source.expected);
  }
}

TEST(PngEncoderTest, NoisyAndFlatStripesJoinIntoOneStream) {
  // Flat rows take the normal matcher, noisy ones run-length matching;
  // the stripes of both kinds must still form one valid stream.
  uint32_t seed = 1;
  auto pixel = [&](uint32_t x, uint32_t y, uint8_t c[3]) {
    if (y < 20) {
      c[0] = c[1] = c[2] = static_cast<uint8_t>(x < 100 ? 200 : 30);
    } else {
      for (int i = 0; i < 3; ++i) c[i] = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
    }
    return uint32_t{c[0]} << 16 | uint32_t{c[1]} << 8 | c[2];
  };
  const Source source = Make(301, 60, PixelLayout{}, 0, pixel);
  Result<std::string> png = EncodePng(source.image, {2, 8});
  ASSERT_TRUE(png.has_value());
  EXPECT_EQ(DecodePng(*png).rgb, source.expected);
}

TEST(PngEncoderTest, RefusesLayoutsItCannotRead) {
  const uint8_t pixel[4] = {};
  const PixelLayout bad[] = {
      {8, false, 0xe0, 0x1c, 0x03},           // 8 bits per pixel
      {32, false, 0xff00ff, 0x00ff00, 0xff},  // red not contiguous
      {16, false, 0x1f0000, 0x07e0, 0x1f},    // red outside the pixel
      {32, false, 0, 0xff00, 0xff},           // no red
  };
  for (const PixelLayout& layout : bad) {
    EXPECT_EQ(EncodePng({pixel, 1, 1, 4, layout}).error(), "unsupported pixel format");
  }
  EXPECT_FALSE(EncodePng({pixel, 0, 1, 4, PixelLayout{}}).has_value());
}

}  // namespace
}  // namespace tarvix
