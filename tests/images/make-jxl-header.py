#!/usr/bin/env python3
"""make-jxl-header.py OUT: a bare JPEG XL codestream that holds only an image header, with the
header's branches cjxl never writes (a preview, named extra channels of every kind that carries
fields of its own, a floating-point bit depth, an intrinsic size, timecodes):

  size           5000x100; intrinsic size 56x32 (16:9); preview 1400x400; orientation 8
  animation      24/1001 ticks per second, 70000 loops, timecodes
  bit depth      16-bit floating point (5 exponent bits)
  extra channels alpha "mask" (12-bit, dim_shift 3, associated); spot colour "varnish" with
                 (0.5, 0.25, 1, 0.75); CFA channel 7 with a 67-byte name (16-bit, dim_shift 2)
  colours        RGB, white point (0.3457, 0.3585), P3 primaries, PQ, absolute intent
  tone mapping   intensity_target 4000, min_nits 0.05

Decoders stop after the header: there is no frame. jxlinfo prints the fields above.
"""
import struct
import sys

# U32 codings: (offset, bits) for each of the four selectors.
SIZE = [(1, 9), (1, 13), (1, 18), (1, 30)]
PREVIEW = [(1, 6), (65, 8), (321, 10), (1345, 12)]
ENUM = [(0, 0), (1, 0), (2, 4), (18, 6)]
CUSTOM_XY = [(0, 19), (524288, 19), (1048576, 20), (2097152, 21)]


class Bits:
    def __init__(self):
        self.value = 0
        self.count = 0

    def put(self, count, value):
        assert 0 <= value < (1 << count) or (count == 0 and value == 0)
        self.value |= value << self.count
        self.count += count

    def bool(self, value):
        self.put(1, int(value))

    def u32(self, coding, value):
        for selector, (offset, bits) in enumerate(coding):
            if offset <= value < offset + (1 << bits):
                self.put(2, selector)
                self.put(bits, value - offset)
                return
        raise ValueError(value)

    def f16(self, value):
        self.put(16, struct.unpack("<H", struct.pack("<e", value))[0])

    def xy(self, x, y):
        for value in (round(x * 1e6), round(y * 1e6)):
            self.u32(CUSTOM_XY, 2 * value if value >= 0 else -2 * value - 1)

    def bytes(self):
        return self.value.to_bytes((self.count + 7) // 8, "little")


def header():
    b = Bits()
    b.put(8, 0xFF)
    b.put(8, 0x0A)
    # SizeHeader: not small, height 100, no ratio, width 5000
    b.bool(False), b.u32(SIZE, 100), b.put(3, 0), b.u32(SIZE, 5000)
    # ImageMetadata
    b.bool(False)  # all_default
    b.bool(True)  # extra_fields
    b.put(3, 8 - 1)  # orientation
    b.bool(True)  # intrinsic size: small, height 4 * 8, ratio 5 (16:9)
    b.bool(True), b.put(5, 3), b.put(3, 5)
    b.bool(True)  # preview: not in eighths, height 400, width 1400
    b.bool(False), b.u32(PREVIEW, 400), b.put(3, 0), b.u32(PREVIEW, 1400)
    b.bool(True)  # animation
    b.u32([(100, 0), (1000, 0), (1, 10), (1, 30)], 24)
    b.u32([(1, 0), (1001, 0), (1, 8), (1, 10)], 1001)
    b.u32([(0, 0), (0, 3), (0, 16), (0, 32)], 70000)
    b.bool(True)
    b.bool(True), b.u32([(32, 0), (16, 0), (24, 0), (1, 6)], 16), b.put(4, 5 - 1)  # bit depth
    b.bool(False)  # modular_16bit_buffers
    b.u32([(0, 0), (1, 0), (2, 4), (1, 12)], 3)  # extra channels

    def channel(kind, depth, dim_shift, name):
        b.bool(False)  # not a default alpha channel
        b.u32(ENUM, kind)
        b.bool(False), b.u32([(8, 0), (10, 0), (12, 0), (1, 6)], depth)
        b.u32([(0, 0), (3, 0), (4, 0), (1, 3)], dim_shift)
        b.u32([(0, 0), (0, 4), (16, 5), (48, 10)], len(name))
        for byte in name.encode():
            b.put(8, byte)

    channel(0, 12, 3, "mask")
    b.bool(True)  # alpha_associated
    channel(2, 8, 0, "varnish")
    for value in (0.5, 0.25, 1, 0.75):
        b.f16(value)
    channel(5, 16, 2, "colour filter array, with a name long enough for the longest coding")
    b.u32([(1, 0), (0, 2), (3, 4), (19, 8)], 7)
    b.bool(False)  # xyb_encoded
    # ColourEncoding
    b.bool(False), b.bool(False), b.u32(ENUM, 0)  # not default, no ICC, RGB
    b.u32(ENUM, 2), b.xy(0.3457, 0.3585)  # custom white point
    b.u32(ENUM, 11)  # P3
    b.bool(False), b.u32(ENUM, 16)  # PQ
    b.u32(ENUM, 3)  # absolute
    # ToneMapping
    b.bool(False), b.f16(4000), b.f16(0.05), b.bool(False), b.f16(0)
    b.put(2, 0)  # extensions: U64 0
    b.bool(True)  # default transform data
    return b.bytes()


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as out:
        out.write(header())
