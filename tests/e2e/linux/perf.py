#!/usr/bin/env python3
"""Performance of quorvelce on Linux as users feel it, beside the script such
users run today (it reads the port and calls `xdotool type --delay 1` per
line), in one run on one display with a Tk application receiving: pacing of a
100-keystroke line, carriage-return-to-last-character latency of a 13-digit
scan, the time a 100-character line takes, idle CPU, start-up to "LS3578
ready" and resident memory. Measures and prints a table; asserts nothing.
Usage: perf.py [--build build/linux] [--repeat 5]
"""
import argparse
import os
import statistics
import subprocess
import sys
import time

import stage as stagelib  # puts tests/e2e, where common.py is, on sys.path
from common import cpu_seconds, us_settings, wait_until
from stage import started

PORT = 1
SCAN = b"4006381333931"
# Key events per keystroke of a character without Shift: Control, Alt and
# Shift set, the key down and up, Shift released; a pause after each.
EVENTS_PER_KEYSTROKE = 6

# The users' script: one `xdotool type` per carriage-return-ended line (the
# line discipline turns the CR into a line end; `read -d $'\r'` would not
# do: on a terminal it switches the line to a mode that maps CR to LF).
PEER_SCRIPT = r'''
stty -F "$1" raw -echo icrnl
while IFS= read -r line; do
  xdotool type --delay 1 -- "$line"
done < "$1"
'''


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def idle_text(percent):
    # /proc counts CPU time in clock ticks: over 10 s one tick is 0.1 %.
    resolution = 100.0 / os.sysconf("SC_CLK_TCK") / 10
    if percent < resolution:
        return "< %.2f %% of a core (no clock tick)" % resolution
    return "%.2f %% of a core" % percent


def arrivals(sink, start, keysym):
    """Arrival times of the presses of `keysym` from event index `start` on."""
    return [t for k, _, t in sink.events()[start:] if k == keysym]


def scan_latency(sink, line, repeat):
    """Median time from the carriage return to the 13th digit's arrival."""
    samples = []
    for _ in range(repeat):
        start = len(sink.events())
        expected = sink.typed() + SCAN.decode()
        line.write(SCAN)
        time.sleep(0.4)
        sent = time.time()
        line.write(b"\r")
        wait_until("the scan typed", lambda: sink.typed().startswith(expected), timeout=20,
                   interval=0.002)
        digits = [t for k, c, t in sink.events()[start:] if c and c in "0123456789"]
        samples.append(digits[len(SCAN) - 1] - sent)
        time.sleep(0.5)
    return statistics.median(samples)


def hundred_line(sink, line, repeat):
    """Median time from a 100-character line's arrival (written at once with its
    carriage return) to the arrival of its last character."""
    samples = []
    for _ in range(repeat):
        start = len(sink.events())
        expected = sink.typed() + "a" * 100
        sent = time.time()
        line.write(b"a" * 100 + b"\r")
        wait_until("the line typed", lambda: sink.typed().startswith(expected), timeout=30,
                   interval=0.002)
        samples.append(arrivals(sink, start, "a")[99] - sent)
        time.sleep(0.5)
    return statistics.median(samples)


def pacing(sink, line):
    """Span of a 100-keystroke line's key presses against the pauses it is due."""
    start = len(sink.events())
    expected = sink.typed() + "b" * 100
    line.write(b"b" * 100)
    wait_until("the line typed", lambda: sink.typed().startswith(expected), timeout=30)
    times = arrivals(sink, start, "b")
    span = times[99] - times[0]
    ideal = 99 * EVENTS_PER_KEYSTROKE * 0.001
    return span, ideal


def run_program(st, sink, name, stroke_delay, figures, repeat, full):
    program = st.program(name, us_settings(PORT, stroke_delay=stroke_delay))
    line = st.line(program, PORT)
    line.open()
    program.start()
    wait_until("LS3578 ready (port open)", lambda: program.holds(line.device), timeout=30,
               interval=0.002)
    if full:
        figures["start-up to LS3578 ready (s)"] = time.monotonic() - program.started_at
    started(program, timeout=30)
    sink.focus()
    if full:
        span, ideal = pacing(sink, line)
        figures["pacing, 100 keystrokes at 1 ms (s)"] = (span, ideal)
    figures["CR to 13th digit, delay %d (ms)" % stroke_delay] = \
        1000 * scan_latency(sink, line, repeat)
    figures["100-character line, delay %d (ms)" % stroke_delay] = \
        1000 * hundred_line(sink, line, repeat)
    if full:
        pid = program.process.pid
        time.sleep(1.0)
        cpu0, t0 = cpu_seconds(pid), time.monotonic()
        time.sleep(10)
        cpu1, t1 = cpu_seconds(pid), time.monotonic()
        figures["idle CPU over 10 s (% of a core)"] = 100 * (cpu1 - cpu0) / (t1 - t0)
        figures["resident memory VmRSS (MiB)"] = rss_kib(pid) / 1024
    program.end()
    line.close()


