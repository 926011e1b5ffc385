#include "geometry/RotationKernels.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace qorvi {
namespace {

// A bottom-up picture in memory rows; pixels are addressed as displayed, y from the top.
struct Picture {
    int32_t width = 0, height = 0, bytesPerPixel = 0, stride = 0;
    std::vector<uint8_t> rows;

    Picture(int32_t w, int32_t h, int32_t bpp, uint8_t fill)
        : width(w),
          height(h),
          bytesPerPixel(bpp),
          stride((w * bpp + 3) & ~3),
          rows(size_t(stride) * h, fill) {}
    uint8_t* At(int32_t x, int32_t y) {
        return &rows[size_t(height - 1 - y) * stride + size_t(x) * bytesPerPixel];
    }
    TImageDesc Desc() { return {rows.data(), width, height, stride, bytesPerPixel}; }
};

// Every pixel distinct (as far as its bytes allow); the fill bytes hold `fill`.
Picture Numbered(int32_t w, int32_t h, int32_t bpp, uint8_t fill) {
    Picture p(w, h, bpp, fill);
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x)
            for (int32_t c = 0; c < bpp; ++c) p.At(x, y)[c] = uint8_t(x * 7 + y * 13 + c * 101 + 1);
    return p;
}

enum class Operation { Mirror, HalfTurn, SwapRows, Clockwise, Anticlockwise };
const char* const OperationNames[] = {"mirror", "half turn", "row swap", "clockwise",
                                      "anticlockwise"};

// The operation pixel by pixel, from where each displayed pixel goes. In-place operations keep
// the fill bytes where they were; a quarter turn writes into fresh zeroed rows.
Picture Reference(Picture source, Operation op) {
    const int32_t w = source.width, h = source.height;
    const bool quarter = op == Operation::Clockwise || op == Operation::Anticlockwise;
    Picture out = quarter ? Picture(h, w, source.bytesPerPixel, 0) : source;
    for (int32_t y = 0; y < h; ++y)
        for (int32_t x = 0; x < w; ++x) {
            int32_t tx = x, ty = y;
            switch (op) {
            case Operation::Mirror: tx = w - 1 - x; break;
            case Operation::HalfTurn: tx = w - 1 - x, ty = h - 1 - y; break;
            case Operation::SwapRows: ty = h - 1 - y; break;
            case Operation::Clockwise: tx = h - 1 - y, ty = x; break;
            case Operation::Anticlockwise: tx = y, ty = w - 1 - x; break;
            }
            std::memcpy(out.At(tx, ty), source.At(x, y), size_t(source.bytesPerPixel));
        }
    return out;
}

Picture Apply(Picture source, Operation op) {
    switch (op) {
    case Operation::Mirror: MirrorRows(source.Desc()); return source;
    case Operation::HalfTurn: HalfTurn(source.Desc()); return source;
    case Operation::SwapRows: SwapRows(source.Desc()); return source;
    default: break;
    }
    Picture out(source.height, source.width, source.bytesPerPixel, 0);
    std::vector<uint8_t> tile(RotationTileBytes);
    QuarterTurn(source.Desc(), out.Desc(), op == Operation::Clockwise, tile.data());
    return out;
}

TEST(RotationKernels, EveryOperationEqualsTheTurnPixelByPixel) {
    struct Size {
        int32_t width, height;
    };
    // Single pixels, rows and columns; the 64-pixel tile's bands and blocks, full and partial.
    const Size sizes[] = {{1, 1},   {1, 5},   {5, 1},     {3, 2},   {100, 70}, {63, 64},  {64, 64},
                          {65, 64}, {64, 65}, {127, 129}, {128, 1}, {1, 128},  {129, 66}, {200, 3}};
    for (int32_t bpp : {1, 3})
        for (const Size& size : sizes)
            for (int op = 0; op < 5; ++op) {
                const Picture source = Numbered(size.width, size.height, bpp, 0xEE);
                const Picture expected = Reference(source, Operation(op));
                const Picture actual = Apply(source, Operation(op));
                EXPECT_EQ(actual.rows, expected.rows)
                    << OperationNames[op] << " of " << size.width << " x " << size.height << " at "
                    << bpp << " bytes per pixel";
            }
}

TEST(RotationKernels, OtherPixelSizesAndEmptyPicturesAreLeftAlone) {
    for (int32_t bpp : {2, 4}) {
        Picture picture = Numbered(5, 4, bpp, 0xEE);
        const std::vector<uint8_t> before = picture.rows;
        MirrorRows(picture.Desc());
        HalfTurn(picture.Desc());
        EXPECT_EQ(picture.rows, before) << bpp;
    }
    Picture empty = Numbered(4, 4, 1, 0);
    const std::vector<uint8_t> before = empty.rows;
    TImageDesc noRows = empty.Desc();
    noRows.Height = 0;
    SwapRows(noRows);
    HalfTurn(noRows);
    EXPECT_EQ(empty.rows, before);
}

}  // namespace
}  // namespace qorvi
