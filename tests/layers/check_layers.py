#!/usr/bin/env python3
"""Keeps the layers one-way: a file of the core or of the platform seam may
include only headers of its own layer or of the layers below it. Run by CTest
over the source tree; prints every include that points upwards."""
import os
import re
import sys

# Top to bottom. tools/, bench/, fuzz/ and tests/ sit above them all.
LAYERS = ["app", "serial", "keymap", "settings", "platform"]
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def layer_of(path):
    top = path.split("/", 1)[0]
    return LAYERS.index(top) if top in LAYERS else None


def main(root):
    wrong = []
    for top in LAYERS:
        for folder, _, files in os.walk(os.path.join(root, top)):
            for name in files:
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
                own = layer_of(path)
                with open(os.path.join(root, path), encoding="utf-8", errors="replace") as f:
                    for included in INCLUDE.findall(f.read()):
                        other = layer_of(included)
                        if other is not None and other < own:
                            wrong.append("%s includes %s" % (path, included))
    for line in wrong:
        print(line)
    print("%d includes point upwards" % len(wrong))
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else "."))
