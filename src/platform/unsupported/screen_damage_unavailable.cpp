// Hosts without a way to watch the screen: wait_for's screen conditions
// answer that they cannot be met here.
#include "platform/screen_damage.h"

namespace tarvix {

Result<std::unique_ptr<ScreenDamageWatch>> WatchScreenDamage() {
  return Error("unavailable: the screen cannot be watched on this platform");
}

}  // namespace tarvix
