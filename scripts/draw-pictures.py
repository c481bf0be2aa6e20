#!/usr/bin/env python3
"""Draws the window icon and the button pictures as XPM files (window/pictures/).

The pictures are simple shapes in a small palette, so they are drawn from
geometry here instead of being kept as opaque binaries. Run it again after a
change and commit the XPM files it writes.
"""
import math
import os

OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "window", "pictures")


def render(size, shapes, palette):
    """shapes: list of (colour key, inside(x, y) on a 0..1 square); later shapes paint over earlier ones."""
    grid = [["." for _ in range(size)] for _ in range(size)]
    samples = 4
    for y in range(size):
        for x in range(size):
            counts = {}
            for sy in range(samples):
                for sx in range(samples):
                    u = (x + (sx + 0.5) / samples) / size
                    v = (y + (sy + 0.5) / samples) / size
                    key = "."
                    for colour, inside in shapes:
                        if inside(u, v):
                            key = colour
                    counts[key] = counts.get(key, 0) + 1
            grid[y][x] = max(counts, key=counts.get)
    return grid


def write_xpm(name, grid, palette):
    size = len(grid)
    lines = ["/* XPM */", "static const char *%s[] = {" % name.replace("-", "_"),
             '"%d %d %d 1",' % (size, size, len(palette))]
    for key, colour in palette.items():
        lines.append('"%s c %s",' % (key, colour))
    rows = ['"%s"' % "".join(row) for row in grid]
    lines.append(",\n".join(rows))
    lines.append("};")
    with open(os.path.join(OUT, name + ".xpm"), "w") as f:
        f.write("\n".join(lines) + "\n")


def rect(x0, y0, x1, y1):
    return lambda u, v: x0 <= u <= x1 and y0 <= v <= y1


def polygon(points):
    def inside(u, v):
        result = False
        j = len(points) - 1
        for i in range(len(points)):
            xi, yi = points[i]
            xj, yj = points[j]
            if (yi > v) != (yj > v) and u < (xj - xi) * (v - yi) / (yj - yi) + xi:
                result = not result
            j = i
        return result
    return inside


def arc(cx, cy, r_in, r_out, a0, a1):
    """Ring segment between angles a0..a1 (degrees, 0 = right, counter-clockwise, y grows down)."""
    def inside(u, v):
        dx, dy = u - cx, cy - v
        d = math.hypot(dx, dy)
        if not (r_in <= d <= r_out):
            return False
        a = math.degrees(math.atan2(dy, dx)) % 360
        return a0 <= a <= a1
    return inside


def update_arrow():
    # A blue arrow from the upper left that curves round to the right and points down.
    palette = {".": "None", "k": "#000080", "b": "#0000FF"}
    ring_out = arc(0.42, 0.56, 0.18, 0.36, 0, 180)
    ring_in = arc(0.42, 0.56, 0.22, 0.32, 2, 178)
    head_out = polygon([(0.60, 0.52), (1.0, 0.52), (0.80, 0.92)])
    head_in = polygon([(0.66, 0.56), (0.94, 0.56), (0.80, 0.84)])
    shapes = [("k", ring_out), ("k", head_out), ("b", ring_in), ("b", head_in)]
    return palette, shapes


def chip():
    # A black integrated-circuit package with three pins on its top and bottom edges.
    palette = {".": "None", "k": "#000000", "w": "#FFFFFF"}
    shapes = []
    for i in range(3):
        x = 0.22 + i * 0.22
        shapes.append(("k", rect(x, 0.12, x + 0.10, 0.30)))
        shapes.append(("k", rect(x, 0.70, x + 0.10, 0.88)))
    shapes.append(("k", rect(0.12, 0.28, 0.88, 0.72)))
    shapes.append(("w", arc(0.12, 0.50, 0.0, 0.07, 0, 360)))
    shapes.append(("w", rect(0.20, 0.36, 0.80, 0.38)))
    return palette, shapes


def folder():
    # An open yellow folder: the back with its tab, and the open front leaning forward.
    palette = {".": "None", "k": "#000000", "y": "#FFFF00", "d": "#808000"}
    back_edge = polygon([(0.04, 0.24), (0.36, 0.24), (0.42, 0.32), (0.84, 0.32), (0.84, 0.86), (0.04, 0.86)])
    back = polygon([(0.08, 0.28), (0.34, 0.28), (0.40, 0.36), (0.80, 0.36), (0.80, 0.84), (0.08, 0.84)])
    front_edge = polygon([(0.22, 0.46), (0.98, 0.46), (0.84, 0.88), (0.04, 0.88)])
    front = polygon([(0.25, 0.50), (0.93, 0.50), (0.81, 0.84), (0.10, 0.84)])
    shapes = [("k", back_edge), ("d", back), ("k", front_edge), ("y", front)]
    return palette, shapes


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, (palette, shapes), sizes in (("update", update_arrow(), (32,)),
                                           ("chip", chip(), (32, 16)),
                                           ("folder", folder(), (32, 16))):
        for size in sizes:
            suffix = "" if size == 32 else "-16"
            write_xpm(name + suffix, render(size, shapes, palette), palette)


if __name__ == "__main__":
    main()
