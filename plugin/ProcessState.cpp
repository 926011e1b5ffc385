// The process-wide state of SusiePluginMain.h, apart from the modules that define their own
// (PluginOption, the engine's entry points and records).
#include "plugin/SusiePluginMain.h"

namespace qorvi {

int32_t ProcessorCount = 1;
std::unique_ptr<TSusiePluginList> PluginList;
std::optional<CriticalSection> TransformLock;
std::optional<CriticalSection> ResizeLock;
bool WorkerThreadsStarted = false;
std::unique_ptr<TResizer> PictureResizer;
std::unique_ptr<TResizer> ThumbnailResizer;
std::string SettingsFile;

}  // namespace qorvi
