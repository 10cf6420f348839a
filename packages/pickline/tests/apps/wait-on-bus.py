#!/usr/bin/python3
"""wait-on-bus.py PID: waits (up to 30 s) until the accessibility bus shows a window of
process PID as active with a focused element in it, as pickline will look for them."""
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402


def has_focus(node, depth=0):
    if node.get_state_set().contains(Atspi.StateType.FOCUSED):
        return True
    children = (node.get_child_at_index(i) for i in range(node.get_child_count()))
    return depth < 30 and any(child and has_focus(child, depth + 1) for child in children)


def shown(pid):
    desktop = Atspi.get_desktop(0)
    for application in (desktop.get_child_at_index(i) for i in range(desktop.get_child_count())):
        if application is None or application.get_process_id() != pid:
            continue
        for window in (application.get_child_at_index(i) for i in range(application.get_child_count())):
            if window and window.get_state_set().contains(Atspi.StateType.ACTIVE) and has_focus(window):
                return True
    return False


deadline = time.monotonic() + 30
while time.monotonic() < deadline:
    try:
        if shown(int(sys.argv[1])):
            sys.exit(0)
    except GLib.Error:
        pass
    time.sleep(0.05)
sys.exit(1)
