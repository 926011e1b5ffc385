// The rotation stage of the picture pipeline: turns and mirrors a decoded picture so that it is
// shown upright as the file's orientation tag asks (the Exif and TIFF Orientation values 1 to 8).
//
// ExifRotation works on bottom-up 8-bit and 24-bit buffers (ImageBuffer.h). Orientations 2, 3
// and 4 mirror, half-turn or swap the rows in place; 5 to 8 turn the picture by a quarter into a
// new buffer of the swapped size (whose 8-bit colour table is left zero for the caller to restore)
// and, for 5 and 7, then swap its rows. Any other orientation, any other depth and a buffer
// without pixels are left as they are, and count as success.
//
// Failure: false when a quarter turn's new buffer cannot be had; the buffer is then untouched and
// no row swap follows. The quarter turn's tile comes from AllocAligned, which throws
// std::bad_alloc when it cannot be had, also with the buffer untouched. The pixel work is
// platform-free (geometry/RotationKernels.h). Calls on different buffers may run at once.
#pragma once

#include "plugin/ImageBuffer.h"

#include <cstdint>

namespace qorvi {

bool ExifRotation(ImageBuffer& buffer, int32_t orientation);

// The four operations behind it, for 8-bit and 24-bit buffers.
void MirrorRows(ImageBuffer& buffer);
void HalfTurn(ImageBuffer& buffer);
void SwapRows(ImageBuffer& buffer);
bool QuarterTurn(ImageBuffer& buffer, bool clockwise);

}  // namespace qorvi
