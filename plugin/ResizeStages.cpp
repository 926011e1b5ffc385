#include "plugin/ResizeStages.h"

#include "geometry/Decimation.h"
#include "geometry/OutputSize.h"

namespace qorvi {

bool NormalResize(TResizer& resizer, CriticalSection& resizeLock, ImageBuffer& buffer,
                  int32_t maxWidth, int32_t maxHeight) {
    TImageDesc desc = DescribeRows(buffer);
    int32_t width = desc.Width, height = desc.Height;
    FitToBox(width, height, maxWidth, maxHeight);
    UniqueImage resized = AllocateImage(desc.BytesPerPixel, width, height);
    if (!resized.get().Bits) return false;

    struct ReplaceOnExit {
        ImageBuffer& buffer;
        UniqueImage& resized;
        ~ReplaceOnExit() { ReplaceImage(buffer, std::move(resized)); }
    } replace{buffer, resized};
    // Taken after the allocation and left before the old buffer is freed: only the resize
    // itself runs under the lock.
    CriticalSectionGuard lock(resizeLock);
    resizer.ResizeImage(desc, resized.get().Bits, width, height);
    return true;
}

bool NearestNeighborResize(ImageBuffer& buffer, int32_t factor) {
    const TImageDesc source = DescribeRows(buffer);
    if (factor != 2 && factor != 4 && factor != 8) return false;
    if (source.BytesPerPixel != 1 && source.BytesPerPixel != 3) return false;
    UniqueImage decimated = AllocateImage(source.BytesPerPixel, DecimatedSize(source.Width, factor),
                                          DecimatedSize(source.Height, factor));
    if (!decimated.get().Bits) return false;
    DecimateRows(source, DescribeRows(decimated.get()), factor);
    ReplaceImage(buffer, std::move(decimated));
    return true;
}

}  // namespace qorvi
