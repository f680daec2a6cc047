#!/usr/bin/env python3
"""Reads .ico files back and lays their images out on one PNG, at true size and
enlarged, over a light and a dark background, to judge them by eye.

    contact_sheet.py OUT.png ICO...
"""
import os
import struct
import sys
import zlib

sys.dont_write_bytecode = True  # the build must leave the source tree untouched
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_icons import png_bytes  # noqa: E402

ZOOM = 4
BACKS = ((255, 255, 255), (240, 240, 240), (45, 45, 48))


def read_ico(path):
    data = open(path, "rb").read()
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    assert kind == 1, path
    images = []
    for i in range(count):
        size, off = struct.unpack_from("<II", data, 6 + 16 * i + 8)
        blob = data[off:off + size]
        images.append(decode_png(blob) if blob[:4] == b"\x89PNG" else decode_dib(blob))
    return images


def decode_dib(blob):
    _, n, _, _, bits = struct.unpack_from("<IiiHH", blob, 0)
    assert bits == 32, "only 32-bit images are drawn here"
    rows = []
    for y in range(n):
        start = 40 + (n - 1 - y) * n * 4
        row = []
        for x in range(n):
            b, g, r, a = blob[start + 4 * x:start + 4 * x + 4]
            row.append((r, g, b, a))
        rows.append(row)
    return rows


def decode_png(blob):
    pos = 8
    idat = b""
    while pos < len(blob):
        ln, = struct.unpack_from(">I", blob, pos)
        kind = blob[pos + 4:pos + 8]
        body = blob[pos + 8:pos + 8 + ln]
        if kind == b"IHDR":
            w, h = struct.unpack_from(">II", body, 0)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + ln
    raw = zlib.decompress(idat)
    stride = w * 4
    prev = bytearray(stride)
    rows = []
    for y in range(h):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 4] if i >= 4 else 0
            b = prev[i]
            c = prev[i - 4] if i >= 4 else 0
            if f == 1:
                line[i] = (line[i] + a) & 255
            elif f == 2:
                line[i] = (line[i] + b) & 255
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 255
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else (b if pb <= pc else c))) & 255
        rows.append([tuple(line[4 * x:4 * x + 4]) for x in range(w)])
        prev = line
    return rows


def main(argv):
    out, paths = argv[1], argv[2:]
    icons = [[img for img in read_ico(p) if len(img) <= 48] for p in paths]
    col_w = max(max(sum(len(i) + 4 for i in imgs) for imgs in icons), 48 * ZOOM + 8) + 16
    band_h = 48 + 8 + 32 * ZOOM + 12
    width, height = 8 + col_w * len(icons), band_h * len(BACKS)
    canvas = [[(0, 0, 0)] * width for _ in range(height)]

    def put(img, ox, oy, back, z):
        for y, row in enumerate(img):
            for x, (r, g, b, a) in enumerate(row):
                px = tuple((c * a + bc * (255 - a)) // 255 for c, bc in zip((r, g, b), back))
                for dy in range(z):
                    for dx in range(z):
                        canvas[oy + y * z + dy][ox + x * z + dx] = px

    for band, back in enumerate(BACKS):
        top = band * band_h
        for yy in range(top, top + band_h):
            canvas[yy] = [back] * width
        for col, imgs in enumerate(icons):
            x = 8 + col * col_w
            for img in imgs:
                put(img, x, top + 4, back, 1)
                x += len(img) + 4
            by = {len(i): i for i in imgs}
            x = 8 + col * col_w
            put(by[16], x, top + 56, back, ZOOM)
            put(by[32], x + 16 * ZOOM + 8, top + 56, back, ZOOM)
    rows = [bytes(v for px in row for v in px + (255,)) for row in canvas]
    with open(out, "wb") as f:
        f.write(png_bytes(rows))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
