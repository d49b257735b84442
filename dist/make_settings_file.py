#!/usr/bin/env python3
"""Writes dist/QuorvelCE.INI: GENERAL with the program's defaults (KEYTABLE
naming the active keyboard layout, so that new users need no table) and one
keyboard table per layout list in dist/layouts/, each written by
`quorvel-ini generate` (which gives every byte its own line, in an order the
program's first-line-that-contains-the-digits lookup cannot get wrong).

Usage: make_settings_file.py --tool PATH/TO/quorvel-ini [-o FILE]
"""

import argparse
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

# Section name and list file of each table the file carries.
LAYOUTS = [
    ("US English", "us-english.txt"),
    ("UK English", "uk-english.txt"),
    ("French AZERTY", "french-azerty.txt"),
    ("German QWERTZ", "german-qwertz.txt"),
]

GENERAL = [
    "[GENERAL]",
    "STROKE_DELAY = 1",
    "COM = 1",
    "BAUDRATE = 9600",
    "PARITY = NONE",
    "DATA = 8",
    "STOP = 1",
    "KEYTABLE = Active keyboard layout",
]


def list_character(token):
    if token.lower().startswith("0x"):
        return bytes([int(token[2:], 16)]).decode("cp1252")
    if token.upper().startswith("U+") and len(token) > 2:
        return chr(int(token[2:], 16))
    return token


def untypeable(list_path):
    """The characters a list gives no key, grouped under the comment above them."""
    groups = []
    with open(list_path, encoding="utf-8") as f:
        for line in f:
            tokens = line.split()
            if not tokens:
                continue
            if tokens[0].startswith("#"):
                heading = line.strip().lstrip("#").strip().rstrip(":")
                continue
            if len(tokens) == 2 and tokens[1].lower() == "none":
                if not groups or groups[-1][0] != heading:
                    groups.append((heading, []))
                groups[-1][1].append(list_character(tokens[0]))
    return groups


def header_comment():
    # Nothing up here may carry a digit or a bracket: above the first section
    # no lookup reads it, but the section list takes any line with a bracket.
    lines = [
        "# QuorvelCE settings: the serial line, the keyboard tables and the table in use.",
        "#",
        "# GENERAL holds the serial line settings, the pause in milliseconds after every",
        "# key event (STROKE_DELAY) and the name of the keyboard table in use (KEYTABLE).",
        "# Every other section is a keyboard table with one line per byte the scanner can",
        "# send: the byte in decimal, '=', the virtual key in hex, and ',Shift' or ',AltGr'",
        "# when that modifier is held; a byte whose value is 'none' types nothing.",
        "#",
        "# A key is read from the first line after its section header that contains its",
        "# digits anywhere, in a value or a comment too, and the search goes on past the",
        "# next section. That is why every byte has a line of its own and the lines are",
        "# not quite in ascending order. After editing, run: quorvel-ini check QuorvelCE.INI",
        "#",
        "# KEYTABLE = Active keyboard layout reads no table: each byte is typed as the",
        "# character it stands for in the Windows Western European code page, on the",
        "# keyboard layout of the focused window, through a dead key or as the character",
        "# itself where no key types it. Name a table instead to type its keys whatever",
        "# the layout.",
        "#",
        "# Characters the tables cannot type:",
    ]
    for name, list_file in LAYOUTS:
        groups = untypeable(os.path.join(HERE, "layouts", list_file))
        if not groups:
            lines.append(f"#   {name}: none.")
        for heading, characters in groups:
            lines.append(f"#   {name}, {heading[:1].lower()}{heading[1:]}: {' '.join(characters)}")
    return lines


def generated_section(tool, name, list_file):
    result = subprocess.run([tool, "generate", name, os.path.join(HERE, "layouts", list_file)],
                            capture_output=True, check=False)
    if result.returncode != 0:
        sys.stderr.write(result.stderr.decode("utf-8", "replace"))
        raise SystemExit(f"make_settings_file: quorvel-ini generate failed for {name}")
    return result.stdout.decode("utf-8").replace("\r\n", "\n").rstrip("\n").split("\n")


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--tool", required=True, help="the quorvel-ini executable")
    parser.add_argument("-o", "--output", default=os.path.join(HERE, "QuorvelCE.INI"))
    args = parser.parse_args(argv)
    lines = header_comment() + [""] + GENERAL
    for name, list_file in LAYOUTS:
        lines += [""] + generated_section(args.tool, name, list_file)
    # Users edit this file in Notepad: CR LF line ends, UTF-8 without a byte-order mark.
    with open(args.output, "w", encoding="utf-8", newline="") as f:
        f.write("".join(line + "\r\n" for line in lines))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
