// The accessibility service on macOS: the AX interface of one application,
// read element by element on the calling worker. Each read waits at most a
// second for the application, and all of one call's reads share a budget,
// so an application that stops answering cannot hold a worker for long.
#include <ApplicationServices/ApplicationServices.h>

#include <chrono>
#include <unordered_map>

#include "platform/accessibility.h"
#include "platform/macos/cf_value.h"

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;

constexpr float kPerCallSeconds = 1.0f;
constexpr std::chrono::seconds kBudget(3);

constexpr std::string_view kPressActions[] = {"AXPress"};

// The attribute names, made once per application.
struct AttributeNames {
  CfOwned<CFStringRef> focused_window = CfString("AXFocusedWindow");
  CfOwned<CFStringRef> main_window = CfString("AXMainWindow");
  CfOwned<CFStringRef> title = CfString("AXTitle");
  CfOwned<CFStringRef> role = CfString("AXRole");
  CfOwned<CFStringRef> value = CfString("AXValue");
  CfOwned<CFStringRef> position = CfString("AXPosition");
  CfOwned<CFStringRef> size = CfString("AXSize");
  CfOwned<CFStringRef> enabled = CfString("AXEnabled");
  CfOwned<CFStringRef> children = CfString("AXChildren");
};

// The geometry an AX value wraps, when it wraps `type`.
template <typename Geometry>
std::optional<Geometry> AxGeometry(CFTypeRef value, AXValueType type) {
  if (!IsCfType(value, AXValueGetTypeID())) return std::nullopt;
  const auto wrapped = static_cast<AXValueRef>(value);
  Geometry geometry;
  if (AXValueGetType(wrapped) != type || !AXValueGetValue(wrapped, type, &geometry)) {
    return std::nullopt;
  }
  return geometry;
}

class AxApplication final : public AccessibleApplication {
 public:
  AxApplication(CfOwned<AXUIElementRef> application, Clock::time_point deadline)
      : application_(std::move(application)), deadline_(deadline) {}

  std::optional<FocusedWindow> Focused() override {
    CfOwned<CFTypeRef> window = Read(application_.get(), names_.focused_window.get());
    if (!window) window = Read(application_.get(), names_.main_window.get());
    if (!IsCfType(window.get(), AXUIElementGetTypeID())) return std::nullopt;
    const auto element = static_cast<AXUIElementRef>(window.get());
    const CfOwned<CFTypeRef> title = Read(element, names_.title.get());
    return FocusedWindow{Intern(element), CfStringText(title.get()).value_or("")};
  }

  std::vector<std::vector<ElementId>> Children(
      std::span<const ChildrenRequest> requests) override {
    std::vector<std::vector<ElementId>> levels;
    levels.reserve(requests.size());
    for (const ChildrenRequest& request : requests) {
      std::vector<ElementId>& children = levels.emplace_back();
      const CfOwned<CFTypeRef> list = Read(Element(request.parent), names_.children.get());
      if (!IsCfType(list.get(), CFArrayGetTypeID())) continue;
      const auto array = static_cast<CFArrayRef>(list.get());
      const CFIndex count = CFArrayGetCount(array);
      for (CFIndex i = 0; i < count && children.size() < request.limit; ++i) {
        const CFTypeRef child = CFArrayGetValueAtIndex(array, i);
        if (IsCfType(child, AXUIElementGetTypeID())) {
          children.push_back(Intern(static_cast<AXUIElementRef>(child)));
        }
      }
    }
    return levels;
  }

  std::vector<ElementAttributes> Attributes(std::span<const ElementId> elements) override {
    std::vector<ElementAttributes> all;
    all.reserve(elements.size());
    for (const ElementId id : elements) all.push_back(ReadAttributes(Element(id)));
    return all;
  }

