#include "metadata/ImageInfoReader.h"

namespace qorvi {
bool ReadJXLInfo(TMemoryReader&, ImageInfo&) noexcept { return false; }

}  // namespace qorvi
