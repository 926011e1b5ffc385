#include "base/Placement.h"

#include <gtest/gtest.h>

#include <limits>

namespace qorvi {
namespace {

struct PlacementCase {
    const char* name;
    PlacementRect window;
    int screenWidth, screenHeight;
    int width, height;
    PlacementPoint expected;
};

TEST(Placement, PlaceCentered) {
    constexpr int kMax = std::numeric_limits<int>::max();
    constexpr int kMin = std::numeric_limits<int>::min();
    // clang-format off
    const PlacementCase cases[] = {
        {"centred", {100, 100, 500, 400}, 1920, 1080, 200, 100, {200, 200}},
        // (401 - 200) / 2 = 100.5 and (301 - 100) / 2 = 100.5: truncated to 100.
        {"odd differences truncate", {0, 0, 401, 301}, 1920, 1080, 200, 100, {100, 100}},
        // A form wider than the window: (100 - 301) / 2 = -100.5 truncates toward zero to -100,
        // not down to -101.
        {"negative difference truncates toward zero", {500, 500, 600, 600}, 1920, 1080, 301, 301,
         {400, 400}},
        // Window partly off the left/top edge: the centre is negative and becomes 0.
        {"negative coordinates clamp to zero", {-300, -300, -100, -100}, 1920, 1080, 100, 100,
         {0, 0}},
        {"negative window still centred when on screen", {-100, -100, 500, 500}, 1920, 1080, 100,
         100, {150, 150}},
        {"shifted at the right edge", {1800, 100, 1920, 200}, 1920, 1080, 300, 50, {1620, 125}},
        {"shifted at the bottom edge", {100, 1000, 200, 1080}, 1920, 1080, 50, 300, {125, 780}},
        {"ends exactly at the edge is kept", {1720, 0, 1920, 100}, 1920, 1080, 200, 100,
         {1720, 0}},
        {"larger than the screen goes to 0", {0, 0, 1920, 1080}, 1920, 1080, 2500, 1500, {0, 0}},
        {"extreme rectangle does not overflow", {kMin, kMin, kMax, kMax}, 1920, 1080, 100, 100,
         {0, 0}},
        {"far right window does not overflow", {kMax - 10, kMax - 10, kMax, kMax}, 1920, 1080,
         100, 100, {1820, 980}},
    };
    // clang-format on
    for (const PlacementCase& c : cases) {
        SCOPED_TRACE(c.name);
        PlacementPoint p =
            PlaceCentered(c.window, c.screenWidth, c.screenHeight, c.width, c.height);
        EXPECT_EQ(p.left, c.expected.left);
        EXPECT_EQ(p.top, c.expected.top);
    }
}

}  // namespace
}  // namespace qorvi
