#include "metadata/ImageInfoReader.h"

namespace qorvi {
bool ReadWebPInfo(TMemoryReader&, ImageInfo&) noexcept { return false; }

}  // namespace qorvi
