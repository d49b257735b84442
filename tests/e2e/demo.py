#!/usr/bin/env python3
"""The program's main job, shown for real: QuorvelCE.exe under Wine with a
serial line, a focused window receiving what is scanned, a screenshot of the
dialog, and the end through the tray icon's quit.
  demo.py                      a virtual scanner on a pty plays a few scans
  demo.py --device /dev/ttyUSB0 [--seconds 60]
                               a real serial device is linked as the port and
                               whatever is scanned within the time is shown
"""
import argparse
import os
import sys
import time

import harness
from common import Failure, us_settings, wait_until
from harness import IDC_START_STOP, started

SCANS = [b"QUORVEL-0001\r", b"4006381333931\r", b"Hello, World! 42#"]


def shown(stage):
    d = stage.dialog()
    return d if d and d["visible"] else None


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/windows")
    parser.add_argument("--port", type=int, default=3)
    parser.add_argument("--device", help="a real serial device to use instead of the virtual scanner")
    parser.add_argument("--seconds", type=int, default=60, help="how long to wait for real scans")
    parser.add_argument("--out", default=None, help="folder for the screenshots")
    args = parser.parse_args()
    out = os.path.abspath(args.out or os.path.join(args.build, "run"))
    os.makedirs(out, exist_ok=True)

    stage = harness.Stage(args.build, "run")
    link = os.path.join(harness.vserial.dosdevices(), "com%d" % args.port)
    try:
        if args.device:
            if os.path.lexists(link):
                os.unlink(link)
            os.symlink(os.path.realpath(args.device), link)
            print("COM%d: is %s" % (args.port, args.device))
        else:
            stage.plug(args.port)
            print("COM%d: is a virtual scanner (pty)" % args.port)
        stage.start_sink()
        program = stage.program("QuorvelCE", us_settings(args.port)).start()
        print("QuorvelCE.exe started from %s" % program.folder)
        started(stage, program, timeout=30)
        print("dialog: auto-started and hidden in the tray")
        if not args.device:
            wait_until("the port to be opened", lambda: stage.port_held(args.port), timeout=20)
            print("LS3578 ready after %.2f s" % (time.monotonic() - program.started_at))
            expected = ""
            for scan in SCANS:
                stage.scan(args.port, scan)
                expected += scan.decode("ascii")
                stage.wait_typed(expected, timeout=20)
                print("scanned %-22r -> the focused window received %r" %
                      (scan.decode("ascii"), expected[len(expected) - len(scan):]))
        else:
            print("scan now: waiting %d s for what the scanner sends..." % args.seconds)
            time.sleep(args.seconds)
            print("the focused window received %r" % stage.typed())

        stage.drive("tray", "left")
        dialog = wait_until("the dialog shown", lambda: shown(stage), timeout=20)
        time.sleep(0.5)
        running = stage.screenshot(os.path.join(out, "dialog-started.png"), dialog["rect"])
        stage.drive("click", IDC_START_STOP)
        wait_until("the settings", lambda: (lambda d: d and d["caption"] == "QuorvelCE - Stopped"
                                            and d)(stage.dialog()), timeout=20)
        time.sleep(0.5)
        settings = stage.screenshot(os.path.join(out, "dialog-settings.png"), dialog["rect"])
        print("screenshot of the dialog: %s" % running)
        print("screenshot of its settings: %s" % settings)

        stage.drive("tray", "right")
        wait_until("the program to end", lambda: not program.running(), timeout=20)
        print("ended through the tray icon's quit; tray icons left: %d" % stage.tray_icons())
        return 0
    except Failure as e:
        print("run failed: %s" % e)
        return 1
    finally:
        if args.device and os.path.islink(link):
            os.unlink(link)
        stage.close()


if __name__ == "__main__":
    sys.exit(main())
