// Displays: the monitors that make up the desktop, in global display
// points (origin at the top-left corner of the main display, the display
// whose origin screenshots and input share).
//
// The platform file defines ListDisplays. On X11 a display is a RandR
// monitor (one point per pixel); on macOS an active CGDisplay with its
// backing scale. Thread-safe and stateless: each call asks afresh.
#ifndef TARVIX_PLATFORM_DISPLAYS_H_
#define TARVIX_PLATFORM_DISPLAYS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "base/result.h"

namespace tarvix {

struct DisplayInfo {
  // Stable while the layout does not change: on X11 the 1-based position
  // in RandR's monitor list, on macOS the CGDirectDisplayID.
  int64_t id = 0;
  std::string name;
  // The display's rectangle in global points.
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;
  // Pixels per point (2 on a Retina display).
  double scale = 1;
  // The main display; at most one is.
  bool primary = false;
};

// The displays in the platform's order. Fails with the complete message for
// the reply, beginning "unavailable: " (no display server, or one that did
// not answer).
Result<std::vector<DisplayInfo>> ListDisplays();

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_DISPLAYS_H_
