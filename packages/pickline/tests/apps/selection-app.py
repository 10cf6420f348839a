#!/usr/bin/python3
"""A small GTK window that shows a known selection for pickline's tests.

selection-app.py entry TEXT START END     a focused entry with characters START..END selected
selection-app.py textview TEXT START END  the same in a focused text view
selection-app.py none TEXT                a focused entry holding TEXT with nothing selected

Prints "ready" once the window is active and the selection is in place, then runs
until it is killed or its standard input closes.
"""
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402


def build(window, mode, arguments):
    """Adds the widgets for the mode; returns (widget to focus, function that applies the selection)."""
    if mode in ("entry", "none"):
        entry = Gtk.Entry()
        entry.set_text(arguments[0])
        window.add(entry)
        if mode == "none":
            # An entry selects everything when it gains focus; put a bare cursor back.
            return entry, lambda: entry.select_region(0, 0)
        start, end = int(arguments[1]), int(arguments[2])
        return entry, lambda: entry.select_region(start, end)
    if mode == "textview":
        view = Gtk.TextView()
        buffer = view.get_buffer()
        buffer.set_text(arguments[0])
        window.add(view)
        start, end = int(arguments[1]), int(arguments[2])
        return view, lambda: buffer.select_range(buffer.get_iter_at_offset(start), buffer.get_iter_at_offset(end))
    raise SystemExit("unknown mode " + mode)


def main():
    mode, arguments = sys.argv[1], sys.argv[2:]
    window = Gtk.Window(title="pickline test " + mode)
    window.set_default_size(400, 200)
    window.connect("destroy", Gtk.main_quit)
    focus, select = build(window, mode, arguments)
    window.show_all()
    window.present()

    def settle():
        if not window.is_active():
            return True
        if not focus.has_focus():
            focus.grab_focus()
            return True
        select()
        print("ready", flush=True)
        return False

    GLib.timeout_add(20, settle)
    GLib.io_add_watch(sys.stdin.fileno(), GLib.PRIORITY_DEFAULT, GLib.IO_HUP | GLib.IO_IN, lambda *_: Gtk.main_quit())
    Gtk.main()


main()
