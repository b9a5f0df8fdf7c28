#!/usr/bin/env python3
"""Writes the About box's banner: bitmap 200, 130 x 32 pixels, 8 bits per
pixel with a 256-entry palette, as a Windows BMP file.

    usage: make_banner.py OUTPUT.bmp

The picture: a dark-to-light blue sweep, the letters "PIC" in white with a
shadow, and a strip of the eight primary and secondary colours beside them.
"""
import struct
import sys

WIDTH, HEIGHT = 130, 32

# 5 x 7 glyphs, one string per row, '#' = ink.
GLYPHS = {
    "P": ["####.", "#...#", "#...#", "####.", "#....", "#....", "#...."],
    "I": ["#####", "..#..", "..#..", "..#..", "..#..", "..#..", "#####"],
    "C": [".###.", "#...#", "#....", "#....", "#....", "#...#", ".###."],
}
SCALE = 3

# Palette: 0-191 the sweep, 192 white, 193 shadow, 194-201 the colour strip,
# the rest black.
SWEEP = 192
WHITE, SHADOW, STRIP = 192, 193, 194
STRIP_COLOURS = [(255, 0, 0), (255, 255, 0), (0, 255, 0), (0, 255, 255),
                 (0, 0, 255), (255, 0, 255), (255, 128, 0), (128, 128, 128)]


def palette():
    entries = []
    for i in range(SWEEP):
        t = i / (SWEEP - 1)
        entries.append((int(20 + 60 * t), int(30 + 120 * t), int(90 + 160 * t)))
    entries.append((255, 255, 255))
    entries.append((10, 15, 40))
    entries.extend(STRIP_COLOURS)
    entries.extend([(0, 0, 0)] * (256 - len(entries)))
    return entries


def picture():
    pixels = [[(x * (SWEEP - 1)) // (WIDTH - 1) for x in range(WIDTH)] for _ in range(HEIGHT)]
    text = "PIC"
    text_width = len(text) * 5 * SCALE + (len(text) - 1) * SCALE
    left, top = 8, (HEIGHT - 7 * SCALE) // 2
    for shade, offset in ((SHADOW, 2), (WHITE, 0)):
        for n, letter in enumerate(text):
            for row, line in enumerate(GLYPHS[letter]):
                for column, ink in enumerate(line):
                    if ink != "#":
                        continue
                    x0 = left + offset + n * 6 * SCALE + column * SCALE
                    y0 = top + offset + row * SCALE
                    for y in range(y0, y0 + SCALE):
                        for x in range(x0, x0 + SCALE):
                            pixels[y][x] = shade
    strip_left = left + text_width + 12
    cell = (WIDTH - strip_left - 6) // len(STRIP_COLOURS)
    for i in range(len(STRIP_COLOURS)):
        for y in range(top, top + 7 * SCALE):
            for x in range(strip_left + i * cell, strip_left + (i + 1) * cell - 1):
                pixels[y][x] = STRIP + i
    return pixels


def bmp_bytes():
    row_bytes = (WIDTH + 3) & ~3
    image_size = row_bytes * HEIGHT
    offset = 14 + 40 + 256 * 4
    data = bytearray()
    data += struct.pack("<2sIHHI", b"BM", offset + image_size, 0, 0, offset)
    data += struct.pack("<IiiHHIIiiII", 40, WIDTH, HEIGHT, 1, 8, 0, image_size,
                        2835, 2835, 256, 0)
    for red, green, blue in palette():
        data += bytes((blue, green, red, 0))
    for row in reversed(picture()):  # bottom-up
        data += bytes(row) + bytes(row_bytes - WIDTH)
    return bytes(data)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_banner.py OUTPUT.bmp")
    with open(sys.argv[1], "wb") as out:
        out.write(bmp_bytes())


if __name__ == "__main__":
    main()
