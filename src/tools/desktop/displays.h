// The "displays" tool: the monitors of the desktop in global points,
// {"bounds":{h,w,x,y}, "displays":[{height,id,name,primary,scale,width,x,y}]},
// bounds being the smallest rectangle that holds every display.
#ifndef TARVIX_TOOLS_DESKTOP_DISPLAYS_H_
#define TARVIX_TOOLS_DESKTOP_DISPLAYS_H_

#include <cstdint>
#include <functional>
#include <vector>

#include "json/json.h"
#include "platform/displays.h"
#include "platform/point_rect.h"

namespace tarvix {

using DisplayQuery = std::function<Result<std::vector<DisplayInfo>>()>;

// The smallest rectangle holding every display; all 0 for none.
PointRect DisplayBounds(const std::vector<DisplayInfo>& displays);

// A scale as JSON: a whole number as an integer (1, 2), else the double.
Json ScaleJson(double scale);

// The tool as the method table calls it (params ignored; any mode).
ToolResult Displays(const Json& params);
// The tool's logic over a given query.
ToolResult DisplaysFrom(const DisplayQuery& query);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_DISPLAYS_H_
