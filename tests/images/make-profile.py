#!/usr/bin/env python3
"""make-profile.py SIZE OUT: a stand-in ICC profile of SIZE bytes. The header is valid (size,
'acsp', an RGB display class) with an empty tag table; the rest are seeded pseudo-random bytes,
the same on every run, so a test can compare what a reader extracted byte for byte."""
import random
import struct
import sys

size, out = int(sys.argv[1]), sys.argv[2]
header = bytearray(132)
struct.pack_into(">I", header, 0, size)
header[12:16] = b"mntr"
header[16:20] = b"RGB "
header[20:24] = b"XYZ "
header[36:40] = b"acsp"
body = random.Random(size).randbytes(size - len(header))
with open(out, "wb") as f:
    f.write(bytes(header) + body)
