#!/usr/bin/python3
"""Selects items in a file manager's folder view, as a user would.

select-items.py APPLICATION NAME...   waits (up to 35 s) for APPLICATION's active window to
                                      show every NAME, selects exactly those items and prints
                                      "ready".

Views that take a selection over the accessibility bus get it that way; Thunar's list view
and Dolphin's view are driven with the keyboard (the NAMEs must be neighbours in the view).
"""
import subprocess
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

warnings.simplefilter("ignore", DeprecationWarning)


def text_of(element):
    text = element.get_text_iface()
    return text.get_text(0, text.get_character_count()) if text is not None else ""


# Per application: how to recognise its folder view, how an item is named, which items the
# view lists, and the key that moves to the next item (None: select over the bus).
def nautilus_item(cell):
    return cell.get_child_at_index(0).get_name()


def thunar_item(cell):
    if cell.get_child_count() == 0:
        return None
    return next((text_of(part) for part in (cell.get_child_at_index(i) for i in range(cell.get_child_count()))
                 if text_of(part)), None)


VIEWS = {
    "org.gnome.Nautilus": (lambda e: e.get_role() == Atspi.Role.TABLE and e.get_selection_iface(), nautilus_item, None),
    "dolphin": (lambda e: e.get_role() == Atspi.Role.TABLE, lambda cell: cell.get_name(), "Right"),
    "Thunar": (lambda e: e.get_role() == Atspi.Role.TABLE and e.get_parent().get_role() == Atspi.Role.DIRECTORY_PANE,
               thunar_item, "Down"),
    "nemo": (lambda e: e.get_role() == Atspi.Role.LAYERED_PANE and e.get_selection_iface(), lambda i: i.get_name(), None),
    "caja": (lambda e: e.get_role() == Atspi.Role.LAYERED_PANE and e.get_selection_iface(), lambda i: i.get_name(), None),
    "pcmanfm": (lambda e: e.get_role() == Atspi.Role.LAYERED_PANE and e.get_selection_iface(), text_of, None),
}
VIEWS["thunar"] = VIEWS["Thunar"]


def active_window(application_name):
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        application = desktop.get_child_at_index(index)
        if application is None or application.get_name() != application_name:
            continue
        for window_index in range(application.get_child_count()):
            window = application.get_child_at_index(window_index)
            if window is not None and window.get_state_set().contains(Atspi.StateType.ACTIVE):
                return window
    return None


def find(node, accepts, depth=0):
    if accepts(node):
        return node
    if depth > 30 or not node.get_state_set().contains(Atspi.StateType.VISIBLE):
        return None
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        found = child and find(child, accepts, depth + 1)
        if found:
            return found
    return None


def items(view, name_of):
    """(index, name, selected) of the view's items."""
    listed = []
    for index in range(view.get_child_count()):
        child = view.get_child_at_index(index)
        name = child and name_of(child)
        if name:
            listed.append((index, name, child.get_state_set().contains(Atspi.StateType.SELECTED)))
    return listed


def selected_names(view, name_of):
    selection = view.get_selection_iface()
    if selection is None:
        return {name for _, name, selected in items(view, name_of) if selected}
    chosen = (selection.get_selected_child(i) for i in range(selection.get_n_selected_children()))
    return {name for name in (name_of(child) for child in chosen) if name}


def press(*keys):
    subprocess.run(["xdotool", "key", *keys], check=True)
    time.sleep(0.15)


def select_by_keyboard(view, name_of, next_key, wanted):
    ordered = [name for _, name, _ in items(view, name_of) if name in wanted]
    press("Home")
    for _ in range(50):
        if selected_names(view, name_of) == {ordered[0]}:
            break
        press(next_key)
    for _ in range(len(ordered)):
        if selected_names(view, name_of) == wanted:
            return True
        press("shift+" + next_key)
    return selected_names(view, name_of) == wanted


def try_select(application_name, wanted):
    window = active_window(application_name)
    is_view, name_of, next_key = VIEWS[application_name]
    view = window and find(window, is_view)
    if view is None and window is not None and application_name.lower() == "thunar":
        press("ctrl+2")  # Thunar's list view, the only one that lists its items on the bus
    if view is None:
        return False
    listed = items(view, name_of)
    if not wanted <= {name for _, name, _ in listed}:
        return False
    if next_key is not None:
        return select_by_keyboard(view, name_of, next_key, wanted)
    selection = view.get_selection_iface()
    selection.clear_selection()
    for index, name, _ in listed:
        if name in wanted:
            selection.select_child(index)
    return selected_names(view, name_of) == wanted


def main():
    application_name, wanted = sys.argv[1], set(sys.argv[2:])
    deadline = time.monotonic() + 35
    while time.monotonic() < deadline:
        try:
            if try_select(application_name, wanted):
                print("ready", flush=True)
                return
        except GLib.Error:
            pass
        time.sleep(0.1)
    sys.exit(application_name + " did not show " + ", ".join(sorted(wanted)))


main()
