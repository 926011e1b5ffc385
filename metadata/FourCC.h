// The four-character codes that name boxes and chunks in HEIF, JPEG XL's container, PNG and ICC
// profiles, as the big-endian 32-bit value they are stored as.
#pragma once

#include <cstdint>

namespace qorvi {

constexpr uint32_t FourCC(const char (&name)[5]) {
    return uint32_t(uint8_t(name[0])) << 24 | uint32_t(uint8_t(name[1])) << 16 |
           uint32_t(uint8_t(name[2])) << 8 | uint8_t(name[3]);
}

}  // namespace qorvi
