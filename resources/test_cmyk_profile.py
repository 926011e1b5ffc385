#!/usr/bin/env python3
"""Checks the committed built-in CMYK profile on its own terms, read back from its bytes: the form
every consumer relies on, and colours a press would plausibly print. Also checks that the
generator's --check really fails on a file that differs.

    test_cmyk_profile.py [PATH]     (default: CMYKProfile.icc beside this script)
"""

import math
import pathlib
import struct
import subprocess
import sys
import tempfile
import unittest

HERE = pathlib.Path(__file__).resolve().parent
GENERATOR = HERE / "make-cmyk-profile.py"
PROFILE = HERE / "CMYKProfile.icc"

GRID = 6
ENTRIES = 256
INPUT_TABLES = 52
GRID_START = INPUT_TABLES + 4 * ENTRIES * 2
OUTPUT_TABLES = GRID_START + GRID ** 4 * 3 * 2


def node(c, m, y, k):
    return ((c * GRID + m) * GRID + y) * GRID + k


class Profile:
    def __init__(self, data):
        self.data = data
        (count,) = struct.unpack_from(">I", data, 128)
        self.tags = [struct.unpack_from(">4sII", data, 132 + 12 * i) for i in range(count)]
        signature, offset, size = self.tags[0]
        self.tag = data[offset:offset + size]

    def curve(self, channel, start):
        return struct.unpack_from(">%dH" % ENTRIES, self.tag, start + channel * ENTRIES * 2)

    def lab(self, index):
        lightness, a, b = struct.unpack_from(">3H", self.tag, GRID_START + index * 6)
        return lightness / 652.8, a / 256.0 - 128.0, b / 256.0 - 128.0


def hue(lab):
    return math.degrees(math.atan2(lab[2], lab[1])) % 360.0


def chroma(lab):
    return math.hypot(lab[1], lab[2])


class FormTest(unittest.TestCase):
    """What the plug-in, Little CMS and the settings dialog read from the profile."""

    def setUp(self):
        self.profile = Profile(PROFILE.read_bytes())

    def test_header(self):
        data = self.profile.data
        expected = [
            (0, struct.pack(">I", 11556)),
            (4, b"lcms"),
            (8, bytes((0x02, 0x30, 0x00, 0x00))),
            (12, b"scnr"),
            (16, b"CMYK"),
            (20, b"Lab "),
            (24, struct.pack(">6H", 2009, 5, 27, 14, 38, 26)),
            (36, b"acsp"),
            (40, b"MSFT"),
            (44, bytes(4)),                                   # flags
            (48, b"lcms"),                                    # device manufacturer
            (56, bytes(8)),                                   # attributes
            (64, bytes(4)),                                   # perceptual
            (68, struct.pack(">iii", 63190, 65536, 54061)),  # D50 to the nearest 1/65536
            (80, b"lcms"),                                    # creator
            (84, bytes(16)),                                  # no profile ID
        ]
        self.assertEqual(len(data), 11556)
        for offset, value in expected:
            with self.subTest(offset=offset):
                self.assertEqual(data[offset:offset + len(value)], value)

    def test_one_lut16_tag_filling_the_file(self):
        self.assertEqual(self.profile.tags, [(b"A2B0", 144, 11412)])
        tag = self.profile.tag
        self.assertEqual(tag[:8], b"mft2" + bytes(4))
        self.assertEqual(tuple(tag[8:12]), (4, 3, GRID, 0))
        matrix = struct.unpack_from(">9i", tag, 12)
        self.assertEqual(matrix, (65536, 0, 0, 0, 65536, 0, 0, 0, 65536))
        self.assertEqual(struct.unpack_from(">HH", tag, 48), (ENTRIES, ENTRIES))
        # The layout the lookup-table type prescribes must end exactly at the end of the tag.
        self.assertEqual(OUTPUT_TABLES + 3 * ENTRIES * 2, len(tag))

    def test_curves(self):
        for channel in range(3):
            with self.subTest(output=channel):
                self.assertEqual(self.profile.curve(channel, OUTPUT_TABLES),
                                 tuple(i * 257 for i in range(ENTRIES)))
        for channel in range(4):
            with self.subTest(input=channel):
                curve = self.profile.curve(channel, INPUT_TABLES)
                self.assertEqual((curve[0], curve[-1]), (0, 65535))
                self.assertTrue(all(a <= b for a, b in zip(curve, curve[1:])))
                # Dot gain: a 50 % tint prints darker than half, but not beyond a press's range.
                gain = (curve[128] / 65535.0) - 128 / 255.0
                self.assertTrue(0.10 <= gain <= 0.25, gain)


