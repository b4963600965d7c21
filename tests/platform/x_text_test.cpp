#include "platform/x11/x_text.h"

#include <gtest/gtest.h>

namespace tarvix {
namespace {

TEST(XTextTest, Latin1AndCompoundTextBecomeUtf8) {
  EXPECT_EQ(Latin1ToUtf8("caf\xE9 \xFF!"), "caf\xC3\xA9 \xC3\xBF!");
  struct Case {
    std::string compound, utf8;
  } cases[] = {
      {"plain", "plain"},
      {"caf\xE9", "caf\xC3\xA9"},                                // GR is Latin-1 from the start
      {"a\x1B-Mb\xE9" "c", "abc"},                               // GR switched to Latin-5: skipped
      {"a\x1B-M\xE9\x1B-A\xE9", "a\xC3\xA9"},                    // and back to Latin-1
      {"x\x1B(Jyz\x1B(Bw", "xw"},                                // GL JIS-Roman skipped, ASCII again
      {"\x1B$(BXX\x1B(B ok", " ok"},                             // a multi-byte set in GL skipped
      {"u\x1B%G\xE2\x82\xAC\x1B%@v", "u\xE2\x82\xAC" "v"},      // a UTF-8 segment kept
      {"k\x1B%/1\x80\x83" "abcz", "kz"},                         // an extended segment skipped
      {"bad\x1B", "bad"},                                        // a cut escape ends the text
  };
  for (const Case& c : cases) EXPECT_EQ(CompoundTextToUtf8(c.compound), c.utf8) << c.utf8;
}

}  // namespace
}  // namespace tarvix
