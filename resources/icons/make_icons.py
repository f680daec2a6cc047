#!/usr/bin/env python3
"""Draws Tessel's icons and writes them as .ico files (Python standard library only).

Every picture is laid out on a 16-unit grid so that the 16 px image lands on whole
pixels; larger images scale the grid and get their own outline width.

    make_icons.py OUTDIR            writes app.ico, disk.ico, error.ico, startup_yes.ico, startup_no.ico
"""
import math
import os
import struct
import sys
import zlib

# Sizes per icon: the small icon size at 96, 120, 144 and 192 DPI; the application icon is
# also shown by the shell in large views.
LIST_SIZES = (16, 20, 24, 32)
APP_SIZES = (16, 20, 24, 32, 48, 256)
PNG_FROM = 256  # images this large are stored as PNG to keep the executable small


# ---------------------------------------------------------------- rasteriser

class Canvas:
    """Premultiplied RGBA floats; shapes are filled with exact horizontal and
    supersampled vertical coverage."""

    def __init__(self, n):
        self.n = n
        self.px = [[0.0, 0.0, 0.0, 0.0] for _ in range(n * n)]
        self.sub = 16 if n <= 48 else 4

    def fill(self, polys, paint, rule="nonzero", opacity=1.0):
        n, sub = self.n, self.sub
        edges = []
        for poly in polys:
            for i, (x0, y0) in enumerate(poly):
                x1, y1 = poly[(i + 1) % len(poly)]
                if y0 != y1:
                    edges.append((x0, y0, x1, y1, 1 if y1 > y0 else -1))
        if not edges:
            return
        ymin = max(0, int(math.floor(min(min(e[1], e[3]) for e in edges))))
        ymax = min(n, int(math.ceil(max(max(e[1], e[3]) for e in edges))))
        for row in range(ymin, ymax):
            acc = [0.0] * (n + 1)
            for k in range(sub):
                y = row + (k + 0.5) / sub
                xs = []
                for x0, y0, x1, y1, d in edges:
                    if (y0 <= y < y1) or (y1 <= y < y0):
                        xs.append((x0 + (y - y0) * (x1 - x0) / (y1 - y0), d))
                xs.sort()
                wind = 0
                for i in range(len(xs) - 1):
                    wind += xs[i][1]
                    inside = (wind != 0) if rule == "nonzero" else (wind % 2 != 0)
                    if inside:
                        _span(acc, xs[i][0], xs[i + 1][0], 1.0 / sub, n)
            for col in range(n):
                cov = acc[col]
                if cov <= 1e-6:
                    continue
                cov = min(cov, 1.0)
                r, g, b, a = paint(col + 0.5, row + 0.5) if callable(paint) else paint
                a *= cov * opacity
                p = self.px[row * n + col]
                keep = 1.0 - a
                p[0] = r * a + p[0] * keep
                p[1] = g * a + p[1] * keep
                p[2] = b * a + p[2] * keep
                p[3] = a + p[3] * keep

    def rgba8(self):
        """Straight-alpha rows of (r, g, b, a) bytes, top row first."""
        out = []
        for y in range(self.n):
            row = bytearray()
            for x in range(self.n):
                r, g, b, a = self.px[y * self.n + x]
                if a <= 1e-6:
                    row += b"\0\0\0\0"
                    continue
                row += bytes(_byte(c / a) for c in (r, g, b)) + bytes([_byte(a)])
            out.append(bytes(row))
        return out


def _byte(v):
    return max(0, min(255, int(round(v * 255))))


def _span(acc, x0, x1, w, n):
    x0, x1 = max(0.0, x0), min(float(n), x1)
    if x1 <= x0:
        return
    i0, i1 = int(x0), int(x1)
    if i0 == i1:
        acc[i0] += (x1 - x0) * w
        return
    acc[i0] += (i0 + 1 - x0) * w
    for i in range(i0 + 1, i1):
        acc[i] += w
    acc[i1] += (x1 - i1) * w


# ---------------------------------------------------------------- shapes (pixel coordinates)

