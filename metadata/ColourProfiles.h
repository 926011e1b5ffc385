// Colours given by numbers rather than by a profile, written as a profile: HEIF's and AVIF's nclx
// and PNG's cICP (ITU-T H.273 code points), JPEG XL's enumerated colour encodings and Exif's
// AdobeRGB markers. The engine takes a profile and nothing else of these, so the readers hand it
// a small ICC v4 matrix-shaper profile in the ImageInfo record's ProfileBuffer: the white point,
// the primaries adapted to D50 (Bradford), and one curve for all three channels: parametric for
// sRGB, the BT.709 family, pure gamma and linear, a table for PQ and HLG.
//
// PQ and HLG pictures are high dynamic range. Their table maps the stored signal to light, takes
// the reference white of 203 cd/m2 (BT.2408) as 1, and rolls what lies above it off towards the
// display's white (ToneMapped): the picture keeps its reference white near the top of the display's
// range and its highlights apart, instead of looking dim or clipping. HLG's light is its display
// light on a 1000 cd/m2 display (system gamma 1.2, applied per channel); PQ's brightest light is
// the picture's maximum content light level when the file gives one, else the 10000 cd/m2 the
// signal can hold.
//
// Nothing here throws or reads outside its arguments; code points qorvi does not know give false
// and leave the record as it was, so such a picture is taken as sRGB.
#pragma once

#include "engine/EngineApi.h"

#include <cstdint>

namespace qorvi {

// ITU-T H.273 code points; 2 means unspecified. Matrix and range tell a decoder how to turn the
// stored samples into R, G, B and are not needed after it.
struct CodePoints {
    uint16_t Primaries = 2;
    uint16_t Transfer = 2;
    uint16_t Matrix = 2;
    bool FullRange = true;
};

enum class TransferCurve : uint8_t { SRGB, BT709, SMPTE240M, Gamma, Linear, PQ, HLG };

// A colour space given by numbers: CIE xy of the white point and of the red, green and blue
// primaries, and the curve from stored values to light.
struct ColourNumbers {
    double White[2];
    double Primaries[6];  // red x, y, green x, y, blue x, y
    TransferCurve Curve;
    double Gamma = 0;          // TransferCurve::Gamma: the decoding exponent (2.2 for gamma 2.2)
    double PeakLuminance = 0;  // TransferCurve::PQ: cd/m2 of the brightest pixel, 0 if unknown
};

// The reference white of high dynamic range pictures, in cd/m2.
inline constexpr double ReferenceWhite = 203;

// The numbers the code points name: primaries 1, 4 to 7, 9, 11, 12 and 22; transfer 1, 4 to 8,
// 13 to 16 and 18. False (and `numbers` untouched) for any other value of either.
bool NumbersFromCodePoints(const CodePoints& codes, ColourNumbers& numbers) noexcept;

// The chromaticities of the primaries alone (red x, y, green x, y, blue x, y) an H.273 code
// point names, as NumbersFromCodePoints takes them; false for one qorvi does not know.
bool PrimariesFromCode(uint16_t code, double (&primaries)[6]) noexcept;

// AdobeRGB (1998): what Exif's ColorSpace 2, or 0xFFFF with the interoperability index "R03",
// says.
ColourNumbers AdobeRGBNumbers() noexcept;

// Writes the profile of `numbers` into a block from AllocateProfileBuffer and stores it as the
// record's ProfileBuffer (ProfileSize, HasProfileBuffer). Does nothing and returns false when the
// record already holds a profile, when the numbers make no profile (a white point or primaries
// off the chromaticity diagram, primaries on one line, a gamma outside (0, 10]) or when memory
// runs out.
bool StoreNumberedProfile(const ColourNumbers& numbers, ImageInfo& info) noexcept;
// NumbersFromCodePoints, then StoreNumberedProfile; `peakLuminance` as in ColourNumbers.
bool StoreCodePointProfile(const CodePoints& codes, ImageInfo& info,
                           double peakLuminance = 0) noexcept;

// The profile's curve at one stored value in [0, 1]: light relative to the display's white, in
// [0, 1]. For PQ and HLG that is the light ToneMapped; the others are their plain transfer
// functions.
double CurveValue(const ColourNumbers& numbers, double signal) noexcept;
// Light relative to reference white (1 = 203 cd/m2) to light relative to the display's white:
// unchanged up to ToneKnee, then rolled off so that `peak` (relative to reference white too) lands
// on 1 with the slope continuous at the knee.
inline constexpr double ToneKnee = 0.8;
double ToneMapped(double light, double peak) noexcept;

}  // namespace qorvi
