#include "platform/wayland/wlr_clipboard.h"

#include <gtest/gtest.h>

namespace tarvix::wlr {
namespace {

TEST(WlrClipboardTest, TextMimeByPreference) {
  const struct {
    std::vector<std::string> offered;
    std::string_view expected;
  } cases[] = {
      {{"text/html", "text/plain", "text/plain;charset=utf-8"}, "text/plain;charset=utf-8"},
      {{"text/plain;charset=UTF-8"}, "text/plain;charset=utf-8"},
      {{"STRING", "UTF8_STRING"}, "UTF8_STRING"},
      {{"STRING", "text/plain"}, "text/plain"},
      {{"TARGETS", "STRING"}, "STRING"},
      {{"image/png", "text/html"}, ""},
      {{}, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ChooseTextMime(c.offered), c.expected) << c.offered.size();
  }
}

}  // namespace
}  // namespace tarvix::wlr
