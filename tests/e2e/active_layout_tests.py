#!/usr/bin/env python3
""""Active keyboard layout" under Wine: on a display of our own set to an X
layout, the real QuorvelCE.exe receives every printable Windows-1252 byte in
lines, and the focused window must get exactly those characters. How each one
is typed (one key, a dead key and a key, or the character itself) is taken
from `quorvel-ini show FILE "Active keyboard layout"` run on the same display.
Wine cannot make AltGr from injected keys, so characters planned with AltGr
are counted apart and left out of the comparison; characters the layout lacks
must arrive through the character itself. The caps_lock case turns Caps Lock
on with a real X key press and checks a table line and a layout line: the
scan is exact and Caps Lock is still on afterwards.
Run:  active_layout_tests.py --build build/windows us fr de ... | caps_lock
"""
import os
import re
import subprocess
import sys
import time

import harness
from common import Failure, fail_on, mismatches, run_command, us_settings, wait_until
from harness import started
from layout_tests import vk_scan

PORT = 5
ACTIVE = "Active keyboard layout"
LAYOUTS = ["us", "gb", "fr", "de", "es", "it", "ch", "se", "pt", "br", "pl", "us(dvorak)"]
# The keys the program presses around others, and the one that carries a
# character sent as itself.
MODIFIER_KEYS = (0x10, 0x11, 0x12, 0x14, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5)
VK_PACKET = 0xE7


def printable_bytes():
    """Every byte Windows-1252 gives a printable character, space included."""
    result = []
    for b in range(0x20, 0x100):
        if b == 0x7F:
            continue
        try:
            bytes([b]).decode("cp1252")
        except UnicodeDecodeError:
            continue
        result.append(b)
    return result


def in_lines(sent, line_end):
    """The scan data for `sent` bytes in lines of 40, each ended by CR, and
    the text the receiver must then hold (`line_end` for each CR)."""
    data = bytearray()
    expected = ""
    for i, b in enumerate(sent):
        data.append(b)
        expected += bytes([b]).decode("cp1252")
        if i % 40 == 39:
            data += b"\r"
            expected += line_end
    data += b"\r"
    expected += line_end
    return bytes(data), expected


def set_display_layout(layout):
    """A display of our own with the X layout `layout` (a name such as
    "us(dvorak)" is layout and variant)."""
    m = re.match(r"^(\w+)(?:\((\w+)\))?$", layout)
    base, variant = m.group(1), m.group(2)
    xvfb = harness.keyboard_layout_display(base)
    if variant:
        try:
            subprocess.run(["setxkbmap", base, "-variant", variant], check=True, timeout=30)
        except BaseException:
            xvfb.close()
            raise
    return xvfb


def plans(stage, folder):
    """{byte: (kind, description)} from quorvel-ini show on the stage's display."""
    tool = os.path.join(stage.build, "tools", "quorvel-ini.exe")
    ini = os.path.join(folder, "QuorvelCE.INI")
    out = subprocess.run([harness.wine(), tool, "show", harness.windows_path(ini), ACTIVE],
                         stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=True,
                         timeout=120).stdout.decode("utf-8", "replace")
    result = {}
    for line in out.splitlines():
        m = re.match(r"^\s*(\d+) 0x[0-9A-F]{2} .*?\s((?:VK_|0x|dead key|the character).*)$", line)
        if not m:
            continue
        how = m.group(2)
        if how.startswith("dead key"):
            kind = "dead"
        elif how.startswith("the character"):
            kind = "itself"
        elif "AltGr" in how:
            kind = "altgr"
        else:
            kind = "direct"
        result[int(m.group(1))] = (kind, how)
    return result, out


def run_lines(stage, program_name, settings, data, expected, timeout=90):
    """Starts the program, plays `data` through the pty and waits until the
    sink has the expected number of characters, or the time is up."""
    program = stage.program(program_name, settings).start()
    started(stage, program, timeout=30)
    wait_until("the port to be opened", lambda: stage.port_held(PORT), timeout=20)
    stage.scan(PORT, data)
    try:
        wait_until("%d characters" % len(expected),
                   lambda: len(stage.typed()) >= len(expected), timeout=timeout)
    except Failure:
        pass
    time.sleep(0.5)  # a character too many would show now
    return program, stage.typed()


def differences(expected, received):
    return ["sent %r, received %r" % pair for pair in mismatches(expected, received)]


