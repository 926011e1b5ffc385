// The promises every metadata reader keeps about the record it fills, checked by trapping: a
// profile outside the file image or the buffer, both profile kinds at once, an unknown flag, a
// non-finite double. Frees the record's profile buffer.
#pragma once

#include "metadata/ImageInfoReader.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace qorvi::fuzz {

inline void Check(bool promise) {
    if (!promise) __builtin_trap();
}

// A written profile (metadata/ColourProfiles.h) can be larger than the file that named it; no
// profile the readers write comes near this.
inline constexpr size_t LargestWrittenProfile = 64 * 1024;

inline void CheckRecord(ImageInfo& info, const uint8_t* data, size_t size) {
    Check((info.Flags & ~uint32_t{0x7F}) == 0);
    Check((info.Flags & HasProfileData) == 0 || (info.Flags & HasProfileBuffer) == 0);
    Check(((info.Flags & HasProfileData) != 0) == (info.ProfileData != nullptr));
    Check(((info.Flags & HasProfileBuffer) != 0) == (info.ProfileBuffer != nullptr));
    const auto* profile =
        static_cast<const uint8_t*>(info.ProfileData ? info.ProfileData : info.ProfileBuffer);
    if (profile == nullptr) {
        Check(info.ProfileSize == 0);
    } else {
        Check(info.ProfileSize > 0);
        if (info.ProfileData != nullptr) {
            const auto offset =
                reinterpret_cast<uintptr_t>(profile) - reinterpret_cast<uintptr_t>(data);
            Check(offset <= size && static_cast<size_t>(info.ProfileSize) <= size - offset);
        } else {
            Check(static_cast<size_t>(info.ProfileSize) <= size ||
                  static_cast<size_t>(info.ProfileSize) <= LargestWrittenProfile);
        }
        // Touch every byte: AddressSanitizer sees a range past the image or the buffer.
        volatile uint8_t sum = 0;
        for (int32_t i = 0; i < info.ProfileSize; ++i) sum = sum + profile[i];
    }
    for (double value : {info.WhitePointX, info.WhitePointY, info.RedX, info.RedY, info.GreenX,
                         info.GreenY, info.BlueX, info.BlueY, info.Gamma})
        Check(std::isfinite(value));
    FreeProfileBuffer(info.ProfileBuffer);
    info.ProfileBuffer = nullptr;
}

}  // namespace qorvi::fuzz
