// An AccessibleApplication over an in-memory tree, recording what the walk
// asks of it.
#ifndef TARVIX_TESTS_FAKES_FAKE_ACCESSIBILITY_H_
#define TARVIX_TESTS_FAKES_FAKE_ACCESSIBILITY_H_

#include <map>
#include <memory>
#include <set>
#include <string>
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

  // Elements without attributes set answer as "AXGroup". What `reads`
  // leaves out is left unread.
  std::vector<ElementAttributes> DetailedAttributes(std::span<const ElementId> elements,
                                                    const DetailReads& reads) override {
    std::vector<ElementAttributes> out = Attributes(elements);
    for (size_t i = 0; i < out.size(); ++i) {
      if (out[i].role.empty()) out[i].role = "AXGroup";
      out[i].answered = !unanswered.contains(elements[i]);
      if (!reads.bounds) out[i].bounds = std::nullopt;
      if (!reads.actions) out[i].actions = std::nullopt;
      if (!reads.value) out[i].value = std::nullopt;
      if (reads.bounds && bounds_asked) bounds_asked->push_back(elements[i]);
    }
    return out;
  }
  // When set, every element whose bounds DetailedAttributes read (shared
  // by the copies of this object).
  std::shared_ptr<std::vector<ElementId>> bounds_asked;

  std::vector<TopLevelWindow> windows;
  std::set<ElementId> unanswered;
  std::vector<int32_t> unresponsive;
  bool out_of_time = false;

  std::vector<TopLevelWindow> Windows() override { return windows; }
  ElementHandle Handle(ElementId element) override {
    return {.pid = 7, .locator = "element " + std::to_string(element)};
  }
  std::vector<int32_t> Unresponsive() override { return unresponsive; }
  bool OutOfTime() override { return out_of_time; }
};

}  // namespace tarvix::testing

#endif  // TARVIX_TESTS_FAKES_FAKE_ACCESSIBILITY_H_
