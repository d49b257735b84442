"""The stage for the Linux end-to-end tests, the performance script and the
run command: the real quorvelce from a portable folder of its own, on an Xvfb
display of its own with a tray host (trayer), a pty as the scanner's serial
line linked as ports/com1 beside the settings file, and a Tk application in
focus that logs every key press it receives. Python standard library only;
the X side is driven with xdotool, xwininfo, setxkbmap and ImageMagick.
"""
import ctypes
import ctypes.util
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
E2E = os.path.dirname(HERE)
sys.path.insert(0, E2E)
import common  # noqa: E402
import vserial  # noqa: E402
from common import Failure, wait_until  # noqa: E402

# Displays :80 and up; each stage takes the first free one, so runs can go
# side by side with other users of the machine.
FIRST_DISPLAY = 80

# Template 102's size and the controls the tests press, in dialog units
# (x, y, width, height as app/resources/dialog_template.cpp has them). The
# window is the template's client area scaled by the dialog font, so pixel
# positions follow from the window's own size. The height of a drop-down
# list is that of its closed box.
DIALOG_UNITS = (117, 121)
START_STOP = (24, 97, 70, 15)
BAUDRATE = (59, 46, 40, 12)


class PortLine(vserial.VirtualSerial):
    """A pty as the scanner's line, linked as ports/comN in the program's
    folder (the first place the program looks for COMn)."""

    def __init__(self, folder, port):
        os.makedirs(os.path.join(folder, "ports"), exist_ok=True)
        super().__init__(port, os.path.join(folder, "ports", "com%d" % port))
        self.device = None

    def open(self):
        super().open()
        self.device = os.ttyname(self.slave)

    def close(self):
        super().close()
        self.device = None


