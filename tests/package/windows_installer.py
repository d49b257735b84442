#!/usr/bin/env python3
"""The Windows installer and the portable zip as a user meets them, under Wine
in a fresh prefix: silent install, the program started as its Startup
shortcut starts it types a scan from a pty, a settings change survives a
silent upgrade (which ends the running program through its tray quit), the
silent uninstall leaves only that settings file, and the zip runs unpacked.
  windows_installer.py --build build/windows --setup build/windows/QuorvelCE-X-setup.exe --version X
"""
import argparse
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "e2e"))
import harness  # noqa: E402
from common import SOURCE, Failure, check, read, wait_until  # noqa: E402
from harness import IDC_BAUDRATE, IDC_START_STOP, wine  # noqa: E402

UNINSTALL_KEY = "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\QuorvelCE"


def parse_shortcut(path):
    """Target path and working folder of a shell link (.lnk) file."""
    data = read(path)
    check(data[:4] == b"\x4c\0\0\0", "%s is not a shell link" % path)
    flags = struct.unpack_from("<I", data, 0x14)[0]
    pos = 0x4C
    if flags & 0x01:  # an item id list
        pos += 2 + struct.unpack_from("<H", data, pos)[0]
    target = None
    if flags & 0x02:  # link info, with the local path
        size, _, info_flags, _, base = struct.unpack_from("<5I", data, pos)
        if info_flags & 1:
            end = data.index(b"\0", pos + base)
            target = data[pos + base:end].decode("mbcs" if os.name == "nt" else "latin-1")
        pos += size
    strings = []
    for bit in (0x04, 0x08, 0x10, 0x20, 0x40):  # name, relative path, folder, arguments, icon
        if flags & bit:
            count = struct.unpack_from("<H", data, pos)[0]
            pos += 2
            width = 2 if flags & 0x80 else 1
            text = data[pos:pos + count * width]
            # Wine counts the terminating NUL in, Windows does not.
            strings.append(text.decode("utf-16-le" if width == 2 else "latin-1").rstrip("\0"))
            pos += count * width
        else:
            strings.append(None)
    return {"target": target, "folder": strings[2], "arguments": strings[3] or ""}


class Prefix:
    """A fresh Wine prefix and the Windows paths of its user."""

    def __init__(self, root):
        shutil.rmtree(root, ignore_errors=True)
        self.root = root
        # Shortcuts would otherwise become menu entries of the Linux desktop.
        os.environ["WINEDLLOVERRIDES"] = "mscoree,mshtml=;winemenubuilder.exe=d"
        started = time.monotonic()
        harness.private_wineserver(root)
        print("fresh prefix in %.1f s" % (time.monotonic() - started))
        self.drive_c = os.path.join(root, "drive_c")

    def unix(self, windows):
        check(re.match(r"^[A-Za-z]:\\", windows), "not a Windows path: %r" % windows)
        drive = os.path.realpath(os.path.join(self.root, "dosdevices", windows[:2].lower()))
        return os.path.join(drive, *windows[3:].split("\\"))

    def files(self):
        """Every file on drive C: but the temporary folders (the uninstaller
        runs from a copy there, which Windows removes at the next restart)."""
        found = set()
        for folder, dirs, names in os.walk(self.drive_c):
            dirs[:] = [d for d in dirs if d.lower() != "temp"]
            for name in names:
                found.add(os.path.relpath(os.path.join(folder, name), self.drive_c))
        return found

    def registry(self, key):
        """{name: (type, value)} of a registry key, or None when it is absent."""
        result = subprocess.run([wine(), "reg", "query", key], stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, timeout=60)
        if result.returncode != 0:
            return None
        values = {}
        for line in result.stdout.decode("utf-8", "replace").splitlines():
            m = re.match(r"^ {4}(.+?) {4}(REG_\w+) {4}(.*?)\s*$", line)
            if m:
                values[m.group(1)] = (m.group(2), m.group(3))
        return values

    def shell_folder(self, name):
        folders = self.registry(
            "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders")
        # Case differs between systems ("Startup", Wine's "StartUp").
        found = [v for k, (_, v) in (folders or {}).items() if k.lower() == name.lower()]
        check(found, "no shell folder %s: %r" % (name, folders))
        return found[0]


