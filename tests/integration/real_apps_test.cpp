// Everyday tasks on real applications nobody here wrote, driven only
// through the daemon over HTTP, as an agent would: find an element in
// ui_tree, click the centre of its bounds with input, read the result
// back from ui_tree. A GTK 3 editor (mousepad), a GTK 4 calculator
// (gnome-calculator) and GTK dialogs (zenity), in a private X and
// accessibility session. Every wait polls the tree up to a generous
// deadline, so the tests hold under load.
#include <functional>
#include <thread>

#include <gtest/gtest.h>

#include "integration/daemon_harness.h"
#include "integration/ui_elements.h"
#include "integration/x_session.h"

namespace tarvix::testing {
namespace {

using namespace std::chrono_literals;

// An application's first start (fonts, settings, GTK 4's renderer) can
// take many seconds on a loaded machine.
constexpr auto kPatience = 60s;

using ElementTest = std::function<bool(const Json& element)>;

ElementTest Named(std::string role, std::string name) {
  return [=](const Json& e) { return e["role"] == role && e["name"] == name; };
}

// GTK menu items name their mnemonics and ellipses loosely ("Save As…").
ElementTest NameStarts(std::string role, std::string prefix) {
  return [=](const Json& e) {
    return e["role"] == role && e["name"].is_string() &&
           e["name"].get<std::string>().starts_with(prefix);
  };
}

class RealAppsTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    x_ = XSession::Start(24, 1280, 800).release();
    ASSERT_NE(x_, nullptr) << "Xvfb did not start";
    ASSERT_TRUE(x_->StartWindowManager());
    ASSERT_TRUE(x_->StartAccessibility()) << "no session bus or AT-SPI bus";
    daemon_ = TestDaemon::Start({.allow_exec = true, .env = x_->SessionEnv()}).release();
  }
  static void TearDownTestSuite() {
    delete daemon_;
    delete x_;
  }

  // The tree once `ready` holds for it, else the last tree read.
  static Json TreeWhen(const std::function<bool(const Json& tree)>& ready) {
    return PollUntil([] { return daemon_->Call("ui_tree")["result"]; }, ready, kPatience, 100ms);
  }
  static Json TreeWith(const ElementTest& test) {
    return TreeWhen([&](const Json& tree) { return FindElement(tree, test) != nullptr; });
  }

  // Clicks the centre of the element's bounds.
  static void ClickAt(const Json& element) {
    ASSERT_TRUE(element["bounds"].is_object()) << element.dump();
    const Json& b = element["bounds"];
    const int64_t x = b["x"].get<int64_t>() + b["w"].get<int64_t>() / 2;
    const int64_t y = b["y"].get<int64_t>() + b["h"].get<int64_t>() / 2;
    ASSERT_EQ(daemon_->Call("input", {{"action", "click"}, {"x", x}, {"y", y}})["ok"], true);
  }
  // Finds the element (waiting for it) and clicks it.
  static void Click(const ElementTest& test, const std::string& what) {
    const Json tree = TreeWith(test);
    const Json* element = FindElement(tree, test);
    ASSERT_NE(element, nullptr) << what << " not in " << tree.dump();
    ClickAt(*element);
  }

  static std::unique_ptr<SessionProcess> StartMousepad() {
    std::unique_ptr<SessionProcess> editor = x_->Launch({"mousepad", "--disable-server"});
    EXPECT_NE(editor, nullptr);
    return editor;
  }

  static XSession* x_;
  static TestDaemon* daemon_;
};
XSession* RealAppsTest::x_ = nullptr;
TestDaemon* RealAppsTest::daemon_ = nullptr;

// The editor's document is found, and the items of its closed menus are
// not in the tree (they would fill it before the document).
TEST_F(RealAppsTest, EditorTextAreaFoundAndClosedMenusLeftOut) {
  const std::unique_ptr<SessionProcess> editor = StartMousepad();
  const Json tree = TreeWith([](const Json& e) { return e["role"] == "AXTextArea"; });
  const Json* text = FindElement(tree, [](const Json& e) { return e["role"] == "AXTextArea"; });
  ASSERT_NE(text, nullptr) << tree.dump();
  EXPECT_TRUE((*text)["bounds"].is_object()) << text->dump();
  EXPECT_NE(FindElement(tree, Named("AXMenu", "File")), nullptr) << tree.dump();
  EXPECT_EQ(FindElement(tree, [](const Json& e) { return e["role"] == "AXMenuItem"; }), nullptr)
      << tree.dump();
  EXPECT_EQ(tree["truncated"], false);

  // What is typed at the text area's bounds is its value.
  ClickAt(*text);
  ASSERT_EQ(daemon_->Call("input", {{"action", "type"}, {"text", "hello tree"}})["ok"], true);
  const Json typed = TreeWith([](const Json& e) {
    return e["role"] == "AXTextArea" && e["value"] == "hello tree";
  });
  EXPECT_NE(FindElement(typed, [](const Json& e) { return e["value"] == "hello tree"; }), nullptr)
      << typed.dump();
}

// Save As through the File menu, clicked at the bounds the tree gives:
// the file chooser, not the editor behind it, is the tree's window.
TEST_F(RealAppsTest, SaveAsDialogIsTheTreesWindow) {
  const std::unique_ptr<SessionProcess> editor = StartMousepad();
  Click(Named("AXMenu", "File"), "File menu");
  Click(NameStarts("AXMenuItem", "Save As"), "Save As item");
  const Json dialog = TreeWhen([](const Json& tree) { return tree["window"] == "Save As"; });
  ASSERT_EQ(dialog["window"], "Save As") << dialog.dump();
  EXPECT_EQ(dialog["elements"][0]["role"], "AXFileChooser");
  EXPECT_NE(FindElement(dialog, Named("AXButton", "Cancel")), nullptr) << dialog.dump();
  EXPECT_EQ(FindElement(dialog, Named("AXMenu", "File")), nullptr) << "the editor's window was read";
  Click(Named("AXButton", "Cancel"), "Cancel");
  const Json back = TreeWhen([](const Json& tree) { return tree["window"] != "Save As"; });
  EXPECT_NE(FindElement(back, Named("AXMenu", "File")), nullptr) << back.dump();
}

