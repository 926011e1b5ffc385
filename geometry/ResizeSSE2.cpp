// The SSE2 path of the resampling passes. Only TResizer's choice (the processor's SSE2 bit, or a
// forced path) calls into it, so the 32-bit build compiles just this file's functions for SSE2.
#include "geometry/ResizeFilters.h"

#include <cstring>
#include <emmintrin.h>

#if defined(__GNUC__) && !defined(__clang__) && defined(__i386__)
#pragma GCC target("sse2")
#endif

namespace qorvi {

namespace {

inline __m128i LoadWord(const uint8_t* p) {
    uint32_t word;
    std::memcpy(&word, p, 4);
    return _mm_cvtsi32_si128(int(word));
}

inline void StoreWord(uint8_t* p, uint32_t word) { std::memcpy(p, &word, 4); }
inline void StoreHalf(uint8_t* p, uint32_t half) {
    const uint16_t value = static_cast<uint16_t>(half);
    std::memcpy(p, &value, 2);
}

// [4 x i32] the weight pair in every lane.
inline __m128i Broadcast(uint32_t pair) { return _mm_set1_epi32(int(pair)); }

// (sum + 8192) >> 14 in every lane.
inline __m128i Descale(__m128i sum) {
    return _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(WeightRounding)), WeightShift);
}

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
    const __m128i zero = _mm_setzero_si128();
    const int32_t groups = f.Horizontal.WideningGroups;
    for (int32_t g = 0; g < groups; ++g) {
        // [8 x i16] r[4g] .. r[4g+3], 0 ..; as [4 x i32] the pairs (4g, 4g+1), (4g+2, 4g+3)
        const __m128i a = _mm_unpacklo_epi8(LoadWord(s0 + 4 * g), zero);
        const __m128i b = _mm_unpacklo_epi8(LoadWord(s1 + 4 * g), zero);
        const __m128i c = _mm_unpacklo_epi8(LoadWord(s2 + 4 * g), zero);
        const __m128i d = _mm_unpacklo_epi8(LoadWord(s3 + 4 * g), zero);
        const __m128i ab = _mm_unpacklo_epi32(a, b);  // a0 b0 a1 b1 (as pairs)
        const __m128i cd = _mm_unpacklo_epi32(c, d);
        // [8 x i16] r0[2k] r0[2k+1] r1[2k] r1[2k+1] r2[2k] r2[2k+1] r3[2k] r3[2k+1]
        _mm_store_si128(reinterpret_cast<__m128i*>(widened + 32 * g), _mm_unpacklo_epi64(ab, cd));
        _mm_store_si128(reinterpret_cast<__m128i*>(widened + 32 * g + 16),
                        _mm_unpackhi_epi64(ab, cd));
    }
}

void Filter1(const TFilter& f, const uint8_t* widened, uint8_t* block01, uint8_t* block23) {
    for (int32_t x = 0; x < f.Horizontal.OutputCount; ++x) {
        const TWeightEntry& entry = f.Horizontal.Entries[size_t(x)];
        const uint8_t* p = widened + entry.Offset;
        const uint32_t* w = entry.Pairs;
        int32_t n = PairCount(w);
        __m128i sum0 = _mm_setzero_si128(), sum1 = _mm_setzero_si128();
        // Two weight pairs a step; [4 x i32] sums of rows 0 to 3.
        for (; n >= 2; n -= 2, w += 2, p += 32) {
            sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(
                _mm_load_si128(reinterpret_cast<const __m128i*>(p)), Broadcast(w[0])));
            sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(
                _mm_load_si128(reinterpret_cast<const __m128i*>(p + 16)), Broadcast(w[1])));
        }
        if (n != 0) {
            sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(
                _mm_load_si128(reinterpret_cast<const __m128i*>(p)), Broadcast(w[0])));
        }
        const __m128i words = _mm_packs_epi32(Descale(_mm_add_epi32(sum0, sum1)), _mm_setzero_si128());
        // [16 x u8] r0 r1 r2 r3 ..
        const uint32_t bytes = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
        StoreHalf(block01 + 2 * x, bytes);
        StoreHalf(block23 + 2 * x, bytes >> 16);
    }
}

