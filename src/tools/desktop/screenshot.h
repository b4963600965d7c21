// The "screenshot" tool: the main display as a PNG, returned inline as
// {base64, bytes, format "png", height, width}.
#ifndef TARVIX_TOOLS_DESKTOP_SCREENSHOT_H_
#define TARVIX_TOOLS_DESKTOP_SCREENSHOT_H_

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/memory_budget.h"
#include "json/json.h"

namespace tarvix {

// Produces the PNG file bytes or the complete error message.
using PngCapture = std::function<Result<std::string>()>;

struct PngSize {
  uint32_t width = 0;
  uint32_t height = 0;
  bool operator==(const PngSize&) const = default;
};

// Width and height from the IHDR chunk: when `png` holds at least 24 bytes
// and bytes 12..15 are "IHDR", the big-endian values at offsets 16 and 20;
// otherwise both 0. The signature is not checked.
PngSize ReadPngSize(std::string_view png);

// Standard Base64 with "=" padding, on one line.
std::string Base64(std::string_view bytes);

// Bytes that screenshots in progress may hold together. Half a gigabyte
// lets captures of ordinary screens run side by side, while huge ones
// (8192x8192 needs about 700 MiB) run one at a time; a capture larger than
// the whole budget (the biggest screen X allows) runs alone.
inline constexpr size_t kScreenshotBudget = size_t{512} << 20;
// The budget every screenshot call shares.
MemoryBudget& ScreenshotBudget();

// The tool as the method table calls it (params ignored; any mode).
ToolResult Screenshot(const Json& params);
// The tool's logic over a given capture.
ToolResult ScreenshotFrom(const PngCapture& capture);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_SCREENSHOT_H_
