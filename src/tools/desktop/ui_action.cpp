#include "tools/desktop/ui_action.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "base/decimal_text.h"
#include "json/params.h"

namespace tarvix {
namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kReadBackPause = std::chrono::milliseconds(15);
// A press (or a platform action by name) often changes nothing the element
// itself shows, such as a plain button's: its read-back is kept short, so
// an agent's click does not wait out the whole settle time.
constexpr auto kPressSettle = std::chrono::milliseconds(60);

bool SameName(std::string_view a, std::string_view b, bool ignore_case) {
  if (!ignore_case) return a == b;
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(x) == lower(y);
  });
}

bool Has(const std::vector<std::string>& states, std::string_view state) {
  return std::find(states.begin(), states.end(), state) != states.end();
}

// Errors of the control as the reply words them.
std::string Worded(std::string error, const std::string& ref) {
  if (error == kElementGone) return "gone: " + ref;
  return error;
}

// Whether `after` shows what `verb` implies happened since `before`.
// nullopt `after`: the element went away.
bool Confirmed(std::string_view verb, const ElementReading& before,
               const std::optional<ElementReading>& after) {
  if (!after) return verb != "focus" && verb != "select" && verb != "scroll_into_view";
  const auto flipped = [&](std::string_view state) {
    return Has(before.states, state) != Has(after->states, state);
  };
  // An element already in the state a verb leads to stays confirmed in it:
  // focusing the focused entry need not wait for a change that cannot come.
  const auto holds = [&](std::string_view state) { return Has(after->states, state); };
  if (verb == "toggle") return flipped("checked") || flipped("pressed");
  if (verb == "focus") return holds("focused");
  if (verb == "select") return holds("selected");
  if (verb == "expand") return holds("expanded");
  if (verb == "collapse") return !holds("expanded");
  if (verb == "scroll_into_view") return holds("showing");
  return before.states != after->states || before.value != after->value;
}

// Reads the element back until `done` holds or the settle time is over;
// the last reading (nullopt when the element went away; `before` when it
// could not be read).
template <typename Done>
std::optional<ElementReading> ReadBack(ElementControl& control, const ElementReading& before,
                                       std::chrono::milliseconds settle, Done done) {
  const Clock::time_point until = Clock::now() + settle;
  std::optional<ElementReading> last = before;
  for (;;) {
    Result<ElementReading> reading = control.Read();
    if (!reading && reading.error() == kElementGone) return std::nullopt;
    if (reading) last = std::move(reading).value();
    if (!reading || done(last) || Clock::now() >= until) return last;
    std::this_thread::sleep_for(kReadBackPause);
  }
}

Json StateArray(const std::optional<ElementReading>& reading) {
  Json array = Json::array();
  if (reading) {
    for (const std::string& state : reading->states) array.push_back(state);
  }
  return array;
}

Json ValueOf(const std::optional<ElementReading>& reading) {
  if (!reading || !reading->value || reading->secure) return nullptr;
  return *reading->value;
}

// The index among the element's actions of the one `action` names: a
// verb's names in their order of preference, else the platform name itself.
std::optional<size_t> ActionIndex(std::string_view action, const ElementReading& element,
                                  const AccessibilityPlatform& platform) {
  const bool ignore_case = platform.press_actions_ignore_ascii_case;
  const auto find = [&](std::string_view name) -> std::optional<size_t> {
    for (size_t i = 0; i < element.actions.size(); ++i) {
      if (SameName(element.actions[i], name, ignore_case)) return i;
    }
    return std::nullopt;
  };
  const auto by_verb = [&](std::string_view wanted) -> std::optional<size_t> {
    for (const AccessibilityPlatform::Verb& verb : platform.verbs) {
      if (verb.verb != wanted) continue;
      for (std::string_view name : verb.names) {
        if (const std::optional<size_t> index = find(name)) return index;
      }
    }
    return std::nullopt;
  };
  if (std::none_of(platform.verbs.begin(), platform.verbs.end(),
                   [&](const AccessibilityPlatform::Verb& verb) { return verb.verb == action; })) {
    return find(action);
  }
  if (const std::optional<size_t> index = by_verb(action)) return index;
  // Toolkits that name no toggle or expand action toggle a check box, and
  // expand an expandable element, when it is pressed.
  static constexpr std::string_view kToggleRoles[] = {"AXCheckBox", "AXRadioButton", "AXSwitch",
                                                      "AXToggleButton"};
  const bool toggles = Has(element.states, "checkable") ||
                       std::find(std::begin(kToggleRoles), std::end(kToggleRoles), element.role) !=
                           std::end(kToggleRoles);
  if ((action == "toggle" && toggles) ||
      ((action == "expand" || action == "collapse") && Has(element.states, "expandable"))) {
    return by_verb("press");
  }
  return std::nullopt;
}

