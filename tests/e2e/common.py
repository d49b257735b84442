"""What every end-to-end, layout and package script shares, on Wine and on
Linux: failing with a reason, waiting for a condition with the caller's own
time limit, an Xvfb display of our own, a headless sway of our own, the program's settings file and its
folder, the ports a process holds, the keyboard layout lists and running
named cases one after the other. Python standard library only; the scripts
find it beside them or put this folder on sys.path.
"""
import argparse
import atexit
import difflib
import os
import pwd
import re
import shutil
import subprocess
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))


class Failure(AssertionError):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def wait_until(what, probe, *, timeout, interval=0.05):
    """Polls probe() until it gives something true; returns it, or fails
    naming what was awaited and the last thing seen. The time limit is the
    caller's: what is slow differs from one wait to the next."""
    end = time.monotonic() + timeout
    while True:
        last = probe()
        if last:
            return last
        if time.monotonic() >= end:
            raise Failure("timed out waiting for %s (last seen: %r)" % (what, last))
        time.sleep(interval)


def wait_or_note(what, probe, problems, *, timeout):
    """Waits as wait_until does, but a timeout goes into the list `problems`
    for the report rather than ending the test at once."""
    try:
        wait_until(what, probe, timeout=timeout)
    except Failure as e:
        problems.append(str(e))


def fail_on(problems, log, summary):
    """Prints each problem and then `log`, and fails with `summary`, when
    there are problems."""
    for problem in problems:
        print("  " + problem)
    if problems:
        print(log)
        raise Failure(summary)


def run_cases(names, run):
    """Runs run(name) for each name in turn, printing PASS or FAIL with the
    reason; returns the exit status (1 when any failed)."""
    failed = 0
    for name in names:
        try:
            run(name)
            print("PASS", name)
        except Failure as e:
            failed += 1
            print("FAIL %s: %s" % (name, e))
    return 1 if failed else 0


def run_command(cases, default_build, run):
    """The command line of a script of named cases, `--build DIR [--list]
    [CASE...]` (all cases when none is named): run(build, case) runs one.
    Returns the exit status."""
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=default_build)
    parser.add_argument("--list", action="store_true", help="print the cases' names")
    parser.add_argument("cases", nargs="*")
    args = parser.parse_args()
    if args.list:
        print("\n".join(cases))
        return 0
    return run_cases(args.cases or list(cases), lambda case: run(args.build, case))


class TestSet(dict):
    """Test functions by name, in the order they are defined (@TESTS.test)."""

    def test(self, function):
        self[function.__name__] = function
        return function


# -- displays -------------------------------------------------------------------

def _lock_owner(number):
    """The pid in display `number`'s lock file, or None."""
    try:
        with open("/tmp/.X%d-lock" % number) as f:
            return int(f.read().strip() or 0)
    except (OSError, ValueError):
        return None


