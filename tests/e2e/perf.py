#!/usr/bin/env python3
"""Performance of QuorvelCE.exe under Wine, as the users feel it: how closely
typing keeps to the stroke delay, how soon a line appears after its carriage
return, what the program costs while it waits, and how long it takes to be
ready. Prints one figure per line; measures, asserts nothing.
Usage: perf.py [--build build/windows]
"""
import argparse
import sys
import time

import harness
from common import cpu_seconds, us_settings, wait_until
from harness import started

PORT = 4


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/windows")
    args = parser.parse_args()
    stage = harness.Stage(args.build, "perf")
    try:
        stage.plug(PORT)
        stage.start_sink()
        program = stage.program("perf", us_settings(PORT, stroke_delay=1)).start()
        wait_until("the port to be opened", lambda: stage.port_held(PORT), timeout=30,
                   interval=0.005)
        print("start-up to LS3578 ready (port open): %.3f s" %
              (time.monotonic() - program.started_at))
        started(stage, program, timeout=30)

        # Pacing: one 100-keystroke line, 6 key events per lower-case keystroke.
        stage.scan(PORT, b"a" * 100)
        stage.wait_typed("a" * 100, timeout=30)
        time.sleep(0.3)
        events = stage.key_events(timed=True)
        keys = [e for e in events if e[0] in ("KEYDOWN", "KEYUP", "SYSKEYDOWN", "SYSKEYUP")]
        span = keys[-1][2] - keys[0][2]
        ideal = (len(keys) - 1) * 0.001
        print("pacing at stroke delay 1 ms: %d key events in %.3f s, ideal %.3f s, ratio %.3f" %
              (len(keys), span, ideal, span / ideal))

        # Latency: a buffered line is typed once its carriage return arrives.
        before = len(stage.key_events())
        stage.scan(PORT, b"b")
        time.sleep(0.5)
        sent = time.time()
        stage.scan(PORT, b"\r")
        stage.wait_typed("a" * 100 + "b\r", timeout=10)
        time.sleep(0.3)
        line = [e for e in stage.key_events(timed=True)[before:] if e[0] != "CHAR"]
        latency = line[-1][2] - sent
        print("CR to last key of a 2-keystroke line: %.1f ms (of which %d ms stroke delays)" %
              (latency * 1000, len(line) - 1))

        # Idle cost: ten seconds with the port open and nothing arriving.
        pid = program.process.pid
        cpu0, t0 = cpu_seconds(pid), time.monotonic()
        time.sleep(10)
        cpu1, t1 = cpu_seconds(pid), time.monotonic()
        print("idle CPU over %.0f s: %.2f %% of one core" % (t1 - t0, 100 * (cpu1 - cpu0) / (t1 - t0)))
    finally:
        stage.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
