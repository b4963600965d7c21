// XSETTINGS: the desktop session's shared settings (double-click time,
// theme names...), published by the settings manager as one property on
// the owner of the _XSETTINGS_S<screen> selection.
#ifndef TARVIX_PLATFORM_X11_XSETTINGS_H_
#define TARVIX_PLATFORM_X11_XSETTINGS_H_

#include <cstdint>
#include <optional>
#include <string_view>

#include "platform/x11/x_connection.h"

namespace tarvix {

// The integer setting `name` in the _XSETTINGS_SETTINGS property bytes
// (either byte order); nullopt when absent, of another type, or when the
// data is truncated or malformed before it.
std::optional<int32_t> FindXSettingsInteger(std::string_view data, std::string_view name);

// Reads the integer setting `name` from the session's settings manager;
// nullopt when no manager runs, the setting is not published or the server
// does not answer in time (the connection is then severed).
std::optional<int32_t> ReadXSettingsInteger(const XConnection& x, std::string_view name);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_XSETTINGS_H_
