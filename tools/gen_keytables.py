#!/usr/bin/env python3
"""Writes the default settings file from the layout lists in dist/layouts/.

The reader finds a key as the first line after the section header that contains
the key's digits anywhere (in a value or a comment too), and its search runs on
past the next header. A table written in ascending order is therefore silently
wrong: byte 4 would take the value of the first line containing a "4", such as
"65 = 41,Shift". So every byte gets a line of its own (bytes that type nothing
get the value 0, so that no entry of an earlier table leaks through), and the
lines are ordered so that no line holds the digits of a byte placed after it.

Usage:
  gen_keytables.py [-o FILE] LAYOUT_FILE...        the whole settings file
  gen_keytables.py --section LAYOUT_FILE           one keyboard section
The first layout file names the table that KEYTABLE selects.
"""

import argparse
import heapq
import sys
from dataclasses import dataclass, field

MODIFIER_SUFFIX = {"none": "", "shift": ",Shift", "altgr": ",AltGr"}
UNTYPEABLE_KINDS = ("dead", "shift+altgr")
NO_KEY = "0"
MAX_SECTION_NAME = 32

# Comments on key lines show the character, except where the character itself
# would take part in the matching (digits), cut the line (the comment sign) or
# be taken for a section header (an opening bracket).
CHARACTER_LABELS = {
    " ": "space",
    "\t": "tab",
    "\r": "carriage return",
    "#": "number sign",
    "[": "left square bracket",
    "]": "right square bracket",
}
DIGIT_NAMES = ["zero", "one", "two", "three", "four", "five", "six", "seven", "eight", "nine"]

GENERAL_LINES = [
    "STROKE_DELAY = 1",
    "COM = 1",
    "BAUDRATE = 9600",
    "PARITY = NONE",
    "DATA = 8",
    "STOP = 1",
]


class LayoutError(Exception):
    pass


@dataclass
class Layout:
    name: str
    path: str
    keys: dict = field(default_factory=dict)  # byte -> (virtual key, modifier)
    untypeable: dict = field(default_factory=dict)  # kind -> [byte, ...]


def byte_char(byte):
    """The character a byte stands for in Windows-1252 (Latin-1 where it has none)."""
    try:
        return bytes([byte]).decode("cp1252")
    except UnicodeDecodeError:
        return chr(byte)


def char_label(byte):
    ch = byte_char(byte)
    if "0" <= ch <= "9":
        return "digit " + DIGIT_NAMES[ord(ch) - ord("0")]
    return CHARACTER_LABELS.get(ch, ch)


def parse_layout(path):
    layout = Layout(name="", path=path)
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            text = raw.split("#", 1)[0].strip() if not raw.startswith("section ") else raw.strip()
            if not text:
                continue
            where = f"{path}:{number}"
            if text.startswith("section "):
                layout.name = text[len("section "):].strip()
                continue
            fields = text.split()
            try:
                byte = int(fields[0], 10)
            except ValueError:
                raise LayoutError(f"{where}: expected a byte value in decimal: {raw.rstrip()}")
            if not 0 <= byte <= 255:
                raise LayoutError(f"{where}: byte {byte} out of range")
            if byte in layout.keys or any(byte in v for v in layout.untypeable.values()):
                raise LayoutError(f"{where}: byte {byte} listed twice")
            if len(fields) == 2 and fields[1] in UNTYPEABLE_KINDS:
                layout.untypeable.setdefault(fields[1], []).append(byte)
                continue
            if len(fields) != 3 or fields[2] not in MODIFIER_SUFFIX:
                raise LayoutError(f"{where}: expected 'byte vk none|shift|altgr': {raw.rstrip()}")
            vk = int(fields[1], 16)
            if not 0 < vk <= 0xFF:
                raise LayoutError(f"{where}: virtual key {fields[1]} out of range")
            layout.keys[byte] = (vk, fields[2])
    if not layout.name:
        raise LayoutError(f"{path}: no 'section NAME' line")
    if len(layout.name) > MAX_SECTION_NAME or "GENERAL" in layout.name:
        raise LayoutError(f"{path}: section name '{layout.name}' is longer than 32 characters or holds GENERAL")
    if any(c in layout.name for c in "[]#0123456789"):
        raise LayoutError(f"{path}: section name '{layout.name}' holds a bracket, '#' or a digit")
    return layout


def key_line(byte, entry):
    if entry is None:
        return f"{byte} = {NO_KEY}"
    vk, modifier = entry
    return f"{byte} = {vk:02X}{MODIFIER_SUFFIX[modifier]}  # {char_label(byte)}"


