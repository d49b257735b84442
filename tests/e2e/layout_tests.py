#!/usr/bin/env python3
"""The shipped keyboard tables against the keyboard layouts they are written
for, under Wine: for each layout, on a display of our own set to it, the real
QuorvelCE.exe with that table receives every byte the table types without
AltGr and the focused window must get exactly those characters, in order, and
nothing for the bytes that type nothing. AltGr cannot be typed under Wine
(Control + left Alt is not AltGr there), so AltGr entries are checked against
what the layout says: VkKeyScanW for ASCII characters, the key positions
listed below for the rest. VkKeyScanW checks the other ASCII entries too,
and every character a key types without AltGr must be in the table's list.
Run one layout:  layout_tests.py --build build/windows us|gb|fr|de
"""
import os
import subprocess
import time
import sys

import harness
from common import (LAYOUTS, VK, VK_NAME, Failure, describe, entry_text, fail_on,
                    mismatch_text, mismatches, read_layout_list, run_command, us_settings,
                    wait_or_note, wait_until)
from harness import started

PORT = 4

# Where the layouts put the characters outside ASCII that need AltGr, as the
# layouts' own charts show them (VkKeyScanW under Wine cannot tell: it goes
# through the Unix code page). A list entry with AltGr must be here, and the
# other way round.
ALTGR_POSITIONS = {
    "us": {},
    "gb": {"€": "VK_4", "¦": "VK_OEM_8", "á": "VK_A", "é": "VK_E", "í": "VK_I", "ó": "VK_O",
           "ú": "VK_U"},
    "fr": {"€": "VK_E", "¤": "VK_OEM_1"},
    "de": {"€": "VK_E", "²": "VK_2", "³": "VK_3", "µ": "VK_M"},
}

# Wine numbers some punctuation keys differently from Windows' own layouts,
# which the tables follow: Windows' virtual key of a key -> Wine's for the same
# key. Bytes on these keys are left out of the round trip (under Wine their
# code types whatever Wine put on it, a dead key even); the test checks instead
# that Wine has the character on the same key: VkKeyScanW names Wine's code for
# it, and that code with the entry's Shift types it.
WINE_KEYS = {
    "us": {},
    # The keys ` ¬ (left of 1), ' @, # ~ (by Enter) and \ | (left of Z).
    "gb": {"VK_OEM_8": "VK_OEM_3", "VK_OEM_3": "VK_OEM_7", "VK_OEM_7": "VK_OEM_5",
           "VK_OEM_5": "VK_OEM_102"},
    # The keys ² (left of 1) and ù %.
    "fr": {"VK_OEM_7": "VK_OEM_3", "VK_OEM_3": "VK_OEM_MINUS"},
    # The keys ^ °, ß ?, ´ `, ü, + *, ö, # ' and - _ (not ä, comma, period, <).
    "de": {"VK_OEM_5": "VK_OEM_3", "VK_OEM_4": "VK_OEM_1", "VK_OEM_6": "VK_OEM_PLUS",
           "VK_OEM_1": "VK_OEM_MINUS", "VK_OEM_PLUS": "VK_OEM_6", "VK_OEM_3": "VK_OEM_4",
           "VK_OEM_2": "VK_OEM_5", "VK_OEM_MINUS": "VK_OEM_2"},
}

# Characters X also has on a key Windows does not, which VkKeyScanW may find
# first (depending on X's keyboard description): the parentheses of the keypad
# that X's keyboards carry (keys without a Windows code, so 0xFFFF), and on US
# the extra key of 105-key keyboards, which X gives < and >. Either answer is
# taken; the round trip shows that the table's key types them.
WINE_VKSCAN_OTHER_KEY = {
    "us": {"(": 0xFFFF, ")": 0xFFFF, "<": 0x00E2},
    "gb": {"(": 0xFFFF, ")": 0xFFFF},
    "fr": {},
    "de": {"(": 0xFFFF, ")": 0xFFFF},
}

