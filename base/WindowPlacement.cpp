#include "base/WindowPlacement.h"

#include "base/Placement.h"

namespace qorvi {

POINT CenterOverWindow(HWND window, int width, int height) {
    RECT rect{};
    GetWindowRect(window, &rect);
    const PlacementPoint p =
        PlaceCentered(PlacementRect{rect.left, rect.top, rect.right, rect.bottom},
                      GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), width, height);
    return POINT{p.left, p.top};
}

}  // namespace qorvi
