// The element walk of "ui_tree": the focused window's accessibility
// elements as a flat pre-order list, capped in depth and count, over the
// platform's AccessibleApplication. Shared by every platform.
#ifndef TARVIX_TOOLS_DESKTOP_ELEMENT_WALK_H_
#define TARVIX_TOOLS_DESKTOP_ELEMENT_WALK_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "json/json.h"
#include "platform/accessibility.h"

namespace tarvix {

// An element is recorded only at a depth of at most kMaxElementDepth (the
// window is at 0) and while fewer than kMaxElements are recorded.
inline constexpr uint32_t kMaxElementDepth = 22;
inline constexpr size_t kMaxElements = 220;

// Whether `actions` holds a name that presses an element on `platform`.
bool HasPressAction(const std::vector<std::string>& actions, const AccessibilityPlatform& platform);

// The element tree result {count, elements, note, source, truncated,
// window} of the application's focused window; nullopt when it has none.
//
// The records are those of a depth-first walk that records an element
// before its children and stops at the caps, with one difference for
// broken trees: an element met a second time (a cycle, or a child listed
// twice) is skipped with its subtree. Children are fetched a level at a
// time, only for elements that can still be recorded and only as many as
// can still be recorded; attributes for the recorded elements only.
//
// Bounds are in one space, relative to the main display. Where the
// application reports them relative to its window (the platform says so,
// or the window's own bounds are at 0,0 while its frame is elsewhere),
// every bound is moved by the frame `frame_of` gives for the window's
// title; without a frame they stay as reported.
using WindowFrameOf = std::function<std::optional<ElementBounds>(std::string_view title)>;
std::optional<Json> WalkElementTree(AccessibleApplication& application,
                                    const AccessibilityPlatform& platform,
                                    const WindowFrameOf& frame_of = nullptr);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_ELEMENT_WALK_H_
