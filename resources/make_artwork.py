#!/usr/bin/env python3
"""Draws Kabinex's artwork as indexed bitmap files: the main window's logo (200x150, 256
colours), the about window's logo (320x240, 256 colours) and the window icon (32x32, 16
colours). Standard library only; the output is the same on every run.

    python3 make_artwork.py [OUTPUT_DIR]
"""
import os
import random
import struct
import sys

# 5x7 letters for the marquee and the word mark.
FONT = {
    'K': ["10001", "10010", "10100", "11000", "10100", "10010", "10001"],
    'A': ["01110", "10001", "10001", "11111", "10001", "10001", "10001"],
    'B': ["11110", "10001", "10001", "11110", "10001", "10001", "11110"],
    'I': ["11111", "00100", "00100", "00100", "00100", "00100", "11111"],
    'N': ["10001", "11001", "10101", "10011", "10001", "10001", "10001"],
    'E': ["11111", "10000", "10000", "11110", "10000", "10000", "11111"],
    'X': ["10001", "10001", "01010", "00100", "01010", "10001", "10001"],
    '1': ["00100", "01100", "00100", "00100", "00100", "00100", "01110"],
    'U': ["10001", "10001", "10001", "10001", "10001", "10001", "01110"],
    'P': ["11110", "10001", "10001", "11110", "10000", "10000", "10000"],
    'S': ["01111", "10000", "10000", "01110", "00001", "00001", "11110"],
    'R': ["11110", "10001", "10001", "11110", "10100", "10010", "10001"],
    'T': ["11111", "00100", "00100", "00100", "00100", "00100", "00100"],
    'O': ["01110", "10001", "10001", "10001", "10001", "10001", "01110"],
    'C': ["01110", "10001", "10000", "10000", "10000", "10001", "01110"],
    ' ': ["00000"] * 7,
}

INVADER = ["00100000100", "00010001000", "00111111100", "01101110110",
           "11111111111", "10111111101", "10100000101", "00011011000"]

# The named colours every picture uses; the 256-colour pictures fill the rest of their palette
# with a red ramp and greys so that the palette really has 256 entries.
BASE = [
    (0, 0, 0),        # 0 black
    (255, 0, 0),      # 1 red
    (128, 0, 0),      # 2 dark red
    (64, 0, 0),       # 3 deep red
    (255, 255, 255),  # 4 white
    (128, 128, 128),  # 5 grey
    (192, 192, 192),  # 6 silver
    (255, 255, 0),    # 7 yellow
    (0, 255, 255),    # 8 cyan
    (0, 128, 0),      # 9 green
    (0, 0, 128),      # 10 navy
    (255, 0, 255),    # 11 magenta
    (0, 255, 0),      # 12 lime
    (128, 128, 0),    # 13 olive
    (0, 128, 128),    # 14 teal
    (128, 0, 128),    # 15 purple
]
BLACK, RED, DARK, DEEP, WHITE, GREY, SILVER, YELLOW, CYAN, GREEN, NAVY, MAGENTA, LIME = range(13)


