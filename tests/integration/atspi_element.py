"""Reads one element of an application through pyatspi (libatspi),
independent of the daemon: the oracle for ui_action and ui_set_value.

Usage: atspi_element.py PID NAME
Prints {"states": [...], "text": ...} of the first element named NAME in
the application's tree (states as AT-SPI names, text null without the
Text interface), or {} when there is none.
"""
import json
import sys

import pyatspi

pid, name = int(sys.argv[1]), sys.argv[2]


def find(node, depth=0):
    if node is None or depth > 30:
        return None
    if node.name == name:
        return node
    for child in node:
        found = find(child, depth + 1)
        if found is not None:
            return found
    return None


for app in pyatspi.Registry.getDesktop(0):
    if app is None or app.get_process_id() != pid:
        continue
    element = find(app)
    if element is None:
        break
    states = [pyatspi.stateToString(s) for s in element.getState().getStates()]
    try:
        text = element.queryText().getText(0, -1)
    except NotImplementedError:
        text = None
    print(json.dumps({"states": states, "text": text}))
    sys.exit(0)
print("{}")
