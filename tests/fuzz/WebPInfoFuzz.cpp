// libFuzzer target: the WebP reader alone over any bytes. Besides the sanitizers' findings it
// traps on a result that disagrees with the RIFF signature or a record that breaks the readers'
// promises (RecordChecks.h).
#include "metadata/ImageInfoReader.h"
#include "tests/fuzz/RecordChecks.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace qorvi;
    if (size > UINT32_MAX) return 0;
    TMemoryReader reader(data, static_cast<uint32_t>(size));
    ImageInfo info{};
    const bool handled = ReadWebPInfo(reader, info);
    fuzz::Check(handled == (size >= 12 && std::memcmp(data, "RIFF", 4) == 0 &&
                            std::memcmp(data + 8, "WEBP", 4) == 0));
    // The ICCP chunk stays in place; a written profile comes only from Exif's AdobeRGB markers.
    if (info.ProfileData != nullptr) fuzz::Check(info.ProfileSize >= 128);
    if (info.ProfileBuffer != nullptr)
        fuzz::Check(info.ColorSpace == 2 || info.ColorSpace == 0xFFFF);
    fuzz::CheckRecord(info, data, size);
    return 0;
}
