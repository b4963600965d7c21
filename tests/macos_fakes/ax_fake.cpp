// HIServices' accessibility interface over an in-memory tree per
// application, as the AXUIElement reference documents it.
#include <ApplicationServices/ApplicationServices.h>

#include <algorithm>
#include <cstring>

#include "cf_objects.h"

namespace macfake {
namespace {

// "The default timeout value is 6 seconds" (AXUIElementSetMessagingTimeout
// with 0 restores it).
constexpr float kDefaultTimeout = 6.0f;

struct AxState {
  std::map<int, AxApplication> applications;
  std::map<int, float> timeouts;  // the last set per application, for tests
  std::vector<std::string> log;
  double longest_wait = 0;
};
AxState& Ax() {
  static AxState* state = new AxState;
  return *state;
}

struct AxElement : Object {
  AxElement(int p, int n) : Object(kAxElementType), pid(p), node(n) {}
  std::string Describe() const override {
    return "AXUIElement " + std::to_string(pid) + "/" + std::to_string(node);
  }
  // Two references to one element compare equal (CFEqual), with one hash.
  bool Equals(const Object& other) const override {
    if (other.type != kAxElementType) return false;
    const auto& element = static_cast<const AxElement&>(other);
    return element.pid == pid && element.node == node;
  }
  CFHashCode Hash() const override { return static_cast<CFHashCode>(pid) * 1000003 + node; }
  int pid, node;
  float timeout = 0;  // 0: the global default
};

struct AxValue : Object {
  AxValue(AXValueType t) : Object(kAxValueType), value_type(t) {}
  AXValueType value_type;
  CGPoint point{};
  CGSize size{};
};

const AxElement* ElementOf(AXUIElementRef ref, const char* call) {
  return static_cast<const AxElement*>(Live(ref, call, kAxElementType));
}

// The node a live element names, or the error of a message to it: an
// element whose node was removed is invalid; an application that answers
// later than the timeout cannot complete.
AXError Reach(const AxElement* element, AxNode** node) {
  if (element == nullptr) return kAXErrorInvalidUIElement;
  const auto app = Ax().applications.find(element->pid);
  if (app == Ax().applications.end() ||
      element->node >= static_cast<int>(app->second.nodes.size())) {
    return kAXErrorInvalidUIElement;
  }
  const double limit = element->timeout > 0 ? element->timeout : kDefaultTimeout;
  const auto slow = app->second.node_answer_seconds.find(element->node);
  const double answer =
      slow == app->second.node_answer_seconds.end() ? app->second.answer_seconds : slow->second;
  Ax().longest_wait = std::max(Ax().longest_wait, std::min(answer, limit));
  if (answer > limit) return kAXErrorCannotComplete;
  if (app->second.refuse_all != kAXErrorSuccess) return app->second.refuse_all;
  *node = &app->second.nodes[static_cast<size_t>(element->node)];
  return kAXErrorSuccess;
}

std::string ValueText(CFTypeRef value) {
  const auto* object = static_cast<const Object*>(value);
  if (object->type == kStringType) return Utf8Of(static_cast<const String*>(object)->utf16);
  if (object->type == kNumberType) {
    const auto* number = static_cast<const Number*>(object);
    return number->is_float ? std::to_string(number->real) : std::to_string(number->integer);
  }
  if (object->type == kBooleanType) {
    return static_cast<const BooleanObject*>(object)->value ? "true" : "false";
  }
  return object->Describe();
}

// The fake value that a CF value written by the caller stands for.
Value ValueOf(CFTypeRef value) {
  const auto* object = static_cast<const Object*>(value);
  if (object->type == kStringType) return Utf8Of(static_cast<const String*>(object)->utf16);
  if (object->type == kBooleanType) return static_cast<const BooleanObject*>(object)->value;
  if (object->type == kNumberType) {
    const auto* number = static_cast<const Number*>(object);
    return number->is_float ? Value(number->real) : Value(number->integer);
  }
  if (object->type == kAxValueType) {
    const auto* wrapped = static_cast<const AxValue*>(object);
    return wrapped->value_type == kAXValueTypeCGPoint
               ? Value(Point{wrapped->point.x, wrapped->point.y})
               : Value(Size{wrapped->size.width, wrapped->size.height});
  }
  return std::string(object->Describe());
}

}  // namespace

AxApplication& Application(int pid) { return Ax().applications[pid]; }

int AddNode(int pid, AxNode node) {
  std::vector<AxNode>& nodes = Application(pid).nodes;
  nodes.push_back(std::move(node));
  return static_cast<int>(nodes.size()) - 1;
}

float MessagingTimeout(int pid) {
  const auto it = Ax().timeouts.find(pid);
  return it == Ax().timeouts.end() ? 0 : it->second;
}

const std::vector<std::string>& AxLog() { return Ax().log; }
double LongestAxWait() { return Ax().longest_wait; }

void ResetAx() {
  Ax().applications.clear();
  Ax().timeouts.clear();
  Ax().log.clear();
  Ax().longest_wait = 0;
}

// Every read hands out new objects, which the caller owns (Copy rule).
CFTypeRef MakeValue(const Value& value, int pid) {
  struct Maker {
    int pid;
    CFTypeRef operator()(const std::string& text) const { return MakeString(text); }
    CFTypeRef operator()(int64_t integer) const {
      return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt64Type, &integer);
    }
    CFTypeRef operator()(double real) const {
      return CFNumberCreate(kCFAllocatorDefault, kCFNumberFloat64Type, &real);
    }
    CFTypeRef operator()(bool flag) const { return flag ? kCFBooleanTrue : kCFBooleanFalse; }
    CFTypeRef operator()(Point point) const {
      const CGPoint p{point.x, point.y};
      return AXValueCreate(kAXValueTypeCGPoint, &p);
    }
    CFTypeRef operator()(Size size) const {
      const CGSize s{size.width, size.height};
      return AXValueCreate(kAXValueTypeCGSize, &s);
    }
    CFTypeRef operator()(Element element) const { return Make<AxElement>(pid, element.node); }
    CFTypeRef operator()(const ElementList& elements) const {
      auto* array = Make<Array>();
      for (const Element element : elements) array->items.push_back((*this)(element));
      return array;
    }
    CFTypeRef operator()(const StringList& strings) const {
      auto* array = Make<Array>();
      for (const std::string& text : strings) array->items.push_back(MakeString(text));
      return array;
    }
    CFTypeRef operator()(const Bounds& bounds) const {
      auto* dictionary = Make<Dictionary>();
      for (const auto& [key, entry] : bounds.entries) {
        dictionary->entries.emplace_back(
            MakeString(key), std::visit([&](const auto& v) { return (*this)(v); }, entry));
      }
      return dictionary;
    }
  };
  return std::visit(Maker{pid}, value);
}

}  // namespace macfake

