#!/usr/bin/python3
"""A Qt 5 window with a focused text editor holding TEXT with characters START..END selected.

qt5-selection.py TEXT START END   prints "ready" once the selection is in place, then runs
                                  until its standard input closes.
"""
import sys

from PyQt5.QtCore import QSocketNotifier, QTimer
from PyQt5.QtGui import QTextCursor
from PyQt5.QtWidgets import QApplication, QPlainTextEdit


def main():
    text, start, end = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    application = QApplication(["qt5-selection"])
    editor = QPlainTextEdit()
    editor.setWindowTitle("pickline test qt5")
    editor.setPlainText(text)
    editor.show()
    editor.activateWindow()

    def settle():
        if not editor.isActiveWindow() or not editor.hasFocus():
            editor.activateWindow()
            editor.setFocus()
            return
        cursor = editor.textCursor()
        cursor.setPosition(start)
        cursor.setPosition(end, QTextCursor.KeepAnchor)
        editor.setTextCursor(cursor)
        timer.stop()
        print("ready", flush=True)

    timer = QTimer()
    timer.timeout.connect(settle)
    timer.start(50)
    closed = QSocketNotifier(sys.stdin.fileno(), QSocketNotifier.Read)
    closed.activated.connect(application.quit)
    application.exec_()


main()
