// Window placement arithmetic, free of the platform: where a form of a given size goes when it is
// centred over another window and kept on the primary screen. CenterOverWindow (WindowPlacement.h)
// takes the window's rectangle and the screen's size from Windows and asks PlaceCentered.
#pragma once

namespace qorvi {

struct PlacementRect {
    int left;
    int top;
    int right;
    int bottom;
};

struct PlacementPoint {
    int left;
    int top;
};

// Centres a width x height form over `window` (each division truncating toward zero), then
// shifts it left/up so that it ends at the screen's right/bottom edge when it would reach past
// it, and finally turns a negative left or top into 0. Computed in 64 bits: no input overflows.
PlacementPoint PlaceCentered(const PlacementRect& window, int screenWidth, int screenHeight,
                             int width, int height);

}  // namespace qorvi