// 3 bytes per pixel, 4 rows a group, 48 bytes a source pair.
void Widen3(const TFilter& f, const uint8_t* staging, uint8_t* widened) {
    const uint8_t* s0 = staging;
    const uint8_t* s1 = s0 + f.StagingPitch;
    const uint8_t* s2 = s1 + f.StagingPitch;
    const uint8_t* s3 = s2 + f.StagingPitch;
    const __m128i zero = _mm_setzero_si128();
    const int32_t groups = f.Horizontal.WideningGroups;
    // One row's pair: [16 x u8] p0c0 p0c1 p0c2 p1c0 p1c1 p1c2 ..; interleaved with itself moved
    // by a pixel it gives p0c0 p1c0 p0c1 p1c1 p0c2 p1c2, widened [4 x i32] the channel pairs.
    auto channelPairs = [zero](const uint8_t* p) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        return _mm_unpacklo_epi8(_mm_unpacklo_epi8(bytes, _mm_srli_epi64(bytes, 24)), zero);
    };
    for (int32_t k = 0; k < groups; ++k) {
        const __m128i a = channelPairs(s0 + 6 * k), b = channelPairs(s1 + 6 * k);
        const __m128i c = channelPairs(s2 + 6 * k), d = channelPairs(s3 + 6 * k);
        __m128i* out = reinterpret_cast<__m128i*>(widened + 48 * k);
        // [8 x i16] r0[2k]c0 r0[2k+1]c0 r1[2k]c0 r1[2k+1]c0 r0[2k]c1 r0[2k+1]c1 r1[2k]c1 ..
        _mm_store_si128(out, _mm_unpacklo_epi32(a, b));
        _mm_store_si128(out + 1, _mm_unpacklo_epi32(c, d));  // the same of rows 2 and 3
        // [8 x i16] r0[2k]c2 r0[2k+1]c2 r1[2k]c2 r1[2k+1]c2 r2[2k]c2 .. r3[2k+1]c2
        _mm_store_si128(out + 2, _mm_unpacklo_epi64(_mm_unpackhi_epi32(a, b),
                                                     _mm_unpackhi_epi32(c, d)));
    }
}

// sum0..2 += the three [8 x i16] of each of n (at least 1) source pairs times its weight pair.
// Written out because the compiler, short of registers on 32-bit x86, copied every accumulator
// once more on each step.
inline void SumPairs3(const __m128i* p, const uint32_t* w, int32_t n, __m128i& sum0,
                      __m128i& sum1, __m128i& sum2) {
    __m128i weight, product;
    asm("1:\n\t"
        "movd (%[w]), %[weight]\n\t"
        "pshufd $0, %[weight], %[weight]\n\t"
        "movdqa (%[p]), %[product]\n\t"
        "pmaddwd %[weight], %[product]\n\t"
        "paddd %[product], %[sum0]\n\t"
        "movdqa 16(%[p]), %[product]\n\t"
        "pmaddwd %[weight], %[product]\n\t"
        "paddd %[product], %[sum1]\n\t"
        "pmaddwd 32(%[p]), %[weight]\n\t"
        "paddd %[weight], %[sum2]\n\t"
        "add $48, %[p]\n\t"
        "add $4, %[w]\n\t"
        "sub $1, %[n]\n\t"
        "jnz 1b"
        : [sum0] "+x"(sum0), [sum1] "+x"(sum1), [sum2] "+x"(sum2), [p] "+r"(p), [w] "+r"(w),
          [n] "+r"(n), [weight] "=&x"(weight), [product] "=&x"(product)
        :
        : "cc", "memory");
}

