#!/usr/bin/env python3
"""The X application that receives the scans in the Linux end-to-end tests:
a Tk window with a Text widget, as an ordinary desktop program would be, that
also logs every key press it gets: its keysym, the character Tk made of it and
when it arrived. One line per event in LOG:
  READY
  KEY <keysym> <code points of the characters in hex, joined by commas, or -> <time>
With MS, it spends that long on each key press and release, as a busy
application would, and so falls behind what is typed.
Usage: keysink.py LOG [MS]
"""
import sys
import time
import tkinter


def main():
    log = open(sys.argv[1], "w", encoding="utf-8", buffering=1)
    root = tkinter.Tk(className="QuorvelKeySink")
    root.title("QuorvelCE key sink")
    root.geometry("600x200+10+10")
    text = tkinter.Text(root, width=60, height=8)
    text.pack(fill="both", expand=True)

    busy = float(sys.argv[2]) / 1000 if len(sys.argv) > 2 else 0

    def pressed(event):
        chars = ",".join("%04X" % ord(c) for c in event.char) or "-"
        log.write("KEY %s %s %.6f\n" % (event.keysym, chars, time.time()))
        time.sleep(busy)

    # Bound on the class of all widgets ahead of the Text's own bindings,
    # so that every press is logged whatever the Text makes of it.
    text.bind("<KeyPress>", pressed, add="+")
    if busy:
        text.bind("<KeyRelease>", lambda event: time.sleep(busy), add="+")
    text.focus_set()

    def ready():
        root.update_idletasks()
        log.write("READY\n")

    root.after(100, ready)
    root.mainloop()


if __name__ == "__main__":
    main()
