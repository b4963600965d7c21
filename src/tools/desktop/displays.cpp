#include "tools/desktop/displays.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tarvix {

PointRect DisplayBounds(const std::vector<DisplayInfo>& displays) {
  if (displays.empty()) return {};
  int64_t left = displays[0].x, top = displays[0].y;
  int64_t right = left + displays[0].width, bottom = top + displays[0].height;
  for (const DisplayInfo& d : displays) {
    left = std::min(left, d.x);
    top = std::min(top, d.y);
    right = std::max(right, d.x + d.width);
    bottom = std::max(bottom, d.y + d.height);
  }
  return {left, top, right - left, bottom - top};
}

Json ScaleJson(double scale) {
  if (std::isfinite(scale) && scale == std::floor(scale) && std::fabs(scale) < 1e15) {
    return static_cast<int64_t>(scale);
  }
  return scale;
}

ToolResult DisplaysFrom(const DisplayQuery& query) {
  Result<std::vector<DisplayInfo>> displays = query();
  if (!displays) return Error(std::move(displays).error());
  Json list = Json::array();
  for (DisplayInfo& d : *displays) {
    list.push_back(Json{{"height", d.height},
                        {"id", d.id},
                        {"name", std::move(d.name)},
                        {"primary", d.primary},
                        {"scale", ScaleJson(d.scale)},
                        {"width", d.width},
                        {"x", d.x},
                        {"y", d.y}});
  }
  const PointRect bounds = DisplayBounds(*displays);
  return Json{{"bounds", {{"h", bounds.h}, {"w", bounds.w}, {"x", bounds.x}, {"y", bounds.y}}},
              {"displays", std::move(list)}};
}

ToolResult Displays(const Json&) { return DisplaysFrom(ListDisplays); }

}  // namespace tarvix