void Filter3(const TFilter& f, const uint8_t* widened, uint8_t* block01, uint8_t* block23) {
    for (int32_t x = 0; x < f.Horizontal.OutputCount; ++x) {
        const TWeightEntry& entry = f.Horizontal.Entries[size_t(x)];
        const __m128i* p = reinterpret_cast<const __m128i*>(widened + entry.Offset);
        const uint32_t* w = entry.Pairs;
        const int32_t n = PairCount(w);
        // [4 x i32] r0c0 r1c0 r0c1 r1c1 | r2c0 r3c0 r2c1 r3c1 | r0c2 r1c2 r2c2 r3c2
        __m128i sum0 = _mm_setzero_si128(), sum1 = _mm_setzero_si128(), sum2 = _mm_setzero_si128();
        SumPairs3(p, w, n, sum0, sum1, sum2);
        const __m128i words01 = _mm_packs_epi32(Descale(sum0), Descale(sum1));
        const __m128i words2 = _mm_packs_epi32(Descale(sum2), Descale(sum2));
        // [16 x u8] r0c0 r1c0 r0c1 r1c1 | r2c0 r3c0 r2c1 r3c1 | r0c2 r1c2 r2c2 r3c2 | ..
        const __m128i bytes = _mm_packus_epi16(words01, words2);
        const uint32_t last = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(bytes, 8)));
        StoreWord(block01 + 6 * x, uint32_t(_mm_cvtsi128_si32(bytes)));
        StoreHalf(block01 + 6 * x + 4, last);
        StoreWord(block23 + 6 * x, uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(bytes, 4))));
        StoreHalf(block23 + 6 * x + 4, last >> 16);
    }
}

// 4 bytes per pixel, 2 rows a group, 32 bytes a source pair.
void Widen4(const TFilter& f, const uint8_t* staging, uint8_t* widened) {
    const uint8_t* s0 = staging;
    const uint8_t* s1 = s0 + f.StagingPitch;
    const __m128i zero = _mm_setzero_si128();
    const int32_t groups = f.Horizontal.WideningGroups;
    // [16 x u8] p0c0 .. p0c3 p1c0 .. p1c3, interleaved with its upper half and widened:
    // [4 x i32] the pairs of channels 0 to 3.
    auto channelPairs = [zero](const uint8_t* p) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        return _mm_unpacklo_epi8(_mm_unpacklo_epi8(bytes, _mm_srli_epi64(bytes, 32)), zero);
    };
    for (int32_t k = 0; k < groups; ++k) {
        const __m128i a = channelPairs(s0 + 8 * k), b = channelPairs(s1 + 8 * k);
        __m128i* out = reinterpret_cast<__m128i*>(widened + 32 * k);
        // [8 x i16] r0[2k]c0 r0[2k+1]c0 r1[2k]c0 r1[2k+1]c0 r0[2k]c1 .. r1[2k+1]c1, then c2 and c3
        _mm_store_si128(out, _mm_unpacklo_epi32(a, b));
        _mm_store_si128(out + 1, _mm_unpackhi_epi32(a, b));
    }
}

void Filter4(const TFilter& f, const uint8_t* widened, uint8_t* block) {
    for (int32_t x = 0; x < f.Horizontal.OutputCount; ++x) {
        const TWeightEntry& entry = f.Horizontal.Entries[size_t(x)];
        const __m128i* p = reinterpret_cast<const __m128i*>(widened + entry.Offset);
        const uint32_t* w = entry.Pairs;
        const int32_t n = PairCount(w);
        // [4 x i32] r0c0 r1c0 r0c1 r1c1 | r0c2 r1c2 r0c3 r1c3
        __m128i sum0 = _mm_setzero_si128(), sum1 = _mm_setzero_si128();
        for (int32_t k = 0; k < n; ++k, p += 2) {
            const __m128i weight = Broadcast(w[k]);
            sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(_mm_load_si128(p), weight));
            sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(_mm_load_si128(p + 1), weight));
        }
        const __m128i words = _mm_packs_epi32(Descale(sum0), Descale(sum1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(block + 8 * x), _mm_packus_epi16(words, words));
    }
}

}  // namespace

