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
    // A WebP profile is never written here: only the ICCP chunk, in place.
    fuzz::Check((info.Flags & HasProfileBuffer) == 0);
    if (info.ProfileData != nullptr) fuzz::Check(info.ProfileSize >= 128);
    fuzz::CheckRecord(info, data, size);
    return 0;
}
