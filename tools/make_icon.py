#!/usr/bin/env python3
"""Draws the program's 32 x 32 icon: a brass key with a green check mark over its shaft.

Writes a standard .ico with one image: a 24-bit colour bitmap plus its 1-bit transparency
mask. Pure Python, so the build needs nothing beyond the interpreter.
"""
import struct
import sys

SIZE = 32
KEY = (200, 150, 30)        # brass
KEY_EDGE = (120, 80, 10)
CHECK = (0, 160, 0)         # the diagnostic's pass green, a shade darker for contrast
CHECK_EDGE = (0, 90, 0)


def draw():
    pixels = [[None] * SIZE for _ in range(SIZE)]  # None is transparent

    def put(x, y, colour):
        if 0 <= x < SIZE and 0 <= y < SIZE:
            pixels[y][x] = colour

    # Key bow: a ring centred at (9, 11).
    for y in range(SIZE):
        for x in range(SIZE):
            d2 = (x - 9) ** 2 + (y - 11) ** 2
            if 9 <= d2 <= 49:
                put(x, y, KEY_EDGE if d2 >= 40 or d2 <= 12 else KEY)
    # Shaft and two bits.
    for x in range(15, 30):
        for y in range(10, 13):
            put(x, y, KEY_EDGE if y != 11 else KEY)
    for x0 in (23, 27):
        for x in range(x0, x0 + 2):
            for y in range(13, 17):
                put(x, y, KEY)

    # Check mark: two thick strokes, bottom right; outlines first so that where the strokes
    # meet, one stroke's outline never cuts across the other's body.
    def stroke_points(x0, y0, x1, y1):
        steps = max(abs(x1 - x0), abs(y1 - y0))
        return [(round(x0 + (x1 - x0) * i / steps), round(y0 + (y1 - y0) * i / steps))
                for i in range(steps + 1)]

    points = stroke_points(12, 23, 17, 28) + stroke_points(17, 28, 28, 17)
    for reach, colour in ((2, CHECK_EDGE), (1, CHECK)):
        for x, y in points:
            for dx in range(-reach, reach + 1):
                for dy in range(-reach, reach + 1):
                    put(x + dx, y + dy, colour)
    return pixels


def ico(pixels):
    rows = []
    mask_rows = []
    for y in range(SIZE - 1, -1, -1):  # DIBs are stored bottom-up
        row = bytearray()
        bits = 0
        mask = bytearray()
        for x in range(SIZE):
            colour = pixels[y][x]
            r, g, b = colour if colour else (0, 0, 0)
            row += bytes((b, g, r))
            bits = (bits << 1) | (0 if colour else 1)
            if x % 8 == 7:
                mask.append(bits)
                bits = 0
        rows.append(bytes(row))  # 96 bytes: already a multiple of 4
        mask_rows.append(bytes(mask))  # 4 bytes: already a multiple of 4
    xor = b"".join(rows)
    and_ = b"".join(mask_rows)
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 24, 0, len(xor) + len(and_),
                         0, 0, 0, 0)
    image = header + xor + and_
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 0, 0, 1, 24, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_icon.py OUTPUT.ico")
    with open(sys.argv[1], "wb") as out:
        out.write(ico(draw()))


if __name__ == "__main__":
    main()
