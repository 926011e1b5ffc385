#include "plugin/SusiePluginMain.h"

namespace qorvi {

bool ProcessPicture(TMemoryReader& reader, HLOCAL& infoHandle, HLOCAL& bitsHandle, bool preview) {
    // The stages (alpha, shrinking, rotation, colour) are added here one by one; until then the
    // child's bitmap reaches the host as the child made it.
    return true;
}

}  // namespace qorvi
