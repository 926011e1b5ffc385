// TImageDesc: rows of pixels in memory, as the geometry kernels (rotation, resampling) take them.
// Platform-free.
#pragma once

#include <cstdint>

namespace qorvi {

// Rows are handled in memory order: row 0 is the first row in memory, whichever row of the
// picture that is. Stride is the distance in bytes from one row to the next.
struct TImageDesc {
    uint8_t* Bits = nullptr;  // the first row in memory
    int32_t Width = 0;        // pixels
    int32_t Height = 0;       // rows
    int32_t Stride = 0;       // bytes
    int32_t BytesPerPixel = 0;
};

}  // namespace qorvi
