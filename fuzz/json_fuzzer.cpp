// JSON decoding and writing, and the lossy UTF-8 decoder: the daemon's
// writer must match the library's compact form and read back to the same
// value; lossy decoding always yields UTF-8 and leaves valid text alone.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "base/utf8.h"
#include "json/json.h"
#include "support/library_json_form.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string lossy = tarvix::LossyUtf8(bytes);
  if (!tarvix::IsValidUtf8(lossy)) __builtin_trap();
  if (tarvix::IsValidUtf8(bytes) != (lossy == bytes)) __builtin_trap();

  const tarvix::Json value = tarvix::ParseJsonOrNull(lossy);
  const std::string text = tarvix::ToJsonText(value);
  if (text != tarvix::testing::LibraryJsonForm(value)) __builtin_trap();
  if (tarvix::ParseJsonOrNull(text) != value && value == value) __builtin_trap();  // NaN aside
  // Any text as a JSON string survives the trip.
  const tarvix::Json as_string = lossy;
  if (tarvix::ParseJsonOrNull(tarvix::ToJsonText(as_string)) != as_string) __builtin_trap();
  return 0;
}
