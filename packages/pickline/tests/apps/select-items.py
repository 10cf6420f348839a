#!/usr/bin/python3
"""select-items.py APPLICATION NAME...: waits (up to 35 s) for APPLICATION's active window
to show every NAME, selects exactly those items and prints "ready". Views with a working
Selection interface are selected over the bus; Thunar's list view and Dolphin's view with
the keyboard, as a user would (the NAMEs must be neighbours there): on X11 through xdotool,
on Wayland through a remote-desktop session of the compositor (mutter)."""
import functools
import os
import subprocess
import sys
import time
import warnings

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, Gio, GLib  # noqa: E402

warnings.simplefilter("ignore", DeprecationWarning)
Role, State = Atspi.Role, Atspi.StateType


def text_of(element):
    text = element.get_text_iface()
    return text.get_text(0, text.get_character_count()) if text is not None else ""


def thunar_item(cell):  # a row's first cell holds the name cell
    parts = [cell.get_child_at_index(i) for i in range(cell.get_child_count())]
    return next((text_of(part) for part in parts if text_of(part)), None)


def has_selection(element):
    return element.get_selection_iface() is not None


# Per application: its folder view, an item's name, and the key to the next item (None:
# select over the bus).
VIEWS = {
    "org.gnome.Nautilus": (lambda e: e.get_role() == Role.TABLE and has_selection(e),
                           lambda cell: cell.get_child_at_index(0).get_name(), None),
    "dolphin": (lambda e: e.get_role() == Role.TABLE, lambda cell: cell.get_name(), "Right"),
    "thunar": (lambda e: e.get_role() == Role.TABLE and e.get_parent().get_role() == Role.DIRECTORY_PANE,
               thunar_item, "Down"),
    "nemo": (lambda e: e.get_role() == Role.LAYERED_PANE and has_selection(e), lambda i: i.get_name(), None),
    "caja": (lambda e: e.get_role() == Role.LAYERED_PANE and has_selection(e), lambda i: i.get_name(), None),
    "pcmanfm": (lambda e: e.get_role() == Role.LAYERED_PANE and has_selection(e), text_of, None),
}


def active_window(application_name):
    desktop = Atspi.get_desktop(0)
    for application in (desktop.get_child_at_index(i) for i in range(desktop.get_child_count())):
        if application is not None and application.get_name().lower() == application_name.lower():
            for window in (application.get_child_at_index(i) for i in range(application.get_child_count())):
                if window is not None and window.get_state_set().contains(State.ACTIVE):
                    return window
    return None


def find(node, accepts, depth=0):
    if accepts(node):
        return node
    if depth > 30 or not node.get_state_set().contains(State.VISIBLE):
        return None
    for child in (node.get_child_at_index(i) for i in range(node.get_child_count())):
        found = child and find(child, accepts, depth + 1)
        if found:
            return found
    return None


def items(view, name_of):
    """(index, name, element) of the view's items, in view order."""
    children = ((i, view.get_child_at_index(i)) for i in range(view.get_child_count()))
    return [(i, name_of(child), child) for i, child in children if child and name_of(child)]


def selected_names(view, name_of):
    selection = view.get_selection_iface()
    if selection is None:
        return {name for _, name, item in items(view, name_of) if item.get_state_set().contains(State.SELECTED)}
    chosen = (selection.get_selected_child(i) for i in range(selection.get_n_selected_children()))
    return {name for name in map(name_of, chosen) if name}


KEYSYMS = {"ctrl": 0xFFE3, "shift": 0xFFE1, "Home": 0xFF50, "Right": 0xFF53, "Down": 0xFF54, "2": 0x32}


@functools.cache
def remote_desktop_session():
    """notify(keysym, pressed) on a remote-desktop session of mutter, kept for this process."""
    bus = Gio.bus_get_sync(Gio.BusType.SESSION)

    def call(path, interface, method, arguments=None):
        return bus.call_sync("org.gnome.Mutter.RemoteDesktop", path, interface, method, arguments, None,
                             Gio.DBusCallFlags.NONE, 5000, None)

    session = call("/org/gnome/Mutter/RemoteDesktop", "org.gnome.Mutter.RemoteDesktop", "CreateSession").unpack()[0]
    call(session, "org.gnome.Mutter.RemoteDesktop.Session", "Start")
    return lambda keysym, pressed: call(session, "org.gnome.Mutter.RemoteDesktop.Session", "NotifyKeyboardKeysym",
                                        GLib.Variant("(ub)", (keysym, pressed)))


def press(*keys):  # xdotool's names: "Home", "shift+Down"
    if "DISPLAY" in os.environ:
        subprocess.run(["xdotool", "key", *keys], check=True)
    else:
        notify = remote_desktop_session()
        for key in keys:
            chord = [KEYSYMS[name] for name in key.split("+")]
            for keysym in chord:
                notify(keysym, True)
            for keysym in reversed(chord):
                notify(keysym, False)
    time.sleep(0.15)


def try_select(application_name, wanted):
    window = active_window(application_name)
    is_view, name_of, next_key = VIEWS[application_name]
    view = window and find(window, is_view)
    if view is None and window is not None and application_name == "thunar":
        press("ctrl+2")  # the list view, the only one of Thunar's views that lists its items
    if view is None:
        return False
    listed = [(index, name) for index, name, _ in items(view, name_of) if name in wanted]
    if len(listed) != len(wanted):
        return False
    if next_key is None:
        selection = view.get_selection_iface()
        selection.clear_selection()
        for index, _ in listed:
            selection.select_child(index)
    else:
        press("Home")
        for _ in range(50):
            if selected_names(view, name_of) == {listed[0][1]}:
                break
            press(next_key)
        for _ in range(len(listed) - 1):
            press("shift+" + next_key)
    return selected_names(view, name_of) == wanted


def main():
    application_name, wanted = sys.argv[1], set(sys.argv[2:])
    deadline = time.monotonic() + 35
    while time.monotonic() < deadline:
        try:
            if try_select(application_name, wanted):
                print("ready", flush=True)
                return
        except (GLib.Error, AttributeError):  # the view changed while it was read
            pass
        time.sleep(0.1)
    sys.exit(application_name + " did not show " + ", ".join(sorted(wanted)))


main()
