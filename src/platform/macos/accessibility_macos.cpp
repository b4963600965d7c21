// The accessibility service on macOS: the AX interface of one application
// (or of every application with a window), read element by element on the
// calling worker. Each read waits at most a second for the application,
// and all of one call's reads share a budget, so an application that stops
// answering cannot hold a worker for long; it is asked nothing more.
#include <ApplicationServices/ApplicationServices.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <set>
#include <unordered_map>

#include "base/decimal_text.h"
#include "platform/accessibility.h"
#include "platform/macos/cf_value.h"
#include "platform/window_query.h"

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;

constexpr float kPerCallSeconds = 1.0f;
constexpr std::chrono::seconds kBudget(3);

constexpr std::string_view kPressActions[] = {"AXPress"};

// AX has one action for pressing, toggling and disclosing.
constexpr std::string_view kPressNames[] = {"AXPress", "AXConfirm", "AXPick"};
constexpr std::string_view kToggleNames[] = {"AXPress"};
constexpr std::string_view kExpandNames[] = {"AXPress"};
constexpr std::string_view kShowMenuNames[] = {"AXShowMenu"};
constexpr AccessibilityPlatform::Verb kVerbs[] = {{"press", kPressNames},
                                                  {"toggle", kToggleNames},
                                                  {"expand", kExpandNames},
                                                  {"collapse", kExpandNames},
                                                  {"show_menu", kShowMenuNames}};

std::string NumberText(double number) {
  if (!std::isfinite(number)) return std::isnan(number) ? "nan" : number > 0 ? "inf" : "-inf";
  if (number == 0) return "0";
  return ShortestDecimal(number);
}

// An element's value as the replies show it: text, or a number.
std::optional<std::string> ValueText(CFTypeRef value) {
  if (std::optional<std::string> text = CfStringText(value)) return text;
  if (const std::optional<int64_t> integer = CfInt64(value)) return std::to_string(*integer);
  if (const std::optional<double> number = CfFloat64(value)) return NumberText(*number);
  return std::nullopt;
}

pid_t PidOf(AXUIElementRef element) {
  pid_t pid = 0;
  return AXUIElementGetPid(element, &pid) == kAXErrorSuccess ? pid : 0;
}

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
  CfOwned<CFStringRef> windows = CfString("AXWindows");
  CfOwned<CFStringRef> description = CfString("AXDescription");
  CfOwned<CFStringRef> focused = CfString("AXFocused");
  CfOwned<CFStringRef> selected = CfString("AXSelected");
  CfOwned<CFStringRef> expanded = CfString("AXExpanded");
  CfOwned<CFStringRef> main = CfString("AXMain");
  CfOwned<CFStringRef> minimized = CfString("AXMinimized");
};

