#include "plugin/PixelKernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

namespace qorvi {
namespace {

TEST(BitmapLayout, StridesAndBlocksStayWithinTheBound) {
    struct StrideCase {
        int32_t width, bitCount;
        std::optional<uint32_t> stride;
    };
    // clang-format off
    const StrideCase strides[] = {
        {1, 1, 4}, {33, 1, 8}, {5, 8, 8}, {3, 24, 12}, {3, 32, 12}, {1, 4, 4}, {9, 4, 8},
        {0, 24, std::nullopt}, {-1, 8, std::nullopt}, {4, 0, std::nullopt}, {4, 33, std::nullopt},
        {0x1FFFFFFF, 32, 0x7FFFFFFCu},
        {0x20000000, 32, std::nullopt},  // 2^31 bytes: one past the bound
        {INT32_MAX, 32, std::nullopt},   // 8 GiB: a 32-bit product would have wrapped
    };
    // clang-format on
    for (const StrideCase& c : strides)
        EXPECT_EQ(RowStride(c.width, c.bitCount), c.stride) << c.width << " x " << c.bitCount;

    // Blocks: within 2 GiB - 1 in a 32-bit process, 2^63 - 1 in a 64-bit one.
    const bool wide = sizeof(void*) == 8;
    EXPECT_EQ(PixelBlockBytes(0x10000, 0x7FFF), 0x7FFF0000u);
    EXPECT_EQ(PixelBlockBytes(0x10000, 0x8000),
              wide ? std::optional<size_t>(0x80000000u) : std::nullopt);
    EXPECT_EQ(PixelBlockBytes(120000, 20000),  // 2.4 GB
              wide ? std::optional<size_t>(2400000000u) : std::nullopt);
    EXPECT_EQ(PixelBlockBytes(0x7FFFFFFC, 0xFFFFFFFF),  // wraps in 32 bits
              wide ? std::optional<size_t>(uint64_t(0x7FFFFFFC) * 0xFFFFFFFF) : std::nullopt);
    EXPECT_EQ(PixelBlockBytes(0x7FFFFFFC, uint64_t(1) << 33), std::nullopt);  // past 2^63
    EXPECT_EQ(PixelBlockBytes(4, UINT64_MAX), std::nullopt);                  // wraps in 64 bits
}

TEST(BitmapLayout, PaletteCountsFollowTheDepth) {
    struct CountCase {
        int32_t bitCount;
        uint32_t clrUsed;
        int32_t count;
    };
    const CountCase cases[] = {{1, 0, 2},   {4, 0, 16},   {8, 0, 256},   {2, 0, 0},
                               {8, 16, 16}, {4, 3, 3},    {8, 300, 256}, {8, 0xFFFFFFFF, 256},
                               {16, 5, 0},  {24, 256, 0}, {32, 0, 0}};
    for (const CountCase& c : cases)
        EXPECT_EQ(PaletteEntryCount(c.bitCount, c.clrUsed), c.count)
            << c.bitCount << " bits, clrUsed " << c.clrUsed;
}

TEST(BitmapLayout, OnlyTheExactGreyRampIsGreyWhateverItsReservedBytes) {
    std::vector<uint8_t> table(256 * 4);
    for (int i = 0; i < 256; ++i) table[4 * i] = table[4 * i + 1] = table[4 * i + 2] = uint8_t(i);
    EXPECT_TRUE(IsGrayscaleTable(table.data()));
    std::vector<uint8_t> reserved = table;
    for (int i = 0; i < 256; ++i) reserved[4 * i + 3] = uint8_t(0xCD ^ i);  // left uninitialised
    EXPECT_TRUE(IsGrayscaleTable(reserved.data()));
    std::vector<uint8_t> tinted = table;
    tinted[4 * 255 + 2] = 254;  // red of the last entry
    EXPECT_FALSE(IsGrayscaleTable(tinted.data()));
}

constexpr uint32_t White = 0xFFFFFF, Grey = 0xAAAAAA;

struct Composited {
    int32_t width, height, stride;
    std::vector<uint8_t> rows;
    const uint8_t* At(int32_t x, int32_t y) const { return &rows[size_t(y) * stride + 3 * x]; }
};

// Composites a picture whose every pixel is (blue, green, red, alpha) into rows prefilled with
// 0xEE, so that a write to a fill byte shows.
Composited Composite(int32_t width, int32_t height, const uint8_t pixel[4], uint32_t colour1,
                     uint32_t colour2, int32_t squareSize) {
    std::vector<uint8_t> source;
    for (int32_t i = 0; i < width * height; ++i) source.insert(source.end(), pixel, pixel + 4);
    Composited out{width, height, (width * 3 + 3) & ~3, {}};
    out.rows.assign(size_t(out.stride) * height, 0xEE);
    CompositeOverChecker(source.data(), out.rows.data(), out.stride, width, height, colour1,
                         colour2, squareSize);
    return out;
}

TEST(CompositeOverChecker, OpaquePixelsKeepTheirColoursAndFillBytesAreNotWritten) {
    const uint8_t opaque[4] = {10, 20, 30, 255};
    const Composited out = Composite(5, 3, opaque, White, Grey, 8);
    for (int32_t y = 0; y < 3; ++y) {
        for (int32_t x = 0; x < 5; ++x) {
            EXPECT_EQ(out.At(x, y)[0], 10);
            EXPECT_EQ(out.At(x, y)[1], 20);
            EXPECT_EQ(out.At(x, y)[2], 30);
        }
        EXPECT_EQ(out.rows[size_t(y) * out.stride + 15], 0xEE) << "fill byte of row " << y;
    }
}

TEST(CompositeOverChecker, TransparentPixelsShowSquaresStartingWithTheFirstColour) {
    const uint8_t clear[4] = {1, 2, 3, 0};
    const uint32_t colour1 = 0x332211, colour2 = 0x665544;  // blue 0x33, green 0x22, red 0x11
    for (int32_t side : {8, 16}) {
        const Composited out = Composite(100, 100, clear, colour1, colour2, side);
        for (int32_t y = 0; y < 100; ++y)
            for (int32_t x = 0; x < 100; ++x) {
                const bool first = (x / side + y / side) % 2 == 0;
                const uint8_t* p = out.At(x, y);
                ASSERT_EQ(p[0], first ? 0x33 : 0x66) << side << ": " << x << "," << y;
                ASSERT_EQ(p[1], first ? 0x22 : 0x55);
                ASSERT_EQ(p[2], first ? 0x11 : 0x44);
            }
    }
}

TEST(CompositeOverChecker, PartialAlphaRoundsTheBlendToNearest) {
    const uint8_t black[4] = {0, 0, 0, 128};
    EXPECT_EQ(Composite(1, 1, black, 0xFFFFFF, 0xFFFFFF, 8).At(0, 0)[0], 127);
    const uint8_t white[4] = {255, 255, 255, 1};
    EXPECT_EQ(Composite(1, 1, white, 0, 0, 8).At(0, 0)[2], 1);
    // Against the exact quotient, over every source, background and alpha of one channel.
    for (uint32_t a = 1; a < 255; a += 2)
        for (uint32_t s = 0; s < 256; s += 5)
            for (uint32_t b = 0; b < 256; b += 15) {
                const uint8_t pixel[4] = {uint8_t(s), 0, 0, uint8_t(a)};
                const uint32_t exact = (s * a + b * (255 - a) + 127) / 255;
                ASSERT_EQ(Composite(1, 1, pixel, b << 16, b << 16, 8).At(0, 0)[0], exact)
                    << s << " over " << b << " at " << a;
            }
}

}  // namespace
}  // namespace qorvi
