#!/usr/bin/env python3
"""End-to-end tests of quorvelce on Linux: the program as a user meets it,
under Xvfb with a tray host, a pty as the scanner's line and a Tk
application in focus. Each test is one program run that goes through several
cases in turn, so the program starts as few times as it can.
Run:  e2e_tests.py --build build/linux [session|cable]   (--list names them)
"""
import os
import sys
import time

import stage as stagelib  # puts tests/e2e, where common.py is, on sys.path
from common import Failure, TestSet, check, run_command, us_settings, wait_until
from stage import BAUDRATE, START_STOP, started

# Beyond the serial devices a machine has: without its ports/com9 link the
# port is missing rather than the machine's own first serial port (COM1 is
# the first device present when no link names it).
PORT = 9
TESTS = TestSet()
test = TESTS.test


def case(name):
    print("case:", name, flush=True)


def shown(program, dialog, visible=True):
    wait_until("the dialog %s" % ("shown" if visible else "hidden"),
               lambda: program.stage.display.mapped(dialog) == visible, timeout=10)


@test
def session(stage):
    """One program run: auto-start and hide; scans typed; line-wait; 100
    keys; tray left click toggles; the close button and Escape hide; Stop, new baud rate, Start saves; a
    second instance ends at once; tray right click quits leaving no icon."""
    display = stage.display
    sink = stage.start_sink()
    program = stage.program("main", us_settings(PORT))
    line = stage.line(program, PORT)
    line.open()
    program.start()

    case("auto-start and hide")
    dialog = started(program, timeout=30)
    wait_until("LS3578 ready (port open)", lambda: program.holds(line.device), timeout=20)
    print("port open %.2f s after launch" % (time.monotonic() - program.started_at))
    icon = wait_until("the tray icon", program.tray_icon, timeout=10)
    slot = display.tray_slot(icon)
    check(slot and not display.tray_gone(slot), "the icon is not in the tray host")

    case("a scan typed into the Tk application")
    sink.focus()
    line.write(b"Ab12-x\r")
    sink.wait_typed("Ab12-x\r", timeout=20)
    keysyms = [k for k, _, _ in sink.events()]
    check("Shift_L" in keysyms or "Shift_R" in keysyms, "no Shift for the capital: %r" % keysyms)
    check(keysyms[-1] == "Return", "the line did not end with Return: %r" % keysyms)

    case("line-wait: nothing typed before the carriage return")
    so_far = sink.typed()
    line.write(b"XYZ")
    sink.quiet_for(1.5, so_far)
    line.write(b"\r")
    so_far = sink.wait_typed(so_far + "XYZ\r", timeout=20)
    # A line feed does not end a line; "#" does.
    line.write(b"q\n")
    sink.quiet_for(1.0, so_far)
    line.write(b"#")
    so_far = sink.wait_typed(so_far + "q#", timeout=20)

    case("100 keys without a carriage return are typed")
    line.write(b"a" * 100)
    so_far = sink.wait_typed(so_far + "a" * 100, timeout=20)
    line.write(b"b")
    sink.quiet_for(1.0, so_far)
    line.write(b"\r")
    so_far = sink.wait_typed(so_far + "b\r", timeout=20)

    case("tray left click toggles the dialog")
    display.click(icon, 8, 8)
    shown(program, dialog, True)
    display.click(icon, 8, 8)
    shown(program, dialog, False)

    case("Stop, a new baud rate, Start saves it")
    before = program.settings_text()
    display.click(icon, 8, 8)
    shown(program, dialog, True)
    program.press(dialog, START_STOP)
    wait_until("Stopped", lambda: program.caption(dialog) == "QuorvelCE - Stopped", timeout=10)
    wait_until("the port released", lambda: not program.holds(line.device), timeout=10)
    check(program.settings_text() == before, "Stop changed the settings file")
    # The list holds the rates from the highest down: 19200 is two above 9600.
    program.press(dialog, BAUDRATE)
    time.sleep(0.5)
    display.x("xdotool", "key", "Up", "Up", "Return")
    time.sleep(0.3)
    program.press(dialog, START_STOP)
    wait_until("Started and hidden", lambda: program.caption(dialog) == "QuorvelCE - Started"
               and not display.mapped(dialog), timeout=10)
    check(program.general("BAUDRATE") == "19200",
          "BAUDRATE saved as %r" % program.general("BAUDRATE"))
    wait_until("the port opened again", lambda: program.holds(line.device), timeout=20)
    sink.focus()
    line.write(b"Go\r")
    so_far = sink.wait_typed(so_far + "Go\r", timeout=20)

    case("the close button and Escape hide the dialog; scans are still typed")
    for action, scan in (("close", "Closed\r"), ("escape", "Escaped\r")):
        display.click(icon, 8, 8)
        shown(program, dialog, True)
        if action == "close":
            display.close_window(dialog)
        else:
            display.focus(dialog)
            display.x("xdotool", "key", "Escape")
        shown(program, dialog, False)
        check(program.running(), "%s ended the program" % action)
        sink.focus()
        line.write(scan.encode())
        so_far = sink.wait_typed(so_far + scan, timeout=20)

    case("a second instance ends at once")
    icons = display.tray_icons()
    second = stage.program("second", us_settings(PORT)).start()
    wait_until("the second instance to end", lambda: not second.running(), timeout=20)
    print("second instance ended %.2f s after launch, status %s" %
          (time.monotonic() - second.started_at, second.process.returncode))
    check(program.running(), "the first instance ended too")
    # Its start-up runs to the end before it goes, tray icon included (as
    # on Windows), so the icon may flash; none of it stays.
    wait_until("the tray back to the first's icon", lambda: display.tray_icons() == icons,
               timeout=10)
    line.write(b"Still\r")
    so_far = sink.wait_typed(so_far + "Still\r", timeout=20)

    case("tray right click quits, leaving no icon")
    clicked = time.monotonic()
    display.click(icon, 8, 8, button=3)
    wait_until("the program to end", lambda: not program.running(), timeout=10, interval=0.005)
    took = time.monotonic() - clicked
    print("ended %.3f s after the right click, status %d" % (took, program.process.returncode))
    check(program.process.returncode == 0, "exit status %d" % program.process.returncode)
    wait_until("the icon and its place in the tray gone", lambda: display.tray_gone(slot),
               timeout=10)
    check(took < 5, "the right click took %.1f s to end the program" % took)


