// The colour engine's last-resort reader: what the Windows Imaging Component says about a file the
// plug-in does not parse itself.
//
// ReadWICImageInfo decodes the file image's first frame through WIC and takes from it
//   - the first colour context of the profile kind holding at least an ICC header and at most
//     MaxWICProfileSize bytes: copied into a block from AllocateProfileBuffer (ProfileBuffer,
//     ProfileSize, HasProfileBuffer), only when the record holds no profile yet;
//   - the orientation the frame's metadata gives (Exif or TIFF tag 274, or the photo property),
//     1 to 8 only: Orientation, HasOrientation, only when the record has none yet.
// It returns nonzero when it stored something. When WIC cannot open the file, or anything else
// fails before the end, the record is left exactly as it was: results are staged and stored
// together. Null data or a size of 0 or less: 0.
//
// Each call joins the calling thread to the multithreaded COM apartment for itself and leaves it
// as it found it; a thread that lives in a single-threaded apartment keeps it. Never throws.
#pragma once

#include "base/ProcessHeap.h"
#include "engine/EngineApi.h"

#include <cstdint>

namespace qorvi::engine {

// The largest profile we copy out of a colour context: as for PNG's, real profiles stay within a
// few MiB, and the bound keeps a lying file from making a 32-bit process allocate without end.
constexpr uint32_t MaxWICProfileSize = uint32_t(64) << 20;

int ReadWICImageInfo(ImageInfo& info, const void* data, int32_t size) noexcept;

}  // namespace qorvi::engine
