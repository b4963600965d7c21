#include "platform/atspi/atspi_values.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

#include "base/utf8.h"

namespace tarvix {

std::string BoundedText(const char* text, size_t limit) {
  if (text == nullptr) return "";
  std::string_view bytes(text, strnlen(text, limit));
  // Cutting may split a character; the lossy decoding mends the end.
  return LossyUtf8(bytes);
}

bool ReadRef(sd_bus_message* m, ObjectRef* ref) {
  return sd_bus_message_read(m, "(so)", &ref->name, &ref->path) > 0;
}

bool ReadStates(sd_bus_message* m, uint64_t* states) {
  if (sd_bus_message_enter_container(m, 'a', "u") <= 0) return false;
  *states = 0;
  uint32_t word = 0;
  for (int i = 0; sd_bus_message_read_basic(m, 'u', &word) > 0; ++i) {
    if (i < 2) *states |= uint64_t{word} << (32 * i);
  }
  return sd_bus_message_exit_container(m) >= 0;
}

bool ReadVariant(sd_bus_message* m, char type, void* value) {
  const char contents[2] = {type, '\0'};
  return sd_bus_message_enter_container(m, 'v', contents) > 0 &&
         sd_bus_message_read_basic(m, type, value) > 0;
}

std::string NumberText(double number) {
  if (!std::isfinite(number)) return std::isnan(number) ? "nan" : number > 0 ? "inf" : "-inf";
  if (number == 0) return "0";  // not "-0"
  char buffer[64];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, number);
  return error == std::errc() ? std::string(buffer, end) : "";
}

}  // namespace tarvix
