#include "engine/MatrixShaper.h"

#include "base/ProcessorFeatures.h"

#include <lcms2.h>
#include <lcms2_plugin.h>

#if defined(__i386__) || defined(__x86_64__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

namespace qorvi::engine {

namespace {

// Linear values at or below 2^-32 encode as 0: no tone curve a profile carries rises a tenth of
// a level there. Above it, one table entry per power of two and 2^-10 of mantissa: an entry
// spans a relative step of 2^-10, less than a fifth of a level for any curve of gamma up to 3.
constexpr uint32_t LowestExponent = 127 - 32;
constexpr uint32_t MantissaBits = 10;
constexpr uint32_t LowestBits = LowestExponent << 23;
constexpr uint32_t FloatEntries = (32u << MantissaBits) + 1;  // the last one is 1.0 itself
// Tabulated curves: Little CMS evaluates them at the linear value rounded to 16 bits.
constexpr uint32_t WordEntries = 65536;

struct MatrixShaperTables {
    float Input[3][256];  // linear value of each byte, per channel R, G, B
    float Matrix[3][4];   // output channel c = row c . (r, g, b) + offset
    bool WordIndexed;     // the output tables are indexed by 16-bit values, not float bits
    uint8_t Output[3][WordEntries];
};

inline uint8_t EncodeFloat(const uint8_t* table, float value) {
    const float lowest = 2.3283064e-10f;      // 2^-32: entry 0
    value = value > lowest ? value : lowest;  // NaN too
    value = value < 1.0f ? value : 1.0f;      // the last entry
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return table[(bits - LowestBits) >> (23 - MantissaBits)];
}

inline uint8_t EncodeWord(const uint8_t* table, float value) {
    value = value > 0.0f ? value : 0.0f;
    value = value < 1.0f ? value : 1.0f;
    return table[static_cast<uint32_t>(value * 65535.0f + 0.5f)];
}

template <bool WordIndexed>
inline void ConvertRows(const MatrixShaperTables& k, const uint8_t* in, uint8_t* out,
                        uint32_t width, uint32_t rows, uint32_t inStride, uint32_t outStride) {
    for (uint32_t y = 0; y < rows; ++y, in += inStride, out += outStride) {
        const uint8_t* p = in;
        uint8_t* q = out;
        for (uint32_t x = 0; x < width; ++x, p += 3, q += 3) {
            // Memory order B, G, R; the pipeline's channels are R, G, B.
            const float r = k.Input[0][p[2]], g = k.Input[1][p[1]], b = k.Input[2][p[0]];
            float o[3];
            for (int c = 0; c < 3; ++c)
                o[c] =
                    k.Matrix[c][0] * r + k.Matrix[c][1] * g + k.Matrix[c][2] * b + k.Matrix[c][3];
            if constexpr (WordIndexed) {
                q[2] = EncodeWord(k.Output[0], o[0]);
                q[1] = EncodeWord(k.Output[1], o[1]);
                q[0] = EncodeWord(k.Output[2], o[2]);
            } else {
                q[2] = EncodeFloat(k.Output[0], o[0]);
                q[1] = EncodeFloat(k.Output[1], o[1]);
                q[0] = EncodeFloat(k.Output[2], o[2]);
            }
        }
    }
}

#if defined(__i386__) || defined(__x86_64__)
// The same arithmetic, a pixel at a time in the lanes of SSE registers:
// [4 x f32] (out0, out1, out2, unused) = r * column0 + g * column1 + b * column2 + offset.
template <bool WordIndexed>
__attribute__((target("sse2"))) void ConvertRowsSSE2(const MatrixShaperTables& k, const uint8_t* in,
                                                     uint8_t* out, uint32_t width, uint32_t rows,
                                                     uint32_t inStride, uint32_t outStride) {
    const __m128 column0 = _mm_setr_ps(k.Matrix[0][0], k.Matrix[1][0], k.Matrix[2][0], 0);
    const __m128 column1 = _mm_setr_ps(k.Matrix[0][1], k.Matrix[1][1], k.Matrix[2][1], 0);
    const __m128 column2 = _mm_setr_ps(k.Matrix[0][2], k.Matrix[1][2], k.Matrix[2][2], 0);
    const __m128 offset = _mm_setr_ps(k.Matrix[0][3], k.Matrix[1][3], k.Matrix[2][3], 0);
    // The clamps that also make the table index branch-free: the lowest value gives entry 0,
    // 1.0 the last one. max and min take the bound when a lane is NaN.
    const __m128 low = WordIndexed ? _mm_setzero_ps() : _mm_set1_ps(2.3283064e-10f);
    const __m128 high = _mm_set1_ps(1.0f);
    const __m128 scale = _mm_set1_ps(65535.0f), half = _mm_set1_ps(0.5f);
    const __m128i lowestBits = _mm_set1_epi32(int(LowestBits));
    alignas(16) int32_t index[4];
    for (uint32_t y = 0; y < rows; ++y, in += inStride, out += outStride) {
        const uint8_t* p = in;
        uint8_t* q = out;
        for (uint32_t x = 0; x < width; ++x, p += 3, q += 3) {
            const __m128 r = _mm_load1_ps(&k.Input[0][p[2]]);
            const __m128 g = _mm_load1_ps(&k.Input[1][p[1]]);
            const __m128 b = _mm_load1_ps(&k.Input[2][p[0]]);
            __m128 v = _mm_add_ps(_mm_add_ps(_mm_mul_ps(r, column0), _mm_mul_ps(g, column1)),
                                  _mm_add_ps(_mm_mul_ps(b, column2), offset));
            v = _mm_min_ps(_mm_max_ps(v, low), high);
            __m128i i;
            if constexpr (WordIndexed)
                i = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(v, scale), half));
            else
                i = _mm_srli_epi32(_mm_sub_epi32(_mm_castps_si128(v), lowestBits),
                                   23 - MantissaBits);
            _mm_store_si128(reinterpret_cast<__m128i*>(index), i);
            q[2] = k.Output[0][index[0]];
            q[1] = k.Output[1][index[1]];
            q[0] = k.Output[2][index[2]];
        }
    }
}

