#!/usr/bin/env python3
"""make-hdr-png.py KIND OUT: a 256x96 high dynamic range test chart, a 16-bit RGB PNG without
colour chunks.

KIND is pq or hlg: the stored values are the signal of that transfer function for the display
light (cd/m2) given below, scaled to 0..65535 and rounded.

  y 0..31    eight neutral 32x32 patches; patch i spans x 32i..32i+31 at LIGHT[KIND][i]
  y 32..63   a neutral ramp: column x at 0 for x = 0, else TOP * 10^(-4 (255 - x) / 254), TOP
             being the last patch's light (from TOP / 10000 to TOP on a log scale)
  y 64..95   colours: column x is the fully saturated hue x / 256 (HSV: red at 0, then yellow,
             green, cyan, blue, magenta); the strongest channel's light goes from 203 cd/m2 at
             y = 64 to TOP at y = 95 on a log scale

PQ is SMPTE ST 2084's inverse EOTF of light / 10000. HLG is BT.2100's for a 1000 cd/m2 display
(system gamma 1.2), applied per channel: scene light E = (light / 1000) ^ (1 / 1.2), then the
OETF. For neutral pixels that is exactly BT.2100's HLG.
"""
import colorsys
import math
import struct
import sys
import zlib

LIGHT = {"pq": [5, 20, 50, 100, 203, 400, 1000, 4000],
         "hlg": [5, 20, 50, 100, 203, 400, 700, 1000]}
WIDTH, HEIGHT = 256, 96


def pq(light):
    m1, m2 = 2610 / 16384, 2523 / 4096 * 128
    c1, c2, c3 = 3424 / 4096, 2413 / 4096 * 32, 2392 / 4096 * 32
    y = (light / 10000) ** m1
    return ((c1 + c2 * y) / (1 + c3 * y)) ** m2


def hlg(light):
    a, b, c = 0.17883277, 0.28466892, 0.55991073
    e = (light / 1000) ** (1 / 1.2)
    return math.sqrt(3 * e) if e <= 1 / 12 else a * math.log(12 * e - b) + c


def hue(h):
    """Channel weights of the fully saturated hue h in [0, 1)."""
    return colorsys.hsv_to_rgb(h, 1, 1)


def chart(kind):
    signal = {"pq": pq, "hlg": hlg}[kind]
    top = LIGHT[kind][-1]

    def sample(light):
        return round(signal(light) * 65535)

    rows = []
    patches = b"".join(struct.pack(">3H", *[sample(LIGHT[kind][x // 32])] * 3) for x in range(WIDTH))
    rows += [patches] * 32
    ramp = b"".join(struct.pack(">3H", *[sample(0 if x == 0 else top * 10 ** (-4 * (255 - x) / 254))] * 3)
                    for x in range(WIDTH))
    rows += [ramp] * 32
    for y in range(32):
        peak = 203 * (top / 203) ** (y / 31)
        rows.append(b"".join(struct.pack(">3H", *(sample(peak * w) for w in hue(x / WIDTH)))
                             for x in range(WIDTH)))
    return rows


def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def png(rows):
    header = struct.pack(">IIBBBBB", WIDTH, HEIGHT, 16, 2, 0, 0, 0)
    raw = b"".join(b"\0" + row for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) +
            chunk(b"IEND", b""))


kind, out = sys.argv[1], sys.argv[2]
with open(out, "wb") as f:
    f.write(png(chart(kind)))
