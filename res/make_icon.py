#!/usr/bin/env python3
"""Draws Pellora's icon and writes it as res/Pellora.ico.

The icon is one 128x128 image at 24 bits per pixel (ImageMagick would write
32-bit icons only), so the ICO is written by hand: an ICONDIR, one entry, then
the image as a BITMAPINFOHEADER with doubled height, bottom-up BGR rows and a
1-bit AND mask that makes the corners outside the keyboard transparent.

The picture: a dark keyboard with light keys, a wide space bar, two lit LEDs
and a serial cable leaving it to the top. Shapes are sampled 4x4 per pixel and
blended, so edges inside the picture are smooth; pixels mostly outside the
keyboard and cable become transparent.

    python3 res/make_icon.py [OUTPUT]      (default: res/Pellora.ico)
"""
import os
import struct
import sys

SIZE = 128
SUB = 4  # samples per pixel along each axis

BODY = (46, 48, 54)
BODY_EDGE = (90, 94, 104)
KEY = (218, 220, 224)
KEY_DARK = (150, 154, 162)
LED_ON = (255, 120, 40)
CABLE = (70, 110, 190)
MATTE = (64, 64, 64)  # what edge pixels blend towards where the mask keeps them


def rounded_rect(x, y, left, top, right, bottom, radius):
    if not (left <= x < right and top <= y < bottom):
        return False
    cx = min(max(x, left + radius), right - radius)
    cy = min(max(y, top + radius), bottom - radius)
    return (x - cx) ** 2 + (y - cy) ** 2 <= radius ** 2


def keys():
    """Key rectangles (left, top, right, bottom) in pixels, with their colour."""
    out = []
    top = 58
    for row, (count, indent) in enumerate([(9, 14), (9, 18), (8, 22)]):
        y = top + row * 14
        for i in range(count):
            x = indent + i * 11
            colour = KEY_DARK if (row == 0 and i in (0, 8)) else KEY
            out.append(((x, y, x + 9, y + 11), colour))
    out.append(((34, top + 42, 94, top + 53), KEY))  # space bar
    return out


KEYS = keys()


def sample(x, y):
    """Colour at a point, or None outside the picture."""
    # Cable: a vertical band from the keyboard's top edge to the image's top.
    if 58 <= x < 70 and y < 46:
        if y < 14 and rounded_rect(x, y, 52, 0, 76, 16, 3):
            return BODY_EDGE  # the plug
        return CABLE
    if y < 14 and rounded_rect(x, y, 52, 0, 76, 16, 3):
        return BODY_EDGE
    if not rounded_rect(x, y, 4, 40, 124, 120, 10):
        return None
    if not rounded_rect(x, y, 6, 42, 122, 118, 8):
        return BODY_EDGE
    for (left, top, right, bottom), colour in KEYS:
        if rounded_rect(x, y, left, top, right, bottom, 2):
            return colour
    for led_x in (100, 110):
        if (x - led_x) ** 2 + (y - 49) ** 2 <= 9:
            return LED_ON
    return BODY


def render():
    """Rows top-down: (colour, opaque) per pixel."""
    rows = []
    for py in range(SIZE):
        row = []
        for px in range(SIZE):
            total = [0, 0, 0]
            inside = 0
            for sy in range(SUB):
                for sx in range(SUB):
                    c = sample(px + (sx + 0.5) / SUB, py + (sy + 0.5) / SUB)
                    if c is not None:
                        inside += 1
                        for k in range(3):
                            total[k] += c[k]
            n = SUB * SUB
            if inside * 2 < n:
                row.append(((0, 0, 0), False))
            else:
                colour = tuple(
                    round((total[k] + MATTE[k] * (n - inside)) / n) for k in range(3))
                row.append((colour, True))
        rows.append(row)
    return rows


def ico_bytes(rows):
    xor_stride = (SIZE * 3 + 3) // 4 * 4
    and_stride = (SIZE + 31) // 32 * 4
    xor = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bitmaps are stored bottom-up
        line = bytearray()
        for (r, g, b), _ in row:
            line += bytes((b, g, r))
        line += bytes(xor_stride - len(line))
        xor += line
        bits = bytearray(and_stride)
        for x, (_, opaque) in enumerate(row):
            if not opaque:  # a set AND bit lets the background through
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, SIZE * 2, 1, 24, 0,
                         len(xor) + len(mask), 0, 0, 0, 0)
    image = header + xor + mask
    icondir = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 0, 0, 1, 24, len(image), 6 + 16)
    return icondir + entry + image


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    out = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, 'Pellora.ico')
    with open(out, 'wb') as f:
        f.write(ico_bytes(render()))


if __name__ == '__main__':
    main()
