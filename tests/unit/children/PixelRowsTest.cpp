// The platform-free half of wicdec.spi: signatures, size bounds and row conversion.
#include "children/PixelRows.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace qorvi::wicdec {
namespace {

// The bytes in a heap block of exactly their size, so that a read past the end shows under ASan.
std::unique_ptr<uint8_t[]> Exact(const std::string& bytes) {
    auto block = std::make_unique<uint8_t[]>(bytes.size() ? bytes.size() : 1);
    std::memcpy(block.get(), bytes.data(), bytes.size());
    return block;
}

TEST(DetectFormat, SignaturesAndTheirPrefixes) {
    struct Case {
        std::string head;
        ImageFormat format;
    };
    const Case cases[] = {
        {std::string("\xFF\xD8\xFF", 3), ImageFormat::Jpeg},
        {std::string("\x89PNG\r\n\x1A\n", 8), ImageFormat::Png},
        {std::string("II*\0", 4), ImageFormat::Tiff},
        {std::string("MM\0*", 4), ImageFormat::Tiff},
        {"BM", ImageFormat::Bmp},
        {"GIF87a", ImageFormat::Gif},
        {"GIF89a", ImageFormat::Gif},
    };
    for (const Case& c : cases) {
        // The whole signature, and the signature followed by more bytes, are recognised.
        EXPECT_EQ(DetectFormat(Exact(c.head).get(), c.head.size()), c.format) << c.head;
        const std::string longer = c.head + std::string(16, 'x');
        EXPECT_EQ(DetectFormat(Exact(longer).get(), longer.size()), c.format) << c.head;
        // Every shorter prefix is too short to tell, and is read only within its size.
        for (size_t cut = 0; cut < c.head.size(); ++cut)
            EXPECT_EQ(DetectFormat(Exact(c.head.substr(0, cut)).get(), cut), ImageFormat::Unknown)
                << c.head << " cut at " << cut;
    }
}

TEST(DetectFormat, NearMissesAreUnknown) {
    // clang-format off
    const std::string misses[] = {
        std::string("\xFF\xD8\x00", 3),        // JPEG without a marker after SOI
        std::string("\x89PNG\r\n\x1A\x0B", 8),  // last signature byte wrong
        std::string("II\0*", 4),               // little-endian mark with big-endian magic
        std::string("MM*\0", 4),
        "bm", "GIF88a", "GIF89", "QVT1",
    };
    // clang-format on
    for (const std::string& miss : misses)
        EXPECT_EQ(DetectFormat(Exact(miss).get(), miss.size()), ImageFormat::Unknown) << miss;
    EXPECT_EQ(DetectFormat(nullptr, 100), ImageFormat::Unknown);
}

TEST(PlanRows, StridesArePaddedAndBoundsHold) {
    struct Case {
        uint32_t width, rows;
        unsigned bits;
        uint64_t limit;
        bool ok;
        size_t stride, bytes;
    };
    const Case cases[] = {
        {1, 1, 24, MaxPixelBytes, true, 4, 4},
        {3, 2, 24, MaxPixelBytes, true, 12, 24},
        {5, 3, 8, MaxPixelBytes, true, 8, 24},
        {9, 1, 1, MaxPixelBytes, true, 4, 4},
        {33, 1, 1, MaxPixelBytes, true, 8, 8},
        {7, 1, 64, MaxPixelBytes, true, 56, 56},
        {0, 5, 24, MaxPixelBytes, false, 0, 0},
        {5, 0, 24, MaxPixelBytes, false, 0, 0},
        // 40000 x 40000 x 4 is 6.4e9: wraps in 32 bits, refused in 64.
        {40000, 40000, 32, MaxPixelBytes, false, 0, 0},
        // A product that wraps 64-bit arithmetic done carelessly (stride 2^33, 2^31 rows).
        {MaxSide, MaxSide, 32, MaxPixelBytes, false, 0, 0},
        {MaxSide + 1u, 1, 8, UINT64_MAX, false, 0, 0},
        {16384, 16384, 32, MaxPixelBytes, true, 65536, size_t(1) << 30},
        {16384, 16385, 32, MaxPixelBytes, false, 0, 0},
    };
    for (const Case& c : cases) {
        RowPlan plan{123, 456};
        EXPECT_EQ(PlanRows(c.width, c.rows, c.bits, c.limit, plan), c.ok)
            << c.width << "x" << c.rows << "x" << c.bits;
        if (c.ok) {
            EXPECT_EQ(plan.stride, c.stride);
            EXPECT_EQ(plan.bytes, c.bytes);
        } else {
            EXPECT_EQ(plan.stride, 123u);  // unchanged on refusal
            EXPECT_EQ(plan.bytes, 456u);
        }
    }
}

TEST(ChooseDelivery, DepthFollowsTheSource) {
    struct Case {
        SourceLayout layout;
        bool transparentPalette, cmykWanted;
        Delivery delivery;
    };
    const Case cases[] = {
        {SourceLayout::Bgr24, false, false, Delivery::Bgr24},
        {SourceLayout::Bgrx32, false, true, Delivery::Bgr24},
        {SourceLayout::Rgba32, false, false, Delivery::Bgra32},
        {SourceLayout::Rgba64, false, false, Delivery::Bgra32},
        {SourceLayout::Rgb48, false, false, Delivery::Bgr24},
        {SourceLayout::Gray1, false, false, Delivery::Gray8},
        {SourceLayout::Gray16, false, false, Delivery::Gray8},
        {SourceLayout::Indexed4, false, false, Delivery::Indexed8},
        {SourceLayout::Indexed8, true, false, Delivery::Bgra32},
        {SourceLayout::Cmyk32, false, false, Delivery::Bgr24},
        {SourceLayout::Cmyk32, false, true, Delivery::Cmyk32},
        {SourceLayout::Cmyk64, false, true, Delivery::Cmyk32},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ChooseDelivery(c.layout, c.transparentPalette, c.cmykWanted), c.delivery)
            << int(c.layout) << " " << c.transparentPalette << c.cmykWanted;
}

std::vector<uint8_t> Converted(SourceLayout layout, Delivery delivery,
                               const std::vector<uint8_t>& source, uint32_t width,
                               std::vector<uint32_t> palette = {},
                               std::vector<uint8_t>* table = nullptr) {
    RowConverter converter(layout, delivery, std::move(palette));
    // The source in a block of its exact size, so reading past it shows under ASan.
    auto exact = Exact(std::string(source.begin(), source.end()));
    std::vector<uint8_t> target(size_t(width) * DeliveryBits(delivery) / 8, 0xEE);
    converter.Convert(exact.get(), target.data(), width);
    if (table) *table = converter.ColourTable();
    return target;
}

TEST(RowConverter, ColourLayouts) {
    struct Case {
        const char* name;
        SourceLayout layout;
        Delivery delivery;
        std::vector<uint8_t> source;
        uint32_t width;
        std::vector<uint8_t> expected;
    };
    // clang-format off
    const Case cases[] = {
        {"bgr24", SourceLayout::Bgr24, Delivery::Bgr24, {1, 2, 3, 4, 5, 6}, 2, {1, 2, 3, 4, 5, 6}},
        {"rgb24", SourceLayout::Rgb24, Delivery::Bgr24, {1, 2, 3, 4, 5, 6}, 2, {3, 2, 1, 6, 5, 4}},
        {"bgrx32", SourceLayout::Bgrx32, Delivery::Bgr24,
         {1, 2, 3, 9, 4, 5, 6, 9}, 2, {1, 2, 3, 4, 5, 6}},
        {"bgra32", SourceLayout::Bgra32, Delivery::Bgra32, {1, 2, 3, 7}, 1, {1, 2, 3, 7}},
        {"rgba32", SourceLayout::Rgba32, Delivery::Bgra32, {1, 2, 3, 7}, 1, {3, 2, 1, 7}},
        // Little-endian 16-bit words, high byte second: 0x12B0 is 19 in 8 bits, not 0xB0.
        {"rgb48", SourceLayout::Rgb48, Delivery::Bgr24,
         {0xB0, 0x12, 0x06, 0x81, 0x4F, 0xCD}, 1, {205, 129, 19}},
        {"bgr48", SourceLayout::Bgr48, Delivery::Bgr24,
         {0xFF, 0xFF, 0, 0, 0x80, 0x80}, 1, {255, 0, 128}},
        {"rgba64", SourceLayout::Rgba64, Delivery::Bgra32,
         {0, 0, 0xFF, 0xFF, 0, 0, 0x7F, 0x7F}, 1, {0, 255, 0, 127}},
        {"bgra64", SourceLayout::Bgra64, Delivery::Bgra32,
         {0xFF, 0xFF, 0, 0, 0, 0, 0x40, 0x40}, 1, {255, 0, 0, 64}},
        // The CMYK agreement: C, M, Y, K bytes pass through in that order, not inverted.
        {"cmyk32 marked", SourceLayout::Cmyk32, Delivery::Cmyk32,
         {255, 0, 10, 20}, 1, {255, 0, 10, 20}},
        {"cmyk64 marked", SourceLayout::Cmyk64, Delivery::Cmyk32,
         {0, 0, 0xFF, 0xFF, 0, 0, 0, 0x80}, 1, {0, 255, 0, 128}},
        // Without CMYK: pure cyan is (R,G,B) = (0,255,255), full black (0,0,0), no ink white.
        {"cmyk32 as rgb", SourceLayout::Cmyk32, Delivery::Bgr24,
         {255, 0, 0, 0, 0, 0, 0, 255, 0, 0, 0, 0}, 3, {255, 255, 0, 0, 0, 0, 255, 255, 255}},
        {"gray8", SourceLayout::Gray8, Delivery::Gray8, {0, 77, 255}, 3, {0, 77, 255}},
        {"gray16", SourceLayout::Gray16, Delivery::Gray8, {0xFF, 0x00, 0x00, 0xFF}, 2, {1, 254}},
        {"gray1", SourceLayout::Gray1, Delivery::Gray8, {0b10100000}, 3, {255, 0, 255}},
        {"gray2", SourceLayout::Gray2, Delivery::Gray8, {0b00011011}, 4, {0, 85, 170, 255}},
        {"gray4", SourceLayout::Gray4, Delivery::Gray8, {0xF1, 0x80}, 3, {255, 17, 136}},
    };
    // clang-format on
    for (const Case& c : cases)
        EXPECT_EQ(Converted(c.layout, c.delivery, c.source, c.width), c.expected) << c.name;
}

TEST(RowConverter, IndexedRowsUnpackHighBitsFirst) {
    const std::vector<uint32_t> palette(256, 0xFF000000u);
    EXPECT_EQ(Converted(SourceLayout::Indexed1, Delivery::Indexed8, {0b10110000, 0x80}, 9, palette),
              (std::vector<uint8_t>{1, 0, 1, 1, 0, 0, 0, 0, 1}));
    EXPECT_EQ(
        Converted(SourceLayout::Indexed2, Delivery::Indexed8, {0b11100100, 0b01000000}, 5, palette),
        (std::vector<uint8_t>{3, 2, 1, 0, 1}));
    EXPECT_EQ(Converted(SourceLayout::Indexed4, Delivery::Indexed8, {0x3C, 0x70}, 3, palette),
              (std::vector<uint8_t>{3, 12, 7}));
    EXPECT_EQ(Converted(SourceLayout::Indexed8, Delivery::Indexed8, {9, 200}, 2, palette),
              (std::vector<uint8_t>{9, 200}));
}

TEST(RowConverter, TransparentPaletteBecomesBgra) {
    const std::vector<uint32_t> palette = {0xFF102030u, 0x00405060u};
    // Index 5 lies beyond the palette: opaque black, never a read past it.
    EXPECT_EQ(
        Converted(SourceLayout::Indexed8, Delivery::Bgra32, {1, 0, 5}, 3, palette),
        (std::vector<uint8_t>{0x60, 0x50, 0x40, 0x00, 0x30, 0x20, 0x10, 0xFF, 0, 0, 0, 0xFF}));
}

TEST(RowConverter, ColourTables) {
    std::vector<uint8_t> table;
    // The file's palette as RGBQUADs.
    Converted(SourceLayout::Indexed8, Delivery::Indexed8, {0, 1}, 2, {0xFF112233u, 0x80445566u},
              &table);
    EXPECT_EQ(table, (std::vector<uint8_t>{0x33, 0x22, 0x11, 0, 0x66, 0x55, 0x44, 0}));
    // A row using an index beyond the palette lengthens the table with black up to that index,
    // so a host looking the index up stays inside the table.
    Converted(SourceLayout::Indexed4, Delivery::Indexed8, {0x05}, 2, {0xFF112233u}, &table);
    ASSERT_EQ(table.size(), 6u * 4);
    EXPECT_EQ(std::vector<uint8_t>(table.begin() + 4, table.end()), std::vector<uint8_t>(20, 0));
    // Grey pictures get 256 greys.
    Converted(SourceLayout::Gray8, Delivery::Gray8, {7}, 1, {}, &table);
    ASSERT_EQ(table.size(), 256u * 4);
    EXPECT_EQ(table[77 * 4], 77);
    EXPECT_EQ(table[77 * 4 + 2], 77);
    EXPECT_EQ(table[77 * 4 + 3], 0);
    // Direct colour has none.
    Converted(SourceLayout::Bgr24, Delivery::Bgr24, {1, 2, 3}, 1, {}, &table);
    EXPECT_TRUE(table.empty());
}

}  // namespace
}  // namespace qorvi::wicdec
