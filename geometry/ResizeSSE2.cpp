// The SSE2 path of the resampling passes. Only TResizer's choice (the processor's SSE2 bit, or a
// forced path) calls into it, so the 32-bit build compiles just this file's functions for SSE2.
#include "base/UnalignedBytes.h"
#include "geometry/ResizeFilters.h"

#include <emmintrin.h>
#include <cstring>

#if defined(__GNUC__) && !defined(__clang__) && defined(__i386__)
#pragma GCC target("sse2")
#endif

namespace qorvi {

namespace {

inline __m128i LoadWord(const uint8_t* p) { return _mm_cvtsi32_si128(int(LoadU32(p))); }

// [4 x i32] the weight pair in every lane.
inline __m128i Broadcast(uint32_t pair) { return _mm_set1_epi32(int(pair)); }

// (sum + 8192) >> 14 in every lane.
inline __m128i Descale(__m128i sum) {
    return _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(WeightRounding)), WeightShift);
}

#if defined(__x86_64__)
// An empty statement that asks for every sum in a register of its own at the end of a step.
// Without it GCC 12 added each product into the product's register and copied it back, and
// spilled two of eight sums to the stack.
#define KeepInRegisters3(a, b, c) asm("" : "+x"(a), "+x"(b), "+x"(c))
#define KeepInRegisters4(a, b, c, d) asm("" : "+x"(a), "+x"(b), "+x"(c), "+x"(d))

#endif

// The source bytes one widening group takes, and the bytes its loads read from its start.
constexpr int32_t GroupBytes(int32_t bpp) { return bpp == 1 ? 4 : 2 * bpp; }
constexpr int32_t GroupLoad(int32_t bpp) { return bpp == 1 ? 4 : 8; }

// 1 byte per pixel, 4 rows a group, 16 bytes a source pair.
void Widen1(const uint8_t* const* rows, uint8_t* widened, int32_t first, int32_t end) {
    const uint8_t *s0 = rows[0], *s1 = rows[1], *s2 = rows[2], *s3 = rows[3];
    const __m128i zero = _mm_setzero_si128();
    for (int32_t g = first; g < end; ++g) {
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
        const SampleWeightList sample = SampleWeights(f.Horizontal, widened, x);
        const uint8_t* p = sample.Source;
        const uint32_t* w = sample.Pairs;
        int32_t n = sample.Count;
        __m128i sum0 = _mm_setzero_si128(), sum1 = _mm_setzero_si128();
        // Two weight pairs a step; [4 x i32] sums of rows 0 to 3.
        for (; n >= 2; n -= 2, w += 2, p += 32) {
            sum0 = _mm_add_epi32(sum0,
                                 _mm_madd_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(p)),
                                                Broadcast(w[0])));
            sum1 = _mm_add_epi32(
                sum1, _mm_madd_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(p + 16)),
                                     Broadcast(w[1])));
        }
        if (n != 0) {
            sum0 = _mm_add_epi32(sum0,
                                 _mm_madd_epi16(_mm_load_si128(reinterpret_cast<const __m128i*>(p)),
                                                Broadcast(w[0])));
        }
        const __m128i words =
            _mm_packs_epi32(Descale(_mm_add_epi32(sum0, sum1)), _mm_setzero_si128());
        // [16 x u8] r0 r1 r2 r3 ..
        const uint32_t bytes = uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
        StoreU16(block01 + 2 * x, bytes);
        StoreU16(block23 + 2 * x, bytes >> 16);
    }
}

