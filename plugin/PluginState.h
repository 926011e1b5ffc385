// The plug-in's process-wide state: one object, created by InitializePlugin and destroyed by
// FinalizePlugin (SusiePluginMain.h), and handed to what a request runs.
//
// Threads: the exports may run on any thread at once. The child list, the resizers and the
// settings file are set up at start-up and changed afterwards only by the settings dialog on the
// host's window thread. What requests share while they run is guarded: the colour engine (its
// transforms, its workers and its two records) by TransformLock, the resizers by ResizeLock, the
// live settings by their holder.
#pragma once

#include "base/WinHandles.h"
#include "engine/EngineApi.h"
#include "geometry/Resize.h"
#include "hostplugins/SusiePluginList.h"
#include "plugin/Settings.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qorvi {

struct PluginState {
    int32_t ProcessorCount = 1;
    std::unique_ptr<TSusiePluginList> PluginList;
    // Around every colour-engine transform, the workers' start, and every change of the engine
    // records after start-up.
    CriticalSection TransformLock;
    // Around every filtered resize and every change of the resizers' modes.
    CriticalSection ResizeLock;
    // The engine's records for pictures and for previews (color/ProfileSetup.h prepares them).
    CMSInfo PictureCMSInfo{};
    CMSInfo PreviewCMSInfo{};
    // qorvi.spi itself, which holds the built-in CMYK profile; null in tests (the executable).
    HMODULE Module = nullptr;
    bool WorkerThreadsStarted =
        false;  // the engine's workers exist (started by the first transform)
    std::unique_ptr<TResizer> PictureResizer;    // GetPicture's output
    std::unique_ptr<TResizer> ThumbnailResizer;  // GetPreview's output
    // qorvi.ini beside the library, where a confirmed settings dialog writes.
    std::wstring SettingsFile;
    // The order string start-up read from it: what a confirmed dialog merges into a section
    // that stores none of its own (SaveSettings).
    std::string StartupOrder;
    // What requests read: published at start-up and by a confirmed settings dialog.
    SettingsHolder Settings;
};

// The running plug-in's state: null before InitializePlugin and after FinalizePlugin.
extern std::unique_ptr<PluginState> Plugin;

}  // namespace qorvi