#endif

// Tests run the plain path on processors that have SSE2.
std::atomic<bool> ScalarOnly{false};

void Run(struct _cmstransform_struct* transform, const void* input, void* output,
         cmsUInt32Number width, cmsUInt32Number rows, const cmsStride* stride) {
    const auto& k = *static_cast<const MatrixShaperTables*>(_cmsGetTransformUserData(transform));
    const auto* in = static_cast<const uint8_t*>(input);
    auto* out = static_cast<uint8_t*>(output);
#if defined(__i386__) || defined(__x86_64__)
    if (MatrixShaperUsesSSE2()) {
        if (k.WordIndexed)
            ConvertRowsSSE2<true>(k, in, out, width, rows, stride->BytesPerLineIn,
                                  stride->BytesPerLineOut);
        else
            ConvertRowsSSE2<false>(k, in, out, width, rows, stride->BytesPerLineIn,
                                   stride->BytesPerLineOut);
        return;
    }
#endif
    if (k.WordIndexed)
        ConvertRows<true>(k, in, out, width, rows, stride->BytesPerLineIn, stride->BytesPerLineOut);
    else
        ConvertRows<false>(k, in, out, width, rows, stride->BytesPerLineIn,
                           stride->BytesPerLineOut);
}

void Free(cmsContext, void* data) { delete static_cast<MatrixShaperTables*>(data); }

bool IsCurves(const cmsStage* stage) {
    return cmsStageType(stage) == cmsSigCurveSetElemType && cmsStageInputChannels(stage) == 3 &&
           cmsStageOutputChannels(stage) == 3;
}
bool IsMatrix(const cmsStage* stage) {
    return cmsStageType(stage) == cmsSigMatrixElemType && cmsStageInputChannels(stage) == 3 &&
           cmsStageOutputChannels(stage) == 3;
}

cmsToneCurve* const* Curves(const cmsStage* stage) {
    return static_cast<const _cmsStageToneCurvesData*>(cmsStageData(stage))->TheCurves;
}

