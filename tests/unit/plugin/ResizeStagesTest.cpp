#include "plugin/ResizeStages.h"

#include <gtest/gtest.h>

#include <thread>

namespace qorvi {
namespace {

uint8_t* At(const ImageBuffer& image, int32_t x, int32_t y) {
    const TImageDesc rows = DescribeRows(image);
    return rows.Bits + ptrdiff_t(y) * rows.Stride + ptrdiff_t(x) * rows.BytesPerPixel;
}

// Every pixel says where it came from: x in its first byte, y in its last.
UniqueImage Numbered(int32_t bpp, int32_t width, int32_t height) {
    UniqueImage image = AllocateImage(bpp, width, height);
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x) {
            At(image.get(), x, y)[0] = uint8_t(bpp == 1 ? x * 16 + y : x);
            if (bpp == 3) At(image.get(), x, y)[1] = 0x55, At(image.get(), x, y)[2] = uint8_t(y);
        }
    return image;
}

TEST(NearestNeighborResize, KeepsEveryFactorthPixelOfEveryFactorthRow) {
    struct Case {
        int32_t bpp, width, height, factor, newWidth, newHeight;
    };
    const Case cases[] = {
        {3, 7, 5, 2, 4, 3},  {1, 7, 5, 2, 4, 3},  {3, 9, 9, 4, 3, 3},
        {1, 16, 3, 8, 2, 1}, {3, 5, 12, 8, 1, 2},  // narrower than the factor: one column
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << " x " << c.height << " by " << c.factor
                                        << ", " << c.bpp << " bytes");
        UniqueImage owner = Numbered(c.bpp, c.width, c.height);
        ImageBuffer& image = owner.get();
        ASSERT_TRUE(NearestNeighborResize(image, c.factor));
        ASSERT_EQ(image.Header->biWidth, c.newWidth);
        ASSERT_EQ(image.Header->biHeight, c.newHeight);
        ASSERT_EQ(image.Header->biBitCount, 8 * c.bpp);
        for (int32_t y = 0; y < c.newHeight; ++y)
            for (int32_t x = 0; x < c.newWidth; ++x) {
                const uint8_t* p = At(image, x, y);
                if (c.bpp == 1) {
                    EXPECT_EQ(p[0], uint8_t(x * c.factor * 16 + y * c.factor));
                } else {
                    EXPECT_EQ(p[0], x * c.factor);
                    EXPECT_EQ(p[1], 0x55);
                    EXPECT_EQ(p[2], y * c.factor);
                }
            }
    }
}

TEST(NearestNeighborResize, RefusesWhatItDoesNotHandleAndKeepsTheBuffer) {
    UniqueImage colour = Numbered(4, 8, 8), grey = Numbered(1, 8, 8);
    EXPECT_FALSE(NearestNeighborResize(colour.get(), 2));  // 32 bits
    EXPECT_FALSE(NearestNeighborResize(grey.get(), 3));
    EXPECT_EQ(grey.get().Header->biWidth, 8);
    EXPECT_EQ(colour.get().Header->biWidth, 8);
}

class NormalResizeTest : public testing::Test {
protected:
    void TearDown() override { FreeResizeThreadGroup(); }
    CriticalSection resizeLock;
};

TEST_F(NormalResizeTest, ShrinksIntoTheBoxAsTheResizerDoes) {
    UniqueImage owner = Numbered(3, 40, 30);
    TImageDesc original = DescribeRows(owner.get());
    std::vector<uint8_t> source(original.Bits, original.Bits + size_t(original.Stride) * 30);
    TResizer resizer(2);
    resizer.SetMode(2);
    ASSERT_TRUE(NormalResize(resizer, resizeLock, owner.get(), 19, 10));
    const ImageBuffer& image = owner.get();
    ASSERT_EQ(image.Header->biWidth, 13);  // 40 x 30 fits 19 x 10 as 13 x 10
    ASSERT_EQ(image.Header->biHeight, 10);

    TResizer reference(1);
    reference.SetMode(2);
    std::vector<uint8_t> expected(size_t((13 * 3 + 3) & ~3) * 10);
    TImageDesc desc{source.data(), 40, 30, original.Stride, 3};
    reference.ResizeImage(desc, expected.data(), 13, 10);
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), image.Bits));
}

TEST_F(NormalResizeTest, HandsOverTheNewBufferAndFreesTheLockWhenTheResizeThrows) {
    UniqueImage owner = Numbered(3, 1000, 10);
    // Scratch for so many workers cannot be had: the resize throws before any pass.
    TResizer resizer(1 << 20);
    resizer.SetMode(2);
    EXPECT_THROW(NormalResize(resizer, resizeLock, owner.get(), 500, 500), std::bad_alloc);
    EXPECT_EQ(owner.get().Header->biWidth, 500);
    EXPECT_EQ(owner.get().Header->biHeight, 5);
    bool free = false;
    std::thread([&] {
        free = resizeLock.tryEnter();
        if (free) resizeLock.leave();
    }).join();
    EXPECT_TRUE(free);
}

}  // namespace
}  // namespace qorvi
