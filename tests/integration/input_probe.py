#!/usr/bin/python3
"""A GTK3 window that reports the input it receives, for the input tests.

Writes one JSON object per line on stdout:
  {"ready": true, "area": [x, y, w, h], "text_view": [x, y, w, h]}   root coordinates
  {"button": 1, "type": "BUTTON_PRESS" | "2BUTTON_PRESS" | "3BUTTON_PRESS", "x": .., "y": ..}
  {"scroll": "up" | "down" | "left" | "right"}
  {"key": "<GDK keyval name>"}              every key press, before the text view sees it
  {"text": "<text view contents>"}          once typing has paused for 150 ms
  {"cleared": true}                         Escape has emptied the text view
The upper half is a button and wheel target; the lower half a text view
with the keyboard focus. Escape empties the text view; no text report of
what came before it follows its "cleared".
"""
import json
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

EVENT_TYPES = {
    Gdk.EventType.BUTTON_PRESS: "BUTTON_PRESS",
    Gdk.EventType._2BUTTON_PRESS: "2BUTTON_PRESS",
    Gdk.EventType._3BUTTON_PRESS: "3BUTTON_PRESS",
}
SCROLLS = {
    Gdk.ScrollDirection.UP: "up",
    Gdk.ScrollDirection.DOWN: "down",
    Gdk.ScrollDirection.LEFT: "left",
    Gdk.ScrollDirection.RIGHT: "right",
}


def emit(obj):
    sys.stdout.write(json.dumps(obj, ensure_ascii=False) + "\n")
    sys.stdout.flush()


window = Gtk.Window(title="tarvix input probe")
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
window.add(box)
area = Gtk.EventBox()
area.set_size_request(400, 150)
area.add_events(Gdk.EventMask.BUTTON_PRESS_MASK | Gdk.EventMask.SCROLL_MASK)
box.pack_start(area, False, False, 0)
text_view = Gtk.TextView()
text_view.set_size_request(400, 150)
box.pack_start(text_view, True, True, 0)
text_buffer = text_view.get_buffer()
quiet_timer = [0]


def rect_of(widget):
    _, left, top = window.get_window().get_origin()
    x, y = widget.translate_coordinates(window, 0, 0)
    alloc = widget.get_allocation()
    return [left + x, top + y, alloc.width, alloc.height]


def on_button(_widget, event):
    emit({"button": event.button, "type": EVENT_TYPES.get(event.type, str(event.type)),
          "x": int(event.x_root), "y": int(event.y_root)})
    return True


def on_scroll(_widget, event):
    emit({"scroll": SCROLLS.get(event.direction, str(event.direction))})
    return True


def on_key(_widget, event):
    emit({"key": Gdk.keyval_name(event.keyval)})
    if event.keyval == Gdk.KEY_Escape:
        text_buffer.set_text("")
        if quiet_timer[0]:
            GLib.source_remove(quiet_timer[0])
            quiet_timer[0] = 0
        emit({"cleared": True})
        return True
    return False


def report_text():
    quiet_timer[0] = 0
    emit({"text": text_buffer.get_text(text_buffer.get_start_iter(),
                                       text_buffer.get_end_iter(), True)})
    return False


def on_changed(_buffer):
    if quiet_timer[0]:
        GLib.source_remove(quiet_timer[0])
    quiet_timer[0] = GLib.timeout_add(150, report_text)


def on_mapped(_widget, _event):
    # Report once the window manager has placed and focused the window.
    def report():
        emit({"ready": True, "area": rect_of(area), "text_view": rect_of(text_view)})
        return False
    GLib.timeout_add(300, report)
    return False


area.connect("button-press-event", on_button)
area.connect("scroll-event", on_scroll)
window.connect("key-press-event", on_key)
window.connect("map-event", on_mapped)
window.connect("destroy", Gtk.main_quit)
text_buffer.connect("changed", on_changed)
window.show_all()
text_view.grab_focus()
Gtk.main()
