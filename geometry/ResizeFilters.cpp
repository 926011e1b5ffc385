// The pass objects' shared layout, and the scalar path every SIMD path is held to.
#include "geometry/ResizeFilters.h"

#include <limits>
#include <new>

namespace qorvi {

namespace {

int32_t Fits32(int64_t value) {
    if (value > std::numeric_limits<int32_t>::max()) throw std::bad_alloc();
    return static_cast<int32_t>(value);
}

int64_t RoundUp(int64_t value, int64_t multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

uint8_t Saturate(int32_t sum) {
    const int32_t value = (sum + WeightRounding) >> WeightShift;
    return static_cast<uint8_t>(value < 0 ? 0 : value > 255 ? 255 : value);
}

}  // namespace

void TFilter::Configure(const TImageDesc& desc, int32_t newWidth, int32_t newHeight) {
    const int64_t bpp = desc.BytesPerPixel;
    const int64_t targetRow = int64_t{newWidth} * bpp;
    int64_t intermediate = RoundUp(targetRow + 16, 64);
    // Pair blocks a multiple of 1024 bytes apart would meet in the same cache sets.
    if (intermediate % 1024 == 0) intermediate += 64;

    SourceStride = desc.Stride;
    IntermediateStride = Fits32(intermediate);
    DestinationStride = Fits32(RoundUp(targetRow, 4));
    StagingPitch = Fits32(RoundUp(int64_t{desc.Width} * bpp, 64));
    BytesPerPixel = desc.BytesPerPixel;
    HorizontalSourceStep = SourceStride;
    HorizontalDestinationStep = IntermediateStride;
    VerticalSourceStep = 8;
    VerticalDestinationStep = 4;

    Horizontal.OutputCount = newWidth;
    Horizontal.InputCount = desc.Width;
    Horizontal.PairStep = HorizontalPairStep();
    Horizontal.WideningGroups =
        Fits32(bpp == 1 ? (int64_t{desc.Width} + 3) / 4 : (int64_t{desc.Width} + 1) / 2);
    Horizontal.Samples = newWidth;
    Horizontal.Lines = desc.Height;

    Vertical.OutputCount = newHeight;
    Vertical.InputCount = desc.Height;
    Vertical.PairStep = Fits32(2 * intermediate);
    Vertical.Samples = Fits32((targetRow + 3) / 4);
    Vertical.Lines = newHeight;
}

void TFilter::ClearTables() {
    Horizontal.Clear();
    Vertical.Clear();
}

size_t TFilter::IntermediateSize() const {
    // Row groups of up to 4 rows fill whole pair blocks; the 8 bytes let the last strip's loads
    // run over.
    const uint64_t bytes =
        static_cast<uint64_t>(RoundUp(Horizontal.Lines, 4)) * uint64_t(IntermediateStride) + 8;
    if (bytes > std::numeric_limits<size_t>::max()) throw std::bad_alloc();
    return static_cast<size_t>(bytes);
}

void ScalarFilter::HorizontalPass(uint8_t* dst, const uint8_t* src, uint8_t*, uint8_t*,
                                  int32_t rowCount) const {
    const int32_t bpp = BytesPerPixel;
    if (!IsResampledPixelSize(bpp)) return;
    const int32_t width = Horizontal.InputCount, pairStep = Horizontal.PairStep;
    for (int32_t r = 0; r < rowCount; ++r) {
        const uint8_t* row = src + ptrdiff_t(r) * SourceStride;
        // Rows 2p and 2p + 1 share a pair block, byte k of each at 2k and 2k + 1.
        uint8_t* out = dst + ptrdiff_t(r & ~1) * IntermediateStride + (r & 1);
        for (int32_t x = 0; x < Horizontal.OutputCount; ++x) {
            const WeightEntry& entry = Horizontal.Entries[size_t(x)];
            const int32_t count = PairCount(entry.Pairs);
            const int32_t firstSample = int32_t(entry.Offset / pairStep) * 2;
            for (int32_t c = 0; c < bpp; ++c) {
                int32_t sum = 0;
                for (int32_t k = 0; k < count; ++k) {
                    // Past the row's end a list holds only zero weights; nothing is read there.
                    const int32_t even = firstSample + 2 * k;
                    const uint32_t pair = entry.Pairs[k];
                    if (even < width) sum += EvenWeight(pair) * row[even * bpp + c];
                    if (even + 1 < width) sum += OddWeight(pair) * row[(even + 1) * bpp + c];
                }
                out[2 * (x * bpp + c)] = Saturate(sum);
            }
        }
    }
}

void ScalarFilter::VerticalPass(uint8_t* dst, const uint8_t* src, int32_t stripCount) const {
    if (!IsResampledPixelSize(BytesPerPixel)) return;
    const ptrdiff_t blockStep = Vertical.PairStep;
    for (int32_t y = 0; y < Vertical.OutputCount; ++y) {
        const auto [blocks, pairs, count] = SampleWeights(Vertical, src, y);
        uint8_t* out = dst + ptrdiff_t(y) * DestinationStride;
        for (int32_t b = 0; b < 4 * stripCount; ++b) {
            int32_t sum = 0;
            for (int32_t k = 0; k < count; ++k) {
                const uint8_t* block = blocks + k * blockStep;
                sum += EvenWeight(pairs[k]) * block[2 * b] + OddWeight(pairs[k]) * block[2 * b + 1];
            }
            out[b] = Saturate(sum);
        }
    }
}

bool FilterPathBuilt(FilterPath path) {
    switch (path) {
    case FilterPath::Scalar: return true;
    case FilterPath::MMX: return QORVI_MMX_PATH != 0;
    case FilterPath::SSE2: return QORVI_SIMD_PATHS != 0;
    }
    return false;
}

std::unique_ptr<TFilter> MakeFilter(FilterPath path) {
#if QORVI_SIMD_PATHS
    if (path == FilterPath::SSE2) return std::make_unique<TSSE2IntFilter>();
#endif
#if QORVI_MMX_PATH
    if (path == FilterPath::MMX) return std::make_unique<TMMXFilter>();
#endif
    (void)path;
    return std::make_unique<ScalarFilter>();
}

}  // namespace qorvi
