#include "metadata/ColourProfiles.h"

#include <cstring>

// Placeholder until the profile writer lands: a block naming the code points.
namespace qorvi {

bool NumbersFromCodePoints(const CodePoints& codes, ColourNumbers& numbers) noexcept {
    const bool primaries = codes.Primaries == 1 || codes.Primaries == 9 || codes.Primaries == 11 ||
                           codes.Primaries == 12;
    const bool transfer = codes.Transfer == 1 || codes.Transfer == 4 || codes.Transfer == 5 ||
                          codes.Transfer == 6 || codes.Transfer == 8 || codes.Transfer == 13 ||
                          codes.Transfer == 14 || codes.Transfer == 15 || codes.Transfer == 16 ||
                          codes.Transfer == 18;
    if (!primaries || !transfer) return false;
    numbers = {};
    numbers.White[0] = codes.Primaries;
    numbers.White[1] = codes.Transfer;
    return true;
}

ColourNumbers AdobeRGBNumbers() noexcept {
    return {
        {0.3127, 0.3290}, {0.64, 0.33, 0.21, 0.71, 0.15, 0.06}, TransferCurve::Gamma, 563.0 / 256};
}

bool StoreNumberedProfile(const ColourNumbers& numbers, ImageInfo& info) noexcept {
    if (info.Flags & (HasProfileData | HasProfileBuffer)) return false;
    auto* block = static_cast<uint8_t*>(AllocateProfileBuffer(128));
    if (block == nullptr) return false;
    std::memset(block, 0, 128);
    std::memcpy(block, &numbers, sizeof numbers < 128 ? sizeof numbers : 128);
    info.ProfileBuffer = block;
    info.ProfileSize = 128;
    info.Flags |= HasProfileBuffer;
    return true;
}

bool StoreCodePointProfile(const CodePoints& codes, ImageInfo& info, double peak) noexcept {
    ColourNumbers numbers;
    if (!NumbersFromCodePoints(codes, numbers)) return false;
    numbers.PeakLuminance = peak;
    return StoreNumberedProfile(numbers, info);
}

double CurveValue(const ColourNumbers&, double signal) noexcept { return signal; }
double ToneMapped(double light, double) noexcept { return light; }

}  // namespace qorvi