def rgb(hexcode, a=1.0):
    v = int(hexcode.lstrip("#"), 16)
    return ((v >> 16) / 255.0, ((v >> 8) & 255) / 255.0, (v & 255) / 255.0, a)


def vgrad(top, bottom, y0, y1):
    """Vertical linear gradient between two colours over y0..y1."""
    def paint(_x, y):
        t = min(1.0, max(0.0, (y - y0) / (y1 - y0))) if y1 != y0 else 0.0
        return tuple(a + (b - a) * t for a, b in zip(top, bottom))
    return paint


def rect(x0, y0, x1, y1):
    return [(x0, y0), (x1, y0), (x1, y1), (x0, y1)]


def _arc(cx, cy, rx, ry, a0, a1, steps):
    return [(cx + rx * math.cos(a0 + (a1 - a0) * i / steps),
             cy + ry * math.sin(a0 + (a1 - a0) * i / steps)) for i in range(steps + 1)]


def ellipse(cx, cy, rx, ry, steps=None):
    steps = steps or max(24, int(4 * (rx + ry)))
    return [(cx + rx * math.cos(2 * math.pi * i / steps),
             cy + ry * math.sin(2 * math.pi * i / steps)) for i in range(steps)]


def circle(cx, cy, r):
    return ellipse(cx, cy, r, r)


def rounded_rect(x0, y0, x1, y1, r):
    r = max(0.0, min(r, (x1 - x0) / 2, (y1 - y0) / 2))
    if r < 0.05:
        return rect(x0, y0, x1, y1)
    s = max(4, int(r * 2))
    h = math.pi / 2
    pts = []
    pts += _arc(x1 - r, y0 + r, r, r, -h, 0, s)
    pts += _arc(x1 - r, y1 - r, r, r, 0, h, s)
    pts += _arc(x0 + r, y1 - r, r, r, h, 2 * h, s)
    pts += _arc(x0 + r, y0 + r, r, r, 2 * h, 3 * h, s)
    return pts


def inset(poly, d):
    """Moves every edge of a convex polygon d inwards (either winding)."""
    m = len(poly)
    area = sum(poly[i][0] * poly[(i + 1) % m][1] - poly[(i + 1) % m][0] * poly[i][1] for i in range(m))
    sign = 1.0 if area > 0 else -1.0
    lines = []
    for i in range(m):
        (x0, y0), (x1, y1) = poly[i], poly[(i + 1) % m]
        ln = math.hypot(x1 - x0, y1 - y0) or 1.0
        nx, ny = -(y1 - y0) / ln * sign, (x1 - x0) / ln * sign
        lines.append(((x0 + nx * d, y0 + ny * d), (x1 - x0, y1 - y0)))
    out = []
    for i in range(m):
        (p, u), (q, v) = lines[i - 1], lines[i]
        den = u[0] * v[1] - u[1] * v[0]
        if abs(den) < 1e-9:
            out.append(q)
            continue
        t = ((q[0] - p[0]) * v[1] - (q[1] - p[1]) * v[0]) / den
        out.append((p[0] + u[0] * t, p[1] + u[1] * t))
    return out


def segment(x0, y0, x1, y1, w):
    """A straight stroke of width w with square ends."""
    ln = math.hypot(x1 - x0, y1 - y0) or 1.0
    nx, ny = -(y1 - y0) / ln * w / 2, (x1 - x0) / ln * w / 2
    return [(x0 + nx, y0 + ny), (x1 + nx, y1 + ny), (x1 - nx, y1 - ny), (x0 - nx, y0 - ny)]


def quad_bezier(p0, p1, p2, steps=12):
    return [((1 - t) ** 2 * p0[0] + 2 * (1 - t) * t * p1[0] + t * t * p2[0],
             (1 - t) ** 2 * p0[1] + 2 * (1 - t) * t * p1[1] + t * t * p2[1])
            for t in (i / steps for i in range(steps + 1))]


def scaled(poly, k):
    return [(x * k, y * k) for x, y in poly]


