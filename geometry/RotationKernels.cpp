#include "geometry/RotationKernels.h"

#include <algorithm>
#include <bit>
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

// Four pixels in memory order, as 32-bit words: one word for 1-byte pixels, three for 3-byte.
template <int B>
struct Quad {
    uint32_t words[B];
};

template <int B>
inline Quad<B> LoadQuad(const uint8_t* p) {
    Quad<B> quad;
    std::memcpy(quad.words, p, sizeof quad.words);
    return quad;
}

template <int B>
inline void StoreQuad(uint8_t* p, const Quad<B>& quad) {
    std::memcpy(p, quad.words, sizeof quad.words);
}

// Four pixels, each in the low bytes of a word (higher bytes are ignored), packed in memory order.
template <int B>
inline Quad<B> Pack(uint32_t p0, uint32_t p1, uint32_t p2, uint32_t p3) {
    if constexpr (B == 1) {
        return {{(p0 & 0xFF) | (p1 & 0xFF) << 8 | (p2 & 0xFF) << 16 | p3 << 24}};
    } else {
        // [3 x u32] p0 p1.b0 | p1.b1 p1.b2 p2.b0 p2.b1 | p2.b2 p3
        return {{(p0 & 0xFFFFFF) | p1 << 24, (p1 >> 8 & 0xFFFF) | p2 << 16,
                 (p2 >> 16 & 0xFF) | p3 << 8}};
    }
}

// The four pixels in reverse order; their bytes stay in order within each pixel.
inline Quad<1> Reverse(const Quad<1>& q) { return {{__builtin_bswap32(q.words[0])}}; }
inline Quad<3> Reverse(const Quad<3>& q) {
    const uint32_t p0 = q.words[0];
    const uint32_t p1 = q.words[0] >> 24 | q.words[1] << 8;
    const uint32_t p2 = q.words[1] >> 16 | q.words[2] << 16;
    const uint32_t p3 = q.words[2] >> 8;
    return Pack<3>(p3, p2, p1, p0);
}

// Exchanges pixel k of the run starting at `front` with pixel k counted backwards from
// `backEnd`, for k < count; the two runs must not overlap. Four pixels at a time.
template <int B>
void SwapReversed(uint8_t* front, uint8_t* backEnd, int32_t count) {
    static_assert(std::endian::native == std::endian::little, "quads read little-endian");
    int32_t k = 0;
    for (; k + 4 <= count; k += 4, front += 4 * B) {
        backEnd -= 4 * B;
        const Quad<B> a = LoadQuad<B>(front), b = LoadQuad<B>(backEnd);
        StoreQuad<B>(front, Reverse(b));
        StoreQuad<B>(backEnd, Reverse(a));
    }
    for (; k < count; ++k, front += B) {
        backEnd -= B;
        SwapPixel<B>(front, backEnd);
    }
}

template <int B>
void MirrorRow(uint8_t* row, int32_t width) {
    SwapReversed<B>(row, row + ptrdiff_t(width) * B, width / 2);
}

template <int B>
void MirrorRowsOf(const TImageDesc& image) {
    for (int32_t r = 0; r < image.Height; ++r) MirrorRow<B>(RowAt(image, r), image.Width);
}

template <int B>
void HalfTurnOf(const TImageDesc& image) {
    const int32_t width = image.Width, height = image.Height;
    for (int32_t r = 0; r < height / 2; ++r) {
        uint8_t* highEnd = RowAt(image, height - 1 - r) + ptrdiff_t(width) * B;
        SwapReversed<B>(RowAt(image, r), highEnd, width);
    }
    if (height % 2 != 0) MirrorRow<B>(RowAt(image, height / 2), width);
}

// Gathers `count` pixels of one tile column, `pitch` bytes apart, into one run. Four pixels at a
// time go out as whole 32-bit words (three of them for 3-byte pixels); a 3-byte pixel is read as
// a word whose top byte is not used, so the last pixel, whose word could reach past the tile, is
// always read byte by byte.
template <int B>
inline void GatherColumn(uint8_t* out, const uint8_t* in, ptrdiff_t pitch, int32_t count) {
    auto load = [&](int32_t k) {
        if constexpr (B == 1) {
            return uint32_t(in[k * pitch]);
        } else {
            uint32_t word;
            std::memcpy(&word, in + k * pitch, 4);
            return word;
        }
    };
    int32_t k = 0;
    for (; k + 4 < count; k += 4) {
        const Quad<B> quad = Pack<B>(load(k), load(k + 1), load(k + 2), load(k + 3));
        StoreQuad<B>(out + ptrdiff_t(k) * B, quad);
    }
    for (; k < count; ++k) CopyPixel<B>(out + ptrdiff_t(k) * B, in + k * pitch);
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
                GatherColumn<B>(RowAt(destination, target) + ptrdiff_t(block) * B,
                                tile + ptrdiff_t(j) * B, tilePitch, blockRows);
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
