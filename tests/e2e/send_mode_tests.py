#!/usr/bin/env python3
"""SEND_MODE under Wine, into Wine's Notepad on a display set to an X layout:
UNICODE must type every printable Windows-1252 character (Wine delivers
characters sent as themselves whatever the layout), SCANCODES every printable
ASCII character on us. Wine 8 types a KEYEVENTF_SCANCODE input by the virtual
key it carries beside the code and ignores the code (an A key's code with the
B key types b, and with no key nothing), so here SCANCODES shows that its
inputs are taken and typed; the codes themselves are checked on the simulated
platform. Both with "Active keyboard layout", in lines of 40. The elevated-window check runs too:
Wine gives every process the same integrity level, so it must let every line
through.
Run:  send_mode_tests.py --build build/windows unicode_us unicode_fr unicode_de scancodes_us
"""
import sys
import time

import harness
from active_layout_tests import (ACTIVE, PORT, differences, in_lines, printable_bytes,
                                 set_display_layout)
from common import Failure, fail_on, run_command, us_settings, wait_until
from harness import started

CASES = ["unicode_us", "unicode_fr", "unicode_de", "scancodes_us"]


def run_case(build, case):
    mode, layout = case.split("_")
    xvfb = set_display_layout(layout)
    with harness.layout_stage(build, xvfb, "send-mode-wineprefix", "send-mode-" + case) as stage:
        stage.plug(PORT)
        stage.start_notepad()
        settings = us_settings(PORT, keytable=ACTIVE,
                               extra_general="SEND_MODE = %s\n" % mode.upper())
        program = stage.program("main", settings).start()
        started(stage, program, timeout=30)
        wait_until("the port to be opened", lambda: stage.port_held(PORT), timeout=20)
        # The dialog had the focus a moment; the user clicks back into Notepad.
        stage.focus_notepad()
        sent = [b for b in printable_bytes() if mode == "unicode" or b < 0x80]
        data, expected = in_lines(sent, "\r\n")  # an Enter in Notepad is CR LF
        stage.scan(PORT, data)
        try:
            wait_until("%d characters" % len(expected),
                       lambda: len(stage.notepad_text() or "") >= len(expected), timeout=120)
        except Failure:
            pass
        time.sleep(0.5)  # a character too many would show now
        received = stage.notepad_text() or ""
        problems = differences(expected, received)
        boxes = stage.message_boxes()
        if boxes:
            problems.append("message boxes: %r" % boxes)
        print("%-12s sent %3d characters, Notepad holds %3d, mismatches %d" %
              (case, len(sent), len(received.replace("\r\n", "")), len(problems)))
        fail_on(problems, repr(received), "%d problems with SEND_MODE on %s" % (len(problems), case))


if __name__ == "__main__":
    sys.exit(run_command(CASES, "build/windows", run_case))
