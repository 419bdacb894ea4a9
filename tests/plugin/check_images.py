#!/usr/bin/env python3
"""Checks the plugin's committed images: same bytes as a fresh run of the
generator, and the sizes and formats the resource script promises."""
import os
import struct
import subprocess
import sys
import tempfile
import unittest
import zlib

RESOURCES = sys.argv.pop(1) if len(sys.argv) > 1 else os.path.join(
    os.path.dirname(__file__), "..", "..", "resources")


def read(name):
    with open(os.path.join(RESOURCES, name), "rb") as f:
        return f.read()


def png_header(data):
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "PNG signature"
    length, kind = struct.unpack(">I4s", data[8:16])
    assert kind == b"IHDR" and length == 13
    width, height, depth, colour = struct.unpack(">IIBB", data[16:26])
    return width, height, depth, colour


def png_pixels(data):
    """RGBA rows of a filter-0 PNG as the generator writes it."""
    width, height, _, _ = png_header(data)
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        if kind == b"IDAT":
            idat += data[pos + 8:pos + 8 + length]
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * 4 + 1
    return [[tuple(raw[y * stride + 1 + x * 4:y * stride + 5 + x * 4]) for x in range(width)]
            for y in range(height)]


def icon_png(data):
    """The 256 x 256 PNG image of an .ico file."""
    count = struct.unpack("<H", data[4:6])[0]
    for i in range(count):
        w, _, _, _, _, _, size, offset = struct.unpack("<BBBBHHII", data[6 + 16 * i:22 + 16 * i])
        if w == 0:
            return data[offset:offset + size]
    raise AssertionError("no 256 x 256 image")


class Images(unittest.TestCase):
    def test_generator_reproduces_committed_files(self):
        with tempfile.TemporaryDirectory() as out:
            subprocess.run([sys.executable, os.path.join(RESOURCES, "make_images.py"), out], check=True)
            for name in ("favicon.ico", "favicon_dark.ico", "star.png", "star_bmp.bmp"):
                with open(os.path.join(out, name), "rb") as f:
                    self.assertEqual(f.read(), read(name), name + " differs from the generator's output")

    def test_favicon_directory_and_images(self):
        for name in ("favicon.ico", "favicon_dark.ico"):
            with self.subTest(name):
                self.check_icon(read(name))

    def test_dark_mode_icon_is_lighter_and_stands_out_on_a_dark_toolbar(self):
        def mean_luminance(name):
            pixels = [px for row in png_pixels(icon_png(read(name))) for px in row if px[3] == 255]
            return sum(0.2126 * r + 0.7152 * g + 0.0722 * b for r, g, b, _ in pixels) / len(pixels)
        dark_toolbar = 0x20  # the host's dark background, grey 32
        self.assertGreater(mean_luminance("favicon_dark.ico"), mean_luminance("favicon.ico") + 30)
        self.assertGreater(mean_luminance("favicon_dark.ico") - dark_toolbar, 110)

    def check_icon(self, data):
        reserved, kind, count = struct.unpack("<HHH", data[:6])
        self.assertEqual((reserved, kind, count), (0, 1, 5))
        seen = []
        for i in range(count):
            w, h, colours, _, planes, bits, size, offset = struct.unpack(
                "<BBBBHHII", data[6 + 16 * i:22 + 16 * i])
            side = w or 256
            self.assertEqual(w, h)
            self.assertEqual((colours, planes, bits), (0, 1, 32))
            self.assertLessEqual(offset + size, len(data))
            image = data[offset:offset + size]
            if side == 256:
                self.assertEqual(png_header(image), (256, 256, 8, 6))  # RGBA PNG
                pixels = png_pixels(image)
                self.assertEqual(pixels[0][0][3], 0, "transparent outside the disc")
                r, g, b, a = pixels[128][128]
                self.assertEqual(a, 255)
                self.assertTrue(b > r and b > g, "blue disc")
            else:
                hdr = struct.unpack("<IiiHHI", image[:20])
                self.assertEqual(hdr, (40, side, 2 * side, 1, 32, 0))  # BGRA + AND mask
                mask_stride = (side + 31) // 32 * 4
                self.assertEqual(size, 40 + side * side * 4 + side * mask_stride)
                corner_alpha = image[40 + 3]
                centre = 40 + ((side // 2) * side + side // 2) * 4
                b, g, r, a = image[centre:centre + 4]
                self.assertEqual(corner_alpha, 0)
                self.assertEqual(a, 255)
                self.assertTrue(b > r and b > g, "blue disc")
            seen.append(side)
        self.assertEqual(seen, [16, 24, 32, 48, 256])

    def test_star_png(self):
        data = read("star.png")
        self.assertEqual(png_header(data), (16, 16, 8, 6))
        alphas = {px[3] for row in png_pixels(data) for px in row}
        self.assertIn(0, alphas)
        self.assertIn(255, alphas)

    def test_star_bmp_is_8_bit_on_magenta(self):
        data = read("star_bmp.bmp")
        magic, file_size, _, _, offset = struct.unpack("<2sIHHI", data[:14])
        self.assertEqual((magic, file_size), (b"BM", len(data)))
        size, w, h, planes, bits, compression = struct.unpack("<IiiHHI", data[14:34])
        self.assertEqual((size, w, h, planes, bits, compression), (40, 16, 16, 1, 8, 0))
        palette = data[54:offset]
        corner = data[offset + 15 * 16]  # rows are bottom-up: top-left pixel
        b, g, r, _ = palette[corner * 4:corner * 4 + 4]
        self.assertEqual((r, g, b), (255, 0, 255))
        self.assertGreater(len(set(data[offset:])), 1, "a star on the key colour")


if __name__ == "__main__":
    unittest.main()
