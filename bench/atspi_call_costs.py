"""What each kind of AT-SPI call costs the application that answers it.

Usage: atspi_call_costs.py PID XVFB_PID [CALLS] [ROLE]
Sends CALLS calls of each kind (bounds, text, states, a property, a ping)
to one element of the application PID with that role name (default
"label"), all in flight at once as the daemon sends them, and prints per
call the processor time of the application and of Xvfb and the wall time;
then the same for the application's whole cache (GetItems), with its size.
Run inside an accessibility session (AT_SPI_BUS_ADDRESS set). Prints
figures; asserts nothing.
"""
import os
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

pid, xvfb = int(sys.argv[1]), int(sys.argv[2])
calls = int(sys.argv[3]) if len(sys.argv) > 3 else 1000
role = sys.argv[4] if len(sys.argv) > 4 else "label"


def ticks(process):
    fields = open("/proc/%d/stat" % process).read().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def find(node, depth=0):
    if depth > 25:
        return None
    if node.get_role_name() == role and node.get_state_set().contains(Atspi.StateType.SHOWING):
        return node
    for i in range(node.get_child_count()):
        child = node.get_child_at_index(i)
        found = find(child, depth + 1) if child else None
        if found:
            return found
    return None


desktop = Atspi.get_desktop(0)
app = next(a for a in (desktop.get_child_at_index(i) for i in range(desktop.get_child_count()))
           if a and a.get_process_id() == pid)
target = find(app)
conn = Gio.DBusConnection.new_for_address_sync(
    os.environ["AT_SPI_BUS_ADDRESS"],
    Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
    None, None)


def call_sync(name, path, interface, member, args=None):
    return conn.call_sync(name, path, interface, member, args, None, 0, 5000, None)


names = call_sync("org.a11y.atspi.Registry", "/org/a11y/atspi/accessible/root",
                  "org.a11y.atspi.Accessible", "GetChildren").unpack()[0]
bus_name = next(n for n, _ in names if call_sync(
    "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
    "GetConnectionUnixProcessID", GLib.Variant("(s)", (n,))).unpack()[0] == pid)
hz = os.sysconf("SC_CLK_TCK")
print("application %d, %s %r at %s" % (pid, role, target.get_name(), target.path))
kinds = [
    ("GetExtents, screen", "org.a11y.atspi.Component", "GetExtents", GLib.Variant("(u)", (0,))),
    ("GetExtents, window", "org.a11y.atspi.Component", "GetExtents", GLib.Variant("(u)", (1,))),
    ("GetText", "org.a11y.atspi.Text", "GetText", GLib.Variant("(ii)", (0, -1))),
    ("GetState", "org.a11y.atspi.Accessible", "GetState", None),
    ("Get Name", "org.freedesktop.DBus.Properties", "Get",
     GLib.Variant("(ss)", ("org.a11y.atspi.Accessible", "Name"))),
    ("Ping", "org.freedesktop.DBus.Peer", "Ping", None),
]
for label, interface, member, args in kinds:
    path = "/" if member == "Ping" else target.path
    loop = GLib.MainLoop()
    left = [calls]

    def done(connection, result, _):
        connection.call_finish(result)
        left[0] -= 1
        if left[0] == 0:
            loop.quit()

    app_before, xvfb_before, start = ticks(pid), ticks(xvfb), time.monotonic()
    for _ in range(calls):
        conn.call(bus_name, path, interface, member, args, None, 0, 5000, None, done, None)
    loop.run()
    wall = time.monotonic() - start
    print("%-20s application %5.1f us, Xvfb %5.1f us, wall %5.1f us per call" % (
        label, (ticks(pid) - app_before) * 1e6 / hz / calls,
        (ticks(xvfb) - xvfb_before) * 1e6 / hz / calls, wall * 1e6 / calls))
rounds = 20
app_before, start = ticks(pid), time.monotonic()
for _ in range(rounds):
    reply = call_sync(bus_name, "/org/a11y/atspi/cache", "org.a11y.atspi.Cache", "GetItems")
print("GetItems, %d items, %d bytes: application %.1f ms per call" % (
    len(reply.unpack()[0]), reply.get_size(), (ticks(pid) - app_before) * 1e3 / hz / rounds))
