#!/usr/bin/env python3
"""make-pattern-png.py KIND OUT: 8-bit RGB PNGs that ImageMagick makes slowly or not at all.

  lattice   4000x3000, black with white pixels where x % 8 == 0 and y % 8 == 7 (rows counted top
            down). The last row is white-dotted: decimation counts rows from the bottom, since
            bitmap rows are stored bottom up, so every power-of-two decimation keeps white.
  colours   64x64, every combination of 16 levels per channel: r = 17 * (x % 16),
            g = 17 * (y % 16), b = 17 * (x // 16 + 4 * (y // 16)). No colour chunks at all.
  chrm      colours, with gAMA 55556 (decoding gamma 100000 / 55556, about 1.8) and cHRM white
            (0.3457, 0.3585), red (0.67, 0.33), green (0.21, 0.71), blue (0.14, 0.08), and no
            iCCP or sRGB chunk.
  cicp      colours, with cICP 12, 13, 0, 1 (Display P3) and no other colour chunk.
  cicp-icc  colours, with cICP 12, 13, 0, 1 and an iCCP chunk of colord's AdobeRGB1998.icc
            (PROFILE below): cICP must win.
  exif6     64x48 quadrants (red, green / blue, rgb(200,30,60)) with an eXIf chunk of a
            little-endian TIFF block whose Orientation is 6, after the picture data.
"""
import struct
import sys
import zlib


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png(width, height, row, extra=b""):
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    raw = b"".join(b"\0" + row(y) for y in range(height))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + extra +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def lattice():
    width, height = 4000, 3000
    dotted = (b"\xff\xff\xff" + b"\0" * 21) * (width // 8)
    plain = b"\0" * (3 * width)
    return png(width, height, lambda y: dotted if y % 8 == 7 else plain)


def colour_row(y):
    return b"".join(bytes((17 * (x % 16), 17 * (y % 16), 17 * (x // 16 + 4 * (y // 16))))
                    for x in range(64))


def chromaticities():
    values = (0.3457, 0.3585, 0.67, 0.33, 0.21, 0.71, 0.14, 0.08)
    chrm = struct.pack(">8I", *(round(v * 100000) for v in values))
    return chunk(b"gAMA", struct.pack(">I", 55556)) + chunk(b"cHRM", chrm)


PROFILE = "/usr/share/color/icc/colord/AdobeRGB1998.icc"


def code_points():
    return chunk(b"cICP", bytes((12, 13, 0, 1)))


def code_points_and_profile():
    with open(PROFILE, "rb") as f:
        profile = zlib.compress(f.read())
    return code_points() + chunk(b"iCCP", b"AdobeRGB\0\0" + profile)


def quadrant_row(y):
    left, right = ((255, 0, 0), (0, 255, 0)) if y < 24 else ((0, 0, 255), (200, 30, 60))
    return bytes(left) * 32 + bytes(right) * 32


def exif6():
    # "II", 42, the directory at 8: one entry, Orientation (274) SHORT 1 = 6, no next directory.
    tiff = b"II*\0" + struct.pack("<IHHHIHHI", 8, 1, 274, 3, 1, 6, 0, 0)
    whole = png(64, 48, quadrant_row)
    end = whole.rindex(b"IEND") - 4
    return whole[:end] + chunk(b"eXIf", tiff) + whole[end:]


kind, out = sys.argv[1], sys.argv[2]
data = {"lattice": lattice,
        "colours": lambda: png(64, 64, colour_row),
        "chrm": lambda: png(64, 64, colour_row, chromaticities()),
        "cicp": lambda: png(64, 64, colour_row, code_points()),
        "cicp-icc": lambda: png(64, 64, colour_row, code_points_and_profile()),
        "exif6": exif6}[kind]()
with open(out, "wb") as f:
    f.write(data)
