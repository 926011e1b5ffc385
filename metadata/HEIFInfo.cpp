#include "metadata/ImageInfoReader.h"

namespace qorvi {
bool ReadHEIFInfo(TMemoryReader&, ImageInfo&) noexcept { return false; }

}  // namespace qorvi
