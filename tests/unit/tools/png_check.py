#!/usr/bin/env python3
"""Tells whether a PNG screenshot shows something: prints its size and the
share of pixels that are not the background, exits 1 when it is blank.
   png_check.py FILE MIN_WIDTH MIN_HEIGHT"""
import struct
import sys
import zlib


def pixels(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    pos, idat, head = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            head = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = head
    if depth != 8 or colour not in (2, 6) or interlace:
        raise ValueError("unexpected PNG format %r" % (head,))
    bpp = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * bpp
    rows, prev = [], bytearray(stride)
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(bytes(line))
        prev = line
    return width, height, bpp, rows


def main():
    path, min_w, min_h = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    width, height, bpp, rows = pixels(path)
    background = rows[0][:3]
    other, colours = 0, set()
    for row in rows:
        for x in range(0, len(row), bpp):
            px = row[x:x + 3]
            if px != background:
                other += 1
                if len(colours) < 64:
                    colours.add(px)
    share = other / float(width * height)
    print("%s: %dx%d, %.1f%% not background, %d+ colours" % (path, width, height, 100 * share, len(colours)))
    if width < min_w or height < min_h or share < 0.02 or len(colours) < 5:
        print("FAIL: the screenshot is blank or too small")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
