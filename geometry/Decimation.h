// The nearest-neighbour shrink by a whole factor: every factor-th pixel of every factor-th row.
// Platform-free.
#pragma once

#include "geometry/ImageDesc.h"

#include <cstdint>

namespace qorvi {

// The size of one axis after the shrink: rounded up, so the last partial group keeps a pixel.
inline int32_t DecimatedSize(int32_t size, int32_t factor) {
    return static_cast<int32_t>((int64_t{size} + factor - 1) / factor);
}

// Pixel i of destination row j is source pixel i * factor of source row j * factor, rows in
// memory order. 1 or 3 bytes per pixel, factor 2, 4 or 8, the destination of the decimated size;
// anything else writes nothing.
void DecimateRows(const TImageDesc& source, const TImageDesc& destination, int32_t factor);

}  // namespace qorvi