class ColourTest(unittest.TestCase):
    """Colours read at the grid nodes, where no interpolation blurs them."""

    def setUp(self):
        self.profile = Profile(PROFILE.read_bytes())
        self.lab = lambda *inks: self.profile.lab(node(*(GRID - 1 if i else 0 for i in inks)))

    def test_paper_is_exactly_white(self):
        # Anything else would tint every unprinted area of every CMYK picture.
        self.assertEqual(struct.unpack_from(">3H", self.profile.tag, GRID_START), (0xFF00, 0x8000, 0x8000))

    def test_solids_and_overprints_land_on_their_hues(self):
        cases = [
            # name, inks C M Y K, hue range in degrees (low may exceed high across 0)
            ("cyan", (1, 0, 0, 0), 200, 260),
            ("magenta", (0, 1, 0, 0), 330, 10),
            ("yellow", (0, 0, 1, 0), 80, 110),
            ("blue", (1, 1, 0, 0), 270, 320),
            ("red", (0, 1, 1, 0), 20, 60),
            ("green", (1, 0, 1, 0), 120, 180),
        ]
        for name, inks, low, high in cases:
            with self.subTest(name):
                lab = self.lab(*inks)
                h = hue(lab)
                inside = low <= h <= high if low < high else (h >= low or h <= high)
                self.assertTrue(inside, (name, lab, h))
                self.assertGreater(chroma(lab), 30.0, (name, lab))

    def test_blacks(self):
        black = self.lab(0, 0, 0, 1)
        self.assertTrue(15.0 <= black[0] <= 20.0, black)
        self.assertLess(chroma(black), 1.0)
        rich = self.lab(1, 1, 1, 1)
        self.assertLess(rich[0], black[0] - 5.0)
        self.assertLess(chroma(self.lab(1, 1, 1, 0)), 10.0)

    def test_more_ink_never_lightens(self):
        # Along every ink at every other setting: a grid in the wrong order or a sign slip breaks it.
        for index in range(GRID ** 4):
            digits = [(index // GRID ** (3 - i)) % GRID for i in range(4)]
            for ink in range(4):
                if digits[ink] == GRID - 1:
                    continue
                darker = list(digits)
                darker[ink] += 1
                self.assertLessEqual(self.profile.lab(node(*darker))[0], self.profile.lab(index)[0],
                                     (digits, ink))


class GeneratorCheckTest(unittest.TestCase):
    """--check must fail on any difference, or the build's test could not catch a stale file."""

    def run_check(self, data):
        with tempfile.TemporaryDirectory() as folder:
            path = pathlib.Path(folder) / "profile.icc"
            if data is not None:
                path.write_bytes(data)
            return subprocess.run([sys.executable, str(GENERATOR), "--check", str(path)],
                                  capture_output=True, text=True)

    def test_check(self):
        good = PROFILE.read_bytes()
        flipped = bytearray(good)
        flipped[GRID_START + 144] ^= 1
        cases = [
            ("identical", good, 0, ""),
            ("one byte changed", bytes(flipped), 1, "first difference at byte %d" % (144 + GRID_START)),
            ("truncated", good[:-4], 1, "11552 bytes"),
            ("longer", good + b"\0", 1, "11557 bytes"),
            ("missing", None, 1, "cannot read"),
        ]
        for name, data, code, message in cases:
            with self.subTest(name):
                result = self.run_check(data)
                self.assertEqual(result.returncode, code, result.stderr)
                if message:
                    self.assertIn(message, result.stderr)
                else:
                    self.assertEqual(result.stderr, "")


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        PROFILE = pathlib.Path(sys.argv.pop(1))
    unittest.main()
