#!/usr/bin/python3
"""A GTK3 window that reports the input it receives, for the input tests.

Writes one JSON object per line on stdout:
  {"ready": true, "area": [x, y, w, h], "text_view": [x, y, w, h]}   root coordinates
  {"button": 1, "type": "BUTTON_PRESS" | "2BUTTON_PRESS" | ..., "x": 10, "y": 12}
  {"scroll": "up" | "down" | "left" | "right"}
  {"key": "<GDK keyval name>"}
  {"text": "<text view contents>"}            answer to the "text" command
Reads one command per line on stdin: "text" (report the text), "clear"
(empty the text view), "focus" (focus the text view).
"""
import json
import os
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402


def emit(obj):
    sys.stdout.write(json.dumps(obj, ensure_ascii=False) + "\n")
    sys.stdout.flush()


def rect_of(widget):
    _, left, top = widget.get_toplevel().get_window().get_origin()
    x, y = widget.translate_coordinates(widget.get_toplevel(), 0, 0)
    alloc = widget.get_allocation()
    return [left + x, top + y, alloc.width, alloc.height]


window = Gtk.Window(title="tarvix input probe")
window.set_default_size(400, 300)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
window.add(box)

area = Gtk.EventBox()
area.set_size_request(400, 150)
area.add_events(Gdk.EventMask.BUTTON_PRESS_MASK | Gdk.EventMask.SCROLL_MASK)
box.pack_start(area, False, False, 0)

text_view = Gtk.TextView()
text_view.set_size_request(400, 150)
box.pack_start(text_view, True, True, 0)

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


def on_button(_widget, event):
    emit({"button": event.button, "type": EVENT_TYPES.get(event.type, str(event.type)),
          "x": int(event.x_root), "y": int(event.y_root)})
    return True


def on_scroll(_widget, event):
    emit({"scroll": SCROLLS.get(event.direction, str(event.direction))})
    return True


def on_key(_widget, event):
    emit({"key": Gdk.keyval_name(event.keyval)})
    return False  # the text view still gets it


pending = b""


def on_commands(fd, _condition):
    # Raw reads: a buffered reader could hold a second command back with
    # nothing left on the pipe to wake this watch again.
    global pending
    chunk = os.read(fd, 4096)
    if not chunk:
        Gtk.main_quit()
        return False
    pending += chunk
    while b"\n" in pending:
        line, pending = pending.split(b"\n", 1)
        run(line.decode().strip())
    return True


def run(command):
    buffer = text_view.get_buffer()
    if command == "text":
        emit({"text": buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True)})
    elif command == "clear":
        buffer.set_text("")
        emit({"cleared": True})
    elif command == "focus":
        window.present()
        text_view.grab_focus()
        emit({"focused": True})


def on_mapped(_widget, _event):
    # Report once the window manager has placed the window.
    def report():
        emit({"ready": True, "area": rect_of(area), "text_view": rect_of(text_view)})
        return False
    GLib.timeout_add(200, report)
    return False


area.connect("button-press-event", on_button)
area.connect("scroll-event", on_scroll)
window.connect("key-press-event", on_key)
window.connect("map-event", on_mapped)
window.connect("destroy", Gtk.main_quit)
GLib.io_add_watch(sys.stdin.fileno(), GLib.IO_IN | GLib.IO_HUP, on_commands)
window.show_all()
text_view.grab_focus()
Gtk.main()
