#!/usr/bin/env python3
"""The run command on Linux: quorvelce doing its job for real. On a virtual
display with a tray host, a virtual scanner on a pty plays a few scans into a
Tk application in focus; the command prints what arrived, saves screenshots
of the dialog and of the tray, and ends the program through the tray icon's
quit. With --device, a real scanner's serial device on the current display.
  demo.py [--build build/linux]
  demo.py --device /dev/ttyACM0 [--port 1] [--seconds 60]
"""
import argparse
import os
import sys
import time

import stage as stagelib  # puts tests/e2e, where common.py is, on sys.path
from common import Failure, us_settings, wait_until
from stage import START_STOP, started

SCANS = [b"QUORVEL-0001\r", b"4006381333931\r", b"Hello, World! 42#"]


def virtual_scanner(st, args, out):
    sink = st.start_sink()
    program = st.program("QuorvelCE", us_settings(args.port))
    line = st.line(program, args.port)
    line.open()
    print("COM%d: a virtual scanner on %s (ports/com%d beside the settings file)" %
          (args.port, line.device, args.port))
    program.start()
    print("quorvelce started from %s on display %s" % (program.folder, st.display.name))
    dialog = started(program, timeout=30)
    print("dialog: auto-started and hidden in the tray")
    wait_until("LS3578 ready (port open)", lambda: program.holds(line.device), timeout=20)
    print("LS3578 ready after %.2f s" % (time.monotonic() - program.started_at))
    icon = wait_until("the tray icon", program.tray_icon, timeout=10)
    slot = st.display.tray_slot(icon)

    sink.focus()
    expected = ""
    for scan in SCANS:
        line.write(scan)
        expected += scan.decode("ascii")
        sink.wait_typed(expected, timeout=20)
        print("scanned %-22r -> the Tk application received %r" %
              (scan.decode("ascii"), expected[len(expected) - len(scan):]))

    x, y, w, h = st.display.geometry(icon)
    tray = st.display.screenshot(os.path.join(out, "tray.png"),
                                 (x - 40, y - 8, w + 48, h + 16))
    st.display.click(icon, 8, 8)
    wait_until("the dialog shown", lambda: st.display.mapped(dialog), timeout=10)
    time.sleep(0.5)
    running = st.display.screenshot(os.path.join(out, "dialog-started.png"),
                                    st.display.geometry(dialog))
    program.press(dialog, START_STOP)
    wait_until("the settings", lambda: program.caption(dialog) == "QuorvelCE - Stopped",
               timeout=10)
    time.sleep(0.5)
    settings = st.display.screenshot(os.path.join(out, "dialog-settings.png"),
                                     st.display.geometry(dialog))
    screen = st.display.screenshot(os.path.join(out, "screen.png"))
    for path in (tray, running, settings, screen):
        print("screenshot: %s" % path)

    st.display.click(icon, 8, 8, button=3)
    wait_until("the program to end", lambda: not program.running(), timeout=10)
    try:
        wait_until("the tray emptied", lambda: st.display.tray_gone(slot), timeout=5)
        left = "none"
    except Failure:
        left = "still there"
    print("ended through the tray icon's quit (exit status %d); icon in the tray: %s" %
          (program.process.returncode, left))


def real_device(st, args):
    sink = st.start_sink()
    program = st.program("QuorvelCE", us_settings(args.port))
    link = os.path.join(program.folder, "ports", "com%d" % args.port)
    os.makedirs(os.path.dirname(link), exist_ok=True)
    os.symlink(os.path.realpath(args.device), link)
    print("COM%d: %s" % (args.port, args.device))
    program.start()
    started(program, timeout=30)
    print("quorvelce started from %s; scan now: waiting %d s..." % (program.folder, args.seconds))
    sink.focus()
    time.sleep(args.seconds)
    print("the Tk application received %r" % sink.typed())
    status = program.end()
    print("ended (as the tray quit does) with exit status %s" % status)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/linux")
    parser.add_argument("--port", type=int, default=1)
    parser.add_argument("--device", help="a real serial device instead of the virtual scanner")
    parser.add_argument("--seconds", type=int, default=60, help="how long to wait for real scans")
    parser.add_argument("--out", default=None, help="folder for the screenshots")
    args = parser.parse_args()
    out = os.path.abspath(args.out or os.path.join(args.build, "run"))
    os.makedirs(out, exist_ok=True)
    if args.device and not os.environ.get("DISPLAY"):
        print("run: --device shows the program on the current display; DISPLAY is not set")
        return 2
    st = None
    try:
        st = stagelib.Stage(args.build, "run",
                            existing_display=os.environ["DISPLAY"] if args.device else None)
        if args.device:
            real_device(st, args)
        else:
            virtual_scanner(st, args, out)
        return 0
    except Failure as e:
        print("run failed: %s" % e)
        return 1
    finally:
        if st:
            st.close()


if __name__ == "__main__":
    sys.exit(main())
