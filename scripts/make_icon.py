#!/usr/bin/env python3
"""Draws the icon IDR_MAINFRAME (a device receiving a download) in the 16 colours of the
standard Windows palette, 32 x 32 and 16 x 16, and writes res/idr_mainframe.ico (4 bits per pixel
with a transparency mask) and one RGBA PNG per size for the Qt resources.

The same artwork, described as shapes on the 32 x 32 grid, is also rendered with smooth edges at
48, 64, 128 and 256 pixels for the desktop's icon theme (res/idr_mainframe_<size>.png): each size
is drawn from the shapes, never scaled up from a smaller picture. Only the standard library is
used, so the script runs on any Python 3.

Run from anywhere: scripts/make_icon.py [OUTPUT_FOLDER]   (default: res/)
"""
import math
import os
import struct
import sys
import zlib

PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, GREEN, NAVY, TEAL, SILVER, GRAY, RED, LIME, YELLOW, AQUA, WHITE = 0, 2, 4, 6, 7, 8, 9, 10, 11, 14, 15
CLEAR = None


def canvas(size):
    return [[CLEAR] * size for _ in range(size)]


def rect(img, x0, y0, x1, y1, colour):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = colour


def frame(img, x0, y0, x1, y1, colour):
    for x in range(x0, x1 + 1):
        img[y0][x] = img[y1][x] = colour
    for y in range(y0, y1 + 1):
        img[y][x0] = img[y][x1] = colour


def arrow(img, cx, top, shaft_half, shaft_bottom, head_half, tip):
    """A downward arrow centred on column cx (between cx-1 and cx), outlined in black."""
    fill = [[False] * len(img) for _ in img]
    for y in range(top, shaft_bottom + 1):
        for x in range(cx - shaft_half, cx + shaft_half):
            fill[y][x] = True
    rows = tip - shaft_bottom
    for i in range(rows):
        half = head_half - (head_half * i) // rows
        for x in range(cx - half, cx + half):
            fill[shaft_bottom + 1 + i][x] = True
    size = len(img)
    for y in range(size):
        for x in range(size):
            if fill[y][x]:
                edge = any(not (0 <= y + dy < size and 0 <= x + dx < size and fill[y + dy][x + dx])
                           for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)))
                img[y][x] = BLACK if edge else LIME


def draw32():
    img = canvas(32)
    # The device: a grey case with a display, two lamps and its connector pins.
    rect(img, 2, 14, 29, 28, SILVER)
    frame(img, 2, 14, 29, 28, BLACK)
    for x in range(3, 29):
        img[27][x] = GRAY
    for y in range(15, 28):
        img[y][28] = GRAY
    rect(img, 5, 17, 21, 23, TEAL)
    frame(img, 5, 17, 21, 23, GRAY)
    for x in range(7, 20, 2):
        img[20][x] = AQUA
    rect(img, 24, 18, 26, 19, RED)
    rect(img, 24, 22, 26, 23, LIME)
    for x in range(6, 27, 4):
        rect(img, x, 29, x + 1, 31, GRAY)
    # The download: a green arrow pointing into the device.
    arrow(img, 16, 0, 3, 7, 7, 15)
    return img


def draw16():
    img = canvas(16)
    rect(img, 1, 7, 14, 14, SILVER)
    frame(img, 1, 7, 14, 14, BLACK)
    rect(img, 3, 9, 9, 12, TEAL)
    img[9][12] = RED
    img[12][12] = LIME
    arrow(img, 8, 0, 2, 3, 4, 8)
    return img


# --- the artwork as shapes, for the larger sizes ---------------------------------------------
# Coordinates are on the 32 x 32 grid of draw32() (a pixel x covers x to x + 1). Each shape is a
# signed distance function, negative inside; a pixel takes the share of the shape that covers it,
# estimated from the distance at its centre.

def box(x0, y0, x1, y1, radius=0.0):
    cx, cy, hx, hy = (x0 + x1) / 2, (y0 + y1) / 2, (x1 - x0) / 2, (y1 - y0) / 2

    def sdf(x, y):
        qx, qy = abs(x - cx) - hx + radius, abs(y - cy) - hy + radius
        return (math.hypot(max(qx, 0.0), max(qy, 0.0)) + min(max(qx, qy), 0.0) - radius)
    return sdf, (x0, y0, x1, y1)


def polygon(points):
    def sdf(x, y):
        best = float("inf")
        inside = False
        for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
            ex, ey, wx, wy = bx - ax, by - ay, x - ax, y - ay
            t = max(0.0, min(1.0, (wx * ex + wy * ey) / (ex * ex + ey * ey)))
            best = min(best, math.hypot(wx - ex * t, wy - ey * t))
            if (ay > y) != (by > y) and x < ax + (y - ay) * ex / ey:
                inside = not inside
        return -best if inside else best
    xs, ys = [p[0] for p in points], [p[1] for p in points]
    return sdf, (min(xs), min(ys), max(xs), max(ys))


