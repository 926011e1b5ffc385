// libFuzzer target: the HEIF and AVIF reader alone over any bytes. Besides the sanitizers'
// findings it traps on a record that breaks the readers' promises (RecordChecks.h), on a file
// handled without the ftyp signature, and on an orientation, which this reader never stores.
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
    const bool handled = ReadHEIFInfo(reader, info);
    const bool signature =
        size >= 8 && std::memcmp(data + 4, "ftyp", 4) == 0 &&
        (uint32_t{data[0]} << 24 | uint32_t{data[1]} << 16 | uint32_t{data[2]} << 8 | data[3]) >= 8;
    fuzz::Check(!handled || signature);
    fuzz::Check(info.Orientation == 0 && (info.Flags & HasOrientation) == 0);
    fuzz::CheckRecord(info, data, size);
    return 0;
}
