#include "plugin/PluginState.h"

namespace qorvi {

std::unique_ptr<PluginState> Plugin;

}  // namespace qorvi
