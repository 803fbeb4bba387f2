#!/usr/bin/env python3
"""Draws Pellora's icon and writes it as res/Pellora.ico.

The icon holds one 32-bit image (colour with an alpha channel) for each size
the Windows shell asks for at the usual scales: 16, 20, 24, 32 and 48 pixels
(the small icon at 100 %, 125 %, 150 %, 200 % and 300 %, the large one at 100 %
and 150 %) and 256 for Explorer's large views, stored as PNG as Windows Vista
and later read it. The program loads the one the shell wants with
LoadIconMetric, which scales down the next larger image for a size in between.

The picture: a dark keyboard with light keys in staggered rows, a wide space
bar, two lit LEDs, and a serial cable leaving it to the top. Each size is laid
out on its own pixel grid, so the keys keep whole-pixel edges and gaps even at
16 pixels; shapes are sampled 4x4 per pixel, so rounded corners are smooth and
the alpha channel follows them.

With --x68000 it draws the tray's icon for the time this computer's keyboard
and mouse belong to the X68000: the same keyboard with amber keys, so that the
change shows at a glance even at 16 pixels.

    python3 res/make_icon.py [--x68000] [OUTPUT]
        (default: res/Pellora.ico, with --x68000 res/PelloraX68000.ico)
"""
import os
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 48, 256)
SUB = 4  # samples per pixel along each axis

BODY = (46, 48, 54)
BODY_EDGE = (110, 114, 124)
KEY = (218, 220, 224)
KEY_DARK = (150, 154, 162)
LED_ON = (255, 120, 40)
CABLE = (70, 110, 190)


class Shape:
    """A rectangle with rounded corners, in pixels, with its colour."""

    def __init__(self, left, top, right, bottom, radius, colour):
        self.box = (left, top, right, bottom)
        self.radius = radius
        self.colour = colour

    def holds(self, x, y):
        left, top, right, bottom = self.box
        if not (left <= x < right and top <= y < bottom):
            return False
        r = self.radius
        cx = min(max(x, left + r), right - r)
        cy = min(max(y, top + r), bottom - r)
        return (x - cx) ** 2 + (y - cy) ** 2 <= r * r


# The keys while the keyboard and mouse are the X68000's.
KEY_X68000 = (255, 178, 60)
KEY_DARK_X68000 = (214, 118, 28)