def palette256():
    pal = list(BASE)
    pal += [(r, 0, 0) for r in range(0, 256, 2)]           # 128 reds
    pal += [(g, g, g) for g in range(0, 256, 256 // 112)][:112]
    return pal[:256]


RAMP = 16  # index of the first red of the ramp


def ramp(level):
    """A red of the ramp, level 0 (black) .. 1 (full red)."""
    return RAMP + max(0, min(127, int(level * 127)))


class Canvas:
    def __init__(self, width, height, fill=BLACK):
        self.w, self.h = width, height
        self.px = [[fill] * width for _ in range(height)]

    def put(self, x, y, c):
        if 0 <= x < self.w and 0 <= y < self.h:
            self.px[y][x] = c

    def rect(self, x, y, w, h, c):
        for yy in range(y, y + h):
            for xx in range(x, x + w):
                self.put(xx, yy, c)

    def frame(self, x, y, w, h, c):
        self.rect(x, y, w, 1, c)
        self.rect(x, y + h - 1, w, 1, c)
        self.rect(x, y, 1, h, c)
        self.rect(x + w - 1, y, 1, h, c)

    def bitmap(self, rows, x, y, scale, c):
        for j, row in enumerate(rows):
            for i, bit in enumerate(row):
                if bit == '1':
                    self.rect(x + i * scale, y + j * scale, scale, scale, c)

    def text(self, s, x, y, scale, c, shadow=None):
        for k, ch in enumerate(s):
            gx = x + k * 6 * scale
            if shadow is not None:
                self.bitmap(FONT[ch], gx + scale // 2 + 1, y + scale // 2 + 1, scale, shadow)
            self.bitmap(FONT[ch], gx, y, scale, c)

    @staticmethod
    def text_width(s, scale):
        return (len(s) * 6 - 1) * scale


def cabinet(cv, x, y, u, shaded):
    """An upright arcade cabinet, u pixels per unit; 40 units wide, 70 high, top-left at x, y."""
    body = ramp(0.45) if shaded else DARK
    side = ramp(0.3) if shaded else DEEP
    # Side panels and body.
    cv.rect(x, y, 40 * u, 70 * u, side)
    cv.rect(x + 3 * u, y + 2 * u, 34 * u, 68 * u, body)
    # Marquee with its light.
    cv.rect(x + 2 * u, y + 1 * u, 36 * u, 10 * u, BLACK)
    cv.frame(x + 2 * u, y + 1 * u, 36 * u, 10 * u, RED)
    tw = Canvas.text_width("KABINEX", max(1, u // 2 if u > 1 else 1))
    scale = max(1, u // 2) if u > 1 else 1
    cv.text("KABINEX", x + 20 * u - tw // 2, y + 6 * u - (7 * scale) // 2, scale, YELLOW if not shaded else RED)
    # Screen bezel and screen.
    cv.rect(x + 5 * u, y + 13 * u, 30 * u, 24 * u, BLACK)
    cv.frame(x + 5 * u, y + 13 * u, 30 * u, 24 * u, GREY)
    sx, sy, sw, sh = x + 7 * u, y + 15 * u, 26 * u, 20 * u
    cv.rect(sx, sy, sw, sh, NAVY if not shaded else BLACK)
    rnd = random.Random(1982)
    for _ in range(sw * sh // 40):
        cv.put(sx + rnd.randrange(sw), sy + rnd.randrange(sh), WHITE)
    inv = max(1, u // 2)
    iw = 11 * inv
    for k, colour in enumerate((LIME, MAGENTA, CYAN)):
        cv.bitmap(INVADER, sx + 2 * u + k * (iw + 2 * inv), sy + 2 * u, inv, colour)
    # The player's ship.
    cv.rect(sx + sw // 2 - 3 * inv, sy + sh - 3 * u, 7 * inv, 2 * inv, LIME)
    cv.rect(sx + sw // 2 - inv // 2 - 0, sy + sh - 3 * u - 2 * inv, max(1, inv), 2 * inv, LIME)
    # Scan lines for the bigger pictures.
    if shaded:
        for yy in range(sy, sy + sh, 2):
            for xx in range(sx, sx + sw):
                if cv.px[yy][xx] == BLACK:
                    cv.px[yy][xx] = ramp(0.06)
    # Control panel, joystick and buttons.
    cv.rect(x + 1 * u, y + 39 * u, 38 * u, 7 * u, BLACK)
    cv.rect(x + 2 * u, y + 40 * u, 36 * u, 5 * u, GREY)
    cv.rect(x + 9 * u, y + 37 * u, u, 4 * u, SILVER)
    cv.rect(x + 8 * u, y + 36 * u, 3 * u, 2 * u, RED)
    for k in range(3):
        cv.rect(x + (22 + 4 * k) * u, y + 41 * u, 2 * u, 2 * u, (RED, YELLOW, WHITE)[k])
    # Coin door.
    cv.rect(x + 14 * u, y + 52 * u, 12 * u, 12 * u, BLACK)
    cv.frame(x + 14 * u, y + 52 * u, 12 * u, 12 * u, GREY)
    cv.rect(x + 17 * u, y + 55 * u, 2 * u, 4 * u, RED)
    cv.rect(x + 21 * u, y + 55 * u, 2 * u, 4 * u, RED)
    # Light edge on the body.
    cv.rect(x + 3 * u, y + 2 * u, u, 68 * u, ramp(0.7) if shaded else RED)


def glow(cv, colour_at):
    """A soft red glow on the black background, strongest at the bottom."""
    for yy in range(cv.h):
        for xx in range(cv.w):
            if cv.px[yy][xx] == BLACK:
                level = colour_at(xx, yy)
                if level > 0:
                    cv.px[yy][xx] = ramp(level)


def main_logo():
    cv = Canvas(200, 150)
    glow(cv, lambda x, y: 0.35 * max(0.0, (y - 60) / 90) ** 2)
    cabinet(cv, 12, 5, 2, True)
    cv.text("KABINEX", 100, 40, 2, RED, shadow=DEEP)
    cv.text("1UP", 100, 72, 2, YELLOW)
    cv.text("INSERT COIN", 100, 104, 1, WHITE)
    return cv


def about_logo():
    cv = Canvas(320, 240)
    glow(cv, lambda x, y: 0.4 * max(0.0, (y - 80) / 160) ** 2)
    rnd = random.Random(1990)
    for _ in range(160):
        cv.put(rnd.randrange(320), rnd.randrange(150), rnd.choice((WHITE, SILVER, GREY, YELLOW)))
    cabinet(cv, 16, 10, 3, True)
    tw = Canvas.text_width("KABINEX", 4)
    cv.text("KABINEX", 148 + (164 - tw) // 2, 40, 4, RED, shadow=DEEP)
    cv.text("1UP", 190, 92, 3, YELLOW)
    cv.text("INSERT COIN", 164, 200, 2, WHITE)
    for k, colour in enumerate((LIME, MAGENTA, CYAN)):
        cv.bitmap(INVADER, 160 + k * 42, 150, 3, colour)
    return cv


def icon():
    cv = Canvas(32, 32)
    x, y = 8, 0
    cv.rect(x, y, 16, 32, DEEP)
    cv.rect(x + 1, y + 1, 14, 31, DARK)
    cv.rect(x + 1, y + 1, 14, 4, RED)
    cv.rect(x + 3, y + 2, 10, 2, YELLOW)
    cv.rect(x + 2, y + 6, 12, 10, GREY)
    cv.rect(x + 3, y + 7, 10, 8, NAVY)
    cv.rect(x + 5, y + 9, 2, 1, LIME)
    cv.rect(x + 9, y + 9, 2, 1, MAGENTA)
    cv.rect(x + 7, y + 13, 2, 1, LIME)
    cv.put(x + 4, y + 11, WHITE)
    cv.put(x + 11, y + 12, WHITE)
    cv.rect(x, y + 17, 16, 3, SILVER)
    cv.rect(x + 3, y + 16, 2, 2, RED)
    cv.rect(x + 9, y + 18, 1, 1, RED)
    cv.rect(x + 11, y + 18, 1, 1, YELLOW)
    cv.rect(x + 5, y + 23, 6, 6, BLACK)
    cv.rect(x + 6, y + 25, 1, 2, RED)
    cv.rect(x + 9, y + 25, 1, 2, RED)
    return cv


def write_bmp(path, cv, palette, bits):
    """An uncompressed bottom-up BMP with a palette of 2**bits entries."""
    colours = 1 << bits
    pal = (palette + [(0, 0, 0)] * colours)[:colours]
    row_bytes = (cv.w * bits + 31) // 32 * 4
    rows = []
    for y in range(cv.h - 1, -1, -1):
        line = cv.px[y]
        if bits == 8:
            data = bytes(line)
        else:
            data = bytes((line[i] << 4) | (line[i + 1] if i + 1 < cv.w else 0) for i in range(0, cv.w, 2))
        rows.append(data + b'\0' * (row_bytes - len(data)))
    pixels = b''.join(rows)
    offset = 14 + 40 + 4 * colours
    header = struct.pack('<2sIHHI', b'BM', offset + len(pixels), 0, 0, offset)
    info = struct.pack('<IiiHHIIiiII', 40, cv.w, cv.h, 1, bits, 0, len(pixels), 2835, 2835, colours, 0)
    table = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in pal)
    with open(path, 'wb') as f:
        f.write(header + info + table + pixels)


def main():
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    write_bmp(os.path.join(out, 'logo.bmp'), main_logo(), palette256(), 8)
    write_bmp(os.path.join(out, 'aboutlogo.bmp'), about_logo(), palette256(), 8)
    write_bmp(os.path.join(out, 'icon.bmp'), icon(), BASE, 4)


if __name__ == '__main__':
    main()