// 3 bytes per pixel, 4 rows a group, 48 bytes a source pair.
void Widen3(const uint8_t* const* rows, uint8_t* widened, int32_t first, int32_t end) {
    const uint8_t *s0 = rows[0], *s1 = rows[1], *s2 = rows[2], *s3 = rows[3];
    const __m128i zero = _mm_setzero_si128();
    // One row's pair: [16 x u8] p0c0 p0c1 p0c2 p1c0 p1c1 p1c2 ..; interleaved with itself moved
    // by a pixel it gives p0c0 p1c0 p0c1 p1c1 p0c2 p1c2, widened [4 x i32] the channel pairs.
    auto channelPairs = [zero](const uint8_t* p) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        return _mm_unpacklo_epi8(_mm_unpacklo_epi8(bytes, _mm_srli_epi64(bytes, 24)), zero);
    };
    for (int32_t k = first; k < end; ++k) {
        const __m128i a = channelPairs(s0 + 6 * k), b = channelPairs(s1 + 6 * k);
        const __m128i c = channelPairs(s2 + 6 * k), d = channelPairs(s3 + 6 * k);
        __m128i* out = reinterpret_cast<__m128i*>(widened + 48 * k);
        // [8 x i16] r0[2k]c0 r0[2k+1]c0 r1[2k]c0 r1[2k+1]c0 r0[2k]c1 r0[2k+1]c1 r1[2k]c1 ..
        _mm_store_si128(out, _mm_unpacklo_epi32(a, b));
        _mm_store_si128(out + 1, _mm_unpacklo_epi32(c, d));  // the same of rows 2 and 3
        // [8 x i16] r0[2k]c2 r0[2k+1]c2 r1[2k]c2 r1[2k+1]c2 r2[2k]c2 .. r3[2k+1]c2
        _mm_store_si128(out + 2,
                        _mm_unpacklo_epi64(_mm_unpackhi_epi32(a, b), _mm_unpackhi_epi32(c, d)));
    }
}

#if defined(__x86_64__)

// sum0..2 += the three [8 x i16] of each of n (at least 1) source pairs times its weight pair,
// two pairs a step, every sum and weight in a register of its own.
inline void SumPairs3(const __m128i* p, const uint32_t* w, int32_t n, __m128i& sum0, __m128i& sum1,
                      __m128i& sum2) {
    for (; n >= 2; n -= 2, w += 2, p += 6) {
        // [4 x i32] w[0] w[1] ..: each pair broadcast on its own
        const __m128i pairs = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(w));
        const __m128i first = _mm_shuffle_epi32(pairs, 0x00),
                      second = _mm_shuffle_epi32(pairs, 0x55);
        sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(_mm_load_si128(p), first));
        sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(_mm_load_si128(p + 1), first));
        sum2 = _mm_add_epi32(sum2, _mm_madd_epi16(_mm_load_si128(p + 2), first));
        sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(_mm_load_si128(p + 3), second));
        sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(_mm_load_si128(p + 4), second));
        sum2 = _mm_add_epi32(sum2, _mm_madd_epi16(_mm_load_si128(p + 5), second));
        KeepInRegisters3(sum0, sum1, sum2);
    }
    if (n != 0) {
        const __m128i weight = Broadcast(w[0]);
        sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(_mm_load_si128(p), weight));
        sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(_mm_load_si128(p + 1), weight));
        sum2 = _mm_add_epi32(sum2, _mm_madd_epi16(_mm_load_si128(p + 2), weight));
    }
}

#else

// sum0..2 += the three [8 x i16] of each of n (at least 1) source pairs times its weight pair,
// two pairs a step. Written out because the compiler, short of registers on 32-bit x86, copied
// every accumulator once more on each step.
inline void SumPairs3(const __m128i* p, const uint32_t* w, int32_t n, __m128i& sum0, __m128i& sum1,
                      __m128i& sum2) {
    __m128i weight, next, product;
    int32_t steps = n >> 1;
    if (steps != 0) {
        asm("1:\n\t"
            "movq (%[w]), %[next]\n\t"
            "pshufd $0, %[next], %[weight]\n\t"
            "pshufd $0x55, %[next], %[next]\n\t"
            "movdqa (%[p]), %[product]\n\t"
            "pmaddwd %[weight], %[product]\n\t"
            "paddd %[product], %[sum0]\n\t"
            "movdqa 16(%[p]), %[product]\n\t"
            "pmaddwd %[weight], %[product]\n\t"
            "paddd %[product], %[sum1]\n\t"
            "pmaddwd 32(%[p]), %[weight]\n\t"
            "paddd %[weight], %[sum2]\n\t"
            "movdqa 48(%[p]), %[product]\n\t"
            "pmaddwd %[next], %[product]\n\t"
            "paddd %[product], %[sum0]\n\t"
            "movdqa 64(%[p]), %[product]\n\t"
            "pmaddwd %[next], %[product]\n\t"
            "paddd %[product], %[sum1]\n\t"
            "pmaddwd 80(%[p]), %[next]\n\t"
            "paddd %[next], %[sum2]\n\t"
            "add $96, %[p]\n\t"
            "add $8, %[w]\n\t"
            "sub $1, %[steps]\n\t"
            "jnz 1b"
            : [sum0] "+x"(sum0), [sum1] "+x"(sum1), [sum2] "+x"(sum2), [p] "+r"(p), [w] "+r"(w),
              [steps] "+r"(steps), [weight] "=&x"(weight), [next] "=&x"(next),
              [product] "=&x"(product)
            :
            : "cc", "memory");
    }
    if (n & 1) {
        weight = Broadcast(w[0]);
        sum0 = _mm_add_epi32(sum0, _mm_madd_epi16(_mm_load_si128(p), weight));
        sum1 = _mm_add_epi32(sum1, _mm_madd_epi16(_mm_load_si128(p + 1), weight));
        sum2 = _mm_add_epi32(sum2, _mm_madd_epi16(_mm_load_si128(p + 2), weight));
    }
}