 private:
  ElementAttributes ReadAttributes(AXUIElementRef element) {
    ElementAttributes attributes;
    attributes.role = CfStringText(Read(element, names_.role.get()).get()).value_or("");
    attributes.name = CfStringText(Read(element, names_.title.get()).get()).value_or("");
    attributes.value = CfStringText(Read(element, names_.value.get()).get());
    const std::optional<CGPoint> position =
        AxGeometry<CGPoint>(Read(element, names_.position.get()).get(), kAXValueTypeCGPoint);
    const std::optional<CGSize> size =
        AxGeometry<CGSize>(Read(element, names_.size.get()).get(), kAXValueTypeCGSize);
    if (position && size) {
      attributes.bounds = ElementBounds{position->x, position->y, size->width, size->height};
    }
    if (const CfOwned<CFTypeRef> enabled = Read(element, names_.enabled.get())) {
      attributes.enabled = enabled.get() == kCFBooleanTrue;
    }
    // A disabled element is never clickable: its actions are not asked for.
    if (attributes.enabled.value_or(true)) attributes.actions = ActionNames(element);
    return attributes;
  }

  std::optional<std::vector<std::string>> ActionNames(AXUIElementRef element) {
    if (!Usable()) return std::nullopt;
    CfOwned<CFArrayRef> names;
    if (!Succeeded(AXUIElementCopyActionNames(element, names.out())) || !names) return std::nullopt;
    std::vector<std::string> actions;
    const CFIndex count = CFArrayGetCount(names.get());
    for (CFIndex i = 0; i < count; ++i) {
      if (std::optional<std::string> name = CfStringText(CFArrayGetValueAtIndex(names.get(), i))) {
        actions.push_back(std::move(*name));
      }
    }
    return actions;
  }

  // One attribute's value; null when it cannot be read.
  CfOwned<CFTypeRef> Read(AXUIElementRef element, CFStringRef attribute) {
    CfOwned<CFTypeRef> value;
    if (element == nullptr || attribute == nullptr || !Usable()) return value;
    if (!Succeeded(AXUIElementCopyAttributeValue(element, attribute, value.out()))) {
      return CfOwned<CFTypeRef>();
    }
    return value;
  }

  // An application that let a read time out is asked nothing more.
  bool Succeeded(AXError error) {
    if (error == kAXErrorCannotComplete) responsive_ = false;
    return error == kAXErrorSuccess;
  }

  bool Usable() const { return responsive_ && Clock::now() < deadline_; }

  AXUIElementRef Element(ElementId id) const {
    return id < elements_.size() ? elements_[id].get() : nullptr;
  }

  // The id of `element`: AX hands out a new reference for every read, but
  // equal references (CFEqual) name the same element.
  ElementId Intern(AXUIElementRef element) {
    const CFHashCode hash = CFHash(element);
    const auto [first, last] = ids_by_hash_.equal_range(hash);
    for (auto it = first; it != last; ++it) {
      if (CFEqual(elements_[it->second].get(), element)) return it->second;
    }
    const auto id = static_cast<ElementId>(elements_.size());
    elements_.emplace_back(static_cast<AXUIElementRef>(CFRetain(element)));
    ids_by_hash_.emplace(hash, id);
    return id;
  }

  const CfOwned<AXUIElementRef> application_;
  const Clock::time_point deadline_;
  const AttributeNames names_;
  bool responsive_ = true;
  std::vector<CfOwned<AXUIElementRef>> elements_;
  std::unordered_multimap<CFHashCode, ElementId> ids_by_hash_;
};

}  // namespace

const AccessibilityPlatform& ThisAccessibilityPlatform() {
  static const AccessibilityPlatform platform{
      .source = "ax-macos",
      .note = "macOS AX element tree of the focused window (depth/element capped).",
      .fallback_note = "macOS AX element tree empty/unavailable (grant Accessibility in System "
                       "Settings > Privacy & Security, or no focused window) \xE2\x80\x94 "
                       "returning window list instead.",
      .press_actions = kPressActions,
      .press_actions_ignore_ascii_case = false,
  };
  return platform;
}

std::unique_ptr<AccessibleApplication> OpenAccessibleApplication(int32_t pid, std::string_view) {
  if (pid <= 0) return nullptr;
  CfOwned<AXUIElementRef> application(AXUIElementCreateApplication(static_cast<pid_t>(pid)));
  if (!application) return nullptr;
  AXUIElementSetMessagingTimeout(application.get(), kPerCallSeconds);
  return std::make_unique<AxApplication>(std::move(application), Clock::now() + kBudget);
}

}  // namespace tarvix
