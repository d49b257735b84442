#!/usr/bin/env python3
"""Draws the program's own artwork and writes it beside this script:
ready.ico (icon 128), not_ready.ico (icon 130) and logo.bmp (bitmap 136), and
the same icons as PNG files (ready_16.png, ready_32.png, not_ready_16.png,
not_ready_32.png) for the Linux program, whose toolkit reads PNG and BMP
without plugins but needs one for ICO.

Icons: 16 colours, a 32x32 and a 16x16 image each; a hand-held scanner with a
green beam when ready, a grey scanner with a red cross when not ready, so the
two tell apart at a glance in the tray. Logo: 180x62, 24 bits per pixel, a
bar-code and the program's name. Standard library only; the output is checked
in, so run this again only when the artwork changes.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

# The standard 16-colour palette, as (r, g, b).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, GREEN, NAVY, SILVER, GRAY, RED, LIME, BLUE, WHITE = 0, 2, 4, 7, 8, 9, 10, 12, 15
CLEAR = None  # transparent pixel


def new_canvas(size):
    return [[CLEAR] * size for _ in range(size)]


def fill(canvas, x0, y0, x1, y1, colour):
    """Fills the box [x0, x1) x [y0, y1) given in 1/32 units of the canvas."""
    n = len(canvas)
    for y in range(n):
        for x in range(n):
            cx, cy = (x + 0.5) * 32 / n, (y + 0.5) * 32 / n
            if x0 <= cx < x1 and y0 <= cy < y1:
                canvas[y][x] = colour


def line(canvas, x0, y0, x1, y1, colour, width=1.0):
    """A straight stroke between two points in 1/32 units."""
    n = len(canvas)
    dx, dy = x1 - x0, y1 - y0
    length2 = dx * dx + dy * dy
    half = max(width, 32 / n) / 2
    for y in range(n):
        for x in range(n):
            cx, cy = (x + 0.5) * 32 / n, (y + 0.5) * 32 / n
            t = max(0.0, min(1.0, ((cx - x0) * dx + (cy - y0) * dy) / length2))
            px, py = x0 + t * dx - cx, y0 + t * dy - cy
            if px * px + py * py <= half * half:
                canvas[y][x] = colour


def draw_scanner(size, ready):
    c = new_canvas(size)
    body = NAVY if ready else GRAY
    face = BLUE if ready else SILVER
    # Head, lying flat with its window to the right, and the grip below it.
    fill(c, 2, 7, 21, 17, BLACK)
    fill(c, 3, 8, 20, 16, body)
    fill(c, 5, 9, 17, 11, face)
    fill(c, 6, 16, 14, 29, BLACK)
    fill(c, 7, 16, 13, 28, body)
    fill(c, 13, 18, 15, 21, BLACK)  # trigger
    fill(c, 20, 8, 22, 16, RED if ready else BLACK)  # exit window
    if ready:
        for end_y in (4, 12, 20):
            line(c, 22, 12, 31, end_y, LIME, 1.5)
    else:
        line(c, 18, 19, 30, 31, RED, 3)
        line(c, 30, 19, 18, 31, RED, 3)
    return c


def ico_image(canvas):
    n = len(canvas)
    header = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in PALETTE)
    xor_rows = []
    and_rows = []
    for row in reversed(canvas):  # bottom-up
        nibbles = [0 if p is CLEAR else p for p in row]
        data = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, n, 2))
        xor_rows.append(data + b"\0" * (-len(data) % 4))
        bits = 0
        mask = bytearray()
        for i, p in enumerate(row):
            bits = (bits << 1) | (1 if p is CLEAR else 0)
            if i % 8 == 7:
                mask.append(bits)
                bits = 0
        and_rows.append(bytes(mask) + b"\0" * (-len(mask) % 4))
    return header + palette + b"".join(xor_rows) + b"".join(and_rows)


def write_ico(path, canvases):
    images = [ico_image(c) for c in canvases]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for canvas, image in zip(canvases, images):
        n = len(canvas)
        out += struct.pack("<BBBBHHII", n, n, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def write_png(path, canvas):
    """The canvas as an 8-bit RGBA PNG; transparent where the icon's mask is."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    n = len(canvas)
    raw = b"".join(
        b"\0" + b"".join(bytes((0, 0, 0, 0)) if p is CLEAR else bytes(PALETTE[p] + (255,))
                         for p in row)
        for row in canvas)
    header = struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


# A 5x7 capital font for the name, one string of five bits per row.
FONT = {
    "Q": ["01110", "10001", "10001", "10001", "10101", "10010", "01101"],
    "U": ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    "O": ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    "R": ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    "V": ["10001", "10001", "10001", "10001", "10001", "01010", "00100"],
    "E": ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    "L": ["10000", "10000", "10000", "10000", "10000", "10000", "11111"],
    "C": ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    " ": ["00000"] * 7,
}


def write_logo(path):
    width, height = 180, 62
    white, ink, accent = (255, 255, 255), (20, 30, 90), (0, 140, 60)
    px = [[white] * width for _ in range(height)]

    def box(x0, y0, x1, y1, colour):
        for y in range(max(0, y0), min(height, y1)):
            for x in range(max(0, x0), min(width, x1)):
                px[y][x] = colour

    # A bar-code of our own rhythm on the left, a green scan line across it.
    x = 4
    for i, w in enumerate([2, 1, 3, 1, 1, 2, 3, 1, 2, 1, 2, 1]):
        if i % 2 == 0:
            box(x, 8, x + w, 54, ink)
        x += w + 1
    box(2, 30, x + 4, 32, accent)
    # The name in 2x pixels, then a thin rule under it.
    tx, ty, scale = x + 8, 22, 2
    for ch in "QUORVEL CE":
        for r, bits in enumerate(FONT[ch]):
            for col, bit in enumerate(bits):
                if bit == "1":
                    box(tx + col * scale, ty + r * scale, tx + (col + 1) * scale,
                        ty + (r + 1) * scale, ink)
        tx += 6 * scale if ch != " " else 3 * scale
    box(x + 8, 40, tx - scale, 42, accent)

    row_bytes = width * 3
    pad = -row_bytes % 4
    pixels = b"".join(
        b"".join(struct.pack("<BBB", b, g, r) for r, g, b in row) + b"\0" * pad
        for row in reversed(px))
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835, 0, 0)
    head = struct.pack("<2sIHHI", b"BM", 14 + len(info) + len(pixels), 0, 0, 14 + len(info))
    with open(path, "wb") as f:
        f.write(head + info + pixels)


def main():
    for name, ready in (("ready", True), ("not_ready", False)):
        canvases = [draw_scanner(32, ready), draw_scanner(16, ready)]
        write_ico(os.path.join(HERE, name + ".ico"), canvases)
        for canvas in canvases:
            write_png(os.path.join(HERE, "%s_%d.png" % (name, len(canvas))), canvas)
    write_logo(os.path.join(HERE, "logo.bmp"))


if __name__ == "__main__":
    main()
