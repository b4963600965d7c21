#include "platform/wayland/wlr_layout.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

OutputGeometry Logical(int32_t x, int32_t y, int32_t w, int32_t h, int32_t mode_w, int32_t mode_h) {
  return {.mode_width = mode_w, .mode_height = mode_h, .has_logical = true, .logical_x = x,
          .logical_y = y, .logical_width = w, .logical_height = h};
}

TEST(WlrLayoutTest, OutputsInLogicalPoints) {
  const struct {
    const char* name;
    OutputGeometry output;
    PointRect rect;
    double pixels_per_point;
  } cases[] = {
      {"xdg-output", Logical(1920, 0, 1280, 720, 1280, 720), {1920, 0, 1280, 720}, 1},
      {"HiDPI at scale 2", Logical(0, 0, 1920, 1080, 3840, 2160), {0, 0, 1920, 1080}, 2},
      {"fractional 1.5", Logical(0, 0, 2560, 1440, 3840, 2160), {0, 0, 2560, 1440}, 1.5},
      {"no xdg-output: mode over scale",
       {.x = 100, .y = 50, .mode_width = 3840, .mode_height = 2160, .scale = 2},
       {100, 50, 1920, 1080}, 2},
      {"no xdg-output, turned 90 degrees",
       {.mode_width = 1920, .mode_height = 1080, .scale = 1, .transform = 1},
       {0, 0, 1080, 1920}, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(LogicalRect(c.output), c.rect) << c.name;
    EXPECT_DOUBLE_EQ(PixelsPerPoint(c.output), c.pixels_per_point) << c.name;
  }
}

TEST(WlrLayoutTest, MainOutputAndRectanglesOnOutputs) {
  // The right output comes first; the main one is the output at (0,0).
  const std::vector<OutputGeometry> outputs = {Logical(1920, -200, 1280, 1024, 2560, 2048),
                                               Logical(0, 0, 1920, 1080, 1920, 1080)};
  ASSERT_EQ(MainOutput(outputs), 1u);
  EXPECT_EQ(MainOutput({Logical(100, 0, 10, 10, 10, 10), Logical(200, 0, 10, 10, 10, 10)}), 0u);
  EXPECT_EQ(MainOutput({}), std::nullopt);

  // Global points put the main output at the origin even when the
  // compositor's layout does not.
  const PointRect main{-500, 0, 1920, 1080};
  const OutputGeometry moved_main = Logical(-500, 0, 1920, 1080, 1920, 1080);
  const OutputGeometry right = Logical(1420, 0, 1280, 1024, 2560, 2048);
  const struct {
    const char* name;
    PointRect global;
    const OutputGeometry* output;
    std::optional<PointRect> expected;
  } cases[] = {
      {"inside the main output", {10, 20, 100, 50}, &moved_main, PointRect{10, 20, 100, 50}},
      {"inside the right output", {1930, 5, 100, 50}, &right, PointRect{10, 5, 100, 50}},
      {"clipped at the right output's edge", {2500, 1000, 1000, 1000}, &right,
       PointRect{580, 1000, 700, 24}},
      {"left of the main output", {-300, 0, 200, 200}, &moved_main, std::nullopt},
      {"touching is not overlapping", {1920, 0, 10, 10}, &moved_main, std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(OnOutput(c.global, main, *c.output), c.expected) << c.name;
}

TEST(WlrLayoutTest, PointerMotionOverTheLayoutsBoundingBox) {
  // A HiDPI output left of the main one and one above right of it: the
  // box runs from (-1280, -300) to (3200, 1080).
  const std::vector<OutputGeometry> outputs = {Logical(0, 0, 1920, 1080, 1920, 1080),
                                               Logical(-1280, 0, 1280, 720, 2560, 1440),
                                               Logical(1920, -300, 1280, 1024, 1280, 1024)};
  const struct {
    const char* name;
    int64_t x, y;
    AbsoluteMotion expected;
  } cases[] = {
      {"the main output's origin", 0, 0, {1280, 300, 4480, 1380}},
      {"on the left output", -1000, 700, {280, 1000, 4480, 1380}},
      {"on the upper output", 2000, -250, {3280, 50, 4480, 1380}},
      {"beyond the box: its last point", 99999, -99999, {4479, 0, 4480, 1380}},
      {"before the box: its first point", INT32_MIN, INT32_MAX, {0, 1379, 4480, 1380}},
  };
  for (const auto& c : cases) EXPECT_EQ(PointerMotionTo(c.x, c.y, outputs), c.expected) << c.name;
  EXPECT_EQ(PointerMotionTo(0, 0, {}), std::nullopt);
}

TEST(WlrLayoutTest, TurnedOutputsFramesShowAsGrimTurnsThem) {
  // A 3x2 frame numbered 1 to 6 row by row, and where each transform shows
  // it (rows of the turned frame).
  const struct {
    int32_t transform;
    uint32_t width, height;
    std::vector<uint8_t> screen;
  } cases[] = {
      {0, 3, 2, {1, 2, 3, 4, 5, 6}},  {1, 2, 3, {4, 1, 5, 2, 6, 3}},
      {2, 3, 2, {6, 5, 4, 3, 2, 1}},  {3, 2, 3, {3, 6, 2, 5, 1, 4}},
      {4, 3, 2, {3, 2, 1, 6, 5, 4}},  {5, 2, 3, {1, 4, 2, 5, 3, 6}},
      {6, 3, 2, {4, 5, 6, 1, 2, 3}},  {7, 2, 3, {6, 3, 5, 2, 4, 1}},
  };
  for (const uint32_t bytes : {3u, 4u}) {
    // Rows padded by 5 bytes; each pixel's number in its first byte.
    const size_t stride = 3 * bytes + 5;
    std::vector<uint8_t> frame(stride * 2, 0xee);
    for (uint8_t n = 1; n <= 6; ++n) {
      std::memset(&frame[(n - 1) / 3 * stride + (n - 1) % 3 * bytes], 0, bytes);
      frame[(n - 1) / 3 * stride + (n - 1) % 3 * bytes] = n;
    }
    const PixelImage image{frame.data(), 3, 2, stride, {}};
    for (const auto& c : cases) {
      SCOPED_TRACE(::testing::Message() << "transform " << c.transform << ", " << bytes
                                        << " bytes");
      EXPECT_EQ(SwapsSides(c.transform), c.width == 2);
      std::vector<uint8_t> turned(6 * bytes, 0xee);
      TurnToScreen(image, bytes, c.transform, turned.data(), c.width * bytes);
      std::vector<uint8_t> numbers;
      for (size_t at = 0; at < turned.size(); at += bytes) {
        numbers.push_back(turned[at]);
        EXPECT_EQ(std::vector<uint8_t>(turned.begin() + at + 1, turned.begin() + at + bytes),
                  std::vector<uint8_t>(bytes - 1, 0));
      }
      EXPECT_EQ(numbers, c.screen);
      // A box lands where its pixels do: each one alone, and the frame's
      // right two columns.
      for (uint32_t n = 1; n <= 6; ++n) {
        const PixelBox spot = TurnBox({(n - 1) % 3, (n - 1) / 3, 1, 1}, c.transform, 3, 2);
        EXPECT_EQ(c.screen[spot.y * c.width + spot.x], n);
        EXPECT_EQ(spot.w * spot.h, 1u);
      }
      const PixelBox right = TurnBox({1, 0, 2, 2}, c.transform, 3, 2);
      std::vector<uint8_t> inside;
      for (uint32_t y = right.y; y < right.y + right.h; ++y) {
        for (uint32_t x = right.x; x < right.x + right.w; ++x) {
          inside.push_back(c.screen[y * c.width + x]);
        }
      }
      std::sort(inside.begin(), inside.end());
      EXPECT_EQ(inside, (std::vector<uint8_t>{2, 3, 5, 6}));
    }
  }
}

// The pixel a layout reads from `bytes` (memory order), as 8-bit R, G, B.
uint32_t ReadRgb(const PixelLayout& layout, const std::vector<uint8_t>& bytes) {
  uint32_t unit = 0;
  std::memcpy(&unit, bytes.data(), layout.bits_per_pixel / 8);  // little-endian machine
  const auto channel = [&](uint32_t mask) {
    const uint32_t value = (unit & mask) >> std::countr_zero(mask);
    const int bits = std::popcount(mask);
    return bits >= 8 ? value >> (bits - 8) : value << (8 - bits) | value >> (2 * bits - 8);
  };
  return channel(layout.red_mask) << 16 | channel(layout.green_mask) << 8 |
         channel(layout.blue_mask);
}

TEST(WlrLayoutTest, ShmFormatsReadAsTheirFourccSays) {
  constexpr auto fourcc = [](const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
           uint32_t(uint8_t(s[3])) << 24;
  };
  // One pixel of red 0x11, green 0x22, blue 0x33 as each format stores it
  // in memory (DRM formats are little-endian; their names list channels
  // from the most significant bit down).
  const struct {
    const char* name;
    uint32_t format;
    std::vector<uint8_t> bytes;
  } cases[] = {
      {"ARGB8888", 0, {0x33, 0x22, 0x11, 0xff}},
      {"XRGB8888", 1, {0x33, 0x22, 0x11, 0x00}},
      {"XBGR8888", fourcc("XB24"), {0x11, 0x22, 0x33, 0x00}},
      {"ABGR8888", fourcc("AB24"), {0x11, 0x22, 0x33, 0xff}},
      // 10-bit channels 0x044, 0x088, 0x0cc keep their top 8 bits.
      {"XRGB2101010", fourcc("XR30"), {0xcc, 0x20, 0x42, 0x04}},
      {"XBGR2101010", fourcc("XB30"), {0x44, 0x20, 0xc2, 0x0c}},
      {"RGB888", fourcc("RG24"), {0x33, 0x22, 0x11}},
      {"BGR888", fourcc("BG24"), {0x11, 0x22, 0x33}},
  };
  for (const auto& c : cases) {
    const std::optional<PixelLayout> layout = ShmFormatLayout(c.format);
    ASSERT_TRUE(layout) << c.name;
    EXPECT_EQ(layout->bits_per_pixel, c.bytes.size() * 8) << c.name;
    EXPECT_EQ(ReadRgb(*layout, c.bytes), 0x112233u) << c.name;
  }
  EXPECT_FALSE(ShmFormatLayout(fourcc("NV12")));
  EXPECT_FALSE(ShmFormatLayout(fourcc("C8  ")));
}

}  // namespace
}  // namespace tarvix