def _display_taken(number):
    """Whether a live server holds display `number`. The lock file of a server
    that was killed stays behind; Xvfb itself takes such a number over, so a
    lock whose process is gone does not lose the number to every later run."""
    if not os.path.exists("/tmp/.X%d-lock" % number):
        return os.path.exists("/tmp/.X11-unix/X%d" % number)
    owner = _lock_owner(number)
    if not owner:
        return True
    try:
        os.kill(owner, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        pass
    return True


class Xvfb:
    """An Xvfb of our own at the first free display number from `first` on
    (-noreset keeps a layout set on it when its last client leaves). Runs
    side by side with others: another run may take a number between our look
    and our start, and the server whose pid the lock file holds has it."""

    def __init__(self, first, count):
        self.process = None
        for number in range(first, first + count):
            if _display_taken(number):
                continue
            xvfb = subprocess.Popen(["Xvfb", ":%d" % number, "-screen", "0", "1024x768x24",
                                     "-noreset", "-nolisten", "tcp"],
                                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            wait_until("Xvfb :%d" % number, lambda: xvfb.poll() is not None or (
                _lock_owner(number) == xvfb.pid and
                os.path.exists("/tmp/.X11-unix/X%d" % number)) or (
                _lock_owner(number) not in (None, xvfb.pid)), timeout=15)
            if xvfb.poll() is None and _lock_owner(number) == xvfb.pid:
                self.process, self.number = xvfb, number
                break
            if xvfb.poll() is None:
                xvfb.kill()
            xvfb.wait()
        if self.process is None:
            raise Failure("no free display number from :%d" % first)
        self.name = ":%d" % self.number
        self.env = dict(os.environ, DISPLAY=self.name)
        self.env.pop("WAYLAND_DISPLAY", None)

    def close(self):
        """Ends the server so that it removes its lock file and socket (a
        killed one leaves them, and the display number is lost to later runs)."""
        end(self.process)
        if _lock_owner(self.number) == self.process.pid:
            os.unlink("/tmp/.X%d-lock" % self.number)
            socket = "/tmp/.X11-unix/X%d" % self.number
            if os.path.exists(socket):
                os.unlink(socket)


# A headless sway refuses to run as root: as root the tests run it, and every
# client of it, as an unprivileged user. The developer may name one
# (QUORVEL_SWAY_USER, kept); otherwise each test process makes a system user of
# its own and removes it, with its home, when it exits.
SWAY_USER_PREFIX = "quorvel-wl"
_made_sway_user = []


def _remove_made_sway_user():
    for name in _made_sway_user:
        subprocess.run(["userdel", "--remove", name], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=60)
    del _made_sway_user[:]


def sway_user():
    """The user sway and its clients run as: an unprivileged one as root,
    else ourselves."""
    if os.geteuid() != 0:
        return pwd.getpwuid(os.geteuid())
    named = os.environ.get("QUORVEL_SWAY_USER")
    if named:
        user = pwd.getpwnam(named)
        if user.pw_uid == 0:
            raise Failure("QUORVEL_SWAY_USER names root; sway needs an unprivileged user")
        return user
    if _made_sway_user:
        return pwd.getpwnam(_made_sway_user[0])
    name = "%s%d" % (SWAY_USER_PREFIX, os.getpid())
    subprocess.run(["useradd", "--system", "--create-home", "--home-dir", "/var/lib/" + name,
                    "--shell", "/usr/sbin/nologin", name], check=True, timeout=60)
    if not _made_sway_user:
        atexit.register(_remove_made_sway_user)
    _made_sway_user.append(name)
    return pwd.getpwnam(name)


class Sway:
    """A headless sway (no GPU, no input device of its own) with the XKB
    layout `layout` ("fr", "us(dvorak)", "us,fr") and `config` in its
    configuration ({runtime} there is the runtime folder), in a 0700 runtime folder of its user, in a D-Bus session
    of its own with `session_bus`. Clients start through run/popen, as that
    user, with its WAYLAND_DISPLAY and SWAYSOCK."""

    def __init__(self, layout, config="", session_bus=False):
        self.user = sway_user()
        self.runtime = tempfile.mkdtemp(prefix="quorvel-sway-")
        os.chown(self.runtime, self.user.pw_uid, self.user.pw_gid)
        os.chmod(self.runtime, 0o700)
        names, variant = (layout.rstrip(")").split("(") + [""])[:2]
        config_file = os.path.join(self.runtime, "config")
        with open(config_file, "w") as f:
            f.write("input * xkb_layout %s\n" % names)
            if variant:
                f.write("input * xkb_variant %s\n" % variant)
            f.write(config.replace("{runtime}", self.runtime))
        self.env = {"HOME": self.user.pw_dir, "PATH": "/usr/bin:/bin:/usr/sbin:/sbin",
                    "XDG_RUNTIME_DIR": self.runtime, "LANG": "C.UTF-8",
                    "WLR_BACKENDS": "headless", "WLR_LIBINPUT_NO_DEVICES": "1",
                    "WLR_RENDERER": "pixman"}
        self.log = os.path.join(self.runtime, "sway.log")
        # A D-Bus session of its own for StatusNotifierItem clients and hosts.
        self.process = self.popen((["dbus-run-session", "--"] if session_bus else []) +
                                  ["sway", "-c", config_file], stdout=open(self.log, "wb"),
                                  stderr=subprocess.STDOUT)
        try:
            socket = wait_until("sway's socket", lambda: self.process.poll() is not None or [
                n for n in os.listdir(self.runtime) if re.fullmatch(r"wayland-\d+", n)],
                timeout=30)
            if self.process.poll() is not None:
                raise Failure("sway ended at once:\n" + read(self.log).decode("utf-8", "replace"))
            ipc = wait_until("sway's IPC socket", lambda: [
                n for n in os.listdir(self.runtime) if n.startswith("sway-ipc.")], timeout=30)
            self.env["WAYLAND_DISPLAY"] = socket[0]
            self.env["SWAYSOCK"] = os.path.join(self.runtime, ipc[0])
        except BaseException:
            self.close()
            raise

    def command(self, command):
        if os.geteuid() == 0 and self.user.pw_uid != 0:
            return ["runuser", "-u", self.user.pw_name, "--"] + list(command)
        return list(command)

    def popen(self, command, **options):
        return subprocess.Popen(self.command(command), env=self.env, **options)

    def run(self, command, **options):
        return subprocess.run(self.command(command), env=self.env, stdout=subprocess.PIPE,
                              timeout=options.pop("timeout", 60), **options)

    def swaymsg(self, *arguments):
        return self.run(["swaymsg"] + list(arguments)).stdout.decode("utf-8", "replace")

    def close(self):
        # sway itself is asked to go: a signal to runuser or dbus-run-session
        # does not reach it.
        if "SWAYSOCK" in self.env and self.process.poll() is None:
            try:
                self.run(["swaymsg", "exit"], stderr=subprocess.DEVNULL, timeout=10)
                self.process.wait(timeout=10)
            except (subprocess.TimeoutExpired, OSError):
                pass
        end(self.process)
        shutil.rmtree(self.runtime, ignore_errors=True)


def set_keyboard_layout(env, layout):
    """`setxkbmap layout` on the display of `env`, checked: a layout X does
    not know leaves the old one in place without a word."""
    subprocess.run(["setxkbmap", layout], env=env, check=True, timeout=30)
    query = subprocess.run(["setxkbmap", "-query"], env=env, stdout=subprocess.PIPE,
                           check=True, timeout=30).stdout.decode()
    if not re.search(r"^layout:\s*%s\s*$" % re.escape(layout), query, re.M):
        raise Failure("setxkbmap %s did not take: %s" % (layout, query))


# -- processes ------------------------------------------------------------------

def end(process):
    """Terminates `process` and waits for it; kills it when it takes more
    than ten seconds."""
    if process.poll() is None:
        process.terminate()
        try:
            process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()


def holds(pid, device):
    """Whether process `pid` has `device` open (a program's port is open:
    "LS3578 ready")."""
    fd_dir = "/proc/%d/fd" % pid
    try:
        fds = os.listdir(fd_dir)
    except OSError:
        return False
    for fd in fds:
        try:
            if os.readlink(os.path.join(fd_dir, fd)) == device:
                return True
        except OSError:
            pass
    return False


def cpu_seconds(pid):
    """User and system CPU time of `pid` so far."""
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


# -- the program and its settings -----------------------------------------------

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


class ProgramFolder:
    """A copy of the program in a fresh folder of its own with its settings
    file beside it (none when `settings` is None), as users keep it; the
    backends' stages start it their way."""

    def __init__(self, work, name, exe, exe_name, settings):
        self.folder = os.path.join(work, name)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        self.exe = os.path.join(self.folder, exe_name)
        shutil.copy(exe, self.exe)
        self.ini = os.path.join(self.folder, "QuorvelCE.INI")
        if settings is not None:
            with open(self.ini, "wb") as f:
                f.write(settings.encode("utf-8"))
        self.process = None
        self.started_at = None

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


# -- the keyboard layout lists of dist/layouts ------------------------------------

# xkb layout name -> (table section, layout list in dist/layouts).
LAYOUTS = {
    "us": ("US English", "us-english.txt"),
    "gb": ("UK English", "uk-english.txt"),
    "fr": ("French AZERTY", "french-azerty.txt"),
    "de": ("German QWERTZ", "german-qwertz.txt"),
}

VK = {"VK_TAB": 0x09, "VK_RETURN": 0x0D, "VK_SPACE": 0x20, "VK_OEM_1": 0xBA,
      "VK_OEM_PLUS": 0xBB, "VK_OEM_COMMA": 0xBC, "VK_OEM_MINUS": 0xBD, "VK_OEM_PERIOD": 0xBE,
      "VK_OEM_2": 0xBF, "VK_OEM_3": 0xC0, "VK_OEM_4": 0xDB, "VK_OEM_5": 0xDC, "VK_OEM_6": 0xDD,
      "VK_OEM_7": 0xDE, "VK_OEM_8": 0xDF, "VK_OEM_102": 0xE2}
VK.update({"VK_%s" % c: ord(c) for c in "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"})
VK_NAME = {code: name for name, code in VK.items()}


def read_layout_list(list_file):
    """(character, virtual key or None, modifier or None) per list line."""
    entries = []
    path = os.path.join(SOURCE, "dist", "layouts", list_file)
    with open(path, encoding="utf-8") as f:
        for line in f:
            tokens = line.split()
            if not tokens or tokens[0].startswith("#"):
                continue
            token = tokens[0]
            if token.lower().startswith("0x"):
                character = bytes([int(token[2:], 16)]).decode("cp1252")
            elif token.upper().startswith("U+") and len(token) > 2:
                character = chr(int(token[2:], 16))
            else:
                character = token
            key = None if tokens[1].lower() == "none" else VK[tokens[1]]
            modifier = tokens[2].lower() if len(tokens) > 2 else None
            entries.append((character, key, modifier))
    return entries


def describe(character):
    return "%r (U+%04X)" % (character, ord(character))


def entry_text(entry):
    character, key, modifier = entry
    return "%s = %s%s" % (describe(character), VK_NAME.get(key, key),
                          "+" + modifier if modifier else "")


def mismatches(expected, received):
    """(sent, arrived instead) for each run where what arrived differs from
    what was sent, in order; empty when they are the same."""
    matcher = difflib.SequenceMatcher(None, expected, received, autojunk=False)
    return [(expected[e1:e2], received[r1:r2])
            for op, e1, e2, r1, r2 in matcher.get_opcodes() if op != "equal"]


def mismatch_text(by_byte, sent, received):
    """A run that arrived otherwise, in the list's words: the entries sent
    (`by_byte` maps a byte to its entry) and the characters received."""
    return "sent %s; received %s" % (
        ", ".join(entry_text(by_byte[c.encode("cp1252")[0]]) for c in sent) or "nothing",
        ", ".join(describe(c) for c in received) or "nothing")