// The states the replies name, read from AX's boolean attributes (and a
// check box's value).
std::vector<std::string> StateNames(const std::optional<bool>& focused,
                                    const std::optional<bool>& selected,
                                    const std::optional<bool>& expanded, bool checked) {
  std::vector<std::string> states;
  if (checked) states.push_back("checked");
  if (expanded) states.push_back(*expanded ? "expanded" : "collapsed");
  if (expanded) states.push_back("expandable");
  if (focused) states.push_back("focusable");
  if (focused.value_or(false)) states.push_back("focused");
  if (selected) states.push_back("selectable");
  if (selected.value_or(false)) states.push_back("selected");
  return states;
}

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
  // `applications` in order, the first one the one Focused() reads.
  AxApplication(std::vector<CfOwned<AXUIElementRef>> applications, Clock::time_point deadline)
      : applications_(std::move(applications)), deadline_(deadline) {}

  std::optional<FocusedWindow> Focused() override {
    if (applications_.empty()) return std::nullopt;
    const AXUIElementRef application = applications_.front().get();
    CfOwned<CFTypeRef> window = Read(application, names_.focused_window.get());
    if (!window) window = Read(application, names_.main_window.get());
    if (!IsCfType(window.get(), AXUIElementGetTypeID())) return std::nullopt;
    const ElementId id = Intern(static_cast<AXUIElementRef>(window.get()));
    const CfOwned<CFTypeRef> title = Read(Element(id), names_.title.get());
    return FocusedWindow{id, CfStringText(title.get()).value_or("")};
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
    for (const ElementId id : elements) all.push_back(ReadAttributes(Element(id), DetailReads{}));
    return all;
  }

  std::vector<ElementAttributes> DetailedAttributes(std::span<const ElementId> elements,
                                                    const DetailReads& reads) override {
    std::vector<ElementAttributes> all;
    all.reserve(elements.size());
    for (const ElementId id : elements) {
      const AXUIElementRef element = Element(id);
      // The value tells a check box's state and an editable element: it
      // is read whatever `reads` says.
      ElementAttributes attributes =
          ReadAttributes(element, {.bounds = reads.bounds, .actions = reads.actions, .value = true});
      attributes.answered = !attributes.role.empty();
      attributes.description =
          CfStringText(Read(element, names_.description.get()).get()).value_or("");
      const std::optional<bool> focused = Flag(element, names_.focused.get());
      const std::optional<bool> selected = Flag(element, names_.selected.get());
      const std::optional<bool> expanded = Flag(element, names_.expanded.get());
      const bool checked = attributes.role == "AXCheckBox" && attributes.value == "1";
      attributes.states = StateNames(focused, selected, expanded, checked);
      attributes.focused = focused.value_or(false);
      attributes.secure = attributes.role == "AXSecureTextField";
      if (attributes.secure) attributes.value = std::nullopt;
      Boolean settable = false;
      attributes.editable =
          attributes.value && attributes.role != "AXCheckBox" && Usable(element) &&
          AXUIElementIsAttributeSettable(element, names_.value.get(), &settable) ==
              kAXErrorSuccess &&
          settable;
      all.push_back(std::move(attributes));
    }
    return all;
  }

  std::vector<TopLevelWindow> Windows() override {
    std::vector<TopLevelWindow> windows;
    for (const CfOwned<AXUIElementRef>& application : applications_) {
      const CfOwned<CFTypeRef> list = Read(application.get(), names_.windows.get());
      if (!IsCfType(list.get(), CFArrayGetTypeID())) continue;
      const auto array = static_cast<CFArrayRef>(list.get());
      for (CFIndex i = 0; i < CFArrayGetCount(array); ++i) {
        const CFTypeRef child = CFArrayGetValueAtIndex(array, i);
        if (!IsCfType(child, AXUIElementGetTypeID())) continue;
        const ElementId id = Intern(static_cast<AXUIElementRef>(child));
        const AXUIElementRef window = Element(id);
        windows.push_back({
            .element = id,
            .pid = PidOf(application.get()),
            .title = CfStringText(Read(window, names_.title.get()).get()).value_or(""),
            .active = Flag(window, names_.main.get()).value_or(false),
            .showing = !Flag(window, names_.minimized.get()).value_or(false),
            .window_relative_bounds = false,
        });
      }
    }
    return windows;
  }

  ElementHandle Handle(ElementId id) override {
    const AXUIElementRef element = Element(id);
    if (element == nullptr) return {};
    CFRetain(element);
    return {.pid = PidOf(element),
            .locator = "",
            .native = std::shared_ptr<const void>(element, [](const void* e) {
              CFRelease(static_cast<CFTypeRef>(e));
            })};
  }

  std::vector<int32_t> Unresponsive() override {
    return std::vector<int32_t>(silent_.begin(), silent_.end());
  }
  bool OutOfTime() override { return Clock::now() >= deadline_; }

 private:
  std::optional<bool> Flag(AXUIElementRef element, CFStringRef attribute) {
    const CfOwned<CFTypeRef> value = Read(element, attribute);
    if (!IsCfType(value.get(), CFBooleanGetTypeID())) return std::nullopt;
    return value.get() == kCFBooleanTrue;
  }

  ElementAttributes ReadAttributes(AXUIElementRef element, const DetailReads& reads) {
    ElementAttributes attributes;
    attributes.role = CfStringText(Read(element, names_.role.get()).get()).value_or("");
    attributes.name = CfStringText(Read(element, names_.title.get()).get()).value_or("");
    if (reads.value) attributes.value = ValueText(Read(element, names_.value.get()).get());
    if (reads.bounds) {
      const std::optional<CGPoint> position =
          AxGeometry<CGPoint>(Read(element, names_.position.get()).get(), kAXValueTypeCGPoint);
      const std::optional<CGSize> size =
          AxGeometry<CGSize>(Read(element, names_.size.get()).get(), kAXValueTypeCGSize);
      if (position && size) {
        attributes.bounds = ElementBounds{position->x, position->y, size->width, size->height};
      }
    }
    if (const CfOwned<CFTypeRef> enabled = Read(element, names_.enabled.get())) {
      attributes.enabled = enabled.get() == kCFBooleanTrue;
    }
    // A disabled element is never clickable: its actions are not asked for.
    if (reads.actions && attributes.enabled.value_or(true)) {
      attributes.actions = ActionNames(element);
    }
    return attributes;
  }

  std::optional<std::vector<std::string>> ActionNames(AXUIElementRef element) {
    if (!Usable(element)) return std::nullopt;
    CfOwned<CFArrayRef> names;
    if (!Succeeded(element, AXUIElementCopyActionNames(element, names.out())) || !names) {
      return std::nullopt;
    }
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
    if (element == nullptr || attribute == nullptr || !Usable(element)) return value;
    if (!Succeeded(element, AXUIElementCopyAttributeValue(element, attribute, value.out()))) {
      return CfOwned<CFTypeRef>();
    }
    return value;
  }

  // An application that let a read time out is asked nothing more.
  bool Succeeded(AXUIElementRef element, AXError error) {
    if (error == kAXErrorCannotComplete) silent_.insert(PidOf(element));
    return error == kAXErrorSuccess;
  }

  bool Usable(AXUIElementRef element) const {
    return Clock::now() < deadline_ && !silent_.contains(PidOf(element));
  }

  AXUIElementRef Element(ElementId id) const {
    return id < elements_.size() ? elements_[id].get() : nullptr;
  }

  // The id of `element`: AX hands out a new reference for every read, but
  // equal references (CFEqual) name the same element. Reads go through the
  // kept reference, which has the per-call timeout: AX applies a timeout
  // only to the reference it was set on, and one read out of the
  // application element would wait the system's default of 6 s.
  ElementId Intern(AXUIElementRef element) {
    const CFHashCode hash = CFHash(element);
    const auto [first, last] = ids_by_hash_.equal_range(hash);
    for (auto it = first; it != last; ++it) {
      if (CFEqual(elements_[it->second].get(), element)) return it->second;
    }
    const auto id = static_cast<ElementId>(elements_.size());
    elements_.emplace_back(static_cast<AXUIElementRef>(CFRetain(element)));
    AXUIElementSetMessagingTimeout(element, kPerCallSeconds);
    ids_by_hash_.emplace(hash, id);
    return id;
  }

  const std::vector<CfOwned<AXUIElementRef>> applications_;
  const Clock::time_point deadline_;
  const AttributeNames names_;
  std::set<int32_t> silent_;
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
      .verbs = kVerbs,
  };
  return platform;
}