// Closing a changed document asks in an alert; its buttons are the tree.
TEST_F(RealAppsTest, SaveChangesAlertButtonsAreInTheTree) {
  const std::unique_ptr<SessionProcess> editor = StartMousepad();
  const ElementTest area = [](const Json& e) { return e["role"] == "AXTextArea"; };
  Click(area, "text area");
  ASSERT_EQ(daemon_->Call("input", {{"action", "type"}, {"text", "unsaved"}})["ok"], true);
  TreeWith([](const Json& e) { return e["role"] == "AXTextArea" && e["value"] == "unsaved"; });
  Click(Named("AXMenu", "File"), "File menu");
  Click(NameStarts("AXMenuItem", "Close Tab"), "Close Tab item");
  const Json alert = TreeWith(Named("AXButton", "Cancel"));
  EXPECT_EQ(alert["elements"][0]["role"], "AXAlert") << alert.dump();
  const Json* save = FindElement(alert, Named("AXButton", "Save"));
  ASSERT_NE(save, nullptr) << alert.dump();
  EXPECT_EQ((*save)["clickable"], true);
  EXPECT_EQ(FindElement(alert, area), nullptr) << "the editor's window was read";
}

// A question dialog as an application's only window gives its buttons,
// not the window list.
TEST_F(RealAppsTest, QuestionDialogAloneGivesItsButtons) {
  const std::unique_ptr<SessionProcess> question =
      x_->Launch({"zenity", "--question", "--text=Proceed with the test?"});
  const Json tree = TreeWith(Named("AXButton", "Yes"));
  ASSERT_FALSE(tree.contains("windows")) << tree.dump();
  EXPECT_NE(FindElement(tree, Named("AXStaticText", "Proceed with the test?")), nullptr) << tree.dump();
  const Json* yes = FindElement(tree, Named("AXButton", "Yes"));
  const Json* no = FindElement(tree, Named("AXButton", "No"));
  ASSERT_NE(yes, nullptr);
  ASSERT_NE(no, nullptr) << tree.dump();
  EXPECT_EQ((*yes)["clickable"], true);
  // The click at the tree's bounds answers the question: the dialog goes,
  // as wait_for sees without polling here.
  const Json found = daemon_->Call("wait_for", {{"until", "element"}, {"query", "PROCEED"}});
  EXPECT_EQ(found["result"]["matched"]["role"], "AXStaticText") << found.dump();
  ClickAt(*yes);
  const Json gone = daemon_->Call(
      "wait_for", {{"until", "element_gone"}, {"role", "AXButton"}, {"query", "yes"},
                   {"timeout_ms", 60000}});
  EXPECT_EQ(gone["result"]["met"], true) << gone.dump();
  EXPECT_EQ(FindElement(daemon_->Call("ui_tree")["result"], Named("AXButton", "Yes")), nullptr);
}

// GTK 4 reports its extents relative to the window and its controls as
// SENSITIVE only: the calculator's keys, found in the tree and clicked at
// their bounds, compute 12 x 7 - 3.
TEST_F(RealAppsTest, CalculatorKeysClickedFromTheTreeCompute) {
  const std::unique_ptr<SessionProcess> calculator = x_->Launch({"gnome-calculator"});
  // A key is named by its label (with its tooltip after a space).
  auto key = [](std::string label) {
    return [label](const Json& e) {
      if (e["role"] != "AXButton" || !e["name"].is_string()) return false;
      const std::string name = e["name"];
      return name == label || name.starts_with(label + " ");
    };
  };
  const Json tree = TreeWith(key("="));
  ASSERT_NE(FindElement(tree, key("=")), nullptr) << tree.dump();
  const Json& window = tree["elements"][0];
  // The entry shows each key before the next is clicked, as an agent
  // would check; after "=" it shows the result.
  auto entry_shows = [](std::string text) {
    return [text](const Json& e) { return e["role"] == "AXTextArea" && e["value"] == text; };
  };
  const std::pair<const char*, const char*> keys[] = {
      {"1", "1"},
      {"2", "12"},
      {"\xC3\x97", "12\xC3\x97"},
      {"7", "12\xC3\x97" "7"},
      {"\xE2\x88\x92", "12\xC3\x97" "7\xE2\x88\x92"},
      {"3", "12\xC3\x97" "7\xE2\x88\x92" "3"},
      {"=", "81"},
  };
  for (const auto& [label, shown] : keys) {
    const Json* button = FindElement(tree, key(label));
    ASSERT_NE(button, nullptr) << label << " in " << tree.dump();
    EXPECT_EQ((*button)["enabled"], true) << button->dump();
    EXPECT_EQ((*button)["clickable"], true) << button->dump();
    // In display coordinates: inside the window, which is not at 0,0.
    const Json& b = (*button)["bounds"];
    EXPECT_GE(b["x"], window["bounds"]["x"]) << button->dump();
    EXPECT_LE(b["x"].get<int64_t>() + b["w"].get<int64_t>(),
              window["bounds"]["x"].get<int64_t>() + window["bounds"]["w"].get<int64_t>());
    ClickAt(*button);
    const Json after = TreeWith(entry_shows(shown));
    ASSERT_NE(FindElement(after, entry_shows(shown)), nullptr) << "after " << label << ": " << after.dump();
  }
}

}  // namespace
}  // namespace tarvix::testing
