// Reading and writing the values AT-SPI messages carry, shared by the tree
// reader and the element control.
#ifndef TARVIX_PLATFORM_ATSPI_ATSPI_VALUES_H_
#define TARVIX_PLATFORM_ATSPI_ATSPI_VALUES_H_

#include <systemd/sd-bus.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/atspi/bus_calls.h"

namespace tarvix {

// At most `limit` bytes of `text` as valid UTF-8 ("" for null).
std::string BoundedText(const char* text, size_t limit);

// An object reference "(so)"; the strings live as long as the message.
struct ObjectRef {
  const char* name = nullptr;
  const char* path = nullptr;
};
bool ReadRef(sd_bus_message* m, ObjectRef* ref);

// An "au" state set as one 64-bit mask; longer sets keep their first two
// words.
bool ReadStates(sd_bus_message* m, uint64_t* states);

// A variant holding one basic value of D-Bus type `type`.
bool ReadVariant(sd_bus_message* m, char type, void* value);

// A number as the replies show a value: the shortest text that reads back
// as the same double ("50", "0.25").
std::string NumberText(double number);

// Arguments of numbers and static strings (captured by value as given).
BusCalls::Append Args(const char* types, auto... values) {
  return [=](sd_bus_message* m) { return sd_bus_message_append(m, types, values...); };
}

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_ATSPI_ATSPI_VALUES_H_