size_t TSSE2IntFilter::ScratchSize() const {
    const size_t width = size_t(Horizontal.InputCount);
    switch (BytesPerPixel) {
    case 1: return 8 * width + 256;
    case 3: return 24 * width + 256;
    default: return 16 * width + 128;
    }
}

void TSSE2IntFilter::HorizontalPass(uint8_t* dst, const uint8_t* src, uint8_t* widened,
                                    uint8_t* staging, int32_t rowCount) const {
    const int32_t bpp = BytesPerPixel;
    if (bpp != 1 && bpp != 3 && bpp != 4) return;
    const int32_t groupRows = bpp == 4 ? 2 : 4;
    const ptrdiff_t blockBytes = 2 * ptrdiff_t(IntermediateStride);
    for (int32_t row = 0; row < rowCount; row += groupRows) {
        // The rows a short last group lacks keep what the staging buffer held; their results
        // land in intermediate rows past the picture that no weight reads.
        Stage(*this, src + ptrdiff_t(row) * SourceStride, staging,
              rowCount - row < groupRows ? rowCount - row : groupRows);
        uint8_t* block = dst + ptrdiff_t(row) * IntermediateStride;
        switch (bpp) {
        case 1:
            Widen1(*this, staging, widened);
            Filter1(*this, widened, block, block + blockBytes);
            break;
        case 3:
            Widen3(*this, staging, widened);
            Filter3(*this, widened, block, block + blockBytes);
            break;
        default:
            Widen4(*this, staging, widened);
            Filter4(*this, widened, block);
            break;
        }
    }
}

void TSSE2IntFilter::VerticalPass(uint8_t* dst, const uint8_t* src, int32_t stripCount) const {
    const int32_t bpp = BytesPerPixel;
    if (bpp != 1 && bpp != 3 && bpp != 4) return;
    const ptrdiff_t blockStep = Vertical.PairStep;
    const __m128i zero = _mm_setzero_si128();
    for (int32_t y = 0; y < Vertical.OutputCount; ++y) {
        const TWeightEntry& entry = Vertical.Entries[size_t(y)];
        const uint32_t* w = entry.Pairs;
        const int32_t n = PairCount(w);
        const uint8_t* blocks = src + entry.Offset;
        uint8_t* out = dst + ptrdiff_t(y) * DestinationStride;
        int32_t s = 0;
        // Two strips a step: [16 x u8] of a pair block, r0b0 r1b0 r0b1 r1b1 .. r0b7 r1b7,
        // widened into [8 x i16] twice and summed into [4 x i32] bytes 0-3 and 4-7.
        for (; s + 2 <= stripCount; s += 2) {
            const uint8_t* p = blocks + 8 * s;
            __m128i sum0 = _mm_setzero_si128(), sum1 = _mm_setzero_si128();
            for (int32_t k = 0; k < n; ++k, p += blockStep) {
                const __m128i weight = Broadcast(w[k]);
                const __m128i bytes = _mm_load_si128(reinterpret_cast<const __m128i*>(p));
                sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), weight));
                sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), weight));
            }
            const __m128i words = _mm_packs_epi32(Descale(sum0), Descale(sum1));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * s), _mm_packus_epi16(words, words));
        }
        if (s < stripCount) {
            const uint8_t* p = blocks + 8 * s;
            __m128i sum = _mm_setzero_si128();
            for (int32_t k = 0; k < n; ++k, p += blockStep) {
                const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
                sum = _mm_add_epi32(sum, _mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), Broadcast(w[k])));
            }
            const __m128i words = _mm_packs_epi32(Descale(sum), zero);
            StoreWord(out + 4 * s, uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(words, words))));
        }
    }
}

}  // namespace qorvi