def run_peer(st, sink, figures, repeat):
    folder = os.path.join(st.work, "peer")
    os.makedirs(folder, exist_ok=True)
    line = stagelib.PortLine(folder, PORT)
    st.lines.append(line)
    line.open()
    script = os.path.join(folder, "scan-to-xdotool.sh")
    with open(script, "w") as f:
        f.write(PEER_SCRIPT)
    peer = subprocess.Popen(["bash", script, line.device], env=st.display.env,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(0.5)
        sink.focus()
        figures["CR to 13th digit, xdotool script (ms)"] = 1000 * scan_latency(sink, line, repeat)
        figures["100-character line, xdotool script (ms)"] = \
            1000 * hundred_line(sink, line, repeat)
    finally:
        peer.kill()
        peer.wait()
        line.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default="build/linux")
    parser.add_argument("--repeat", type=int, default=5)
    args = parser.parse_args()
    figures = {}
    st = stagelib.Stage(args.build, "perf")
    try:
        sink = st.start_sink()
        run_program(st, sink, "delay1", 1, figures, args.repeat, full=True)
        run_program(st, sink, "delay0", 0, figures, args.repeat, full=False)
        run_peer(st, sink, figures, args.repeat)
    finally:
        st.close()

    span, ideal = figures["pacing, 100 keystrokes at 1 ms (s)"]
    scan0 = figures["CR to 13th digit, delay 0 (ms)"]
    scan1 = figures["CR to 13th digit, delay 1 (ms)"]
    line0 = figures["100-character line, delay 0 (ms)"]
    line1 = figures["100-character line, delay 1 (ms)"]
    peer_scan = figures["CR to 13th digit, xdotool script (ms)"]
    peer_line = figures["100-character line, xdotool script (ms)"]
    # The pauses the program is due before the 13th digit's press at 1 ms.
    due13 = (12 * EVENTS_PER_KEYSTROKE + 3) * 1.0
    rows = [
        ("pacing of a 100-keystroke line, delay 1 ms", "%.3f s" % span,
         "ideal %.3f s" % ideal, "ratio %.3f" % (span / ideal)),
        ("CR to last digit of a 13-digit scan, delay 1", "%.1f ms" % scan1,
         "pauses due %.0f ms" % due13, "over by %.1f ms" % (scan1 - due13)),
        ("CR to last digit of a 13-digit scan, delay 0", "%.1f ms" % scan0,
         "xdotool script %.1f ms" % peer_scan, "script / ours %.1f" % (peer_scan / scan0)),
        ("100-character line, delay 1", "%.1f ms" % line1,
         "xdotool script %.1f ms" % peer_line, "script / ours %.2f" % (peer_line / line1)),
        ("100-character line, delay 0", "%.1f ms" % line0,
         "xdotool script %.1f ms" % peer_line, "script / ours %.1f" % (peer_line / line0)),
        ("idle CPU over 10 s", idle_text(figures["idle CPU over 10 s (% of a core)"]), "", ""),
        ("start-up to LS3578 ready (port open)",
         "%.3f s" % figures["start-up to LS3578 ready (s)"],
         "of it the auto-start's 1 s", ""),
        ("resident memory (VmRSS)", "%.1f MiB" % figures["resident memory VmRSS (MiB)"], "", ""),
    ]
    widths = [max(len(r[i]) for r in rows) for i in range(4)]
    print("quorvelce performance (median of %d where repeated), Tk client on Xvfb" % args.repeat)
    for row in rows:
        print("  " + "  ".join(cell.ljust(w) for cell, w in zip(row, widths)).rstrip())
    return 0


if __name__ == "__main__":
    sys.exit(main())