#endif

// Output x of rows 0 to 3 from its three descaled sums (laid out as in Filter3): 6 bytes at x in
// block01 (rows 0 and 1) and in block23.
inline void Store3(__m128i value0, __m128i value1, __m128i value2, uint8_t* block01,
                   uint8_t* block23, int32_t x) {
    // [16 x u8] r0c0 r1c0 r0c1 r1c1 | r2c0 r3c0 r2c1 r3c1 | r0c2 r1c2 r2c2 r3c2 | ..
    const __m128i bytes =
        _mm_packus_epi16(_mm_packs_epi32(value0, value1), _mm_packs_epi32(value2, value2));
    const uint32_t last = uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(bytes, 8)));
    StoreU32(block01 + 6 * x, uint32_t(_mm_cvtsi128_si32(bytes)));
    StoreU16(block01 + 6 * x + 4, last);
    StoreU32(block23 + 6 * x, uint32_t(_mm_cvtsi128_si32(_mm_srli_si128(bytes, 4))));
    StoreU16(block23 + 6 * x + 4, last >> 16);
}

void Filter3(const TFilter& f, const uint8_t* widened, uint8_t* block01, uint8_t* block23) {
    for (int32_t x = 0; x < f.Horizontal.OutputCount; ++x) {
        const SampleWeightList sample = SampleWeights(f.Horizontal, widened, x);
        // [4 x i32] r0c0 r1c0 r0c1 r1c1 | r2c0 r3c0 r2c1 r3c1 | r0c2 r1c2 r2c2 r3c2
        __m128i sum0 = _mm_setzero_si128(), sum1 = _mm_setzero_si128(), sum2 = _mm_setzero_si128();
        SumPairs3(reinterpret_cast<const __m128i*>(sample.Source), sample.Pairs, sample.Count, sum0,
                  sum1, sum2);
        Store3(Descale(sum0), Descale(sum1), Descale(sum2), block01, block23, x);
    }
}

// The widened pairs of one group of 3-byte rows, rounded up to whole 128-byte lines.
constexpr size_t Widened3Bytes(size_t width) { return (24 * width + 256 + 127) / 128 * 128; }

#if defined(__x86_64__)

// Rows of 3 bytes a pixel widened at a time: two groups, whose filter shares each weight.
constexpr int32_t WidenedRows3 = 8;