def run_layout(build, layout):
    xvfb = set_display_layout(layout)
    with harness.layout_stage(build, xvfb, "active-layout-wineprefix",
                              "active-" + re.sub(r"\W", "_", layout)) as stage:
        stage.plug(PORT)
        stage.start_sink()
        settings = us_settings(PORT, keytable=ACTIVE)
        probe = stage.program("probe", settings)
        planned, shown = plans(stage, probe.folder)

        sent = printable_bytes()
        altgr = [b for b in sent if planned.get(b, ("?",))[0] == "altgr"]
        played = [b for b in sent if b not in altgr]
        data, expected = in_lines(played, "\r")
        _, received = run_lines(stage, "main", settings, bytes(data), expected)
        problems = differences(expected, received)
        unplanned = [b for b in sent if b not in planned]
        if unplanned:
            problems.append("show names no way for bytes %s" % unplanned)
        # What arrived as a character of its own (VK_PACKET) must be what
        # the plans say goes as itself.
        packets = sum(1 for kind, key in stage.key_events() if kind == "KEYDOWN" and key == VK_PACKET)
        itself = sum(1 for b in played if planned.get(b, ("?",))[0] == "itself")
        if packets != itself:
            problems.append("%d characters arrived as themselves, %d planned so" % (packets, itself))
        counts = {k: sum(1 for b in sent if planned.get(b, ("?",))[0] == k)
                  for k in ("direct", "altgr", "dead", "itself")}
        # The ASCII characters Wine's VkKeyScanW puts on AltGr: Wine cannot
        # inject AltGr, and its ToUnicodeEx does not confirm them, so they
        # must have come as themselves.
        ascii_chars = [chr(b) for b in sent if b < 0x80]
        on_altgr = [c for c, v in vk_scan(stage, ascii_chars).items()
                    if v != 0xFFFF and (v >> 8) & 6 == 6]
        wrong = [c for c in on_altgr if planned.get(ord(c), ("?",))[0] != "itself"]
        if wrong:
            problems.append("AltGr characters not sent as themselves: %r" % wrong)
        missing = sum(1 for p in problems if p.startswith("sent"))
        print("%-11s sent %3d  directly %3d  AltGr (apart) %3d  dead key %3d  itself %3d "
              "(ASCII on AltGr %2d)  mismatches %d" %
              (layout, len(sent), counts["direct"], counts["altgr"], counts["dead"],
               counts["itself"], len(on_altgr), missing))
        fail_on(problems, shown, "%d problems on %s" % (len(problems), layout))


def caps_lock_state(stage):
    """Caps Lock in the focused application after the last key release."""
    states = [key for kind, key in stage.key_events() if kind == "CAPS"]
    return states[-1] if states else None


def press_caps_lock():
    """A real key press on the focused Wine window, as a user's."""
    subprocess.run(["xdotool", "search", "--name", "Quorvel Key Sink", "windowfocus", "key",
                    "Caps_Lock"], check=True, timeout=30)


def run_caps_lock(build):
    xvfb = set_display_layout("us")
    with harness.layout_stage(build, xvfb, "active-layout-wineprefix", "active-caps") as stage:
        stage.plug(PORT)
        # The sink also logs Caps Lock as its own thread sees it after every
        # key release: that is the state the focused application types with.
        stage.start_sink("--caps")
        problems = []
        line = "Scan Ab1-Zz\r"
        for name, table in (("table", "US English"), ("layout", ACTIVE)):
            # Under Wine a thread sees only the Caps Lock changes made after
            # it started, so the user turns it on while the program runs.
            if caps_lock_state(stage) == 1:
                press_caps_lock()
                wait_until("Caps Lock off", lambda: caps_lock_state(stage) == 0, timeout=20)
            program = stage.program(name, us_settings(PORT, keytable=table)).start()
            started(stage, program, timeout=30)
            wait_until("the port to be opened", lambda: stage.port_held(PORT), timeout=20)
            press_caps_lock()
            wait_until("Caps Lock on", lambda: caps_lock_state(stage) == 1, timeout=20)
            before = stage.typed()
            stage.scan(PORT, line.encode("cp1252"))
            try:
                wait_until("the line", lambda: len(stage.typed()) >= len(before + line), timeout=30)
            except Failure:
                pass
            time.sleep(1)  # the switch back on comes after the line's last key
            received = stage.typed()[len(before):]
            problems += ["%s: %s" % (name, p) for p in differences(line, received)]
            state = caps_lock_state(stage)
            print("caps_lock %-6s typed %r, Caps Lock afterwards %s" %
                  (name, received, "on" if state == 1 else "off"))
            if state != 1:
                problems.append("%s: Caps Lock is off after the line" % name)
            program.kill()
            wait_until("the port to be free", lambda: not stage.port_held(PORT), timeout=20)
        fail_on(problems, stage.sink_text(), "%d problems with Caps Lock" % len(problems))


def run(build, case):
    if case == "caps_lock":
        run_caps_lock(build)
    else:
        run_layout(build, case)


if __name__ == "__main__":
    sys.exit(run_command(LAYOUTS + ["caps_lock"], "build/windows", run))
