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
import argparse
import difflib
import importlib.util
import os
import sys

import stage as stagelib
from stage import Failure, started, us_settings, wait_until

# The lists and their reading are the Wine tests' own.
_spec = importlib.util.spec_from_file_location(
    "wine_layout_tests", os.path.join(stagelib.E2E, "layout_tests.py"))
wine_layouts = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(wine_layouts)
LAYOUTS, describe = wine_layouts.LAYOUTS, wine_layouts.describe
entry_text, read_layout_list = wine_layouts.entry_text, wine_layouts.read_layout_list

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
        started(program)
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
        try:
            wait_until("the closing Return", settled, timeout=90)
        except Failure as e:
            problems.append(str(e))
        received = sink.typed()

        known = []
        matcher = difflib.SequenceMatcher(None, expected, received, autojunk=False)
        for op, e1, e2, r1, r2 in matcher.get_opcodes():
            if op == "equal":
                continue
            sent, got = expected[e1:e2], received[r1:r2]
            if op == "replace" and len(sent) == len(got) and all(
                    KNOWN_DIFFERENCES[layout].get(s) == g for s, g in zip(sent, got)):
                known += list(zip(sent, got))
                continue
            problems.append("sent %s; received %s" % (
                ", ".join(entry_text(by_byte[c.encode("cp1252")[0]]) for c in sent) or "nothing",
                ", ".join(describe(c) for c in got) or "nothing"))
        mismatches = sum(1 for s, g in zip(expected, received) if s != g) if len(
            expected) == len(received) else len(problems) + len(known)
        print("%s: %d bytes sent, %d characters expected (%d with AltGr), %d received, "
              "%d mismatches, %d of them known X/Windows differences" %
              (layout, len(line), len(expected), altgr, len(received), mismatches, len(known)))
        for s, g in known:
            print("  known difference: Windows %s, X %s" % (describe(s), describe(g)))
        for problem in problems:
            print("  " + problem)
        if problems:
            print("key sink log:\n" + sink.text())
            raise Failure("%d problems with the %s table" % (len(problems), layout))
        program.end()
    finally:
        stage.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/linux")
    parser.add_argument("layouts", nargs="*", default=list(LAYOUTS))
    args = parser.parse_args()
    failed = 0
    for layout in args.layouts:
        try:
            run_layout(args.build, layout)
            print("PASS", layout)
        except Failure as e:
            failed += 1
            print("FAIL %s: %s" % (layout, e))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
