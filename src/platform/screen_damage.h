// Screen damage: where the picture on the screen changes, as it happens.
//
// The platform file defines WatchScreenDamage. On X11 the server reports
// every change (the DAMAGE extension on the root window); a platform
// without such reports compares frames of the main display at a fixed
// interval and reports the parts that differ.
#ifndef TARVIX_PLATFORM_SCREEN_DAMAGE_H_
#define TARVIX_PLATFORM_SCREEN_DAMAGE_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "base/result.h"
#include "platform/point_rect.h"

namespace tarvix {

// One watch, used by one thread. Changes are collected from its creation on.
class ScreenDamageWatch {
 public:
  virtual ~ScreenDamageWatch() = default;
  // The changes reported since the last call, waiting until `until` for the
  // first when there are none yet: empty when the screen did not change by
  // then. Fails with the complete message when the window server is gone.
  virtual Result<std::vector<PointRect>> Next(std::chrono::steady_clock::time_point until) = 0;
};

// Starts watching. Fails with the complete message for the reply
// ("unavailable: ...") when the screen cannot be watched.
Result<std::unique_ptr<ScreenDamageWatch>> WatchScreenDamage();

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_SCREEN_DAMAGE_H_
