#include "platform/x11/x_connection.h"

#include <xcb/randr.h>

#include <cstdlib>

namespace tarvix {

Result<std::unique_ptr<XConnection>> XConnection::Open() {
  int screen_number = 0;
  xcb_connection_t* connection = xcb_connect(nullptr, &screen_number);
  // xcb_connect never returns null: a failed connection is an error object
  // that must still be disconnected.
  if (xcb_connection_has_error(connection) != 0) {
    xcb_disconnect(connection);
    return Error("cannot open the X display");
  }
  xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection));
  for (int i = 0; i < screen_number && screens.rem > 0; ++i) xcb_screen_next(&screens);
  if (screens.rem == 0 || screens.data == nullptr) {
    xcb_disconnect(connection);
    return Error("cannot open the X display");
  }
  return std::unique_ptr<XConnection>(new XConnection(connection, screens.data, screen_number));
}

XConnection::~XConnection() { xcb_disconnect(connection_); }

XRect XConnection::MainDisplay() const {
  const XRect whole{0, 0, screen_->width_in_pixels, screen_->height_in_pixels};
  XcbReply<xcb_randr_get_output_primary_reply_t> primary(xcb_randr_get_output_primary_reply(
      connection_, xcb_randr_get_output_primary(connection_, root()), nullptr));
  if (!primary || primary->output == XCB_NONE) return whole;
  XcbReply<xcb_randr_get_output_info_reply_t> output(xcb_randr_get_output_info_reply(
      connection_, xcb_randr_get_output_info(connection_, primary->output, XCB_CURRENT_TIME),
      nullptr));
  if (!output || output->crtc == XCB_NONE) return whole;
  XcbReply<xcb_randr_get_crtc_info_reply_t> crtc(xcb_randr_get_crtc_info_reply(
      connection_, xcb_randr_get_crtc_info(connection_, output->crtc, XCB_CURRENT_TIME), nullptr));
  if (!crtc || crtc->width == 0 || crtc->height == 0) return whole;
  return XRect{crtc->x, crtc->y, crtc->width, crtc->height};
}

xcb_atom_t XConnection::Atom(std::string_view name) const {
  XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
      connection_,
      xcb_intern_atom(connection_, 0, static_cast<uint16_t>(name.size()), name.data()), nullptr));
  return reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
}

}  // namespace tarvix
