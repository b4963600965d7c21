// The element walk of "ui_tree" and "ui_snapshot": accessibility elements
// as a flat pre-order list, capped in depth and count, over the platform's
// AccessibleApplication. Shared by every platform.
#ifndef TARVIX_TOOLS_DESKTOP_ELEMENT_WALK_H_
#define TARVIX_TOOLS_DESKTOP_ELEMENT_WALK_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "json/json.h"
#include "platform/accessibility.h"

namespace tarvix {

// An element is recorded only at a depth of at most kMaxElementDepth (the
// window is at 0) and while fewer than kMaxElements are recorded.
inline constexpr uint32_t kMaxElementDepth = 22;
inline constexpr size_t kMaxElements = 220;

struct WalkLimits {
  uint32_t max_depth = kMaxElementDepth;
  size_t max_elements = kMaxElements;
  // Children known to be off screen are walked too.
  bool hidden_too = false;
  // Asks whether elements at the depth cap have children, so that
  // hit_max_depth can be told.
  bool probe_depth = false;
  // Asked before each level; when it answers true the walk stops there.
  std::function<bool()> out_of_time;
};

struct WalkedElement {
  ElementId id = 0;
  uint32_t depth = 0;
  // The parent's index in the walk, or nullopt for a root.
  std::optional<size_t> parent;
};

struct Walk {
  std::vector<WalkedElement> elements;
  // An element was left out because of the count cap, or (probe_depth)
  // an element at the depth cap has children, or out_of_time stopped it.
  bool hit_max_elements = false;
  bool hit_max_depth = false;
  bool hit_deadline = false;
};

// The capped pre-order walk from `roots` (each at depth 0), as
// WalkElementTree describes it.
Walk WalkElements(AccessibleApplication& application, std::span<const ElementId> roots,
                  const WalkLimits& limits);

// A window's frame in display coordinates, and whether the window server
// knows its application to report bounds relative to the window.
struct WindowFrame {
  ElementBounds bounds;
  bool window_relative_elements = false;
};

// Moves window-relative bounds of one window's elements (the window's
// own first; `walked` their places in the walk) to display coordinates,
// as WalkElementTree describes.
void MoveToScreen(bool window_relative_bounds, const std::optional<WindowFrame>& frame,
                  std::span<const WalkedElement> walked, std::span<ElementAttributes> attributes);

// The reply's {h,w,x,y} of optional bounds (null without).
Json BoundsJson(const std::optional<ElementBounds>& bounds);

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
// application reports them relative to its window (the platform or the
// window server says so, or the window's own bounds are at 0,0 while its
// frame is elsewhere),
// every bound is moved by the frame `frame_of` gives for the window's
// title; without a frame they stay as reported.
using WindowFrameOf = std::function<std::optional<WindowFrame>(std::string_view title)>;
std::optional<Json> WalkElementTree(AccessibleApplication& application,
                                    const AccessibilityPlatform& platform,
                                    const WindowFrameOf& frame_of = nullptr);

}  // namespace tarvix

#endif  // TARVIX_TOOLS_DESKTOP_ELEMENT_WALK_H_