def same_program(a, b):
    """Whether two executables are one build: equal but for the link time
    stamp and the checksum that each strip writes into the PE header."""
    def normalized(data):
        data = bytearray(data)
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        for offset, size in ((pe + 8, 4), (pe + 24 + 64, 4)):  # TimeDateStamp, CheckSum
            data[offset:offset + size] = bytes(size)
        return bytes(data)
    return normalized(a) == normalized(b)


def product_versions(data):
    """The ProductVersion strings of the version resources in an executable."""
    key = re.escape("ProductVersion".encode("utf-16-le"))
    return {m.group(1).decode("utf-16-le")
            for m in re.finditer(key + rb"(?:\0\0)+((?:[^\0]\0)+)", data)}


def run_setup(args, what):
    started = time.monotonic()
    code = subprocess.call([wine()] + args, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=180)
    print("%s: exit status %d in %.1f s" % (what, code, time.monotonic() - started))
    check(code == 0, "%s failed with %d" % (what, code))


def port_of(settings_path):
    m = re.search(rb"^\s*COM\s*=\s*(\d+)", read(settings_path), re.M)
    check(m, "no COM in %s" % settings_path)
    return int(m.group(1))


def dialog_caption(stage):
    return (stage.dialog() or {}).get("caption")


def wait_program_gone(stage):
    wait_until("the program to end",
               lambda: stage.dialog() is None and stage.tray_icons() == 0, timeout=30)


