#include "metadata/ImageInfoReader.h"

#include <cstring>

namespace qorvi {

uint32_t TMemoryReader::Read(void* buffer, uint32_t count) {
    if (Position >= Size) return 0;
    // A huge Position on a block near the top of the address space must not wrap round to
    // memory below the image.
    const uintptr_t start = reinterpret_cast<uintptr_t>(Memory);
    if (start + Position < start) return 0;
    if (count > Size - Position) count = Size - Position;
    if (count != 0) std::memcpy(buffer, Memory + Position, count);
    Position += count;
    return count;
}

void TMemoryReader::ReadBuffer(void* buffer, uint32_t count) {
    if (Read(buffer, count) != count) throw EReadError();
}

uint16_t TMemoryReader::ReadWord(bool bigEndian) {
    uint8_t bytes[2];
    ReadBuffer(bytes, sizeof bytes);
    return bigEndian ? static_cast<uint16_t>(bytes[0] << 8 | bytes[1])
                     : static_cast<uint16_t>(bytes[1] << 8 | bytes[0]);
}

uint32_t TMemoryReader::ReadLong(bool bigEndian) {
    uint8_t b[4];
    ReadBuffer(b, sizeof b);
    if (bigEndian) return uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3];
    return uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0];
}

void TMemoryReader::SeekTo(uint64_t position) {
    if (position > Size) throw EReadError();
    Position = static_cast<uint32_t>(position);
}

void TMemoryReader::Seek(int32_t offset, int origin) {
    // Unsigned arithmetic: the wrap-around is the point (see the header).
    switch (origin) {
    case 0: Position = static_cast<uint32_t>(offset); break;
    case 1: Position += static_cast<uint32_t>(offset); break;
    case 2: Position = Size + static_cast<uint32_t>(offset); break;
    default: break;
    }
}

}  // namespace qorvi