MODIFIER_BITS = {None: 0, "shift": 1, "altgr": 6}
# Shift, Control and Alt, which the program presses and releases around keys.
MODIFIER_KEYS = (0x10, 0x11, 0x12, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5)


def run_vkscan(stage, args):
    """Our VkKeyScanW probe under Wine. Wine itself now and then fails to start
    a program on a busy machine (status 1, nothing printed): that is tried
    again, since it says nothing about the layout."""
    exe = os.path.join(stage.build, "tests", "e2e", "quorvel_vkscan.exe")
    for attempt in range(3):
        # Not a pipe for stderr: Wine's own processes keep it open after the
        # probe has ended, and reading it would wait for them.
        run = subprocess.run([harness.wine(), exe] + args, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, timeout=60)
        if run.returncode == 0:
            return run.stdout.decode()
        time.sleep(1)
    raise Failure("quorvel_vkscan.exe failed with status %d" % run.returncode)


def vk_scan(stage, characters):
    """VkKeyScanW of each character, run under Wine on the stage's display."""
    results = {}
    for line in run_vkscan(stage, ["%X" % ord(c) for c in characters]).splitlines():
        if line.startswith("U+"):
            code, value = line.split()
            results[chr(int(code[2:], 16))] = int(value, 16)
    return results


def key_characters(stage, keys):
    """What each virtual key types under Wine: {(key, shifted): character or None}."""
    typed = {}
    for line in run_vkscan(stage, ["keys"] + ["%X" % k for k in keys]).splitlines():
        words = line.split()
        if len(words) == 4 and words[0] == "VK":
            for shifted, word in ((False, words[2]), (True, words[3])):
                typed[(int(words[1], 16), shifted)] = (
                    chr(int(word[2:], 16)) if word.startswith("U+") else None)
    return typed


def wine_key(layout, key):
    moved = WINE_KEYS[layout].get(VK_NAME[key])
    return VK[moved] if moved else key


def check_with_vk_scan(stage, layout, entries):
    """Every ASCII entry with a key against VkKeyScanW; returns (checked, problems)."""
    ascii_entries = [e for e in entries if e[1] is not None and ord(e[0]) < 0x80]
    scanned = vk_scan(stage, [e[0] for e in ascii_entries])
    other_key = WINE_VKSCAN_OTHER_KEY[layout]
    problems = []
    for entry in ascii_entries:
        character, key, modifier = entry
        expected = (MODIFIER_BITS[modifier] << 8) | wine_key(layout, key)
        got = scanned.get(character)
        if got != expected and got != other_key.get(character, expected):
            problems.append("VkKeyScanW %s: table %s, expected 0x%04X under Wine, got %s" %
                            (describe(character), entry_text(entry), expected,
                             "0x%04X" % got if got is not None else "nothing"))
    return len(ascii_entries), problems


def check_moved_keys(stage, layout, entries):
    """Entries without AltGr on keys Wine numbers differently: Wine's code for
    the key, with the entry's Shift, must type the character."""
    moved = [e for e in entries
             if e[1] is not None and e[2] != "altgr" and VK_NAME[e[1]] in WINE_KEYS[layout]]
    typed = key_characters(stage, sorted({wine_key(layout, e[1]) for e in moved}))
    problems = []
    for entry in moved:
        character, key, modifier = entry
        got = typed.get((wine_key(layout, key), modifier == "shift"))
        if got != character:
            problems.append("%s: Wine's %s types %s" % (
                entry_text(entry), VK_NAME[wine_key(layout, key)],
                describe(got) if got else "nothing"))
    return moved, problems


def check_layout_covered(stage, entries):
    """Every character a key types alone or with Shift under Wine is in the
    list: with its key, or among the characters a table cannot type (the
    dead keys, which Wine reports as plain characters here)."""
    typed = key_characters(stage, sorted(set(VK.values())))
    listed = {e[0] for e in entries}
    problems = []
    for (key, shifted), character in sorted(typed.items()):
        if character is not None and character not in listed:
            problems.append("%s%s types %s, which the list does not have" % (
                "Shift+" if shifted else "", VK_NAME[key], describe(character)))
    return sum(1 for c in typed.values() if c is not None), problems


