// The MMX path of the resampling passes, for processors without SSE2. Every pass ends with EMMS
// so that the floating-point unit is usable again when it returns.
#include "base/UnalignedBytes.h"
#include "geometry/ResizeFilters.h"

#include <mmintrin.h>
#include <cstring>

#if defined(__GNUC__) && !defined(__clang__) && defined(__i386__)
#pragma GCC target("mmx")
#endif

namespace qorvi {

namespace {

inline __m64 Load8(const uint8_t* p) {
    __m64 value;
    std::memcpy(&value, p, 8);
    return value;
}

inline void Store8(uint8_t* p, __m64 value) { std::memcpy(p, &value, 8); }

inline __m64 Load4(const uint8_t* p) { return _mm_cvtsi32_si64(int(LoadU32(p))); }

// [2 x i32] the weight pair in both lanes.
inline __m64 Broadcast(uint32_t pair) { return _mm_set1_pi32(int(pair)); }

inline __m64 Descale(__m64 sum) {
    return _mm_srai_pi32(_mm_add_pi32(sum, _mm_set1_pi32(WeightRounding)), WeightShift);
}

inline uint32_t Low32(__m64 value) { return uint32_t(_mm_cvtsi64_si32(value)); }
inline uint32_t High32(__m64 value) { return uint32_t(_mm_cvtsi64_si32(_mm_srli_si64(value, 32))); }

void Stage(const TFilter& f, const uint8_t* src, uint8_t* staging, int32_t rows) {
    const size_t rowBytes = size_t(f.Horizontal.InputCount) * size_t(f.BytesPerPixel);
    for (int32_t r = 0; r < rows; ++r)
        std::memcpy(staging + ptrdiff_t(r) * f.StagingPitch, src + ptrdiff_t(r) * f.SourceStride,
                    rowBytes);
}

// 1 byte per pixel, 4 rows a group, 16 bytes a source pair.
void Widen1(const TFilter& f, const uint8_t* staging, uint8_t* widened) {
    const uint8_t* s0 = staging;
    const uint8_t* s1 = s0 + f.StagingPitch;
    const uint8_t* s2 = s1 + f.StagingPitch;
    const uint8_t* s3 = s2 + f.StagingPitch;
    const __m64 zero = _mm_setzero_si64();
    for (int32_t g = 0; g < f.Horizontal.WideningGroups; ++g) {
        // [4 x i16] r[4g] .. r[4g+3]; as [2 x i32] the pairs (4g, 4g+1) and (4g+2, 4g+3)
        const __m64 a = _mm_unpacklo_pi8(Load4(s0 + 4 * g), zero);
        const __m64 b = _mm_unpacklo_pi8(Load4(s1 + 4 * g), zero);
        const __m64 c = _mm_unpacklo_pi8(Load4(s2 + 4 * g), zero);
        const __m64 d = _mm_unpacklo_pi8(Load4(s3 + 4 * g), zero);
        uint8_t* out = widened + 32 * g;
        // [4 x i16] r0[2k] r0[2k+1] r1[2k] r1[2k+1], then the same of rows 2 and 3
        Store8(out, _mm_unpacklo_pi32(a, b));
        Store8(out + 8, _mm_unpacklo_pi32(c, d));
        Store8(out + 16, _mm_unpackhi_pi32(a, b));
        Store8(out + 24, _mm_unpackhi_pi32(c, d));
    }
}

void Filter1(const TFilter& f, const uint8_t* widened, uint8_t* block01, uint8_t* block23) {
    for (int32_t x = 0; x < f.Horizontal.OutputCount; ++x) {
        const SampleWeightList sample = SampleWeights(f.Horizontal, widened, x);
        const __m64* p = reinterpret_cast<const __m64*>(sample.Source);
        const uint32_t* w = sample.Pairs;
        const int32_t n = sample.Count;
        __m64 sum01 = _mm_setzero_si64(), sum23 = _mm_setzero_si64();  // [2 x i32] r0 r1 | r2 r3
        for (int32_t k = 0; k < n; ++k, p += 2) {
            const __m64 weight = Broadcast(w[k]);
            sum01 = _mm_add_pi32(sum01, _mm_madd_pi16(p[0], weight));
            sum23 = _mm_add_pi32(sum23, _mm_madd_pi16(p[1], weight));
        }
        const __m64 words = _mm_packs_pi32(Descale(sum01), Descale(sum23));
        const uint32_t bytes = Low32(_mm_packs_pu16(words, words));  // r0 r1 r2 r3
        StoreU16(block01 + 2 * x, bytes);
        StoreU16(block23 + 2 * x, bytes >> 16);
    }
}

// 3 or 4 bytes per pixel, 2 rows a group, 8 x B bytes a source pair: per channel
// [4 x i16] r0[2k]c r0[2k+1]c r1[2k]c r1[2k+1]c.
template <int32_t Bpp>
void WidenColour(const TFilter& f, const uint8_t* staging, uint8_t* widened) {
    const uint8_t* s0 = staging;
    const uint8_t* s1 = s0 + f.StagingPitch;
    const __m64 zero = _mm_setzero_si64();
    for (int32_t k = 0; k < f.Horizontal.WideningGroups; ++k) {
        // [8 x u8] p0c0 p0c1 .. p1c0 p1c1 .., interleaved with itself a pixel on:
        // p0c0 p1c0 p0c1 p1c1 p0c2 p1c2 (p0c3 p1c3)
        const __m64 a8 = Load8(s0 + 2 * Bpp * k), b8 = Load8(s1 + 2 * Bpp * k);
        const __m64 a = _mm_unpacklo_pi8(a8, _mm_srli_si64(a8, 8 * Bpp));
        const __m64 b = _mm_unpacklo_pi8(b8, _mm_srli_si64(b8, 8 * Bpp));
        const __m64 a01 = _mm_unpacklo_pi8(a, zero), a23 = _mm_unpackhi_pi8(a, zero);
        const __m64 b01 = _mm_unpacklo_pi8(b, zero), b23 = _mm_unpackhi_pi8(b, zero);
        uint8_t* out = widened + 8 * Bpp * k;
        Store8(out, _mm_unpacklo_pi32(a01, b01));
        Store8(out + 8, _mm_unpackhi_pi32(a01, b01));
        Store8(out + 16, _mm_unpacklo_pi32(a23, b23));
        if constexpr (Bpp == 4) Store8(out + 24, _mm_unpackhi_pi32(a23, b23));
    }
}

void Filter3(const TFilter& f, const uint8_t* widened, uint8_t* block) {
    for (int32_t x = 0; x < f.Horizontal.OutputCount; ++x) {
        const SampleWeightList sample = SampleWeights(f.Horizontal, widened, x);
        const __m64* p = reinterpret_cast<const __m64*>(sample.Source);
        const uint32_t* w = sample.Pairs;
        const int32_t n = sample.Count;
        // [2 x i32] r0c r1c for each channel
        __m64 sum0 = _mm_setzero_si64(), sum1 = _mm_setzero_si64(), sum2 = _mm_setzero_si64();
        for (int32_t k = 0; k < n; ++k, p += 3) {
            const __m64 weight = Broadcast(w[k]);
            sum0 = _mm_add_pi32(sum0, _mm_madd_pi16(p[0], weight));
            sum1 = _mm_add_pi32(sum1, _mm_madd_pi16(p[1], weight));
            sum2 = _mm_add_pi32(sum2, _mm_madd_pi16(p[2], weight));
        }
        const __m64 words01 = _mm_packs_pi32(Descale(sum0), Descale(sum1));
        const __m64 words2 = _mm_packs_pi32(Descale(sum2), Descale(sum2));
        // [8 x u8] r0c0 r1c0 r0c1 r1c1 r0c2 r1c2 ..
        const __m64 bytes = _mm_packs_pu16(words01, words2);
        StoreU32(block + 6 * x, Low32(bytes));
        StoreU16(block + 6 * x + 4, High32(bytes));
    }
}

void Filter4(const TFilter& f, const uint8_t* widened, uint8_t* block) {
    for (int32_t x = 0; x < f.Horizontal.OutputCount; ++x) {
        const SampleWeightList sample = SampleWeights(f.Horizontal, widened, x);
        const __m64* p = reinterpret_cast<const __m64*>(sample.Source);
        const uint32_t* w = sample.Pairs;
        const int32_t n = sample.Count;
        __m64 sum0 = _mm_setzero_si64(), sum1 = _mm_setzero_si64();
        __m64 sum2 = _mm_setzero_si64(), sum3 = _mm_setzero_si64();
        for (int32_t k = 0; k < n; ++k, p += 4) {
            const __m64 weight = Broadcast(w[k]);
            sum0 = _mm_add_pi32(sum0, _mm_madd_pi16(p[0], weight));
            sum1 = _mm_add_pi32(sum1, _mm_madd_pi16(p[1], weight));
            sum2 = _mm_add_pi32(sum2, _mm_madd_pi16(p[2], weight));
            sum3 = _mm_add_pi32(sum3, _mm_madd_pi16(p[3], weight));
        }
        const __m64 words01 = _mm_packs_pi32(Descale(sum0), Descale(sum1));
        const __m64 words23 = _mm_packs_pi32(Descale(sum2), Descale(sum3));
        Store8(block + 8 * x, _mm_packs_pu16(words01, words23));
    }
}

}  // namespace

size_t TMMXFilter::ScratchSize() const {
    const size_t width = size_t(Horizontal.InputCount), bpp = size_t(BytesPerPixel);
    if (bpp == 1) return 8 * width + 256;
    // Whichever is larger: a group's two staged rows, or its widened pairs.
    const size_t staged = 2 * size_t(StagingPitch), pairs = 4 * bpp * (width + 1);
    return (staged > pairs ? staged : pairs) + 64;
}

void TMMXFilter::HorizontalPass(uint8_t* dst, const uint8_t* src, uint8_t* widened,
                                uint8_t* staging, int32_t rowCount) const {
    const int32_t bpp = BytesPerPixel;
    if (!IsResampledPixelSize(bpp)) return;
    const int32_t groupRows = bpp == 1 ? 4 : 2;
    const ptrdiff_t blockBytes = 2 * ptrdiff_t(IntermediateStride);
    for (int32_t row = 0; row < rowCount; row += groupRows) {
        // A short last group computes its missing rows from stale staging data into
        // intermediate rows past the picture that no weight reads.
        Stage(*this, src + ptrdiff_t(row) * SourceStride, staging,
              rowCount - row < groupRows ? rowCount - row : groupRows);
        uint8_t* block = dst + ptrdiff_t(row) * IntermediateStride;
        switch (bpp) {
        case 1:
            Widen1(*this, staging, widened);
            Filter1(*this, widened, block, block + blockBytes);
            break;
        case 3:
            WidenColour<3>(*this, staging, widened);
            Filter3(*this, widened, block);
            break;
        default:
            WidenColour<4>(*this, staging, widened);
            Filter4(*this, widened, block);
            break;
        }
    }
    _mm_empty();
}

void TMMXFilter::VerticalPass(uint8_t* dst, const uint8_t* src, int32_t stripCount) const {
    if (!IsResampledPixelSize(BytesPerPixel)) return;
    const ptrdiff_t blockStep = Vertical.PairStep;
    const __m64 zero = _mm_setzero_si64();
    for (int32_t y = 0; y < Vertical.OutputCount; ++y) {
        const auto [blocks, w, n] = SampleWeights(Vertical, src, y);
        uint8_t* out = dst + ptrdiff_t(y) * DestinationStride;
        for (int32_t s = 0; s < stripCount; ++s) {
            // [8 x u8] of a pair block: r0b0 r1b0 .. r0b3 r1b3, widened into [4 x i16] twice
            const uint8_t* p = blocks + 8 * s;
            __m64 sum01 = _mm_setzero_si64(), sum23 = _mm_setzero_si64();
            for (int32_t k = 0; k < n; ++k, p += blockStep) {
                const __m64 weight = Broadcast(w[k]);
                const __m64 bytes = *reinterpret_cast<const __m64*>(p);
                sum01 = _mm_add_pi32(sum01, _mm_madd_pi16(_mm_unpacklo_pi8(bytes, zero), weight));
                sum23 = _mm_add_pi32(sum23, _mm_madd_pi16(_mm_unpackhi_pi8(bytes, zero), weight));
            }
            const __m64 words = _mm_packs_pi32(Descale(sum01), Descale(sum23));
            StoreU32(out + 4 * s, Low32(_mm_packs_pu16(words, words)));
        }
    }
    _mm_empty();
}

}  // namespace qorvi
