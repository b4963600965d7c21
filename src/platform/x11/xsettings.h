// XSETTINGS: the desktop session's shared settings (double-click time,
// theme names...), published by the settings manager as one property on
// the owner of the _XSETTINGS_S<screen> selection.
#ifndef TARVIX_PLATFORM_X11_XSETTINGS_H_
#define TARVIX_PLATFORM_X11_XSETTINGS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/x11/x_connection.h"

namespace tarvix {

// The integer setting `name` in the _XSETTINGS_SETTINGS property bytes
// (either byte order); nullopt when absent, of another type, or when the
// data is truncated or malformed before it.
std::optional<int32_t> FindXSettingsInteger(std::string_view data, std::string_view name);

// The session's settings manager's _XSETTINGS_SETTINGS bytes (for
// FindXSettingsInteger); empty when no manager runs or the server does not
// answer in time (the connection is then severed).
std::string ReadXSettings(const XConnection& x);

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_X11_XSETTINGS_H_
