#!/usr/bin/env python3
"""Writes the controls' small bitmaps as XPM files (magenta is see-through).

GLYPH2A/GLYPH1A: white triangle pointing up/down on 14 x 14, GLYPH2B/GLYPH1B
the same moved one pixel right and down (pressed look). ARROWUP/ARROWDOWN:
16 x 16 dark sort arrows for the list box header. Run from this folder.
"""

MAGENTA = "#FF00FF"


def triangle(size, up, dx, dy, rows, half_width):
    """Pixels of an isosceles triangle centred in a size x size square."""
    pixels = set()
    cx = size // 2 - 1 + dx
    top = (size - rows) // 2 + dy
    for r in range(rows):
        span = (r * half_width) // (rows - 1) if up else ((rows - 1 - r) * half_width) // (rows - 1)
        for x in range(cx - span, cx + span + 2):
            pixels.add((x, top + r))
    return pixels


def write_xpm(path, name, size, pixels, colour):
    """Writes one XPM: '.' see-through, 'o' the triangle."""
    lines = ["".join("o" if (x, y) in pixels else "." for x in range(size)) for y in range(size)]
    colours = ['". c %s"' % MAGENTA, '"o c %s"' % colour]
    with open(path, "w") as out:
        out.write("/* XPM */\n")
        out.write("static const char *%s[] = {\n" % name)
        out.write('"%d %d %d 1",\n' % (size, size, len(colours)))
        for c in colours:
            out.write(c + ",\n")
        out.write(",\n".join('"%s"' % l for l in lines))
        out.write("\n};\n")


def main():
    write_xpm("glyph2a.xpm", "glyph2a", 14, triangle(14, True, 0, 0, 5, 4), "#FFFFFF")
    write_xpm("glyph1a.xpm", "glyph1a", 14, triangle(14, False, 0, 0, 5, 4), "#FFFFFF")
    write_xpm("glyph2b.xpm", "glyph2b", 14, triangle(14, True, 1, 1, 5, 4), "#FFFFFF")
    write_xpm("glyph1b.xpm", "glyph1b", 14, triangle(14, False, 1, 1, 5, 4), "#FFFFFF")
    write_xpm("arrowup.xpm", "arrowup", 16, triangle(16, True, 0, 0, 5, 4), "#404040")
    write_xpm("arrowdown.xpm", "arrowdown", 16, triangle(16, False, 0, 0, 5, 4), "#404040")


if __name__ == "__main__":
    main()