@test
def cable(stage):
    """One program run: the port missing at start, then the device appears;
    a pulled cable turns the tray icon to "not ready" and typing resumes on
    replug; SIGTERM ends the program cleanly."""
    display = stage.display
    sink = stage.start_sink()
    program = stage.program("main", us_settings(PORT)).start()
    line = stage.line(program, PORT)

    case("missing port, then the device appears")
    started(program, timeout=30)
    icon = wait_until("the tray icon", program.tray_icon, timeout=10)
    slot = display.tray_slot(icon)
    check(slot and not display.tray_gone(slot), "the icon is not in the tray host")
    not_ready = wait_until("the icon drawn", lambda: display.window_image(icon), timeout=10)
    time.sleep(1.5)
    check(program.running(), "the program ended without its port")
    check(len(program.windows()) and display.window_image(icon) == not_ready,
          "the icon changed with no port")
    line.open()
    wait_until("LS3578 ready (port open)", lambda: program.holds(line.device), timeout=20)
    ready = wait_until("the icon to turn ready",
                       lambda: (lambda i: i if i and i != not_ready else None)(
                           display.window_image(icon)), timeout=10)
    sink.focus()
    line.write(b"OK\r")
    so_far = sink.wait_typed("OK\r", timeout=20)

    case("pulled cable, then replugged")
    line.write(b"ABC")
    time.sleep(0.5)
    device = line.device
    line.close()
    wait_until("the port released", lambda: not program.holds(device), timeout=10)
    wait_until("the icon to turn not ready", lambda: display.window_image(icon) == not_ready,
               timeout=10)
    time.sleep(1.0)
    check(program.running(), "the program ended when the cable was pulled")
    line.open()
    wait_until("the port opened again", lambda: program.holds(line.device), timeout=20)
    wait_until("the icon to turn ready again", lambda: display.window_image(icon) == ready,
               timeout=10)
    # The half line read before the pull typed nothing; it comes out with
    # the rest of its line, once.
    sink.quiet_for(0.5, so_far)
    line.write(b"D\r")
    so_far = sink.wait_typed(so_far + "ABCD\r", timeout=20)
    sink.quiet_for(1.0, so_far)

    case("SIGTERM ends the program as the tray quit does")
    status = program.end()
    check(status == 0, "exit status after SIGTERM: %r" % status)
    check(not program.holds(line.device), "the port is still held")
    wait_until("the icon and its place in the tray gone", lambda: display.tray_gone(slot),
               timeout=10)
    # No key left down: a key typed now arrives as itself.
    display.x("xdotool", "type", "z")
    sink.wait_typed(so_far + "z", timeout=20)


# The GS1 DataMatrix scan of a medicine pack: symbology identifier, GTIN,
# expiry, lot, GS, serial number, carriage return.
GS1_SCAN = b"]d2010950110153000317251231" b"10ABC123\x1d" b"21XYZ\r"
GS1_SHAPING = "SCAN_AIM=STRIP\nSCAN_GS=|\nSCAN_CR={Tab}\n"


@test
def shaping(stage):
    """Two program runs on the active layout: with SCAN_ settings the GS1
    scan arrives as its fields kept apart by "|" and followed by Tab; without
    them exactly as it always has (GS types nothing, CR types Return)."""
    sink = stage.start_sink()
    for name, extra, expected, last in (
            ("shaped", GS1_SHAPING, "01095011015300031725123110ABC123|21XYZ\t", "Tab"),
            ("plain", "", "]d201095011015300031725123110ABC12321XYZ\r", "Return")):
        case("GS1 scan, %s" % name)
        settings = us_settings(PORT, keytable="Active keyboard layout", extra_general=extra)
        program, line = stage.start_program(name, settings, PORT)
        sink.focus()
        so_far = sink.typed()
        line.write(GS1_SCAN)
        typed = sink.wait_typed(so_far + expected, timeout=20)
        sink.quiet_for(1.0, typed)
        keysyms = [k for k, _, _ in sink.events()]
        check(keysyms[-1] == last, "the scan did not end with %s: %r" % (last, keysyms[-8:]))
        program.end()
        line.close()


def run(build, name):
    stage = None
    try:
        stage = stagelib.Stage(build, name)
        TESTS[name](stage)
    except Failure:
        if stage and stage.sink:
            print("key sink log:\n" + stage.sink.text())
        if stage:
            for p in stage.programs:
                if os.path.exists(p.output):
                    print("%s output:\n%s" % (p.folder, open(p.output, errors="replace").read()))
        raise
    finally:
        if stage:
            stage.close()


if __name__ == "__main__":
    sys.exit(run_command(TESTS, "build/linux", run))
