// Input on wlroots compositors: one virtual pointer
// (zwlr_virtual_pointer_manager_v1) and one virtual keyboard
// (zwp_virtual_keyboard_manager_v1) for the daemon's whole life.
//
// Both live on a Wayland connection of their own, opened by the first
// input request and opened again by the next one after the compositor went
// away. They are never made per request: sway 1.7 crashes when short-lived
// virtual pointers come and go while XWayland runs, and a seat without
// input devices has no pointer until one exists. Only the input loop's
// thread touches them, under the input lock (platform/input_stop.h); the
// InputBackend a request opens is a light handle onto them that releases
// what it pressed when it closes.
//
// Typing uploads a keymap holding one key per keysym the text needs (see
// wlr_keymap.h), types it, and uploads the chord keymap again for named
// keys and chords: the user's own layout cannot be read through the
// virtual keyboard protocol, so after a text the compositor's clients
// see the chord keymap's US layout until a physical keyboard types again.
// While an X client through XWayland has the focus, each text keymap stays
// until that client has read the keys (see xwayland_typing.h).
#ifndef TARVIX_PLATFORM_WAYLAND_WLR_INPUT_H_
#define TARVIX_PLATFORM_WAYLAND_WLR_INPUT_H_

#include <memory>

#include "base/result.h"
#include "platform/input_backend.h"

namespace tarvix::wlr {

// The handle for one request; the error is the open error text
// ("no connection could be established: (<reason>)").
Result<std::unique_ptr<InputBackend>> OpenInputBackend();

}  // namespace tarvix::wlr

#endif  // TARVIX_PLATFORM_WAYLAND_WLR_INPUT_H_