def layout(size, x68000=False):
    """The shapes of the picture at one size, topmost first."""
    key, key_dark = (KEY_X68000, KEY_DARK_X68000) if x68000 else (KEY, KEY_DARK)
    unit = size / 128.0  # the 128-pixel design's pixel at this size
    edge = max(1, round(2 * unit))
    body = (round(4 * unit), round(40 * unit), size - round(4 * unit), size - round(8 * unit))
    radius = max(1.5, 10 * unit)
    shapes = []

    # Keys: three staggered rows (two below 32 pixels) and the space bar, on
    # whole pixels, as square as the rows allow.
    gap = max(1, round(2.5 * unit))
    leds = size >= 32
    led = max(2, round(6 * unit))
    led_y = body[1] + edge + max(1, round(3 * unit))
    inner_left = body[0] + edge + max(1, round(6 * unit))
    inner_right = body[2] - edge - max(1, round(6 * unit))
    inner_top = led_y + led + gap if leds else body[1] + edge + max(1, round(4 * unit))
    inner_bottom = body[3] - edge - max(1, round(4 * unit))
    rows = 3 if size >= 32 else 2
    pitch = (inner_bottom - inner_top + gap) // (rows + 1)
    key_h = pitch - gap
    key_w = key_h
    count = (inner_right - inner_left + gap) // (key_w + gap)
    for row in range(rows):
        y = inner_top + row * pitch
        indent = (row % 2) * ((key_w + gap) // 2)
        keys = count - (1 if indent and indent + count * (key_w + gap) - gap >
                        inner_right - inner_left else 0)
        width = keys * (key_w + gap) - gap
        x0 = inner_left + (inner_right - inner_left - width) // 2 + (indent if row % 2 else 0) // 2
        for i in range(keys):
            x = x0 + i * (key_w + gap)
            dark = row == 0 and i in (0, keys - 1) and size >= 32
            shapes.append(Shape(x, y, x + key_w, y + key_h, max(0.5, 2 * unit),
                                key_dark if dark else key))
    y = inner_top + rows * pitch
    space = (inner_right - inner_left) // 2
    x = inner_left + (inner_right - inner_left - space) // 2
    shapes.append(Shape(x, y, x + space, y + key_h, max(0.5, 2 * unit), key))

    if leds:
        for i in (1, 0):
            led_x = inner_right - led - i * (led + max(1, round(4 * unit)))
            shapes.append(Shape(led_x, led_y, led_x + led, led_y + led, led / 2, LED_ON))

    shapes.append(Shape(body[0] + edge, body[1] + edge, body[2] - edge, body[3] - edge,
                        max(1, radius - edge), BODY))
    shapes.append(Shape(*body, radius, BODY_EDGE))

    # The cable to the top, and its plug.
    cable = max(2, round(12 * unit))
    cable_x = (size - cable) // 2
    plug_w = max(cable + 2, round(24 * unit))
    plug_x = (size - plug_w) // 2
    shapes.append(Shape(plug_x, 0, plug_x + plug_w, max(2, round(14 * unit)),
                        max(0.5, 3 * unit), BODY_EDGE))
    shapes.append(Shape(cable_x, 0, cable_x + cable, body[1] + edge, 0, CABLE))
    return shapes


def render(size, x68000=False):
    """Rows top-down of (r, g, b, a) pixels."""
    shapes = layout(size, x68000)
    rows = []
    n = SUB * SUB
    for py in range(size):
        row = []
        for px in range(size):
            total = [0, 0, 0]
            inside = 0
            for sy in range(SUB):
                for sx in range(SUB):
                    x = px + (sx + 0.5) / SUB
                    y = py + (sy + 0.5) / SUB
                    for shape in shapes:
                        if shape.holds(x, y):
                            inside += 1
                            for k in range(3):
                                total[k] += shape.colour[k]
                            break
            if inside == 0:
                row.append((0, 0, 0, 0))
            else:
                # Colour of what is covered, alpha how much is: no halo.
                row.append(tuple(round(total[k] / inside) for k in range(3)) +
                           (round(255 * inside / n),))
        rows.append(row)
    return rows


def bmp_image(rows):
    """A 32-bit icon image: BITMAPINFOHEADER of double height, bottom-up BGRA
    rows, then the 1-bit AND mask (set where fully transparent) for systems
    that ignore the alpha channel."""
    size = len(rows)
    and_stride = (size + 31) // 32 * 4
    colour = bytearray()
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(and_stride)
        for x, (r, g, b, a) in enumerate(row):
            colour += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 32, 0,
                         len(colour) + len(mask), 0, 0, 0, 0)
    return header + colour + mask


def png_image(rows):
    """The image as an RGBA PNG, the form Windows reads 256-pixel icons in."""
    size = len(rows)

    def chunk(kind, data):
        body = kind + data
        return struct.pack('>I', len(data)) + body + struct.pack('>I', zlib.crc32(body))

    raw = bytearray()
    for row in rows:
        raw.append(0)  # no filter
        for pixel in row:
            raw += bytes(pixel)
    header = struct.pack('>IIBBBBB', size, size, 8, 6, 0, 0, 0)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', header) +
            chunk(b'IDAT', zlib.compress(bytes(raw), 9)) + chunk(b'IEND', b''))


def ico_bytes(x68000=False):
    images = []
    for size in SIZES:
        rows = render(size, x68000)
        images.append((size, png_image(rows) if size >= 256 else bmp_image(rows)))
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        # A width or height of 256 is written as 0.
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    for _, data in images:
        out += data
    return out


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    args = sys.argv[1:]
    x68000 = '--x68000' in args
    args = [a for a in args if a != '--x68000']
    default = 'PelloraX68000.ico' if x68000 else 'Pellora.ico'
    out = args[0] if args else os.path.join(here, default)
    with open(out, 'wb') as f:
        f.write(ico_bytes(x68000))


if __name__ == '__main__':
    main()
