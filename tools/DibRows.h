// Turns the two blocks a picture request hands back (a BITMAPINFOHEADER with its colour table,
// and the pixel rows) into top-down 8-bit RGB or RGBA rows for the PNG writer. Platform-free: the
// header is read from its bytes (little-endian), so it builds natively too.
//
// Accepted: 1, 4 and 8 bits per pixel through the colour table (expanded to RGB); 24-bit B,G,R;
// 32-bit B,G,R,A (written as RGBA); 32-bit BI_BITFIELDS with the standard masks; and the marked
// CMYK form (32-bit, BI_BITFIELDS, biSize of 56 or more, the four mask fields after the first 40
// bytes all zero; bytes C, M, Y, K, 0 = no ink), converted naively to RGB. Rows are bottom-up,
// or top-down when biHeight is negative, each padded to a multiple of 4 bytes.
//
// The block sizes are what the blocks really hold (LocalSize): a header that announces more
// colour table or pixel bytes than its block holds is refused, never read past. DibToRows returns
// false with a one-line reason in `why` and leaves `image` unchanged on refusal.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace qorvi::tools {

// The header fields we read, in the units of BITMAPINFOHEADER.
struct DibHeader {
    uint32_t size = 0;         // biSize
    int32_t width = 0;         // biWidth
    int32_t height = 0;        // biHeight, negative for top-down rows
    uint16_t bitCount = 0;     // biBitCount
    uint32_t compression = 0;  // biCompression
    uint32_t colorsUsed = 0;   // biClrUsed
};

constexpr uint32_t DibRgb = 0;         // BI_RGB
constexpr uint32_t DibBitFields = 3;   // BI_BITFIELDS
constexpr size_t DibHeaderBytes = 40;  // sizeof(BITMAPINFOHEADER)

// Reads the fields from the first 40 bytes; false when fewer are there.
bool ReadDibHeader(const uint8_t* block, size_t blockSize, DibHeader& header);

struct DibImage {
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 3;             // 3: R,G,B; 4: R,G,B,A
    int bitCount = 0;             // of the source
    bool topDown = false;         // the source rows were top-down
    bool cmyk = false;            // the source was the marked CMYK form, converted naively
    std::vector<uint8_t> pixels;  // height rows of width * channels bytes, top-down
};

// The largest output we build: a 32-bit process must not try to hold more.
constexpr uint64_t MaxDibOutputBytes = uint64_t(512) << 20;

bool DibToRows(const uint8_t* headerBlock, size_t headerBlockSize, const uint8_t* bitsBlock,
               size_t bitsBlockSize, DibImage& image, std::string& why);

// The bytes of the header block that describe the picture (header plus colour table or masks),
// bounded by the block: what two calls must agree on besides the pixels.
size_t DibDescriptionBytes(const uint8_t* headerBlock, size_t headerBlockSize);
// The pixel bytes the header announces (stride times rows), bounded by the block; 0 when the
// header cannot be read.
size_t DibPixelBytes(const uint8_t* headerBlock, size_t headerBlockSize, size_t bitsBlockSize);

}  // namespace qorvi::tools
