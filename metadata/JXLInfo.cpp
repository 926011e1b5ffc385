// JPEG XL: the colour encoding of the image header, read bit by bit from the start of the
// codestream. The codestream is the rest of a bare file, or lies in the container's jxlc box or,
// split anywhere, in its jxlp boxes; the bytes are taken in place, one at a time, so a header cut
// across parts reads as one and nothing is copied.
#include "metadata/ColourProfiles.h"
#include "metadata/FourCC.h"
#include "metadata/ImageInfoReader.h"

#include <cmath>
#include <cstring>

namespace qorvi {
namespace {

constexpr uint8_t CodestreamSignature[] = {0xFF, 0x0A};
// The container's first box, whole: size 12, type "JXL " and four signature bytes.
constexpr uint8_t ContainerSignature[] = {0, 0, 0, 12, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};

constexpr uint32_t WholeCodestreamBox = FourCC("jxlc");
constexpr uint32_t CodestreamPartBox = FourCC("jxlp");
// A jxlp payload opens with the part's index; the top bit marks the last part.
constexpr uint32_t LastPartBit = 0x80000000;

struct Box {
    uint32_t Type;
    uint64_t Payload;  // offset of the payload in the file image
    uint64_t End;      // offset past the box, at most the image's size
};

// The box at `at`, or false at the end of the image. A header that does not fit, or a size
// smaller than its header, ends the boxes (EReadError). A box running past the end of the image
// is cut there: a file cut off in transfer still has the boxes before the cut, whole.
bool ReadBox(TMemoryReader& reader, uint64_t at, Box& box) {
    if (at >= reader.Size) return false;
    reader.SeekTo(at);
    uint64_t size = reader.ReadLong(true);
    box.Type = reader.ReadLong(true);
    if (size == 1) {
        size = uint64_t{reader.ReadLong(true)} << 32;
        size |= reader.ReadLong(true);
    }
    box.Payload = reader.Position;
    const uint64_t header = box.Payload - at;
    if (size == 0 || size > reader.Size - at)
        box.End = reader.Size;  // 0: the box runs to the end of the file
    else if (size < header)
        throw EReadError();
    else
        box.End = at + size;
    return true;
}

// The codestream's bytes in order: one piece for a bare file or a jxlc box, or the payloads of the
// jxlp boxes after their index, each found when the one before is used up. Past the last byte it
// throws EReadError.
class CodestreamBytes {
public:
    // A bare codestream: the whole file image.
    explicit CodestreamBytes(TMemoryReader& reader) : Reader(reader), PieceEnd(reader.Size) {}
    // A container: its codestream boxes from the box at `firstBox` on.
    CodestreamBytes(TMemoryReader& reader, uint64_t firstBox)
        : Reader(reader), NextBox(firstBox), InBoxes(true) {}

    uint8_t Next() {
        while (Position == PieceEnd) NextPiece();
        Reader.SeekTo(Position++);
        uint8_t byte;
        Reader.ReadBuffer(&byte, 1);
        return byte;
    }

private:
    void NextPiece() {
        if (!InBoxes || EndOfParts) throw EReadError();
        Box box;
        do {
            if (!ReadBox(Reader, NextBox, box)) throw EReadError();
            NextBox = box.End;
        } while (box.Type != CodestreamPartBox && (Parts > 0 || box.Type != WholeCodestreamBox));
        Position = box.Payload;
        PieceEnd = box.End;
        if (box.Type == WholeCodestreamBox) {
            EndOfParts = true;
            return;
        }
        // The part's index must lie inside its box.
        if (PieceEnd - Position < 4) throw EReadError();
        const uint32_t index = Reader.ReadLong(true);
        // Parts out of turn would not join into the codestream: it ends before them.
        if ((index & ~LastPartBit) != Parts) throw EReadError();
        ++Parts;
        EndOfParts = (index & LastPartBit) != 0;
        Position = Reader.Position;
    }

    TMemoryReader& Reader;
    uint64_t Position = 0;
    uint64_t PieceEnd = 0;
    uint64_t NextBox = 0;
    uint32_t Parts = 0;
    bool InBoxes = false;
    bool EndOfParts = false;
};

// One way of coding a U32 field: `Bits` bits read, plus `Offset` (a constant when Bits is 0).
struct Distribution {
    uint32_t Offset;
    unsigned Bits;
};
constexpr Distribution Val(uint32_t value) { return {value, 0}; }
constexpr Distribution BitsOffset(unsigned bits, uint32_t offset) { return {offset, bits}; }
using U32Coding = Distribution[4];

// The header's fields, least significant bit of each byte first.
class BitReader {
public:
    explicit BitReader(CodestreamBytes& bytes) : Bytes(bytes) {}

