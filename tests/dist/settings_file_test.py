#!/usr/bin/env python3
"""Keeps the shipped settings file clean: reads it the way the program does
(first line containing the key after the header, search running past later
headers, values cleaned and split as the table loader does) and compares every
table with the layout lists it was generated from.

Usage: settings_file_test.py SOURCE_DIR [QUORVEL_INI] [unittest options]
With the quorvel-ini executable it also checks that the file is what
dist/make_settings_file.py writes from the layout lists.
"""

import os
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = ""
TOOL = ""
ABSENT = "ERROR"
LINE_CAPACITY = 259  # characters one read of a line can hold, line feed included


# --- The program's reading rules, written out independently of the generator ---

def file_lines(data):
    """Lines as the engine sees them: UTF-8, CR LF read as one line feed."""
    text = data.decode("utf-8").replace("\r\n", "\n")
    return text.splitlines(keepends=True)


def trim_value(text, separator):
    lead = ""
    if "#" in text:
        start = len(text) - len(text.lstrip("#"))
        lead, work = text[:start], text[start:]
        if "#" in work:
            work = work[: work.index("#")]
    else:
        work = text
    if separator in work:
        work = work[work.index(separator) + 1:]
    work = work.lstrip(" ").rstrip(" \n")
    return lead + work


def read_value(lines, section, key):
    header = f"[{section}]"
    index = next((i for i, line in enumerate(lines) if header in line), None)
    if index is None:
        return ABSENT, None
    for number in range(index + 1, len(lines)):
        line = lines[number]
        if key in line:
            if "=" not in line:
                return ABSENT, number
            value = trim_value(line, "=")
            return (value or ABSENT), number
    return ABSENT, None


def hex_prefix(text):
    text = text.lstrip(" \t")
    if text[:1] in "+-":
        text = text[1:]
    if text[:2].lower() == "0x":
        text = text[2:]
    digits = ""
    for ch in text:
        if ch not in "0123456789abcdefABCDEF":
            break
        digits += ch
    return int(digits, 16) & 0xFFFF if digits else 0


def load_entry(entry, value):
    """One byte of the table loader: entry is (shift, altGr, virtualKey)."""
    if value == ABSENT:
        return entry
    if "," not in value:
        return (0, 0, hex_prefix(value))
    number = value[: value.index(",")]
    if not number:
        return entry
    shift, alt_gr, _ = entry
    vk = hex_prefix(number)
    rest = trim_value(value, ",")
    if not rest:
        return (shift, alt_gr, vk)
    if rest[0] in "aA":
        return (0, 1, vk)
    if rest[0] in "sS":
        return (1, 0, vk)
    return (0, 0, 0)


def section_names(lines):
    names = []
    for line in lines:
        if "[" in line and "GENERAL" not in line:
            name = trim_value(line, "[")
            names.append(name[: name.index("]")] if "]" in name else "")
            if len(names) == 10:
                break
    return names


# --- The layout lists ---

LAYOUTS = [("US English", "us-english.txt"), ("UK English", "uk-english.txt"),
           ("French AZERTY", "french-azerty.txt"), ("German QWERTZ", "german-qwertz.txt")]
KEY_NAMES = {"VK_TAB": 0x09, "VK_RETURN": 0x0D, "VK_SPACE": 0x20, "VK_OEM_1": 0xBA,
             "VK_OEM_PLUS": 0xBB, "VK_OEM_COMMA": 0xBC, "VK_OEM_MINUS": 0xBD, "VK_OEM_PERIOD": 0xBE,
             "VK_OEM_2": 0xBF, "VK_OEM_3": 0xC0, "VK_OEM_4": 0xDB, "VK_OEM_5": 0xDC, "VK_OEM_6": 0xDD,
             "VK_OEM_7": 0xDE, "VK_OEM_8": 0xDF, "VK_OEM_102": 0xE2}
KEY_NAMES.update({"VK_" + c: ord(c) for c in "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"})


def list_byte(token):
    if token.lower().startswith("0x"):
        return int(token[2:], 16)
    return token.encode("cp1252")[0]


def parse_layout(name, list_file):
    """(name, byte -> (shift, altGr, virtualKey), bytes the layout has but cannot type)."""
    keys, untypeable = {}, set()
    with open(os.path.join(SOURCE_DIR, "dist", "layouts", list_file), encoding="utf-8") as f:
        for raw in f:
            fields = raw.split()
            if not fields or fields[0].startswith("#"):
                continue
            byte = list_byte(fields[0])
            if fields[1] == "none":
                untypeable.add(byte)
                continue
            modifier = {"shift": (1, 0), "altgr": (0, 1)}.get(fields[2] if len(fields) > 2 else "", (0, 0))
            keys[byte] = modifier + (KEY_NAMES[fields[1]],)
    return name, keys, untypeable


def layouts():
    return [parse_layout(name, list_file) for name, list_file in LAYOUTS]


def shipped_file():
    with open(os.path.join(SOURCE_DIR, "dist", "QuorvelCE.INI"), "rb") as f:
        return f.read()


def table_problems(lines, section):
    """What a load of `section` gets wrong, as messages; expected keys are not checked here."""
    problems = []
    for n in range(256):
        value, number = read_value(lines, section, str(n))
        if value == ABSENT:
            problems.append(f"{section}: byte {n} undefined, an earlier table would leak through")
            continue
        key_part = lines[number].split("=", 1)[0].strip()
        if key_part != str(n):
            problems.append(f"{section}: byte {n} read from line {number + 1}: {lines[number].strip()}")
    return problems


