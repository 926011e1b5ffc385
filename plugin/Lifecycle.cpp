// Start-up, shut-down and the re-run of the settings-dependent steps after a confirmed settings
// dialog: the process-wide state of SusiePluginMain.h from the library's load to its unload.
#include "color/LCMSDll.h"
#include "color/ProfileSetup.h"
#include "plugin/OptionValues.h"
#include "plugin/Settings.h"
#include "plugin/SusiePluginMain.h"
#include "base/WinText.h"

#include <algorithm>

namespace qorvi {

namespace {

bool Started = false;
bool Finished = false;

// The library's own path, as the system reports it: at most MAX_PATH characters.
std::string ModulePath(HMODULE module) {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    return path;
}

// Shown once, at start-up, when the engine cannot be loaded; the plug-in goes on without it.
void ShowEngineWarning(const std::string& enginePath) {
    const std::string file = enginePath.substr(FileNameStart(enginePath, SystemLeadByte));
    const std::wstring text = WidenAnsi(file) + L"のLoadに失敗しました";
    MessageBoxW(nullptr, text.c_str(), L"警告", MB_OK | MB_ICONWARNING);
}

}  // namespace

void InitializePlugin(HMODULE module) {
    if (Started) return;
    Started = true;

    SYSTEM_INFO system;
    GetSystemInfo(&system);
    ProcessorCount = static_cast<int32_t>(std::max<DWORD>(system.dwNumberOfProcessors, 1));

    const std::string path = ModulePath(module);
    const std::string folder = path.substr(0, FileNameStart(path, SystemLeadByte));
    PluginList = std::make_unique<TSusiePluginList>();
    PluginList->LoadDirectory(folder);
    PluginList->LoadDirectory(folder + "SPI");

    PluginOption = DefaultPluginOption();
    const std::string ini = IniPathFromLibraryPathA(path);
    SettingsFile = ini;
    std::string orderString;
    ReadHostSettings(ini, PluginOption, orderString);
    if (!orderString.empty()) PluginList->ApplyOrderString(orderString);
    PluginList->BuildFormatLists();
    ReadSizeLists(ini, PluginOption);

    const std::string enginePath = ChangeFileExtension(path, ".dll", SystemLeadByte);
    if (!LoadLCMSDll(enginePath)) ShowEngineWarning(enginePath);
    PictureCMSInfo = CMSInfo{};
    PreviewCMSInfo = CMSInfo{};
    WriteCMSInfoIntents();

    TransformLock.emplace();
    ResizeLock.emplace();

    BuiltInProfileModule = module;
    PrepareCMSInfo(PluginOption.MonitorProfileName, PluginOption.CMYKProfileName,
                   PluginOption.ThumbnailCMMode);

    PictureResizer = std::make_unique<TResizer>(ProcessorCount);
    ThumbnailResizer = std::make_unique<TResizer>(ProcessorCount);
    SetResizerModes();

    PluginList->SetUseCMYKColorSpace(PluginOption.ColorManagement ? -1 : 0);
    PluginList->SetThreadSafe(PluginOption.ThreadSafeSPI);
    AddEngineOption();
}

void WriteCMSInfoIntents() {
    const uint32_t flags = PluginOption.BlackPointCompensation ? uint32_t{BlackPointCompensation} : 0u;
    for (CMSInfo* info : {&PictureCMSInfo, &PreviewCMSInfo}) {
        info->Intent = PluginOption.RenderingIntent;
        info->ProofingIntent = PluginOption.RenderingIntent;
        info->Flags = flags;
    }
}

void AddEngineOption() {
    PictureCMSInfo.Flags |= EngineOption;
    PreviewCMSInfo.Flags |= EngineOption;
}

void SetResizerModes() {
    const int32_t quality = PluginOption.ThumbnailQuality;
    CriticalSectionGuard lock(*ResizeLock);
    if (PictureResizer) PictureResizer->SetMode(uint32_t(PluginOption.DecimationMode));
    if (ThumbnailResizer) ThumbnailResizer->SetMode(quality == 0 ? 0 : quality == 1 ? 2 : 3);
}

void ApplyConfirmedSettings() {
    WriteCMSInfoIntents();
    PrepareCMSInfo(PluginOption.MonitorProfileName, PluginOption.CMYKProfileName,
                   PluginOption.ThumbnailCMMode);
    SetResizerModes();
    if (PluginList) {
        PluginList->SetUseCMYKColorSpace(PluginOption.ColorManagement ? -1 : 0);
        PluginList->SetThreadSafe(PluginOption.ThreadSafeSPI);
    }
    AddEngineOption();
}

void FinalizePlugin(bool processExit) {
    if (!Started || Finished) return;
    Finished = true;
    if (processExit) {
        // The process is ending: every library is being detached and every other thread is
        // gone. Unloading the children ourselves would run their code after that.
        (void)PluginList.release();
    } else {
        PluginList.reset();
    }
    TransformLock.reset();
    ResizeLock.reset();
    // On process exit the engine's threads are gone and its memory goes with the process: it is
    // not called again.
    if (!processExit && LCMSDll.FinalizeCMSInfo != nullptr) {
        LCMSDll.FinalizeCMSInfo(&PictureCMSInfo);
        LCMSDll.FinalizeCMSInfo(&PreviewCMSInfo);
    }
    PictureResizer.reset();
    ThumbnailResizer.reset();
    if (!processExit && WorkerThreadsStarted && LCMSDll.TerminateWorkerThread != nullptr)
        LCMSDll.TerminateWorkerThread();
    WorkerThreadsStarted = false;
    // Waits for each worker's last signal; on process exit the workers are gone already.
    FreeResizeThreadGroup(processExit);
    FreeLCMSDll(processExit);
}

HWND OwnerWindow = nullptr;

int RunConfigurationDialog(HWND parent, ConfigurationForm showForm) {
    const std::string savedOrder = PluginList ? PluginList->GetOrderString() : std::string();
    OwnerWindow = parent;
    const int modalResult = showForm(parent);
    if (modalResult == ModalResultOK) {
        // The form has stored the settings and written them: the live objects follow.
        ApplyConfirmedSettings();
    } else if (PluginList) {
        PluginList->ApplyOrderString(savedOrder);
    }
    OwnerWindow = nullptr;
    return SusieSuccess;
}

}  // namespace qorvi
