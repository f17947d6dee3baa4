#!/usr/bin/env python3
"""Draws the program's own pictures as PNG files (standard library only).

krm_icon.png        256 x 256  program icon: a parallel gripper holding a part
faststop_up.png      96 x 96   Fast Stop button released: raised red mushroom
faststop_down.png    96 x 96   Fast Stop button pressed: sunk, darker, glowing
faststop_plate.png  140 x 72   plate below the button: hazard-striped frame
                               around the gripper pictogram

Every shape is sampled 4 x 4 times per pixel for smooth edges. Run from this
folder.
"""
import math
import struct
import zlib

SAMPLES = 4


class Canvas:
    def __init__(self, width, height):
        self.width = width
        self.height = height
        self.pixels = [[(0.0, 0.0, 0.0, 0.0)] * width for _ in range(height)]

    def fill(self, inside, colour, box=None):
        """Blends `colour` (rgba tuple or function of x, y) over every pixel in
        proportion to the share of its samples for which inside(x, y) holds."""
        x0, y0, x1, y1 = box if box else (0, 0, self.width, self.height)
        x0, y0 = max(0, int(x0) - 1), max(0, int(y0) - 1)
        x1, y1 = min(self.width, int(x1) + 2), min(self.height, int(y1) + 2)
        step = 1.0 / SAMPLES
        for py in range(y0, y1):
            for px in range(x0, x1):
                hits = 0
                for sy in range(SAMPLES):
                    for sx in range(SAMPLES):
                        if inside(px + (sx + 0.5) * step, py + (sy + 0.5) * step):
                            hits += 1
                if hits:
                    c = colour(px + 0.5, py + 0.5) if callable(colour) else colour
                    self.blend(px, py, c, hits / (SAMPLES * SAMPLES))

    def blend(self, x, y, colour, coverage):
        r, g, b, a = colour
        a *= coverage
        dr, dg, db, da = self.pixels[y][x]
        out_a = a + da * (1 - a)
        if out_a == 0:
            return
        mix = lambda s, d: (s * a + d * da * (1 - a)) / out_a
        self.pixels[y][x] = (mix(r, dr), mix(g, dg), mix(b, db), out_a)

    def save(self, path):
        raw = bytearray()
        for row in self.pixels:
            raw.append(0)
            for r, g, b, a in row:
                raw.extend(int(round(max(0.0, min(1.0, v)) * 255)) for v in (r, g, b, a))

        def chunk(kind, data):
            body = kind + data
            return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body) & 0xFFFFFFFF)

        header = struct.pack(">IIBBBBB", self.width, self.height, 8, 6, 0, 0, 0)
        with open(path, "wb") as out:
            out.write(b"\x89PNG\r\n\x1a\n")
            out.write(chunk(b"IHDR", header))
            out.write(chunk(b"IDAT", zlib.compress(bytes(raw), 9)))
            out.write(chunk(b"IEND", b""))


def rgb(hex_colour, alpha=1.0):
    v = int(hex_colour.lstrip("#"), 16)
    return ((v >> 16 & 255) / 255, (v >> 8 & 255) / 255, (v & 255) / 255, alpha)


def lerp(c1, c2, t):
    t = max(0.0, min(1.0, t))
    return tuple(a + (b - a) * t for a, b in zip(c1, c2))


def circle(cx, cy, r):
    return lambda x, y: (x - cx) ** 2 + (y - cy) ** 2 <= r * r


def ring(cx, cy, r_outer, r_inner):
    return lambda x, y: r_inner * r_inner <= (x - cx) ** 2 + (y - cy) ** 2 <= r_outer * r_outer


def rounded_rect(x0, y0, x1, y1, radius):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + radius), x1 - radius)
        cy = min(max(y, y0 + radius), y1 - radius)
        return (x - cx) ** 2 + (y - cy) ** 2 <= radius * radius
    return inside


