#include "children/PixelRows.h"

#include <cstring>
#include <utility>

namespace qorvi::wicdec {

namespace {

struct Signature {
    ImageFormat format;
    size_t length;
    unsigned char bytes[SignatureBytes];
};
constexpr Signature Signatures[] = {
    {ImageFormat::Jpeg, 3, {0xFF, 0xD8, 0xFF}},
    {ImageFormat::Png, 8, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A}},
    {ImageFormat::Tiff, 4, {'I', 'I', 0x2A, 0x00}},
    {ImageFormat::Tiff, 4, {'M', 'M', 0x00, 0x2A}},
    {ImageFormat::Bmp, 2, {'B', 'M'}},
    {ImageFormat::Gif, 6, {'G', 'I', 'F', '8', '7', 'a'}},
    {ImageFormat::Gif, 6, {'G', 'I', 'F', '8', '9', 'a'}},
};

uint16_t Word(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

}  // namespace

ImageFormat DetectFormat(const void* data, size_t size) {
    if (!data) return ImageFormat::Unknown;
    for (const Signature& signature : Signatures)
        if (size >= signature.length && std::memcmp(data, signature.bytes, signature.length) == 0)
            return signature.format;
    return ImageFormat::Unknown;
}

unsigned SourceBits(SourceLayout layout) {
    switch (layout) {
    case SourceLayout::Gray1:
    case SourceLayout::Indexed1: return 1;
    case SourceLayout::Gray2:
    case SourceLayout::Indexed2: return 2;
    case SourceLayout::Gray4:
    case SourceLayout::Indexed4: return 4;
    case SourceLayout::Gray8:
    case SourceLayout::Indexed8: return 8;
    case SourceLayout::Gray16: return 16;
    case SourceLayout::Bgr24:
    case SourceLayout::Rgb24: return 24;
    case SourceLayout::Bgrx32:
    case SourceLayout::Bgra32:
    case SourceLayout::Rgba32:
    case SourceLayout::Cmyk32: return 32;
    case SourceLayout::Rgb48:
    case SourceLayout::Bgr48: return 48;
    case SourceLayout::Rgba64:
    case SourceLayout::Bgra64:
    case SourceLayout::Cmyk64: return 64;
    }
    return 0;
}

bool IsIndexed(SourceLayout layout) {
    return layout == SourceLayout::Indexed1 || layout == SourceLayout::Indexed2 ||
           layout == SourceLayout::Indexed4 || layout == SourceLayout::Indexed8;
}

bool IsCmyk(SourceLayout layout) {
    return layout == SourceLayout::Cmyk32 || layout == SourceLayout::Cmyk64;
}

unsigned DeliveryBits(Delivery delivery) {
    switch (delivery) {
    case Delivery::Bgr24: return 24;
    case Delivery::Bgra32:
    case Delivery::Cmyk32: return 32;
    case Delivery::Indexed8:
    case Delivery::Gray8: return 8;
    }
    return 0;
}

Delivery ChooseDelivery(SourceLayout layout, bool transparentPalette, bool cmykWanted) {
    switch (layout) {
    case SourceLayout::Bgra32:
    case SourceLayout::Rgba32:
    case SourceLayout::Rgba64:
    case SourceLayout::Bgra64: return Delivery::Bgra32;
    case SourceLayout::Gray1:
    case SourceLayout::Gray2:
    case SourceLayout::Gray4:
    case SourceLayout::Gray8:
    case SourceLayout::Gray16: return Delivery::Gray8;
    case SourceLayout::Indexed1:
    case SourceLayout::Indexed2:
    case SourceLayout::Indexed4:
    case SourceLayout::Indexed8:
        // A host shows transparency only in 32-bit pictures.
        return transparentPalette ? Delivery::Bgra32 : Delivery::Indexed8;
    case SourceLayout::Cmyk32:
    case SourceLayout::Cmyk64:
        // A host that has not asked for CMYK would take the marked buffer for B,G,R,A.
        return cmykWanted ? Delivery::Cmyk32 : Delivery::Bgr24;
    default: return Delivery::Bgr24;
    }
}

bool PlanRows(uint32_t width, uint32_t rows, unsigned bitsPerPixel, uint64_t limit, RowPlan& plan) {
    if (width == 0 || rows == 0 || width > MaxSide || rows > MaxSide || bitsPerPixel == 0)
        return false;
    // At most 2^31 * 64 bits per row and 2^31 rows: both products fit in 64 bits.
    const uint64_t stride = ((uint64_t(width) * bitsPerPixel + 31) / 32) * 4;
    if (stride > limit || stride * rows > limit || stride * rows > SIZE_MAX) return false;
    plan.stride = size_t(stride);
    plan.bytes = size_t(stride * rows);
    return true;
}

RowConverter::RowConverter(SourceLayout source, Delivery delivery, std::vector<uint32_t> palette)
    : source_(source), delivery_(delivery), palette_(std::move(palette)) {
    // An indexed row addresses at most 256 entries; the rest could never be used.
    if (palette_.size() > 256) palette_.resize(256);
}

unsigned RowConverter::Index(const uint8_t* source, uint32_t x) const {
    const unsigned bits = SourceBits(source_);
    if (bits == 8) return source[x];
    const unsigned perByte = 8 / bits;
    const unsigned shift = 8 - bits * (x % perByte + 1);
    return (source[x / perByte] >> shift) & ((1u << bits) - 1);
}

void RowConverter::Convert(const uint8_t* s, uint8_t* t, uint32_t width) {
    switch (source_) {
    case SourceLayout::Indexed1:
    case SourceLayout::Indexed2:
    case SourceLayout::Indexed4:
    case SourceLayout::Indexed8:
        for (uint32_t x = 0; x < width; ++x) {
            const unsigned index = Index(s, x);
            if (int(index) > highestIndex_) highestIndex_ = int(index);
            if (delivery_ == Delivery::Indexed8) {
                t[x] = uint8_t(index);
            } else {
                // Out of the palette's range: opaque black, as the colour table pads it.
                const uint32_t argb = index < palette_.size() ? palette_[index] : 0xFF000000u;
                uint8_t* p = t + size_t(x) * 4;
                p[0] = uint8_t(argb), p[1] = uint8_t(argb >> 8), p[2] = uint8_t(argb >> 16),
                p[3] = uint8_t(argb >> 24);
            }
        }
        return;
    case SourceLayout::Gray1:
    case SourceLayout::Gray2:
    case SourceLayout::Gray4: {
        const unsigned top = (1u << SourceBits(source_)) - 1;
        for (uint32_t x = 0; x < width; ++x) t[x] = uint8_t(Index(s, x) * 255 / top);
        return;
    }
    case SourceLayout::Gray8: std::memcpy(t, s, width); return;
    case SourceLayout::Gray16:
        for (uint32_t x = 0; x < width; ++x) t[x] = Reduce16(Word(s + size_t(x) * 2));
        return;
    default: break;
    }

    const unsigned sourceBytes = SourceBits(source_) / 8;
    const unsigned targetBytes = DeliveryBits(delivery_) / 8;
    for (uint32_t x = 0; x < width; ++x) {
        const uint8_t* p = s + size_t(x) * sourceBytes;
        uint8_t* q = t + size_t(x) * targetBytes;
        uint8_t b, g, r, a = 255;
        switch (source_) {
        case SourceLayout::Bgr24: b = p[0], g = p[1], r = p[2]; break;
        case SourceLayout::Rgb24: r = p[0], g = p[1], b = p[2]; break;
        case SourceLayout::Bgrx32: b = p[0], g = p[1], r = p[2]; break;
        case SourceLayout::Bgra32: b = p[0], g = p[1], r = p[2], a = p[3]; break;
        case SourceLayout::Rgba32: r = p[0], g = p[1], b = p[2], a = p[3]; break;
        case SourceLayout::Rgb48:
            r = Reduce16(Word(p)), g = Reduce16(Word(p + 2)), b = Reduce16(Word(p + 4));
            break;
        case SourceLayout::Bgr48:
            b = Reduce16(Word(p)), g = Reduce16(Word(p + 2)), r = Reduce16(Word(p + 4));
            break;
        case SourceLayout::Rgba64:
            r = Reduce16(Word(p)), g = Reduce16(Word(p + 2)), b = Reduce16(Word(p + 4)),
            a = Reduce16(Word(p + 6));
            break;
        case SourceLayout::Bgra64:
            b = Reduce16(Word(p)), g = Reduce16(Word(p + 2)), r = Reduce16(Word(p + 4)),
            a = Reduce16(Word(p + 6));
            break;
        case SourceLayout::Cmyk32:
        case SourceLayout::Cmyk64: {
            uint8_t cmyk[4];
            for (int c = 0; c < 4; ++c)
                cmyk[c] = source_ == SourceLayout::Cmyk32 ? p[c] : Reduce16(Word(p + 2 * c));
            if (delivery_ == Delivery::Cmyk32) {
                std::memcpy(q, cmyk, 4);
                continue;
            }
            uint8_t bgr[3];
            CmykToBgr(cmyk, bgr);
            b = bgr[0], g = bgr[1], r = bgr[2];
            break;
        }
        default: b = g = r = 0; break;
        }
        q[0] = b, q[1] = g, q[2] = r;
        if (targetBytes == 4) q[3] = a;
    }
}

std::vector<uint8_t> RowConverter::ColourTable() const {
    std::vector<uint8_t> table;
    if (delivery_ == Delivery::Gray8) {
        table.resize(256 * 4);
        for (unsigned i = 0; i < 256; ++i)
            table[i * 4] = table[i * 4 + 1] = table[i * 4 + 2] = uint8_t(i);
    } else if (delivery_ == Delivery::Indexed8) {
        // A corrupt file may use indices its palette lacks; the host looks them up in our table,
        // so the table reaches every index the rows hold.
        size_t entries = palette_.size();
        if (highestIndex_ >= 0 && size_t(highestIndex_) + 1 > entries)
            entries = size_t(highestIndex_) + 1;
        table.assign(entries * 4, 0);
        for (size_t i = 0; i < palette_.size(); ++i) {
            table[i * 4] = uint8_t(palette_[i]);
            table[i * 4 + 1] = uint8_t(palette_[i] >> 8);
            table[i * 4 + 2] = uint8_t(palette_[i] >> 16);
        }
    }
    return table;
}

void CmykToBgr(const uint8_t cmyk[4], uint8_t bgr[3]) {
    const unsigned white = 255 - cmyk[3];
    bgr[0] = uint8_t(((255 - cmyk[2]) * white + 127) / 255);
    bgr[1] = uint8_t(((255 - cmyk[1]) * white + 127) / 255);
    bgr[2] = uint8_t(((255 - cmyk[0]) * white + 127) / 255);
}

}  // namespace qorvi::wicdec
