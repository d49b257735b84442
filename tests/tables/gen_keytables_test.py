#!/usr/bin/env python3
"""The table generator on layouts where ascending order would be wrong, and on
inputs it must refuse rather than write a table that types the wrong keys.

Usage: gen_keytables_test.py SOURCE_DIR [unittest options]
"""

import importlib.util
import os
import sys
import tempfile
import unittest

gen = None


def write_layout(directory, body, name="Test"):
    path = os.path.join(directory, "layout.txt")
    with open(path, "w", encoding="utf-8") as f:
        f.write(f"# a test layout\nsection {name}\n{body}")
    return path


def first_line_containing(lines, key):
    return next(line for line in lines if key in line)


class Ordering(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def section(self, body):
        return gen.section_lines(gen.parse_layout(write_layout(self.tmp.name, body)))

    def test_line_whose_value_holds_a_later_byte_moves_behind_it(self):
        # Byte 3 types VK 0x65: ascending order would make byte 65 read "3 = 65".
        lines = self.section("3 65 none\n65 41 shift\n")
        self.assertEqual("[Test]", lines[0])
        body = lines[1:]
        self.assertEqual(256, len(body))
        self.assertLess(body.index("65 = 41,Shift  # A"), body.index("3 = 65  # \x03"))
        for n in range(256):
            self.assertTrue(first_line_containing(body, str(n)).startswith(f"{n} = "), n)

    def test_every_byte_defined_and_untypeable_ones_type_nothing(self):
        lines = self.section("13 0D none\n94 dead\n201 shift+altgr\n")[1:]
        self.assertIn("13 = 0D  # carriage return", lines)
        self.assertIn("94 = 0", lines)
        self.assertIn("201 = 0", lines)
        self.assertIn("10 = 0", lines)

    def test_comments_never_add_digits_or_brackets(self):
        lines = self.section("48 30 none\n91 DB none\n35 33 shift\n")[1:]
        self.assertIn("48 = 30  # digit zero", lines)
        self.assertIn("91 = DB  # left square bracket", lines)
        self.assertIn("35 = 33,Shift  # number sign", lines)

    def test_lines_that_hold_each_others_digits_are_refused(self):
        # "12 = 13" and "13 = 12": whichever comes first catches the other's lookup.
        with self.assertRaisesRegex(gen.LayoutError, r"\[12, 13\]"):
            self.section("12 13 none\n13 12 none\n")


class Refusals(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)

    def refused(self, body, pattern, name="Test"):
        with self.assertRaisesRegex(gen.LayoutError, pattern):
            gen.parse_layout(write_layout(self.tmp.name, body, name))

    def test_bad_layout_lines(self):
        self.refused("65 41 none\n65 41 shift\n", "listed twice")
        self.refused("256 41 none\n", "out of range")
        self.refused("65 41 ctrl\n", "expected")
        self.refused("65 100 none\n", "out of range")

    def test_section_names_the_file_cannot_carry(self):
        self.refused("", "longer than", name="A" * 33)
        self.refused("", "GENERAL", name="MY GENERAL TABLE")
        self.refused("", "digit", name="Table 2")

    def test_command_line_reports_and_fails(self):
        path = write_layout(self.tmp.name, "65 41 none\n65 41 none\n")
        self.assertEqual(1, gen.main(["-o", os.path.join(self.tmp.name, "out.ini"), path]))
        self.assertFalse(os.path.exists(os.path.join(self.tmp.name, "out.ini")))


if __name__ == "__main__":
    source_dir = sys.argv.pop(1)
    spec = importlib.util.spec_from_file_location("gen_keytables",
                                                  os.path.join(source_dir, "tools", "gen_keytables.py"))
    gen = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(gen)
    unittest.main()
