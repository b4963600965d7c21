#include "tools/desktop/element_walk.h"

#include <algorithm>
#include <cmath>
#include <unordered_set>

#include "tools/desktop/window_list.h"

namespace tarvix {
namespace {

struct Node {
  ElementId id;
  uint32_t depth;
  bool expanded;
};

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

Json Record(const ElementAttributes& attributes, uint32_t depth,
            const AccessibilityPlatform& platform) {
  const bool enabled = attributes.enabled.value_or(true);
  const bool clickable =
      enabled && attributes.actions && HasPressAction(*attributes.actions, platform);
  Json bounds = nullptr;
  if (attributes.bounds) {
    const ElementBounds& b = *attributes.bounds;
    bounds = Json{{"h", TruncateCoordinate(b.height)},
                  {"w", TruncateCoordinate(b.width)},
                  {"x", TruncateCoordinate(b.x)},
                  {"y", TruncateCoordinate(b.y)}};
  }
  return Json{{"bounds", std::move(bounds)},
              {"clickable", clickable},
              {"depth", depth},
              {"enabled", enabled},
              {"name", attributes.name},
              {"role", attributes.role},
              {"value", attributes.value ? Json(*attributes.value) : Json(nullptr)}};
}

// The first kMaxElements elements of the capped pre-order walk. Each round
// expands every element that can still be recorded and whose children are
// unknown; inserting children only pushes later elements further back, so
// an element beyond the cap never comes back and is dropped. An element is
// created one level below its parent, so there are at most
// kMaxElementDepth rounds.
std::vector<Node> WalkOrder(AccessibleApplication& application, ElementId window) {
  std::vector<Node> order = {{window, 0, false}};
  std::unordered_set<ElementId> seen = {window};
  for (;;) {
    std::vector<ChildrenRequest> requests;
    std::vector<size_t> expanding;
    for (size_t i = 0; i < order.size(); ++i) {
      Node& node = order[i];
      if (node.expanded) continue;
      node.expanded = true;
      // Children at the depth cap, or after the last record, are never
      // recorded.
      if (node.depth >= kMaxElementDepth || i + 1 >= kMaxElements) continue;
      requests.push_back({node.id, kMaxElements - i - 1});
      expanding.push_back(i);
    }
    if (requests.empty()) return order;
    std::vector<std::vector<ElementId>> children = application.Children(requests);
    children.resize(requests.size());
    std::vector<Node> next;
    next.reserve(kMaxElements);
    size_t request = 0;
    for (size_t i = 0; i < order.size() && next.size() < kMaxElements; ++i) {
      next.push_back(order[i]);
      if (request < expanding.size() && expanding[request] == i) {
        for (ElementId child : children[request]) {
          if (next.size() >= kMaxElements) break;
          if (!seen.insert(child).second) continue;
          next.push_back({child, order[i].depth + 1, false});
        }
        ++request;
      }
    }
    order = std::move(next);
  }
}

// Moves window-relative bounds by where the window lies in its frame (see
// WalkElementTree). What the frame adds around the window is taken as a
// window manager draws it: equal borders left and right, one as wide at
// the bottom, the rest on top (a title bar); a frame without decoration
// adds nothing.
void MoveToScreen(const FocusedWindow& window, const std::optional<ElementBounds>& frame,
                  std::vector<ElementAttributes>& attributes) {
  if (!frame || attributes.empty()) return;
  const std::optional<ElementBounds>& own = attributes[0].bounds;
  // A window whose frame starts right of or below the display's corner
  // cannot itself be at 0,0 in display coordinates.
  const bool at_origin_elsewhere =
      own && own->x == 0 && own->y == 0 && (frame->x > 0 || frame->y > 0);
  if (!window.window_relative_bounds && !at_origin_elsewhere) return;
  double dx = frame->x, dy = frame->y;
  if (own && own->width <= frame->width && own->height <= frame->height) {
    const double side = std::floor((frame->width - own->width) / 2);
    dx += side;
    dy += std::max(0.0, frame->height - own->height - side);
  }
  for (ElementAttributes& element : attributes) {
    if (!element.bounds) continue;
    element.bounds->x += dx;
    element.bounds->y += dy;
  }
}

}  // namespace

bool HasPressAction(const std::vector<std::string>& actions, const AccessibilityPlatform& platform) {
  for (const std::string& action : actions) {
    for (std::string_view press : platform.press_actions) {
      if (platform.press_actions_ignore_ascii_case ? EqualsIgnoringAsciiCase(action, press)
                                                   : action == press) {
        return true;
      }
    }
  }
  return false;
}

std::optional<Json> WalkElementTree(AccessibleApplication& application,
                                    const AccessibilityPlatform& platform,
                                    const WindowFrameOf& frame_of) {
  const std::optional<FocusedWindow> window = application.Focused();
  if (!window) return std::nullopt;
  const std::vector<Node> order = WalkOrder(application, window->element);
  std::vector<ElementId> ids;
  ids.reserve(order.size());
  for (const Node& node : order) ids.push_back(node.id);
  std::vector<ElementAttributes> attributes = application.Attributes(ids);
  attributes.resize(order.size());
  if (frame_of) MoveToScreen(*window, frame_of(window->title), attributes);
  Json elements = Json::array();
  for (size_t i = 0; i < order.size(); ++i) {
    elements.push_back(Record(attributes[i], order[i].depth, platform));
  }
  const size_t count = elements.size();
  return Json{{"count", count},
              {"elements", std::move(elements)},
              {"note", platform.note},
              {"source", platform.source},
              {"truncated", count >= kMaxElements},
              {"window", window->title}};
}

}  // namespace tarvix
