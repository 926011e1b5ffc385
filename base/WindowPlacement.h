// Where a form or a box goes on the screen: centred over another window, kept on the primary
// screen. The arithmetic is platform-free (Placement.h).
#pragma once

#include <windows.h>

namespace qorvi {

// Left and top for a form of `width` x `height` centred over `window`, kept on the primary
// screen (shifted left/up to end at its right/bottom edge, never to a negative position).
POINT CenterOverWindow(HWND window, int width, int height);

}  // namespace qorvi
