// libFuzzer target: ReadImageInfo over any bytes, every reader in turn. Besides the sanitizers'
// findings it traps on a record that breaks the readers' promises (RecordChecks.h) or holds an
// orientation for a format whose decoders turn the picture themselves.
#include "metadata/ImageInfoReader.h"
#include "tests/fuzz/RecordChecks.h"

#include <cstddef>
#include <cstdint>

namespace {

using namespace qorvi;

// Stand-ins for the engine's readers that handle nothing, so every file also goes the whole
// way to the last resort.
int ReadNoPNG(ImageInfo*, PNGSource*) { return 0; }
int ReadNoWIC(ImageInfo*, const void*, int32_t) { return 0; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > UINT32_MAX) return 0;
    TMemoryReader reader(data, static_cast<uint32_t>(size));
    ImageInfo info{};
    const ImageFormat format = ReadImageInfo(reader, info, ImageInfoEngine{ReadNoPNG, ReadNoWIC});
    fuzz::Check(QorviTurns(format) || (info.Orientation == 0 && !(info.Flags & HasOrientation)));
    fuzz::CheckRecord(info, data, size);
    return 0;
}