def outline_width(n):
    """Outline in pixels: one pixel up to 32 px, then growing with the size."""
    return 1.0 if n <= 32 else (1.5 if n <= 48 else n / 40.0)


# ---------------------------------------------------------------- the pictures (16-unit grid)

def draw_disk(c):
    """A hard-disk drive seen from the front and a little above, with a green light."""
    k = c.n / 16.0
    w = outline_width(c.n)
    ink = rgb("#2B3440")
    seam = 8.0
    top = scaled([(3, 3.5), (13, 3.5), (15, seam), (1, seam)], k)
    c.fill([scaled([(3, 3.5), (13, 3.5), (15, seam), (15, 13), (1, 13), (1, seam)], k)], ink)
    c.fill([inset(top, w)], vgrad(rgb("#F4F7FA"), rgb("#C4CDD8"), 3.5 * k, seam * k))
    # the front shares the seam line with the top face
    c.fill([rect(1 * k + w, seam * k, 15 * k - w, 13 * k - w)],
           vgrad(rgb("#8C99A8"), rgb("#5C6876"), seam * k, 13 * k))
    if c.n >= 32:
        # platter seen through the top face
        c.fill([ellipse(8 * k, 5.75 * k, 3.6 * k, 1.3 * k)], rgb("#9AA7B6"))
        c.fill([ellipse(8 * k, 5.75 * k, 0.9 * k, 0.35 * k)], rgb("#5C6876"))
    # vent slot and activity light on the front
    c.fill([scaled(rect(3, 10, 9, 11), k)], rgb("#39434F"))
    c.fill([scaled(rect(11, 10, 13, 11.5) if c.n < 32 else rounded_rect(11, 9.9, 13.2, 11.6, 0.5), k)],
           rgb("#3DDC5A"))


def shield_outline():
    top, left, right, shoulder, tip = 1.0, 2.0, 14.0, 7.5, 15.0
    pts = [(left, top), (right, top), (right, shoulder)]
    pts += quad_bezier((right, shoulder), (right, 12.0), (8.0, tip))[1:]
    pts += quad_bezier((8.0, tip), (left, 12.0), (left, shoulder))[1:-1]
    pts.append((left, shoulder))
    return pts


def draw_error(c):
    """A warning shield: amber, dark rim, black exclamation mark."""
    k = c.n / 16.0
    w = outline_width(c.n)
    body = scaled(shield_outline(), k)
    c.fill([body], rgb("#6B3D00"))
    c.fill([inset(body, w)], vgrad(rgb("#FFE15A"), rgb("#F29A00"), 1 * k, 15 * k))
    bar = rect(7, 3.5, 9, 9.5) if c.n < 32 else [(6.8, 3.5), (9.2, 3.5), (8.7, 9.5), (7.3, 9.5)]
    c.fill([scaled(bar, k)], rgb("#1A1A1A"))
    dot = rect(7, 10.5, 9, 12.5) if c.n < 32 else circle(8, 11.5, 1.15)
    c.fill([scaled(dot, k)], rgb("#1A1A1A"))


