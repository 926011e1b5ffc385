#include "plugin/PixelKernels.h"

#include <cstddef>

namespace qorvi {

std::optional<uint32_t> RowStride(int32_t width, int32_t bitCount) {
    if (width < 1 || bitCount < 1 || bitCount > 32) return std::nullopt;
    const uint64_t stride = (uint64_t(width) * uint64_t(bitCount) + 31) / 32 * 4;
    if (stride > MaxRowStride) return std::nullopt;
    return uint32_t(stride);
}

std::optional<size_t> PixelBlockBytes(uint32_t stride, uint64_t rows) {
    // Divided rather than multiplied: a stride below 2^32 times rows up to 2^64 has no 64-bit
    // product to compare.
    if (stride != 0 && rows > MaxPixelBlockBytes / stride) return std::nullopt;
    return size_t(uint64_t(stride) * rows);
}

int32_t PaletteEntryCount(int32_t bitCount, uint32_t clrUsed) {
    if (bitCount > 8) return 0;
    uint32_t count = clrUsed;
    if (count == 0) count = bitCount == 1 ? 2 : bitCount == 4 ? 16 : bitCount == 8 ? 256 : 0;
    return count > uint32_t(MaxPaletteEntries) ? MaxPaletteEntries : int32_t(count);
}

bool IsGrayscaleTable(const uint8_t* table) {
    // Entry i is B = G = R = i. The reserved byte is no colour: decoders leave it as they find it.
    for (int32_t i = 0; i < MaxPaletteEntries; ++i, table += 4)
        if (table[0] != i || table[1] != i || table[2] != i) return false;
    return true;
}

namespace {

// (s * a + b * (255 - a)) / 255, rounded to nearest, without a division.
inline uint8_t Blend(uint32_t source, uint32_t background, uint32_t alpha) {
    const uint32_t v = source * alpha + background * (255 - alpha) + 128;
    return uint8_t(((v >> 8) + v) >> 8);
}

struct Background {
    uint8_t blue, green, red;
};

Background Split(uint32_t colour) {
    return {uint8_t(colour >> 16), uint8_t(colour >> 8), uint8_t(colour)};
}

}  // namespace

void CompositeOverChecker(const uint8_t* source, uint8_t* destination, int32_t destinationStride,
                          int32_t width, int32_t height, uint32_t colour1, uint32_t colour2,
                          int32_t squareSize) {
    const Background colours[2] = {Split(colour1), Split(colour2)};
    const int32_t mask = squareSize - 1;
    int rowPhase = 0;
    for (int32_t y = 0; y < height; ++y) {
        if ((y & mask) == 0) rowPhase ^= 1;
        int phase = rowPhase;
        const uint8_t* in = source + ptrdiff_t(y) * ptrdiff_t(width) * 4;
        uint8_t* out = destination + ptrdiff_t(y) * ptrdiff_t(destinationStride);
        for (int32_t x = 0; x < width; ++x, in += 4, out += 3) {
            if ((x & mask) == 0) phase ^= 1;
            const uint32_t alpha = in[3];
            if (alpha == 255) {
                out[0] = in[0], out[1] = in[1], out[2] = in[2];
                continue;
            }
            const Background& b = colours[phase];
            if (alpha == 0) {
                out[0] = b.blue, out[1] = b.green, out[2] = b.red;
                continue;
            }
            out[0] = Blend(in[0], b.blue, alpha);
            out[1] = Blend(in[1], b.green, alpha);
            out[2] = Blend(in[2], b.red, alpha);
        }
    }
}

void ConvertCMYKToBGR(const uint8_t* source, uint8_t* destination, int32_t destinationStride,
                      int32_t width, int32_t height) {
    // (255 - ink) x (255 - black) / 255: the ink's complement blended over black.
    auto channel = [](uint32_t ink, uint32_t black) { return Blend(255 - ink, 0, 255 - black); };
    for (int32_t y = 0; y < height; ++y) {
        const uint8_t* in = source + size_t(y) * size_t(width) * 4;
        uint8_t* out = destination + size_t(y) * size_t(destinationStride);
        for (int32_t x = 0; x < width; ++x, in += 4, out += 3) {
            out[0] = channel(in[2], in[3]);
            out[1] = channel(in[1], in[3]);
            out[2] = channel(in[0], in[3]);
        }
    }
}

}  // namespace qorvi
