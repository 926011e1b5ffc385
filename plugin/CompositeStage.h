// The alpha stage of the picture pipeline: a 32-bit B,G,R,A buffer composited over a
// checkerboard into a new 24-bit buffer (the pixel work is CompositeOverChecker of
// PixelKernels.h).
//
// Squares are 16 pixels when the picture is larger than the output box (`maxWidth` x
// `maxHeight`, the request's MaxWidth and MaxHeight), else 8. False, with the buffer untouched,
// for any other depth or when the new buffer cannot be had.
#pragma once

#include "plugin/ImageBuffer.h"

#include <cstdint>

namespace qorvi {

bool CompositeOverChecker(ImageBuffer& buffer, uint32_t colour1, uint32_t colour2, int32_t maxWidth,
                          int32_t maxHeight);

}  // namespace qorvi
