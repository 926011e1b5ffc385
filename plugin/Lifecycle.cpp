// Start-up, shut-down and the re-run of the settings-dependent steps after a confirmed settings
// dialog: the process-wide state of PluginState.h from the library's load to its unload.
#include "base/WinText.h"
#include "color/LCMSDll.h"
#include "color/ProfileSetup.h"
#include "plugin/OptionValues.h"
#include "plugin/Settings.h"
#include "plugin/SusiePluginMain.h"

#include <algorithm>
#include <atomic>

namespace qorvi {

namespace {

bool Started = false;
bool Finished = false;

// Shown once, at start-up, when the engine cannot be loaded; the plug-in goes on without it.
void ShowEngineWarning(const std::wstring& enginePath) {
    const std::wstring text =
        enginePath.substr(FileNameStart(enginePath)) + L"のLoadに失敗しました";
    MessageBoxW(nullptr, text.c_str(), L"警告", MB_OK | MB_ICONWARNING);
}

HMODULE LoadedModule = nullptr;
enum StartState { NotStarted, Starting, Running };
std::atomic<int> Start{NotStarted};
CriticalSection StartLock;

}  // namespace

void RecordModule(HMODULE module) noexcept { LoadedModule = module; }

void EnsureStarted() noexcept {
    if (Start.load(std::memory_order_acquire) == Running) return;
    // Recursive for the starting thread, which finds Starting and goes on.
    CriticalSectionGuard guard(StartLock);
    if (Start.load(std::memory_order_relaxed) != NotStarted) return;
    Start.store(Starting, std::memory_order_relaxed);
    try {
        InitializePlugin(LoadedModule);
    } catch (...) {
        // Out of memory while starting: what exists is undone, and the plug-in stays without state.
        FinalizePlugin(false);
    }
    Start.store(Running, std::memory_order_release);
}

void InitializePlugin(HMODULE module) {
    if (Started) return;
    Started = true;
    // Published as Plugin only when complete: a call from inside start-up sees none.
    auto owned = std::make_unique<PluginState>();
    PluginState& state = *owned;

    SYSTEM_INFO system;
    GetSystemInfo(&system);
    state.ProcessorCount = static_cast<int32_t>(std::max<DWORD>(system.dwNumberOfProcessors, 1));

    // Wide throughout: the folder may hold characters the system's code page lacks.
    const std::wstring path = ModulePath(module);
    const std::wstring folder = path.substr(0, FileNameStart(path));
    state.PluginList = std::make_unique<TSusiePluginList>();
    state.PluginList->LoadDirectory(folder);
    state.PluginList->LoadDirectory(folder + L"SPI");

    PluginOption = DefaultPluginOption();
    const std::wstring ini = IniPathFromLibraryPath(path);
    state.SettingsFile = ini;
    std::string orderString;
    ReadHostSettings(ini, PluginOption, orderString);
    if (!orderString.empty()) state.PluginList->ApplyOrderString(orderString);
    state.StartupOrder = orderString;
    state.PluginList->BuildFormatLists();
    ReadSizeLists(ini, PluginOption);
    state.Settings.Publish(PluginOption);
    const TPluginOption& settings = PluginOption;

    const std::wstring enginePath = ChangeFileExtension(path, EngineNameEnding);
    if (!LoadLCMSDll(enginePath)) ShowEngineWarning(enginePath);
    WriteCMSInfoIntents(state, settings);

    state.Module = module;
    PrepareCMSInfo(state.PictureCMSInfo, state.PreviewCMSInfo, state.Module,
                   settings.MonitorProfileName, settings.CMYKProfileName, settings.ThumbnailCMMode);

    state.PictureResizer = std::make_unique<TResizer>(state.ProcessorCount);
    state.ThumbnailResizer = std::make_unique<TResizer>(state.ProcessorCount);
    SetResizerModes(state, settings);

    state.PluginList->SetUseCMYKColorSpace(settings.ColorManagement ? -1 : 0);
    state.PluginList->SetThreadSafe(settings.ThreadSafeSPI);
    AddEngineOption(state);
    Plugin = std::move(owned);
}

void WriteCMSInfoIntents(PluginState& state, const TPluginOption& settings) {
    const uint32_t flags = settings.BlackPointCompensation ? uint32_t{BlackPointCompensation} : 0u;
    for (CMSInfo* info : {&state.PictureCMSInfo, &state.PreviewCMSInfo}) {
        info->Intent = settings.RenderingIntent;
        info->ProofingIntent = settings.RenderingIntent;
        info->Flags = flags;
    }
}

void AddEngineOption(PluginState& state) {
    state.PictureCMSInfo.Flags |= EngineOption;
    state.PreviewCMSInfo.Flags |= EngineOption;
}

void SetResizerModes(PluginState& state, const TPluginOption& settings) {
    const int32_t quality = settings.ThumbnailQuality;
    CriticalSectionGuard lock(state.ResizeLock);
    if (state.PictureResizer) state.PictureResizer->SetMode(uint32_t(settings.DecimationMode));
    if (state.ThumbnailResizer)
        state.ThumbnailResizer->SetMode(quality == 0 ? 0 : quality == 1 ? 2 : 3);
}

void ApplyConfirmedSettings(PluginState& state, const TPluginOption& confirmed) {
    // Requests that start from here on take the new record; those running keep theirs.
    state.Settings.Publish(confirmed);
    {
        // A transform running on another thread reads the records, and the engine frees what a
        // record held when it prepares it again: they change only while no transform runs. The
        // lock covers the records alone, so no transform waits for a child or a resize.
        CriticalSectionGuard transforms(state.TransformLock);
        WriteCMSInfoIntents(state, confirmed);
        PrepareCMSInfo(state.PictureCMSInfo, state.PreviewCMSInfo, state.Module,
                       confirmed.MonitorProfileName, confirmed.CMYKProfileName,
                       confirmed.ThumbnailCMMode);
        AddEngineOption(state);
    }
    SetResizerModes(state, confirmed);
    if (state.PluginList) {
        state.PluginList->SetUseCMYKColorSpace(confirmed.ColorManagement ? -1 : 0);
        state.PluginList->SetThreadSafe(confirmed.ThreadSafeSPI);
    }
}

void FinalizePlugin(bool processExit) {
    if (!Started || Finished) return;
    Finished = true;
    if (Plugin) {
        PluginState& state = *Plugin;
        if (processExit) {
            // The process is ending: every library is being detached and every other thread is
            // gone. Unloading the children ourselves would run their code after that.
            (void)state.PluginList.release();
        } else {
            state.PluginList.reset();
        }
        // On process exit the engine's threads are gone and its memory goes with the process: it
        // is not called again.
        if (!processExit && LCMSDll.FinalizeCMSInfo != nullptr) {
            LCMSDll.FinalizeCMSInfo(&state.PictureCMSInfo);
            LCMSDll.FinalizeCMSInfo(&state.PreviewCMSInfo);
        }
        state.PictureResizer.reset();
        state.ThumbnailResizer.reset();
        if (!processExit && state.WorkerThreadsStarted && LCMSDll.TerminateWorkerThread != nullptr)
            LCMSDll.TerminateWorkerThread();
        state.WorkerThreadsStarted = false;
        // The locks and the settings go with the rest; nothing of ours runs any more.
        Plugin.reset();
    }
    // Waits for each worker's last signal; on process exit the workers are gone already.
    FreeResizeThreadGroup(processExit);
    FreeLCMSDll(processExit);
}

HWND OwnerWindow = nullptr;

int RunConfigurationDialog(HWND parent, ConfigurationForm showForm) {
    TSusiePluginList* children = Plugin ? Plugin->PluginList.get() : nullptr;
    const std::string savedOrder = children ? children->GetOrderString() : std::string();
    OwnerWindow = parent;
    const int modalResult = showForm(parent);
    if (modalResult == ModalResultOK) {
        // The form has stored the settings and written them: the live objects follow.
        if (Plugin) ApplyConfirmedSettings(*Plugin, PluginOption);
    } else if (children) {
        children->ApplyOrderString(savedOrder);
    }
    OwnerWindow = nullptr;
    return SusieSuccess;
}

}  // namespace qorvi
