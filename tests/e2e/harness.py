"""The stage for the end-to-end tests and the run command: the real
QuorvelCE.exe under Wine on a virtual display, a pty as its serial port with a
virtual scanner on the other side, our key-sink window in focus, and our driver
acting as the user and the shell. Python standard library only.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import vserial  # noqa: E402

SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))


def wine():
    return os.environ.get("WINE64") or shutil.which("wine64") or "/usr/lib/wine/wine64"


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


class Failure(AssertionError):
    pass


def wait_until(what, probe, timeout=5.0, interval=0.05):
    """Polls probe() until it gives something true; returns it, or fails
    naming what was awaited and the last thing seen."""
    end = time.monotonic() + timeout
    last = None
    while True:
        last = probe()
        if last:
            return last
        if time.monotonic() >= end:
            raise Failure("timed out waiting for %s (last seen: %r)" % (what, last))
        time.sleep(interval)


def ensure_display():
    """A display for Wine: the caller's, or an Xvfb of our own (kept by the
    returned process, which the caller ends)."""
    if os.environ.get("DISPLAY"):
        return None
    for number in range(120, 200):
        if not os.path.exists("/tmp/.X%d-lock" % number):
            break
    xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1024x768x24",
                             "-noreset", "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    os.environ["DISPLAY"] = ":%d" % number
    wait_until("Xvfb", lambda: os.path.exists("/tmp/.X11-unix/X%d" % number), timeout=10)
    subprocess.call(["setxkbmap", "us"], stderr=subprocess.DEVNULL)
    # No window manager here: Wine manages its windows itself (see scripts/wine-env).
    subprocess.call([wine(), "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                     "/t", "REG_SZ", "/d", "N", "/f"],
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return xvfb


def keyboard_layout_display(layout):
    """An Xvfb display of our own whose X keyboard layout is `layout` (an
    xkb name: us, gb, fr, de), made the DISPLAY of what starts after it.
    Wine takes the layout when it connects, so this comes before any Wine
    process; -noreset keeps the layout when the last client leaves. Returns
    the Xvfb process, which the caller ends."""
    for number in range(160, 260):
        if os.path.exists("/tmp/.X%d-lock" % number) or \
                os.path.exists("/tmp/.X11-unix/X%d" % number):
            continue
        xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1024x768x24",
                                 "-noreset", "-nolisten", "tcp"],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Another run may have taken the number between our look and its start.
        wait_until("Xvfb :%d" % number,
                   lambda: xvfb.poll() is not None or os.path.exists("/tmp/.X11-unix/X%d" % number),
                   timeout=10)
        if xvfb.poll() is not None:
            continue
        os.environ["DISPLAY"] = ":%d" % number
        xvfb.display_number = number
        try:
            subprocess.run(["setxkbmap", layout], check=True, timeout=30)
            query = subprocess.run(["setxkbmap", "-query"], stdout=subprocess.PIPE, check=True,
                                   timeout=30).stdout.decode()
            if not re.search(r"^layout:\s*%s\s*$" % re.escape(layout), query, re.M):
                raise Failure("setxkbmap %s did not take: %s" % (layout, query))
        except BaseException:
            end_display(xvfb)
            raise
        return xvfb
    raise Failure("no free display number")


def end_display(xvfb):
    """Ends an Xvfb of ours so that it removes its lock file and socket (a
    killed one leaves them, and the display number is lost to later runs)."""
    if xvfb.poll() is None:
        xvfb.terminate()
        try:
            xvfb.wait(timeout=10)
        except subprocess.TimeoutExpired:
            xvfb.kill()
            xvfb.wait()
    number = xvfb.display_number
    lock = "/tmp/.X%s-lock" % number
    try:
        with open(lock) as f:
            owner = int(f.read().strip() or 0)
    except (OSError, ValueError):
        return
    if owner == xvfb.pid:
        os.unlink(lock)
        socket = "/tmp/.X11-unix/X%s" % number
        if os.path.exists(socket):
            os.unlink(socket)


def private_wineserver(prefix):
    """Makes `prefix` (created on first use) the WINEPREFIX of what starts
    after it, with no wineserver running for it: one started earlier would
    hold the desktop of another display and the keyboard layout it had."""
    os.environ["WINEPREFIX"] = prefix
    os.environ.setdefault("WINEDEBUG", "-all")
    os.environ.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    stop_wineserver()
    if not os.path.exists(os.path.join(prefix, "system.reg")):
        os.makedirs(prefix, exist_ok=True)
        subprocess.call([wine(), "wineboot", "-i"], stdout=subprocess.DEVNULL,
                        stderr=subprocess.DEVNULL, timeout=120)
    # No window manager on our display (see scripts/wine-env).
    subprocess.call([wine(), "reg", "add", "HKCU\\Software\\Wine\\X11 Driver", "/v", "Managed",
                     "/t", "REG_SZ", "/d", "N", "/f"],
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60)
    stop_wineserver()


def stop_wineserver():
    """Ends the wineserver of the current WINEPREFIX (and so every Wine
    process of it) and waits until it has gone; never another prefix's."""
    if os.environ.get("WINEPREFIX"):
        subprocess.call(["wineserver", "-k"], stderr=subprocess.DEVNULL, timeout=60)
        subprocess.call(["wineserver", "-w"], stderr=subprocess.DEVNULL, timeout=60)