def polygon(points):
    def inside(x, y):
        result = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > y) != (yj > y) and x < (xj - xi) * (y - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def radial(cx, cy, r, inner, outer):
    return lambda x, y: lerp(inner, outer, math.hypot(x - cx, y - cy) / r)


def vertical(y0, y1, top, bottom):
    return lambda x, y: lerp(top, bottom, (y - y0) / (y1 - y0))


def draw_gripper(c, x, y, scale, body, finger, part):
    """Gripper pictogram in a 100 x 100 box at (x, y): housing, two jaws, part."""
    s = lambda v: v * scale
    c.fill(rounded_rect(x + s(14), y + s(8), x + s(86), y + s(40), s(6)), body)
    c.fill(rounded_rect(x + s(20), y + s(40), x + s(80), y + s(48), s(2)), body)
    for left in (x + s(22), x + s(64)):
        c.fill(rounded_rect(left, y + s(44), left + s(14), y + s(92), s(3)), finger)
    c.fill(rounded_rect(x + s(36), y + s(58), x + s(64), y + s(84), s(3)), part)


def icon():
    c = Canvas(256, 256)
    c.fill(rounded_rect(8, 8, 248, 248, 44), vertical(8, 248, rgb("#4F81BD"), rgb("#1F4A7D")))
    c.fill(rounded_rect(8, 8, 248, 128, 44), (1, 1, 1, 0.08))
    draw_gripper(c, 28, 30, 2.0, rgb("#E8EEF6"), rgb("#FFFFFF"), rgb("#FFC000"))
    c.save("krm_icon.png")


def fast_stop(pressed):
    c = Canvas(96, 96)
    cx = cy = 48
    # Yellow collar with a dark rim.
    c.fill(circle(cx, cy + 1.5, 46), (0, 0, 0, 0.25))
    c.fill(circle(cx, cy, 45), rgb("#3A3A3A"))
    c.fill(circle(cx, cy, 43), radial(cx, cy - 10, 50, rgb("#FFE066"), rgb("#E0A800")))
    c.fill(ring(cx, cy, 43, 41.5), (1, 1, 1, 0.35))
    if pressed:
        # Sunk mushroom: a shadow well, a smaller darker cap and an orange glow.
        c.fill(ring(cx, cy, 36, 31), (1.0, 0.45, 0.0, 0.55))
        c.fill(circle(cx, cy, 31), rgb("#2A0000"))
        c.fill(circle(cx, cy + 1, 28), radial(cx + 4, cy + 6, 34, rgb("#B01010"), rgb("#5A0000")))
        c.fill(circle(cx - 6, cy - 8, 8), (1, 1, 1, 0.10))
    else:
        # Raised mushroom: drop shadow, bright cap, glossy highlight.
        c.fill(circle(cx + 2, cy + 4, 34), (0, 0, 0, 0.35))
        c.fill(circle(cx, cy, 34), rgb("#7A0000"))
        c.fill(circle(cx, cy - 1, 32), radial(cx - 8, cy - 12, 46, rgb("#FF5A4A"), rgb("#A00000")))
        c.fill(lambda x, y: ((x - cx) / 22) ** 2 + ((y - cy + 16) / 11) ** 2 <= 1,
               vertical(cy - 27, cy - 5, (1, 1, 1, 0.65), (1, 1, 1, 0.0)))
    c.save("faststop_down.png" if pressed else "faststop_up.png")


def plate():
    w, h = 140, 72
    c = Canvas(w, h)
    c.fill(rounded_rect(0, 0, w, h, 6), rgb("#FFC000"))
    stripes = lambda x, y: int((x + y) // 10) % 2 == 0
    c.fill(lambda x, y: rounded_rect(0, 0, w, h, 6)(x, y) and stripes(x, y), rgb("#202020"))
    c.fill(rounded_rect(7, 7, w - 7, h - 7, 4), rgb("#202020"))
    c.fill(rounded_rect(9, 9, w - 9, h - 9, 3), vertical(9, h - 9, rgb("#3A3A3A"), rgb("#1A1A1A")))
    draw_gripper(c, 46, 12, 0.48, rgb("#FFC000"), rgb("#FFD84D"), rgb("#E04020"))
    # Arrows pointing at the jaws: the fingers stop where they are.
    for tip, back in ((40, 28), (100, 112)):
        c.fill(polygon([(back, 36), (tip, 44), (back, 52)]), rgb("#FFC000"))
    c.fill(rounded_rect(20, 41, 30, 47, 1), rgb("#FFC000"))
    c.fill(rounded_rect(110, 41, 120, 47, 1), rgb("#FFC000"))
    c.save("faststop_plate.png")


def main():
    icon()
    fast_stop(False)
    fast_stop(True)
    plate()


if __name__ == "__main__":
    main()
