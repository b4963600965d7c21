"""A plain GTK 3 window for the desktop tests.

Usage: gtk_window.py --title T [--app-class C] [--size WxH] [--pos X,Y] [--form] [--grow]
                     [--header-bar] [--button-colour RRGGBB]
                     [--colour RRGGBB | --image PATH | --spin MS | --labels N | --list N]
Prints "ready <X window id in hex, 0 on Wayland> <pid>" once the window is mapped and drawn,
then "clicked" each time its button is pressed, and runs until it is killed.
--header-bar: the window draws its own title bar (a header bar) and, where
the compositor leaves decorations to it, its own shadow around itself.
--button-colour paints the button plain RRGGBB in every state.
--grow: each press renames the label "Pressed N" and adds a label "Added N"
below the others; "clicked" comes once that label is on screen.
--labels shows only N small labels "L<i>", in rows (boxes) of 48.
--list shows only a list of N rows named "Row <i>", scrolled in a pane of
about three rows; prints "selected Row <i>" when a row is selected.
--spin shows only a spinning spinner; from "ready" on it spins MS ms, then
stops and prints "stopped <CLOCK_MONOTONIC seconds>" (0: it never stops).
"""
import argparse
import os
import sys
import time
import warnings

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("Gdk", "3.0")
from gi.repository import Gdk, GLib, Gtk  # noqa: E402

parser = argparse.ArgumentParser()
parser.add_argument("--title", required=True)
parser.add_argument("--app-class", dest="klass", default="TarvixTest")
parser.add_argument("--size", default="300x200")
parser.add_argument("--pos", default=None)
parser.add_argument("--colour", default=None)
parser.add_argument("--image", default=None, help="show this picture full screen")
parser.add_argument("--spin", type=int, default=None)
parser.add_argument("--form", action="store_true",
                    help="add a check box (prints toggled on/off) and a password entry")
parser.add_argument("--grow", action="store_true")
parser.add_argument("--labels", type=int, default=None)
parser.add_argument("--list", type=int, default=None)
parser.add_argument("--header-bar", dest="header_bar", action="store_true")
parser.add_argument("--button-colour", dest="button_colour", default=None)
args = parser.parse_args()

# A blinking text cursor would make two captures of the same screen differ.
Gtk.Settings.get_default().set_property("gtk-cursor-blink", False)
window = Gtk.Window(title=args.title)
if args.header_bar:
    window.set_titlebar(Gtk.HeaderBar(title=args.title, show_close_button=True))
if args.button_colour:
    button_css = Gtk.CssProvider()
    button_css.load_from_data(("button, button:hover, button:active { background: #%s; "
                               "border-color: #%s; box-shadow: none; }"
                               % (args.button_colour, args.button_colour)).encode())
    Gtk.StyleContext.add_provider_for_screen(
        Gdk.Screen.get_default(), button_css, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
# GTK takes "--class" from the command line itself, hence "--app-class"; the
# class is set on the window directly (deprecated, still honoured by GTK 3).
with warnings.catch_warnings():
    warnings.simplefilter("ignore", DeprecationWarning)
    window.set_wmclass(args.klass.lower(), args.klass)
width, height = (int(v) for v in args.size.split("x"))
window.set_default_size(width, height)
if args.pos:
    x, y = (int(v) for v in args.pos.split(","))
    window.move(x, y)
if args.image:
    window.add(Gtk.Image.new_from_file(args.image))
    window.fullscreen()
elif args.list is not None:
    rows = Gtk.ListBox()
    for i in range(args.list):
        row = Gtk.ListBoxRow()
        row.add(Gtk.Label(label="Row %d" % i))
        row.get_accessible().set_name("Row %d" % i)
        rows.add(row)
    rows.connect("row-selected", lambda _, row: row and print(
        "selected " + row.get_accessible().get_name(), flush=True))
    pane = Gtk.ScrolledWindow()
    pane.set_min_content_height(80)
    pane.set_max_content_height(80)
    pane.add(rows)
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
    box.pack_start(pane, False, False, 0)
    window.add(box)
elif args.labels is not None:
    rows = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
    for i in range(args.labels):
        if i % 48 == 0:
            row = Gtk.Box(orientation=Gtk.Orientation.HORIZONTAL)
            rows.pack_start(row, False, False, 0)
        row.pack_start(Gtk.Label(label="L%d" % i), False, False, 2)
    window.add(rows)
elif args.spin is not None:
    spinner = Gtk.Spinner()
    spinner.set_size_request(64, 64)
    window.add(spinner)
    spinner.start()
elif args.colour:
    css = Gtk.CssProvider()
    css.load_from_data(("window { background: #%s; }" % args.colour).encode())
    Gtk.StyleContext.add_provider_for_screen(
        Gdk.Screen.get_default(), css, Gtk.STYLE_PROVIDER_PRIORITY_APPLICATION)
else:
    box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL)
    label = Gtk.Label(label="Label of " + args.title)
    box.pack_start(label, False, False, 4)
    button = Gtk.Button(label="A button")
    presses = 0

    def pressed(*_):
        global presses
        if args.grow:
            presses += 1
            label.set_text("Pressed %d" % presses)
            added = Gtk.Label(label="Added %d" % presses)
            box.pack_start(added, False, False, 0)
            # Announced once drawn: mapped and placed, so on screen for AT-SPI.
            drawn = []

            def announce_added(*_):
                if not drawn:
                    drawn.append(True)
                    print("clicked", flush=True)
                return False

            added.connect_after("draw", announce_added)
            added.show()
            return
        print("clicked", flush=True)

    button.connect("clicked", pressed)
    box.pack_start(button, False, False, 4)
    box.pack_start(Gtk.Entry(text="Some text"), False, False, 4)
    if args.form:
        check = Gtk.CheckButton(label="A check box")
        check.connect("toggled", lambda b: print(
            "toggled " + ("on" if b.get_active() else "off"), flush=True))
        box.pack_start(check, False, False, 4)
        password = Gtk.Entry(text="secret")
        password.set_visibility(False)
        password.get_accessible().set_name("Password")
        box.pack_start(password, False, False, 4)
    window.add(box)
window.connect("destroy", Gtk.main_quit)

announced = False


def stop_spinning():
    spinner.stop()
    print("stopped %.6f" % time.monotonic(), flush=True)
    return False


def announce():
    # A native Wayland window has no X id: 0 there.
    xid = getattr(window.get_window(), "get_xid", lambda: 0)()
    print("ready 0x%x %d" % (xid, os.getpid()), flush=True)
    if args.spin:
        GLib.timeout_add(args.spin, stop_spinning)
    return False


def on_draw(*_):
    global announced
    if not announced:
        announced = True
        # Leave the window manager a moment to frame and place the window.
        GLib.timeout_add(300, announce)
    return False


window.connect_after("draw", on_draw)
window.show_all()
Gtk.main()
