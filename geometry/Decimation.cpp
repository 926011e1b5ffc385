#include "geometry/Decimation.h"

#include <cstddef>

namespace qorvi {

namespace {

// One routine per depth and factor, so each inner loop copies a constant number of bytes at a
// constant step.
template <int32_t Bpp, int32_t Factor>
void Decimate(const TImageDesc& source, const TImageDesc& destination) {
    for (int32_t j = 0; j < destination.Height; ++j) {
        const uint8_t* in = source.Bits + ptrdiff_t(j) * Factor * source.Stride;
        uint8_t* out = destination.Bits + ptrdiff_t(j) * destination.Stride;
        for (int32_t i = 0; i < destination.Width; ++i, in += Bpp * Factor, out += Bpp) {
            for (int32_t b = 0; b < Bpp; ++b) out[b] = in[b];
        }
    }
}

}  // namespace

void DecimateRows(const TImageDesc& source, const TImageDesc& destination, int32_t factor) {
    if (factor != 2 && factor != 4 && factor != 8) return;
    if (destination.BytesPerPixel != source.BytesPerPixel ||
        destination.Width != DecimatedSize(source.Width, factor) ||
        destination.Height != DecimatedSize(source.Height, factor))
        return;
    const int32_t key = source.BytesPerPixel * 16 + factor;
    switch (key) {
    case 1 * 16 + 2: Decimate<1, 2>(source, destination); break;
    case 1 * 16 + 4: Decimate<1, 4>(source, destination); break;
    case 1 * 16 + 8: Decimate<1, 8>(source, destination); break;
    case 3 * 16 + 2: Decimate<3, 2>(source, destination); break;
    case 3 * 16 + 4: Decimate<3, 4>(source, destination); break;
    case 3 * 16 + 8: Decimate<3, 8>(source, destination); break;
    default: break;
    }
}

}  // namespace qorvi
