// The size a picture is shown at when it must fit a box: the largest size inside the box with the
// picture's aspect ratio, never larger than the picture, never below 1 x 1. Platform-free.
#pragma once

#include <cstdint>

namespace qorvi {

// Shrinks width and height in place to fit max_width x max_height. The result touches the box on
// one side; the other side is rounded half up. A picture already inside the box keeps its size.
void FitToBox(int32_t& width, int32_t& height, int32_t maxWidth, int32_t maxHeight);

}  // namespace qorvi