using namespace macfake;

extern "C" {

CFTypeID AXUIElementGetTypeID(void) { return kAxElementType; }
CFTypeID AXValueGetTypeID(void) { return kAxValueType; }

AXUIElementRef AXUIElementCreateApplication(pid_t pid) {
  return reinterpret_cast<AXUIElementRef>(Make<AxElement>(pid, 0));
}

// "kAXErrorNoValue: the requested value does not exist" is reported for an
// attribute the node lacks; the error set for it otherwise.
AXError AXUIElementCopyAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                      CFTypeRef* value) {
  const AxElement* target = ElementOf(element, "AXUIElementCopyAttributeValue");
  const Object* name = Live(attribute, "AXUIElementCopyAttributeValue", kStringType);
  AxNode* node = nullptr;
  if (const AXError error = Reach(target, &node); error != kAXErrorSuccess) return error;
  if (name == nullptr) return static_cast<AXError>(-25201);  // kAXErrorIllegalArgument
  const std::string key = Utf8Of(static_cast<const String*>(name)->utf16);
  if (const auto error = node->errors.find(key); error != node->errors.end()) return error->second;
  const auto found = node->attributes.find(key);
  if (found == node->attributes.end()) return static_cast<AXError>(-25212);  // kAXErrorNoValue
  *value = MakeValue(found->second, target->pid);
  return kAXErrorSuccess;
}

AXError AXUIElementCopyActionNames(AXUIElementRef element, CFArrayRef* names) {
  AxNode* node = nullptr;
  if (const AXError error = Reach(ElementOf(element, "AXUIElementCopyActionNames"), &node);
      error != kAXErrorSuccess) {
    return error;
  }
  *names = static_cast<CFArrayRef>(MakeValue(StringList(node->actions), 0));
  return kAXErrorSuccess;
}

// "Setting the timeout on another accessibility object sets it only for
// that object, not for other accessibility objects that are equal to it",
// and 0 makes the element "use the current global timeout value"
// (AXUIElement.h): elements read out of an application element keep the
// default.
AXError AXUIElementSetMessagingTimeout(AXUIElementRef element, float seconds) {
  auto* target = const_cast<AxElement*>(ElementOf(element, "AXUIElementSetMessagingTimeout"));
  if (target == nullptr || seconds < 0) return static_cast<AXError>(-25201);
  target->timeout = seconds;
  Ax().timeouts[target->pid] = seconds;
  return kAXErrorSuccess;
}

