// An AccessibleApplication over an in-memory tree, recording what the walk
// asks of it.
#ifndef TARVIX_TESTS_FAKES_FAKE_ACCESSIBILITY_H_
#define TARVIX_TESTS_FAKES_FAKE_ACCESSIBILITY_H_

#include <map>
#include <vector>

#include "platform/accessibility.h"

namespace tarvix::testing {

class FakeApplication : public AccessibleApplication {
 public:
  // Element 0 is the focused window unless `focused` says otherwise.
  std::optional<FocusedWindow> focused = FocusedWindow{0, "Window"};
  std::map<ElementId, std::vector<ElementId>> children;
  std::map<ElementId, ElementAttributes> attributes;

  // Every element whose children or attributes were asked for.
  std::vector<ElementId> children_asked;
  std::vector<ElementId> attributes_asked;
  size_t children_rounds = 0;

  // A chain 0 -> 1 -> ... -> n-1, or a fan of n-1 children under 0.
  static FakeApplication Chain(ElementId n) {
    FakeApplication app;
    for (ElementId i = 0; i + 1 < n; ++i) app.children[i] = {i + 1};
    return app;
  }
  static FakeApplication Fan(ElementId n) {
    FakeApplication app;
    for (ElementId i = 1; i < n; ++i) app.children[0].push_back(i);
    return app;
  }

  std::optional<FocusedWindow> Focused() override { return focused; }

  std::vector<std::vector<ElementId>> Children(std::span<const ChildrenRequest> requests) override {
    ++children_rounds;
    std::vector<std::vector<ElementId>> out;
    for (const ChildrenRequest& request : requests) {
      children_asked.push_back(request.parent);
      std::vector<ElementId> list = children[request.parent];
      if (list.size() > request.limit) list.resize(request.limit);
      out.push_back(std::move(list));
    }
    return out;
  }

  std::vector<ElementAttributes> Attributes(std::span<const ElementId> elements) override {
    std::vector<ElementAttributes> out;
    for (ElementId id : elements) {
      attributes_asked.push_back(id);
      out.push_back(attributes[id]);
    }
    return out;
  }
};

}  // namespace tarvix::testing

#endif  // TARVIX_TESTS_FAKES_FAKE_ACCESSIBILITY_H_