namespace {

CfOwned<AXUIElementRef> OpenApplication(int32_t pid) {
  if (pid <= 0) return CfOwned<AXUIElementRef>();
  CfOwned<AXUIElementRef> application(AXUIElementCreateApplication(static_cast<pid_t>(pid)));
  if (application) AXUIElementSetMessagingTimeout(application.get(), kPerCallSeconds);
  return application;
}

}  // namespace

std::unique_ptr<AccessibleApplication> OpenAccessibleApplication(int32_t pid, std::string_view) {
  CfOwned<AXUIElementRef> application = OpenApplication(pid);
  if (!application) return nullptr;
  std::vector<CfOwned<AXUIElementRef>> applications;
  applications.push_back(std::move(application));
  return std::make_unique<AxApplication>(std::move(applications), Clock::now() + kBudget);
}

std::unique_ptr<AccessibleApplication> OpenAccessibleApplications(
    std::optional<int32_t> pid, std::chrono::milliseconds budget) {
  std::vector<int32_t> pids;
  if (pid) {
    pids.push_back(*pid);
  } else if (Result<std::vector<WindowRecord>> windows = QueryWindows()) {
    // Every application with an ordinary window, front to back.
    for (const WindowRecord& window : *windows) {
      if (!window.owner_pid || window.layer.value_or(0) != 0) continue;
      const auto owner = static_cast<int32_t>(*window.owner_pid);
      if (std::find(pids.begin(), pids.end(), owner) == pids.end()) pids.push_back(owner);
    }
  }
  std::vector<CfOwned<AXUIElementRef>> applications;
  for (int32_t each : pids) {
    if (CfOwned<AXUIElementRef> application = OpenApplication(each)) {
      applications.push_back(std::move(application));
    }
  }
  if (applications.empty()) return nullptr;
  return std::make_unique<AxApplication>(std::move(applications), Clock::now() + budget);
}

}  // namespace tarvix
