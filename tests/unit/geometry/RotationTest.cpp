#include "geometry/Rotation.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qorvi {
namespace {

// Releases a test's buffer, whatever the rotation made of it.
struct HeldImage {
    ImageBuffer buffer;
    explicit HeldImage(UniqueImage image) : buffer(image.release()) {}
    ~HeldImage() { ReleaseImage(buffer); }
    const BITMAPINFOHEADER& Header() const { return *buffer.Header; }
    int32_t Stride() const { return DescribeRows(buffer).Stride; }
    uint8_t* At(int32_t x, int32_t y) {  // as displayed, y from the top
        const int32_t bpp = Header().biBitCount / 8;
        return buffer.Bits + size_t(Header().biHeight - 1 - y) * Stride() + size_t(x) * bpp;
    }
};

// The displayed rows as letters, "c b a; f e d". 24-bit pixels hold a letter in blue and the
// next two letters in green and red, so that a mixed-up channel shows.
std::string Letters(HeldImage& image) {
    const int32_t bpp = image.Header().biBitCount / 8;
    std::string text;
    for (int32_t y = 0; y < image.Header().biHeight; ++y) {
        if (y > 0) text += "; ";
        for (int32_t x = 0; x < image.Header().biWidth; ++x) {
            const uint8_t* p = image.At(x, y);
            if (x > 0) text += ' ';
            const bool consistent = bpp == 1 || (p[1] == p[0] + 1 && p[2] == p[0] + 2);
            text += consistent ? char(p[0]) : '?';
        }
    }
    return text;
}

HeldImage Abcdef(int32_t bpp) {
    HeldImage image(AllocateImage(bpp, 3, 2));
    const char letters[] = "abcdef";
    for (int i = 0; i < 6; ++i)
        for (int c = 0; c < bpp; ++c) image.At(i % 3, i / 3)[c] = uint8_t(letters[i] + c);
    return image;
}

TEST(ExifRotation, TurnsTheThreeByTwoPictureUprightForEveryOrientation) {
    const char* const expected[] = {
        "c b a; f e d", "f e d; c b a", "d e f; a b c", "a d; b e; c f",
        "d a; e b; f c", "f c; e b; d a", "c f; b e; a d"};
    for (int32_t bpp : {1, 3})
        for (int32_t orientation = 2; orientation <= 8; ++orientation) {
            HeldImage image = Abcdef(bpp);
            ASSERT_TRUE(ExifRotation(image.buffer, orientation));
            EXPECT_EQ(Letters(image), expected[orientation - 2])
                << "orientation " << orientation << ", " << 8 * bpp << " bits";
        }
}

TEST(ExifRotation, QuarterTurnsMakeAFreshBufferWithZeroFillAndNoColours) {
    HeldImage colour = Abcdef(3);
    ASSERT_TRUE(ExifRotation(colour.buffer, 6));
    EXPECT_EQ(colour.Header().biWidth, 2);
    EXPECT_EQ(colour.Header().biHeight, 3);
    EXPECT_EQ(colour.Stride(), 8);
    EXPECT_EQ(colour.Header().biSizeImage, 24u);
    for (int32_t row = 0; row < 3; ++row)
        EXPECT_EQ(colour.buffer.Bits[row * 8 + 6] | colour.buffer.Bits[row * 8 + 7], 0) << row;

    HeldImage indexed = Abcdef(1);
    auto* table = reinterpret_cast<uint8_t*>(indexed.buffer.Header) + 40;
    std::memset(table, 0x5A, 1024);
    ASSERT_TRUE(ExifRotation(indexed.buffer, 8));
    EXPECT_EQ(indexed.Header().biClrUsed, 256u);
    const auto* turned = reinterpret_cast<const uint8_t*>(indexed.buffer.Header) + 40;
    EXPECT_EQ(std::vector<uint8_t>(turned, turned + 1024), std::vector<uint8_t>(1024, 0));
}

TEST(ExifRotation, LeavesOtherOrientationsAndDepthsAsTheyAre) {
    for (int32_t orientation : {0, 1, 9, -1, 2, 5, 6}) {
        // 1 x 1 for every orientation: a quarter turn still makes a new buffer.
        HeldImage single(AllocateImage(3, 1, 1));
        single.At(0, 0)[0] = 7;
        const HLOCAL before = single.buffer.BitsHandle;
        ASSERT_TRUE(ExifRotation(single.buffer, orientation));
        EXPECT_EQ(single.At(0, 0)[0], 7);
        EXPECT_EQ(single.buffer.BitsHandle != before, orientation == 5 || orientation == 6)
            << orientation;
    }
    for (int32_t orientation : {0, 1, 9, -1}) {
        HeldImage image = Abcdef(3);
        ASSERT_TRUE(ExifRotation(image.buffer, orientation));
        EXPECT_EQ(Letters(image), "a b c; d e f") << orientation;
    }
    for (WORD bits : {32, 16, 4, 1}) {
        HeldImage image(AllocateImage(4, 3, 2));
        image.buffer.Header->biBitCount = bits;
        for (int i = 0; i < 24; ++i) image.buffer.Bits[i] = uint8_t(i + 1);
        const std::vector<uint8_t> before(image.buffer.Bits, image.buffer.Bits + 24);
        for (int32_t orientation = 2; orientation <= 8; ++orientation) {
            const HLOCAL handle = image.buffer.BitsHandle;
            ASSERT_TRUE(ExifRotation(image.buffer, orientation));
            EXPECT_EQ(image.buffer.BitsHandle, handle);
            EXPECT_EQ(std::vector<uint8_t>(image.buffer.Bits, image.buffer.Bits + 24), before)
                << bits << " bits, orientation " << orientation;
        }
    }
}

}  // namespace
}  // namespace qorvi
