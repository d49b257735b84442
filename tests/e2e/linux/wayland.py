#!/usr/bin/env python3
"""The keystroke output under Wayland, in a headless sway of our own (run as
a user of its own when we are root), with wayland_tool doing the program's
part:
- keymap: the keymap the output reads through wl_keyboard is the one sway
  was set to at run time (swaymsg input * xkb_layout), on us, fr, de, gb and
  a two-group us,fr after a group switch;
- receivers: every printable Windows-1252 character, in lines ended by CR,
  and a Tab, typed by the real reception thread with "Active keyboard
  layout" through the virtual keyboard into foot and into a GTK 3 text view
  (GDK_BACKEND=wayland), on twelve layouts, with the user's Caps Lock off and
  on: nothing wrong, nothing missing. Prints the figures per layout.
- restart: sway killed (SIGKILL) in the middle of a 150-character scan; the
  scans while it is gone say once that keystrokes cannot be typed; a new
  sway on the same display then gets the next scan whole, in its focused
  foot; a keymap upload that fails (memfd_create) loses no character.
Headless sway has no keyboard: a virtual keyboard with the layout's keymap
stands for the user's (wayland_tool keyboard). Exits 77 without sway.
Run:  wayland.py --build build/linux [keymap receivers latency]
"""
import difflib
import json
import re
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))
import common  # noqa: E402
from common import Failure, check, wait_until  # noqa: E402

LAYOUTS = ["us", "gb", "fr", "de", "es", "it", "ch", "se", "pt", "br", "pl", "us(dvorak)"]
LINE_LENGTH = 40


class Tools:
    def __init__(self, build):
        self.tool = os.path.abspath(os.path.join(build, "tests", "e2e", "linux",
                                                 "quorvel_wayland_tool"))


