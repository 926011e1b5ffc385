#include "plugin/SusiePluginMain.h"

#include "color/LCMSDll.h"
#include "color/ProfileSetup.h"
#include "geometry/OutputSize.h"
#include "plugin/InputImage.h"
#include "plugin/OptionValues.h"
#include "plugin/Settings.h"
#include "plugin/WinText.h"

#include <algorithm>
#include <cstring>

namespace qorvi {

const char* const PluginVersionText =
    "qorvi " QORVI_VERSION " colour-managing import filter (C) 2026 the qorvi developers";

namespace {

bool Started = false;
bool Finished = false;

bool SystemLeadByte(unsigned char byte) { return IsDBCSLeadByte(byte) != FALSE; }

// The library's own path, as the system reports it: at most MAX_PATH characters.
std::string ModulePath(HMODULE module) {
    char path[MAX_PATH + 1] = {};
    GetModuleFileNameA(module, path, MAX_PATH);
    return path;
}

// The child for a picture request: the file's name takes part in the choice for file input.
TSusiePlugin* ChooseChild(LPCSTR buf, unsigned flag, const TMemoryReader& reader) {
    if (!PluginList) return nullptr;
    const bool fileInput = (flag & SusieInputMask) == SusieInputFile;
    const std::string fileName = fileInput && buf != nullptr ? std::string(buf) : std::string();
    return PluginList->FindSupportingData(fileName, reader.Memory, reader.Size);
}

// Shown once, at start-up, when the engine cannot be loaded; the plug-in goes on without it.
void ShowEngineWarning(const std::string& enginePath) {
    const std::string file = enginePath.substr(FileNameStart(enginePath, SystemLeadByte));
    const std::wstring text = WidenAnsi(file) + L"のLoadに失敗しました";
    MessageBoxW(nullptr, text.c_str(), L"警告", MB_OK | MB_ICONWARNING);
}

std::string InformationText(int infono) {
    if (infono == 0) return "00IN";
    if (infono == 1) return PluginVersionText;
    if (!PluginList) return {};
    const int index = (infono - 2) / 2;
    return infono % 2 == 0 ? PluginList->GetPattern(index) : PluginList->GetDescription(index);
}

// GetPicture and GetPreview: the child decodes from memory, the pipeline post-processes.
int RequestPicture(LPCSTR buf, long len, unsigned flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                   SusieProgressCallback progress, long lData, bool preview) {
    // Nowhere to put a picture: no child is asked to decode one.
    if (pHBInfo == nullptr || pHBm == nullptr) return SusieInternalError;
    bool delivered = false;
    try {
        TInputImage input;
        int result = LoadInputImage(buf, len, flag, input);
        if (result != SusieSuccess) return result;
        TSusiePlugin* child = ChooseChild(buf, flag, *input.Reader);
        if (child == nullptr) return SusieUnsupported;

        // Children always decode the image held in memory, whatever the host passed.
        const auto data = reinterpret_cast<LPCSTR>(input.Reader->Memory);
        const auto size = static_cast<long>(input.Reader->Size);
        if (preview) {
            result = child->CallGetPreview(data, size, SusieInputMemory, pHBInfo, pHBm, progress,
                                           lData);
            if (result == SusieNotImplemented)
                result = child->CallGetPicture(data, size, SusieInputMemory, pHBInfo, pHBm,
                                               progress, lData);
        } else {
            result = child->CallGetPicture(data, size, SusieInputMemory, pHBInfo, pHBm, progress,
                                           lData);
        }
        if (result != SusieSuccess) return result;
        delivered = true;
        if (ProcessPicture(*input.Reader, *pHBInfo, *pHBm, preview)) return SusieSuccess;
    } catch (...) {
        // Out of memory in our own bookkeeping: the request fails like a failed pipeline.
    }
    if (delivered) {
        LocalFree(*pHBInfo);
        LocalFree(*pHBm);
    }
    return SusieInternalError;
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
    PrepareCMSInfo(PluginOption.MonitorProfileName, PluginOption.CMYKProfileName);

    PictureResizer = std::make_unique<TResizer>(ProcessorCount);
    ThumbnailResizer = std::make_unique<TResizer>(ProcessorCount);
    SetResizerModes();

    PluginList->SetUseCMYKColorSpace(PluginOption.ColorManagement ? -1 : 0);
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
    PrepareCMSInfo(PluginOption.MonitorProfileName, PluginOption.CMYKProfileName);
    SetResizerModes();
    if (PluginList) PluginList->SetUseCMYKColorSpace(PluginOption.ColorManagement ? -1 : 0);
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

}  // namespace qorvi

using namespace qorvi;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        try {
            InitializePlugin(instance);
        } catch (...) {
            // Out of memory while loading: undo what exists and refuse the load.
            FinalizePlugin(false);
            return FALSE;
        }
        return TRUE;
    case DLL_PROCESS_DETACH:
        // A non-null `reserved` means the process is ending rather than unloading us.
        FinalizePlugin(reserved != nullptr);
        return TRUE;
    default:
        return TRUE;
    }
}

extern "C" int __stdcall GetPluginInfo(int infono, LPSTR buf, int buflen) {
    if (infono < 0 || buf == nullptr || buflen < 1) return 0;
    std::string text;
    try {
        text = InformationText(infono);
    } catch (...) {
        return 0;
    }
    const int length = static_cast<int>(std::min<size_t>(text.size(), static_cast<size_t>(buflen - 1)));
    if (text.empty()) return 0;
    std::memcpy(buf, text.data(), static_cast<size_t>(length));
    buf[length] = '\0';
    return length;
}

extern "C" int __stdcall IsSupported(LPCSTR filename, DWORD dw) {
    if (!PluginList) return 0;
    try {
        return PluginList->FindSupporting(filename != nullptr ? filename : "", dw) != nullptr;
    } catch (...) {
        return 0;
    }
}

extern "C" int __stdcall GetPictureInfo(LPCSTR buf, long len, unsigned flag, PictureInfo* lpInfo) {
    try {
        TInputImage input;
        const int loaded = LoadInputImage(buf, len, flag, input);
        if (loaded != SusieSuccess) return loaded;
        TSusiePlugin* child = ChooseChild(buf, flag, *input.Reader);
        if (child == nullptr) return SusieUnsupported;
        // The child gets the host's own arguments: for file input it opens the file itself.
        const int result = child->CallGetPictureInfo(buf, len, flag, lpInfo);
        if (result == SusieSuccess && lpInfo != nullptr && PluginOption.LimitedOutputSize) {
            int32_t width = lpInfo->width, height = lpInfo->height;
            FitToBox(width, height, PluginOption.MaxWidth, PluginOption.MaxHeight);
            lpInfo->width = width;
            lpInfo->height = height;
        }
        return result;
    } catch (...) {
        return SusieInternalError;
    }
}

extern "C" int __stdcall GetPicture(LPCSTR buf, long len, unsigned flag, HLOCAL* pHBInfo,
                                    HLOCAL* pHBm, SusieProgressCallback lpPrgressCallback,
                                    long lData) {
    return RequestPicture(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData, false);
}

extern "C" int __stdcall GetPreview(LPCSTR buf, long len, unsigned flag, HLOCAL* pHBInfo,
                                    HLOCAL* pHBm, SusieProgressCallback lpPrgressCallback,
                                    long lData) {
    return RequestPicture(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData, true);
}

extern "C" int __stdcall ConfigurationDlg(HWND parent, int fnc) {
    // Only function 1, the settings dialog, exists; it is not built yet.
    return SusieNotImplemented;
}
