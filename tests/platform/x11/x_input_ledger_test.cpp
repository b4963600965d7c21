#include "platform/x11/x_input_ledger.h"

#include <cstdint>
#include <optional>
#include <vector>

#include <gtest/gtest.h>

namespace tarvix {
namespace {

constexpr uint32_t kVersion = 0x54564c31;

// A record goes through the property and back unchanged; anything else a
// root property could hold is refused rather than half-restored.
TEST(XInputLedgerTest, RecordsRoundTripAndMalformedOnesAreRefused) {
  const XInputRecord record{0x00a00001, 77, {50, 92}, {{93, {0, 0}}, {97, {0x61, 0x41, 0, 0}}}};
  const std::vector<uint32_t> words = EncodeInputRecord(record);
  EXPECT_EQ(words, (std::vector<uint32_t>{kVersion, 0x00a00001, 77, 2, 50, 92, 93, 2, 0, 0, 97,
                                          4, 0x61, 0x41, 0, 0}));
  EXPECT_EQ(DecodeInputRecord(words.data(), words.size()), record);
  const XInputRecord with_buttons{9, 8, {50}, {{93, {0}}}, {1, 3}};
  const std::vector<uint32_t> button_words = EncodeInputRecord(with_buttons);
  EXPECT_EQ(button_words, (std::vector<uint32_t>{kVersion + 1, 9, 8, 1, 50, 2, 1, 3, 93, 1, 0}));
  EXPECT_EQ(DecodeInputRecord(button_words.data(), button_words.size()), with_buttons);
  const XInputRecord empty{5, 6, {}, {}};
  const std::vector<uint32_t> nothing = EncodeInputRecord(empty);
  EXPECT_EQ(DecodeInputRecord(nothing.data(), nothing.size()), empty);

  const std::vector<std::vector<uint32_t>> malformed = {
      {},
      {kVersion, 1, 2},                          // no held count
      {kVersion + 2, 1, 2, 0},                   // another version
      {kVersion + 1, 1, 2, 0},                   // no button count
      {kVersion + 1, 1, 2, 0, 2, 1},             // fewer buttons than counted
      {kVersion + 1, 1, 2, 0, 1, 6},             // not a button
      {kVersion + 1, 1, 2, 0, 0xffffffff, 1},    // a count that would overflow
      {kVersion, 1, 2, 3, 50, 51},               // fewer held keys than counted
      {kVersion, 1, 2, 1, 7},                    // not a keycode
      {kVersion, 1, 2, 0, 93},                   // a loan without its width
      {kVersion, 1, 2, 0, 93, 3, 0, 0},          // fewer keysyms than its width
      {kVersion, 1, 2, 0, 93, 0},                // a loan without keysyms
      {kVersion, 1, 2, 0, 256, 1, 0},            // not a keycode
      {kVersion, 1, 2, 0xffffffff, 50},          // a count that would overflow
      {kVersion, 1, 2, 0, 93, 0xffffffff, 0},    // a width that would overflow
  };
  for (const std::vector<uint32_t>& bad : malformed) {
    EXPECT_EQ(DecodeInputRecord(bad.data(), bad.size()), std::nullopt) << bad.size();
  }
}

}  // namespace
}  // namespace tarvix