// Output x of rows 0 to 7, from two groups widened `second - first` bytes apart: one weight
// broadcast serves six multiply-adds, and the sums start at the rounding constant.
void Filter3Twice(const TFilter& f, const uint8_t* first, const uint8_t* second, uint8_t* block01,
                  uint8_t* block23, uint8_t* block45, uint8_t* block67) {
    const ptrdiff_t apart = (second - first) / 16;
    const __m128i rounding = _mm_set1_epi32(WeightRounding);
    for (int32_t x = 0; x < f.Horizontal.OutputCount; ++x) {
        const SampleWeightList sample = SampleWeights(f.Horizontal, first, x);
        const __m128i* p = reinterpret_cast<const __m128i*>(sample.Source);
        const __m128i* q = p + apart;
        const uint32_t* w = sample.Pairs;
        int32_t n = sample.Count;
        // [4 x i32] as in Filter3: a0..a2 of rows 0 to 3, b0..b2 of rows 4 to 7
        __m128i a0 = rounding, a1 = rounding, a2 = rounding;
        __m128i b0 = rounding, b1 = rounding, b2 = rounding;
        for (; n >= 2; n -= 2, w += 2, p += 6, q += 6) {
            const __m128i pairs = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(w));
            const __m128i v = _mm_shuffle_epi32(pairs, 0x00), u = _mm_shuffle_epi32(pairs, 0x55);
            a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_load_si128(p), v));
            a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_load_si128(p + 1), v));
            a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_load_si128(p + 2), v));
            b0 = _mm_add_epi32(b0, _mm_madd_epi16(_mm_load_si128(q), v));
            b1 = _mm_add_epi32(b1, _mm_madd_epi16(_mm_load_si128(q + 1), v));
            b2 = _mm_add_epi32(b2, _mm_madd_epi16(_mm_load_si128(q + 2), v));
            a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_load_si128(p + 3), u));
            a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_load_si128(p + 4), u));
            a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_load_si128(p + 5), u));
            b0 = _mm_add_epi32(b0, _mm_madd_epi16(_mm_load_si128(q + 3), u));
            b1 = _mm_add_epi32(b1, _mm_madd_epi16(_mm_load_si128(q + 4), u));
            b2 = _mm_add_epi32(b2, _mm_madd_epi16(_mm_load_si128(q + 5), u));
            KeepInRegisters3(a0, a1, a2);
            KeepInRegisters3(b0, b1, b2);
        }
        if (n != 0) {
            const __m128i v = Broadcast(w[0]);
            a0 = _mm_add_epi32(a0, _mm_madd_epi16(_mm_load_si128(p), v));
            a1 = _mm_add_epi32(a1, _mm_madd_epi16(_mm_load_si128(p + 1), v));
            a2 = _mm_add_epi32(a2, _mm_madd_epi16(_mm_load_si128(p + 2), v));
            b0 = _mm_add_epi32(b0, _mm_madd_epi16(_mm_load_si128(q), v));
            b1 = _mm_add_epi32(b1, _mm_madd_epi16(_mm_load_si128(q + 1), v));
            b2 = _mm_add_epi32(b2, _mm_madd_epi16(_mm_load_si128(q + 2), v));
        }
        Store3(_mm_srai_epi32(a0, WeightShift), _mm_srai_epi32(a1, WeightShift),
               _mm_srai_epi32(a2, WeightShift), block01, block23, x);
        Store3(_mm_srai_epi32(b0, WeightShift), _mm_srai_epi32(b1, WeightShift),
               _mm_srai_epi32(b2, WeightShift), block45, block67, x);
    }
}

#else

constexpr int32_t WidenedRows3 = 4;

#endif

// 4 bytes per pixel, 2 rows a group, 32 bytes a source pair.
void Widen4(const uint8_t* const* rows, uint8_t* widened, int32_t first, int32_t end) {
    const uint8_t *s0 = rows[0], *s1 = rows[1];
    const __m128i zero = _mm_setzero_si128();
    // [16 x u8] p0c0 .. p0c3 p1c0 .. p1c3, interleaved with its upper half and widened:
    // [4 x i32] the pairs of channels 0 to 3.
    auto channelPairs = [zero](const uint8_t* p) {
        const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        return _mm_unpacklo_epi8(_mm_unpacklo_epi8(bytes, _mm_srli_epi64(bytes, 32)), zero);
    };
    for (int32_t k = first; k < end; ++k) {
        const __m128i a = channelPairs(s0 + 8 * k), b = channelPairs(s1 + 8 * k);
        __m128i* out = reinterpret_cast<__m128i*>(widened + 32 * k);
        // [8 x i16] r0[2k]c0 r0[2k+1]c0 r1[2k]c0 r1[2k+1]c0 r0[2k]c1 .. r1[2k+1]c1, then c2 and c3
        _mm_store_si128(out, _mm_unpacklo_epi32(a, b));
        _mm_store_si128(out + 1, _mm_unpackhi_epi32(a, b));
    }
}

