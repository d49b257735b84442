#!/usr/bin/env python3
"""Every printable Windows-1252 character typed with "Active keyboard layout"
into receivers that read key codes each in their own way: Chromium (a focused
textarea in an offline page, its value reported on the console) and a Tk
client that spends 10 ms on each key event, so that it falls far behind the
keys sent. What the layout lacks goes through spare key codes bound while the
program runs; a character lost, or shown as what its code held before or
after, is a failure. Stroke delay 1 and 0.
Run:  receivers.py --build build/linux [us fr]   (RECEIVER_RUNS=N: N scans each)
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import stage as stagelib  # puts tests/e2e, where common.py is, on sys.path
from common import Failure, mismatches, run_command, us_settings, wait_until

PORT = 1
ACTIVE_LAYOUT = "Active keyboard layout"
LINE_LENGTH = 40
PROBE = b"-"

PAGE = """<!doctype html><meta charset="utf-8"><title>receiver</title>
<textarea id="t" autofocus rows="20" cols="80"></textarea>
<script>
const t = document.getElementById("t");
let last = null;
t.focus();
setInterval(() => {
  if (t.value === last) return;
  last = t.value;
  console.log("VALUE " + Array.from(last).map(c => c.codePointAt(0).toString(16)).join(","));
}, 100);
console.log("READY");
</script>
"""

def scan_text():
    """The printable characters in lines of LINE_LENGTH, each ended by CR."""
    chars = [bytes([b]).decode("cp1252") for b in range(0x20, 0x100)
             if b != 0x7F and b not in (0x81, 0x8D, 0x8F, 0x90, 0x9D)]
    lines = ["".join(chars[i:i + LINE_LENGTH]) for i in range(0, len(chars), LINE_LENGTH)]
    return lines


class Chromium:
    name = "chromium"

    def __init__(self, stage):
        self.stage = stage
        self.profile = tempfile.mkdtemp(prefix="quorvel-chromium-")
        page = os.path.join(stage.work, "receiver.html")
        with open(page, "w", encoding="utf-8") as f:
            f.write(PAGE)
        self.log = os.path.join(stage.work, "chromium.log")
        self.process = subprocess.Popen(
            ["chromium", "--no-sandbox", "--user-data-dir=" + self.profile, "--no-first-run",
             "--disable-gpu", "--enable-logging=stderr", "--v=0", "--window-position=0,0",
             "--window-size=800,600", "file://" + page],
            env=stage.display.env, stdout=subprocess.DEVNULL, stderr=open(self.log, "wb"),
            start_new_session=True)
        wait_until("Chromium's page", lambda: "READY" in self.text(), timeout=60)
        self.window = wait_until("Chromium's window", lambda: stage.display.x(
            "xdotool", "search", "--onlyvisible", "--class", "chromium").split(), timeout=20)[-1]

    def text(self):
        with open(self.log, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def focus(self):
        self.stage.display.focus(self.window)

    def typed(self):
        values = re.findall(r'"VALUE ([0-9a-f,]*)"', self.text())
        if not values or not values[-1]:
            return ""
        return "".join(chr(int(c, 16)) for c in values[-1].split(","))

    def close(self):
        # The browser and its helpers (zygote, renderers), none left running.
        try:
            os.killpg(self.process.pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
        self.process.wait()
        shutil.rmtree(self.profile, ignore_errors=True)


class SlowClient(stagelib.KeySink):
    """The tests' Tk key sink spending 10 ms on each key event."""
    name = "slow client"

    def __init__(self, stage):
        super().__init__(stage.display, os.path.join(stage.work, "slow.log"), busy_ms=10)

    def typed(self):
        return super().typed().replace("\r", "\n")


def wrong(expected, received):
    """Characters sent that did not arrive as themselves, in place."""
    return sum(max(len(sent), len(got)) for sent, got in mismatches(expected, received))


def settle(receiver, port):
    """A browser takes the focus some time after the X server moves it, and
    drops keys until then: a line of one plain key, sent until it arrives,
    shows the receiver is taking keys."""
    for _ in range(10):
        port.write(PROBE + b"\r")
        try:
            wait_until("the receiver taking keys",
                       lambda: receiver.typed().endswith(PROBE.decode() + "\n"), timeout=3)
            return
        except Failure:
            pass
    raise Failure("%s took none of 10 probe lines" % receiver.name)


def run(build, layout, delay, receivers, runs):
    """Returns the number of wrong characters per receiver over `runs` scans."""
    stage = stagelib.Stage(build, "receivers-%s-%d" % (layout, delay), layout=layout)
    results = {}
    try:
        program, port = stage.start_program("main", us_settings(
            PORT, stroke_delay=delay, keytable=ACTIVE_LAYOUT), PORT)
        lines = scan_text()
        data = b"".join(line.encode("cp1252") + b"\r" for line in lines)
        expected = "".join(line + "\n" for line in lines)
        for kind in receivers:
            receiver = kind(stage)
            try:
                total = 0
                for _ in range(runs):
                    receiver.focus()
                    settle(receiver, port)
                    before = receiver.typed()
                    port.write(data)
                    # Done once the last line end has come and nothing more arrives.
                    try:
                        wait_until("the scan", lambda: receiver.typed().count("\n") >=
                                   before.count("\n") + len(lines), timeout=180)
                    except Failure:
                        pass
                    time.sleep(1.0)
                    received = receiver.typed()[len(before):]
                    bad = wrong(expected, received)
                    if bad:
                        print("  %s %s delay %d: %d wrong\n    sent     %r\n    received %r" %
                              (receiver.name, layout, delay, bad, expected, received))
                    total += bad
                results[receiver.name] = total
            finally:
                receiver.close()
        program.end()
    finally:
        stage.close()
    return results


def run_layout(build, layout):
    """Chromium and the slow client at stroke delays 1 and 0 on `layout`."""
    runs = int(os.environ.get("RECEIVER_RUNS", "1"))
    bad = 0
    for delay in (1, 0):
        started_at = time.monotonic()
        for name, wrong_count in run(build, layout, delay, (Chromium, SlowClient), runs).items():
            print("%s %s delay %d: %d runs, %d wrong (%.0f s)" % (
                name, layout, delay, runs, wrong_count, time.monotonic() - started_at))
            bad += wrong_count
    if bad:
        raise Failure("%d characters wrong on %s" % (bad, layout))


if __name__ == "__main__":
    sys.exit(run_command(["us", "fr"], "build/linux", run_layout))
