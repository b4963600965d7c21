// Acting on one element over AX: the element itself is kept with its
// snapshot's handle. AX calls wait at most a second for the application;
// one that does not answer fails the call as unavailable.
#include <ApplicationServices/ApplicationServices.h>

#include <algorithm>
#include <cmath>

#include "base/decimal_text.h"
#include "platform/accessibility.h"
#include "platform/macos/cf_value.h"

namespace tarvix {
namespace {

constexpr float kPerCallSeconds = 1.0f;

std::string NumberText(double number) {
  if (!std::isfinite(number)) return std::isnan(number) ? "nan" : number > 0 ? "inf" : "-inf";
  if (number == 0) return "0";
  return ShortestDecimal(number);
}

class AxElementControl final : public ElementControl {
 public:
  explicit AxElementControl(const ElementHandle& handle)
      : keep_(handle.native), element_(static_cast<AXUIElementRef>(handle.native.get())),
        pid_(handle.pid) {
    if (element_ != nullptr) AXUIElementSetMessagingTimeout(element_, kPerCallSeconds);
  }

  Result<ElementReading> Read() override {
    if (element_ == nullptr) return Error(kElementGone);
    ElementReading reading;
    CfOwned<CFTypeRef> role;
    if (Result<void> read = Check(AXUIElementCopyAttributeValue(element_, Name("AXRole"),
                                                                role.out()));
        !read) {
      return Error(read.error());
    }
    reading.role = CfStringText(role.get()).value_or("");
    CfOwned<CFTypeRef> value;
    if (AXUIElementCopyAttributeValue(element_, Name("AXValue"), value.out()) == kAXErrorSuccess) {
      if (std::optional<std::string> text = CfStringText(value.get())) {
        reading.value = std::move(text);
        reading.can_set_text = Settable("AXValue");
      } else if (const std::optional<double> number = CfFloat64(value.get())) {
        reading.value = NumberText(*number);
        reading.can_set_number = Settable("AXValue");
      } else if (const std::optional<int64_t> integer = CfInt64(value.get())) {
        reading.value = std::to_string(*integer);
        reading.can_set_number = Settable("AXValue");
      }
    }
    for (const char* flag : {"AXFocused", "AXSelected", "AXExpanded"}) {
      CfOwned<CFTypeRef> state;
      if (AXUIElementCopyAttributeValue(element_, Name(flag), state.out()) != kAXErrorSuccess ||
          state.get() != kCFBooleanTrue) {
        continue;
      }
      reading.states.push_back(flag == std::string_view("AXFocused")    ? "focused"
                               : flag == std::string_view("AXSelected") ? "selected"
                                                                        : "expanded");
    }
    if (reading.role == "AXCheckBox" && reading.value == "1") reading.states.push_back("checked");
    reading.actions = Actions();
    reading.secure = reading.role == "AXSecureTextField";
    if (reading.secure) reading.value = std::nullopt;
    reading.can_focus = Settable("AXFocused");
    reading.can_select = Settable("AXSelected");
    reading.can_scroll_to = std::find(reading.actions.begin(), reading.actions.end(),
                                      "AXScrollToVisible") != reading.actions.end();
    return reading;
  }

  Result<void> DoAction(size_t index) override {
    const std::vector<std::string> actions = Actions();
    if (index >= actions.size()) return Error("unavailable: the element's actions changed");
    return Check(AXUIElementPerformAction(element_, Name(actions[index])));
  }
  Result<void> Focus() override { return Set("AXFocused", kCFBooleanTrue); }
  Result<void> ScrollTo() override {
    return Check(AXUIElementPerformAction(element_, Name("AXScrollToVisible")));
  }
  Result<void> Select() override { return Set("AXSelected", kCFBooleanTrue); }
  Result<void> SetText(std::string_view text) override {
    const CfOwned<CFStringRef> value = CfString(text);
    if (!value) return Error("unavailable: out of memory");
    return Set("AXValue", value.get());
  }
  Result<void> SetNumber(double number) override {
    const CfOwned<CFNumberRef> value(CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type,
                                                    &number));
    if (!value) return Error("unavailable: out of memory");
    return Set("AXValue", value.get());
  }

 private:
  // A CFString kept for the control's life (AX names are few).
  CFStringRef Name(std::string_view name) {
    names_.push_back(CfString(name));
    return names_.back().get();
  }
  Result<void> Check(AXError error) const {
    if (error == kAXErrorSuccess) return {};
    if (error == kAXErrorInvalidUIElement) return Error(kElementGone);
    if (error == kAXErrorCannotComplete) {
      return Error("unavailable: the application did not answer within 1 s (pid " +
                   std::to_string(pid_) + ")");
    }
    return Error("unavailable: the application refused (AX error " +
                 std::to_string(static_cast<int>(error)) + ")");
  }
  bool Settable(std::string_view attribute) {
    Boolean settable = false;
    return AXUIElementIsAttributeSettable(element_, Name(attribute), &settable) ==
               kAXErrorSuccess &&
           settable;
  }
  Result<void> Set(std::string_view attribute, CFTypeRef value) {
    if (element_ == nullptr) return Error(kElementGone);
    return Check(AXUIElementSetAttributeValue(element_, Name(attribute), value));
  }
  std::vector<std::string> Actions() {
    std::vector<std::string> actions;
    CfOwned<CFArrayRef> names;
    if (element_ == nullptr ||
        AXUIElementCopyActionNames(element_, names.out()) != kAXErrorSuccess || !names) {
      return actions;
    }
    for (CFIndex i = 0; i < CFArrayGetCount(names.get()); ++i) {
      if (std::optional<std::string> name = CfStringText(CFArrayGetValueAtIndex(names.get(), i))) {
        actions.push_back(std::move(*name));
      }
    }
    return actions;
  }

  std::shared_ptr<const void> keep_;
  AXUIElementRef element_;
  int32_t pid_;
  std::vector<CfOwned<CFStringRef>> names_;
};

}  // namespace

std::unique_ptr<ElementControl> OpenElementControl(const ElementHandle& handle) {
  return std::make_unique<AxElementControl>(handle);
}

}  // namespace tarvix