void Filter4(const TFilter& f, const uint8_t* widened, uint8_t* block) {
    for (int32_t x = 0; x < f.Horizontal.OutputCount; ++x) {
        const SampleWeightList sample = SampleWeights(f.Horizontal, widened, x);
        const __m128i* p = reinterpret_cast<const __m128i*>(sample.Source);
        const uint32_t* w = sample.Pairs;
        const int32_t n = sample.Count;
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

#if defined(__x86_64__)

// low, high += the two halves of 16 bytes of a pair block, widened into [8 x i16], times the
// block's weight pair.
inline void SumBlock(__m128i bytes, __m128i weight, __m128i& low, __m128i& high) {
    const __m128i zero = _mm_setzero_si128();
    low = _mm_add_epi32(low, _mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), weight));
    high = _mm_add_epi32(high, _mm_madd_epi16(_mm_unpackhi_epi8(bytes, zero), weight));
}

// Four strips of every destination row: 32 bytes of each of n (at least 1) pair blocks, `step`
// bytes apart from `p`, widened into [8 x i16] four times and summed with the block's weight
// pair into [4 x i32] bytes 0-3, 4-7, 8-11 and 12-15.
inline void SumStrips4(const uint8_t* p, ptrdiff_t step, const uint32_t* w, int32_t n,
                       __m128i* sums) {
    __m128i sum0 = _mm_setzero_si128(), sum1 = _mm_setzero_si128();
    __m128i sum2 = _mm_setzero_si128(), sum3 = _mm_setzero_si128();
    for (int32_t k = 0; k < n; ++k, p += step) {
        const __m128i weight = Broadcast(w[k]);
        SumBlock(_mm_load_si128(reinterpret_cast<const __m128i*>(p)), weight, sum0, sum1);
        SumBlock(_mm_load_si128(reinterpret_cast<const __m128i*>(p + 16)), weight, sum2, sum3);
        KeepInRegisters4(sum0, sum1, sum2, sum3);
    }
    sums[0] = sum0, sums[1] = sum1, sums[2] = sum2, sums[3] = sum3;
}

#else

// Four strips of every destination row: 32 bytes of each of n (at least 1) pair blocks, `step`
// bytes apart from `p`, widened into [8 x i16] four times and summed with the block's weight
// pair into [4 x i32] bytes 0-3, 4-7, 8-11 and 12-15. Written out: the compiler had no
// register left to keep all four sums in.
inline void SumStrips4(const uint8_t* p, ptrdiff_t step, const uint32_t* w, int32_t n,
                       __m128i* sums) {
    __m128i sum0, sum1, sum2, sum3, zero, weight, low, high;
    asm("pxor %[sum0], %[sum0]\n\t"
        "pxor %[sum1], %[sum1]\n\t"
        "pxor %[sum2], %[sum2]\n\t"
        "pxor %[sum3], %[sum3]\n\t"
        "pxor %[zero], %[zero]\n\t"
        "1:\n\t"
        "movd (%[w]), %[weight]\n\t"
        "pshufd $0, %[weight], %[weight]\n\t"
        "movdqa (%[p]), %[low]\n\t"
        "movdqa %[low], %[high]\n\t"
        "punpcklbw %[zero], %[low]\n\t"
        "punpckhbw %[zero], %[high]\n\t"
        "pmaddwd %[weight], %[low]\n\t"
        "pmaddwd %[weight], %[high]\n\t"
        "paddd %[low], %[sum0]\n\t"
        "paddd %[high], %[sum1]\n\t"
        "movdqa 16(%[p]), %[low]\n\t"
        "movdqa %[low], %[high]\n\t"
        "punpcklbw %[zero], %[low]\n\t"
        "punpckhbw %[zero], %[high]\n\t"
        "pmaddwd %[weight], %[low]\n\t"
        "pmaddwd %[weight], %[high]\n\t"
        "paddd %[low], %[sum2]\n\t"
        "paddd %[high], %[sum3]\n\t"
        "add %[step], %[p]\n\t"
        "add $4, %[w]\n\t"
        "sub $1, %[n]\n\t"
        "jnz 1b"
        : [sum0] "=&x"(sum0), [sum1] "=&x"(sum1), [sum2] "=&x"(sum2), [sum3] "=&x"(sum3),
          [p] "+r"(p), [w] "+r"(w), [n] "+r"(n), [weight] "=&x"(weight), [low] "=&x"(low),
          [high] "=&x"(high), [zero] "=&x"(zero)
        : [step] "r"(step)
        : "cc", "memory");
    sums[0] = sum0, sums[1] = sum1, sums[2] = sum2, sums[3] = sum3;
}

