// The window list's two operations over the platform's window query: the
// front application and the window summary list ({app,h,title,w,x,y} per
// window). Both serve "ui_tree".
#ifndef TARVIX_TOOLS_DESKTOP_WINDOW_LIST_H_
#define TARVIX_TOOLS_DESKTOP_WINDOW_LIST_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "json/json.h"
#include "platform/window_query.h"

namespace tarvix {

using WindowQuery = std::function<Result<std::vector<WindowRecord>>()>;

// A rectangle number as a signed 64-bit integer: truncated toward zero,
// NaN as 0, saturated at the limits.
int64_t TruncateCoordinate(double value);

// The frontmost window on layer 0 (an absent layer counts as 0) that has
// an owner PID; none when the query fails or nothing qualifies.
std::optional<WindowRecord> FrontWindow(const WindowQuery& query = QueryWindows);
// That window's owner, handed on as a 32-bit process id.
std::optional<int32_t> FrontApplication(const WindowQuery& query = QueryWindows);

// `query` until it fails once; from then on that failure without asking
// again, so a window server that did not answer costs one tool call one
// wait, not one per use of the window list. Not thread-safe.
WindowQuery UntilFailure(WindowQuery query);

// {app,h,title,w,x,y} of one window.
Json WindowSummary(const WindowRecord& window);

// One summary per window in query order, leaving out windows whose owner
// name and title are both empty; the query's message when it fails.
ToolResult WindowSummaryList(const WindowQuery& query = QueryWindows);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_WINDOW_LIST_H_
