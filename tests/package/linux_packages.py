#!/usr/bin/env python3
"""The Debian package and the portable archive of the Linux program, made by
cpack from a build:
  deb  the package's files, modes, conffiles, control fields, dependencies
       (each library the program links is provided by a package it depends
       on) and lintian (no error or warning);
  run  the package unpacked with dpkg -x into a temporary root: the program
       copies its default settings into an empty XDG_CONFIG_HOME on first
       start and types a scan from a pty into a Tk window; the portable
       archive unpacked elsewhere does the same with the settings beside it.
Exit status 77 (skipped) when the program has not been built.
  linux_packages.py --build build/linux --program build/linux/app/quorvelce --version X deb|run
"""
import argparse
import ast
import glob
import gzip
import os
import pty
import re
import shutil
import signal
import subprocess
import sys
import tarfile
import tempfile
import tty

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import common  # noqa: E402
from common import SOURCE, Failure, check, read, wait_until  # noqa: E402

# Every file of the package, with its mode.
DEB_FILES = {
    "etc/xdg/autostart/quorvelce.desktop": 0o644,
    "usr/bin/quorvelce": 0o755,
    "usr/bin/quorvel-ini": 0o755,
    "usr/lib/udev/rules.d/70-quorvelce-scanners.rules": 0o644,
    "usr/lib/udev/rules.d/70-quorvelce-uinput.rules": 0o644,
    "usr/share/applications/quorvelce.desktop": 0o644,
    "usr/share/doc/quorvelce/changelog.gz": 0o644,
    "usr/share/doc/quorvelce/copyright": 0o644,
    "usr/share/icons/hicolor/16x16/apps/quorvelce.png": 0o644,
    "usr/share/icons/hicolor/32x32/apps/quorvelce.png": 0o644,
    "usr/share/man/man1/quorvelce.1.gz": 0o644,
    "usr/share/man/man1/quorvel-ini.1.gz": 0o644,
    "usr/share/quorvelce/QuorvelCE.INI": 0o644,
}


def make_packages(build, out):
    """The .deb and the .tar.gz as `cpack` makes them from this build."""
    made = subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake"),
                           "-B", out], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          timeout=300)
    check(made.returncode == 0, "cpack failed:\n" + made.stdout.decode("utf-8", "replace"))
    debs = glob.glob(os.path.join(out, "quorvelce_*.deb"))
    archives = glob.glob(os.path.join(out, "QuorvelCE-*-linux-*.tar.gz"))
    check(len(debs) == 1 and len(archives) == 1, "cpack made %s" % os.listdir(out))
    print("%s: %d bytes; %s: %d bytes" % (os.path.basename(debs[0]), os.path.getsize(debs[0]),
                                          os.path.basename(archives[0]),
                                          os.path.getsize(archives[0])))
    return debs[0], archives[0]


def deb_field(deb, name):
    return subprocess.run(["dpkg-deb", "-f", deb, name], stdout=subprocess.PIPE, check=True,
                          timeout=60).stdout.decode().strip()


