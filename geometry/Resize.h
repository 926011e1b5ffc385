// Resampling: TResizer shrinks an image of 1, 3 or 4 bytes per pixel with a separable filter in
// 16-bit fixed point (the passes in ResizeFilters.h, the weights in ResizeWeights.h), spreading
// both passes over the worker thread group (MultiThread.h) in small portions.
//
// The pass object is chosen once per resizer, at the SIMD level of the processor-feature probe
// (base/ProcessorFeatures.h: SSE2, MMX or scalar, or a lower one QORVI_SIMD names; the 64-bit
// build has no MMX path and takes the scalar one for that level); every path gives the same
// bytes. The mode selects the filter: 0 area average, 1 to 3 Lanczos of radius 2 to 4, 4 Spline16,
// 5 Spline36, any other value area average.
//
// Until the first SetMode a resizer has no filter and ResizeImage does nothing. It only
// shrinks: same or larger sizes (either axis), sizes below 1, a stride shorter than a row and
// other pixel sizes return at once with nothing changed. Weight tables, scratch and an
// intermediate buffer of up to KeptIntermediateBytes are kept per geometry. Failure:
// std::bad_alloc for any buffer (the destination may then be partly written and `desc` partly
// updated); a null destination throws it after the horizontal pass. Calls must not overlap each
// other or SetMode, on any resizer: the resizers share one thread group, and the plug-in holds
// ResizeLock around both.
#pragma once

#include "base/ProcessorFeatures.h"
#include "geometry/ImageDesc.h"
#include "geometry/ResizeFilters.h"
#include "geometry/ResizeWeights.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace qorvi {

// The path of SelectedSimdLevel: the one a resizer takes unless it is given another.
FilterPath DefaultFilterPath();

std::unique_ptr<TWeightSetter> MakeWeightSetter(uint32_t mode);

class TResizer {
public:
    explicit TResizer(int32_t threadCount) : TResizer(threadCount, DefaultFilterPath()) {}
    TResizer(int32_t threadCount, FilterPath path);
    ~TResizer();
    TResizer(const TResizer&) = delete;
    TResizer& operator=(const TResizer&) = delete;

    void SetMode(uint32_t mode);
    // Resamples the image `desc` describes into `dest` (rows newWidth x BytesPerPixel rounded up
    // to 4 apart) and makes `desc` describe the result.
    void ResizeImage(TImageDesc& desc, uint8_t* dest, int32_t newWidth, int32_t newHeight);

    FilterPath Path() const { return Filter->Path(); }
    int32_t ThreadCount() const { return ThreadCount_; }

private:
    static void HorizontalJob(int32_t index, int32_t count, void* data);
    static void VerticalJob(int32_t index, int32_t count, void* data);
    void Rebuild(const TImageDesc& desc, int32_t newWidth, int32_t newHeight);

    std::unique_ptr<TFilter> Filter;
    std::unique_ptr<TWeightSetter> WeightSetter;
    int32_t ThreadCount_;
    std::vector<uint8_t*> ScratchBuffers;  // worker w: 2w widened, 2w + 1 staging
    AlignedBlock ScratchBlock;
    // The intermediate buffer of the current geometry, kept for the next picture of that size
    // when it is no larger than KeptIntermediateBytes: fresh memory costs a page fault per 4 KB
    // on first touch, a third of the whole resize of a photo.
    AlignedBlock KeptIntermediate;
};

inline constexpr size_t KeptIntermediateBytes = size_t{32} << 20;

// The thread group of all resizers, created by the first resize that reaches its passes with
// that resizer's thread count. A worker whose index is not below a resizer's thread count takes
// no share of that resizer's work. FreeResizeThreadGroup ends it (after the resizers, at
// shut-down); on process exit, when its threads are gone already, pass true: the group is then
// left to the system.
void FreeResizeThreadGroup(bool processExit = false);
int32_t ResizeThreadGroupCount();  // 0 while there is none

}  // namespace qorvi
