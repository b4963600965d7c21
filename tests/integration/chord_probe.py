#!/usr/bin/python3
"""A GTK3 window for the chord and pointer tests: accelerators, a text view
whose selection it reports, and a scale whose value it reports.

Writes one JSON object per line on stdout:
  {"ready": true, "chars": {"L:C": [x, y]}, "lines": [[start, end], ...],
   "scale": [x, y, w, h]}           root coordinates; a point just inside
                                    the left edge of the character at line
                                    L, column C (a click there puts the
                                    cursor before it); the offsets where
                                    each line starts and ends
  {"accel": "save" | "eacute"}      Ctrl+S, Ctrl+é fired their accelerators
  {"key": "<GDK keyval name>"}      every key press
  {"selection": [start, end]}       the text selection changed (offsets)
  {"value": N}                      the scale's value changed
"""
import json
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

LINES = ["alpha beta gamma delta", "second line of text here", "third and last line"]


def emit(obj):
    sys.stdout.write(json.dumps(obj, ensure_ascii=False) + "\n")
    sys.stdout.flush()


Gtk.Settings.get_default().set_property("gtk-cursor-blink", False)
window = Gtk.Window(title="tarvix chord probe")
window.move(40, 40)
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
window.add(box)
text_view = Gtk.TextView()
text_view.set_size_request(500, 120)
text_buffer = text_view.get_buffer()
text_buffer.set_text("\n".join(LINES))
box.pack_start(text_view, True, True, 0)
scale = Gtk.Scale.new_with_range(Gtk.Orientation.HORIZONTAL, 0, 100, 1)
scale.set_size_request(400, 40)
scale.set_draw_value(False)
box.pack_start(scale, False, False, 10)

accels = Gtk.AccelGroup()
window.add_accel_group(accels)
for name, keyval in (("save", Gdk.KEY_s), ("eacute", Gdk.KEY_eacute)):
    accels.connect(keyval, Gdk.ModifierType.CONTROL_MASK, 0,
                   lambda *_a, name=name: emit({"accel": name}) or True)

last_selection = [None]


def origin_of(widget):
    _, left, top = window.get_window().get_origin()
    x, y = widget.translate_coordinates(window, 0, 0)
    return left + x, top + y


def char_point(line, column):
    it = text_buffer.get_iter_at_line_offset(line, column)
    rect = text_view.get_iter_location(it)
    wx, wy = text_view.buffer_to_window_coords(Gtk.TextWindowType.WIDGET, rect.x, rect.y)
    left, top = origin_of(text_view)
    return [left + wx + 1, top + wy + rect.height // 2]


def on_mark_set(_buffer, _iter, mark):
    if mark.get_name() not in ("insert", "selection_bound"):
        return
    bounds = text_buffer.get_selection_bounds()
    selection = [bounds[0].get_offset(), bounds[1].get_offset()] if bounds else None
    if selection and selection != last_selection[0]:
        emit({"selection": selection})
    last_selection[0] = selection


def on_key(_widget, event):
    emit({"key": Gdk.keyval_name(event.keyval)})
    return False


def on_mapped(_widget, _event):
    def report():
        chars = {}
        for line, text in enumerate(LINES):
            for column in range(len(text)):
                chars["%d:%d" % (line, column)] = char_point(line, column)
        lines, start = [], 0
        for text in LINES:
            lines.append([start, start + len(text)])
            start += len(text) + 1
        left, top = origin_of(scale)
        alloc = scale.get_allocation()
        emit({"ready": True, "chars": chars, "lines": lines,
              "scale": [left, top, alloc.width, alloc.height]})
        return False
    GLib.timeout_add(300, report)
    return False


text_buffer.connect("mark-set", on_mark_set)
scale.connect("value-changed", lambda s: emit({"value": int(s.get_value())}))
window.connect("key-press-event", on_key)
window.connect("map-event", on_mapped)
window.connect("destroy", Gtk.main_quit)
window.show_all()
text_view.grab_focus()
Gtk.main()
