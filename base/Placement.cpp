#include "base/Placement.h"

#include <cstdint>
#include <limits>

namespace qorvi {
namespace {

// One axis: start..end is the window's extent, size the form's, screen the screen's extent.
int PlaceOnAxis(int start, int end, int screen, int size) {
    // Rectangles of any int values (a window far off screen, a size bigger than the screen) must
    // not overflow, so the arithmetic is done in 64 bits and only the result is narrowed.
    const int64_t extent = static_cast<int64_t>(end) - start;
    // C++ integer division truncates toward zero, as the placement rule asks.
    int64_t position = start + (extent - size) / 2;
    if (position + size > screen) position = static_cast<int64_t>(screen) - size;
    if (position < 0) position = 0;
    if (position > std::numeric_limits<int>::max()) position = std::numeric_limits<int>::max();
    return static_cast<int>(position);
}

}  // namespace

PlacementPoint PlaceCentered(const PlacementRect& window, int screenWidth, int screenHeight,
                             int width, int height) {
    return PlacementPoint{PlaceOnAxis(window.left, window.right, screenWidth, width),
                          PlaceOnAxis(window.top, window.bottom, screenHeight, height)};
}

}  // namespace qorvi
