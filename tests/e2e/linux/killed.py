#!/usr/bin/env python3
"""quorvelce killed (SIGKILL) in the middle of a line, three times over, then
started again: the user's keyboard is as it was before the killed run began.
The X keymap (`xmodmap -pke`: no spare key code left bound), the keys down on
the XTEST keyboard (`xinput query-state`) and Caps Lock (`xset q`), which was
on and is switched off while a line is typed; and the restarted program types
`ab` as `ab`.
Run:  killed.py --build build/linux
"""
import re
import sys
import time

import stage as stagelib  # puts tests/e2e, where common.py is, on sys.path
from common import Failure, run_command, us_settings, wait_until

PORT = 1
ACTIVE_LAYOUT = "Active keyboard layout"
# Capitals and others the us layout has no key for: each takes a spare code,
# the capitals with Shift held.
LINE = "ÀÉÈÊËÎÏÔÖÙÛÜÇÑÆŒ€£§µ" * 3


def keyboard_state(display):
    keymap = display.x("xmodmap", "-pke")
    held = re.findall(r"key\[(\d+)\]=down",
                      display.x("xinput", "query-state", "Virtual core XTEST keyboard"))
    caps = re.search(r"Caps Lock:\s+(on|off)", display.x("xset", "q"))
    return {"keymap": keymap, "held": held, "caps": caps.group(1) if caps else None}


def differences(before, now):
    out = []
    a, b = before["keymap"].splitlines(), now["keymap"].splitlines()
    changed = [y for x, y in zip(a, b) if x != y] + b[len(a):]
    if changed:
        out.append("%d key codes bound: %s" % (len(changed), "; ".join(changed[:4])))
    if now["held"] != before["held"]:
        out.append("keys down: %s" % " ".join(now["held"]))
    if now["caps"] != before["caps"]:
        out.append("Caps Lock %s" % now["caps"])
    return out


def run(build, kills):
    stage = stagelib.Stage(build, "killed", layout="us")
    try:
        sink = stage.start_sink()
        stage.display.x("xdotool", "key", "Caps_Lock")
        before = keyboard_state(stage.display)
        if before["caps"] != "on":
            raise Failure("Caps Lock did not come on: %r" % before["caps"])
        problems = []
        for n in range(kills + 1):
            program, port = stage.start_program("run%d" % n, us_settings(
                PORT, stroke_delay=20, keytable=ACTIVE_LAYOUT), PORT)
            sink.focus()
            # What the run found: as before the first killed run began.
            left = differences(before, keyboard_state(stage.display))
            print("run %d starts: %s" % (n, "; ".join(left) or "keyboard as before"))
            if left:
                problems.append("run %d found %s" % (n, "; ".join(left)))
            typed = len(sink.typed())
            if n == kills:
                port.write(b"ab\r")
                try:
                    sink.wait_typed(sink.typed()[:typed] + "ab\r", timeout=20)
                except Failure:
                    problems.append("typed %r for ab" % sink.typed()[typed:])
                program.end()
                break
            port.write(LINE.encode("cp1252") + b"\r")
            wait_until("the line under way", lambda: len(sink.typed()) >= typed + 12,
                       timeout=30)
            program.kill()
            time.sleep(0.3)
            print("killed run %d: %s" % (n, "; ".join(differences(
                before, keyboard_state(stage.display))) or "keyboard as before"))
        for problem in problems:
            print("  " + problem)
        if problems:
            raise Failure("%d problems" % len(problems))
    finally:
        stage.close()


if __name__ == "__main__":
    sys.exit(run_command(["three-kills"], "build/linux", lambda build, _: run(build, 3)))