def scan_and_expect(stage, port, text):
    before = stage.typed()
    stage.scan(port, text.encode("ascii"))
    stage.wait_typed(before + text, timeout=20)


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--build", required=True)
    parser.add_argument("--setup", required=True)
    parser.add_argument("--version", required=True)
    options = parser.parse_args()
    build = os.path.abspath(options.build)
    setup = os.path.abspath(options.setup)
    # The installer and the zip ship the same program and tool.
    zip_path = make_zip(build)
    with zipfile.ZipFile(zip_path) as z:
        shipped_exe = z.read("QuorvelCE.exe")
        shipped_tool = z.read("quorvel-ini.exe")
    shipped_ini = read(os.path.join(SOURCE, "dist", "QuorvelCE.INI"))
    check(os.path.exists(setup), "no installer at %s (is makensis installed?)" % setup)
    print("installer %s: %d bytes" % (os.path.basename(setup), os.path.getsize(setup)))
    # One version number everywhere: the file name, both version resources
    # and (below) the installed-programs list.
    check(os.path.basename(setup) == "QuorvelCE-%s-setup.exe" % options.version,
          "installer named %s" % os.path.basename(setup))
    for name, data in (("QuorvelCE.exe", shipped_exe), ("the installer", read(setup))):
        check(product_versions(data) == {options.version},
              "%s says version %s" % (name, product_versions(data)))

    xvfb = harness.ensure_display()
    prefix = Prefix(os.path.join(build, "tests", "package", "prefix"))
    stage = harness.Stage(build, "package", prefix.root)
    stage.xvfb = xvfb
    processes = []
    try:
        before = prefix.files()

        # -- silent install: every file, shortcut and registry value --------
        run_setup([setup, "/S"], "silent install")
        values = prefix.registry(UNINSTALL_KEY)
        check(values, "no uninstall entry %s" % UNINSTALL_KEY)
        location = values["InstallLocation"][1]
        local = prefix.shell_folder("Local AppData")
        check(location.lower() == (local + "\\Programs\\QuorvelCE").lower(),
              "installed into %s" % location)
        folder = prefix.unix(location)
        expected_values = {
            "DisplayName": "QuorvelCE",
            "DisplayVersion": options.version,
            "Publisher": "Trevanix",
            "InstallLocation": location,
            "DisplayIcon": location + "\\QuorvelCE.exe,0",
            "UninstallString": '"%s\\uninstall.exe"' % location,
            "QuietUninstallString": '"%s\\uninstall.exe" /S' % location,
        }
        for name, value in expected_values.items():
            check(values.get(name, (None, None))[1] == value,
                  "%s is %r, expected %r" % (name, values.get(name), value))
        check(values.get("EstimatedSize", ("", ""))[0] == "REG_DWORD", "no EstimatedSize")
        print("uninstall entry: %s" % ", ".join("%s=%s" % (k, v[1]) for k, v in
                                                 sorted(values.items())))

        start_menu = os.path.join(prefix.unix(prefix.shell_folder("Programs")), "QuorvelCE.lnk")
        startup = os.path.join(prefix.unix(prefix.shell_folder("Startup")), "QuorvelCE.lnk")
        installed = {os.path.join(folder, name) for name in
                     ("QuorvelCE.exe", "quorvel-ini.exe", "QuorvelCE.INI",
                      "QuorvelCE.default.INI", "uninstall.exe")} | {start_menu, startup}
        added = {os.path.join(prefix.drive_c, p) for p in prefix.files() - before}
        check(added == installed, "the install added %s, expected %s" %
              (sorted(added - installed) or "nothing more",
               sorted(installed - added) or "nothing less"))
        check(same_program(read(os.path.join(folder, "QuorvelCE.exe")), shipped_exe),
              "not the QuorvelCE.exe of the zip")
        check(same_program(read(os.path.join(folder, "quorvel-ini.exe")), shipped_tool),
              "not the quorvel-ini.exe of the zip")
        for name in ("QuorvelCE.INI", "QuorvelCE.default.INI"):
            check(read(os.path.join(folder, name)) == shipped_ini, "%s is not the shipped one" % name)
        for link in (start_menu, startup):
            shortcut = parse_shortcut(link)
            check(shortcut["target"].lower() == (location + "\\QuorvelCE.exe").lower()
                  and shortcut["folder"].lower() == location.lower()
                  and shortcut["arguments"] == "",
                  "%s: %r" % (link, shortcut))
        print("installed %d files and 2 shortcuts (Start menu, Startup)" % (len(installed) - 2))

        # -- started as the Startup shortcut starts it, it types a scan ------
        shortcut = parse_shortcut(startup)
        port = port_of(os.path.join(folder, "QuorvelCE.INI"))
        stage.plug(port)
        stage.start_sink()
        program = subprocess.Popen([wine(), prefix.unix(shortcut["target"])],
                                   cwd=prefix.unix(shortcut["folder"]),
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        processes.append(program)
        harness.started(stage, None, timeout=30)
        wait_until("COM%d to be opened" % port, lambda: stage.port_held(port), timeout=20)
        scan_and_expect(stage, port, "PKG-0042\r")
        print("installed program on COM%d typed %r" % (port, stage.typed()))

        # -- the user changes a setting in the dialog and adds a note --------
        settings = os.path.join(folder, "QuorvelCE.INI")
        stopped = stage.open_and_stop()
        items = stopped["controls"][IDC_BAUDRATE]["items"]
        stage.drive("select", IDC_BAUDRATE, items.index("19200"))
        stage.drive("click", IDC_START_STOP)
        wait_until("BAUDRATE saved", lambda: re.search(rb"^BAUDRATE = 19200", read(settings), re.M),
                   timeout=10)
        wait_until("Started and hidden", lambda: (lambda d: d and d["caption"] ==
                   "QuorvelCE - Started" and not d["visible"])(stage.dialog()), timeout=10)
        with open(settings, "ab") as f:
            f.write(b"# scanner at the packing desk\r\n")
        changed = read(settings)
        check(changed != shipped_ini, "the settings did not change")

        # -- silent upgrade while it runs: ended by its tray quit, settings kept
        run_setup([setup, "/S"], "silent upgrade over the running program")
        wait_until("the running program to end", lambda: program.poll() is not None, timeout=30)
        check(program.returncode == 0, "the program ended with %r" % program.returncode)
        check(read(settings) == changed, "the upgrade changed the settings file")
        check(read(os.path.join(folder, "QuorvelCE.default.INI")) == shipped_ini,
              "QuorvelCE.default.INI is not the shipped settings file")
        check(os.path.exists(startup), "the upgrade dropped the Startup shortcut")
        print("upgrade: the running program ended with status 0 (tray quit); "
              "QuorvelCE.INI kept byte for byte (%d bytes)" % len(changed))
        # A silent upgrade starts again the program it ended.
        harness.started(stage, None, timeout=30)
        wait_until("COM%d to be opened again" % port, lambda: stage.port_held(port), timeout=20)
        check(read(settings) == changed, "the restarted program changed the settings file")
        scan_and_expect(stage, port, "AFTER-UPGRADE\r")
        print("restarted after the upgrade, typed %r" % stage.typed())

        # -- silent uninstall as the installed-programs list runs it --------
        values = prefix.registry(UNINSTALL_KEY)
        quiet = re.match(r'^"([^"]+)"\s*(.*)$', values["QuietUninstallString"][1])
        run_setup([prefix.unix(quiet.group(1))] + quiet.group(2).split(), "silent uninstall")
        # The uninstaller goes on from a copy of itself in the temporary folder.
        wait_until("the uninstall entry to go", lambda: prefix.registry(UNINSTALL_KEY) is None,
                   timeout=60)
        wait_program_gone(stage)
        left = {os.path.join(prefix.drive_c, p) for p in prefix.files() - before}
        check(left == {settings}, "left behind: %s" % sorted(left))
        check(read(settings) == changed, "the uninstall changed the settings file")
        print("uninstall: program ended, icon gone, only %s left" %
              os.path.relpath(settings, prefix.drive_c))

        # -- an untouched settings file goes with the rest --------------------
        os.unlink(settings)
        run_setup([setup, "/S", "/NOSTARTUP"], "silent install without start at sign-in")
        check(not os.path.exists(startup), "/NOSTARTUP still made the Startup shortcut")
        run_setup([prefix.unix(quiet.group(1)), "/S"], "silent uninstall")
        wait_until("the uninstall entry to go", lambda: prefix.registry(UNINSTALL_KEY) is None,
                   timeout=60)
        wait_until("the folder to go", lambda: not os.path.exists(folder), timeout=30)
        left = prefix.files() - before
        check(not left, "left behind: %s" % sorted(left))
        print("install and uninstall with the shipped settings: nothing left")

        # -- the portable zip, unpacked anywhere, types the same scan --------
        portable = os.path.join(stage.work, "portable")
        zipfile.ZipFile(zip_path).extractall(portable)
        check(sorted(os.listdir(portable)) == ["QuorvelCE.INI", "QuorvelCE.exe", "quorvel-ini.exe"],
              "the zip holds %s" % sorted(os.listdir(portable)))
        unzipped = subprocess.Popen([wine(), os.path.join(portable, "QuorvelCE.exe")],
                                    cwd=portable, stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
        processes.append(unzipped)
        harness.started(stage, None, timeout=30)
        wait_until("COM%d to be opened" % port, lambda: stage.port_held(port), timeout=20)
        scan_and_expect(stage, port, "ZIP-7\r")
        stage.drive("tray", "right")
        wait_until("the portable program to end", lambda: unzipped.poll() is not None, timeout=20)
        print("portable zip (%d bytes) typed %r and quit from the tray" %
              (os.path.getsize(zip_path), "ZIP-7\r"))
    finally:
        for p in processes:
            if p.poll() is None:
                p.kill()
                p.wait()
        harness.stop_wineserver()
        stage.close()
    shutil.rmtree(prefix.root, ignore_errors=True)
    print("PASS")


def make_zip(build):
    """The zip as `cpack` makes it from this build, into a folder of ours."""
    out = tempfile.mkdtemp(prefix="quorvel-zip-")
    subprocess.run(["cpack", "-G", "ZIP", "--config", os.path.join(build, "CPackConfig.cmake"),
                    "-B", out], check=True, stdout=subprocess.DEVNULL, timeout=120)
    names = [n for n in os.listdir(out) if n.endswith("-win64.zip")]
    check(len(names) == 1, "cpack made %s" % os.listdir(out))
    kept = os.path.join(build, "tests", "package", names[0])
    shutil.move(os.path.join(out, names[0]), kept)
    shutil.rmtree(out, ignore_errors=True)
    return kept


if __name__ == "__main__":
    try:
        main()
    except Failure as failure:
        print("FAIL: %s" % failure)
        sys.exit(1)
