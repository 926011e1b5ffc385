// The colour engine's PNG reader: what a PNG's colour chunks say, as an ImageInfo record.
//
// ReadPNGColorManageInfo takes the whole file image. It returns nonzero ("handled") exactly when
// the bytes begin with the PNG signature; otherwise it returns 0 and touches nothing. For a PNG it
// walks the chunks up to the first IDAT or IEND, never reading outside [data, data + size), and
// stores what the colour chunks before that say:
//   iCCP  the inflated profile in a block from AllocateProfileBuffer: ProfileBuffer, ProfileSize,
//         HasProfileBuffer (only when the record holds no profile yet);
//   sRGB  ColorSpace 1, HasColorSpace;
//   gAMA  Gamma as the decoding exponent (2.2 for the usual 45455), HasGamma;
//   cHRM  the white point and the primaries, HasWhitePoint | HasPrimaries.
// A PNG means its profile first, then sRGB, then gAMA and cHRM. With an sRGB chunk, gAMA and cHRM
// are therefore not stored; the profile, when there is one, is stored together with whatever of
// the rest applies, which is what the transform falls back to should the profile prove unusable.
//
// A chunk with a wrong CRC, a wrong length or values out of range counts as absent; a file that
// breaks off keeps what was read before. Of sRGB, gAMA and cHRM the first sound chunk counts; of
// iCCP only the first with a correct CRC is tried, so one file costs at most one inflation. A
// field is stored whole or not at all, and a profile that cannot be inflated within
// MaxPNGProfileSize, is shorter than an ICC header or cannot be allocated is left out. Never
// throws.
#pragma once

#include "base/ProcessHeap.h"
#include "engine/EngineApi.h"

#include <cstdint>

namespace qorvi::engine {

// The largest inflated profile we accept. Real profiles, big printer and device-link tables
// included, stay within a few MiB; a deflate stream can expand about a thousandfold, and this
// bounds what a hostile few kilobytes make a 32-bit process allocate.
constexpr uint32_t MaxPNGProfileSize = uint32_t(64) << 20;

int ReadPNGColorManageInfo(ImageInfo& info, const void* data, int32_t size) noexcept;
// The same with another profile limit (at most MaxPNGProfileSize is meaningful; tests use small
// ones).
int ReadPNGColorManageInfo(ImageInfo& info, const void* data, int32_t size,
                           uint32_t profileLimit) noexcept;

}  // namespace qorvi::engine