def draw_startup_yes(c):
    """A yellow note with a red pin at its top."""
    k = c.n / 16.0
    w = outline_width(c.n)
    fold = 3.0
    paper = [(2, 3), (14, 3), (14, 15 - fold), (14 - fold, 15), (2, 15)]
    c.fill([scaled(paper, k)], rgb("#9C7F1E"))
    c.fill([inset(scaled(paper, k), w)], vgrad(rgb("#FFF3A8"), rgb("#FFDD55"), 3 * k, 15 * k))
    # the turned-up corner
    c.fill([scaled([(14 - fold, 15), (14 - fold, 15 - fold), (14, 15 - fold)], k)], rgb("#9C7F1E"))
    c.fill([inset(scaled([(14 - fold, 15), (14 - fold, 15 - fold), (14, 15 - fold)], k), w * 0.6)],
           rgb("#E8C030"))
    # ruled lines, on whole pixels up to 32 px
    lw = 1.0 if c.n <= 32 else w
    for y, x1 in ((8, 12), (10.5, 12), (13, 9.5)):
        top = round(y * k - lw / 2) if c.n <= 32 else y * k - lw / 2
        c.fill([rect(4 * k, top, round(x1 * k), top + lw)], rgb("#8A7A50"))
    # pin: shadow, needle, head, highlight
    if c.n >= 32:
        c.fill([ellipse(9.2 * k, 6.0 * k, 2.2 * k, 1.0 * k)], rgb("#000000", 0.18))
        c.fill([segment(8 * k, 4 * k, 8.6 * k, 6.4 * k, max(1.0, 0.5 * k))], rgb("#505560"))
    head = circle(8 * k, 3.5 * k, 2.5 * k)
    c.fill([head], rgb("#7A1010"))
    c.fill([circle(8 * k, 3.5 * k, 2.5 * k - w)], vgrad(rgb("#FF6A5E"), rgb("#C81E1E"), 1 * k, 6 * k))
    c.fill([circle(7.2 * k, 2.7 * k, 0.8 * k)], rgb("#FFFFFF", 0.75 if c.n >= 32 else 0.6))


def draw_startup_no(c):
    """A grey minus sign."""
    k = c.n / 16.0
    w = outline_width(c.n)
    bar = rounded_rect(3 * k, 6 * k, 13 * k, 10 * k, 1.2 * k)
    c.fill([bar], rgb("#5E5E5E"))
    c.fill([rounded_rect(3 * k + w, 6 * k + w, 13 * k - w, 10 * k - w, 1.2 * k - w)],
           vgrad(rgb("#C8C8C8"), rgb("#9A9A9A"), 6 * k, 10 * k))


def draw_app(c):
    """Four mosaic tiles under a disk platter: Tessel's own mark."""
    k = c.n / 16.0
    w = outline_width(c.n)
    gap = 0.0 if c.n < 32 else 0.5 * w
    light, dark = rgb("#3E8EDE"), rgb("#1F5FAE")
    teal, deep = rgb("#2BB3A3"), rgb("#16807A")
    tiles = (((0.5, 0.5, 8, 8), (light, dark)), ((8, 0.5, 15.5, 8), (teal, deep)),
             ((0.5, 8, 8, 15.5), (teal, deep)), ((8, 8, 15.5, 15.5), (light, dark)))
    r = 2.2
    if c.n < 32:
        c.fill([rounded_rect(0.5 * k, 0.5 * k, 15.5 * k, 15.5 * k, r * k)], rgb("#123A66"))
        for (x0, y0, x1, y1), (a, b) in tiles:
            c.fill([rect(max(x0, 1) * k, max(y0, 1) * k, min(x1, 15) * k, min(y1, 15) * k)], a)
        c.fill([rounded_rect(0.5 * k, 0.5 * k, 15.5 * k, 15.5 * k, r * k),
                rounded_rect(1.5 * k, 1.5 * k, 14.5 * k, 14.5 * k, (r - 1) * k)], rgb("#123A66"),
               rule="evenodd")
    else:
        for (x0, y0, x1, y1), (a, b) in tiles:
            rr = [r if (x0 < 1 and y0 < 1) else 0.4, r if (x1 > 15 and y0 < 1) else 0.4,
                  r if (x1 > 15 and y1 > 15) else 0.4, r if (x0 < 1 and y1 > 15) else 0.4]
            shape = scaled(_tile(x0 + gap / k / 2, y0 + gap / k / 2, x1 - gap / k / 2, y1 - gap / k / 2, rr), k)
            c.fill([shape], b)
            c.fill([inset(shape, w)], vgrad(a, b, y0 * k, y1 * k))
    # the platter
    cx = cy = 8 * k
    rad = 5.5 * k if c.n < 32 else 5.6 * k
    c.fill([circle(cx, cy, rad)], rgb("#1B2A3A"))
    c.fill([circle(cx, cy, rad - w)], vgrad(rgb("#FFFFFF"), rgb("#C9D4E0"), cy - rad, cy + rad))
    if c.n >= 32:
        c.fill([circle(cx, cy, rad * 0.72), circle(cx, cy, rad * 0.72 - max(1.0, w * 0.6))],
               rgb("#9FB0C2"), rule="evenodd")
        c.fill([_sector(cx, cy, rad - w, -2.35, -1.75)], rgb("#FFFFFF", 0.9))
    hub = 1.6 * k if c.n < 32 else 1.5 * k
    c.fill([circle(cx, cy, hub)], rgb("#1B2A3A"))
    if c.n >= 24:
        c.fill([circle(cx, cy, hub * 0.45)], rgb("#7F93A8"))


