#!/usr/bin/env python3
"""Draws the plugin's images: the toolbar icon and the two star images.

Standard library only. The output is deterministic, so the committed files can
be checked against a fresh run:

    python3 resources/make_images.py [OUTPUT_DIR]   (default: this directory)

favicon.ico  blue disc with a soft radial gradient, transparent outside;
             16, 24, 32, 48 as 32-bit BGRA bitmaps with an AND mask, 256 as PNG
favicon_dark.ico  the same disc drawn for a dark toolbar: lighter blues, so it
             stands out on the host's dark background; same sizes and formats
star.png     16 x 16 RGBA star
star_bmp.bmp 16 x 16 8-bit palette bitmap, star on magenta (255, 0, 255)
"""
import math
import os
import struct
import sys
import zlib

SUPERSAMPLE = 4  # per axis, for anti-aliased edges


def mix(a, b, t):
    return tuple(round(x + (y - x) * t) for x, y in zip(a, b))


LIGHT_TOOLBAR = ((150, 205, 255), (16, 64, 170))
DARK_TOOLBAR = ((215, 236, 255), (72, 142, 238))


def disc_pixel(size, x, y, colours=LIGHT_TOOLBAR):
    """(r, g, b, a) of the disc at pixel (x, y), y growing downwards."""
    centre = size / 2.0
    radius = size * 0.47
    covered = 0
    for sy in range(SUPERSAMPLE):
        for sx in range(SUPERSAMPLE):
            px = x + (sx + 0.5) / SUPERSAMPLE
            py = y + (sy + 0.5) / SUPERSAMPLE
            if (px - centre) ** 2 + (py - centre) ** 2 <= radius * radius:
                covered += 1
    if covered == 0:
        return (0, 0, 0, 0)
    # Light falls from the upper left: brightest point off-centre, fading out.
    hx, hy = size * 0.38, size * 0.34
    d = math.hypot(x + 0.5 - hx, y + 0.5 - hy) / (radius * 1.45)
    t = min(1.0, d) ** 1.2
    r, g, b = mix(colours[0], colours[1], t)
    return (r, g, b, round(255 * covered / SUPERSAMPLE ** 2))


def star_polygon(size):
    cx, cy = size / 2.0, size / 2.0 + 0.4
    outer, inner = size * 0.48, size * 0.20
    points = []
    for i in range(10):
        angle = -math.pi / 2 + i * math.pi / 5
        rad = outer if i % 2 == 0 else inner
        points.append((cx + rad * math.cos(angle), cy + rad * math.sin(angle)))
    return points


def inside(poly, px, py):
    result = False
    j = len(poly) - 1
    for i, (xi, yi) in enumerate(poly):
        xj, yj = poly[j]
        if (yi > py) != (yj > py) and px < (xj - xi) * (py - yi) / (yj - yi) + xi:
            result = not result
        j = i
    return result


def star_pixel(poly, x, y):
    covered = sum(
        inside(poly, x + (sx + 0.5) / SUPERSAMPLE, y + (sy + 0.5) / SUPERSAMPLE)
        for sy in range(SUPERSAMPLE) for sx in range(SUPERSAMPLE))
    if covered == 0:
        return (0, 0, 0, 0)
    r, g, b = mix((255, 214, 40), (220, 140, 0), y / 15.0)
    return (r, g, b, round(255 * covered / SUPERSAMPLE ** 2))


def render(size, pixel):
    return [[pixel(size, x, y) for x in range(size)] for y in range(size)]


def png(rows):
    """RGBA rows -> PNG file bytes (colour type 6, 8 bits, no interlace)."""
    height, width = len(rows), len(rows[0])

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
            + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def icon_bitmap(rows):
    """RGBA rows -> icon image: BITMAPINFOHEADER, BGRA bottom-up, AND mask."""
    size = len(rows)
    mask_stride = ((size + 31) // 32) * 4
    pixels = b"".join(bytes((b, g, r, a)) for row in reversed(rows) for (r, g, b, a) in row)
    mask = bytearray()
    for row in reversed(rows):
        line = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                line[x // 8] |= 0x80 >> (x % 8)
        mask += line
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0,
                         len(pixels) + len(mask), 0, 0, 0, 0)
    return header + pixels + bytes(mask)


def ico(images):
    """[(size, data)] -> .ico file bytes."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        dim = 0 if size >= 256 else size
        out += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b"".join(data for _, data in images)


def bmp8_on_magenta(rows):
    """RGBA rows -> 8-bit palette BMP; transparent pixels become magenta.

    A pixel at least half covered takes the star's colour, the rest the key
    colour, so no pink fringe remains once magenta is keyed out.
    """
    size = len(rows)
    magenta = (255, 0, 255)
    palette = [magenta]
    indices = []
    for row in rows:
        line = []
        for r, g, b, a in row:
            colour = magenta if a < 128 else (r, g, b)
            if colour not in palette:
                palette.append(colour)
            line.append(palette.index(colour))
        indices.append(line)
    assert len(palette) <= 256
    palette += [(0, 0, 0)] * (256 - len(palette))
    stride = (size + 3) // 4 * 4
    pixels = b"".join(bytes(line) + bytes(stride - size) for line in reversed(indices))
    colours = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    info = struct.pack("<IiiHHIIiiII", 40, size, size, 1, 8, 0, len(pixels), 2835, 2835, 256, 0)
    offset = 14 + len(info) + len(colours)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    return header + info + colours + pixels


def main():
    out_dir = sys.argv[1] if len(sys.argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out_dir, exist_ok=True)
    images = [(s, icon_bitmap(render(s, disc_pixel))) for s in (16, 24, 32, 48)]
    images.append((256, png(render(256, disc_pixel))))
    dark = lambda size, x, y: disc_pixel(size, x, y, DARK_TOOLBAR)
    dark_images = [(s, icon_bitmap(render(s, dark))) for s in (16, 24, 32, 48)]
    dark_images.append((256, png(render(256, dark))))
    poly = star_polygon(16)
    star = render(16, lambda _, x, y: star_pixel(poly, x, y))
    files = {
        "favicon.ico": ico(images),
        "favicon_dark.ico": ico(dark_images),
        "star.png": png(star),
        "star_bmp.bmp": bmp8_on_magenta(star),
    }
    for name, data in files.items():
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
