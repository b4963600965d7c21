#include "platform/wayland/wlr_damage.h"

#include <gtest/gtest.h>

namespace tarvix::wlr {
namespace {

OutputGeometry Logical(int32_t x, int32_t y, int32_t w, int32_t h, int32_t mode_w, int32_t mode_h) {
  return {.mode_width = mode_w, .mode_height = mode_h, .has_logical = true, .logical_x = x,
          .logical_y = y, .logical_width = w, .logical_height = h};
}

TEST(WlrDamageTest, FrameBoxesInGlobalPoints) {
  const PointRect main{-500, 0, 1920, 1080};
  const struct {
    const char* name;
    PixelBox box;
    uint32_t frame_width, frame_height;
    OutputGeometry output;
    PointRect expected;
  } cases[] = {
      {"main output moved in the layout", {10, 20, 30, 40}, 1920, 1080,
       Logical(-500, 0, 1920, 1080, 1920, 1080), {10, 20, 30, 40}},
      {"HiDPI output to the right, halved", {100, 50, 200, 100}, 2560, 1440,
       Logical(1420, 0, 1280, 720, 2560, 1440), {1920 + 50, 25, 100, 50}},
      {"odd pixels at scale 2 round outwards", {101, 51, 2, 2}, 2560, 1440,
       Logical(1420, 0, 1280, 720, 2560, 1440), {1920 + 50, 25, 2, 2}},
      {"fractional 1.5 rounds outwards", {3, 3, 3, 3}, 3840, 2160,
       Logical(-500, 0, 2560, 1440, 3840, 2160), {2, 2, 2, 2}},
      // The frame's first row shows as the turned output's right column.
      {"turned by 90 degrees", {0, 0, 64, 1}, 1920, 1080,
       {.mode_width = 1920, .mode_height = 1080, .scale = 1, .transform = 1},
       {500 + 1079, 0, 1, 64}},
      {"turned by 270 degrees at scale 2", {0, 0, 64, 2}, 3840, 2160,
       {.mode_width = 3840, .mode_height = 2160, .scale = 2, .transform = 3},
       {500, 1920 - 32, 1, 32}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DamageInGlobalPoints(c.box, c.frame_width, c.frame_height, c.output, main),
              c.expected)
        << c.name;
  }
}

// Two 200x150 frames of 4-byte pixels (rows padded to 808 bytes) that
// differ in the pixels listed; the tiles found within an area.
TEST(WlrDamageTest, OnlyTilesWhosePixelsChangedCount) {
  constexpr size_t kStride = 808;
  const struct {
    const char* name;
    std::vector<std::pair<uint32_t, uint32_t>> changed;  // x, y
    PixelBox area;
    std::vector<PixelBox> expected;
  } cases[] = {
      {"nothing changed", {}, {0, 0, 200, 150}, {}},
      {"one pixel: its tile", {{70, 10}}, {0, 0, 200, 150}, {{64, 0, 64, 64}}},
      {"tiles clipped to the area", {{70, 10}, {199, 149}}, {10, 5, 190, 145},
       {{64, 5, 64, 59}, {192, 128, 8, 22}}},
      {"a change outside the area is none", {{5, 5}}, {64, 0, 136, 150}, {}},
      {"the padding past the last pixel is none", {{200, 0}}, {0, 0, 200, 150}, {}},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> before(kStride * 150, 0x40), after = before;
    for (const auto& [x, y] : c.changed) after[y * kStride + x * 4 + 1] ^= 0xff;
    EXPECT_EQ(ChangedTiles(before.data(), after.data(), kStride, 4, c.area), c.expected) << c.name;
  }
}

}  // namespace
}  // namespace tarvix::wlr
