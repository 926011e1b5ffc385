// The two passes of a resize in 16-bit fixed point, on 1, 3 or 4 bytes per pixel. Platform-free.
//
// The horizontal pass turns source rows into rows of the target width in an intermediate buffer
// that keeps rows 2p and 2p + 1 interleaved byte by byte in one block of two intermediate strides;
// the vertical pass turns the intermediate columns into destination rows, in 4-byte strips. Each
// result is clamp((sum of weight x sample + 8192) >> 14, 0, 255), the same on every path:
//   ScalarFilter   the reference: plain C++, reads the source rows as they are;
//   TMMXFilter      MMX, 4 rows of 1 byte or 2 rows of 3 and 4 bytes per horizontal group; not
//                   in the 64-bit build, where every processor has SSE2 (FilterPathBuilt);
//   TSSE2IntFilter  SSE2, 4 rows of 1 and 3 bytes or 2 rows of 4 bytes per group; in the 64-bit
//                   build two groups of 3-byte rows at a time, which share each weight.
// The SIMD paths widen a group's rows to 16-bit words in the layout their multiply-adds take
// (comments at each kernel show the lanes), from a staging copy of the rows (MMX), or of only
// what the loads could read past a row's end and of short groups (SSE2). Each worker gives its
// own two scratch buffers of ScratchSize() bytes, 128-byte aligned.
//
// Several threads may run the passes of one configured object at once on different rows or
// strips; Configure, the weight tables and ClearTables must not overlap them.
#pragma once

#include "geometry/ImageDesc.h"
#include "geometry/ResizeWeights.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace qorvi {

enum class FilterPath { Scalar, MMX, SSE2 };

// The pixel sizes the passes resample; with any other the passes write nothing.
inline bool IsResampledPixelSize(int32_t bpp) { return bpp == 1 || bpp == 3 || bpp == 4; }

class TFilter {
public:
    virtual ~TFilter() { ClearTables(); }

    virtual FilterPath Path() const = 0;
    // Bytes of each of a worker's two scratch buffers for the configured source.
    virtual size_t ScratchSize() const = 0;
    // The strides and both axes' counts, steps and kernel parameters; the weight tables come
    // afterwards. Throws std::bad_alloc when a stride would not fit 32 bits.
    virtual void Configure(const TImageDesc& desc, int32_t newWidth, int32_t newHeight);
    // `rowCount` source rows from `src`, a row whose index is a multiple of 8, into the
    // intermediate rows from `dst`.
    virtual void HorizontalPass(uint8_t* dst, const uint8_t* src, uint8_t* widened,
                                uint8_t* staging, int32_t rowCount) const = 0;
    // `stripCount` 4-byte strips of every destination row from `dst`, out of the intermediate
    // columns from `src` (the same strips, 8 bytes each, of every pair block).
    virtual void VerticalPass(uint8_t* dst, const uint8_t* src, int32_t stripCount) const = 0;
    // Releases both weight tables and zeroes both axes: the next resize configures anew.
    void ClearTables();

    // Bytes of the intermediate buffer for the configured geometry.
    size_t IntermediateSize() const;

    int32_t SourceStride = 0;
    int32_t IntermediateStride = 0;  // a multiple of 64, never of 1024
    int32_t DestinationStride = 0;   // target width x bytes per pixel, rounded up to 4
    int32_t StagingPitch = 0;        // source row bytes rounded up to 64
    int32_t BytesPerPixel = 0;
    int32_t HorizontalSourceStep = 0;
    int32_t HorizontalDestinationStep = 0;
    int32_t VerticalSourceStep = 0;       // per strip
    int32_t VerticalDestinationStep = 0;  // per strip
    TResizeParam Horizontal;
    TResizeParam Vertical;

protected:
    // What Configure sets beside the base fields: the pair step of the horizontal axis.
    virtual int32_t HorizontalPairStep() const = 0;
};

class ScalarFilter final : public TFilter {
public:
    FilterPath Path() const override { return FilterPath::Scalar; }
    size_t ScratchSize() const override { return 0; }
    void HorizontalPass(uint8_t* dst, const uint8_t* src, uint8_t* widened, uint8_t* staging,
                        int32_t rowCount) const override;
    void VerticalPass(uint8_t* dst, const uint8_t* src, int32_t stripCount) const override;

protected:
    // Pairs of source pixels as they lie in the source row.
    int32_t HorizontalPairStep() const override { return 2 * BytesPerPixel; }
};

class TMMXFilter final : public TFilter {
public:
    FilterPath Path() const override { return FilterPath::MMX; }
    size_t ScratchSize() const override;
    void HorizontalPass(uint8_t* dst, const uint8_t* src, uint8_t* widened, uint8_t* staging,
                        int32_t rowCount) const override;
    void VerticalPass(uint8_t* dst, const uint8_t* src, int32_t stripCount) const override;

protected:
    int32_t HorizontalPairStep() const override {
        return BytesPerPixel == 1 ? 16 : 8 * BytesPerPixel;
    }
};

class TSSE2IntFilter final : public TFilter {
public:
    FilterPath Path() const override { return FilterPath::SSE2; }
    size_t ScratchSize() const override;
    void HorizontalPass(uint8_t* dst, const uint8_t* src, uint8_t* widened, uint8_t* staging,
                        int32_t rowCount) const override;
    void VerticalPass(uint8_t* dst, const uint8_t* src, int32_t stripCount) const override;

protected:
    int32_t HorizontalPairStep() const override {
        return BytesPerPixel == 1 ? 16 : BytesPerPixel == 3 ? 48 : 32;
    }
};

// Whether this build has the kernels of `path` (the scalar path always). MakeFilter gives the
// scalar path for one it lacks.
bool FilterPathBuilt(FilterPath path);
std::unique_ptr<TFilter> MakeFilter(FilterPath path);

}  // namespace qorvi
