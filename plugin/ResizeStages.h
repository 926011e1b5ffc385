// The resize stages of the picture pipeline, on bottom-up image buffers (ImageBuffer.h).
//
// NormalResize shrinks a 24-bit, 32-bit or 8-bit grey buffer to FitToBox of the box with a
// resizer, holding `resizeLock` (the plug-in's ResizeLock) exactly around the resize.
// NearestNeighborResize keeps every 2nd, 4th or 8th pixel of every such row of an 8-bit or 24-bit
// buffer (sizes rounded up). Both build the new buffer first; an 8-bit result's colour table is
// left zero for the pipeline to restore.
//
// Failure: false when the new buffer cannot be had, with the old one untouched. When the resize
// itself throws (std::bad_alloc), NormalResize still leaves the lock, frees the old buffer and
// hands over the new one, then lets the exception go on.
#pragma once

#include "base/WinHandles.h"
#include "geometry/Resize.h"
#include "plugin/ImageBuffer.h"

#include <cstdint>

namespace qorvi {

bool NormalResize(TResizer& resizer, CriticalSection& resizeLock, ImageBuffer& buffer,
                  int32_t maxWidth, int32_t maxHeight);
bool NearestNeighborResize(ImageBuffer& buffer, int32_t factor);

}  // namespace qorvi