def order_lines(lines):
    """Orders byte -> line text so that each byte's lookup stops at its own line.

    Byte n must come before every other line containing the digits of n. That is
    a partial order as long as no two lines hold each other's digits; among the
    bytes free to go next the smallest goes first, which keeps the file close to
    ascending order for the reader.
    """
    bytes_ = sorted(lines)
    after = {n: [] for n in bytes_}
    waiting = {n: 0 for n in bytes_}
    for n in bytes_:
        key = str(n)
        for m in bytes_:
            if m != n and key in lines[m]:
                after[n].append(m)
                waiting[m] += 1
    ready = [n for n in bytes_ if waiting[n] == 0]
    heapq.heapify(ready)
    order = []
    while ready:
        n = heapq.heappop(ready)
        order.append(n)
        for m in after[n]:
            waiting[m] -= 1
            if waiting[m] == 0:
                heapq.heappush(ready, m)
    if len(order) != len(bytes_):
        # Name only the lines that hold each other's digits, not every line stuck behind them.
        stuck = {n for n in bytes_ if waiting[n] > 0}
        pruned = True
        while pruned:
            pruned = False
            for n in sorted(stuck):
                if not any(m in stuck for m in after[n]):
                    stuck.discard(n)
                    pruned = True
        raise LayoutError(f"no order lets these bytes find their own lines: {sorted(stuck)}")
    return order


def first_match(texts, key):
    """Index of the first line containing key, as the reader searches."""
    for index, text in enumerate(texts):
        if key in text:
            return index
    return None


def section_lines(layout):
    lines = {n: key_line(n, layout.keys.get(n)) for n in range(256)}
    order = order_lines(lines)
    texts = [lines[n] for n in order]
    for position, n in enumerate(order):
        if first_match(texts, str(n)) != position:
            raise LayoutError(f"{layout.name}: byte {n} would not find its own line")
    return [f"[{layout.name}]"] + texts


def untypeable_comment(layout):
    parts = []
    dead = layout.untypeable.get("dead", [])
    if dead:
        parts.append("dead key only: " + " ".join(byte_char(b) for b in dead))
    both = layout.untypeable.get("shift+altgr", [])
    if both:
        parts.append("Shift and AltGr together: " + " ".join(byte_char(b) for b in both))
    if not parts:
        return [f"#   {layout.name}: none, every character of the layout takes one key."]
    return [f"#   {layout.name}, " + parts[0]] + [f"#     {p}" for p in parts[1:]]


def header_comment(layouts):
    # No digits and no brackets up here: nothing in this block may ever be taken
    # for a key line or a section name.
    lines = [
        "# QuorvelCE settings: the serial line, the keyboard tables and the table in use.",
        "#",
        "# GENERAL holds the serial line settings, the pause in milliseconds after every",
        "# key event (STROKE_DELAY) and the name of the keyboard table in use (KEYTABLE).",
        "# Every other section is a keyboard table with one line per byte the scanner can",
        "# send: the byte in decimal, '=', the virtual key in hex, and ',Shift' or ',AltGr'",
        "# when that modifier is held. A byte whose value is zero types nothing.",
        "#",
        "# A key is read from the first line after its section header that contains its",
        "# digits anywhere, in a value or a comment too, and the search goes on past the",
        "# next section. That is why every byte has a line of its own and the lines are",
        "# not in ascending order. Check the file with 'quorvel-ini check' after editing it.",
        "#",
        "# Characters the tables cannot type, because the layout makes them only through",
        "# a dead key or with Shift and AltGr held together:",
    ]
    for layout in layouts:
        lines += untypeable_comment(layout)
    return lines


def settings_file(layouts):
    lines = header_comment(layouts)
    lines += ["", "[GENERAL]"] + GENERAL_LINES + [f"KEYTABLE = {layouts[0].name}"]
    for layout in layouts:
        lines += [""] + section_lines(layout)
    # Notepad users edit this file on Windows: CR LF line ends.
    return "".join(line + "\r\n" for line in lines)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("layouts", nargs="+")
    parser.add_argument("-o", "--output")
    parser.add_argument("--section", action="store_true", help="write one keyboard section only")
    args = parser.parse_args(argv)
    try:
        layouts = [parse_layout(p) for p in args.layouts]
        if len(layouts) > 10:
            raise LayoutError("a settings file lists at most ten keyboard tables")
        if args.section:
            text = "".join(line + "\r\n" for layout in layouts for line in section_lines(layout))
        else:
            text = settings_file(layouts)
    except (LayoutError, OSError) as error:
        print(f"gen_keytables: {error}", file=sys.stderr)
        return 1
    if args.output:
        with open(args.output, "w", encoding="utf-8", newline="") as f:
            f.write(text)
    else:
        sys.stdout.buffer.write(text.encode("utf-8"))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
