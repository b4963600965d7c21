#include "tools/desktop/ui_action.h"

#include <gtest/gtest.h>

namespace tarvix {
namespace {

constexpr std::string_view kPressNames[] = {"press", "click", "activate"};
constexpr std::string_view kToggleNames[] = {"toggle"};
constexpr std::string_view kExpandNames[] = {"expand or contract"};
constexpr AccessibilityPlatform::Verb kVerbs[] = {
    {"press", kPressNames}, {"toggle", kToggleNames}, {"expand", kExpandNames}};
const AccessibilityPlatform kPlatform{.source = "test", .note = "", .fallback_note = "",
                                      .press_actions = kPressNames,
                                      .press_actions_ignore_ascii_case = true,
                                      .verbs = kVerbs};

// What an element reads before it is acted on and after, and what acting
// on it returns.
struct Script {
  Result<ElementReading> before = ElementReading{};
  Result<ElementReading> after = Error(kElementGone);
  Result<void> outcome;
};

class FakeControl : public ElementControl {
 public:
  FakeControl(const Script& script, std::vector<std::string>* calls)
      : script_(script), calls_(calls) {}

  Result<ElementReading> Read() override { return acted_ ? script_.after : script_.before; }
  Result<void> DoAction(size_t index) override { return Did("action " + std::to_string(index)); }
  Result<void> Focus() override { return Did("focus"); }
  Result<void> ScrollTo() override { return Did("scroll"); }
  Result<void> Select() override { return Did("select"); }
  Result<void> SetText(std::string_view text) override { return Did("text " + std::string(text)); }
  Result<void> SetNumber(double number) override {
    return Did("number " + std::to_string(static_cast<int>(number)));
  }

