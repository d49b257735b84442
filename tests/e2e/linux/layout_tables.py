#!/usr/bin/env python3
"""The four shipped keyboard tables against the X layouts they are written
for: on a display of our own set with `setxkbmap` before the program starts,
quorvelce with that table receives every byte, 0 to 255, and the Tk
application in focus must get exactly the characters the table's list says,
AltGr ones included, in order, and nothing for the bytes that type nothing.
Where X's layout puts another character on a key than Windows' layout does
(the six AltGr keys of gb below), the table names the key, so X's character
arrives: those are counted apart and reported, not failed.
Run:  layout_tables.py --build build/linux [us gb fr de]
"""
import sys

import stage as stagelib  # puts tests/e2e, where common.py is, on sys.path
from common import (LAYOUTS, describe, fail_on, mismatch_text, mismatches,
                    read_layout_list, run_command, us_settings, wait_or_note, wait_until)
from stage import started

PORT = 1

# Windows' character -> what X's layout types on the same key and level.
KNOWN_DIFFERENCES = {
    "us": {},
    # AltGr with a, e, i, o, u and the key left of 1.
    "gb": {"á": "æ", "é": "e", "í": "→", "ó": "ø", "ú": "↓", "¦": "|"},
    "fr": {},
    "de": {},
}


def run_layout(build, layout):
    section, list_file = LAYOUTS[layout]
    entries = read_layout_list(list_file)
    by_byte = {e[0].encode("cp1252")[0]: e for e in entries}
    # Every byte once, in order, and a closing carriage return for what
    # follows the 13 inside the run.
    line = bytes(range(256)) + b"\r"
    expected = "".join(by_byte[b][0] for b in line if b in by_byte and by_byte[b][1] is not None)
    altgr = sum(1 for e in entries if e[2] == "altgr" and e[1] is not None)

    stage = stagelib.Stage(build, "layout-" + layout, layout=layout, tray=True)
    try:
        sink = stage.start_sink()
        program = stage.program("main", us_settings(PORT, keytable=section))
        port = stage.line(program, PORT)
        port.open()
        program.start()
        started(program, timeout=30)
        wait_until("LS3578 ready (port open)", lambda: program.holds(port.device), timeout=20)
        sink.focus()
        port.write(line)

        # Done when the closing Return has arrived after at least as many
        # characters as expected, and nothing more comes for a while (a
        # character too many included).
        def settled():
            events = sink.events()
            return (events and events[-1][0] == "Return" and len(sink.typed()) >= len(expected)
                    and sink.quiet_count(1.0) == len(events))

        problems = []
        wait_or_note("the closing Return", settled, problems, timeout=90)
        received = sink.typed()

        known = []
        for sent, got in mismatches(expected, received):
            # The same number of characters on both sides: one replaced run.
            if len(sent) == len(got) and all(
                    KNOWN_DIFFERENCES[layout].get(s) == g for s, g in zip(sent, got)):
                known += list(zip(sent, got))
                continue
            problems.append(mismatch_text(by_byte, sent, got))
        differing = sum(1 for s, g in zip(expected, received) if s != g) if len(
            expected) == len(received) else len(problems) + len(known)
        print("%s: %d bytes sent, %d characters expected (%d with AltGr), %d received, "
              "%d mismatches, %d of them known X/Windows differences" %
              (layout, len(line), len(expected), altgr, len(received), differing, len(known)))
        for s, g in known:
            print("  known difference: Windows %s, X %s" % (describe(s), describe(g)))
        fail_on(problems, "key sink log:\n" + sink.text(),
                "%d problems with the %s table" % (len(problems), layout))
        program.end()
    finally:
        stage.close()


if __name__ == "__main__":
    sys.exit(run_command(LAYOUTS, "build/linux", run_layout))
