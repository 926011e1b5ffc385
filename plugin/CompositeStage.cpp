#include "plugin/CompositeStage.h"

#include <utility>

namespace qorvi {

bool CompositeOverChecker(ImageBuffer& buffer, uint32_t colour1, uint32_t colour2, int32_t maxWidth,
                          int32_t maxHeight) {
    const BITMAPINFOHEADER& h = *buffer.Header;
    if (h.biBitCount != 32) return false;
    const int32_t width = h.biWidth, height = h.biHeight;
    const int32_t squareSize = width > maxWidth || height > maxHeight ? 16 : 8;
    UniqueImage composited = AllocateImage(3, width, height);
    if (!composited) return false;
    const TImageDesc out = DescribeRows(composited.get());
    CompositeOverChecker(buffer.Bits, out.Bits, out.Stride, width, height, colour1, colour2,
                         squareSize);
    ReplaceImage(buffer, std::move(composited));
    return true;
}

}  // namespace qorvi