def test_deb(options, deb, work):
    # Files and modes, nothing more and nothing less.
    listing = subprocess.run(["dpkg-deb", "-c", deb], stdout=subprocess.PIPE, check=True,
                             timeout=60).stdout.decode()
    files = {}
    for line in listing.splitlines():
        mode, owner, _, _, _, path = line.split(None, 5)
        path = path[2:] if path.startswith("./") else path
        check(owner == "root/root", "%s belongs to %s" % (path, owner))
        if not mode.startswith("d"):
            files[path] = mode
    check(set(files) == set(DEB_FILES), "the package holds %s more, %s less" %
          (sorted(set(files) - set(DEB_FILES)), sorted(set(DEB_FILES) - set(files))))
    for path, mode in DEB_FILES.items():
        check(files[path][1:] == "rwxr-xr-x" if mode == 0o755 else files[path][1:] == "rw-r--r--",
              "%s has mode %s" % (path, files[path]))

    root = os.path.join(work, "root")
    subprocess.run(["dpkg-deb", "-x", deb, root], check=True, timeout=60)
    control = os.path.join(work, "control")
    subprocess.run(["dpkg-deb", "-e", deb, control], check=True, timeout=60)
    check(read(os.path.join(control, "conffiles")).split() ==
          [b"/etc/xdg/autostart/quorvelce.desktop"], "conffiles: %r" %
          read(os.path.join(control, "conffiles")))
    check(read(os.path.join(root, "usr/share/quorvelce/QuorvelCE.INI")) ==
          read(os.path.join(SOURCE, "dist", "QuorvelCE.INI")), "another default settings file")
    for entry in ("usr/share/applications/quorvelce.desktop",
                  "etc/xdg/autostart/quorvelce.desktop"):
        text = read(os.path.join(root, entry)).decode()
        for line in ("Type=Application", "Exec=quorvelce", "Icon=quorvelce"):
            check(re.search("^%s$" % re.escape(line), text, re.M), "%s lacks %s" % (entry, line))
    rule = read(os.path.join(root, "usr/lib/udev/rules.d/70-quorvelce-uinput.rules")).decode()
    check(re.search(r'^KERNEL=="uinput".*TAG\+="uaccess"', rule, re.M), "udev rule: %s" % rule)
    rule = read(os.path.join(root, "usr/lib/udev/rules.d/70-quorvelce-scanners.rules")).decode()
    check(re.search(r'^SUBSYSTEMS=="usb", ATTRS\{idVendor\}=="05e0", '
                    r'ENV\{ID_MM_DEVICE_IGNORE\}="1"$', rule, re.M), "scanner rule: %s" % rule)
    for size in (16, 32):
        png = read(os.path.join(root, "usr/share/icons/hicolor/%dx%d/apps/quorvelce.png"
                                % (size, size)))
        check(png[:8] == b"\x89PNG\r\n\x1a\n" and
              int.from_bytes(png[16:20], "big") == size == int.from_bytes(png[20:24], "big"),
              "the %d pixel icon is not a %dx%d PNG" % (size, size, size))
    with gzip.open(os.path.join(root, "usr/share/doc/quorvelce/changelog.gz")) as f:
        top = f.readline().decode()
    check(top.startswith("quorvelce (%s) " % options.version),
          "the changelog's last entry is %r, the package is %s" % (top, options.version))

    # Control fields.
    fields = {name: deb_field(deb, name) for name in
              ("Package", "Version", "Architecture", "Maintainer", "Section", "Priority",
               "Depends", "Description")}
    arch = subprocess.run(["dpkg", "--print-architecture"], stdout=subprocess.PIPE,
                          check=True).stdout.decode().strip()
    expected = {"Package": "quorvelce", "Version": options.version, "Architecture": arch,
                "Section": "utils", "Priority": "optional"}
    for name, value in expected.items():
        check(fields[name] == value, "%s: %r, expected %r" % (name, fields[name], value))
    check(re.match(r"^[^<>]+ <[^@<>\s]+@[^@<>\s]+>$", fields["Maintainer"]),
          "Maintainer: %r" % fields["Maintainer"])
    check("\n" in fields["Description"], "no long description")
    print("control: " + "; ".join("%s: %s" % (k, v.splitlines()[0]) for k, v in fields.items()))

    # Dependencies computed from what the programs link: the package of each
    # library they need is among them.
    depends = {re.split(r"[\s(:]", d.strip())[0] for d in
               re.split(r"[,|]", fields["Depends"]) if d.strip()}
    check("qt6-wayland" in depends, "Depends lacks qt6-wayland: %s" % fields["Depends"])
    for program in ("usr/bin/quorvelce", "usr/bin/quorvel-ini"):
        dynamic = subprocess.run(["readelf", "-d", os.path.join(root, program)],
                                 stdout=subprocess.PIPE, check=True).stdout.decode()
        for library in re.findall(r"\(NEEDED\)\s+Shared library: \[(.+?)\]", dynamic):
            owner = library_package(library)
            check(owner in depends, "%s needs %s (package %s), which Depends lacks: %s" %
                  (program, library, owner, fields["Depends"]))

    # lintian: no error and no warning; the informational tags that remain
    # are explained in docs/DEVELOPING.md.
    if not shutil.which("lintian"):
        raise Failure("lintian is not installed (Debian package lintian)")
    result = subprocess.run(["lintian", "--display-info", "--pedantic", deb],
                            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
    tags = [line for line in result.stdout.decode().splitlines() if re.match(r"^[EWIPX]: ", line)]
    print("lintian:" + "".join("\n  " + t for t in tags) if tags else "lintian: no tags")
    bad = [t for t in tags if t[0] in "EW"]
    check(not bad, "lintian reports %s" % bad)


def library_package(soname):
    cache = subprocess.run(["ldconfig", "-p"], stdout=subprocess.PIPE, check=True).stdout.decode()
    m = re.search(r"^\s*%s \(.*x86-64.*\) => (\S+)$" % re.escape(soname), cache, re.M) or \
        re.search(r"^\s*%s \(.*\) => (\S+)$" % re.escape(soname), cache, re.M)
    check(m, "no %s on this system" % soname)
    for path in (m.group(1), os.path.realpath(m.group(1))):
        for candidate in (path, re.sub(r"^/usr", "", path), "/usr" + path):
            owner = subprocess.run(["dpkg", "-S", candidate], stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL).stdout.decode()
            if owner:
                return owner.split(":")[0]
    raise Failure("no package owns %s" % m.group(1))


# -- running the unpacked program ---------------------------------------------

KEY_CLIENT = r"""
import sys, tkinter
log = open(sys.argv[1], "w", buffering=1)
root = tkinter.Tk()
root.title("package test sink")
text = tkinter.Text(root)
text.pack()
def key(event):
    log.write("%s %r\n" % (event.keysym, event.char))
text.bind("<KeyPress>", key)
def keep_focus():
    root.focus_force()
    text.focus_set()
    root.after(200, keep_focus)
root.after(100, keep_focus)
root.after(300, lambda: log.write("READY\n"))
root.mainloop()
"""


class Desk:
    """A virtual display with a tray host and a Tk window in focus, a pty as
    the scanner's serial line, and empty home, config and runtime folders."""

    def __init__(self, work):
        self.work = work
        self.processes = []
        self.xvfb = common.Xvfb(175, 85)
        self.display = self.xvfb.name
        self.env = dict(self.xvfb.env)
        for name in ("home", "config", "runtime"):
            os.makedirs(os.path.join(work, name), mode=0o700)
        self.env.update(HOME=os.path.join(work, "home"),
                        XDG_CONFIG_HOME=os.path.join(work, "config"),
                        XDG_RUNTIME_DIR=os.path.join(work, "runtime"))
        subprocess.run(["setxkbmap", "us"], env=self.env, timeout=30)
        self.spawn(["trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                    "--height", "24"])
        self.log = os.path.join(work, "keys.log")
        self.spawn([sys.executable, "-c", KEY_CLIENT, self.log])
        wait_until("the Tk window", lambda: "READY" in self.received_text(), timeout=20)
        self.master, self.slave = pty.openpty()
        tty.setraw(self.slave)
        self.device = os.ttyname(self.slave)

    def spawn(self, command, cwd=None):
        p = subprocess.Popen(command, cwd=cwd, env=getattr(self, "env", None),
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(p)
        return p

    def received_text(self):
        try:
            return read(self.log).decode()
        except FileNotFoundError:
            return ""

    def typed(self):
        """What arrived, Return as a carriage return."""
        out = ""
        for line in self.received_text().splitlines():
            keysym, _, char = line.partition(" ")
            if keysym == "Return":
                out += "\r"
            elif char not in ("", "''") and keysym not in ("READY",):
                out += ast.literal_eval(char)
        return out

    def scan(self, data):
        os.write(self.master, data)

    def close(self):
        for p in reversed(self.processes):
            common.end(p)
        self.xvfb.close()
        os.close(self.master)
        os.close(self.slave)


def run_and_scan(desk, program, settings_folder, text):
    """Starts the program with COM1 linked to our pty beside its settings
    file, types `text`, ends it with SIGTERM (its tray quit)."""
    ports = os.path.join(settings_folder, "ports")
    os.makedirs(ports, exist_ok=True)
    os.symlink(desk.device, os.path.join(ports, "com1"))
    before = desk.typed()
    process = desk.spawn([program], cwd=desk.work)
    try:
        wait_until("the port to be opened", lambda: common.holds(process.pid, desk.device),
                   timeout=30)
        desk.scan(text.encode("ascii"))
        wait_until("%r typed" % text, lambda: desk.typed() == before + text, timeout=30)
    finally:
        if process.poll() is None:
            process.send_signal(signal.SIGTERM)
        process.wait(timeout=10)
    os.unlink(os.path.join(ports, "com1"))
    return process.returncode


def test_run(deb, archive, work):
    desk = Desk(work)
    try:
        # Installed layout: the default copied into XDG_CONFIG_HOME.
        root = os.path.join(work, "root")
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True, timeout=60)
        config = os.path.join(desk.env["XDG_CONFIG_HOME"], "QuorvelCE")
        code = run_and_scan(desk, os.path.join(root, "usr", "bin", "quorvelce"), config,
                            "PKG-0042\r")
        settings = os.path.join(config, "QuorvelCE.INI")
        check(os.path.exists(settings), "no settings file copied to %s" % settings)
        check(read(settings) == read(os.path.join(root, "usr/share/quorvelce/QuorvelCE.INI")),
              "the copied settings file is not the installed default")
        print("unpacked .deb: settings copied to XDG_CONFIG_HOME, typed 'PKG-0042\\r', "
              "SIGTERM exit status %s" % code)

        # Portable folder: the settings beside the program, the config folder untouched.
        shutil.rmtree(config)
        portable = os.path.join(work, "portable")
        with tarfile.open(archive) as tar:
            tar.extractall(portable)
        folders = os.listdir(portable)
        check(len(folders) == 1, "the archive holds %s" % folders)
        folder = os.path.join(portable, folders[0])
        check(sorted(os.listdir(folder)) == ["QuorvelCE.INI", "quorvel-ini", "quorvelce"],
              "the portable folder holds %s" % sorted(os.listdir(folder)))
        code = run_and_scan(desk, os.path.join(folder, "quorvelce"), folder, "TGZ-7\r")
        check(not os.path.exists(config), "the portable program made %s" % config)
        print("portable archive: typed 'TGZ-7\\r' with the settings beside it, "
              "SIGTERM exit status %s" % code)
    finally:
        desk.close()


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True)
    parser.add_argument("--program", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("what", choices=("deb", "run"))
    options = parser.parse_args()
    if not os.path.exists(options.program):
        print("SKIP: %s has not been built" % options.program)
        return 77
    work = tempfile.mkdtemp(prefix="quorvel-package-")
    try:
        deb, archive = make_packages(os.path.abspath(options.build), os.path.join(work, "out"))
        if options.what == "deb":
            test_deb(options, deb, work)
        else:
            test_run(deb, archive, work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("PASS")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Failure as failure:
        print("FAIL: %s" % failure)
        sys.exit(1)
