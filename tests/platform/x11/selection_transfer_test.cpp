#include "platform/x11/selection_transfer.h"

#include "platform/x11/x_text.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

TEST(SelectionTransferTest, ReadTargetPrefersUtf8ThenLatin1ThenText) {
  using Names = std::vector<std::string>;
  struct Case {
    Names offered;
    bool known;
    std::string_view target;
  } cases[] = {
      {{"TARGETS", "TEXT", "STRING", "UTF8_STRING"}, true, "UTF8_STRING"},
      {{"TEXT", "STRING"}, true, "STRING"},
      {{"TEXT", "COMPOUND_TEXT"}, true, "TEXT"},
      {{"TARGETS", "image/png"}, true, ""},
      {{}, true, ""},
      {{}, false, "UTF8_STRING"},  // no TARGETS answer: try the usual one
  };
  for (const Case& c : cases) EXPECT_EQ(ChooseReadTarget(c.offered, c.known), c.target);
}

TEST(SelectionTransferTest, OwnerServesTextTargetsAndRefusesTheRest) {
  const SelectionAtoms atoms{.clipboard = 10, .targets = 11, .timestamp = 12, .multiple = 13,
                             .utf8_string = 14, .text = 15, .string = 31, .incr = 16};
  struct Case {
    uint32_t target;
    ServedAs as;
  } cases[] = {
      {11, ServedAs::kTargets}, {12, ServedAs::kTimestamp}, {14, ServedAs::kUtf8},
      {15, ServedAs::kUtf8},    {31, ServedAs::kLatin1},    {13, ServedAs::kRefused},
      {16, ServedAs::kRefused}, {10, ServedAs::kRefused},   {0, ServedAs::kRefused},
      {0xFFFFFFFF, ServedAs::kRefused},
  };
  for (const Case& c : cases) EXPECT_EQ(ClassifyTarget(atoms, c.target), c.as) << c.target;
  // Everything listed under TARGETS is served.
  for (uint32_t target : OfferedTargets(atoms)) {
    EXPECT_NE(ClassifyTarget(atoms, target), ServedAs::kRefused) << target;
  }
}

TEST(SelectionTransferTest, Latin1Conversions) {
  EXPECT_EQ(Utf8ToLatin1("aéÿ日😀\xFF"), "a\xE9\xFF???");
  EXPECT_EQ(Latin1ToUtf8(Utf8ToLatin1("Grüße")), "Grüße");
}

TEST(SelectionTransferTest, IncomingTextStopsAtItsLimit) {
  struct Case {
    std::vector<std::string> chunks;
    std::string data;
    bool truncated;
  } cases[] = {
      {{"abc", "de"}, "abcde", false},
      {{"abcdef"}, "abcdef", false},
      {{"abcd", "efg"}, "abcdef", true},
      {{"abcdefgh", "ij"}, "abcdef", true},
      {{}, "", false},
  };
  for (const Case& c : cases) {
    IncomingText in(6);
    bool more = true;
    for (const std::string& chunk : c.chunks) {
      if (more) more = in.Append(chunk);
    }
    EXPECT_EQ(in.data(), c.data);
    EXPECT_EQ(in.truncated(), c.truncated);
    EXPECT_EQ(more, !c.truncated);
  }
}

}  // namespace
}  // namespace tarvix