def us_settings(port, stroke_delay=1, baud="9600", extra_general="", keytable="US English"):
    """The shipped settings file with GENERAL set for a test (the US table
    unless `keytable` names another of its tables)."""
    with open(os.path.join(SOURCE, "dist", "QuorvelCE.INI"), "rb") as f:
        text = f.read().decode("utf-8")
    general = ("[GENERAL]\nSTROKE_DELAY = %d\nCOM = %d\nBAUDRATE = %s\nPARITY = NONE\n"
               "DATA = 8\nSTOP = 1\nKEYTABLE = %s\n%s" %
               (stroke_delay, port, baud, keytable, extra_general))
    return re.sub(r"\[GENERAL\].*?(?=\n\[)", lambda _: general.rstrip("\n"), text,
                  count=1, flags=re.S)


class Program:
    """QuorvelCE.exe with its own settings file in a fresh folder."""

    def __init__(self, stage, name, settings):
        self.stage = stage
        self.folder = os.path.join(stage.work, name)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.exe = os.path.join(self.folder, "QuorvelCE.exe")
        shutil.copy(stage.exe, self.exe)
        self.ini = os.path.join(self.folder, "QuorvelCE.INI")
        if settings is not None:
            with open(self.ini, "wb") as f:
                f.write(settings.encode("utf-8"))
        self.process = None
        self.started_at = None

    def start(self):
        self.started_at = time.monotonic()
        self.process = subprocess.Popen([wine(), self.exe], cwd=self.folder,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return self

    def running(self):
        return self.process is not None and self.process.poll() is None

    def settings_text(self):
        with open(self.ini, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def general(self, key):
        m = re.search(r"^\s*%s\s*=\s*(.*?)\s*$" % re.escape(key), self.settings_text(), re.M)
        return m.group(1) if m else None

    def kill(self):
        if self.running():
            self.process.kill()
            self.process.wait()


class Stage:
    """Display, wineserver, virtual serial lines, key sink and driver for one test."""

    def __init__(self, build, name):
        self.build = os.path.abspath(build)
        self.exe = os.path.join(self.build, "app", "QuorvelCE.exe")
        self.driver_exe = os.path.join(self.build, "tests", "e2e", "quorvel_driver.exe")
        self.keysink_exe = os.path.join(self.build, "tests", "e2e", "quorvel_keysink.exe")
        self.work = os.path.join(self.build, "tests", "e2e", "work", name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        os.environ.setdefault("WINEPREFIX", os.path.join(os.path.dirname(self.build), "wineprefix"))
        os.environ.setdefault("WINEDEBUG", "-all")
        self.xvfb = ensure_display()
        subprocess.call(["wineserver", "-p"], stderr=subprocess.DEVNULL)
        self.lines = vserial.VirtualSerialSet()
        self.programs = []
        self.extra_links = []
        self.sink = None
        self.sink_log = os.path.join(self.work, "keys.log")

    # -- the virtual scanner -------------------------------------------------
    def plug(self, port):
        """A scanner appears on COMn."""
        assert self.lines.command("open %d" % port) == "ok"

    def unplug(self, port):
        """The cable is pulled: the line and its device name go away."""
        assert self.lines.command("close %d" % port) == "ok"

    def scan(self, port, data):
        assert self.lines.command("write %d %s" % (port, bytes(data).hex())) == "ok"

    def port_held(self, port):
        """Whether a program holds COMn open: the line's device is open in a
        process other than ours (the reception thread has opened the port,
        which is the moment it reports "LS3578 ready")."""
        serial = self.lines.lines.get(port)
        if serial is None or serial.master is None:
            return False
        device = os.ttyname(serial.slave)
        me = str(os.getpid())
        for pid in os.listdir("/proc"):
            if not pid.isdigit() or pid == me:
                continue
            try:
                fds = os.listdir("/proc/%s/fd" % pid)
            except OSError:
                continue
            for fd in fds:
                try:
                    if os.readlink("/proc/%s/fd/%s" % (pid, fd)) == device:
                        return True
                except OSError:
                    pass
        return False

    # -- the focused application --------------------------------------------
    def start_sink(self):
        if os.path.exists(self.sink_log):
            os.unlink(self.sink_log)
        self.sink = subprocess.Popen([wine(), self.keysink_exe, windows_path(self.sink_log)],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until("the key sink", lambda: "READY" in self.sink_text(), timeout=20)

    def sink_text(self):
        try:
            with open(self.sink_log) as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def key_events(self, timed=False):
        """(kind, virtual key) of every key message the sink received, with
        the time it arrived (seconds since 1970) when `timed`."""
        events = []
        for line in self.sink_text().splitlines():
            parts = line.split()
            if len(parts) >= 4 and parts[0] != "READY":
                event = (parts[0], int(parts[1]))
                events.append(event + (float(parts[3]),) if timed else event)
        return events

    def typed(self):
        """The characters the sink received, WM_CHAR by WM_CHAR."""
        return "".join(chr(code) for kind, code in self.key_events() if kind == "CHAR")

    def wait_typed(self, expected, timeout=20):
        return wait_until("typed %r" % expected,
                          lambda: self.typed() == expected and self.typed(), timeout=timeout)

    # -- the program and the user -------------------------------------------
    def program(self, name, settings):
        p = Program(self, name, settings)
        self.programs.append(p)
        return p

    def drive(self, *args):
        result = subprocess.run([wine(), self.driver_exe] + [str(a) for a in args],
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=30)
        return result.stdout.decode("utf-8", "replace")

    def dialog(self):
        """The dialog as a user sees it, or None when there is none."""
        out = self.drive("state")
        if out.startswith("nodialog") or not out.strip():
            return None
        state = {"controls": {}}
        for line in out.splitlines():
            key, _, rest = line.partition(" ")
            if key == "caption":
                state["caption"] = rest
            elif key in ("visible", "iconic", "foreground"):
                state[key] = rest.strip() == "1"
            elif key == "rect":
                state["rect"] = [int(v) for v in rest.split()]
            elif key == "control":
                m = re.match(r"(-?\d+) visible=(\d) text=(.*?)(?: sel=(-?\d+) items=(.*))?$", rest)
                if m:
                    control = {"visible": m.group(2) == "1", "text": m.group(3)}
                    if m.group(4) is not None:
                        control["sel"] = int(m.group(4))
                        control["items"] = m.group(5).split("|") if m.group(5) else []
                    state["controls"][int(m.group(1))] = control
        return state

    def message_boxes(self):
        """(caption, text) of every message box on the screen."""
        boxes = []
        for line in self.drive("boxes").splitlines():
            m = re.match(r"box visible=1 caption=(.*?) text=(.*)$", line)
            if m:
                boxes.append((m.group(1), m.group(2)))
        return boxes

    def link_port(self, port, target):
        """COMn names `target` instead of a virtual line (a device that cannot be opened)."""
        self.lines.command("close %d" % port)
        link = os.path.join(vserial.dosdevices(), "com%d" % port)
        os.symlink(target, link)
        self.extra_links.append(link)

    def tray_icons(self):
        out = self.drive("trayicons")
        m = re.search(r"children=(\d+)", out)
        return int(m.group(1)) if m else 0

    def screenshot(self, path, rect=None):
        """A PNG of the screen, or of `rect` (x, y, w, h) on it."""
        command = ["import", "-display", os.environ["DISPLAY"], "-window", "root"]
        if rect:
            x, y, w, h = rect
            command += ["-crop", "%dx%d+%d+%d" % (w, h, max(x, 0), max(y, 0))]
        subprocess.run(command + [path], check=True, timeout=30)
        return path

    def close(self):
        for p in self.programs:
            p.kill()
        if self.sink and self.sink.poll() is None:
            self.sink.kill()
            self.sink.wait()
        self.lines.close_all()
        for link in self.extra_links:
            if os.path.islink(link):
                os.unlink(link)
        if self.xvfb:
            self.xvfb.send_signal(signal.SIGTERM)
            self.xvfb.wait()


def started(stage, program, timeout=30):
    """Waits for the auto-start to have hidden the dialog with "Started"."""
    wait_until("the dialog", stage.dialog, timeout=timeout)
    return wait_until("auto-start",
                      lambda: (lambda d: d and d.get("caption") == "QuorvelCE - Started"
                               and not d["visible"] and d)(stage.dialog()),
                      timeout=timeout)
