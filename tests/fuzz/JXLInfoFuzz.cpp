// libFuzzer target: the JPEG XL header reader over any bytes. Besides the sanitizers' findings it
// traps on a record that breaks the readers' promises (RecordChecks.h), on a result that
// disagrees with the two signatures, and on anything stored besides a written profile.
#include "metadata/ImageInfoReader.h"
#include "tests/fuzz/RecordChecks.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

using namespace qorvi;

bool StartsWith(const uint8_t* data, size_t size, const uint8_t* prefix, size_t length) {
    return size >= length && std::memcmp(data, prefix, length) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    TMemoryReader reader(data, static_cast<uint32_t>(size));
    ImageInfo info{};
    const bool handled = ReadJXLInfo(reader, info);

    static const uint8_t Codestream[] = {0xFF, 0x0A};
    static const uint8_t Container[] = {0, 0, 0, 12, 'J', 'X', 'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
    fuzz::Check(handled == (StartsWith(data, size, Codestream, sizeof Codestream) ||
                            StartsWith(data, size, Container, sizeof Container)));
    fuzz::Check((info.Flags & ~uint32_t{HasProfileBuffer}) == 0);
    fuzz::CheckRecord(info, data, size);
    return 0;
}
