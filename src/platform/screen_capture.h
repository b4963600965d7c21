// Screen capture: an image of the main display (the display whose top-left
// corner is the origin of global display points), encoded as PNG.
//
// The platform file defines CaptureMainDisplayPng. On X11 the image is taken
// in-process from the X server of DISPLAY and encoded in memory; a platform
// whose capture is a separate program may hand back that program's file.
//
// Thread-safe: any number of calls may run at once. A platform may keep a
// connection and capture memory warm between calls, but gives them back
// when captures stop and never lets a failure of one call break the next.
// Captures share a memory budget: once a call knows the screen's size it
// reserves what the image, its PNG and the PNG's Base64 text may take,
// waiting while other captures hold the budget, before it reads a pixel.
#ifndef TARVIX_PLATFORM_SCREEN_CAPTURE_H_
#define TARVIX_PLATFORM_SCREEN_CAPTURE_H_

#include <cstdint>
#include <memory>
#include <string>

#include "base/memory_budget.h"
#include "base/result.h"

namespace tarvix {

enum class ImageFormat { kPng, kJpeg };

// How a grabbed image is to be encoded: scaled to width x height (at most
// the grab's size) and written as PNG or JPEG of the given quality (1-100).
struct ImageEncoding {
  uint32_t width = 0;
  uint32_t height = 0;
  ImageFormat format = ImageFormat::kPng;
  int quality = 80;
};

// Pixels grabbed from the screen, held by the platform (and counted in the
// capture budget) until destroyed. Not thread-safe: one caller at a time.
class ScreenImage {
 public:
  virtual ~ScreenImage() = default;
  // The grab's size in pixels.
  virtual uint32_t width() const = 0;
  virtual uint32_t height() const = 0;
  // Where its top-left pixel is, in global points, and how many pixels it
  // has per point.
  virtual int64_t origin_x() const = 0;
  virtual int64_t origin_y() const = 0;
  virtual double scale() const = 0;
  // The image encoded as asked; may be called again with other sizes. At
  // the grab's own size a PNG holds exactly the grabbed pixels (on X11 the
  // same bytes a screenshot of them gives). Errors are complete messages.
  virtual Result<std::string> Encode(const ImageEncoding& encoding) = 0;
};

// What to grab.
struct CaptureArea {
  // The main display, exactly as CaptureMainDisplayPng takes it; the
  // rectangle below is then ignored.
  bool main_display = false;
  // A rectangle in global points, inside the desktop.
  int64_t x = 0;
  int64_t y = 0;
  int64_t width = 0;
  int64_t height = 0;
  // A window (its platform id) whose rectangle this is: a platform that
  // captures windows themselves (macOS) takes the window, even where others
  // cover it; X11 takes the rectangle as it shows on screen.
  uint64_t window = 0;
  // Draw the pointer into the image.
  bool cursor = false;
};

// Grabs `area`. On X11 only that rectangle is read from the server, and
// the grab reserves from `budget` what it, one scaled copy, the encoded
// image and its Base64 text may take at their largest, leaving the
// reservation in `grant` for the caller to hold until the reply is built.
// Errors are complete messages for the reply.
Result<std::unique_ptr<ScreenImage>> GrabScreenArea(const CaptureArea& area, MemoryBudget& budget,
                                                    MemoryBudget::Grant& grant);

// The PNG file's bytes, or the complete message for the screenshot reply
// (e.g. "screencapture failed - ..."). The reservation from `budget` is
// left in `grant`, for the caller to hold until it has encoded the PNG;
// a platform that cannot know the size beforehand reserves nothing.
Result<std::string> CaptureMainDisplayPng(MemoryBudget& budget, MemoryBudget::Grant& grant);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_SCREEN_CAPTURE_H_
