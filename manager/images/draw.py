#!/usr/bin/env python3
"""Draws the manager's images: the 32 status lamps, the four tray icons, the four tree images
and the program icon, each at its own size and at twice that size (name@2x.png, which Qt picks
on a screen scaled to 200 %).

Every shape is described in a unit square and sampled 8 x 8 times per pixel, so both sizes come
from the same drawing and the small one stays crisp. Run it from anywhere; it rewrites the PNG
files beside itself:

    python3 manager/images/draw.py
"""

import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = 8

LAMP_COLOURS = {  # name: (lit, dark)
    "RED": ((232, 36, 30), (112, 18, 14)),
    "BLUE": ((44, 96, 236), (20, 40, 112)),
    "GREEN": ((36, 204, 48), (16, 96, 22)),
    "YELLOW": ((252, 220, 24), (124, 106, 10)),
    "MANGENTA": ((222, 44, 222), (104, 20, 104)),
    "GRAY": ((168, 168, 168), (84, 84, 84)),
    "CYAN": ((32, 212, 224), (14, 100, 106)),
    "WHITE": ((252, 252, 252), (16, 16, 16)),
}
LAMP_BACKGROUND = (212, 208, 200, 255)
RING = (48, 48, 48, 255)


def write_png(path, size, pixels):
    raw = b"".join(b"\x00" + bytes(v for px in row for v in px) for row in pixels)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                  chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def over(top, bottom):
    """Source-over compositing of two straight-alpha colours."""
    ta = top[3] / 255
    ba = bottom[3] / 255
    alpha = ta + ba * (1 - ta)
    if alpha == 0:
        return (0, 0, 0, 0)
    rgb = [(top[i] * ta + bottom[i] * ba * (1 - ta)) / alpha for i in range(3)]
    return (*rgb, alpha * 255)


def render(size, shade):
    """shade(x, y) gives a colour for a point of the unit square; averaged per pixel."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            acc = [0.0, 0.0, 0.0, 0.0]
            for sy in range(SAMPLES):
                for sx in range(SAMPLES):
                    x = (px + (sx + 0.5) / SAMPLES) / size
                    y = (py + (sy + 0.5) / SAMPLES) / size
                    c = shade(x, y)
                    a = c[3] / 255
                    for i in range(3):
                        acc[i] += c[i] * a
                    acc[3] += a
            n = SAMPLES * SAMPLES
            alpha = acc[3] / n
            if alpha > 0:
                pixel = tuple(round(acc[i] / acc[3]) for i in range(3)) + (round(alpha * 255),)
            else:
                pixel = (0, 0, 0, 0)
            row.append(pixel)
        rows.append(row)
    return rows


def mix(a, b, t):
    return tuple(a[i] + (b[i] - a[i]) * t for i in range(3))


def lamp(colour, heavy):
    """A round lamp lit from the upper left, on the light grey of a dialog."""
    body_radius = 0.36 if heavy else 0.43
    edge = mix(colour, (0, 0, 0), 0.45)

    def shade(x, y):
        dx, dy = x - 0.5, y - 0.5
        d = math.hypot(dx, dy)
        c = LAMP_BACKGROUND
        if heavy and d <= 0.48:
            c = over(RING, c)
        if d <= body_radius:
            # brighter towards the highlight, darker at the rim
            h = math.hypot(x - 0.36, y - 0.34) / body_radius
            body = mix(mix(colour, (255, 255, 255), 0.35), colour, min(1.0, h))
            if d > body_radius - 0.07:
                body = edge
            c = (*body, 255)
            if math.hypot(x - 0.38, y - 0.35) <= body_radius * 0.28:
                c = over((255, 255, 255, 200), c)
        return c

    return shade


def clock(square):
    """A clock face at ten past ten; with a coloured square for the service state."""
    face = (250, 250, 246)
    rim = (40, 48, 64)

    def on_hand(x, y, cx, cy, angle, length, width):
        ex, ey = cx + math.sin(angle) * length, cy - math.cos(angle) * length
        vx, vy = ex - cx, ey - cy
        t = max(0.0, min(1.0, ((x - cx) * vx + (y - cy) * vy) / (vx * vx + vy * vy)))
        return math.hypot(x - (cx + t * vx), y - (cy + t * vy)) <= width

    def shade(x, y):
        cx, cy, r = 0.46, 0.46, 0.42
        d = math.hypot(x - cx, y - cy)
        c = (0, 0, 0, 0)
        if d <= r:
            c = (*rim, 255) if d > r - 0.09 else (*face, 255)
            for k in range(12):
                a = k * math.pi / 6
                tx, ty = cx + math.sin(a) * (r - 0.15), cy - math.cos(a) * (r - 0.15)
                if k % 3 == 0 and math.hypot(x - tx, y - ty) <= 0.035:
                    c = (*rim, 255)
            if on_hand(x, y, cx, cy, math.radians(300), 0.2, 0.045):
                c = (*rim, 255)
            if on_hand(x, y, cx, cy, math.radians(60), 0.27, 0.035):
                c = (*rim, 255)
        if square is not None and 0.52 <= x <= 0.98 and 0.52 <= y <= 0.98:
            inner = 0.58 <= x <= 0.92 and 0.58 <= y <= 0.92
            c = (*square, 255) if inner else (24, 24, 24, 255)
        return c

    return shade


def diamond(colour):
    edge = mix(colour, (0, 0, 0), 0.5)

    def shade(x, y):
        d = abs(x - 0.5) + abs(y - 0.5)
        if d > 0.42:
            return (0, 0, 0, 0)
        if d > 0.33:
            return (*edge, 255)
        # lit from the upper left
        t = max(0.0, min(1.0, (x + y - 0.4) / 0.8))
        return (*mix(mix(colour, (255, 255, 255), 0.45), colour, t), 255)

    return shade


def save(name, size, shade):
    write_png(os.path.join(HERE, name + ".png"), size, render(size, shade))
    write_png(os.path.join(HERE, name + "@2x.png"), size * 2, render(size * 2, shade))


def main():
    for name, (lit, dark) in LAMP_COLOURS.items():
        dark_name = "BLACK" if name == "WHITE" else "DARK_" + name
        save(name, 15, lamp(lit, False))
        save(dark_name, 15, lamp(dark, False))
        save(name + "_LITE", 15, lamp(lit, True))
        save("DARK_" + name + "_LITE", 15, lamp(dark, True))
    save("TRAY_CLOCK", 16, clock(None))
    save("TRAY_RED", 16, clock((232, 36, 30)))
    save("TRAY_YELLOW", 16, clock((252, 220, 24)))
    save("TRAY_GREEN", 16, clock((36, 204, 48)))
    save("TREE_ROOT", 16, diamond((36, 180, 48)))
    save("TREE_TASK", 16, diamond((44, 96, 236)))
    save("TREE_DETAIL", 16, diamond((150, 150, 150)))
    save("TREE_RUNNING", 16, diamond((232, 36, 30)))
    write_png(os.path.join(HERE, "tarvok.png"), 64, render(64, clock((36, 204, 48))))


if __name__ == "__main__":
    main()
