#include "geometry/OutputSize.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace qorvi {

namespace {

// Trunc(side * boxSide / denominator + 0.5) with the product formed in 64 bits: a 32-bit product
// of two large sides would wrap round and give a nonsense size. Called with a positive
// denominator; a quotient beyond 32 bits (a huge box over a thin picture) is held at the limit,
// which then loses the comparison with the box.
int32_t ScaledSide(int32_t side, int32_t boxSide, int32_t denominator) {
    const double product = static_cast<double>(int64_t{side} * boxSide);
    const double scaled = std::trunc(product / denominator + 0.5);
    if (scaled >= 2147483647.0) return INT32_MAX;
    if (scaled <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(scaled);
}

}  // namespace

void FitToBox(int32_t& width, int32_t& height, int32_t maxWidth, int32_t maxHeight) {
    // A side below 1 counts as 1 from the start, so the ratio below never divides by zero.
    width = std::max(width, int32_t{1});
    height = std::max(height, int32_t{1});
    if (width > maxWidth || height > maxHeight) {
        const int32_t a = ScaledSide(width, maxHeight, height);
        if (maxWidth >= a) {
            width = a;
            height = maxHeight;
        } else {
            height = ScaledSide(height, maxWidth, width);
            width = maxWidth;
        }
    }
    if (width < 1) width = 1;
    if (height < 1) height = 1;
}

}  // namespace qorvi
