// The conversion of returned bitmaps into rows: every depth and orientation gives the picture's
// own colours top-down, row padding never leaks in, and a header that announces more than its
// blocks hold is refused before anything is read.
#include "tools/DibRows.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

namespace qorvi::tools {
namespace {

void Put32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = uint8_t(value >> (8 * i));
}

// A header block: biSize bytes of header, then `tail` (colour table or masks).
std::vector<uint8_t> HeaderBlock(int32_t width, int32_t height, uint16_t bits, uint32_t compression,
                                 uint32_t colorsUsed = 0, uint32_t size = 40,
                                 const std::vector<uint8_t>& tail = {}) {
    std::vector<uint8_t> block(size, 0);
    Put32(block, 0, size);
    Put32(block, 4, uint32_t(width));
    Put32(block, 8, uint32_t(height));
    block[12] = 1;  // planes
    block[14] = uint8_t(bits);
    block[15] = uint8_t(bits >> 8);
    Put32(block, 16, compression);
    Put32(block, 32, colorsUsed);
    block.insert(block.end(), tail.begin(), tail.end());
    return block;
}

// The reference picture every layout encodes: a colour per pixel, RGBA.
struct Rgba {
    uint8_t r, g, b, a;
};
Rgba Reference(uint32_t x, uint32_t y) {
    return {uint8_t(x * 40 + y), uint8_t(y * 50), uint8_t(x ^ (y * 3)), uint8_t(x + 7 * y)};
}

// Palette entry i as B, G, R, 0.
std::vector<uint8_t> Palette(uint32_t entries) {
    std::vector<uint8_t> table;
    for (uint32_t i = 0; i < entries; ++i)
        table.insert(table.end(), {uint8_t(255 - i), uint8_t(i * 7), uint8_t(i * 13), 0});
    return table;
}
uint32_t Index(uint32_t x, uint32_t y, uint32_t entries) { return (x * 3 + y * 5) % entries; }

TEST(DibToRows, EveryDepthAndOrientationGivesThePictureTopDown) {
    struct Case {
        uint16_t bits;
        uint32_t compression;
        uint32_t size;        // biSize
        bool masksAfter;      // three standard masks follow a 40-byte header
        uint32_t colorsUsed;  // 0: the full table
    };
    // clang-format off
    const Case cases[] = {
        {1, DibRgb, 40, false, 0},  {4, DibRgb, 40, false, 0},  {4, DibRgb, 40, false, 5},
        {8, DibRgb, 40, false, 0},  {8, DibRgb, 40, false, 17}, {24, DibRgb, 40, false, 0},
        {32, DibRgb, 40, false, 0}, {32, DibBitFields, 40, true, 0},
        {32, DibBitFields, 56, false, 0},  // a V3 header carrying the standard masks
        {8, DibRgb, 108, false, 0},        // a V4 header: the table follows biSize bytes
    };
    // clang-format on
    const uint32_t widths[] = {1, 3, 5, 9, 33};
    for (const Case& c : cases)
        for (uint32_t width : widths)
            for (bool topDown : {false, true}) {
                const uint32_t height = 4;
                SCOPED_TRACE(std::to_string(c.bits) + "-bit, compression " +
                             std::to_string(c.compression) + ", biSize " + std::to_string(c.size) +
                             ", clrUsed " + std::to_string(c.colorsUsed) + ", width " +
                             std::to_string(width) + (topDown ? ", top-down" : ", bottom-up"));
                const uint32_t entries =
                    c.bits <= 8 ? (c.colorsUsed ? c.colorsUsed : 1u << c.bits) : 0;
                std::vector<uint8_t> tail = Palette(entries);
                if (c.masksAfter) tail = {0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0xFF, 0, 0, 0};
                std::vector<uint8_t> header =
                    HeaderBlock(int32_t(width), topDown ? -int32_t(height) : int32_t(height),
                                c.bits, c.compression, c.colorsUsed, c.size, tail);
                if (c.size >= 56 && c.compression == DibBitFields) {
                    Put32(header, 40, 0x00FF0000);
                    Put32(header, 44, 0x0000FF00);
                    Put32(header, 48, 0x000000FF);
                    Put32(header, 52, 0xFF000000);
                }

                const size_t stride = (size_t(width) * c.bits + 31) / 32 * 4;
                // Row padding is garbage a converter must not read as pixels.
                std::vector<uint8_t> bits(stride * height, 0xFF);
                std::vector<uint8_t> expected;
                for (uint32_t y = 0; y < height; ++y) {
                    uint8_t* row = bits.data() + stride * (topDown ? y : height - 1 - y);
                    if (c.bits <= 8) std::memset(row, 0, (size_t(width) * c.bits + 7) / 8);
                    for (uint32_t x = 0; x < width; ++x) {
                        Rgba colour = Reference(x, y);
                        if (c.bits <= 8) {
                            uint32_t index = Index(x, y, entries);
                            uint32_t perByte = 8 / c.bits;
                            row[x / perByte] |= uint8_t(index << (8 - c.bits * (x % perByte + 1)));
                            colour = {tail[4 * index + 2], tail[4 * index + 1], tail[4 * index], 0};
                        } else {
                            uint8_t* p = row + size_t(x) * (c.bits / 8);
                            p[0] = colour.b;
                            p[1] = colour.g;
                            p[2] = colour.r;
                            if (c.bits == 32) p[3] = colour.a;
                        }
                        expected.insert(expected.end(), {colour.r, colour.g, colour.b});
                        if (c.bits == 32) expected.push_back(colour.a);
                    }
                }

                DibImage image;
                std::string why;
                ASSERT_TRUE(
                    DibToRows(header.data(), header.size(), bits.data(), bits.size(), image, why))
                    << why;
                EXPECT_EQ(image.width, width);
                EXPECT_EQ(image.height, height);
                EXPECT_EQ(image.channels, c.bits == 32 ? 4 : 3);
                EXPECT_EQ(image.topDown, topDown);
                EXPECT_FALSE(image.cmyk);
                EXPECT_TRUE(image.pixels == expected) << "pixels differ";
            }
}

TEST(DibToRows, MarkedCmykBecomesNaiveRgbAndOnlyTheFullMarkCounts) {
    const uint8_t cmyk[] = {10, 20, 30, 40, 200, 0, 0, 100, 0, 0, 0, 0, 255, 255, 255, 255};
    const std::vector<uint8_t> bits(cmyk, cmyk + sizeof cmyk);
    struct Case {
        const char* name;
        uint32_t size, compression, alphaMask;
        bool cmyk;
    };
    const Case cases[] = {
        {"the mark", 56, DibBitFields, 0, true},
        {"a longer header", 124, DibBitFields, 0, true},
        {"BI_RGB", 56, DibRgb, 0, false},
        {"a mask set", 56, DibBitFields, 0xFF000000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> header = HeaderBlock(4, 1, 32, c.compression, 0, c.size);
        Put32(header, 52, c.alphaMask);
        if (c.alphaMask) {  // the other three standard masks, so the header is a plain BGRA one
            Put32(header, 40, 0x00FF0000);
            Put32(header, 44, 0x0000FF00);
            Put32(header, 48, 0x000000FF);
        }
        DibImage image;
        std::string why;
        ASSERT_TRUE(DibToRows(header.data(), header.size(), bits.data(), bits.size(), image, why))
            << why;
        EXPECT_EQ(image.cmyk, c.cmyk);
        if (c.cmyk) {
            // R = 255 - min(255, C + K) and alike; ink past 255 saturates to black.
            const std::vector<uint8_t> expected = {205, 195, 185, 0, 155, 155,
                                                   255, 255, 255, 0, 0,   0};
            EXPECT_EQ(image.channels, 3);
            EXPECT_EQ(image.pixels, expected);
        } else {
            EXPECT_EQ(image.channels, 4);
            EXPECT_EQ(image.pixels[0], 30) << "B,G,R,A read as RGBA";
        }
    }
}

TEST(DibToRows, AnIndexPastAShortColourTableIsBlack) {
    std::vector<uint8_t> header = HeaderBlock(2, 1, 8, DibRgb, 1, 40, {1, 2, 3, 0});
    const uint8_t bits[4] = {0, 200, 0, 0};
    DibImage image;
    std::string why;
    ASSERT_TRUE(DibToRows(header.data(), header.size(), bits, sizeof bits, image, why)) << why;
    EXPECT_EQ(image.pixels, (std::vector<uint8_t>{3, 2, 1, 0, 0, 0}));
}

TEST(DibToRows, RefusesHeadersTheBlocksDoNotHold) {
    struct Case {
        const char* name;
        std::vector<uint8_t> header;
        size_t bitsSize;  // the pixel block's LocalSize
        const char* reason;
    };
    std::vector<uint8_t> short39 = HeaderBlock(1, 1, 24, DibRgb);
    short39.pop_back();
    std::vector<uint8_t> claimsMore = HeaderBlock(1, 1, 24, DibRgb);
    Put32(claimsMore, 0, 44);
    const Case cases[] = {
        {"a header block shorter than 40 bytes", short39, 4, "fewer than a BITMAPINFOHEADER"},
        {"biSize beyond the block", claimsMore, 4, "biSize 44"},
        {"biSize below 40",
         [] {
             auto h = HeaderBlock(1, 1, 24, DibRgb);
             Put32(h, 0, 12);
             return h;
         }(),
         4, "biSize 12"},
        {"zero width", HeaderBlock(0, 1, 24, DibRgb), 4, "0 x 1"},
        {"negative width", HeaderBlock(-3, 1, 24, DibRgb), 16, "-3 x 1"},
        {"zero height", HeaderBlock(1, 0, 24, DibRgb), 4, "1 x 0"},
        {"16 bits", HeaderBlock(1, 1, 16, DibRgb), 4, "bit depth 16"},
        {"run-length compression", HeaderBlock(1, 1, 8, 1, 0, 40, Palette(256)), 4,
         "compression 1"},
        {"bit fields at 24 bits",
         HeaderBlock(1, 1, 24, DibBitFields, 0, 40, std::vector<uint8_t>(12)), 4, "compression 3"},
        {"other masks",
         HeaderBlock(1, 1, 32, DibBitFields, 0, 40, {0xFF, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0xFF, 0}),
         4, "masks"},
        {"masks beyond the block", HeaderBlock(1, 1, 32, DibBitFields, 0, 44), 4, "masks"},
        {"more colours than 8 bits index", HeaderBlock(1, 1, 8, DibRgb, 257, 40, Palette(257)), 4,
         "biClrUsed 257"},
        {"a colour table past the block", HeaderBlock(1, 1, 8, DibRgb, 0, 40, Palette(255)), 4,
         "colour table ends at byte 1064"},
        {"a short table past the block", HeaderBlock(1, 1, 4, DibRgb, 3, 40, Palette(2)), 4,
         "colour table"},
        {"a pixel block one byte short", HeaderBlock(3, 2, 24, DibRgb), 23, "needs 24 bytes"},
        {"a top-down pixel block one byte short", HeaderBlock(5, -3, 1, DibRgb, 0, 40, Palette(2)),
         11, "needs 12 bytes"},
        // 65536 x 65536 x 32 bits wraps to 0 in 32 bits; the check is made in 64.
        {"a size that wraps 32 bits", HeaderBlock(65536, 65536, 32, DibRgb), 64,
         "needs 17179869184 bytes"},
        // The lowest biHeight has no 32-bit negation.
        {"the lowest height", HeaderBlock(1, INT32_MIN, 24, DibRgb), 64, "needs 8589934592 bytes"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> bits(c.bitsSize, 0);
        DibImage image;
        image.width = 77;
        std::string why;
        EXPECT_FALSE(
            DibToRows(c.header.data(), c.header.size(), bits.data(), bits.size(), image, why));
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        EXPECT_EQ(image.width, 77u) << "a refusal leaves the image alone";
    }
}

TEST(DibToRows, RefusesAnOutputTooLargeToHoldBeforeReadingPixels) {
    // 20000 x 20000 at 1 bit fits its 50 MB block but would expand to 1.2 GB of RGB.
    std::vector<uint8_t> header = HeaderBlock(20000, 20000, 1, DibRgb, 0, 40, Palette(2));
    const uint8_t pixel = 0;
    DibImage image;
    std::string why;
    EXPECT_FALSE(DibToRows(header.data(), header.size(), &pixel, size_t(2500) * 20000, image, why));
    EXPECT_NE(why.find("too large"), std::string::npos) << why;
}

TEST(DibToRows, ComparedBytesCoverHeaderTableAndAnnouncedPixelsOnly) {
    std::vector<uint8_t> header = HeaderBlock(3, 2, 8, DibRgb, 4, 40, Palette(4));
    header.resize(header.size() + 8, 0xCC);  // LocalSize rounds blocks up
    EXPECT_EQ(DibDescriptionBytes(header.data(), header.size()), 40u + 16u);
    EXPECT_EQ(DibPixelBytes(header.data(), header.size(), 100), 8u);
    EXPECT_EQ(DibPixelBytes(header.data(), header.size(), 5), 5u) << "bounded by the block";
    EXPECT_EQ(DibDescriptionBytes(header.data(), 20), 20u) << "an unreadable header compares whole";
}

}  // namespace
}  // namespace qorvi::tools
