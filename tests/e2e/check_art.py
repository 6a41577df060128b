#!/usr/bin/env python3
"""Checks a picture of the main window for tiled or cut background art.

The window's frame colour must run along all four edges, and no thin line of
that colour may cross the dark background inside (the edge of a repeated
background picture). Areas of the colour (the page list) are fine. Prints what it found and
exits with 1 when the picture fails.
Usage: check_art.py <window.png>
"""
import subprocess
import sys

FRAME = (49, 106, 197)
TOLERANCE = 12
EDGE_SHARE = 0.95  # of an edge's pixels in frame colour
SEAM_RUN = 12      # pixels of a thin line that make a seam
DARK = 300         # the background's colours add up to less


def read_picture(path):
    data = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True,
                          stdout=subprocess.PIPE).stdout
    # P6 header: magic, width, height, maximum, then the pixels.
    fields = data.split(maxsplit=4)
    width, height = int(fields[1]), int(fields[2])
    pixels = fields[4]
    return width, height, pixels


def main():
    width, height, pixels = read_picture(sys.argv[1])

    def frame(x, y):
        i = 3 * (y * width + x)
        return all(abs(pixels[i + c] - FRAME[c]) <= TOLERANCE for c in range(3))

    problems = []
    edges = {
        "top": [frame(x, 0) for x in range(width)],
        "bottom": [frame(x, height - 1) for x in range(width)],
        "left": [frame(0, y) for y in range(height)],
        "right": [frame(width - 1, y) for y in range(height)],
    }
    for name, line in edges.items():
        share = sum(line) / len(line)
        if share < EDGE_SHARE:
            problems.append("%s edge: %.0f%% in frame colour" % (name, 100 * share))

    def dark(x, y):
        i = 3 * (y * width + x)
        return pixels[i] + pixels[i + 1] + pixels[i + 2] < DARK

    def thin(x, y, dx, dy):
        return (frame(x, y) and dark(x - 3 * dx, y - 3 * dy) and dark(x + 3 * dx, y + 3 * dy))

    # A line with the dark background on both sides: vertical ones anywhere
    # inside; horizontal ones below the caption band (whose underline is
    # drawn on purpose) and longer than a slice of the page list.
    for x in range(3, width - 3):
        run = best = 0
        for y in range(height):
            run = run + 1 if thin(x, y, 1, 0) else 0
            best = max(best, run)
        if best >= SEAM_RUN:
            problems.append("a vertical seam at x=%d (%d pixels)" % (x, best))
    for y in range(height * 12 // 100, height - 3):
        run = best = 0
        for x in range(width):
            run = run + 1 if thin(x, y, 0, 1) else 0
            best = max(best, run)
        if best >= max(SEAM_RUN, width // 5):
            problems.append("a horizontal seam at y=%d (%d pixels)" % (y, best))

    name = sys.argv[1]
    if problems:
        print("%s (%dx%d): %s" % (name, width, height, "; ".join(problems[:6])))
        return 1
    print("%s (%dx%d): frame on four edges, no seam" % (name, width, height))
    return 0


if __name__ == "__main__":
    sys.exit(main())