def check_altgr_positions(layout, entries):
    listed = {e[0]: VK_NAME[e[1]] for e in entries
              if e[2] == "altgr" and ord(e[0]) >= 0x80}
    documented = ALTGR_POSITIONS[layout]
    problems = []
    for character in sorted(set(listed) | set(documented)):
        if listed.get(character) != documented.get(character):
            problems.append("AltGr %s: table %s, layout has %s" %
                            (describe(character), listed.get(character),
                             documented.get(character)))
    return len(documented), problems


def round_trip(stage, layout, entries, held_out):
    """Plays every byte but the AltGr ones and `held_out` through the pty;
    returns (sent, expected, received, problems)."""
    section = LAYOUTS[layout][0]
    by_byte = {}
    for entry in entries:
        by_byte[entry[0].encode("cp1252")[0]] = entry
    left_out = {e[0].encode("cp1252")[0] for e in entries if e[2] == "altgr"}
    left_out |= {e[0].encode("cp1252")[0] for e in held_out}
    # Each byte once, in order, with a closing carriage return to type what
    # follows the 13 inside the run.
    line = bytes(b for b in range(256) if b not in left_out) + b"\r"
    expected = "".join(by_byte[b][0] for b in line if b in by_byte and by_byte[b][1] is not None)

    stage.plug(PORT)
    stage.start_sink()
    program = stage.program("main", us_settings(PORT, keytable=section)).start()
    started(stage, program, timeout=30)
    wait_until("the port to be opened", lambda: stage.port_held(PORT), timeout=20)
    stage.scan(PORT, line)
    # The closing Enter is the last key of the run: once it has come back up
    # after at least as many keys as expected, everything the program was
    # going to type has arrived, a key too many included.
    enters = line.count(b"\r")

    def typing_done():
        released = [key for kind, key in stage.key_events()
                    if kind == "KEYUP" and key not in MODIFIER_KEYS]
        return (len(released) >= len(expected) and released.count(0x0D) >= enters
                and released[-1] == 0x0D)

    problems = []
    wait_or_note("the closing Enter", typing_done, problems, timeout=30)
    received = stage.typed()
    problems += [mismatch_text(by_byte, sent, got) for sent, got in mismatches(expected, received)]
    return len(line), expected, received, problems


def run_layout(build, layout):
    xvfb = harness.keyboard_layout_display(layout)
    with harness.layout_stage(build, xvfb, "layout-wineprefix", "layout-" + layout) as stage:
        entries = read_layout_list(LAYOUTS[layout][1])
        problems = []

        checked, found = check_with_vk_scan(stage, layout, entries)
        altgr = sum(1 for e in entries if e[2] == "altgr" and ord(e[0]) < 0x80)
        print("%s: VkKeyScanW agrees on %d of %d ASCII entries (%d of them with AltGr)" %
              (layout, checked - len(found), checked, altgr))
        problems += found
        checked, found = check_altgr_positions(layout, entries)
        print("%s: AltGr outside ASCII: %d positions, %d differ" % (layout, checked, len(found)))
        problems += found

        checked, found = check_layout_covered(stage, entries)
        print("%s: %d keys alone or with Shift type a character, %d missing from the list" %
              (layout, checked, len(found)))
        problems += found

        moved, found = check_moved_keys(stage, layout, entries)
        print("%s: %d entries on keys Wine numbers otherwise (not played), %d not found there" %
              (layout, len(moved), len(found)))
        problems += found

        sent, expected, received, found = round_trip(stage, layout, entries, moved)
        print("%s: round trip: %d bytes sent, %d characters expected, %d received, "
              "%d mismatches" % (layout, sent, len(expected), len(received), len(found)))
        problems += found
        fail_on(problems, "key sink log:\n" + stage.sink_text(),
                "%d problems with the %s table" % (len(problems), layout))


if __name__ == "__main__":
    sys.exit(run_command(LAYOUTS, "build/windows", run_layout))
