#!/usr/bin/env python3
"""Draws the program's bitmaps and icons into art/.

Standard library only. The generated files are committed, so the build does
not run this script; run it again after changing the artwork:
    python3 resources/make_art.py
Theme: dark blue with white, the page list's blue (49,106,197) as accent.
"""
import math
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
OUT = os.path.join(HERE, "art")

NAVY = (14, 33, 74)
NAVY_DARK = (9, 22, 50)
BLUE = (49, 106, 197)
BLUE_LIGHT = (96, 146, 222)
WHITE = (255, 255, 255)
PALE = (206, 218, 238)
GREY_SEL = (240, 240, 240)
INK_SEL = (22, 52, 112)

# 5x7 capitals, one string of five characters per row ('#' is ink).
FONT = {
    "A": [" ### ", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"],
    "B": ["#### ", "#   #", "#   #", "#### ", "#   #", "#   #", "#### "],
    "C": [" ####", "#    ", "#    ", "#    ", "#    ", "#    ", " ####"],
    "D": ["#### ", "#   #", "#   #", "#   #", "#   #", "#   #", "#### "],
    "E": ["#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#####"],
    "F": ["#####", "#    ", "#    ", "#### ", "#    ", "#    ", "#    "],
    "G": [" ####", "#    ", "#    ", "#  ##", "#   #", "#   #", " ####"],
    "H": ["#   #", "#   #", "#   #", "#####", "#   #", "#   #", "#   #"],
    "I": ["#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "#####"],
    "K": ["#   #", "#  # ", "# #  ", "##   ", "# #  ", "#  # ", "#   #"],
    "L": ["#    ", "#    ", "#    ", "#    ", "#    ", "#    ", "#####"],
    "M": ["#   #", "## ##", "# # #", "# # #", "#   #", "#   #", "#   #"],
    "N": ["#   #", "##  #", "# # #", "#  ##", "#   #", "#   #", "#   #"],
    "O": [" ### ", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "],
    "P": ["#### ", "#   #", "#   #", "#### ", "#    ", "#    ", "#    "],
    "R": ["#### ", "#   #", "#   #", "#### ", "# #  ", "#  # ", "#   #"],
    "S": [" ####", "#    ", "#    ", " ### ", "    #", "    #", "#### "],
    "T": ["#####", "  #  ", "  #  ", "  #  ", "  #  ", "  #  ", "  #  "],
    "U": ["#   #", "#   #", "#   #", "#   #", "#   #", "#   #", " ### "],
    "V": ["#   #", "#   #", "#   #", "#   #", "#   #", " # # ", "  #  "],
    "Y": ["#   #", "#   #", " # # ", "  #  ", "  #  ", "  #  ", "  #  "],
    "Z": ["#####", "    #", "   # ", "  #  ", " #   ", "#    ", "#####"],
    "?": [" ### ", "#   #", "    #", "   # ", "  #  ", "     ", "  #  "],
    " ": ["     "] * 7,
}


class Canvas:
    """A picture drawn in logical pixels (the size at 96 DPI) and stored at
    `scale` percent: every coordinate is multiplied by scale / 100, and shapes
    are tested at the centre of each stored pixel, so one drawing serves every
    size."""

    def __init__(self, width, height, colour, scale=100):
        self.scale = scale
        self.k = scale / 100.0
        self.w, self.h = scaled(width, scale), scaled(height, scale)
        self.px = [[colour] * self.w for _ in range(self.h)]

    def at(self, v):
        return int(math.floor(v * self.k + 0.5))

    def put(self, x, y, colour):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = colour

    def rect(self, x0, y0, x1, y1, colour):
        for y in range(max(0, self.at(y0)), min(self.h, self.at(y1))):
            for x in range(max(0, self.at(x0)), min(self.w, self.at(x1))):
                self.px[y][x] = colour

    def fill(self, colour_at):
        """Paints every pixel with colour_at(x, y) of its centre."""
        for y in range(self.h):
            for x in range(self.w):
                self.px[y][x] = colour_at((x + 0.5) / self.k, (y + 0.5) / self.k)

    def shape(self, inside, colour):
        """Paints every pixel whose centre satisfies inside(x, y)."""
        for y in range(self.h):
            for x in range(self.w):
                if inside((x + 0.5) / self.k, (y + 0.5) / self.k):
                    self.px[y][x] = colour

    def text(self, x, y, s, colour, scale=2):
        for ch in s:
            glyph = FONT[ch]
            for gy, row in enumerate(glyph):
                for gx, c in enumerate(row):
                    if c == "#":
                        self.rect(x + gx * scale, y + gy * scale, x + (gx + 1) * scale,
                                  y + (gy + 1) * scale, colour)
            x += 6 * scale

    def blit(self, other, x, y):
        """Copies a picture of the same scale with its top left corner at the
        logical point (x, y)."""
        x0, y0 = self.at(x), self.at(y)
        for yy in range(other.h):
            for xx in range(other.w):
                self.put(x0 + xx, y0 + yy, other.px[yy][xx])


def scaled(size, scale):
    """A size at `scale` percent, rounded half up; the program computes the
    same (ui/art_scale.h)."""
    return (size * scale + 50) // 100


def text_width(s, scale=2):
    return len(s) * 6 * scale - scale


def mix(a, b, t):
    return tuple(round(a[i] + (b[i] - a[i]) * t) for i in range(3))


def rounded(x0, y0, x1, y1, r):
    def inside(x, y):
        if not (x0 <= x <= x1 and y0 <= y <= y1):
            return False
        cx = min(max(x, x0 + r), x1 - r)
        cy = min(max(y, y0 + r), y1 - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r
    return inside


# ---- file formats ----

def bmp_bytes(canvas, bits):
    w, h = canvas.w, canvas.h
    if bits == 24:
        stride = (w * 3 + 3) & ~3
        rows = []
        for y in range(h - 1, -1, -1):
            row = bytearray()
            for (r, g, b) in canvas.px[y]:
                row += bytes((b, g, r))
            row += b"\0" * (stride - len(row))
            rows.append(bytes(row))
        palette = b""
        colours = 0
    else:
        table = []
        for row in canvas.px:
            for c in row:
                if c not in table:
                    table.append(c)
        assert len(table) <= 256, "too many colours for an 8-bit bitmap"
        index = {c: i for i, c in enumerate(table)}
        table += [(0, 0, 0)] * (256 - len(table))
        palette = b"".join(bytes((b, g, r, 0)) for (r, g, b) in table)
        colours = 256
        stride = (w + 3) & ~3
        rows = []
        for y in range(h - 1, -1, -1):
            row = bytes(index[c] for c in canvas.px[y])
            rows.append(row + b"\0" * (stride - w))
    pixels = b"".join(rows)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, bits, 0, len(pixels), 3780, 3780, colours, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + palette + pixels


VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def icon_image(canvas, mask, bits):
    """One icon image: header with doubled height, colour bits, AND mask."""
    w, h = canvas.w, canvas.h
    colour = bytearray()
    if bits == 24:
        stride = (w * 3 + 3) & ~3
        for y in range(h - 1, -1, -1):
            row = bytearray()
            for (r, g, b) in canvas.px[y]:
                row += bytes((b, g, r))
            colour += row + b"\0" * (stride - len(row))
        palette = b""
    else:
        palette = b"".join(bytes((b, g, r, 0)) for (r, g, b) in VGA)
        stride = ((w + 1) // 2 + 3) & ~3
        for y in range(h - 1, -1, -1):
            row = bytearray()
            line = [VGA.index(c) for c in canvas.px[y]]
            for x in range(0, w, 2):
                row.append((line[x] << 4) | line[x + 1])
            colour += row + b"\0" * (stride - len(row))
    and_stride = ((w + 31) // 32) * 4
    and_bits = bytearray()
    for y in range(h - 1, -1, -1):
        row = bytearray(and_stride)
        for x in range(w):
            if not mask[y][x]:
                row[x // 8] |= 0x80 >> (x % 8)
        and_bits += row
    info = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, bits, 0, len(colour) + len(and_bits), 0,
                       0, 16 if bits == 4 else 0, 0)
    return info + palette + bytes(colour) + bytes(and_bits)


def ico_bytes(images):
    """images: list of (canvas, mask, bits)."""
    blobs = [icon_image(c, m, b) for (c, m, b) in images]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for (c, _, b), blob in zip(images, blobs):
        out += struct.pack("<BBBBHHII", c.w % 256, c.h % 256, 16 if b == 4 else 0, 0, 1, b,
                           len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


# ---- pictograms (drawn into a square of side s, ink on paper) ----

def padlock(c, x0, y0, s, ink, paper):
    k = s / 30.0
    body = rounded(x0 + 7 * k, y0 + 13 * k, x0 + 23 * k, y0 + 26 * k, 2 * k)
    c.shape(body, ink)
    cx, cy = x0 + 15 * k, y0 + 13 * k

    def shackle(x, y):
        d = math.hypot(x - cx, y - cy)
        return y <= cy and 3.6 * k <= d <= 6.4 * k
    c.shape(shackle, ink)
    c.rect(cx - 6.4 * k, cy - 0.5, cx - 3.6 * k, cy + 1, ink)
    c.rect(cx + 3.6 * k, cy - 0.5, cx + 6.4 * k, cy + 1, ink)
    c.shape(lambda x, y: math.hypot(x - cx, y - (y0 + 18.5 * k)) <= 1.8 * k, paper)
    c.rect(cx - 0.8 * k, y0 + 19 * k, cx + 0.8 * k + 1, y0 + 23 * k, paper)


def page_picture(index, ink, paper, scale=100):
    c = Canvas(30, 30, paper, scale)
    if index == 0:  # Status: a list of mounted volumes
        c.shape(rounded(4, 5, 26, 25, 2), ink)
        c.shape(rounded(6, 7, 24, 23, 1), paper)
        for row in range(3):
            y = 10 + row * 4
            c.rect(8, y, 10, y + 2, ink)
            c.rect(12, y, 22, y + 2, ink)
    elif index == 1:  # Create: a new volume file with a plus
        c.shape(lambda x, y: 6 <= x <= 21 and 3 <= y <= 27 and not (x > 15 and y < 3 + (x - 15)),
                ink)
        c.shape(lambda x, y: 8 <= x <= 19 and 5 <= y <= 25 and not (x > 13.5 and y < 5 + (x - 13)),
                paper)
        c.rect(15, 3, 16, 10, ink)
        c.rect(15, 9, 22, 10, ink)
        c.shape(lambda x, y: math.hypot(x - 21, y - 21) <= 7, paper)
        c.shape(lambda x, y: math.hypot(x - 21, y - 21) <= 6, ink)
        c.rect(18, 20, 25, 22, paper)
        c.rect(20, 18, 22, 25, paper)
    elif index == 2:  # Mount: a drive with its light
        c.shape(rounded(3, 9, 27, 22, 3), ink)
        c.shape(rounded(5, 11, 25, 20, 2), paper)
        c.rect(7, 15, 17, 17, ink)
        c.shape(lambda x, y: math.hypot(x - 21.5, y - 15.5) <= 1.8, ink)
        c.rect(9, 24, 21, 26, ink)
    elif index == 3:  # Options: a gear
        def gear(x, y):
            dx, dy = x - 15, y - 15
            d = math.hypot(dx, dy)
            a = math.atan2(dy, dx)
            outer = 11.5 if math.cos(8 * a) > 0.2 else 9
            return 4 <= d <= outer
        c.shape(gear, ink)
    else:  # About: an i in a circle
        c.shape(lambda x, y: 9.5 <= math.hypot(x - 15, y - 15) <= 12, ink)
        c.rect(14, 8, 17, 11, ink)
        c.rect(14, 13, 17, 22, ink)
        c.rect(12, 13, 14, 14, ink)
        c.rect(12, 21, 19, 22, ink)
    return c


def page_strip(ink, paper, scale):
    strip = Canvas(150, 30, paper, scale)
    cell = scaled(30, scale)
    strip.w = 5 * cell  # five whole cells, each drawn at its own size
    strip.px = [[paper] * strip.w for _ in range(strip.h)]
    for i in range(5):
        picture = page_picture(i, ink, paper, scale)
        for y in range(picture.h):
            for x in range(picture.w):
                strip.put(i * cell + x, y, picture.px[y][x])
    return strip


def banner(title, index, scale):
    c = Canvas(400, 30, NAVY, scale)
    c.fill(lambda x, y: mix(NAVY_DARK, BLUE, (min(x, 399) / 399.0) ** 1.4))
    c.rect(0, 29, 400, 30, BLUE_LIGHT)
    if index is not None:
        c.blit(page_picture(index, WHITE, NAVY_DARK, scale), 4, 0)
    else:
        padlock(c, 4, 0, 30, WHITE, NAVY_DARK)
    c.text(44, 8, title, WHITE)
    return c


# The main window's background: a caption band with the title, a gradient
# below it and a frame around the whole. The program stretches it to the
# window's size in nine parts (app/main_window.cpp): the title corner is
# copied as it is, the band, the frame and the gradient are stretched along
# their length, so no part repeats and the frame stays on the four edges.
BACKGROUND_SIZE = (501, 382)
BAND_HEIGHT = 29  # the band with its underline
TITLE_WIDTH = 260  # the corner that holds the padlock and the title


def background(scale):
    w, h = BACKGROUND_SIZE
    c = Canvas(w, h, NAVY, scale)
    c.fill(lambda x, y: mix(NAVY, NAVY_DARK, min(y, h - 1) / (h - 1)))
    c.rect(0, 0, w, BAND_HEIGHT - 1, NAVY_DARK)
    c.rect(0, BAND_HEIGHT - 1, w, BAND_HEIGHT, BLUE)
    padlock(c, 4, 1, 26, WHITE, NAVY_DARK)
    c.text(34, 7, "VELMORCRYPT VOZERI", WHITE)
    frame(c, w, h)
    return c


def frame(c, w, h):
    c.rect(0, 0, w, 1, BLUE)
    c.rect(0, h - 1, w, h, BLUE)
    c.rect(0, 0, 1, h, BLUE)
    c.rect(w - 1, 0, w, h, BLUE)


def caption_button(cell_width, glyph, scale):
    """Three cells (normal, pushed, lit); their top row continues the
    window's frame, since the buttons sit on the window's top edge."""
    looks = [(NAVY_DARK, PALE, 0), (NAVY_DARK, WHITE, 1), (BLUE, WHITE, 0)]
    cell_size = scaled(cell_width, scale)
    strip = Canvas(cell_width * 3, 22, NAVY_DARK, scale)
    strip.w = 3 * cell_size
    strip.px = [[NAVY_DARK] * strip.w for _ in range(strip.h)]
    for i, (paper, ink, shift) in enumerate(looks):
        cell = Canvas(cell_width, 22, NAVY_DARK, scale)
        if i > 0:
            cell.shape(rounded(1, 2, cell_width - 1, 21, 3), BLUE_LIGHT if i == 2 else BLUE)
            cell.shape(rounded(2, 3, cell_width - 2, 20, 2), paper if i == 2 else (5, 13, 32))
        glyph(cell, ink, shift)
        cell.rect(0, 0, cell_width, 1, BLUE)
        for y in range(cell.h):
            for x in range(cell.w):
                strip.put(i * cell_size + x, y, cell.px[y][x])
    return strip


def help_glyph(cell, ink, shift):
    cell.text((36 - 9) // 2 + shift, 4 + shift, "?", ink, scale=2)


def minimize_glyph(cell, ink, shift):
    cell.rect(22 + shift, 14 + shift, 40 + shift, 17 + shift, ink)


def app_icon(size, four_bit):
    navy, blue, white = ((0, 0, 128), (0, 0, 255), (255, 255, 255)) if four_bit else (
        NAVY, BLUE, WHITE)
    c = Canvas(size, size, (0, 0, 0))
    mask = [[False] * size for _ in range(size)]
    k = size / 32.0
    inside = rounded(0.5, 0.5, size - 0.5, size - 0.5, 5 * k)
    for y in range(size):
        for x in range(size):
            if inside(x + 0.5, y + 0.5):
                mask[y][x] = True
                c.px[y][x] = navy if four_bit else mix(blue, navy, (x + y) / (2.0 * size))
    padlock(c, 1 * k, 1 * k, 30 * k, white, navy)
    return c, mask


# The sizes the art is drawn at, in percent of its size at 96 DPI; the
# program picks the nearest for the window's size (ui/art_scale.h).
SCALES = (100, 125, 150, 200)


def main():
    os.makedirs(OUT, exist_ok=True)

    def write(name, scale, canvas, bits):
        suffix = "" if scale == 100 else "@%d" % scale
        with open(os.path.join(OUT, name + suffix + ".bmp"), "wb") as f:
            f.write(bmp_bytes(canvas, bits))

    for scale in SCALES:
        # The banners and buttons at 100 percent keep their 24 bits; the
        # larger ones, and the background at every size, have fewer than 256
        # colours and are kept as 8-bit pictures.
        bits = 24 if scale == 100 else 8
        write("banner_about", scale, banner("ABOUT VELMORCRYPT VOZERI", None, scale), bits)
        write("banner_create", scale, banner("CREATE VOLUME", 1, scale), bits)
        write("banner_mount", scale, banner("MOUNT VOLUME", 2, scale), bits)
        write("banner_status", scale, banner("VOLUME STATUS", 0, scale), bits)
        write("banner_options", scale, banner("OPTIONS", 3, scale), bits)
        write("pages", scale, page_strip(WHITE, BLUE, scale), 8)
        write("pages_selected", scale, page_strip(INK_SEL, GREY_SEL, scale), 8)
        write("background", scale, background(scale), 8)
        write("button_help", scale, caption_button(36, help_glyph, scale), bits)
        write("button_minimize", scale, caption_button(61, minimize_glyph, scale), bits)
    with open(os.path.join(OUT, "app.ico"), "wb") as f:
        f.write(ico_bytes([app_icon(16, False) + (24,), app_icon(32, False) + (24,)]))
    with open(os.path.join(OUT, "tray_legacy.ico"), "wb") as f:
        f.write(ico_bytes([app_icon(32, True) + (4,), app_icon(16, True) + (4,)]))


if __name__ == "__main__":
    main()
