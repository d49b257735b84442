#!/usr/bin/env python3
"""A GTK 3 text view as a receiver of typed text (GDK_BACKEND=wayland under
sway, for wayland.py): the whole text goes to FILE after each change, and
FILE is made empty once the window has the keyboard focus.
Run:  gtk_receiver.py FILE
"""
import os
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402

PATH = sys.argv[1]


def save(text):
    with open(PATH + ".new", "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(PATH + ".new", PATH)


window = Gtk.Window(title="receiver")
window.set_default_size(600, 400)
view = Gtk.TextView()
window.add(view)
buffer = view.get_buffer()
buffer.connect("changed", lambda b: save(b.get_text(b.get_start_iter(), b.get_end_iter(), True)))
view.connect("focus-in-event", lambda *_: save("") if not os.path.exists(PATH) else None)
window.connect("destroy", Gtk.main_quit)
window.show_all()
view.grab_focus()
Gtk.main()
