#include "tools/desktop/capture.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <utility>

#include "json/params.h"
#include "tools/desktop/screenshot.h"

namespace tarvix {
namespace {

// Tries of EncodeWithin: each shrinks the image, so a few reach 1x1.
constexpr int kMaxEncodeTries = 24;

// A member that is present and not null.
const Json* Given(const Json& params, std::string_view key) {
  const Json* value = FindParam(params, key);
  return value == nullptr || value->is_null() ? nullptr : value;
}

std::string Range(std::string_view name, uint64_t low, uint64_t high) {
  return "invalid param: " + std::string(name) + " must be an integer from " +
         std::to_string(low) + " to " + std::to_string(high);
}

// An integer member from `low` to `high`; absent stays absent.
Result<std::optional<uint64_t>> Bounded(const Json& params, std::string_view name, uint64_t low,
                                        uint64_t high) {
  if (Given(params, name) == nullptr) return std::optional<uint64_t>();
  const std::optional<uint64_t> value = UnsignedParam(params, name);
  if (!value || *value < low || *value > high) return Error(Range(name, low, high));
  return value;
}

struct Request {
  std::optional<PointRect> region;
  std::optional<int64_t> display;
  std::optional<uint64_t> window;
  CaptureLimits limits;
  uint64_t max_bytes = kDefaultCaptureBytes;
  ImageFormat format = ImageFormat::kPng;
  int quality = 80;
  bool cursor = false;
};

Result<Request> ReadRequest(const Json& params) {
  Request request;
  int targets = 0;
  if (const Json* region = Given(params, "region")) {
    ++targets;
    const std::optional<int64_t> x = SignedParam(*region, "x"), y = SignedParam(*region, "y"),
                                 w = SignedParam(*region, "w"), h = SignedParam(*region, "h");
    // Far beyond any desktop, and small enough that sums cannot overflow.
    constexpr int64_t kFar = int64_t{1} << 40;
    if (!region->is_object() || !x || !y || !w || !h || *w < 1 || *h < 1 || *x < -kFar ||
        *x > kFar || *y < -kFar || *y > kFar || *w > kFar || *h > kFar) {
      return Error("invalid param: region must be {x, y, w, h} with integers x, y and w, h of "
                   "at least 1");
    }
    request.region = PointRect{*x, *y, *w, *h};
  }
  if (const Json* display = Given(params, "display")) {
    ++targets;
    if (!display->is_number_integer()) return Error("invalid param: display must be an integer");
    request.display = SignedParam(params, "display");
    if (!request.display) return Error("invalid param: display must be an integer");
  }
  if (Given(params, "window") != nullptr) {
    ++targets;
    request.window = UnsignedParam(params, "window");
    if (!request.window) return Error("invalid param: window must be a window id (an integer)");
  }
  if (targets > 1) return Error("invalid param: give at most one of region, display and window");

  Result<std::optional<uint64_t>> value = Bounded(params, "max_width", 1, kMaxCaptureSide);
  if (!value) return Error(std::move(value).error());
  if (*value) request.limits.max_width = static_cast<uint32_t>(**value);
  value = Bounded(params, "max_height", 1, kMaxCaptureSide);
  if (!value) return Error(std::move(value).error());
  if (*value) request.limits.max_height = static_cast<uint32_t>(**value);
  value = Bounded(params, "max_pixels", 1, uint64_t{kMaxCaptureSide} * kMaxCaptureSide);
  if (!value) return Error(std::move(value).error());
  request.limits.max_pixels = *value;
  value = Bounded(params, "max_bytes", 1, kMaxCaptureBytes);
  if (!value) return Error(std::move(value).error());
  request.max_bytes = value->value_or(kDefaultCaptureBytes);
  value = Bounded(params, "quality", 1, 100);
  if (!value) return Error(std::move(value).error());
  request.quality = static_cast<int>(value->value_or(80));

  if (Given(params, "format") != nullptr) {
    const std::string* format = StringParam(params, "format");
    if (format == nullptr || (*format != "png" && *format != "jpeg")) {
      return Error("invalid param: format must be \"png\" or \"jpeg\"");
    }
    request.format = *format == "png" ? ImageFormat::kPng : ImageFormat::kJpeg;
  }
  if (const Json* cursor = Given(params, "cursor")) {
    if (!cursor->is_boolean()) return Error("invalid param: cursor must be true or false");
    request.cursor = cursor->get<bool>();
  }
  return request;
}

// `wanted` clipped to `desktop`; none when they do not overlap.
std::optional<PointRect> Clip(const PointRect& wanted, const PointRect& desktop) {
  const int64_t left = std::max(wanted.x, desktop.x);
  const int64_t top = std::max(wanted.y, desktop.y);
  const int64_t right = std::min(wanted.x + wanted.w, desktop.x + desktop.w);
  const int64_t bottom = std::min(wanted.y + wanted.h, desktop.y + desktop.h);
  if (right <= left || bottom <= top) return std::nullopt;
  return PointRect{left, top, right - left, bottom - top};
}

// The area a request names, in global points, clipped to the desktop.
Result<CaptureArea> AreaOf(const Request& request, const CaptureServices& services) {
  CaptureArea area;
  area.cursor = request.cursor;
  if (!request.region && !request.display && !request.window) {
    area.main_display = true;
    return area;
  }
  Result<std::vector<DisplayInfo>> displays = services.displays();
  if (!displays) return Error(std::move(displays).error());
  PointRect wanted;
  if (request.region) {
    wanted = *request.region;
  } else if (request.display) {
    const auto found = std::find_if(displays->begin(), displays->end(),
                                    [&](const DisplayInfo& d) { return d.id == *request.display; });
    if (found == displays->end()) {
      return Error("unknown display: " + std::to_string(*request.display));
    }
    wanted = {found->x, found->y, found->width, found->height};
  } else {
    Result<std::vector<WindowRecord>> windows = services.windows();
    if (!windows) return Error(std::move(windows).error());
    const auto found = std::find_if(windows->begin(), windows->end(), [&](const WindowRecord& w) {
      return w.id == request.window;
    });
    if (found == windows->end()) return Error("unknown window: " + std::to_string(*request.window));
    wanted = {TruncateCoordinate(std::floor(found->x)), TruncateCoordinate(std::floor(found->y)),
              TruncateCoordinate(std::ceil(found->width)),
              TruncateCoordinate(std::ceil(found->height))};
    area.window = *request.window;
  }
  const std::optional<PointRect> inside = Clip(wanted, DisplayBounds(*displays));
  if (!inside) return Error("invalid param: region outside the desktop");
  area.x = inside->x;
  area.y = inside->y;
  area.width = inside->w;
  area.height = inside->h;
  return area;
}

}  // namespace

PixelSize FitWithin(PixelSize source, const CaptureLimits& limits) {
  if (source.width == 0 || source.height == 0) return source;
  const double w = source.width, h = source.height;
  double factor = 1;
  if (limits.max_width) factor = std::min(factor, *limits.max_width / w);
  if (limits.max_height) factor = std::min(factor, *limits.max_height / h);
  if (limits.max_pixels) factor = std::min(factor, std::sqrt(*limits.max_pixels / (w * h)));
  if (factor >= 1) return source;
  // A hair above the product, so a side the limit sets exactly is not lost
  // to rounding; the limits are enforced below.
  PixelSize out{static_cast<uint32_t>(std::max(1.0, std::floor(w * factor + 1e-7))),
                static_cast<uint32_t>(std::max(1.0, std::floor(h * factor + 1e-7)))};
  out.width = std::min({out.width, source.width, limits.max_width.value_or(out.width)});
  out.height = std::min({out.height, source.height, limits.max_height.value_or(out.height)});
  if (limits.max_pixels) {
    while (uint64_t{out.width} * out.height > *limits.max_pixels) {
      (out.width >= out.height && out.width > 1 ? out.width : out.height) -= 1;
    }
  }
  return out;
}

Result<EncodedImage> EncodeWithin(ScreenImage& image, PixelSize first, ImageFormat format,
                                  int quality, uint64_t max_bytes) {
  PixelSize size = first;
  for (int attempt = 0;; ++attempt) {
    Result<std::string> bytes = image.Encode({size.width, size.height, format, quality});
    if (!bytes) return Error(std::move(bytes).error());
    if (bytes->size() <= max_bytes) return EncodedImage{std::move(bytes).value(), size};
    if ((size.width == 1 && size.height == 1) || attempt + 1 == kMaxEncodeTries) {
      return Error("refused: cannot meet max_bytes (smallest is " +
                   std::to_string(bytes->size()) + " bytes)");
    }
    const double shrink =
        std::min(0.95, 0.95 * std::sqrt(static_cast<double>(max_bytes) / bytes->size()));
    size = {static_cast<uint32_t>(std::max(1.0, std::floor(size.width * shrink))),
            static_cast<uint32_t>(std::max(1.0, std::floor(size.height * shrink)))};
  }
}

ToolResult CaptureWith(const Json& params, const CaptureServices& services) {
  Result<Request> request = ReadRequest(params);
  if (!request) return Error(std::move(request).error());
  Result<CaptureArea> area = AreaOf(*request, services);
  if (!area) return Error(std::move(area).error());
  Result<std::unique_ptr<ScreenImage>> grabbed = services.grab(*area);
  if (!grabbed) return Error(std::move(grabbed).error());
  ScreenImage& image = **grabbed;
  const PixelSize size = FitWithin({image.width(), image.height()}, request->limits);
  Result<EncodedImage> encoded =
      EncodeWithin(image, size, request->format, request->quality, request->max_bytes);
  if (!encoded) return Error(std::move(encoded).error());
  // Pixels per point of the image sent: the grab's, times the scaling.
  const double scale = image.scale() * encoded->size.width / image.width();
  const size_t bytes = encoded->bytes.size();
  return Json{{"base64", Base64(encoded->bytes)},
              {"bytes", bytes},
              {"format", request->format == ImageFormat::kPng ? "png" : "jpeg"},
              {"height", encoded->size.height},
              {"origin", {{"x", image.origin_x()}, {"y", image.origin_y()}}},
              {"scale", ScaleJson(scale)},
              {"width", encoded->size.width}};
}

ToolResult Capture(const Json& params) {
  // Held until the reply's Base64 text is built: the grab counted it in.
  MemoryBudget::Grant grant;
  return CaptureWith(params, CaptureServices{
                                 .displays = ListDisplays,
                                 .windows = QueryWindows,
                                 .grab = [&](const CaptureArea& area) {
                                   return GrabScreenArea(area, ScreenshotBudget(), grant);
                                 }});
}

}  // namespace tarvix
