// The platform-free half of wicdec.spi, the sample decoder child: recognising the formats it
// decodes by their first bytes, choosing what a decoded picture is delivered as, bounding what we
// allocate for it, and turning the rows the decoder hands out into the rows of a bottom-up DIB.
//
// What a picture is delivered as (the host interface's bitmap, rows padded to 4 bytes):
//   Bgr24    opaque colour pictures, and CMYK ones while the host has not asked for CMYK;
//   Bgra32   pictures with alpha, and indexed pictures whose palette has a transparent entry;
//            B,G,R,A with alpha as stored, not premultiplied;
//   Indexed8 indexed pictures of 1 to 8 bits, with the file's palette as colour table;
//   Gray8    grey pictures, with a 256-entry grey colour table;
//   Cmyk32   CMYK pictures once the host asked for them (UseCMYKColorSpace): the host's
//            CMYK-marked buffer. The agreement with the host's colour engine: bytes in memory per
//            pixel are C, M, Y, K in that order, not inverted, 0 = no ink, 255 = full ink (Little
//            CMS's TYPE_CMYK_8).
// 16-bit channels are reduced to 8 bits with rounding.
//
// Nothing here reads a byte beyond the sizes it is given.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qorvi::wicdec {

enum class ImageFormat { Unknown, Jpeg, Png, Tiff, Bmp, Gif };

// The format whose signature `data` starts with; Unknown when none matches or `size` is too short
// for the signature. Reads at most SignatureBytes bytes and never at or beyond `size`.
ImageFormat DetectFormat(const void* data, size_t size);
constexpr size_t SignatureBytes = 8;  // the PNG signature, our longest

// Row layouts a decoder hands out. Indexed and grey layouts below 8 bits pack the leftmost pixel
// into the highest bits; 16-bit channels are little-endian words.
enum class SourceLayout {
    Bgr24,
    Rgb24,
    Bgrx32,
    Bgra32,
    Rgba32,
    Gray1,
    Gray2,
    Gray4,
    Gray8,
    Gray16,
    Indexed1,
    Indexed2,
    Indexed4,
    Indexed8,
    Rgb48,
    Bgr48,
    Rgba64,
    Bgra64,
    Cmyk32,
    Cmyk64,
};
unsigned SourceBits(SourceLayout layout);
bool IsIndexed(SourceLayout layout);
bool IsCmyk(SourceLayout layout);

enum class Delivery { Bgr24, Bgra32, Indexed8, Gray8, Cmyk32 };
unsigned DeliveryBits(Delivery delivery);
// `transparentPalette`: an indexed picture whose palette has an entry with alpha below 255.
// `cmykWanted`: the host asked for CMYK through UseCMYKColorSpace.
Delivery ChooseDelivery(SourceLayout layout, bool transparentPalette, bool cmykWanted);

// The most pixel bytes we deliver: a 32-bit process seldom finds a larger free block, and a lying
// header must not make us try. Larger pictures are refused as out of memory.
constexpr uint64_t MaxPixelBytes = uint64_t(1) << 30;
// Each side must also fit the signed 32-bit fields of the bitmap header and of decoder rectangles.
constexpr uint32_t MaxSide = 0x7FFFFFFF;

struct RowPlan {
    size_t stride = 0;  // bytes per row, a multiple of 4
    size_t bytes = 0;   // stride * rows
};
// Plans `rows` rows of `width` pixels of `bitsPerPixel` bits. False (and `plan` unchanged) when a
// side is 0 or beyond MaxSide or the rows would exceed `limit` bytes; the products are formed in
// 64 bits, so nothing wraps before the check.
bool PlanRows(uint32_t width, uint32_t rows, unsigned bitsPerPixel, uint64_t limit, RowPlan& plan);

// Turns source rows into delivered rows. `palette` holds the decoder's colours as 0xAARRGGBB; an
// index beyond it reads as opaque black in Bgra32 and is remembered for the colour table.
class RowConverter {
public:
    RowConverter(SourceLayout source, Delivery delivery, std::vector<uint32_t> palette);
    // `source` holds at least ceil(width * SourceBits / 8) bytes, `target` width * DeliveryBits/8.
    void Convert(const uint8_t* source, uint8_t* target, uint32_t width);
    // The colour table of the delivered bitmap as RGBQUADs (B, G, R, 0): for Indexed8 the
    // palette, lengthened with black to the highest index seen so far; 256 greys for Gray8;
    // empty otherwise.
    std::vector<uint8_t> ColourTable() const;

private:
    unsigned Index(const uint8_t* source, uint32_t x) const;
    SourceLayout source_;
    Delivery delivery_;
    std::vector<uint32_t> palette_;
    int highestIndex_ = -1;
};

// The naive conversion used while the host has not asked for CMYK: R = (255-C)(255-K)/255 etc.
void CmykToBgr(const uint8_t cmyk[4], uint8_t bgr[3]);
// 16-bit channel value to 8 bits, rounded.
inline uint8_t Reduce16(uint16_t value) { return uint8_t((uint32_t(value) * 255 + 32767) / 65535); }

}  // namespace qorvi::wicdec
