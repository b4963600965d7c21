#include "tools/desktop/element_walk.h"

#include <algorithm>
#include <cmath>
#include <unordered_map>
#include <unordered_set>

#include "tools/desktop/window_list.h"

namespace tarvix {
namespace {

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
  // Field by field: a nested initializer list builds each field as a
  // two-element array first.
  Json record(Json::value_t::object);
  Json::object_t& fields = record.get_ref<Json::object_t&>();
  fields.emplace("bounds", BoundsJson(attributes.bounds));
  fields.emplace("clickable", clickable);
  fields.emplace("depth", depth);
  fields.emplace("enabled", enabled);
  fields.emplace("name", attributes.name);
  fields.emplace("role", attributes.role);
  fields.emplace("value", attributes.value ? Json(*attributes.value) : Json(nullptr));
  return record;
}

struct Node {
  ElementId id;
  uint32_t depth;
  bool expanded;
};

}  // namespace

Json BoundsJson(const std::optional<ElementBounds>& bounds) {
  if (!bounds) return nullptr;
  Json json(Json::value_t::object);
  Json::object_t& fields = json.get_ref<Json::object_t&>();
  fields.emplace("h", TruncateCoordinate(bounds->height));
  fields.emplace("w", TruncateCoordinate(bounds->width));
  fields.emplace("x", TruncateCoordinate(bounds->x));
  fields.emplace("y", TruncateCoordinate(bounds->y));
  return json;
}

// Each round expands every element that can still be recorded and whose
// children are unknown; inserting children only pushes later elements
// further back, so an element beyond the cap never comes back and is
// dropped. An element is created one level below its parent, so there are
// at most max_depth rounds (one more to probe the depth cap).
Walk WalkElements(AccessibleApplication& application, std::span<const ElementId> roots,
                  const WalkLimits& limits) {
  Walk walk;
  std::vector<Node> order;
  std::unordered_set<ElementId> seen;
  for (ElementId root : roots) {
    if (order.size() >= limits.max_elements) {
      walk.hit_max_elements = true;
      break;
    }
    if (seen.insert(root).second) order.push_back({root, 0, false});
  }
  // Parents by id: indices move while children are inserted.
  std::unordered_map<ElementId, ElementId> parent_of;
  for (;;) {
    std::vector<ChildrenRequest> requests;
    std::vector<size_t> expanding;
    std::vector<ChildrenRequest> probes;
    for (size_t i = 0; i < order.size(); ++i) {
      Node& node = order[i];
      if (node.expanded) continue;
      node.expanded = true;
      // Children at the depth cap, or after the last record, are never
      // recorded.
      if (i + 1 >= limits.max_elements) continue;
      if (node.depth >= limits.max_depth) {
        if (limits.probe_depth && !walk.hit_max_depth) {
          probes.push_back({node.id, 1, limits.hidden_too});
        }
        continue;
      }
      requests.push_back({node.id, limits.max_elements - i - 1, limits.hidden_too});
      expanding.push_back(i);
    }
    if (requests.empty() && probes.empty()) break;
    if (limits.out_of_time && limits.out_of_time()) {
      walk.hit_deadline = true;
      break;
    }
    const size_t asked = requests.size();
    requests.insert(requests.end(), probes.begin(), probes.end());
    std::vector<std::vector<ElementId>> children = application.Children(requests);
    children.resize(requests.size());
    for (size_t k = asked; k < children.size(); ++k) {
      if (!children[k].empty()) walk.hit_max_depth = true;
    }
    std::vector<Node> next;
    next.reserve(std::min(limits.max_elements, order.size() * 2));
    size_t request = 0;
    for (size_t i = 0; i < order.size(); ++i) {
      if (next.size() >= limits.max_elements) {
        walk.hit_max_elements = true;
        break;
      }
      next.push_back(order[i]);
      if (request < expanding.size() && expanding[request] == i) {
        for (ElementId child : children[request]) {
          if (next.size() >= limits.max_elements) {
            walk.hit_max_elements = true;
            break;
          }
          if (!seen.insert(child).second) continue;
          next.push_back({child, order[i].depth + 1, false});
          parent_of[child] = order[i].id;
        }
        ++request;
      }
    }
    order = std::move(next);
  }
  std::unordered_map<ElementId, size_t> index_of;
  walk.elements.reserve(order.size());
  for (size_t i = 0; i < order.size(); ++i) {
    index_of[order[i].id] = i;
    WalkedElement& element = walk.elements.emplace_back();
    element.id = order[i].id;
    element.depth = order[i].depth;
    if (const auto parent = parent_of.find(order[i].id); parent != parent_of.end()) {
      element.parent = index_of.at(parent->second);
    }
  }
  return walk;
}

// What the frame adds around the window is taken as a window manager
// draws it: equal borders left and right, one as wide at the bottom, the
// rest on top (a title bar); a frame without decoration adds nothing.
void MoveToScreen(bool window_relative_bounds, const std::optional<WindowFrame>& window,
                  std::span<const WalkedElement> walked, std::span<ElementAttributes> attributes) {
  if (!window || attributes.empty()) return;
  const ElementBounds* frame = &window->bounds;
  const std::optional<ElementBounds>& own = attributes[0].bounds;
  // A window whose frame starts right of or below the display's corner
  // cannot itself be at 0,0 in display coordinates.
  const bool at_origin_elsewhere =
      own && own->x == 0 && own->y == 0 && (frame->x > 0 || frame->y > 0);
  if (!window_relative_bounds && !window->window_relative_elements && !at_origin_elsewhere) return;
  double dx = frame->x, dy = frame->y;
  if (own && own->width <= frame->width && own->height <= frame->height) {
    const double side = std::floor((frame->width - own->width) / 2);
    dx += side;
    dy += std::max(0.0, frame->height - own->height - side);
  } else if (own) {
    // A window larger than its frame draws its own shadow around it
    // (client-side decorations): the frame starts where the window's
    // children do.
    std::optional<std::pair<double, double>> start;
    for (size_t i = 1; i < std::min(walked.size(), attributes.size()); ++i) {
      const std::optional<ElementBounds>& child = attributes[i].bounds;
      if (walked[i].depth != walked[0].depth + 1 || !child || child->width <= 0) continue;
      start = start ? std::pair(std::min(start->first, child->x), std::min(start->second, child->y))
                    : std::pair(child->x, child->y);
    }
    if (start) {
      dx -= start->first;
      dy -= start->second;
    }
  }
  for (ElementAttributes& element : attributes) {
    if (!element.bounds) continue;
    element.bounds->x += dx;
    element.bounds->y += dy;
  }
}

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
  const std::vector<WalkedElement> order =
      WalkElements(application, {&window->element, 1}, WalkLimits{}).elements;
  std::vector<ElementId> ids;
  ids.reserve(order.size());
  for (const WalkedElement& node : order) ids.push_back(node.id);
  std::vector<ElementAttributes> attributes = application.Attributes(ids);
  attributes.resize(order.size());
  if (frame_of) {
    MoveToScreen(window->window_relative_bounds, frame_of(window->title), order, attributes);
  }
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
