#include "platform/atspi/atspi_roles.h"

#include <gtest/gtest.h>

namespace tarvix {
namespace {

TEST(AtspiRolesTest, NumbersNameRoles) {
  EXPECT_EQ(AtspiRoleName(0), "invalid");
  EXPECT_EQ(AtspiRoleName(43), "push button");
  EXPECT_EQ(AtspiRoleName(61), "text");
  EXPECT_EQ(AtspiRoleName(99), "grouping");
  EXPECT_EQ(AtspiRoleName(129), "push button menu");
  EXPECT_EQ(AtspiRoleName(130), std::nullopt);
}

TEST(AtspiRolesTest, TableElseCamelCase) {
  struct Case {
    const char* atspi;
    bool multi_line;
    const char* ax;
  } cases[] = {
      {"push button", false, "AXButton"},       {"toggle button", false, "AXCheckBox"},
      {"check box", false, "AXCheckBox"},       {"page tab", false, "AXRadioButton"},
      {"text", false, "AXTextField"},           {"text", true, "AXTextArea"},
      {"entry", true, "AXTextField"},           {"password text", false, "AXTextField"},
      {"static", false, "AXStaticText"},        {"dialog", false, "AXWindow"},
      {"radio menu item", false, "AXMenuItem"}, {"list box", false, "AXList"},
      {"table cell", false, "AXCell"},          {"tree", false, "AXOutline"},
      {"table row", false, "AXRow"},            {"scroll pane", false, "AXScrollArea"},
      {"spin button", false, "AXIncrementor"},  {"page tab list", false, "AXTabGroup"},
      {"icon", false, "AXImage"},               {"progress bar", false, "AXProgressIndicator"},
      {"document web", false, "AXWebArea"},     {"split pane", false, "AXSplitGroup"},
      {"filler", false, "AXGroup"},             {"grouping", false, "AXGroup"},
      {"terminal", false, "AXTerminal"},        {"drawing area", false, "AXDrawingArea"},
      {"push button menu", false, "AXPushButtonMenu"}, {"x-custom", false, "AXX-custom"},
      {"", false, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(MapAtspiRole(c.atspi, c.multi_line), c.ax) << c.atspi;
}

}  // namespace
}  // namespace tarvix
