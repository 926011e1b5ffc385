// The PNG writer's files decode, with valid CRCs and zlib checksums, to exactly the rows given.
#include "tools/PngWriter.h"

#include "tests/unit/tools/PngReader.h"

#include <gtest/gtest.h>

#include <random>

namespace qorvi::tools {
namespace {

TEST(PngWriter, RoundTripsEveryColourTypeSizeAndStride) {
    struct Case {
        PngColour colour;
        uint32_t width, height;
        size_t padding;  // bytes after each row that must not reach the file
    };
    const Case cases[] = {
        {PngColour::Rgb, 1, 1, 0},
        {PngColour::Rgba, 1, 1, 0},
        {PngColour::Rgb, 7, 5, 3},
        {PngColour::Rgba, 3, 9, 1},
        {PngColour::Rgb, 333, 3, 0},
        // Random pixels do not compress: the stream spans several IDAT chunks.
        {PngColour::Rgba, 700, 100, 5},
    };
    std::mt19937 random(1234);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " channels " +
                     std::to_string(PngChannels(c.colour)) + " padding " +
                     std::to_string(c.padding));
        const size_t rowBytes = size_t(c.width) * PngChannels(c.colour);
        const size_t stride = rowBytes + c.padding;
        std::vector<uint8_t> rows(stride * c.height);
        for (uint8_t& byte : rows) byte = uint8_t(random());
        std::vector<uint8_t> expected;
        for (uint32_t y = 0; y < c.height; ++y)
            expected.insert(expected.end(), rows.begin() + y * stride,
                            rows.begin() + y * stride + rowBytes);

        std::vector<uint8_t> png;
        ASSERT_TRUE(EncodePng(c.width, c.height, c.colour, rows.data(), stride, png));
        test::DecodedPng decoded;
        ASSERT_EQ(test::DecodePng(png, decoded), "");
        EXPECT_EQ(decoded.width, c.width);
        EXPECT_EQ(decoded.height, c.height);
        EXPECT_EQ(decoded.channels, PngChannels(c.colour));
        EXPECT_TRUE(decoded.pixels == expected) << "pixels differ";
        if (rows.size() > 200000) {
            EXPECT_GT(decoded.idatChunks, 1);
        }
    }
}

TEST(PngWriter, RefusesGeometryAPngCannotHold) {
    const uint8_t pixel[8] = {};
    struct Case {
        const char* name;
        uint32_t width, height;
        size_t stride;
        const uint8_t* rows;
    };
    const Case cases[] = {
        {"zero width", 0, 1, 8, pixel},
        {"zero height", 1, 0, 8, pixel},
        {"width beyond 2^31 - 1", 0x80000000u, 1, 8, pixel},
        {"height beyond 2^31 - 1", 1, 0x80000000u, 8, pixel},
        {"stride shorter than a row", 2, 1, 5, pixel},
        {"no rows", 1, 1, 8, nullptr},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> png = {1, 2, 3};
        EXPECT_FALSE(EncodePng(c.width, c.height, PngColour::Rgb, c.rows, c.stride, png)) << c.name;
        EXPECT_TRUE(png.empty()) << c.name;
    }
}

}  // namespace
}  // namespace qorvi::tools
