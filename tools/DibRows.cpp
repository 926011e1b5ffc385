#include "tools/DibRows.h"

#include <algorithm>
#include <cstring>

namespace qorvi::tools {
namespace {

uint32_t LE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
uint16_t LE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// The four 32-bit mask fields (red, green, blue, alpha) that follow the first 40 header bytes.
constexpr size_t MaskOffset = DibHeaderBytes;
constexpr size_t MarkedHeaderBytes = MaskOffset + 4 * 4;
// The masks of the one BI_BITFIELDS layout we take as B,G,R,(A) bytes.
constexpr uint32_t StandardMasks[3] = {0x00FF0000u, 0x0000FF00u, 0x000000FFu};

bool IsCmykMarked(const DibHeader& header, const uint8_t* block, size_t blockSize) {
    if (header.bitCount != 32 || header.compression != DibBitFields) return false;
    if (header.size < MarkedHeaderBytes || blockSize < MarkedHeaderBytes) return false;
    for (size_t i = 0; i < 4; ++i)
        if (LE32(block + MaskOffset + 4 * i) != 0) return false;
    return true;
}

uint64_t Stride(const DibHeader& header) {
    return (uint64_t(uint32_t(header.width)) * header.bitCount + 31) / 32 * 4;
}

uint32_t Rows(const DibHeader& header) {
    // Formed in 64 bits: biHeight may be INT32_MIN, whose negation does not fit 32 bits.
    int64_t height = header.height;
    return uint32_t(height < 0 ? -height : height);
}

// Where the colour table or the masks start: after biSize bytes, which may be any header version.
uint64_t TableBytes(const DibHeader& header) {
    if (header.bitCount <= 8) {
        uint64_t entries = header.colorsUsed ? header.colorsUsed : uint64_t(1) << header.bitCount;
        return entries * 4;
    }
    // A 40-byte header with BI_BITFIELDS keeps its three masks where the colour table would be.
    if (header.compression == DibBitFields && header.size == DibHeaderBytes) return 3 * 4;
    return 0;
}

uint8_t Ink(uint8_t channel, uint8_t black) {
    return uint8_t(255 - std::min(255, int(channel) + int(black)));
}

}  // namespace

bool ReadDibHeader(const uint8_t* block, size_t blockSize, DibHeader& header) {
    if (!block || blockSize < DibHeaderBytes) return false;
    header.size = LE32(block);
    header.width = int32_t(LE32(block + 4));
    header.height = int32_t(LE32(block + 8));
    header.bitCount = LE16(block + 14);
    header.compression = LE32(block + 16);
    header.colorsUsed = LE32(block + 32);
    return true;
}

bool DibToRows(const uint8_t* headerBlock, size_t headerBlockSize, const uint8_t* bitsBlock,
               size_t bitsBlockSize, DibImage& image, std::string& why) {
    DibHeader header;
    if (!ReadDibHeader(headerBlock, headerBlockSize, header)) {
        why = "the header block holds " + std::to_string(headerBlockSize) +
              " bytes, fewer than a BITMAPINFOHEADER";
        return false;
    }
    if (header.size < DibHeaderBytes || header.size > headerBlockSize) {
        why = "biSize " + std::to_string(header.size) + " does not fit the header block of " +
              std::to_string(headerBlockSize) + " bytes";
        return false;
    }
    if (header.width <= 0 || header.height == 0) {
        why = "the picture is " + std::to_string(header.width) + " x " +
              std::to_string(header.height);
        return false;
    }
    const int bits = header.bitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32) {
        why = "unsupported bit depth " + std::to_string(bits);
        return false;
    }
    const bool cmyk = IsCmykMarked(header, headerBlock, headerBlockSize);
    const bool bitFields = header.compression == DibBitFields;
    if (!(header.compression == DibRgb || (bitFields && bits == 32))) {
        why = "unsupported compression " + std::to_string(header.compression) + " at " +
              std::to_string(bits) + " bits";
        return false;
    }
    if (bits <= 8 && header.colorsUsed > (uint32_t(1) << bits)) {
        why = "biClrUsed " + std::to_string(header.colorsUsed) + " is more than " +
              std::to_string(bits) + " bits can index";
        return false;
    }
    // The colour table (or masks) must lie inside the header block; the sum is 64-bit.
    const uint64_t tableBytes = TableBytes(header);
    if (uint64_t(header.size) + tableBytes > headerBlockSize) {
        why = "the colour table ends at byte " +
              std::to_string(uint64_t(header.size) + tableBytes) + ", beyond the header block of " +
              std::to_string(headerBlockSize) + " bytes";
        return false;
    }
    if (bitFields && !cmyk) {
        // Masks in the header (biSize of 52 or more) or after a 40-byte one: either way at 40.
        if (headerBlockSize < MaskOffset + 3 * 4) {
            why = "the bit-field masks lie beyond the header block";
            return false;
        }
        for (size_t i = 0; i < 3; ++i)
            if (LE32(headerBlock + MaskOffset + 4 * i) != StandardMasks[i]) {
                why = "unsupported bit-field masks";
                return false;
            }
    }

