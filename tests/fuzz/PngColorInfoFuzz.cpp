// libFuzzer target: the colour engine's PNG chunk reader over any bytes. Besides the sanitizers'
// findings it traps on a record that breaks the reader's promises: a result that disagrees with
// the signature, a flag it never sets, a profile of a size it refuses, a value that is not a
// chromaticity or a gamma, gamma or chromaticities stored beside sRGB.
#include "engine/PngColorInfo.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>

namespace {

using namespace qorvi;

// Small, so that streams which inflate far cost the fuzzer little time.
constexpr uint32_t ProfileLimit = uint32_t(1) << 20;

void Check(bool promise) {
    if (!promise) __builtin_trap();
}

bool Between0And1(double value) { return std::isfinite(value) && value >= 0 && value < 1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > INT32_MAX) return 0;
    ImageInfo info{};
    const int result = engine::ReadPNGColorManageInfo(info, data, int32_t(size), ProfileLimit);

    static const uint8_t Signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    Check((result != 0) == (size >= 8 && std::memcmp(data, Signature, 8) == 0));
    constexpr uint32_t Known =
        HasWhitePoint | HasPrimaries | HasGamma | HasProfileBuffer | HasColorSpace;
    Check((info.Flags & ~Known) == 0);
    Check(((info.Flags & HasWhitePoint) != 0) == ((info.Flags & HasPrimaries) != 0));
    if (info.Flags & HasColorSpace) {
        Check(info.ColorSpace == 1);
        Check((info.Flags & (HasWhitePoint | HasPrimaries | HasGamma)) == 0);
    }
    Check(((info.Flags & HasProfileBuffer) != 0) == (info.ProfileBuffer != nullptr));
    Check(info.ProfileData == nullptr);
    if (info.ProfileBuffer != nullptr) {
        Check(info.ProfileSize >= 128 && uint32_t(info.ProfileSize) <= ProfileLimit);
        // Touch every byte: AddressSanitizer sees a block shorter than its size.
        volatile uint8_t sum = 0;
        const auto* profile = static_cast<const uint8_t*>(info.ProfileBuffer);
        for (int32_t i = 0; i < info.ProfileSize; ++i) sum = sum + profile[i];
    } else {
        Check(info.ProfileSize == 0);
    }
    if (info.Flags & HasGamma) Check(std::isfinite(info.Gamma) && info.Gamma > 0);
    for (double value : {info.WhitePointX, info.WhitePointY, info.RedX, info.RedY, info.GreenX,
                         info.GreenY, info.BlueX, info.BlueY})
        Check(Between0And1(value));
    if (info.Flags & HasWhitePoint)
        Check(info.WhitePointY > 0 && info.RedY > 0 && info.GreenY > 0 && info.BlueY > 0);

    FreeProfileBuffer(info.ProfileBuffer);
    return 0;
}