def _tile(x0, y0, x1, y1, radii):
    """A rectangle with its own radius per corner (top-left, top-right, bottom-right, bottom-left)."""
    tl, tr, br, bl = radii
    h = math.pi / 2
    pts = []
    pts += _arc(x1 - tr, y0 + tr, tr, tr, -h, 0, 8)
    pts += _arc(x1 - br, y1 - br, br, br, 0, h, 8)
    pts += _arc(x0 + bl, y1 - bl, bl, bl, h, 2 * h, 8)
    pts += _arc(x0 + tl, y0 + tl, tl, tl, 2 * h, 3 * h, 8)
    return pts


def _sector(cx, cy, r, a0, a1):
    """A thin highlight band along the rim between two angles."""
    outer = _arc(cx, cy, r * 0.95, r * 0.95, a0, a1, 16)
    inner = _arc(cx, cy, r * 0.8, r * 0.8, a1, a0, 16)
    return outer + inner


ICONS = {
    "app.ico": (draw_app, APP_SIZES),
    "disk.ico": (draw_disk, LIST_SIZES),
    "error.ico": (draw_error, LIST_SIZES),
    "startup_yes.ico": (draw_startup_yes, LIST_SIZES),
    "startup_no.ico": (draw_startup_no, LIST_SIZES),
}


# ---------------------------------------------------------------- file formats

def png_bytes(rows):
    width, height = len(rows[0]) // 4, len(rows)
    raw = bytearray()
    bpp = 4
    prev = bytes(len(rows[0]))
    for row in rows:
        # Paeth filter on every row: flat colours then compress well.
        out = bytearray([4])
        for i in range(len(row)):
            a = row[i - bpp] if i >= bpp else 0
            b = prev[i]
            cc = prev[i - bpp] if i >= bpp else 0
            p = a + b - cc
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - cc)
            pred = a if pa <= pb and pa <= pc else (b if pb <= pc else cc)
            out.append((row[i] - pred) & 255)
        raw += out
        prev = row

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


def dib_bytes(rows):
    """BITMAPINFOHEADER, bottom-up BGRA, then the 1-bit AND mask (set where fully transparent)."""
    n = len(rows)
    head = struct.pack("<IiiHHIIiiII", 40, n, 2 * n, 1, 32, 0, n * n * 4, 0, 0, 0, 0)
    xor = bytearray()
    mask = bytearray()
    stride = ((n + 31) // 32) * 4
    for row in reversed(rows):
        bits = bytearray(stride)
        for x in range(n):
            r, g, b, a = row[4 * x:4 * x + 4]
            xor += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return head + bytes(xor) + bytes(mask)


def ico_bytes(images):
    """images: list of (size, rows)."""
    blobs = [(n, png_bytes(rows) if n >= PNG_FROM else dib_bytes(rows)) for n, rows in images]
    out = struct.pack("<HHH", 0, 1, len(blobs))
    offset = 6 + 16 * len(blobs)
    for n, blob in blobs:
        out += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blob for _, blob in blobs)


def render(draw, n):
    c = Canvas(n)
    draw(c)
    return c.rgba8()


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    outdir = argv[1]
    os.makedirs(outdir, exist_ok=True)
    for name, (draw, sizes) in ICONS.items():
        data = ico_bytes([(n, render(draw, n)) for n in sizes])
        tmp = os.path.join(outdir, name + ".tmp")
        with open(tmp, "wb") as f:
            f.write(data)
        os.replace(tmp, os.path.join(outdir, name))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