def load_table(lines, section, start):
    return [load_entry(start[n], read_value(lines, section, str(n))[0]) for n in range(256)]


class ShippedSettingsFile(unittest.TestCase):
    def setUp(self):
        self.data = shipped_file()
        self.lines = file_lines(self.data)

    def test_every_table_types_its_layout_and_nothing_else(self):
        # Loaded over a table of garbage, so an entry the section fails to set shows up.
        garbage = [(1, 1, 0xBEEF)] * 256
        for name, keys, untypeable in layouts():
            with self.subTest(table=name):
                self.assertEqual([], table_problems(self.lines, name))
                table = load_table(self.lines, name, garbage)
                for n in range(256):
                    self.assertEqual(keys.get(n, (0, 0, 0)), table[n], f"byte {n}")
                # Every printable ASCII character types, unless only a dead key makes it.
                for n in range(0x20, 0x7F):
                    self.assertTrue(n in keys or n in untypeable, f"byte {n} neither typed nor listed")
                self.assertEqual((0, 0, 0x0D), table[13])
                self.assertEqual((0, 0, 0x09), table[9])
                self.assertEqual((0, 0, 0), table[10])

    def test_general_keys_come_from_their_own_lines(self):
        expected = {"STROKE_DELAY": "1", "COM": "1", "BAUDRATE": "9600", "PARITY": "NONE",
                    "DATA": "8", "STOP": "1", "KEYTABLE": "Active keyboard layout"}
        for key, value in expected.items():
            read, number = read_value(self.lines, "GENERAL", key)
            self.assertEqual(value, read, key)
            self.assertEqual(key, self.lines[number].split("=", 1)[0].strip(), key)

    def test_section_list_holds_exactly_the_tables(self):
        names = section_names(self.lines)
        self.assertEqual([layout[0] for layout in layouts()], names)
        for name in names:
            self.assertLessEqual(len(name), 32)
        # Only header lines may carry an opening bracket: any other would be listed as a table.
        for line in self.lines:
            if "[" in line:
                self.assertRegex(line, r"^\[[^\[\]#0-9]+\]\n$")

    def test_windows_line_ends_and_lines_that_fit_the_reader(self):
        self.assertNotIn(b"\n", self.data.replace(b"\r\n", b""))
        self.assertFalse(self.data.startswith(b"\xef\xbb\xbf"))
        for line in self.lines:
            self.assertLessEqual(len(line), LINE_CAPACITY, line)

    def test_untypeable_characters_are_listed_above_the_first_section(self):
        first_header = next(i for i, line in enumerate(self.lines) if line.startswith("["))
        comment = "".join(self.lines[:first_header])
        for name, _, untypeable in layouts():
            for n in untypeable:
                self.assertIn(bytes([n]).decode("cp1252"), comment, f"{name}: byte {n}")
        self.assertNotRegex(comment, "[0-9\\[\\]]")

    def test_file_is_what_the_generator_writes_from_the_layout_lists(self):
        if not TOOL:
            self.skipTest("needs the quorvel-ini executable")
        script = os.path.join(SOURCE_DIR, "dist", "make_settings_file.py")
        with tempfile.TemporaryDirectory() as tmp:
            out = os.path.join(tmp, "out.ini")
            subprocess.run([sys.executable, script, "--tool", TOOL, "-o", out], check=True)
            with open(out, "rb") as f:
                self.assertEqual(self.data, f.read(), "run dist/make_settings_file.py")


class ReadingRulesCatchBadTables(unittest.TestCase):
    """The simulation above is only worth its name if it sees the faults it guards against."""

    def test_ascending_table_with_gaps_reads_other_lines(self):
        lines = file_lines(b"[T]\r\n13 = 0D\r\n65 = 41,Shift\r\n97 = 41\r\n")
        problems = table_problems(lines, "T")
        # Byte 4 stops at the line of byte 65 and would type a capital A.
        self.assertIn("T: byte 4 read from line 3: 65 = 41,Shift", problems)
        self.assertEqual((1, 0, 0x41), load_table(lines, "T", [(0, 0, 0)] * 256)[4])
        self.assertIn("T: byte 2 undefined, an earlier table would leak through", problems)

    def test_search_runs_past_the_next_header_and_comments_count(self):
        lines = file_lines(b"[A]\n1 = 31\n[B]\n2 = 32 # COM\n")
        self.assertEqual(("32", 3), read_value(lines, "A", "2"))
        self.assertEqual(("32", 3), read_value(lines, "B", "COM"))
        self.assertEqual((ABSENT, None), read_value(lines, "B", "1"))

    def test_loader_value_forms(self):
        old = (1, 0, 0x99)
        self.assertEqual((0, 1, 0x41), load_entry(old, "41,AltGr"))
        self.assertEqual((1, 0, 0x41), load_entry(old, "0x41, shift"))
        self.assertEqual((1, 0, 0x41), load_entry(old, "41,"))
        self.assertEqual(old, load_entry(old, ",Shift"))
        self.assertEqual((0, 0, 0), load_entry(old, "41,none"))
        self.assertEqual((0, 0, 0), load_entry(old, "#41"))
        self.assertEqual((0, 0, 0x2345), load_entry(old, "12345"))


if __name__ == "__main__":
    SOURCE_DIR = sys.argv.pop(1)
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        TOOL = sys.argv.pop(1)
    unittest.main()