 private:
  Result<void> Did(std::string what) {
    calls_->push_back(std::move(what));
    acted_ = true;
    return script_.outcome;
  }
  Script script_;
  std::vector<std::string>* calls_;
  bool acted_ = false;
};

ElementReading Reading(std::string role, std::vector<std::string> actions,
                       std::vector<std::string> states = {},
                       std::optional<std::string> value = std::nullopt) {
  ElementReading r;
  r.role = std::move(role);
  r.actions = std::move(actions);
  r.states = std::move(states);
  r.value = std::move(value);
  r.can_focus = r.can_scroll_to = true;
  return r;
}

struct Case {
  const char* name;
  Json params;
  Script control;
  // What the control was asked to do, then the reply or the error.
  std::vector<std::string> calls;
  std::string reply;
};

void RunCases(std::vector<Case>& cases, ToolResult (*tool)(const Json&, const UiActionSources&)) {
  for (Case& c : cases) {
    SnapshotStore store;
    (void)store.Add({ElementHandle{.pid = 1, .locator = "x"}});
    std::vector<std::string> calls;
    const UiActionSources sources{
        .store = &store,
        .open = [&](const ElementHandle&) { return std::make_unique<FakeControl>(c.control, &calls); },
        .platform = &kPlatform,
        .settle = std::chrono::milliseconds(0)};
    const ToolResult result = tool(c.params, sources);
    EXPECT_EQ(calls, c.calls) << c.name;
    EXPECT_EQ(result ? result->dump() : result.error(), c.reply) << c.name;
  }
}

TEST(UiActionTest, VerbsFindTheToolkitsActionAndJudgeTheEffect) {
  const Json ref = "s1e0";
  std::vector<Case> cases = {
      {"press: any change confirms",
       {{"ref", ref}, {"action", "press"}},
       {.before = Reading("AXButton", {"Click"}), .after = Reading("AXButton", {"Click"}, {"focused"})},
       {"action 0"},
       R"({"action":"press","done":true,"effect":"confirmed","states":["focused"],"value":null})"},
      {"press: no change",
       {{"ref", ref}, {"action", "press"}},
       {.before = Reading("AXButton", {"jump", "activate"}),
        .after = Reading("AXButton", {"jump", "activate"})},
       {"action 1"},
       R"({"action":"press","done":true,"effect":"unverified","states":[],"value":null})"},
      {"press: the element went away",
       {{"ref", ref}, {"action", "press"}},
       {.before = Reading("AXButton", {"press"})},
       {"action 0"},
       R"({"action":"press","done":true,"effect":"confirmed","states":[],"value":null})"},
      {"toggle a check box that only clicks",
       {{"ref", ref}, {"action", "toggle"}},
       {.before = Reading("AXCheckBox", {"click"}),
        .after = Reading("AXCheckBox", {"click"}, {"checked"})},
       {"action 0"},
       R"({"action":"toggle","done":true,"effect":"confirmed","states":["checked"],"value":null})"},
      {"toggle: a changed value is no toggle",
       {{"ref", ref}, {"action", "toggle"}},
       {.before = Reading("AXCheckBox", {"toggle"}, {}, "a"),
        .after = Reading("AXCheckBox", {"toggle"}, {}, "b")},
       {"action 0"},
       R"({"action":"toggle","done":true,"effect":"unverified","states":[],"value":"b"})"},
      {"toggle a plain button",
       {{"ref", ref}, {"action", "toggle"}},
       {.before = Reading("AXButton", {"press", "activate"})},
       {},
       "not supported: toggle (available: press, activate)"},
      {"expand by the toolkit's name",
       {{"ref", ref}, {"action", "expand"}},
       {.before = Reading("AXRow", {"activate", "expand or contract"}, {"expandable"}),
        .after = Reading("AXRow", {"activate", "expand or contract"}, {"expandable", "expanded"})},
       {"action 1"},
       R"({"action":"expand","done":true,"effect":"confirmed","states":["expandable","expanded"],"value":null})"},
      {"expand something that cannot",
       {{"ref", ref}, {"action", "expand"}},
       {.before = Reading("AXButton", {"click"})},
       {},
       "not supported: expand (available: click)"},
      {"focus",
       {{"ref", ref}, {"action", "focus"}},
       {.before = Reading("AXTextField", {}), .after = Reading("AXTextField", {}, {"focused"})},
       {"focus"},
       R"({"action":"focus","done":true,"effect":"confirmed","states":["focused"],"value":null})"},
      {"focus on the focused entry: nothing to wait for",
       {{"ref", ref}, {"action", "focus"}},
       {.before = Reading("AXTextField", {}, {"focused"}),
        .after = Reading("AXTextField", {}, {"focused"})},
       {"focus"},
       R"({"action":"focus","done":true,"effect":"confirmed","states":["focused"],"value":null})"},
      {"select without a container",
       {{"ref", ref}, {"action", "select"}},
       {.before = Reading("AXCell", {})},
       {},
       "not supported: select (available: none)"},
      {"a platform action by name",
       {{"ref", ref}, {"action", "ShowMenu"}},
       {.before = Reading("AXButton", {"Press", "ShowMenu"}),
        .after = Reading("AXButton", {"Press", "ShowMenu"}, {"expanded"})},
       {"action 1"},
       R"({"action":"ShowMenu","done":true,"effect":"confirmed","states":["expanded"],"value":null})"},
      {"gone before",
       {{"ref", ref}, {"action", "press"}},
       {.before = Error(kElementGone)},
       {},
       "gone: s1e0"},
      {"the application stopped",
       {{"ref", ref}, {"action", "press"}},
       {.before = Reading("AXButton", {"press"}),
        .outcome = Error("unavailable: the application did not answer within 1 s (pid 9)")},
       {"action 0"},
       "unavailable: the application did not answer within 1 s (pid 9)"},
      {"stale", {{"ref", "s0e1"}, {"action", "press"}}, {}, {}, "unknown ref: s0e1"},
      {"no action", {{"ref", ref}}, {}, {}, "missing param: action"},
  };
  RunCases(cases, UiActionFrom);
}

TEST(UiSetValueTest, TextNumbersAndSecureFields) {
  const Json ref = "s1e0";
  ElementReading entry = Reading("AXTextField", {});
  entry.can_set_text = true;
  ElementReading slider = Reading("AXSlider", {}, {}, "50");
  slider.can_set_number = true;
  ElementReading password = entry;
  password.secure = true;
  std::vector<Case> cases = {
      {"text read back",
       {{"ref", ref}, {"value", "hello"}},
       {.before = entry, .after = Reading("AXTextField", {}, {}, "hello")},
       {"text hello"},
       R"({"done":true,"effect":"confirmed","value":"hello"})"},
      {"text the application changed",
       {{"ref", ref}, {"value", "hello"}},
       {.before = entry, .after = Reading("AXTextField", {}, {}, "HELLO")},
       {"text hello"},
       R"({"done":true,"effect":"unverified","value":"HELLO"})"},
      {"a number for a slider",
       {{"ref", ref}, {"value", "42"}},
       {.before = slider, .after = Reading("AXSlider", {}, {}, "42")},
       {"number 42"},
       R"({"done":true,"effect":"confirmed","value":"42"})"},
      {"a JSON number",
       {{"ref", ref}, {"value", 7}},
       {.before = slider, .after = Reading("AXSlider", {}, {}, "7")},
       {"number 7"},
       R"({"done":true,"effect":"confirmed","value":"7"})"},
      {"words for a slider",
       {{"ref", ref}, {"value", "lots"}},
       {.before = slider},
       {},
       "invalid param: value must be a number for this element (AXSlider)"},
      {"a password field",
       {{"ref", ref}, {"value", "x"}},
       {.before = password},
       {},
       "refused: secure field"},
      {"a label",
       {{"ref", ref}, {"value", "x"}},
       {.before = Reading("AXStaticText", {})},
       {},
       "not supported: set_value (AXStaticText has no editable text or value)"},
      {"no value", {{"ref", ref}}, {}, {}, "missing param: value"},
  };
  RunCases(cases, UiSetValueFrom);
}

}  // namespace
}  // namespace tarvix
