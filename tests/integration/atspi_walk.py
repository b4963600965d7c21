"""A node-by-node AT-SPI walk through pyatspi (libatspi), independent of
the daemon: the oracle for its ui_tree and the baseline of its benchmark.

Usage: atspi_walk.py PID [--repeat N] [--x-offset X --y-offset Y]
Prints the focused window's elements as JSON lines
{"depth","role","name","states","bounds","actions","text"} in the order
of a depth-first walk capped at depth 22 and 220 elements that leaves out
what is not on screen (no SHOWING; GTK 4 marks only windows SHOWING, and
VISIBLE inside them); with --repeat, prints only "ms <per walk>" after N
walks.
"""
import argparse
import json
import sys
import time

import pyatspi

parser = argparse.ArgumentParser()
parser.add_argument("pid", type=int)
parser.add_argument("--repeat", type=int, default=0)
args = parser.parse_args()


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def gtk4(app):
    try:
        toolkit = app.get_toolkit_name() or ""
        version = app.get_toolkit_version() or ""
    except Exception:  # noqa: BLE001 - an application that does not say
        return False
    return toolkit.lower() == "gtk" and version.split(".")[0] == "4"


def on_screen(node, visible_counts):
    states = node.getState()
    return states.contains(pyatspi.STATE_SHOWING) or (
        visible_counts and states.contains(pyatspi.STATE_VISIBLE))


def focused(app):
    windows = [w for w in app if w is not None]
    for state in (pyatspi.STATE_ACTIVE, pyatspi.STATE_SHOWING):
        for w in windows:
            if w.getState().contains(state):
                return w
    return None


def record(node, depth):
    states = node.getState()
    out = {"depth": depth, "role": node.getRoleName(), "name": node.name or "",
           "enabled": states.contains(pyatspi.STATE_ENABLED) or
           states.contains(pyatspi.STATE_SENSITIVE),
           "multi_line": states.contains(pyatspi.STATE_MULTI_LINE),
           "bounds": None, "actions": None, "text": None}
    try:
        e = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
        if e.x != -2147483648 and e.y != -2147483648:
            out["bounds"] = [e.x, e.y, e.width, e.height]
    except NotImplementedError:
        pass
    try:
        action = node.queryAction()
        out["actions"] = [action.getName(i) for i in range(action.nActions)]
    except NotImplementedError:
        pass
    try:
        out["text"] = node.queryText().getText(0, -1)
    except NotImplementedError:
        pass
    return out


def walk(node, depth, out, visible_counts):
    if depth > 22 or len(out) >= 220:
        return
    out.append(record(node, depth))
    if len(out) >= 220:
        return
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None and on_screen(child, visible_counts):
            walk(child, depth + 1, out, visible_counts)
        if len(out) >= 220:
            return


def dump():
    app = application(args.pid)
    window = focused(app) if app else None
    out = []
    if window is not None:
        walk(window, 0, out, gtk4(app))
    return out


if args.repeat:
    dump()  # warm: the registry and the application's cache
    start = time.monotonic()
    for _ in range(args.repeat):
        dump()
    print("ms %.1f" % ((time.monotonic() - start) * 1000 / args.repeat), flush=True)
else:
    for element in dump():
        print(json.dumps(element), flush=True)