AXError AXUIElementPerformAction(AXUIElementRef element, CFStringRef action) {
  const AxElement* target = ElementOf(element, "AXUIElementPerformAction");
  AxNode* node = nullptr;
  if (const AXError error = Reach(target, &node); error != kAXErrorSuccess) return error;
  const Object* name = Live(action, "AXUIElementPerformAction", kStringType);
  if (name == nullptr) return static_cast<AXError>(-25201);
  const std::string text = Utf8Of(static_cast<const String*>(name)->utf16);
  // kAXErrorActionUnsupported.
  if (std::find(node->actions.begin(), node->actions.end(), text) == node->actions.end()) {
    return static_cast<AXError>(-25206);
  }
  Ax().log.push_back("perform " + std::to_string(target->node) + " " + text);
  if (const auto& react = Ax().applications[target->pid].react) react(target->node, text);
  return kAXErrorSuccess;
}

// The value is copied into the tree; the caller keeps its reference.
AXError AXUIElementSetAttributeValue(AXUIElementRef element, CFStringRef attribute,
                                     CFTypeRef value) {
  const AxElement* target = ElementOf(element, "AXUIElementSetAttributeValue");
  AxNode* node = nullptr;
  if (const AXError error = Reach(target, &node); error != kAXErrorSuccess) return error;
  const Object* name = Live(attribute, "AXUIElementSetAttributeValue", kStringType);
  if (name == nullptr || Live(value, "AXUIElementSetAttributeValue") == nullptr) {
    return static_cast<AXError>(-25201);
  }
  const std::string key = Utf8Of(static_cast<const String*>(name)->utf16);
  if (std::find(node->settable.begin(), node->settable.end(), key) == node->settable.end()) {
    return static_cast<AXError>(-25205);  // kAXErrorAttributeUnsupported
  }
  Ax().log.push_back("set " + std::to_string(target->node) + " " + key + "=" + ValueText(value));
  node->attributes[key] = ValueOf(value);
  if (const auto& react = Ax().applications[target->pid].react) react(target->node, key);
  return kAXErrorSuccess;
}

AXError AXUIElementIsAttributeSettable(AXUIElementRef element, CFStringRef attribute,
                                       Boolean* settable) {
  AxNode* node = nullptr;
  if (const AXError error = Reach(ElementOf(element, "AXUIElementIsAttributeSettable"), &node);
      error != kAXErrorSuccess) {
    return error;
  }
  const Object* name = Live(attribute, "AXUIElementIsAttributeSettable", kStringType);
  if (name == nullptr) return static_cast<AXError>(-25201);
  const std::string key = Utf8Of(static_cast<const String*>(name)->utf16);
  *settable = std::find(node->settable.begin(), node->settable.end(), key) != node->settable.end();
  return kAXErrorSuccess;
}

// Answers without messaging the application.
AXError AXUIElementGetPid(AXUIElementRef element, pid_t* pid) {
  const AxElement* target = ElementOf(element, "AXUIElementGetPid");
  if (target == nullptr) return kAXErrorInvalidUIElement;
  *pid = target->pid;
  return kAXErrorSuccess;
}

AXValueRef AXValueCreate(AXValueType type, const void* value) {
  auto* wrapped = Make<AxValue>(type);
  if (type == kAXValueTypeCGPoint) {
    std::memcpy(&wrapped->point, value, sizeof wrapped->point);
  } else if (type == kAXValueTypeCGSize) {
    std::memcpy(&wrapped->size, value, sizeof wrapped->size);
  }
  return reinterpret_cast<AXValueRef>(wrapped);
}

AXValueType AXValueGetType(AXValueRef value) {
  const auto* wrapped = static_cast<const AxValue*>(Live(value, "AXValueGetType", kAxValueType));
  return wrapped == nullptr ? static_cast<AXValueType>(0) : wrapped->value_type;
}

// "Returns true if the value was successfully retrieved": false when
// `type` is not the value's own.
Boolean AXValueGetValue(AXValueRef value, AXValueType type, void* out) {
  const auto* wrapped = static_cast<const AxValue*>(Live(value, "AXValueGetValue", kAxValueType));
  if (wrapped == nullptr || wrapped->value_type != type) return false;
  if (type == kAXValueTypeCGPoint) {
    std::memcpy(out, &wrapped->point, sizeof wrapped->point);
  } else {
    std::memcpy(out, &wrapped->size, sizeof wrapped->size);
  }
  return true;
}

}  // extern "C"
