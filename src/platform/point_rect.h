// A rectangle in global display points (origin at the top-left corner of
// the main display, y growing down).
#ifndef TARVIX_PLATFORM_POINT_RECT_H_
#define TARVIX_PLATFORM_POINT_RECT_H_

#include <cstdint>

namespace tarvix {

struct PointRect {
  int64_t x = 0;
  int64_t y = 0;
  int64_t w = 0;
  int64_t h = 0;

  bool Intersects(const PointRect& other) const {
    return x < other.x + other.w && other.x < x + w && y < other.y + other.h &&
           other.y < y + h;
  }
  friend bool operator==(const PointRect&, const PointRect&) = default;
};

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_POINT_RECT_H_
