#include "geometry/Resize.h"

#include "base/MultiThread.h"

#include <atomic>
#include <new>

namespace qorvi {

namespace {

std::unique_ptr<TMultiThread> ThreadGroup;

// Rows go out in portions of 8 (a multiple of every path's row group), columns in bands of 64
// strips (256 destination bytes), to whichever worker is free.
constexpr int32_t RowPortion = 8;
constexpr int32_t StripPortion = 64;

struct TResizeJob {
    const uint8_t* Source;
    uint8_t* Destination;
    const TResizer* Resizer;
    std::atomic<int32_t> Counter{0};
};

}  // namespace

FilterPath DefaultFilterPath() {
    switch (SelectedSimdLevel()) {
    case SimdLevel::SSE2: return FilterPath::SSE2;
    case SimdLevel::MMX:
        // The 64-bit build has no MMX path: a processor that has SSE2 only gets here when MMX was
        // asked for, and then takes the path below it.
        if (FilterPathBuilt(FilterPath::MMX)) return FilterPath::MMX;
        break;
    case SimdLevel::Scalar: break;
    }
    return FilterPath::Scalar;
}

std::unique_ptr<TWeightSetter> MakeWeightSetter(uint32_t mode) {
    switch (mode) {
    case 1: return std::make_unique<TLanczos>(2);
    case 2: return std::make_unique<TLanczos>(3);
    case 3: return std::make_unique<TLanczos>(4);
    case 4: return std::make_unique<TSpline16>();
    case 5: return std::make_unique<TSpline36>();
    default: return std::make_unique<TAreaAverage>();
    }
}

TResizer::TResizer(int32_t threadCount, FilterPath path)
    : Filter(MakeFilter(path)),
      ThreadCount_(threadCount < 1 ? 1 : threadCount),
      ScratchBuffers(2 * size_t(ThreadCount_), nullptr) {}

TResizer::~TResizer() = default;

void TResizer::SetMode(uint32_t mode) {
    WeightSetter = MakeWeightSetter(mode);
    Filter->ClearTables();
}

void TResizer::Rebuild(const TImageDesc& desc, int32_t newWidth, int32_t newHeight) {
    ScratchBlock = AlignedBlock();
    KeptIntermediate = AlignedBlock();
    std::fill(ScratchBuffers.begin(), ScratchBuffers.end(), nullptr);
    Filter->ClearTables();
    try {
        Filter->Configure(desc, newWidth, newHeight);
        WeightSetter->SetWeights(Filter->Horizontal);
        WeightSetter->SetWeights(Filter->Vertical);
        uint64_t size = Filter->ScratchSize();
        if (size != 0) {
            size = (size + 127) / 128 * 128;
            const uint64_t total = size * 2 * uint64_t(ThreadCount_);
            if (total > SIZE_MAX) throw std::bad_alloc();
            ScratchBlock = AlignedBlock(size_t(total), 128);
            for (size_t k = 0; k < ScratchBuffers.size(); ++k)
                ScratchBuffers[k] = ScratchBlock.get() + k * size;
        }
    } catch (...) {
        // Half-built tables must not pass for this geometry's next time.
        Filter->ClearTables();
        throw;
    }
}

void TResizer::ResizeImage(TImageDesc& desc, uint8_t* dest, int32_t newWidth, int32_t newHeight) {
    if (newWidth == desc.Width && newHeight == desc.Height) return;
    if (uint32_t(newWidth) > uint32_t(desc.Width) || uint32_t(newHeight) > uint32_t(desc.Height))
        return;
    const int32_t bpp = desc.BytesPerPixel;
    if (newWidth < 1 || newHeight < 1 || (bpp != 1 && bpp != 3 && bpp != 4)) return;
    // Rows are read whole: a stride shorter than a row would read past the picture.
    if (desc.Bits == nullptr || int64_t{desc.Stride} < int64_t{desc.Width} * bpp) return;
    if (!WeightSetter) return;

    TFilter& filter = *Filter;
    if (filter.Horizontal.InputCount != desc.Width || filter.Vertical.InputCount != desc.Height ||
        filter.Horizontal.OutputCount != newWidth || filter.Vertical.OutputCount != newHeight ||
        filter.BytesPerPixel != bpp || filter.SourceStride != desc.Stride)
        Rebuild(desc, newWidth, newHeight);

    // Only this geometry has used a kept buffer, so the bytes no pass writes (past each
    // intermediate row) are still the zeros they started as, and the destination's row ends
    // come out zero every time.
    const size_t intermediateBytes = filter.IntermediateSize();
    AlignedBlock fresh;
    uint8_t* intermediate = KeptIntermediate.get();
    if (intermediate == nullptr) {
        fresh = AlignedBlock(intermediateBytes, 4096);
        intermediate = fresh.get();
    }
    if (!ThreadGroup) ThreadGroup = std::make_unique<TMultiThread>(ThreadCount_);

    if (ThreadCount_ == 1) {
        filter.HorizontalPass(intermediate, desc.Bits, ScratchBuffers[0], ScratchBuffers[1],
                              desc.Height);
    } else {
        TResizeJob job{desc.Bits, intermediate, this};
        ThreadGroup->Run(&TResizer::HorizontalJob, &job);
    }

    desc.Width = newWidth;
    desc.Stride = filter.DestinationStride;
    desc.Bits = dest;
    if (dest == nullptr) throw std::bad_alloc();

    if (ThreadCount_ == 1) {
        filter.VerticalPass(dest, intermediate, filter.Vertical.Samples);
    } else {
        TResizeJob job{intermediate, dest, this};
        ThreadGroup->Run(&TResizer::VerticalJob, &job);
    }
    desc.Height = newHeight;
    if (fresh.get() != nullptr && intermediateBytes <= KeptIntermediateBytes)
        KeptIntermediate = std::move(fresh);
}

void TResizer::HorizontalJob(int32_t index, int32_t, void* data) {
    auto& job = *static_cast<TResizeJob*>(data);
    const TResizer& resizer = *job.Resizer;
    // A group made by a resizer with more threads has workers this one has no scratch for.
    if (index >= resizer.ThreadCount_) return;
    const TFilter& filter = *resizer.Filter;
    uint8_t* widened = resizer.ScratchBuffers[2 * size_t(index)];
    uint8_t* staging = resizer.ScratchBuffers[2 * size_t(index) + 1];
    for (;;) {
        const int32_t row = job.Counter.fetch_add(RowPortion);
        const int32_t left = filter.Horizontal.Lines - row;
        if (left <= 0) break;
        filter.HorizontalPass(job.Destination + ptrdiff_t(row) * filter.HorizontalDestinationStep,
                              job.Source + ptrdiff_t(row) * filter.HorizontalSourceStep, widened,
                              staging, left < RowPortion ? left : RowPortion);
    }
}

void TResizer::VerticalJob(int32_t index, int32_t, void* data) {
    auto& job = *static_cast<TResizeJob*>(data);
    const TResizer& resizer = *job.Resizer;
    if (index >= resizer.ThreadCount_) return;
    const TFilter& filter = *resizer.Filter;
    for (;;) {
        const int32_t strip = job.Counter.fetch_add(StripPortion);
        const int32_t left = filter.Vertical.Samples - strip;
        if (left <= 0) break;
        filter.VerticalPass(job.Destination + ptrdiff_t(strip) * filter.VerticalDestinationStep,
                            job.Source + ptrdiff_t(strip) * filter.VerticalSourceStep,
                            left < StripPortion ? left : StripPortion);
    }
}

void FreeResizeThreadGroup(bool processExit) {
    if (processExit) {
        (void)ThreadGroup.release();
    } else {
        ThreadGroup.reset();
    }
}

int32_t ResizeThreadGroupCount() { return ThreadGroup ? ThreadGroup->Count() : 0; }

}  // namespace qorvi
