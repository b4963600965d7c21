#include "platform/atspi/atspi_roles.h"

#include <algorithm>
#include <array>
#include <utility>

namespace tarvix {
namespace {

// AtspiRole in order, 0 to ATSPI_ROLE_LAST_DEFINED - 1 (AT-SPI 2.46).
constexpr std::array<std::string_view, 130> kRoleNames = {
    "invalid", "accelerator label", "alert", "animation", "arrow", "calendar", "canvas",
    "check box", "check menu item", "color chooser", "column header", "combo box",
    "date editor", "desktop icon", "desktop frame", "dial", "dialog", "directory pane",
    "drawing area", "file chooser", "filler", "focus traversable", "font chooser", "frame",
    "glass pane", "html container", "icon", "image", "internal frame", "label",
    "layered pane", "list", "list item", "menu", "menu bar", "menu item", "option pane",
    "page tab", "page tab list", "panel", "password text", "popup menu", "progress bar",
    "push button", "radio button", "radio menu item", "root pane", "row header",
    "scroll bar", "scroll pane", "separator", "slider", "spin button", "split pane",
    "status bar", "table", "table cell", "table column header", "table row header",
    "tearoff menu item", "terminal", "text", "toggle button", "tool bar", "tool tip",
    "tree", "tree table", "unknown", "viewport", "window", "extended", "header", "footer",
    "paragraph", "ruler", "application", "autocomplete", "editbar", "embedded", "entry",
    "chart", "caption", "document frame", "heading", "page", "section", "redundant object",
    "form", "link", "input method window", "table row", "tree item",
    "document spreadsheet", "document presentation", "document text", "document web",
    "document email", "comment", "list box", "grouping", "image map", "notification",
    "info bar", "level bar", "title bar", "block quote", "audio", "video", "definition",
    "article", "landmark", "log", "marquee", "math", "rating", "timer", "static",
    "math fraction", "math root", "subscript", "superscript", "description list",
    "description term", "description value", "footnote", "content deletion",
    "content insertion", "mark", "suggestion", "push button menu",
};

// AT-SPI role name -> AX role; keep in step with the README's table.
constexpr std::pair<std::string_view, std::string_view> kAxRoles[] = {
    {"push button", "AXButton"},
    {"toggle button", "AXCheckBox"},
    {"check box", "AXCheckBox"},
    {"radio button", "AXRadioButton"},
    {"page tab", "AXRadioButton"},
    {"text", "AXTextField"},
    {"entry", "AXTextField"},
    {"password text", "AXTextField"},
    {"label", "AXStaticText"},
    {"static", "AXStaticText"},
    {"frame", "AXWindow"},
    {"window", "AXWindow"},
    {"dialog", "AXWindow"},
    {"menu bar", "AXMenuBar"},
    {"menu", "AXMenu"},
    {"menu item", "AXMenuItem"},
    {"check menu item", "AXMenuItem"},
    {"radio menu item", "AXMenuItem"},
    {"combo box", "AXComboBox"},
    {"list", "AXList"},
    {"list box", "AXList"},
    {"list item", "AXCell"},
    {"table cell", "AXCell"},
    {"table", "AXTable"},
    {"tree", "AXOutline"},
    {"tree item", "AXRow"},
    {"table row", "AXRow"},
    {"scroll bar", "AXScrollBar"},
    {"scroll pane", "AXScrollArea"},
    {"slider", "AXSlider"},
    {"spin button", "AXIncrementor"},
    {"page tab list", "AXTabGroup"},
    {"tool bar", "AXToolbar"},
    {"image", "AXImage"},
    {"icon", "AXImage"},
    {"link", "AXLink"},
    {"progress bar", "AXProgressIndicator"},
    {"heading", "AXHeading"},
    {"document web", "AXWebArea"},
    {"split pane", "AXSplitGroup"},
    {"panel", "AXGroup"},
    {"filler", "AXGroup"},
    {"section", "AXGroup"},
    {"grouping", "AXGroup"},
};

bool IsAsciiLower(char c) { return c >= 'a' && c <= 'z'; }

}  // namespace

std::optional<std::string_view> AtspiRoleName(uint32_t role) {
  if (role >= kRoleNames.size()) return std::nullopt;
  return kRoleNames[role];
}

std::string MapAtspiRole(std::string_view name, bool multi_line) {
  if (name.empty()) return "";
  if (name == "text" && multi_line) return "AXTextArea";
  const auto* mapped = std::find_if(std::begin(kAxRoles), std::end(kAxRoles),
                                    [&](const auto& entry) { return entry.first == name; });
  if (mapped != std::end(kAxRoles)) return std::string(mapped->second);
  std::string role = "AX";
  bool word_start = true;
  for (const char c : name) {
    if (c == ' ') {
      word_start = true;
      continue;
    }
    role += word_start && IsAsciiLower(c) ? static_cast<char>(c - 'a' + 'A') : c;
    word_start = false;
  }
  return role;
}

}  // namespace tarvix
