#!/usr/bin/env python3
"""The shipped ModemManager rule run by udev itself: `udevadm test` on a
ttyACM0 whose parent chain holds a USB device (faked by umockdev) must set
ID_MM_DEVICE_IGNORE=1 for every listed scanner maker and not for another
vendor. Only our rule is read: a mount namespace puts it alone in
/etc/udev/rules.d and hides the system's rules. Exits 77 where udevadm,
umockdev-run or a mount namespace (root) is not to be had.
Run:  scanner_rule_test.py RULES_FILE
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

# A USB device, its CDC interface and the tty under it, as in /sys. The tty
# has no device number: udevadm test would link it in the real /dev/char.
DEVICE = """P: /devices/pci0000:00/0000:00:14.0/usb1/1-1
N: bus/usb/001/002
E: DEVNAME=/dev/bus/usb/001/002
E: DEVTYPE=usb_device
E: SUBSYSTEM=usb
A: idVendor=%s
A: idProduct=0001

P: /devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0
E: DEVTYPE=usb_interface
E: SUBSYSTEM=usb
A: bInterfaceClass=02

P: /devices/pci0000:00/0000:00:14.0/usb1/1-1/1-1:1.0/tty/ttyACM0
N: ttyACM0
E: SUBSYSTEM=tty
"""


def ignored(work, vendor):
    """Whether udev marks the tty of a USB device of `vendor` for ModemManager
    to leave alone; None when the run itself failed."""
    device = os.path.join(work, "device.umockdev")
    with open(device, "w") as f:
        f.write(DEVICE % vendor)
    # udevadm test writes its database under /run/udev: a /run of the
    # namespace's own.
    script = ("mount --bind {empty} /usr/lib/udev/rules.d && "
              "mount --bind {rules} /etc/udev/rules.d && "
              "mount -t tmpfs none /run && "
              "exec umockdev-run --device {device} -- "
              "udevadm test --action=add /sys/class/tty/ttyACM0").format(
        empty=os.path.join(work, "empty"), rules=os.path.join(work, "rules"), device=device)
    # umockdev's test bed goes in our folder too, also when umockdev fails.
    run = subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c", script],
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=120,
                         env=dict(os.environ, TMPDIR=work))
    out = run.stdout.decode("utf-8", "replace")
    if run.returncode != 0 or not re.search(r"^DEVPATH=/devices/\S+/ttyACM0$", out, re.M):
        print(out)
        return None
    return re.search(r"^ID_MM_DEVICE_IGNORE=1$", out, re.M) is not None


def main():
    rules_file = os.path.abspath(sys.argv[1])
    if os.geteuid() != 0 or not all(shutil.which(p) for p in ("udevadm", "umockdev-run",
                                                              "unshare")):
        print("SKIP: needs root, udevadm (udev), umockdev-run (umockdev) and unshare")
        return 77
    with open(rules_file) as f:
        listed = re.findall(r'ATTRS\{idVendor\}=="([0-9a-f]{4})"', f.read())
    work = tempfile.mkdtemp(prefix="quorvel-udev-")
    try:
        os.mkdir(os.path.join(work, "empty"))
        os.mkdir(os.path.join(work, "rules"))
        shutil.copy(rules_file, os.path.join(work, "rules"))
        if subprocess.run(["unshare", "--mount", "true"]).returncode != 0:
            print("SKIP: no mount namespace here")
            return 77
        bad = []
        # Every listed maker, and two vendors that are none of them.
        for vendor in listed + ["1d6b", "2341"]:
            result = ignored(work, vendor)
            expected = vendor in listed
            print("%s  %-8s ID_MM_DEVICE_IGNORE %s" % (
                vendor, "listed" if expected else "other",
                "failed" if result is None else "=1" if result else "unset"))
            if result != expected:
                bad.append(vendor)
        if len(listed) < 9 or bad:
            print("FAIL: %d vendors listed, wrong for %s" % (len(listed), ", ".join(bad)))
            return 1
        print("PASS")
        return 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
