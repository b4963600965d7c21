// AT-SPI roles: the numeric role an application reports, its AT-SPI name,
// and the macOS AX role "ui_tree" reports for it, so one agent reads both
// platforms alike. The README's role table documents MapAtspiRole.
#ifndef TARVIX_PLATFORM_ATSPI_ATSPI_ROLES_H_
#define TARVIX_PLATFORM_ATSPI_ATSPI_ROLES_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvix {

// The AT-SPI name of role number `role` ("push button" for 43); nullopt
// for a number this table does not know (a newer AT-SPI), whose name must
// then be asked of the element.
std::optional<std::string_view> AtspiRoleName(uint32_t role);

// The AX role of an AT-SPI role name: the fixed table, else "AX" and the
// name in CamelCase ("drawing area" -> "AXDrawingArea"). `multi_line` (the
// MULTI_LINE state) turns "text" into "AXTextArea". "" stays "".
std::string MapAtspiRole(std::string_view name, bool multi_line);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_ATSPI_ATSPI_ROLES_H_
