#include "geometry/OutputSize.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace qorvi {
namespace {

struct FitCase {
    int32_t width, height, maxWidth, maxHeight;
    int32_t fittedWidth, fittedHeight;
};

TEST(FitToBox, FitsTheBoxOnOneSideAndRoundsTheOtherHalfUp) {
    const FitCase cases[] = {
        {4000, 3000, 1920, 1080, 1440, 1080},  // height-bound
        {3000, 1000, 1920, 1080, 1920, 640},   // width-bound
        {5, 2, 10, 1, 3, 1},                   // 2.5 rounds up
        {1000, 1, 100, 100, 100, 1},           // 0.1 becomes the minimum 1
        {1, 1000, 100, 100, 1, 100},
        {1920, 1080, 1920, 1080, 1920, 1080},  // exactly the box
        {800, 600, 1920, 1080, 800, 600},      // inside: never enlarged
        {4000, 3000, 160, 160, 160, 120},
        {3000, 4000, 160, 160, 120, 160},
        {4000, 3000, 0, 0, 1, 1},  // an empty box still gives a picture
        {0, 0, 100, 100, 1, 1},
        {-5, 10, 100, 5, 1, 5},  // a side below 1 counts as 1
        // Products beyond 32 bits: 100000 * 100000 would wrap round.
        {100000, 50000, 100000, 40000, 80000, 40000},
        {3, 1, 2, 2147483647, 2, 1},
    };
    for (const FitCase& c : cases) {
        int32_t width = c.width, height = c.height;
        FitToBox(width, height, c.maxWidth, c.maxHeight);
        EXPECT_EQ(width, c.fittedWidth)
            << c.width << "x" << c.height << " into " << c.maxWidth << "x" << c.maxHeight;
        EXPECT_EQ(height, c.fittedHeight)
            << c.width << "x" << c.height << " into " << c.maxWidth << "x" << c.maxHeight;
    }
}

}  // namespace
}  // namespace qorvi