#endif

}  // namespace

size_t TSSE2IntFilter::ScratchSize() const {
    const size_t width = size_t(Horizontal.InputCount);
    switch (BytesPerPixel) {
    case 1: return 8 * width + 256;
    case 3: return size_t(WidenedRows3 / 4) * Widened3Bytes(width);
    default: return 16 * width + 128;
    }
}

void TSSE2IntFilter::HorizontalPass(uint8_t* dst, const uint8_t* src, uint8_t* widened,
                                    uint8_t* staging, int32_t rowCount) const {
    const int32_t bpp = BytesPerPixel;
    if (!IsResampledPixelSize(bpp)) return;
    const int32_t groupRows = bpp == 4 ? 2 : 4;
    const ptrdiff_t blockBytes = 2 * ptrdiff_t(IntermediateStride);
    const int32_t groups = Horizontal.WideningGroups;
    const size_t rowBytes = size_t(Horizontal.InputCount) * size_t(bpp);
    // The groups whose loads stay inside the row are widened where the row lies; the rest read
    // a copy of the row's end, as the loads may run a few bytes past it (past the picture, for
    // its last row).
    const int64_t inside = (int64_t(rowBytes) - GroupLoad(bpp)) / GroupBytes(bpp) + 1;
    const int32_t direct =
        int64_t(rowBytes) < GroupLoad(bpp) ? 0 : int32_t(inside < groups ? inside : groups);
    const size_t tail = size_t(direct) * size_t(GroupBytes(bpp));
    // Widens the group of rows from `row` into `into`.
    auto widen = [&](int32_t row, uint8_t* into) {
        const int32_t real = rowCount - row < groupRows ? rowCount - row : groupRows;
        const uint8_t* stagedRows[4];
        for (int32_t r = 0; r < 4; ++r) stagedRows[r] = staging + ptrdiff_t(r) * StagingPitch;
        const uint8_t* rows[4] = {stagedRows[0], stagedRows[1], stagedRows[2], stagedRows[3]};
        if (real == groupRows) {
            for (int32_t r = 0; r < groupRows; ++r) {
                rows[r] = src + ptrdiff_t(row + r) * SourceStride;
                std::memcpy(staging + ptrdiff_t(r) * StagingPitch + tail, rows[r] + tail,
                            rowBytes - tail);
            }
        } else {
            // The rows a short last group lacks keep what the staging buffer held; their
            // results land in intermediate rows past the picture that no weight reads.
            for (int32_t r = 0; r < real; ++r)
                std::memcpy(staging + ptrdiff_t(r) * StagingPitch,
                            src + ptrdiff_t(row + r) * SourceStride, rowBytes);
        }
        const int32_t split = real == groupRows ? direct : 0;
        switch (bpp) {
        case 1:
            Widen1(rows, into, 0, split);
            Widen1(stagedRows, into, split, groups);
            break;
        case 3:
            Widen3(rows, into, 0, split);
            Widen3(stagedRows, into, split, groups);
            break;
        default:
            Widen4(rows, into, 0, split);
            Widen4(stagedRows, into, split, groups);
            break;
        }
    };
    for (int32_t row = 0; row < rowCount; row += groupRows) {
        uint8_t* block = dst + ptrdiff_t(row) * IntermediateStride;
#if defined(__x86_64__)
        if (bpp == 3 && rowCount - row >= 2 * groupRows) {
            // Each group is widened whole before the next one uses the staging rows.
            uint8_t* second = widened + Widened3Bytes(size_t(Horizontal.InputCount));
            widen(row, widened);
            widen(row + groupRows, second);
            Filter3Twice(*this, widened, second, block, block + blockBytes, block + 2 * blockBytes,
                         block + 3 * blockBytes);
            row += groupRows;
            continue;
        }
#endif
        widen(row, widened);
        switch (bpp) {
        case 1: Filter1(*this, widened, block, block + blockBytes); break;
        case 3: Filter3(*this, widened, block, block + blockBytes); break;
        default: Filter4(*this, widened, block); break;
        }
    }
}

