#include "tools/desktop/input_action.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "fakes/recording_input_backend.h"

namespace tarvix {
namespace {

class InputActionTest : public ::testing::Test {
 protected:
  ToolResult Run(const Json& params, std::string fail_on = "") {
    log_.clear();
    return PerformInput(params, clicks_, [&]() -> Result<std::unique_ptr<InputBackend>> {
      log_.push_back("open");
      return std::unique_ptr<InputBackend>(new RecordingBackend(&log_, fail_on));
    });
  }
  std::vector<std::string> log_;
  ClickPacer clicks_;
};

using Log = std::vector<std::string>;

TEST_F(InputActionTest, ChecksBeforeTheBackendOpens) {
  bool opened = false;
  auto opener = [&]() -> Result<std::unique_ptr<InputBackend>> {
    opened = true;
    return Error("x");
  };
  EXPECT_EQ(PerformInput(Json{{"action", 3}}, clicks_, opener).error(),
            "missing param: action");
  EXPECT_EQ(PerformInput(Json("move"), clicks_, opener).error(), "missing param: action");
  EXPECT_FALSE(opened);
}

TEST_F(InputActionTest, UnavailableBackendHidesTheActionNameAndGivesThePlatformHint) {
  auto opener = []() -> Result<std::unique_ptr<InputBackend>> {
    return Error("no connection could be established: (cannot open the X display)");
  };
  EXPECT_EQ(PerformInput(Json{{"action", "Click"}}, clicks_, opener).error(),
            "input unavailable: no connection could be established: (cannot open the X "
            "display)" +
                std::string(kInputUnavailableHint));
}

TEST_F(InputActionTest, MoveNeedsIntegerCoordinates) {
  EXPECT_EQ(Run({{"action", "move"}, {"x", 10.0}, {"y", 1}}).error(), "missing param: x");
  EXPECT_EQ(Run({{"action", "move"}, {"x", 1}}).error(), "missing param: y");
  EXPECT_EQ(log_, (Log{"open", "close"}));
  EXPECT_EQ(Run({{"action", "move"}, {"x", 1}, {"y", 2}}, "move").error(),
            "move failed: simulating input failed: (failed creating event)");
}

TEST_F(InputActionTest, ClickButtonsAndOptionalMove) {
  EXPECT_EQ(Run({{"action", "click"}, {"x", 5}}).value(), Json({{"action", "click"}, {"done", true}}));
  EXPECT_EQ(log_, (Log{"open", "click left", "close"}));
  ASSERT_TRUE(Run({{"action", "click"}, {"x", 5}, {"y", 6}, {"button", "right"}}));
  EXPECT_EQ(log_, (Log{"open", "move 5,6", "click right", "close"}));
  ASSERT_TRUE(Run({{"action", "click"}, {"button", "RIGHT"}}));
  EXPECT_EQ(log_, (Log{"open", "click left", "close"}));
  ASSERT_TRUE(Run({{"action", "click"}, {"button", "middle"}}));
  EXPECT_EQ(log_, (Log{"open", "click middle", "close"}));
  EXPECT_EQ(Run({{"action", "click"}, {"x", 1}, {"y", 1}}, "move").error(),
            "move failed: simulating input failed: (failed creating event)");
  EXPECT_EQ(log_, (Log{"open", "move 1,1", "close"}));  // no click after a failed move
}

TEST_F(InputActionTest, DoubleClickIsTwoLeftClicksOnOneBackend) {
  ASSERT_TRUE(Run({{"action", "double_click"}, {"button", "right"}}));
  EXPECT_EQ(log_, (Log{"open", "click left", "click left x2", "close"}));
  EXPECT_EQ(Run({{"action", "double_click"}}, "click").error(),
            "click failed: simulating input failed: (failed creating event)");
  EXPECT_EQ(log_, (Log{"open", "click left", "close"}));
}

TEST_F(InputActionTest, ScrollSignsAndOrder) {
  ASSERT_TRUE(Run({{"action", "scroll"}, {"dy", 3}}));
  EXPECT_EQ(log_, (Log{"open", "vscroll -3", "close"}));
  ASSERT_TRUE(Run({{"action", "scroll"}, {"dy", 1}, {"dx", 1}}));
  EXPECT_EQ(log_, (Log{"open", "vscroll -1", "hscroll 1", "close"}));
  ASSERT_TRUE(Run({{"action", "scroll"}, {"dy", 2.5}}));
  EXPECT_EQ(log_, (Log{"open", "close"}));
  EXPECT_EQ(Run({{"action", "scroll"}, {"dy", 1}, {"dx", 1}}, "scroll").error(),
            "scroll failed: simulating input failed: (failed creating event)");
  EXPECT_EQ(log_, (Log{"open", "vscroll -1", "close"}));
}

// Numbers beyond 32 bits saturate with their sign instead of wrapping, and
// the most negative dy still scrolls down; non-integers stay absent.
TEST_F(InputActionTest, OutOfRangeNumbersSaturateWithTheirSign) {
  const std::pair<Json, Log> cases[] = {
      {{{"action", "move"}, {"x", 4294967396LL}, {"y", -1}}, {"move 2147483647,-1"}},
      {{{"action", "move"}, {"x", -4294967196LL}, {"y", INT64_MAX}},
       {"move -2147483648,2147483647"}},
      {{{"action", "move"}, {"x", INT64_MIN}, {"y", 2147483648LL}},
       {"move -2147483648,2147483647"}},
      {{{"action", "click"}, {"x", 5000000000LL}, {"y", -2147483649LL}},
       {"move 2147483647,-2147483648", "click left"}},
      {{{"action", "scroll"}, {"dy", -2147483648LL}}, {"vscroll 2147483647"}},
      {{{"action", "scroll"}, {"dy", 4294967295LL}}, {"vscroll -2147483647"}},
      {{{"action", "scroll"}, {"dy", -4294967295LL}}, {"vscroll 2147483647"}},
      {{{"action", "scroll"}, {"dy", 2147483647}}, {"vscroll -2147483647"}},
      {{{"action", "scroll"}, {"dx", -4294967296LL}, {"dy", 1e12}}, {"hscroll -2147483648"}},
      {{{"action", "scroll"}, {"dx", UINT64_MAX}}, {}},
  };
  for (const auto& [params, posted] : cases) {
    ASSERT_TRUE(Run(params)) << params.dump();
    Log expected{"open"};
    expected.insert(expected.end(), posted.begin(), posted.end());
    expected.push_back("close");
    EXPECT_EQ(log_, expected) << params.dump();
  }
}

TEST_F(InputActionTest, TypeAndKeyNames) {
  EXPECT_EQ(Run({{"action", "type"}}).error(), "missing param: text");
  ASSERT_TRUE(Run({{"action", "type"}, {"text", ""}}));
  EXPECT_EQ(log_, (Log{"open", "text ", "close"}));
  EXPECT_EQ(Run({{"action", "key"}, {"name", 1}}).error(), "missing param: name");
  EXPECT_EQ(Run({{"action", "key"}, {"name", ""}}).error(), "unknown key name: ");
  EXPECT_EQ(Run({{"action", "key"}, {"name", "F13"}}).error(), "unknown key name: F13");
  for (const char* name : {"Enter", "ENTER", "return"}) {
    ASSERT_TRUE(Run({{"action", "key"}, {"name", name}}));
    EXPECT_EQ(log_[1], "key " + std::to_string(static_cast<int>(NamedKey::kReturn))) << name;
  }
  ASSERT_TRUE(Run({{"action", "key"}, {"name", "PAGE_DOWN"}}));
  EXPECT_EQ(log_[1], "key " + std::to_string(static_cast<int>(NamedKey::kPageDown)));
  ASSERT_TRUE(Run({{"action", "key"}, {"name", "Cmd"}}));
  EXPECT_EQ(log_[1], "key " + std::to_string(static_cast<int>(NamedKey::kMeta)));
  ASSERT_TRUE(Run({{"action", "key"}, {"name", "A"}}));
  EXPECT_EQ(log_[1], "char 65");
  ASSERT_TRUE(Run({{"action", "key"}, {"name", "\xC3\x89"}}));  // É keeps its case
  EXPECT_EQ(log_[1], "char 201");
  EXPECT_EQ(Run({{"action", "key"}, {"name", "tab"}}, "key").error(),
            "key failed: simulating input failed: (failed creating event)");
}

TEST_F(InputActionTest, UnknownActionAfterOpen) {
  EXPECT_EQ(Run({{"action", "Click"}}).error(), "unknown input action: Click");
  EXPECT_EQ(log_, (Log{"open", "close"}));
}

}  // namespace
}  // namespace tarvix
