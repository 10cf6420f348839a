#!/usr/bin/python3
"""Selects files in PCManFM's icon view through the accessibility bus, as a user would.

select-files.py NAME...   waits (up to 20 s) for PCManFM's active window to show every
                          NAME, selects exactly those items and prints "ready".
"""
import sys
import time

import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402

# The interface getters this script uses are the ones every libatspi version offers.
warnings.simplefilter("ignore", DeprecationWarning)


def active_pcmanfm_window():
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        application = desktop.get_child_at_index(index)
        if application is None or application.get_name() != "pcmanfm":
            continue
        for window_index in range(application.get_child_count()):
            window = application.get_child_at_index(window_index)
            if window is not None and window.get_state_set().contains(Atspi.StateType.ACTIVE):
                return window
    return None


def find_icon_view(node, depth=0):
    if node.get_role() == Atspi.Role.LAYERED_PANE and node.get_selection_iface() is not None:
        return node
    if depth > 12:
        return None
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        found = child and find_icon_view(child, depth + 1)
        if found:
            return found
    return None


def item_name(item):
    text = item.get_text_iface()
    return text.get_text(0, -1) if text is not None else item.get_name()


def try_select(names):
    window = active_pcmanfm_window()
    view = window and find_icon_view(window)
    if view is None:
        return False
    items = {item_name(view.get_child_at_index(i)): i for i in range(view.get_child_count())}
    if not all(name in items for name in names):
        return False
    selection = view.get_selection_iface()
    selection.clear_selection()
    for name in names:
        selection.select_child(items[name])
    return selection.get_n_selected_children() == len(names)


def main():
    names = sys.argv[1:]
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        try:
            if try_select(names):
                print("ready", flush=True)
                return
        except gi.repository.GLib.Error:
            pass
        time.sleep(0.1)
    sys.exit("pcmanfm did not show " + ", ".join(names))


main()
