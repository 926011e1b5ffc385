#include "geometry/RotationKernels.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace qorvi {

namespace {

// Offsets in wide arithmetic: a row index times a stride can pass 2^31 in a large picture.
uint8_t* RowAt(const TImageDesc& image, int32_t row) {
    return image.Bits + ptrdiff_t(row) * ptrdiff_t(image.Stride);
}

bool HasPixels(const TImageDesc& image) {
    return image.Bits != nullptr && image.Width > 0 && image.Height > 0;
}

template <int B>
inline void SwapPixel(uint8_t* a, uint8_t* b) {
    for (int i = 0; i < B; ++i) std::swap(a[i], b[i]);
}

template <int B>
inline void CopyPixel(uint8_t* to, const uint8_t* from) {
    for (int i = 0; i < B; ++i) to[i] = from[i];
}

template <int B>
void MirrorRow(uint8_t* row, int32_t width) {
    uint8_t* left = row;
    uint8_t* right = row + ptrdiff_t(width - 1) * B;
    for (int32_t i = 0; i < width / 2; ++i, left += B, right -= B) SwapPixel<B>(left, right);
}

template <int B>
void MirrorRowsOf(const TImageDesc& image) {
    for (int32_t r = 0; r < image.Height; ++r) MirrorRow<B>(RowAt(image, r), image.Width);
}

template <int B>
void HalfTurnOf(const TImageDesc& image) {
    const int32_t width = image.Width, height = image.Height;
    for (int32_t r = 0; r < height / 2; ++r) {
        uint8_t* low = RowAt(image, r);
        uint8_t* high = RowAt(image, height - 1 - r) + ptrdiff_t(width - 1) * B;
        for (int32_t k = 0; k < width; ++k, low += B, high -= B) SwapPixel<B>(low, high);
    }
    if (height % 2 != 0) MirrorRow<B>(RowAt(image, height / 2), width);
}

template <int B>
void QuarterTurnOf(const TImageDesc& source, const TImageDesc& destination, bool clockwise,
                   uint8_t* tile) {
    constexpr int32_t side = RotationTileSide;
    constexpr ptrdiff_t tilePitch = ptrdiff_t(side) * B;
    const int32_t width = source.Width, height = source.Height;
    for (int32_t band = 0; band < width; band += side) {
        const int32_t bandWidth = std::min(side, width - band);
        for (int32_t block = 0; block < height; block += side) {
            const int32_t blockRows = std::min(side, height - block);
            // Tile row k holds source row block + k (clockwise) or H - 1 - (block + k): in both
            // cases the destination column block + k.
            for (int32_t k = 0; k < blockRows; ++k) {
                const int32_t row = clockwise ? block + k : height - 1 - (block + k);
                std::memcpy(tile + k * tilePitch, RowAt(source, row) + ptrdiff_t(band) * B,
                            size_t(bandWidth) * B);
            }
            for (int32_t j = 0; j < bandWidth; ++j) {
                const int32_t column = band + j;
                const int32_t target = clockwise ? width - 1 - column : column;
                uint8_t* out = RowAt(destination, target) + ptrdiff_t(block) * B;
                const uint8_t* in = tile + ptrdiff_t(j) * B;
                for (int32_t k = 0; k < blockRows; ++k, out += B, in += tilePitch)
                    CopyPixel<B>(out, in);
            }
        }
    }
}

}  // namespace

void MirrorRows(const TImageDesc& image) {
    if (!HasPixels(image)) return;
    if (image.BytesPerPixel == 1) MirrorRowsOf<1>(image);
    if (image.BytesPerPixel == 3) MirrorRowsOf<3>(image);
}

void HalfTurn(const TImageDesc& image) {
    if (!HasPixels(image)) return;
    if (image.BytesPerPixel == 1) HalfTurnOf<1>(image);
    if (image.BytesPerPixel == 3) HalfTurnOf<3>(image);
}

void SwapRows(const TImageDesc& image) {
    if (!HasPixels(image)) return;
    const size_t words = size_t(image.Stride) / 4;
    for (int32_t r = 0; r < image.Height / 2; ++r) {
        uint8_t* low = RowAt(image, r);
        uint8_t* high = RowAt(image, image.Height - 1 - r);
        for (size_t i = 0; i < words; ++i, low += 4, high += 4) {
            uint32_t a, b;
            std::memcpy(&a, low, 4);
            std::memcpy(&b, high, 4);
            std::memcpy(low, &b, 4);
            std::memcpy(high, &a, 4);
        }
    }
}

void QuarterTurn(const TImageDesc& source, const TImageDesc& destination, bool clockwise,
                 unsigned char* tile) {
    if (!HasPixels(source) || destination.Bits == nullptr) return;
    if (source.BytesPerPixel == 1) QuarterTurnOf<1>(source, destination, clockwise, tile);
    if (source.BytesPerPixel == 3) QuarterTurnOf<3>(source, destination, clockwise, tile);
}

}  // namespace qorvi
