#!/usr/bin/env python3
"""A character no key code can type, on X with every key code taken (none
spare to bind it to): it is left out of its line, the rest of that line is
typed, and its box ("Erreur", shown by the dialog) stays up unanswered while
the next lines are typed into the Tk application exactly; a second such
character in the same run raises no second box.
Run:  left_out.py --build build/linux
"""
import re
import sys
import time

import stage as stagelib  # puts tests/e2e, where common.py is, on sys.path
from common import Failure, check, run_command, us_settings, wait_until

PORT = 1
ACTIVE_LAYOUT = "Active keyboard layout"


def fill_empty_key_codes(display):
    """Binds every key code that has no keysym, so none is spare."""
    empty = re.findall(r"^keycode\s+(\d+) =\s*$", display.x("xmodmap", "-pke"), re.M)
    command = ["xmodmap"]
    for code in empty:
        command += ["-e", "keycode %s = VoidSymbol" % code]
    display.x(*command, check=True)
    left = re.findall(r"^keycode\s+(\d+) =\s*$", display.x("xmodmap", "-pke"), re.M)
    check(empty and not left, "key codes still empty: %s" % " ".join(left))
    return len(empty)


def boxes(program):
    """The program's windows captioned as its error boxes."""
    return [w for w in program.windows() if program.caption(w) == "Erreur"]


def run(build):
    stage = stagelib.Stage(build, "left_out", layout="us")
    try:
        sink = stage.start_sink()
        print("bound %d empty key codes" % fill_empty_key_codes(stage.display))
        program, line = stage.start_program("main", us_settings(
            PORT, keytable=ACTIVE_LAYOUT), PORT)
        sink.focus()

        # The us layout has no key for the euro sign, and no code is spare.
        line.write("a€b\r".encode("cp1252"))
        so_far = sink.wait_typed("ab\r", timeout=20)
        box = wait_until("the box", lambda: boxes(program), timeout=10)[0]
        wait_until("the box shown", lambda: stage.display.mapped(box), timeout=10)
        # With no window manager the box takes the input focus: the user
        # clicks back into the application and goes on scanning.
        sink.focus()
        for scan in ("Suite 42\r", "x€y\r", "Fin\r"):
            check(stage.display.mapped(box), "the box went away before %r" % scan)
            line.write(scan.encode("cp1252"))
            so_far = sink.wait_typed(so_far + scan.replace("€", ""), timeout=10)
        # Past the dialog's next look at what was posted: the second euro
        # sign raised no box of its own, and the first is still unanswered.
        time.sleep(1.5)
        check(stage.display.mapped(box), "the box went away unanswered")
        check(boxes(program) == [box], "boxes: %r, expected only %s" % (boxes(program), box))
        check(sink.typed() == so_far, "typed %r, expected %r" % (sink.typed(), so_far))
        check(program.end() == 0, "exit status %r" % program.process.returncode)
    except Failure:
        if stage.sink:
            print("key sink log:\n" + stage.sink.text())
        for p in stage.programs:
            print("%s output:\n%s" % (p.folder, open(p.output, errors="replace").read()))
        raise
    finally:
        stage.close()


if __name__ == "__main__":
    sys.exit(run_command(["left-out"], "build/linux", lambda build, _: run(build)))
