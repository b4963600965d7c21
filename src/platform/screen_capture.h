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

#include <string>

#include "base/memory_budget.h"
#include "base/result.h"

namespace tarvix {

// The PNG file's bytes, or the complete message for the screenshot reply
// (e.g. "screencapture failed - ..."). The reservation from `budget` is
// left in `grant`, for the caller to hold until it has encoded the PNG;
// a platform that cannot know the size beforehand reserves nothing.
Result<std::string> CaptureMainDisplayPng(MemoryBudget& budget, MemoryBudget::Grant& grant);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_SCREEN_CAPTURE_H_
