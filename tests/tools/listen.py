"""quorvel-ini listen with a pty playing the scanner, linked as ports/com12
beside the settings file as the program finds it: a second listener is told
the port is held, a GS1 scan shows its bytes, its identifier and the text
preview gives for the same bytes, a scan without its CR and a silence are
explained, and Ctrl+C ends the run with the port closed.
Usage: listen.py TOOL SETTINGS_FILE"""
import os
import pty
import queue
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import tty

TOOL, SAMPLE = sys.argv[1], sys.argv[2]
SCAN = b"]d2L0/T\x1d12\r"


def fail(message, seen):
    sys.exit("FAIL: %s\n--- output so far:\n%s" % (message, "".join(seen)))


def main():
    with tempfile.TemporaryDirectory() as folder:
        settings = os.path.join(folder, "settings.ini")
        shutil.copy(SAMPLE, settings)
        os.mkdir(os.path.join(folder, "ports"))
        master, slave = pty.openpty()
        tty.setraw(slave)
        os.symlink(os.ttyname(slave), os.path.join(folder, "ports", "com12"))
        env = dict(os.environ, QUORVEL_INI_SILENCE_SECONDS="2", LC_ALL="C.UTF-8")
        listener = subprocess.Popen([TOOL, "listen", "--settings", settings, "COM12"],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env)
        lines, seen = queue.Queue(), []
        threading.Thread(target=lambda: [lines.put(l.decode()) for l in listener.stdout],
                         daemon=True).start()

        def expect(start):
            while True:
                try:
                    line = lines.get(timeout=20)
                except queue.Empty:
                    listener.kill()
                    fail("no line starting %r" % start, seen)
                seen.append(line)
                if line.startswith(start):
                    return line.rstrip("\n")

        try:
            expect("listening on COM12")
            second = subprocess.run([TOOL, "listen", "--settings", settings, "12"],
                                    capture_output=True, text=True, env=env, timeout=30)
            if second.returncode != 1 or "is held by another program" not in second.stderr:
                fail("second listener: %d %r" % (second.returncode, second.stderr), seen)

            os.write(master, SCAN)
            bytes_line = expect("bytes: ")
            if bytes_line != "bytes: ]d2L0/T<GS>12<CR>":
                fail("bytes line %r" % bytes_line, seen)
            if expect("identifier: ") != "identifier: ]d2":
                fail("identifier", seen)
            preview = subprocess.run([TOOL, "preview", settings, "-"], input=SCAN,
                                     capture_output=True, check=True).stdout.decode()
            text = expect("text: ")
            if text != preview.splitlines()[-1] or "{Ctrl+]}" not in text:
                fail("text %r, preview says %r" % (text, preview.splitlines()[-1]), seen)

            os.write(master, b"L0\n")
            if expect("bytes so far: ") != "bytes so far: L0<LF>":
                fail("bytes without CR", seen)
            expect("nothing has come for 2 s")
        finally:
            listener.send_signal(signal.SIGINT)
            try:
                listener.wait(timeout=20)
            except subprocess.TimeoutExpired:
                listener.kill()
                listener.wait()
        expect("stopped; COM12")
        if listener.returncode != 0:
            fail("exit status %d after Ctrl+C" % listener.returncode, seen)
        os.close(slave)
        os.close(master)
    print("ok")


main()
