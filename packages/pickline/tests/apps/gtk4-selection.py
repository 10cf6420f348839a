#!/usr/bin/python3
"""A GTK 4 window with a focused entry holding TEXT with characters START..END selected.

gtk4-selection.py TEXT START END   prints "ready" once the selection is in place, then runs
                                   until its standard input closes.
"""
import os
import subprocess
import sys

import gi

gi.require_version("Gtk", "4.0")
from gi.repository import GLib, Gtk  # noqa: E402


def main():
    text, start, end = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    application = Gtk.Application(application_id=None)

    def activate(app):
        window = Gtk.ApplicationWindow(application=app, title="pickline test gtk4")
        entry = Gtk.Entry(text=text)
        window.set_child(entry)
        window.present()

        def settle():
            focus = window.get_focus()
            if not window.is_active() or focus is None or not focus.is_ancestor(entry):
                entry.grab_focus()
                return True
            # The entry selects all of its text when it gains focus: select after that.
            entry.select_region(start, end)
            if tuple(entry.get_selection_bounds())[-2:] != (start, end):
                return True
            # GTK 4 tells the accessibility bus about focus and activation a moment later.
            checker = subprocess.Popen([sys.executable, os.path.join(os.path.dirname(__file__), "wait-on-bus.py"),
                                        str(os.getpid())])
            GLib.timeout_add(50, lambda: checker.poll() is None or print("ready", flush=True))
            return False

        GLib.timeout_add(50, settle)
        GLib.io_add_watch(sys.stdin.fileno(), GLib.PRIORITY_DEFAULT, GLib.IO_HUP | GLib.IO_IN, lambda *_: app.quit())

    application.connect("activate", activate)
    application.run([])


main()
