// Loads and stores of 2 and 4 bytes at any address, for the pass kernels. Platform-free.
#pragma once

#include <cstdint>
#include <cstring>

namespace qorvi {

inline uint32_t LoadU32(const uint8_t* p) {
    uint32_t word;
    std::memcpy(&word, p, 4);
    return word;
}

inline void StoreU32(uint8_t* p, uint32_t word) { std::memcpy(p, &word, 4); }

// The low 16 bits of `half`.
inline void StoreU16(uint8_t* p, uint32_t half) {
    const uint16_t value = static_cast<uint16_t>(half);
    std::memcpy(p, &value, 2);
}

}  // namespace qorvi
