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
  const XInputRecord empty{5, 6, {}, {}};
  const std::vector<uint32_t> nothing = EncodeInputRecord(empty);
  EXPECT_EQ(DecodeInputRecord(nothing.data(), nothing.size()), empty);

  const std::vector<std::vector<uint32_t>> malformed = {
      {},
      {kVersion, 1, 2},                          // no held count
      {kVersion + 1, 1, 2, 0},                   // another version
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
