#include "platform/x11/x_key_levels.h"

#include <initializer_list>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

constexpr uint8_t kShift = 1, kLock = 2, kControl = 4, kMod3 = 0x20, kMod5 = 0x80;

KeyTypeShape Shape(uint8_t modifiers, uint8_t levels, std::initializer_list<KeyTypeEntry> entries,
                   bool preserves = false) {
  KeyTypeShape shape{modifiers, levels, preserves, {}, 0};
  for (const KeyTypeEntry& entry : entries) shape.entries[shape.count++] = entry;
  return shape;
}

// Only the type whose levels are exactly Shift, level 3 and both may carry
// four lent keysyms: any other would type a level the stroke did not mean.
TEST(XKeyLevelsTest, OnlyThePlainFourLevelTypeFits) {
  const struct {
    KeyTypeShape shape;
    uint8_t level_three;
    bool fits;
  } cases[] = {
      {Shape(kShift | kMod5, 4, {{kShift, 1}, {kMod5, 2}, {kShift | kMod5, 3}}), kMod5, true},
      {Shape(kShift | kMod5, 4, {{kShift | kMod5, 3}, {kMod5, 2}, {kShift, 1}}), kMod5, true},
      {Shape(kShift | kMod3, 4, {{kShift, 1}, {kMod3, 2}, {kShift | kMod3, 3}}), kMod3, true},
      // Level 3 on another modifier than the map's level-3 key sets.
      {Shape(kShift | kMod5, 4, {{kShift, 1}, {kMod5, 2}, {kShift | kMod5, 3}}), kMod3, false},
      {Shape(kShift | kMod5, 4, {{kShift, 1}, {kMod5, 2}, {kShift | kMod5, 3}}), 0, false},
      // Caps Lock in the type (the alphabetic ones), a preserve, a fifth
      // level, a level out of place, three levels.
      {Shape(kShift | kLock | kMod5, 4,
             {{kShift, 1}, {kLock, 1}, {kMod5, 2}, {kShift | kMod5, 3}, {kLock | kMod5, 3}}),
       kMod5, false},
      {Shape(kShift | kMod5, 4, {{kShift, 1}, {kMod5, 2}, {kShift | kMod5, 3}}, true), kMod5,
       false},
      {Shape(kShift | kControl | kMod5, 5,
             {{kShift, 1}, {kMod5, 2}, {kShift | kMod5, 3}, {kControl, 4}}),
       kMod5, false},
      {Shape(kShift | kMod5, 4, {{kShift, 1}, {kMod5, 3}, {kShift | kMod5, 2}}), kMod5, false},
      {Shape(kShift | kMod5, 3, {{kShift, 1}, {kMod5, 2}, {kShift | kMod5, 2}}), kMod5, false},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(IsFourLevelType(cases[i].shape, cases[i].level_three), cases[i].fits) << i;
  }
}

}  // namespace
}  // namespace tarvix
