#!/usr/bin/env python3
"""Draws Tamberly's icon (a computer with two red lightning strokes) and writes it as a one-image
32 x 32, 16-colour .ico with a transparency mask, and as PNG for the desktop's icon theme.
Run it again after changing the picture; the outputs are committed."""
import os
import struct
import zlib

VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
       (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255), (255, 0, 255),
       (0, 255, 255), (255, 255, 255)]
BLACK, NAVY, SILVER, GREY, RED, BLUE, WHITE = 0, 4, 7, 8, 9, 12, 15
T = None  # transparent

px = [[T] * 32 for _ in range(32)]


def rect(x0, y0, x1, y1, c):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            px[y][x] = c


def frame(x0, y0, x1, y1, c):
    for x in range(x0, x1 + 1):
        px[y0][x] = px[y1][x] = c
    for y in range(y0, y1 + 1):
        px[y][x0] = px[y][x1] = c


# Monitor: grey case, blue screen with a highlight.
rect(3, 4, 22, 19, SILVER)
frame(3, 4, 22, 19, BLACK)
rect(6, 7, 19, 16, BLUE)
frame(5, 6, 20, 17, GREY)
rect(7, 8, 9, 8, WHITE)
px[9][7] = WHITE
# Stand.
rect(10, 20, 15, 21, GREY)
frame(8, 21, 17, 22, BLACK)
rect(9, 21, 16, 21, GREY)
# Keyboard with keys.
rect(1, 24, 26, 29, SILVER)
frame(1, 24, 26, 29, BLACK)
for y in (26, 28):
    for x in range(3, 25, 2):
        px[y][x] = GREY
rect(8, 28, 19, 28, GREY)


# Two red lightning strokes beside the screen, outlined in maroon.
def bolt(points):
    for (x, y) in points:
        px[y][x] = RED
        for dx, dy in ((1, 0), (-1, 0), (0, 1), (0, -1)):
            nx, ny = x + dx, y + dy
            if 0 <= nx < 32 and 0 <= ny < 32 and px[ny][nx] is T:
                px[ny][nx] = 1


def zigzag(x, y, steps):
    pts = []
    for dx, dy, n in steps:
        for _ in range(n):
            pts.append((x, y))
            x += dx
            y += dy
    pts.append((x, y))
    return pts


bolt(zigzag(29, 1, [(-1, 1, 4), (1, 0, 3), (-1, 1, 5)]))
bolt(zigzag(30, 9, [(-1, 1, 3), (1, 0, 2), (-1, 1, 4)]))


def ico():
    xor = bytearray()
    mask = bytearray()
    for y in reversed(range(32)):
        row = [px[y][x] if px[y][x] is not T else 0 for x in range(32)]
        for x in range(0, 32, 2):
            xor.append(row[x] << 4 | row[x + 1])
        bits = 0
        for x in range(32):
            bits = bits << 1 | (1 if px[y][x] is T else 0)
        mask += struct.pack(">I", bits)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in VGA)
    header = struct.pack("<IiiHHIIiiII", 40, 32, 64, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    image = header + palette + bytes(xor) + bytes(mask)
    return struct.pack("<HHH", 0, 1, 1) + struct.pack("<BBBBHHII", 32, 32, 16, 0, 1, 4, len(image), 22) + image


def png(scale):
    size = 32 * scale
    raw = bytearray()
    for y in range(size):
        raw.append(0)
        for x in range(size):
            c = px[y // scale][x // scale]
            raw += bytes(VGA[c]) + b"\xff" if c is not T else b"\0\0\0\0"

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff)

    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(bytes(raw), 9)) + chunk(b"IEND", b""))


here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources")
data = ico()
assert len(data) == 766, len(data)
with open(os.path.join(here, "tamberly.ico"), "wb") as f:
    f.write(data)
for scale in (1, 2, 4):
    with open(os.path.join(here, "tamberly-%d.png" % (32 * scale)), "wb") as f:
        f.write(png(scale))