void TSSE2IntFilter::VerticalPass(uint8_t* dst, const uint8_t* src, int32_t stripCount) const {
    if (!IsResampledPixelSize(BytesPerPixel)) return;
    const ptrdiff_t blockStep = Vertical.PairStep;
    const __m128i zero = _mm_setzero_si128();
    for (int32_t y = 0; y < Vertical.OutputCount; ++y) {
        const auto [blocks, w, n] = SampleWeights(Vertical, src, y);
        uint8_t* out = dst + ptrdiff_t(y) * DestinationStride;
        int32_t s = 0;
#if defined(__x86_64__)
        // Eight strips a step: 64 bytes of each pair block, its eight sums held in registers.
        for (; s + 8 <= stripCount; s += 8) {
            const uint8_t* p = blocks + 8 * s;
            __m128i sum0 = _mm_setzero_si128(), sum1 = _mm_setzero_si128();
            __m128i sum2 = _mm_setzero_si128(), sum3 = _mm_setzero_si128();
            __m128i sum4 = _mm_setzero_si128(), sum5 = _mm_setzero_si128();
            __m128i sum6 = _mm_setzero_si128(), sum7 = _mm_setzero_si128();
            for (int32_t k = 0; k < n; ++k, p += blockStep) {
                const __m128i weight = Broadcast(w[k]);
                const __m128i* v = reinterpret_cast<const __m128i*>(p);
                SumBlock(_mm_load_si128(v), weight, sum0, sum1);
                SumBlock(_mm_load_si128(v + 1), weight, sum2, sum3);
                SumBlock(_mm_load_si128(v + 2), weight, sum4, sum5);
                SumBlock(_mm_load_si128(v + 3), weight, sum6, sum7);
                KeepInRegisters4(sum0, sum1, sum2, sum3);
                KeepInRegisters4(sum4, sum5, sum6, sum7);
            }
            const __m128i words0 = _mm_packs_epi32(Descale(sum0), Descale(sum1));
            const __m128i words1 = _mm_packs_epi32(Descale(sum2), Descale(sum3));
            const __m128i words2 = _mm_packs_epi32(Descale(sum4), Descale(sum5));
            const __m128i words3 = _mm_packs_epi32(Descale(sum6), Descale(sum7));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * s),
                             _mm_packus_epi16(words0, words1));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * s + 16),
                             _mm_packus_epi16(words2, words3));
        }
#endif
        for (; s + 4 <= stripCount; s += 4) {
            __m128i sums[4];
            SumStrips4(blocks + 8 * s, blockStep, w, n, sums);
            const __m128i low = _mm_packs_epi32(Descale(sums[0]), Descale(sums[1]));
            const __m128i high = _mm_packs_epi32(Descale(sums[2]), Descale(sums[3]));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * s), _mm_packus_epi16(low, high));
        }
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
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 4 * s),
                             _mm_packus_epi16(words, words));
        }
        if (s < stripCount) {
            const uint8_t* p = blocks + 8 * s;
            __m128i sum = _mm_setzero_si128();
            for (int32_t k = 0; k < n; ++k, p += blockStep) {
                const __m128i bytes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
                sum = _mm_add_epi32(
                    sum, _mm_madd_epi16(_mm_unpacklo_epi8(bytes, zero), Broadcast(w[k])));
            }
            const __m128i words = _mm_packs_epi32(Descale(sum), zero);
            StoreU32(out + 4 * s, uint32_t(_mm_cvtsi128_si32(_mm_packus_epi16(words, words))));
        }
    }
}

}  // namespace qorvi
