#include "tools/desktop/screenshot.h"

#include <openssl/evp.h>

#include <algorithm>

#include "platform/screen_capture.h"

namespace tarvix {
namespace {

uint32_t BigEndian32(std::string_view bytes, size_t offset) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + offset);
  return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | uint32_t{p[3]};
}

}  // namespace

PngSize ReadPngSize(std::string_view png) {
  if (png.size() < 24 || png.substr(12, 4) != "IHDR") return {};
  return {BigEndian32(png, 16), BigEndian32(png, 20)};
}

std::string Base64(std::string_view bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3), '\0');
  if (text.empty()) return text;
  // EVP_EncodeBlock takes an int length; screenshots are far below 2 GiB,
  // but longer input still goes through in pieces of whole 3-byte groups.
  constexpr size_t kPiece = size_t{3} << 28;
  size_t in = 0, out = 0;
  while (in < bytes.size()) {
    const size_t n = std::min(kPiece, bytes.size() - in);
    out += static_cast<size_t>(
        EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data() + out),
                        reinterpret_cast<const unsigned char*>(bytes.data() + in),
                        static_cast<int>(n)));
    in += n;
  }
  // Each piece's trailing NUL lands on the next piece's first byte or on the
  // string's own terminator.
  text.resize(out);
  return text;
}

ToolResult ScreenshotFrom(const PngCapture& capture) {
  Result<std::string> png = capture();
  if (!png) return Error(std::move(png).error());
  const PngSize size = ReadPngSize(*png);
  return Json{{"base64", Base64(*png)},
              {"bytes", static_cast<uint64_t>(png->size())},
              {"format", "png"},
              {"height", size.height},
              {"width", size.width}};
}

MemoryBudget& ScreenshotBudget() {
  static MemoryBudget* budget = new MemoryBudget(kScreenshotBudget);
  return *budget;
}

ToolResult Screenshot(const Json&) {
  // Held until the PNG's Base64 text is built: the estimate counts it in.
  MemoryBudget::Grant grant;
  return ScreenshotFrom([&] { return CaptureMainDisplayPng(ScreenshotBudget(), grant); });
}

}  // namespace tarvix
