#include "plugin/RotationStage.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qorvi {
namespace {

int32_t Stride(const ImageBuffer& image) { return DescribeRows(image).Stride; }

// A pixel as displayed, y from the top.
uint8_t* At(ImageBuffer& image, int32_t x, int32_t y) {
    const int32_t bpp = image.Header->biBitCount / 8;
    return image.Bits + size_t(image.Header->biHeight - 1 - y) * Stride(image) + size_t(x) * bpp;
}

// The displayed rows as letters, "c b a; f e d". 24-bit pixels hold a letter in blue and the
// next two letters in green and red, so that a mixed-up channel shows.
std::string Letters(ImageBuffer& image) {
    const int32_t bpp = image.Header->biBitCount / 8;
    std::string text;
    for (int32_t y = 0; y < image.Header->biHeight; ++y) {
        if (y > 0) text += "; ";
        for (int32_t x = 0; x < image.Header->biWidth; ++x) {
            const uint8_t* p = At(image, x, y);
            if (x > 0) text += ' ';
            const bool consistent = bpp == 1 || (p[1] == p[0] + 1 && p[2] == p[0] + 2);
            text += consistent ? char(p[0]) : '?';
        }
    }
    return text;
}

UniqueImage Abcdef(int32_t bpp) {
    UniqueImage image = AllocateImage(bpp, 3, 2);
    const char letters[] = "abcdef";
    for (int i = 0; i < 6; ++i)
        for (int c = 0; c < bpp; ++c) At(image.get(), i % 3, i / 3)[c] = uint8_t(letters[i] + c);
    return image;
}

TEST(ExifRotation, TurnsTheThreeByTwoPictureUprightForEveryOrientation) {
    const char* const expected[] = {"c b a; f e d",  "f e d; c b a",  "d e f; a b c",
                                    "a d; b e; c f", "d a; e b; f c", "f c; e b; d a",
                                    "c f; b e; a d"};
    for (int32_t bpp : {1, 3})
        for (int32_t orientation = 2; orientation <= 8; ++orientation) {
            UniqueImage image = Abcdef(bpp);
            ASSERT_TRUE(ExifRotation(image.get(), orientation));
            EXPECT_EQ(Letters(image.get()), expected[orientation - 2])
                << "orientation " << orientation << ", " << 8 * bpp << " bits";
        }
}

TEST(ExifRotation, QuarterTurnsMakeAFreshBufferWithZeroFillAndNoColours) {
    UniqueImage owner = Abcdef(3);
    ImageBuffer& colour = owner.get();
    ASSERT_TRUE(ExifRotation(colour, 6));
    EXPECT_EQ(colour.Header->biWidth, 2);
    EXPECT_EQ(colour.Header->biHeight, 3);
    EXPECT_EQ(Stride(colour), 8);
    EXPECT_EQ(colour.Header->biSizeImage, 24u);
    for (int32_t row = 0; row < 3; ++row)
        EXPECT_EQ(colour.Bits[row * 8 + 6] | colour.Bits[row * 8 + 7], 0) << row;

    UniqueImage indexedOwner = Abcdef(1);
    ImageBuffer& indexed = indexedOwner.get();
    auto* table = reinterpret_cast<uint8_t*>(indexed.Header) + 40;
    std::memset(table, 0x5A, 1024);
    ASSERT_TRUE(ExifRotation(indexed, 8));
    EXPECT_EQ(indexed.Header->biClrUsed, 256u);
    const auto* turned = reinterpret_cast<const uint8_t*>(indexed.Header) + 40;
    EXPECT_EQ(std::vector<uint8_t>(turned, turned + 1024), std::vector<uint8_t>(1024, 0));
}

TEST(ExifRotation, LeavesOtherOrientationsAndDepthsAsTheyAre) {
    for (int32_t orientation : {0, 1, 9, -1, 2, 5, 6}) {
        // 1 x 1 for every orientation: a quarter turn still makes a new buffer.
        UniqueImage owner = AllocateImage(3, 1, 1);
        ImageBuffer& single = owner.get();
        At(single, 0, 0)[0] = 7;
        const HLOCAL before = single.BitsHandle;
        ASSERT_TRUE(ExifRotation(single, orientation));
        EXPECT_EQ(At(single, 0, 0)[0], 7);
        EXPECT_EQ(single.BitsHandle != before, orientation == 5 || orientation == 6) << orientation;
    }
    for (int32_t orientation : {0, 1, 9, -1}) {
        UniqueImage image = Abcdef(3);
        ASSERT_TRUE(ExifRotation(image.get(), orientation));
        EXPECT_EQ(Letters(image.get()), "a b c; d e f") << orientation;
    }
    for (WORD bits : {32, 16, 4, 1}) {
        UniqueImage owner = AllocateImage(4, 3, 2);
        ImageBuffer& image = owner.get();
        image.Header->biBitCount = bits;
        for (int i = 0; i < 24; ++i) image.Bits[i] = uint8_t(i + 1);
        const std::vector<uint8_t> before(image.Bits, image.Bits + 24);
        for (int32_t orientation = 2; orientation <= 8; ++orientation) {
            const HLOCAL handle = image.BitsHandle;
            ASSERT_TRUE(ExifRotation(image, orientation));
            EXPECT_EQ(image.BitsHandle, handle);
            EXPECT_EQ(std::vector<uint8_t>(image.Bits, image.Bits + 24), before)
                << bits << " bits, orientation " << orientation;
        }
    }
}

}  // namespace
}  // namespace qorvi