// Takes the pipeline when it is curves, matrices, curves (either set of curves may be missing).
std::unique_ptr<MatrixShaperTables> Analyse(const cmsPipeline* lut) {
    if (cmsPipelineInputChannels(lut) != 3 || cmsPipelineOutputChannels(lut) != 3) return nullptr;
    const cmsStage* stage = cmsPipelineGetPtrToFirstStage(lut);
    const cmsStage* input = nullptr;
    const cmsStage* output = nullptr;
    if (stage != nullptr && IsCurves(stage)) input = stage, stage = cmsStageNext(stage);

    // The matrices composed in double precision, as rows of (m0, m1, m2, offset).
    double m[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
    for (; stage != nullptr && IsMatrix(stage); stage = cmsStageNext(stage)) {
        const auto* data = static_cast<const _cmsStageMatrixData*>(cmsStageData(stage));
        double next[3][4];
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 4; ++j) {
                double sum = j == 3 && data->Offset != nullptr ? data->Offset[i] : 0.0;
                for (int l = 0; l < 3; ++l) sum += data->Double[i * 3 + l] * m[l][j];
                next[i][j] = sum;
            }
        }
        std::memcpy(m, next, sizeof m);
    }
    if (stage != nullptr && IsCurves(stage)) output = stage, stage = cmsStageNext(stage);
    if (stage != nullptr) return nullptr;

    std::unique_ptr<MatrixShaperTables> k(new (std::nothrow) MatrixShaperTables);
    if (!k) return nullptr;
    for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < 256; ++i) {
            const float v = i / 255.0f;
            k->Input[c][i] = input != nullptr ? cmsEvalToneCurveFloat(Curves(input)[c], v) : v;
        }
        for (int j = 0; j < 4; ++j) k->Matrix[c][j] = static_cast<float>(m[c][j]);
    }
    k->WordIndexed = false;
    if (output != nullptr)
        for (int c = 0; c < 3; ++c)
            if (cmsGetToneCurveParametricType(Curves(output)[c]) == 0) k->WordIndexed = true;

    auto encode = [&](int c, float linear) {
        const float v =
            output != nullptr ? cmsEvalToneCurveFloat(Curves(output)[c], linear) : linear;
        return static_cast<uint8_t>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
    };
    // The curves of the three channels are mostly one and the same: each table is made once.
    auto sameCurve = [&](int a, int b) {
        if (output == nullptr) return true;
        const cmsToneCurve* x = Curves(output)[a];
        const cmsToneCurve* y = Curves(output)[b];
        const int type = cmsGetToneCurveParametricType(x);
        if (x == y) return true;
        if (type == 0 || type != cmsGetToneCurveParametricType(y)) return false;
        return std::equal(cmsGetToneCurveParams(x), cmsGetToneCurveParams(x) + 10,
                          cmsGetToneCurveParams(y));
    };
    for (int c = 0; c < 3; ++c) {
        if (c > 0 && sameCurve(0, c)) {
            std::memcpy(k->Output[c], k->Output[0], sizeof k->Output[c]);
            continue;
        }
        if (k->WordIndexed) {
            for (uint32_t i = 0; i < WordEntries; ++i) k->Output[c][i] = encode(c, i / 65535.0f);
            continue;
        }
        // Each entry holds the curve at the middle of the values it stands for.
        const uint32_t step = 1u << (23 - MantissaBits);
        for (uint32_t i = 0; i + 1 < FloatEntries; ++i) {
            const uint32_t bits = LowestBits + i * step + step / 2;
            float middle;
            std::memcpy(&middle, &bits, sizeof middle);
            k->Output[c][i] = encode(c, middle);
        }
        k->Output[c][FloatEntries - 1] = encode(c, 1.0f);
    }
    return k;
}

cmsBool Factory(_cmsTransform2Fn* xform, void** userData, _cmsFreeUserDataFn* freeData,
                cmsPipeline** lut, cmsUInt32Number* inputFormat, cmsUInt32Number* outputFormat,
                cmsUInt32Number* flags) {
    if (*inputFormat != TYPE_BGR_8 || *outputFormat != TYPE_BGR_8) return FALSE;
    if (*flags & (cmsFLAGS_GAMUTCHECK | cmsFLAGS_SOFTPROOFING | cmsFLAGS_NULLTRANSFORM))
        return FALSE;
    std::unique_ptr<MatrixShaperTables> kernel = Analyse(*lut);
    if (!kernel) return FALSE;
    *xform = Run;
    *userData = kernel.release();
    *freeData = Free;
    return TRUE;
}

cmsPluginTransform Plugin = {{cmsPluginMagicNumber, LCMS_VERSION, cmsPluginTransformSig, nullptr},
                             {.xform = Factory}};

}  // namespace

void UseScalarMatrixShaper(bool scalar) noexcept { ScalarOnly = scalar; }

bool MatrixShaperUsesSSE2() noexcept {
#if defined(__i386__) || defined(__x86_64__)
    // The level is read once; the switch is a relaxed load: both cost nothing per call.
    static const bool sse2 = SelectedSimdLevel() == SimdLevel::SSE2;
    return sse2 && !ScalarOnly.load(std::memory_order_relaxed);
#else
    return false;
#endif
}

void* MatrixShaperPlugin() noexcept { return &Plugin; }

}  // namespace qorvi::engine