    const uint32_t width = uint32_t(header.width);
    const uint32_t height = Rows(header);
    const uint64_t stride = Stride(header);
    // width, height and bit count are each below 2^32, so stride * height fits 64 bits.
    const uint64_t pixelBytes = stride * height;
    if (pixelBytes > bitsBlockSize) {
        why = std::to_string(width) + " x " + std::to_string(height) + " x " +
              std::to_string(bits) + " bits needs " + std::to_string(pixelBytes) +
              " bytes, the pixel block holds " + std::to_string(bitsBlockSize);
        return false;
    }
    const int channels = (bits == 32 && !cmyk) ? 4 : 3;
    const uint64_t outputBytes = uint64_t(width) * height * channels;
    if (outputBytes > MaxDibOutputBytes) {
        why = "the picture is too large to convert (" + std::to_string(outputBytes) + " bytes)";
        return false;
    }

    std::vector<uint8_t> pixels(static_cast<size_t>(outputBytes));
    const uint8_t* table = headerBlock + header.size;
    const uint32_t entries = bits <= 8 ? uint32_t(tableBytes / 4) : 0;
    const bool topDown = header.height < 0;
    for (uint32_t y = 0; y < height; ++y) {
        const uint8_t* row = bitsBlock + size_t(stride) * (topDown ? y : height - 1 - y);
        uint8_t* out = pixels.data() + size_t(y) * width * channels;
        for (uint32_t x = 0; x < width; ++x, out += channels) {
            if (bits <= 8) {
                const uint32_t perByte = 8 / bits;
                const uint32_t shift = 8 - bits * (x % perByte + 1);
                const uint32_t index = (row[x / perByte] >> shift) & ((1u << bits) - 1);
                // An index past a short table (biClrUsed) has no colour: black, never a read past.
                if (index < entries) {
                    const uint8_t* quad = table + 4 * index;  // B, G, R, reserved
                    out[0] = quad[2];
                    out[1] = quad[1];
                    out[2] = quad[0];
                } else {
                    out[0] = out[1] = out[2] = 0;
                }
            } else if (bits == 24) {
                const uint8_t* p = row + size_t(x) * 3;
                out[0] = p[2];
                out[1] = p[1];
                out[2] = p[0];
            } else if (cmyk) {
                const uint8_t* p = row + size_t(x) * 4;  // C, M, Y, K
                out[0] = Ink(p[0], p[3]);
                out[1] = Ink(p[1], p[3]);
                out[2] = Ink(p[2], p[3]);
            } else {
                const uint8_t* p = row + size_t(x) * 4;  // B, G, R, A
                out[0] = p[2];
                out[1] = p[1];
                out[2] = p[0];
                out[3] = p[3];
            }
        }
    }

    image.width = width;
    image.height = height;
    image.channels = channels;
    image.bitCount = bits;
    image.topDown = topDown;
    image.cmyk = cmyk;
    image.pixels.swap(pixels);
    return true;
}

size_t DibDescriptionBytes(const uint8_t* headerBlock, size_t headerBlockSize) {
    DibHeader header;
    if (!ReadDibHeader(headerBlock, headerBlockSize, header)) return headerBlockSize;
    uint64_t bytes = uint64_t(std::max<uint32_t>(header.size, DibHeaderBytes)) + TableBytes(header);
    return size_t(std::min<uint64_t>(bytes, headerBlockSize));
}

size_t DibPixelBytes(const uint8_t* headerBlock, size_t headerBlockSize, size_t bitsBlockSize) {
    DibHeader header;
    if (!ReadDibHeader(headerBlock, headerBlockSize, header) || header.width <= 0) return 0;
    return size_t(std::min<uint64_t>(Stride(header) * Rows(header), bitsBlockSize));
}

}  // namespace qorvi::tools