def render(size):
    """The icon at size x size pixels, as rows of RGBA tuples."""
    unit = size / 32
    line = max(1.0, 0.6 * unit) / unit  # outlines: 1 pixel at the least, thinner than at 32
    acc = [[[0.0] * 4 for _ in range(size)] for _ in range(size)]  # premultiplied RGBA

    def paint(shape, colour, inset=0.0):
        sdf, (x0, y0, x1, y1) = shape
        r, g, b = (c / 255 for c in PALETTE[colour])
        for py in range(max(0, int(y0 * unit) - 1), min(size, int(y1 * unit) + 2)):
            for px in range(max(0, int(x0 * unit) - 1), min(size, int(x1 * unit) + 2)):
                d = (sdf((px + 0.5) / unit, (py + 0.5) / unit) + inset) * unit
                a = max(0.0, min(1.0, 0.5 - d))
                if a > 0.0:
                    p = acc[py][px]
                    for i, c in enumerate((r, g, b, 1.0)):
                        p[i] = c * a + p[i] * (1 - a)

    def outlined(shape, outline, fill):
        paint(shape, outline)
        paint(shape, fill, inset=line)

    # The device: case with a shaded lower and right edge, display, lamps, connector pins.
    for x in range(6, 27, 4):
        paint(box(x, 29, x + 2, 32, 0.2), GRAY)
    outlined(box(2, 14, 30, 29, 0.6), BLACK, GRAY)
    paint(box(2 + line, 14 + line, 30 - line - 0.8, 29 - line - 0.8, 0.3), SILVER)
    outlined(box(5, 17, 22, 24, 0.3), GRAY, TEAL)
    for x in range(7, 20, 2):
        paint(box(x, 20, x + 1, 21, 0.2), AQUA)
    paint(box(24, 18, 27, 20, 0.3), RED)
    paint(box(24, 22, 27, 24, 0.3), LIME)
    # The download: the arrow pointing into the device.
    outlined(polygon([(13, 0), (19, 0), (19, 8), (23, 8), (16, 16), (9, 8), (13, 8)]), BLACK, LIME)

    rows = []
    for row in acc:
        out = []
        for r, g, b, a in row:
            if a <= 0.0:
                out.append((0, 0, 0, 0))
            else:
                rgb = tuple(round(min(1.0, c / a) * 255) for c in (r, g, b))
                out.append(rgb + (round(a * 255),))
        rows.append(out)
    return rows


def png(img):
    return png_rgba([[PALETTE[c] + (255,) if c is not None else (0, 0, 0, 0) for c in row]
                     for row in img])


def png_rgba(rows):
    size = len(rows)
    raw = b""
    for row in rows:
        raw += b"\x00" + b"".join(bytes(p) for p in row)

    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def dib(img):
    """A 4-bit DIB as an icon holds it: header (double height), palette, XOR rows, AND mask."""
    size = len(img)
    xor_stride = ((size * 4 + 31) // 32) * 4
    and_stride = ((size + 31) // 32) * 4
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0,
                         (xor_stride + and_stride) * size, 0, 0, 16, 0)
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in PALETTE)
    xor = b""
    mask = b""
    for row in reversed(img):  # bottom-up
        nibbles = [(c if c is not None else 0) for c in row]
        line = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, size, 2))
        xor += line + b"\x00" * (xor_stride - len(line))
        bits = 0
        line = b""
        for i, c in enumerate(row):
            bits = (bits << 1) | (1 if c is None else 0)
            if i % 8 == 7:
                line += bytes((bits,))
                bits = 0
        mask += line + b"\x00" * (and_stride - len(line))
    return header + palette + xor + mask


def ico(images):
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    blobs = [dib(img) for img in images]
    for img, blob in zip(images, blobs):
        size = len(img)
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(blob), offset)
        offset += len(blob)
    return out + b"".join(blobs)


# The sizes drawn from the shapes, for the desktop's icon theme.
SMOOTH_SIZES = (48, 64, 128, 256)


def main():
    res = (sys.argv[1] if len(sys.argv) > 1 else
           os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res"))
    os.makedirs(res, exist_ok=True)
    big, small = draw32(), draw16()
    with open(os.path.join(res, "idr_mainframe.ico"), "wb") as f:
        f.write(ico([big, small]))
    with open(os.path.join(res, "idr_mainframe_32.png"), "wb") as f:
        f.write(png(big))
    with open(os.path.join(res, "idr_mainframe_16.png"), "wb") as f:
        f.write(png(small))
    for size in SMOOTH_SIZES:
        with open(os.path.join(res, "idr_mainframe_%d.png" % size), "wb") as f:
            f.write(png_rgba(render(size)))


if __name__ == "__main__":
    main()