    uint32_t Bits(unsigned count) {  // count <= 32
        while (Count < count) {
            Buffer |= uint64_t{Bytes.Next()} << Count;
            Count += 8;
        }
        const auto value = static_cast<uint32_t>(Buffer & ((uint64_t{1} << count) - 1));
        Buffer >>= count;
        Count -= count;
        return value;
    }
    bool Bool() { return Bits(1) != 0; }
    uint32_t U32(const U32Coding& coding) {
        const Distribution& chosen = coding[Bits(2)];
        // No coding's offset and bits reach past 32 bits.
        return chosen.Offset + Bits(chosen.Bits);
    }
    // An enumerated value; which values an enumeration has is its reader's to check.
    uint32_t Enum() {
        const uint32_t value = U32({Val(0), Val(1), BitsOffset(4, 2), BitsOffset(6, 18)});
        if (value > 63) throw EReadError();
        return value;
    }
    // A binary16 number; infinities and NaNs are not numbers the header may hold.
    double F16() {
        const uint32_t bits = Bits(16);
        const uint32_t exponent = bits >> 10 & 0x1F;
        const uint32_t mantissa = bits & 0x3FF;
        if (exponent == 0x1F) throw EReadError();
        const double magnitude = exponent == 0
                                     ? std::ldexp(double(mantissa), -24)
                                     : std::ldexp(double(mantissa | 0x400), int(exponent) - 25);
        return (bits & 0x8000) ? -magnitude : magnitude;
    }

private:
    CodestreamBytes& Bytes;
    uint64_t Buffer = 0;
    unsigned Count = 0;
};

// A field that breaks the header's rules ends the reading as the end of the codestream does.
void Require(bool valid) {
    if (!valid) throw EReadError();
}

// Image sizes, in the main header and as the intrinsic size.
void SkipSizeHeader(BitReader& bits) {
    constexpr U32Coding Size = {BitsOffset(9, 1), BitsOffset(13, 1), BitsOffset(18, 1),
                                BitsOffset(30, 1)};
    const bool small = bits.Bool();
    if (small)
        bits.Bits(5);
    else
        bits.U32(Size);
    if (bits.Bits(3) != 0) return;  // a fixed aspect ratio gives the width
    if (small)
        bits.Bits(5);
    else
        bits.U32(Size);
}

void SkipPreviewHeader(BitReader& bits) {
    constexpr U32Coding Eighths = {Val(16), Val(32), BitsOffset(5, 1), BitsOffset(9, 33)};
    constexpr U32Coding Pixels = {BitsOffset(6, 1), BitsOffset(8, 65), BitsOffset(10, 321),
                                  BitsOffset(12, 1345)};
    const U32Coding& size = bits.Bool() ? Eighths : Pixels;
    bits.U32(size);
    if (bits.Bits(3) == 0) bits.U32(size);
}

void SkipAnimationHeader(BitReader& bits) {
    bits.U32({Val(100), Val(1000), BitsOffset(10, 1), BitsOffset(30, 1)});       // ticks per second
    bits.U32({Val(1), Val(1001), BitsOffset(8, 1), BitsOffset(10, 1)});          // ... divided by
    bits.U32({Val(0), BitsOffset(3, 0), BitsOffset(16, 0), BitsOffset(32, 0)});  // loops
    bits.Bool();                                                                 // timecodes
}

void SkipBitDepth(BitReader& bits) {
    if (!bits.Bool()) {
        const uint32_t depth = bits.U32({Val(8), Val(10), Val(12), BitsOffset(6, 1)});
        Require(depth <= 31);
        return;
    }
    const uint32_t depth = bits.U32({Val(32), Val(16), Val(24), BitsOffset(6, 1)});
    const uint32_t exponent = bits.Bits(4) + 1;
    Require(exponent >= 2 && exponent <= 8 && depth <= 32);
    const int mantissa = int(depth) - int(exponent) - 1;
    Require(mantissa >= 2 && mantissa <= 23);
}

void SkipExtraChannelInfo(BitReader& bits) {
    if (bits.Bool()) return;  // an alpha channel of the image's bit depth
    constexpr uint32_t Alpha = 0, SpotColour = 2, ColourFilterArray = 5, LastType = 16;
    const uint32_t type = bits.Enum();
    Require(type <= LastType);
    SkipBitDepth(bits);
    bits.U32({Val(0), Val(3), Val(4), BitsOffset(3, 1)});  // dim_shift
    const uint32_t nameLength =
        bits.U32({Val(0), BitsOffset(4, 0), BitsOffset(5, 16), BitsOffset(10, 48)});
    for (uint32_t i = 0; i < nameLength; ++i) bits.Bits(8);
    if (type == Alpha) bits.Bool();  // alpha_associated
    if (type == SpotColour)
        for (int i = 0; i < 4; ++i) bits.F16();  // red, green, blue, solidity
    if (type == ColourFilterArray)
        bits.U32({Val(1), BitsOffset(2, 0), BitsOffset(4, 3), BitsOffset(8, 19)});
}

// The enumerations' values.
namespace ColourSpace {
constexpr uint32_t RGB = 0, Grey = 1, XYB = 2, Unknown = 3;
}
namespace WhitePoint {
constexpr uint32_t D65 = 1, Custom = 2, E = 10, DCI = 11;
}
namespace Primaries {
constexpr uint32_t SRGB = 1, Custom = 2, BT2100 = 9, P3 = 11;
}
namespace Transfer {
constexpr uint32_t BT709 = 1, Unknown = 2, Linear = 8, SRGB = 13, PQ = 16, DCI = 17, HLG = 18;
}
constexpr uint32_t RenderingIntents = 4;
// The gamma field holds the encoding exponent times this; the exponent is at most 1.
constexpr uint32_t UnitGamma = 10000000;

// A chromaticity coordinate, in millionths, signed.
double CustomCoordinate(BitReader& bits) {
    const uint32_t packed = bits.U32({BitsOffset(19, 0), BitsOffset(19, 524288),
                                      BitsOffset(20, 1048576), BitsOffset(21, 2097152)});
    const int64_t value = (packed & 1) ? -(int64_t{packed >> 1} + 1) : int64_t{packed >> 1};
    return double(value) / 1e6;
}

void CustomXY(BitReader& bits, double* xy) {
    xy[0] = CustomCoordinate(bits);
    xy[1] = CustomCoordinate(bits);
}

// The colour encoding; true with `numbers` filled when it names a space we write as a profile
// (not sRGB by default, an ICC profile, XYB or an unknown space or transfer).
bool ReadColourEncoding(BitReader& bits, ColourNumbers& numbers) {
    if (bits.Bool()) return false;  // sRGB
    if (bits.Bool()) return false;  // an ICC profile, entropy-coded further on
    const uint32_t space = bits.Enum();
    switch (space) {
    case ColourSpace::RGB:
    case ColourSpace::Grey: break;
    case ColourSpace::XYB:  // no white point, primaries and curve of our kind describe these
    case ColourSpace::Unknown: return false;
    default: throw EReadError();
    }

    switch (bits.Enum()) {
    case WhitePoint::D65:
        numbers.White[0] = 0.3127;
        numbers.White[1] = 0.3290;
        break;
    case WhitePoint::Custom: CustomXY(bits, numbers.White); break;
    case WhitePoint::E: numbers.White[0] = numbers.White[1] = 1.0 / 3; break;
    case WhitePoint::DCI:
        numbers.White[0] = 0.314;
        numbers.White[1] = 0.351;
        break;
    default: throw EReadError();
    }

    // The same primaries by their H.273 code points (P3's with its white point coded apart).
    constexpr uint16_t SRGBCode = 1, BT2100Code = 9, P3Code = 12;
    uint16_t primaries = SRGBCode;  // neutral pixels of a grey picture need none
    if (space != ColourSpace::Grey) {
        switch (bits.Enum()) {
        case Primaries::SRGB: break;
        case Primaries::Custom:
            for (int i = 0; i < 3; ++i) CustomXY(bits, numbers.Primaries + 2 * i);
            primaries = 0;
            break;
        case Primaries::BT2100: primaries = BT2100Code; break;
        case Primaries::P3: primaries = P3Code; break;
        default: throw EReadError();
        }
    }
    if (primaries != 0) PrimariesFromCode(primaries, numbers.Primaries);

    bool known = true;
    if (bits.Bool()) {
        const uint32_t gamma = bits.Bits(24);
        Require(gamma > 0 && gamma <= UnitGamma);
        numbers.Curve = TransferCurve::Gamma;
        numbers.Gamma = double(UnitGamma) / gamma;
    } else {
        switch (bits.Enum()) {
        case Transfer::BT709: numbers.Curve = TransferCurve::BT709; break;
        case Transfer::Unknown: known = false; break;
        case Transfer::Linear: numbers.Curve = TransferCurve::Linear; break;
        case Transfer::SRGB: numbers.Curve = TransferCurve::SRGB; break;
        case Transfer::PQ: numbers.Curve = TransferCurve::PQ; break;
        case Transfer::DCI:
            numbers.Curve = TransferCurve::Gamma;
            numbers.Gamma = 2.6;
            break;
        case Transfer::HLG: numbers.Curve = TransferCurve::HLG; break;
        default: throw EReadError();
        }
    }
    Require(bits.Enum() < RenderingIntents);
    return known;
}

// The ToneMapping bundle's intensity_target: the picture's brightest light in cd/m2, or 0 when
// the bundle keeps its defaults (whose 255 describes pictures of standard range) or breaks its
// rules.
double ReadIntensityTarget(BitReader& bits) {
    if (bits.Bool()) return 0;
    const double intensityTarget = bits.F16();
    const double minimumNits = bits.F16();
    const bool relativeToMaximumDisplay = bits.Bool();
    const double linearBelow = bits.F16();
    if (intensityTarget <= 0 || minimumNits < 0 || minimumNits > intensityTarget ||
        linearBelow < 0 || (relativeToMaximumDisplay && linearBelow > 1))
        return 0;
    return intensityTarget;
}

// The image header up to the colour encoding (and, for PQ, the tone mapping after it); true with
// `numbers` filled as ReadColourEncoding fills them.
bool ReadImageHeader(BitReader& bits, ColourNumbers& numbers) {
    for (uint8_t expected : CodestreamSignature) Require(bits.Bits(8) == expected);
    SkipSizeHeader(bits);
    if (bits.Bool()) return false;  // all_default: 8-bit sRGB
    const bool extraFields = bits.Bool();
    if (extraFields) {
        bits.Bits(3);  // orientation, which decoders apply
        if (bits.Bool()) SkipSizeHeader(bits);
        if (bits.Bool()) SkipPreviewHeader(bits);
        if (bits.Bool()) SkipAnimationHeader(bits);
    }
    SkipBitDepth(bits);
    bits.Bool();  // modular_16bit_buffers
    const uint32_t extraChannels = bits.U32({Val(0), Val(1), BitsOffset(4, 2), BitsOffset(12, 1)});
    for (uint32_t i = 0; i < extraChannels; ++i) SkipExtraChannelInfo(bits);
    bits.Bool();  // xyb_encoded: decoders return such pixels in the colour encoding too
    if (!ReadColourEncoding(bits, numbers)) return false;
    if (numbers.Curve == TransferCurve::PQ && extraFields) {
        try {
            numbers.PeakLuminance = ReadIntensityTarget(bits);
        } catch (const EReadError&) {
            // The colour encoding was whole: a codestream ending here keeps it, without a peak.
        }
    }
    return true;
}

}  // namespace

bool ReadJXLInfo(TMemoryReader& reader, ImageInfo& info) noexcept {
    uint8_t start[sizeof ContainerSignature] = {};
    reader.Seek(0, 0);
    const uint32_t count = reader.Read(start, sizeof start);
    const bool bare = count >= sizeof CodestreamSignature &&
                      std::memcmp(start, CodestreamSignature, sizeof CodestreamSignature) == 0;
    const bool container = count == sizeof ContainerSignature &&
                           std::memcmp(start, ContainerSignature, sizeof ContainerSignature) == 0;
    if (!bare && !container) return false;
    try {
        CodestreamBytes bytes =
            bare ? CodestreamBytes(reader) : CodestreamBytes(reader, sizeof ContainerSignature);
        BitReader bits(bytes);
        ColourNumbers numbers{};
        if (ReadImageHeader(bits, numbers)) StoreNumberedProfile(numbers, info);
    } catch (const EReadError&) {
        // The codestream ended or broke a rule before the colour encoding was whole.
    }
    return true;
}

}  // namespace qorvi
