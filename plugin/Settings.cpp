#include "plugin/Settings.h"

namespace qorvi {

TPluginOption PluginOption;

}  // namespace qorvi