def stand_in_keyboard(sway, tool, layout, caps=False):
    """The user's keyboard, kept until its standard input closes."""
    keyboard = sway.popen([tool, "keyboard", layout] + (["caps"] if caps else []),
                          stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    check(keyboard.stdout.readline().strip() == b"READY", "the stand-in keyboard failed")
    return keyboard


def close_keyboard(keyboard):
    keyboard.stdin.close()
    keyboard.wait(timeout=30)


def read_keymap(sway, tool, layout):
    out = sway.run([tool, "keymap", layout]).stdout.decode("utf-8", "replace")
    head = out.split("KEYMAP\n")[0]
    return dict(line.split(" ", 1) for line in head.splitlines() if " " in line)


def keymap_case(build):
    tool = Tools(build).tool
    expected_names = {"us": "English (US)", "fr": "French", "de": "German",
                      "gb": "English (UK)", "us,fr": "English (US),French"}
    for layout, names in expected_names.items():
        sway = common.Sway("us")
        keyboard = None
        try:
            keyboard = stand_in_keyboard(sway, tool, "us")
            # sway's configuration at run time replaces every keyboard's keymap.
            sway.swaymsg('input * xkb_layout "%s"' % layout)
            seen = read_keymap(sway, tool, layout)
            print("%-6s layouts %-22s %s group %s" % (layout, seen.get("LAYOUTS"),
                  "SAME" if "SAME" in seen else "DIFFERENT", seen.get("GROUP")))
            check(seen.get("LAYOUTS") == names, "%s: read %r" % (layout, seen))
            check("SAME" in seen, "%s: not the keymap sway was set to" % layout)
            check(seen.get("GROUP") == "0 first", "%s: group %r" % (layout, seen.get("GROUP")))
            if "," in layout:
                sway.swaymsg("input * xkb_switch_layout 1")
                group = read_keymap(sway, tool, layout).get("GROUP")
                print("%-6s after xkb_switch_layout 1: group %s" % (layout, group))
                # The group when sway reports it; the first when it does not.
                check(group in ("1 reported", "0 first"), "group after the switch: %r" % group)
        finally:
            if keyboard:
                close_keyboard(keyboard)
            sway.close()


def scan_lines():
    chars = [bytes([b]).decode("cp1252") for b in range(0x20, 0x100)
             if b != 0x7F and b not in (0x81, 0x8D, 0x8F, 0x90, 0x9D)]
    lines = ["".join(chars[i:i + LINE_LENGTH]) for i in range(0, len(chars), LINE_LENGTH)]
    lines[0] = lines[0][:10] + "\t" + lines[0][10:]
    return lines


class Foot:
    name = "foot"
    line_end = "\r"

    def __init__(self, sway, path):
        self.path = path
        self.process = sway.popen(["foot", "-e", "sh", "-c", "stty raw -echo; cat > %s" % path],
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_until("foot's output file", lambda: os.path.exists(path), timeout=30)

    def text(self):
        with open(self.path, "rb") as f:
            return f.read().decode("utf-8", "replace")

    def close(self):
        common.end(self.process)


class GtkView(Foot):
    name = "GTK 3"
    line_end = "\n"

    def __init__(self, sway, path):
        self.path = path
        # The system Python: python3-gi is installed for it.
        env_command = ["env", "GDK_BACKEND=wayland", "NO_AT_BRIDGE=1", "/usr/bin/python3",
                       os.path.join(HERE, "gtk_receiver.py"), path]
        self.process = sway.popen(env_command, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        wait_until("the GTK view's focus", lambda: os.path.exists(path), timeout=30)


def focused_window(sway):
    """The app_id of the window sway gives the keyboard, or None."""
    def find(node):
        if node.get("focused") and node.get("type") == "con":
            return node.get("app_id") or node.get("name")
        for child in node.get("nodes", []) + node.get("floating_nodes", []):
            found = find(child)
            if found:
                return found
        return None
    try:
        return find(json.loads(sway.swaymsg("-t", "get_tree")))
    except ValueError:
        return None


def count(expected, received):
    """Characters right (in place), wrong and missing."""
    matcher = difflib.SequenceMatcher(None, expected, received, autojunk=False)
    right = sum(block.size for block in matcher.get_matching_blocks())
    missing = max(len(expected) - len(received), 0)
    return right, len(expected) - right - missing, missing


def type_into(sway, tool, receiver, data, delay):
    typist = sway.popen([tool, "type", str(delay)], stdin=subprocess.PIPE,
                        stdout=subprocess.PIPE)
    try:
        check(typist.stdout.readline().strip() == b"OUTPUT ready", "no keystroke output")
        typist.stdin.write(data)
        typist.stdin.close()
        typist.wait(timeout=300)
    finally:
        common.end(typist)


def receivers_case(build):
    tool = Tools(build).tool
    lines = scan_lines()
    data = b"".join(line.encode("cp1252") + b"\r" for line in lines)
    sent = sum(len(line) + 1 for line in lines)
    bad = []
    print("layout      caps  receiver  sent  right  wrong  missing")
    for layout in LAYOUTS:
        sway = common.Sway(layout)
        try:
            for caps in (False, True):
                for kind in (Foot, GtkView):
                    keyboard = stand_in_keyboard(sway, tool, layout, caps)
                    path = os.path.join(sway.runtime, "received-%s.txt" % kind.__name__)
                    if os.path.exists(path):
                        os.unlink(path)
                    receiver = kind(sway, path)
                    try:
                        wait_until("a window with the focus", lambda: focused_window(sway),
                                   timeout=30)
                        # The user's own key first: Caps Lock is on in the
                        # receiver when it types A.
                        keyboard.stdin.write(b"a\n")
                        keyboard.stdin.flush()
                        check(keyboard.stdout.readline().strip() == b"TYPED", "no user's key")
                        users = "A" if caps else "a"
                        wait_until("the user's key", lambda: receiver.text(), timeout=10)
                        expected = users + "".join(line + kind.line_end for line in lines)
                        type_into(sway, tool, receiver, data, 1)
                        try:
                            wait_until("the scan", lambda: receiver.text().count(kind.line_end)
                                       >= len(lines), timeout=20)
                        except Failure:
                            pass
                        time.sleep(0.3)
                        received = receiver.text()
                        check(received[:1] == users, "%s caps %s: the user's key typed %r" % (
                            layout, caps, received[:1]))
                        right, wrong, missing = count(expected[1:], received[1:])
                        print("%-10s  %-4s  %-8s  %4d  %5d  %5d  %7d" % (
                            layout, "on" if caps else "off", receiver.name, sent, right,
                            wrong, missing))
                        if wrong or missing:
                            bad.append("%s caps %s %s: sent %r received %r" % (
                                layout, caps, receiver.name, expected, received))
                    finally:
                        receiver.close()
                        close_keyboard(keyboard)
        finally:
            sway.close()
    for problem in bad:
        print("  " + problem)
    check(not bad, "%d runs with characters wrong or missing" % len(bad))


def windows(sway):
    """(app_id, title, shell) of every window sway shows."""
    found = []

    def walk(node):
        if node.get("type") in ("con", "floating_con") and node.get("shell"):
            found.append((node.get("app_id"), node.get("name"), node.get("shell")))
        for child in node.get("nodes", []) + node.get("floating_nodes", []):
            walk(child)
    walk(json.loads(sway.swaymsg("-t", "get_tree")))
    return found


def tray_case(build):
    """The program itself under sway, with Qt's Wayland plugin: its windows
    are native Wayland ones (xdg_shell, not XWayland), its tray icon is a
    StatusNotifierItem that swaybar (the host) lists, and activating it (a
    left click) hides the dialog and shows it again."""
    program = os.path.abspath(os.path.join(build, "app", "quorvelce"))
    bar = 'bar {\n  status_command while :; do date; sleep 5; done\n  tray_output *\n}\n'
    sway = common.Sway("us", session_bus=True, config=bar + "exec env > {runtime}/env.txt\n")
    master = slave = None
    try:
        folder = os.path.join(sway.runtime, "program")
        os.makedirs(os.path.join(folder, "ports"))
        shutil.copy(program, folder)
        with open(os.path.join(folder, "QuorvelCE.INI"), "w") as f:
            f.write(common.us_settings(1))
        # The scanner's line: a pty the program's user may open.
        master, slave = os.openpty()
        os.chown(os.ttyname(slave), sway.user.pw_uid, -1)
        os.symlink(os.ttyname(slave), os.path.join(folder, "ports", "com1"))
        for path in (folder, os.path.join(folder, "ports"), os.path.join(folder, "QuorvelCE.INI")):
            os.chown(path, sway.user.pw_uid, sway.user.pw_gid, follow_symlinks=False)
        env_file = os.path.join(sway.runtime, "env.txt")
        bus = wait_until("the session bus", lambda: os.path.exists(env_file) and [
            line.split("=", 1)[1] for line in open(env_file).read().splitlines()
            if line.startswith("DBUS_SESSION_BUS_ADDRESS=")], timeout=30)[0]
        sway.env["DBUS_SESSION_BUS_ADDRESS"] = bus
        started = sway.popen(["sh", "-c", "cd %s && QT_QPA_PLATFORM=wayland exec ./quorvelce"
                              % folder], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

        def busctl(*arguments):
            return sway.run(["busctl", "--user"] + list(arguments),
                            stderr=subprocess.DEVNULL).stdout.decode()
        items = wait_until("the tray icon registered with swaybar", lambda: re.findall(
            r'"([^"]+)/StatusNotifierItem"', busctl(
                "get-property", "org.kde.StatusNotifierWatcher", "/StatusNotifierWatcher",
                "org.kde.StatusNotifierWatcher", "RegisteredStatusNotifierItems")), timeout=30)
        title = busctl("get-property", items[0], "/StatusNotifierItem",
                       "org.kde.StatusNotifierItem", "Title")
        print("tray item %s: %s" % (items[0], title.strip()))
        check("QuorvelCE" in title, "the tray item's title: %r" % title)

        def shown():
            return [w for w in windows(sway) if w[0] == "quorvelce"]

        def activate():
            busctl("call", items[0], "/StatusNotifierItem", "org.kde.StatusNotifierItem",
                   "Activate", "ii", "10", "10")
        # The dialog at start (as on X), then a click hides it and the next
        # shows it again.
        dialog = wait_until("the dialog", shown, timeout=20)
        print("dialog: %r" % dialog)
        check(dialog[0][2] == "xdg_shell", "the dialog is no native Wayland window: %r" % dialog)
        activate()
        wait_until("the dialog hidden by a click", lambda: not shown(), timeout=20)
        activate()
        wait_until("the dialog shown by a click", shown, timeout=20)
        common.end(started)
    finally:
        sway.close()
        for fd in (master, slave):
            if fd is not None:
                os.close(fd)


SCAN = b"4006381333931"


class Typist:
    """wayland_tool type, kept open: scans go to its port as they are written."""

    def __init__(self, popen, tool, delay):
        self.process = popen([tool, "type", str(delay)], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE)
        check(self.process.stdout.readline().strip() == b"OUTPUT ready", "no keystroke output")

    def write(self, data):
        self.process.stdin.write(data)
        self.process.stdin.flush()

    def close(self):
        self.process.stdin.close()
        self.process.wait(timeout=60)


def enter_latency(typist, path, repeat):
    """Median time from the carriage return's write to the Enter's arrival,
    the 13 digits written 0.4 s before it (the line waits for its end)."""
    samples = []
    for _ in range(repeat):
        before = read_text(path).count("\r")
        typist.write(SCAN)
        time.sleep(0.4)
        sent = time.monotonic()
        typist.write(b"\r")
        wait_until("the Enter", lambda: read_text(path).count("\r") > before, timeout=20,
                   interval=0.0005)
        samples.append(time.monotonic() - sent)
        time.sleep(0.2)
    return statistics.median(samples)


def read_text(path):
    try:
        with open(path, "rb") as f:
            return f.read().decode("utf-8", "replace")
    except OSError:
        return ""


def latency_case(build, repeat=15):
    """Figures only: CR to Enter through the virtual keyboard into foot, and
    through XTest into xterm on Xvfb, at stroke delays 1 and 0."""
    tool = Tools(build).tool
    for delay in (1, 0):
        sway = common.Sway("us")
        try:
            keyboard = stand_in_keyboard(sway, tool, "us")
            path = os.path.join(sway.runtime, "latency.txt")
            foot = Foot(sway, path)
            typist = Typist(sway.popen, tool, delay)
            ms = 1000 * enter_latency(typist, path, repeat)
            typist.close()
            foot.close()
            close_keyboard(keyboard)
            print("virtual keyboard (sway, foot)  delay %d: CR to Enter %.1f ms" % (delay, ms))
        finally:
            sway.close()
        if not shutil.which("Xvfb") or not shutil.which("xterm"):
            continue
        xvfb = common.Xvfb(80, 120)
        folder = tempfile.mkdtemp(prefix="quorvel-latency-")
        env = {k: v for k, v in xvfb.env.items() if k not in ("WAYLAND_DISPLAY",
                                                               "XDG_SESSION_TYPE")}
        try:
            path = os.path.join(folder, "latency.txt")
            xterm = subprocess.Popen(["xterm", "-e", "sh", "-c", "stty raw -echo; cat > " + path],
                                     env=env)
            wait_until("xterm", lambda: os.path.exists(path), timeout=30)
            window = wait_until("xterm's window", lambda: subprocess.run(
                ["xdotool", "search", "--class", "xterm"], env=env, stdout=subprocess.PIPE
            ).stdout.split(), timeout=30)[-1]
            subprocess.run(["xdotool", "windowfocus", "--sync", window], env=env, timeout=30)
            typist = Typist(lambda c, **o: subprocess.Popen(c, env=env, **o), tool, delay)
            ms = 1000 * enter_latency(typist, path, repeat)
            typist.close()
            common.end(xterm)
            print("XTest (Xvfb, xterm)            delay %d: CR to Enter %.1f ms" % (delay, ms))
        finally:
            xvfb.close()
            shutil.rmtree(folder, ignore_errors=True)


def descendants(pid):
    found = []
    for task in os.listdir("/proc/%d/task" % pid):
        try:
            with open("/proc/%d/task/%s/children" % (pid, task)) as f:
                children = [int(c) for c in f.read().split()]
        except OSError:
            continue
        for child in children:
            found += [child] + descendants(child)
    return found


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False


def sway_pid(sway):
    """sway itself, which may run under runuser."""
    for pid in [sway.process.pid] + descendants(sway.process.pid):
        try:
            with open("/proc/%d/comm" % pid) as f:
                if f.read().strip() == "sway":
                    return pid
        except OSError:
            pass
    return None


def restart_sway(sway):
    """A new sway in the same runtime folder, on the same display."""
    sway.process = sway.popen(["sway", "-c", os.path.join(sway.runtime, "config")],
                              stdout=open(sway.log, "ab"), stderr=subprocess.STDOUT)
    pid = wait_until("the new sway", lambda: sway_pid(sway), timeout=30)
    ipc = wait_until("the new sway's IPC socket", lambda: [
        n for n in os.listdir(sway.runtime) if re.fullmatch(r"sway-ipc\.\d+\.%d\.sock" % pid, n)],
        timeout=30)
    sway.env["SWAYSOCK"] = os.path.join(sway.runtime, ipc[0])
    wait_until("the display", lambda: os.path.exists(
        os.path.join(sway.runtime, sway.env["WAYLAND_DISPLAY"])), timeout=30)


def restart_case(build):
    tool = Tools(build).tool
    scan = "".join(scan_lines()).replace("\t", "")[:150]
    check(len(scan) == 150, "the scan's length")
    data = scan.encode("cp1252") + b"\r"
    sway = common.Sway("us")
    typist = keyboard = foot = None
    errors = os.path.join(sway.runtime, "typist.err")
    try:
        keyboard = stand_in_keyboard(sway, tool, "us")
        foot = Foot(sway, os.path.join(sway.runtime, "before.txt"))
        wait_until("a window with the focus", lambda: focused_window(sway), timeout=30)
        # One keymap upload fails: the line's keys wait for the next one.
        typist = sway.popen([tool, "type", "5", "1"], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=open(errors, "wb"))
        check(typist.stdout.readline().strip() == b"OUTPUT ready", "no keystroke output")
        typist.stdin.write(data)
        typist.stdin.flush()
        wait_until("the first scan", lambda: foot.text().count("\r") >= 1, timeout=30)
        first = foot.text()
        print("failed upload: %d of %d characters right" % (count(scan + "\r", first)[0],
                                                            len(data)))
        check(first == scan + "\r", "after a failed upload: %r" % first)

        typist.stdin.write(data)
        typist.stdin.flush()
        wait_until("the scan under way", lambda: len(foot.text()) > len(first) + 20, timeout=30)
        os.kill(wait_until("sway", lambda: sway_pid(sway), timeout=30), 9)
        sway.process.wait(timeout=30)
        print("sway killed after %d characters of the second scan" % (
            len(foot.text()) - len(first)))
        # Its compositor gone, foot ends.
        foot.process.wait(timeout=30)
        close_keyboard(keyboard)
        foot = keyboard = None
        # Two scans with no compositor: said once.
        for _ in range(2):
            typist.stdin.write(data)
            typist.stdin.flush()
            wait_until("the message", lambda: "ne peut être tapée" in read_text(errors),
                       timeout=30)
        # The second scan, typed into nothing, before sway comes back.
        time.sleep(3)

        restart_sway(sway)
        keyboard = stand_in_keyboard(sway, tool, "us")
        foot = Foot(sway, os.path.join(sway.runtime, "after.txt"))
        wait_until("a window with the focus", lambda: focused_window(sway), timeout=30)
        typist.stdin.write(data)
        typist.stdin.flush()
        wait_until("the scan after the restart", lambda: "\r" in foot.text(), timeout=30)
        time.sleep(0.3)
        after = foot.text()
        typist.stdin.close()
        typist.wait(timeout=60)
        typist = None
        said = read_text(errors)
        print("after the restart: %d of %d characters right, %d wrong or missing" % (
            count(scan + "\r", after)[0], len(data), len(data) - count(scan + "\r", after)[0]))
        print("messages:\n" + said.strip())
        check(after == scan + "\r", "after the restart: %r" % after)
        check(said.count("Des touches sont perdues") == 1, "the loss is not said once")
        check(said.count("Aucune lecture ne peut être tapée") == 1, "no reconnection not said once")
        check("keymap cannot be sent" not in said, "a failed upload that lost nothing was said")
    finally:
        # What runs under runuser: waited for, so that none outlives the test.
        left = [pid for process in (typist, keyboard, foot and foot.process) if process
                for pid in descendants(process.pid)]
        # The typist ends when its input does: a signal to runuser would
        # leave it behind.
        if typist and typist.poll() is None:
            typist.stdin.close()
            typist.wait(timeout=60)
        if keyboard:
            close_keyboard(keyboard)
        if foot:
            foot.close()
        sway.close()
        wait_until("the clients' end", lambda: not [pid for pid in left if alive(pid)],
                   timeout=30)


CASES = {"keymap": keymap_case, "restart": restart_case, "receivers": receivers_case,
         "latency": latency_case, "tray": tray_case}

if __name__ == "__main__":
    if not all(shutil.which(p) for p in ("sway", "swaymsg", "foot")):
        print("SKIP: sway, swaymsg or foot is missing")
        sys.exit(77)
    sys.exit(common.run_command(["keymap", "receivers", "tray", "restart"], "build/linux",
                                lambda build, case: CASES[case](build)))
