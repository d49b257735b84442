"""The stage for the end-to-end tests and the run command: the real
QuorvelCE.exe under Wine on a virtual display, a pty as its serial port with a
virtual scanner on the other side, our key-sink window in focus, and our driver
acting as the user and the shell. Python standard library only; what the
Linux stage shares with it is in common.py.
"""
import contextlib
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import common  # noqa: E402
import vserial  # noqa: E402
from common import wait_until  # noqa: E402

# Controls of dialog template 102 that the tests press or read.
IDC_BAUDRATE = 1008
IDC_START_STOP = 1018


def wine():
    return os.environ.get("WINE64") or shutil.which("wine64") or "/usr/lib/wine/wine64"


WINE_PORTS_KEY = "HKLM\\Software\\Wine\\Ports"


def check_call_quiet(command):
    # Output to nowhere: a pipe would stay open in the Wine services it starts.
    subprocess.check_call(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                          timeout=120)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def ensure_display():
    """A display for Wine: the one scripts/wine-env started for this run
    (None), or an Xvfb of our own, which the caller closes. Never the
    developer's desktop, whatever DISPLAY says."""
    if os.environ.get("DISPLAY") and os.environ.get("QUORVEL_OWN_DISPLAY") == "1":
        return None
    xvfb = common.Xvfb(120, 80)
    os.environ["DISPLAY"] = xvfb.name
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
    process. Returns the common.Xvfb, which the caller closes."""
    xvfb = common.Xvfb(160, 100)
    os.environ["DISPLAY"] = xvfb.name
    try:
        common.set_keyboard_layout(xvfb.env, layout)
    except BaseException:
        xvfb.close()
        raise
    return xvfb


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


class Program(common.ProgramFolder):
    """QuorvelCE.exe with its own settings file in a fresh folder."""

    def __init__(self, stage, name, settings):
        super().__init__(stage.work, name, stage.exe, "QuorvelCE.exe", settings)
        self.stage = stage

    def start(self):
        self.started_at = time.monotonic()
        self.process = subprocess.Popen([wine(), self.exe], cwd=self.folder,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        return self


class Stage:
    """Display, wineserver, virtual serial lines, key sink and driver for one test."""

    def __init__(self, build, name, prefix=None):
        self.build = os.path.abspath(build)
        self.exe = os.path.join(self.build, "app", "QuorvelCE.exe")
        self.driver_exe = os.path.join(self.build, "tests", "e2e", "quorvel_driver.exe")
        self.keysink_exe = os.path.join(self.build, "tests", "e2e", "quorvel_keysink.exe")
        self.work = os.path.join(self.build, "tests", "e2e", "work", name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        # The build's own prefix (scripts/wine-env's), or one the test made
        # for itself; never the developer's.
        os.environ["WINEPREFIX"] = prefix or os.path.join(os.path.dirname(self.build), "wineprefix")
        os.environ.setdefault("WINEDEBUG", "-all")
        self.xvfb = ensure_display()
        subprocess.call(["wineserver", "-p"], stderr=subprocess.DEVNULL)
        self.lines = vserial.VirtualSerialSet()
        self.programs = []
        self.extra_links = []
        self.wine_ports = []
        self.sink = None
        self.notepad = None
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
        return any(common.holds(int(pid), device) for pid in os.listdir("/proc")
                   if pid.isdigit() and int(pid) != os.getpid())

    # -- the focused application --------------------------------------------
    def start_sink(self, *options):
        """The key sink in focus; `options` are its own (--caps)."""
        if os.path.exists(self.sink_log):
            os.unlink(self.sink_log)
        self.sink = subprocess.Popen([wine(), self.keysink_exe, windows_path(self.sink_log)]
                                     + list(options),
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

    def wait_typed(self, expected, *, timeout):
        return wait_until("typed %r" % expected,
                          lambda: self.typed() == expected and self.typed(), timeout=timeout)

    def start_notepad(self):
        """Wine's Notepad in focus, as the application a user scans into."""
        self.notepad = subprocess.Popen([wine(), "notepad"], stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        wait_until("Notepad", lambda: self.notepad_text() is not None, timeout=90)
        self.focus_notepad()

    def focus_notepad(self):
        """Notepad becomes the foreground window, as a user's click makes it."""
        self.drive("notepad", "focus")

    def notepad_text(self):
        """What Notepad's window holds (None while there is no Notepad), with
        its line ends as Notepad keeps them (\\r\\n)."""
        out = self.drive("notepad")
        m = re.match(r"text ?([0-9a-f]*)$", out.strip())
        return bytes.fromhex(m.group(1)).decode("utf-16-be") if m else None

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

    def show_dialog(self):
        """The user clicks the tray icon to open the dialog; returns it shown."""
        self.drive("tray", "left")
        return wait_until("the dialog shown", lambda: (lambda d: d if d and d["visible"] else None)(
            self.dialog()), timeout=10)

    def open_and_stop(self):
        """The user opens the dialog from the tray and presses Stop; returns
        the dialog stopped."""
        self.show_dialog()
        self.drive("click", IDC_START_STOP)
        return wait_until("Stop", lambda: (lambda d: d if d and d["caption"] ==
                                           "QuorvelCE - Stopped" else None)(self.dialog()),
                          timeout=5)

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

    def configure_wine_ports(self, ports):
        """COMn set up as a Wine user sets up a port: HKLM\\Software\\Wine\\Ports
        names the line's device, and Wine registers it (the dosdevices link
        and SERIALCOMM) when its server starts, so the server is restarted."""
        for port in ports:
            device = os.ttyname(self.lines.lines[port].slave)
            self.wine_ports.append(port)
            check_call_quiet([wine(), "reg", "add", WINE_PORTS_KEY, "/v", "COM%d" % port,
                              "/t", "REG_SZ", "/d", device, "/f"])
        stop_wineserver()
        subprocess.call(["wineserver", "-p"], stderr=subprocess.DEVNULL)

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
        for process in (self.sink, self.notepad):
            if process and process.poll() is None:
                process.kill()
                process.wait()
        if self.wine_ports:
            for port in self.wine_ports:
                subprocess.call([wine(), "reg", "delete", WINE_PORTS_KEY, "/v", "COM%d" % port,
                                 "/f"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                timeout=60)
            # SERIALCOMM is the server's: the next one starts without these ports.
            stop_wineserver()
        self.lines.close_all()
        for link in self.extra_links:
            if os.path.islink(link):
                os.unlink(link)
        if self.xvfb:
            self.xvfb.close()


def started(stage, program, *, timeout):
    """Waits for the auto-start to have hidden the dialog with "Started"."""
    wait_until("the dialog", stage.dialog, timeout=timeout)
    return wait_until("auto-start",
                      lambda: (lambda d: d and d.get("caption") == "QuorvelCE - Started"
                               and not d["visible"] and d)(stage.dialog()),
                      timeout=timeout)


@contextlib.contextmanager
def layout_stage(build, xvfb, prefix, name):
    """A stage on `xvfb` (a display set to a keyboard layout) with a
    wineserver of its own in the prefix folder `prefix` of the build; ends
    the stage, the wineserver and the display."""
    stage = None
    try:
        private_wineserver(os.path.join(os.path.abspath(build), "tests", "e2e", prefix))
        stage = Stage(build, name)
        yield stage
    finally:
        if stage:
            stage.close()
        stop_wineserver()
        xvfb.close()
