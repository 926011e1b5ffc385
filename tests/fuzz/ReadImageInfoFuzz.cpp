// libFuzzer target: ReadImageInfo over any bytes. Besides the sanitizers' findings it traps on a
// record that breaks the reader's promises: a profile outside the file image or the buffer, both
// profile kinds at once, an unknown flag, a non-finite double.
#include "metadata/ImageInfoReader.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

using namespace qorvi;

// Stand-ins for the engine's readers that handle nothing, so every file also goes the whole
// way: JPEG, PNG, TIFF, then the last resort.
int ReadNoPNG(ImageInfo*, PNGSource*) { return 0; }
int ReadNoWIC(ImageInfo*, const void*, int32_t) { return 0; }

void Check(bool promise) {
    if (!promise) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    TMemoryReader reader(data, static_cast<uint32_t>(size));
    ImageInfo info{};
    ReadImageInfo(reader, info, ImageInfoEngine{ReadNoPNG, ReadNoWIC});

    Check((info.Flags & ~uint32_t{0x7F}) == 0);
    Check((info.Flags & HasProfileData) == 0 || (info.Flags & HasProfileBuffer) == 0);
    Check(((info.Flags & HasProfileData) != 0) == (info.ProfileData != nullptr));
    Check(((info.Flags & HasProfileBuffer) != 0) == (info.ProfileBuffer != nullptr));
    const auto* profile =
        static_cast<const uint8_t*>(info.ProfileData ? info.ProfileData : info.ProfileBuffer);
    if (profile == nullptr) {
        Check(info.ProfileSize == 0);
    } else {
        Check(info.ProfileSize > 0 && static_cast<size_t>(info.ProfileSize) <= size);
        if (info.ProfileData != nullptr) {
            const auto offset =
                reinterpret_cast<uintptr_t>(profile) - reinterpret_cast<uintptr_t>(data);
            Check(offset <= size && static_cast<size_t>(info.ProfileSize) <= size - offset);
        }
        // Touch every byte: AddressSanitizer sees a range past the image or the buffer.
        volatile uint8_t sum = 0;
        for (int32_t i = 0; i < info.ProfileSize; ++i) sum = sum + profile[i];
    }
    for (double value : {info.WhitePointX, info.WhitePointY, info.RedX, info.RedY, info.GreenX,
                         info.GreenY, info.BlueX, info.BlueY, info.Gamma})
        Check(std::isfinite(value));

    FreeProfileBuffer(info.ProfileBuffer);
    return 0;
}
