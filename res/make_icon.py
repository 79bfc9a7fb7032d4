#!/usr/bin/env python3
"""Draws MeterLoad's icon (a hand-held meter with a download arrow) and
writes res/meterload.ico: 32x32 and 16x16 images, and 24x24, 48x48 and 64x64
ones so that screens at 144 and 192 DPI get a picture of their own size
rather than a stretched one; 16 colours each.

Run it again after changing the drawing: python3 res/make_icon.py
"""
import os
import struct

# The standard 16-colour palette, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, MAROON, GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GRAY, RED, LIME, YELLOW, BLUE, MAGENTA, CYAN, WHITE = range(8, 16)
CLEAR = None


def draw_small():
    """The 16x16 picture, drawn pixel by pixel."""
    rows = [
        "KKKKKKKKKK......",
        "KYYYYYYYYK..NN..",
        "KYKKKKKKYK..NB..",
        "KYKLLLLKYK..NB..",
        "KYKLKKLKYK..NB..",
        "KYKLLLLKYK..NB..",
        "KYKKKKKKYK..NB..",
        "KYGGGGGGYK..NB..",
        "KYGSSSSGYK..NB..",
        "KYGSKSSGYKBBBBBB",
        "KYGSKSSGYK.BBBB.",
        "KYGSSSSGYK..BB..",
        "KYGRGGKGYK......",
        "KYGGGGGGYK......",
        "KYYYYYYYYK......",
        "KKKKKKKKKK......",
    ]
    colours = {'K': BLACK, 'Y': YELLOW, 'L': LIME, 'G': GRAY, 'S': SILVER,
               'R': RED, 'N': NAVY, 'B': BLUE, '.': CLEAR}
    return [[colours[c] for c in row] for row in rows]


def draw(size):
    """The picture on a 32-unit grid, scaled to `size` pixels."""
    if size == 16:
        return draw_small()
    s = size / 32.0
    px = [[CLEAR] * size for _ in range(size)]

    def rect(x0, y0, x1, y1, colour):
        for y in range(round(y0 * s), max(round(y1 * s), round(y0 * s) + 1)):
            for x in range(round(x0 * s), max(round(x1 * s), round(x0 * s) + 1)):
                if 0 <= x < size and 0 <= y < size:
                    px[y][x] = colour

    def frame(x0, y0, x1, y1, fill, edge):
        rect(x0, y0, x1, y1, edge)
        one = 1 / s
        rect(x0 + one, y0 + one, x1 - one, y1 - one, fill)

    def disc(cx, cy, r, colour):
        for y in range(size):
            for x in range(size):
                if ((x + 0.5) / s - cx) ** 2 + ((y + 0.5) / s - cy) ** 2 <= r * r:
                    px[y][x] = colour

    # The meter: a yellow case with a dark face.
    frame(2, 1, 22, 31, YELLOW, BLACK)
    frame(4, 3, 20, 28, GRAY, BLACK)
    # Its display, with a reading.
    frame(5, 4, 19, 11, LIME, BLACK)
    if size >= 32:
        for x0 in (7, 11, 15):
            rect(x0, 6, x0 + 3, 7, BLACK)
            rect(x0, 8, x0 + 3, 9, BLACK)
    else:
        rect(7, 7, 17, 8, GREEN)
    # The range switch and its pointer.
    disc(12, 19, 5, SILVER)
    rect(11.5, 14, 13, 19, BLACK)
    # The probe jacks.
    disc(7.5, 25.5, 1.6, RED)
    disc(16.5, 25.5, 1.6, BLACK)

    # The arrow: firmware going down into the meter.
    rect(25, 2, 30, 18, NAVY)
    rect(26, 3, 29, 18, BLUE)
    for row in range(7):
        half = 6 - row
        rect(27.5 - half - 0.5, 18 + row, 27.5 + half + 0.5, 19 + row, BLUE)
    return px


def dib(px):
    """The image as an icon stores it: header, palette, colour bits, mask."""
    size = len(px)
    xor_row = (size * 4 + 31) // 32 * 4
    and_row = (size + 31) // 32 * 4
    header = struct.pack('<IiiHHIIiiII', 40, size, size * 2, 1, 4, 0,
                         (xor_row + and_row) * size, 0, 0, 16, 0)
    palette = b''.join(struct.pack('<BBBB', b, g, r, 0) for r, g, b in PALETTE)
    xor = bytearray()
    mask = bytearray()
    for row in reversed(px):
        line = bytearray(xor_row)
        bits = bytearray(and_row)
        for x, colour in enumerate(row):
            index = 0 if colour is CLEAR else colour
            line[x // 2] |= index << (4 if x % 2 == 0 else 0)
            if colour is CLEAR:
                bits[x // 8] |= 0x80 >> (x % 8)
        xor += line
        mask += bits
    return header + palette + bytes(xor) + bytes(mask)


def ico(images):
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    data = b''
    for size, body in images:
        out += struct.pack('<BBBBHHII', size % 256, size % 256, 16, 0, 1, 4, len(body), offset)
        offset += len(body)
        data += body
    return out + data


def main():
    images = [(size, dib(draw(size))) for size in (32, 16, 24, 48, 64)]
    path = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'meterload.ico')
    with open(path, 'wb') as f:
        f.write(ico(images))


if __name__ == '__main__':
    main()