std::string NotSupported(std::string_view action, const ElementReading& element) {
  std::string available;
  for (const std::string& name : element.actions) {
    if (!available.empty()) available += ", ";
    available += name;
  }
  if (available.empty()) available = "none";
  return "not supported: " + std::string(action) + " (available: " + available + ")";
}

constexpr size_t kMaxActionName = 64;

// A whole string that reads as a finite number.
std::optional<double> NumberOf(const std::string& text) { return ParseFiniteDecimal(text); }

}  // namespace

ToolResult UiActionFrom(const Json& params, const UiActionSources& sources) {
  const std::string* ref = StringParam(params, "ref");
  if (ref == nullptr) return Error(MissingParam("ref"));
  const std::string* action = StringParam(params, "action");
  if (action == nullptr) return Error(MissingParam("action"));
  if (action->empty() || action->size() > kMaxActionName) {
    return Error("invalid param: action must be a verb or an action name of the element");
  }
  Result<ElementHandle> handle = sources.store->Find(*ref);
  if (!handle) return Error(std::move(handle).error());
  const std::unique_ptr<ElementControl> control = sources.open(*handle);
  Result<ElementReading> before = control->Read();
  if (!before) return Error(Worded(std::move(before).error(), *ref));

  Result<void> acted = Error("");
  if (*action == "focus" && before->can_focus) {
    acted = control->Focus();
  } else if (*action == "select" && before->can_select) {
    acted = control->Select();
  } else if (*action == "scroll_into_view" && before->can_scroll_to) {
    acted = control->ScrollTo();
  } else if (const std::optional<size_t> index = ActionIndex(*action, *before, *sources.platform);
             index && *action != "focus" && *action != "select" && *action != "scroll_into_view") {
    acted = control->DoAction(*index);
  } else {
    return Error(NotSupported(*action, *before));
  }
  if (!acted) return Error(Worded(std::move(acted).error(), *ref));

  // A verb is judged by what it implies; a platform action name by any
  // change, as a press.
  const std::string verb = *action;
  const bool judged_by_state = verb == "toggle" || verb == "focus" || verb == "select" ||
                               verb == "expand" || verb == "collapse" ||
                               verb == "scroll_into_view";
  const std::optional<ElementReading> after = ReadBack(
      *control, *before, judged_by_state ? sources.settle : std::min(sources.settle, kPressSettle),
      [&](const std::optional<ElementReading>& now) { return Confirmed(verb, *before, now); });
  return Json{{"action", *action},
              {"done", true},
              {"effect", Confirmed(verb, *before, after) ? "confirmed" : "unverified"},
              {"states", StateArray(after)},
              {"value", ValueOf(after)}};
}

ToolResult UiSetValueFrom(const Json& params, const UiActionSources& sources) {
  const std::string* ref = StringParam(params, "ref");
  if (ref == nullptr) return Error(MissingParam("ref"));
  const Json* given = FindParam(params, "value");
  if (given == nullptr) return Error(MissingParam("value"));
  std::string value;
  if (given->is_string()) {
    value = given->get<std::string>();
  } else if (given->is_number()) {
    value = given->dump();
  } else {
    return Error("invalid param: value must be a string or a number");
  }
  Result<ElementHandle> handle = sources.store->Find(*ref);
  if (!handle) return Error(std::move(handle).error());
  const std::unique_ptr<ElementControl> control = sources.open(*handle);
  Result<ElementReading> before = control->Read();
  if (!before) return Error(Worded(std::move(before).error(), *ref));
  if (before->secure) return Error("refused: secure field");

  const std::optional<double> number = NumberOf(value);
  Result<void> set;
  if (before->can_set_number && number) {
    set = control->SetNumber(*number);
  } else if (before->can_set_text) {
    set = control->SetText(value);
  } else if (before->can_set_number) {
    return Error("invalid param: value must be a number for this element (" + before->role + ")");
  } else {
    return Error("not supported: set_value (" + before->role +
                 " has no editable text or value)");
  }
  if (!set) return Error(Worded(std::move(set).error(), *ref));

  const auto took = [&](const std::optional<ElementReading>& now) {
    if (!now || !now->value) return false;
    if (before->can_set_number && number) {
      const std::optional<double> read = NumberOf(*now->value);
      return read && std::abs(*read - *number) <= 1e-9 * std::max(1.0, std::abs(*number));
    }
    return *now->value == value;
  };
  const std::optional<ElementReading> after = ReadBack(*control, *before, sources.settle, took);
  return Json{{"done", true},
              {"effect", took(after) ? "confirmed" : "unverified"},
              {"value", ValueOf(after)}};
}

ToolResult UiAction(const Json& params) {
  return UiActionFrom(params, {.store = &DaemonSnapshotStore(),
                               .open = OpenElementControl,
                               .platform = &ThisAccessibilityPlatform()});
}

ToolResult UiSetValue(const Json& params) {
  return UiSetValueFrom(params, {.store = &DaemonSnapshotStore(),
                                 .open = OpenElementControl,
                                 .platform = &ThisAccessibilityPlatform()});
}

}  // namespace tarvix
