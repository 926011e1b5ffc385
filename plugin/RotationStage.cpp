#include "plugin/RotationStage.h"

#include "base/AlignedMemory.h"
#include "geometry/RotationKernels.h"

#include <utility>

namespace qorvi {

void MirrorRows(ImageBuffer& buffer) { MirrorRows(DescribeRows(buffer)); }
void HalfTurn(ImageBuffer& buffer) { HalfTurn(DescribeRows(buffer)); }
void SwapRows(ImageBuffer& buffer) { SwapRows(DescribeRows(buffer)); }

bool QuarterTurn(ImageBuffer& buffer, bool clockwise) {
    const TImageDesc source = DescribeRows(buffer);
    UniqueImage turned = AllocateImage(source.BytesPerPixel, source.Height, source.Width);
    if (!turned) return false;
    AlignedBlock tile(RotationTileBytes, RotationTileAlignment);
    QuarterTurn(source, DescribeRows(turned.get()), clockwise, tile.get());
    ReplaceImage(buffer, std::move(turned));
    return true;
}

bool ExifRotation(ImageBuffer& buffer, int32_t orientation) {
    const BITMAPINFOHEADER& header = *buffer.Header;
    if (header.biBitCount != 8 && header.biBitCount != 24) return true;
    if (header.biWidth < 1 || header.biHeight < 1) return true;
    switch (orientation) {
    case 2: MirrorRows(buffer); return true;
    case 3: HalfTurn(buffer); return true;
    case 4: SwapRows(buffer); return true;
    case 5:
        if (!QuarterTurn(buffer, false)) return false;
        SwapRows(buffer);
        return true;
    case 6: return QuarterTurn(buffer, true);
    case 7:
        if (!QuarterTurn(buffer, true)) return false;
        SwapRows(buffer);
        return true;
    case 8: return QuarterTurn(buffer, false);
    default: return true;
    }
}

}  // namespace qorvi