class Display:
    """An Xvfb of our own (-noreset keeps the layout set on it when its last
    client leaves), with an X keyboard layout and a tray host."""

    def __init__(self, layout="us", tray=True, existing=None):
        self.xvfb = None
        self.tray = None
        self.panel = None
        if existing:
            # The user's own display: its layout and tray host are theirs.
            self.name, self.layout = existing, None
            self.env = dict(os.environ, DISPLAY=existing)
            return
        self.xvfb = common.Xvfb(FIRST_DISPLAY, 120)
        self.name, self.env = self.xvfb.name, self.xvfb.env
        try:
            # Wait until the server answers before the first real request.
            wait_until("the X server", lambda: subprocess.call(
                ["xdpyinfo"] if shutil.which("xdpyinfo") else ["xwininfo", "-root"],
                env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL) == 0,
                timeout=15)
            self.set_layout(layout)
            if tray:
                self.start_tray()
        except BaseException:
            self.close()
            raise

    def x(self, *command, timeout=30, check=False):
        return subprocess.run(list(command), env=self.env, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=timeout,
                              check=check).stdout.decode("utf-8", "replace")

    def set_layout(self, layout):
        common.set_keyboard_layout(self.env, layout)
        self.layout = layout

    # -- the tray host --------------------------------------------------------
    def start_tray(self):
        self.tray = subprocess.Popen(
            ["trayer", "--edge", "bottom", "--align", "right", "--widthtype", "request",
             "--height", "32", "--SetDockType", "false", "--SetPartialStrut", "false",
             "--transparent", "false"],
            env=self.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.panel = wait_until("the tray host's panel", lambda: self.tray_panel(), timeout=15)

    def tray_panel(self):
        m = re.search(r"^\s+(0x[0-9a-f]+) \"panel\": \(\"panel\" \"trayer\"\)",
                      self.x("xwininfo", "-root", "-children"), re.M)
        return m.group(1) if m else None

    def tray_windows(self):
        """Every window inside the tray host's panel: the host's socket for
        each icon and the icon's own window inside it."""
        if self.panel is None:
            return []
        out = self.x("xwininfo", "-tree", "-id", self.panel)
        return re.findall(r"^\s+(0x[0-9a-f]+) (.*)$", out, re.M)

    def tray_icons(self):
        """The icons' own windows in the panel (they carry a name; the host's
        sockets do not). A client that dies while being embedded can leave
        trayer an empty socket, which is no icon."""
        return [w for w, rest in self.tray_windows() if rest.startswith('"')]

    def tray_slot(self, icon):
        """The host's socket that holds `icon`: the room the icon takes in
        the tray, which the host removes when the icon goes."""
        m = re.search(r"Parent window id: (0x[0-9a-f]+)", self.x("xwininfo", "-children",
                                                                  "-id", str(icon)))
        return m.group(1) if m else None

    def tray_gone(self, slot):
        """Neither the icon nor its place in the tray is left."""
        return all(w != slot for w, _ in self.tray_windows())

    def tray_icon(self, pid):
        """The window of `pid`'s tray icon inside the panel, or None."""
        mine = set(int(w) for w in self.x("xdotool", "search", "--pid", str(pid)).split())
        for window, _ in self.tray_windows():
            if int(window, 16) in mine:
                return window
        return None

    def click(self, window, x, y, button=1):
        # Two clicks closer than the double-click interval would be one
        # double click to the toolkit, not two clicks.
        wait = getattr(self, "last_click", 0) + 0.6 - time.monotonic()
        if wait > 0:
            time.sleep(wait)
        self.last_click = time.monotonic()
        self.x("xdotool", "mousemove", "--window", str(window), str(x), str(y),
               "click", str(button))

    def focus(self, window):
        """Keyboard focus to `window`: there is no window manager, so the
        input focus is set directly (XSetInputFocus)."""
        self.x("xdotool", "windowfocus", str(window))

    def close_window(self, window):
        """The caption's close button: what a window manager sends for it,
        a WM_DELETE_WINDOW client message (there is no window manager here)."""
        x11 = ctypes.cdll.LoadLibrary(ctypes.util.find_library("X11"))
        x11.XOpenDisplay.restype = ctypes.c_void_p
        x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        x11.XInternAtom.restype = ctypes.c_ulong
        x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
        x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                                   ctypes.c_void_p]
        x11.XFlush.argtypes = x11.XCloseDisplay.argtypes = [ctypes.c_void_p]

        class ClientMessage(ctypes.Structure):
            _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                        ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                        ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                        ("format", ctypes.c_int), ("data", ctypes.c_long * 5),
                        ("pad", ctypes.c_long * 12)]  # an XEvent is 24 longs

        dpy = x11.XOpenDisplay(self.name.encode())
        if not dpy:
            raise RuntimeError("cannot open display %s" % self.name)
        try:
            event = ClientMessage(type=33, window=int(window), format=32,  # ClientMessage
                                  message_type=x11.XInternAtom(dpy, b"WM_PROTOCOLS", 0))
            event.data[0] = x11.XInternAtom(dpy, b"WM_DELETE_WINDOW", 0)
            x11.XSendEvent(dpy, int(window), 0, 0, ctypes.byref(event))
            x11.XFlush(dpy)
        finally:
            x11.XCloseDisplay(dpy)

    def mapped(self, window):
        return "IsViewable" in self.x("xwininfo", "-id", str(window))

    def geometry(self, window):
        out = self.x("xwininfo", "-id", str(window))
        values = [int(re.search(r"%s:\s+(-?\d+)" % key, out).group(1)) for key in
                  ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")]
        return values

    def window_image(self, window):
        """A digest of what `window` shows (to tell the tray icon's images apart)."""
        data = subprocess.run(["import", "-display", self.name, "-window", str(window),
                               "-depth", "8", "rgb:-"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, timeout=30).stdout
        return hashlib.sha1(data).hexdigest() if data else None

    def screenshot(self, path, rect=None):
        command = ["import", "-display", self.name, "-window", "root"]
        if rect:
            x, y, w, h = rect
            command += ["-crop", "%dx%d+%d+%d" % (w, h, max(x, 0), max(y, 0)), "+repage"]
        subprocess.run(command + [path], check=True, timeout=30)
        return path

    def close(self):
        if self.tray is not None:
            common.end(self.tray)
        if self.xvfb is not None:
            self.xvfb.close()


class KeySink:
    """The focused X application: keysink.py (Tk) logging its key presses."""

    def __init__(self, display, log, busy_ms=0):
        self.display = display
        self.log = log
        if os.path.exists(log):
            os.unlink(log)
        env = dict(display.env, LANG="C.UTF-8", LC_ALL="C.UTF-8")
        command = [sys.executable, os.path.join(HERE, "keysink.py"), log]
        if busy_ms:
            command.append(str(busy_ms))
        self.process = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        wait_until("the key sink", lambda: "READY" in self.text(), timeout=20)
        self.window = wait_until("the key sink's window", lambda: display.x(
            "xdotool", "search", "--class", "QuorvelKeySink").split(), timeout=10)[0]
        self.focus()

    def focus(self):
        if self.display.xvfb is None:
            # A desktop's window manager decides on focus: ask it first.
            self.display.x("xdotool", "windowactivate", self.window, timeout=10)
            time.sleep(0.3)
            if self.display.x("xdotool", "getwindowfocus").strip() == self.window:
                return
        self.display.focus(self.window)
        wait_until("the key sink in focus",
                   lambda: self.display.x("xdotool", "getwindowfocus").strip() == self.window,
                   timeout=10)

    def text(self):
        try:
            with open(self.log, encoding="utf-8") as f:
                return f.read()
        except FileNotFoundError:
            return ""

    def events(self):
        """(keysym, characters, arrival time) of every key press received."""
        events = []
        for line in self.text().splitlines():
            parts = line.split()
            if len(parts) == 4 and parts[0] == "KEY":
                chars = "" if parts[2] == "-" else "".join(
                    chr(int(c, 16)) for c in parts[2].split(","))
                events.append((parts[1], chars, float(parts[3])))
        return events

    def typed(self):
        return "".join(chars for _, chars, _ in self.events())

    def wait_typed(self, expected, *, timeout):
        return wait_until("typed %r" % expected, lambda: self.typed() == expected and expected,
                          timeout=timeout, interval=0.005)

    def quiet_for(self, seconds, expected):
        """Nothing more arrives for a while (what a user would notice)."""
        time.sleep(seconds)
        if self.typed() != expected:
            raise Failure("typed %r, expected only %r" % (self.typed(), expected))

    def quiet_count(self, seconds):
        """The number of key presses received after waiting `seconds`."""
        time.sleep(seconds)
        return len(self.events())

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()


class Program(common.ProgramFolder):
    """quorvelce in a portable folder of its own (the executable with
    QuorvelCE.INI beside it and ports/comN), with its own runtime folder so
    that its one-instance lock is its own."""

    def __init__(self, stage, name, settings, runtime=None):
        super().__init__(stage.work, name, stage.exe, "quorvelce", settings)
        self.stage = stage
        self.runtime = runtime or stage.runtime
        self.output = os.path.join(self.folder, "output.log")

    def start(self):
        env = dict(self.stage.display.env, XDG_RUNTIME_DIR=self.runtime,
                   XDG_CONFIG_HOME=os.path.join(self.stage.work, "config"),
                   QT_QPA_PLATFORM="xcb", LANG="C.UTF-8")
        self.started_at = time.monotonic()
        with open(self.output, "ab") as out:
            self.process = subprocess.Popen([self.exe], cwd=self.folder, env=env,
                                            stdout=out, stderr=out)
        return self

    def holds(self, device):
        """Whether the program has `device` open (its port is open: "LS3578 ready")."""
        return device is not None and self.running() and common.holds(self.process.pid, device)

    def windows(self):
        if not self.running():
            return []
        return self.stage.display.x("xdotool", "search", "--pid",
                                    str(self.process.pid)).split()

    def dialog(self):
        """The dialog's window (its caption starts with "QuorvelCE - " once
        started, or is "QuorvelCE" before), not the tray icon."""
        icon = self.tray_icon()
        for window in self.windows():
            if window == icon or (icon and int(window) == int(icon, 16)):
                continue
            name = self.stage.display.x("xdotool", "getwindowname", window).strip()
            if name.startswith("QuorvelCE"):
                width = self.stage.display.geometry(window)[2]
                if width > 50:
                    return window
        return None

    def caption(self, window):
        return self.stage.display.x("xdotool", "getwindowname", str(window)).strip()

    def tray_icon(self):
        return self.stage.display.tray_icon(self.process.pid) if self.running() else None

    def press(self, dialog, control):
        """A click in the middle of a control of the dialog, placed by the
        template's dialog units scaled to the window's size."""
        _, _, width, height = self.stage.display.geometry(dialog)
        x, y, cx, cy = control
        self.stage.display.click(dialog, int((x + cx / 2) * width / DIALOG_UNITS[0]),
                                 int((y + cy / 2) * height / DIALOG_UNITS[1]))

    def end(self, timeout=10):
        """SIGTERM (the tray quit); returns the exit status."""
        if self.running():
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                pass
        return self.process.poll() if self.process else None


class Stage:
    """Display, tray host, key sink, scanner line and programs for one test."""

    def __init__(self, build, name, layout="us", tray=True, existing_display=None):
        self.build = os.path.abspath(build)
        self.exe = os.path.join(self.build, "app", "quorvelce")
        if not os.path.exists(self.exe):
            raise Failure("%s is missing: build the linux preset" % self.exe)
        self.work = os.path.join(self.build, "tests", "e2e", "linux-work", name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.runtime = tempfile.mkdtemp(prefix="quorvel-run-")
        self.programs = []
        self.lines = []
        self.sink = None
        self.display = Display(layout, tray, existing_display)

    def start_sink(self):
        self.sink = KeySink(self.display, os.path.join(self.work, "keys.log"))
        return self.sink

    def program(self, name, settings, runtime=None):
        p = Program(self, name, settings, runtime)
        self.programs.append(p)
        return p

    def line(self, program, port=1):
        line = PortLine(program.folder, port)
        self.lines.append(line)
        return line

    def start_program(self, name, settings, port=1):
        """A program on its own scanner line, started and holding its port."""
        program = self.program(name, settings)
        line = self.line(program, port)
        line.open()
        program.start()
        started(program, timeout=30)
        wait_until("the port open", lambda: program.holds(line.device), timeout=20)
        return program, line

    def close(self):
        for p in self.programs:
            p.kill()
        if self.sink:
            self.sink.close()
        for line in self.lines:
            line.close()
        self.display.close()
        shutil.rmtree(self.runtime, ignore_errors=True)


def started(program, *, timeout):
    """Waits for the auto-start: the dialog hidden with "QuorvelCE - Started"."""
    dialog = wait_until("the dialog", program.dialog, timeout=timeout)
    wait_until("auto-start", lambda: program.caption(dialog) == "QuorvelCE - Started"
               and not program.stage.display.mapped(dialog), timeout=timeout)
    return dialog
