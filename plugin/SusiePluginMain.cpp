#include "plugin/SusiePluginMain.h"

#include "base/RuntimeMemory.h"
#include "geometry/OutputSize.h"
#include "plugin/InputImage.h"
#include "plugin/Settings.h"

#include <algorithm>
#include <cstring>

namespace qorvi {

const char* const PluginVersionText =
    "qorvi " QORVI_VERSION " colour-managing import filter (C) 2026 the qorvi developers";

namespace {

// The child for a picture request: the file's name takes part in the choice for file input.
TSusiePlugin* ChooseChild(PluginState* state, LPCSTR buf, unsigned flag,
                          const TMemoryReader& reader) {
    if (state == nullptr || !state->PluginList) return nullptr;
    const bool fileInput = (flag & SusieInputMask) == SusieInputFile;
    const std::string fileName = fileInput && buf != nullptr ? std::string(buf) : std::string();
    return state->PluginList->FindSupportingData(fileName, reader.Memory, reader.Size);
}

std::string InformationText(int infono) {
    if (infono == 0) return "00IN";
    if (infono == 1) return PluginVersionText;
    if (!Plugin || !Plugin->PluginList) return {};
    const TSusiePluginList& children = *Plugin->PluginList;
    const int index = (infono - 2) / 2;
    return infono % 2 == 0 ? children.GetPattern(index) : children.GetDescription(index);
}

// Handed to the child when the host gives no progress callback: many children call it without
// looking. Never asks to stop.
int __stdcall IgnoreProgress(int, int, long) { return 0; }

// GetPicture and GetPreview: the child decodes from memory, the pipeline post-processes.
int RequestPicture(LPCSTR buf, long len, unsigned flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                   SusieProgressCallback progress, long lData, bool preview) {
    // Nowhere to put a picture: no child is asked to decode one.
    if (pHBInfo == nullptr || pHBm == nullptr) return SusieInternalError;
    PluginState* state = Plugin.get();
    if (progress == nullptr) progress = IgnoreProgress;
    bool delivered = false;
    try {
        // The settings this request runs with, whatever the settings dialog does meanwhile.
        const SettingsSnapshot settings = state ? state->Settings.Snapshot() : nullptr;
        InputImage input;
        int result = LoadInputImage(buf, len, flag, input);
        if (result != SusieSuccess) return result;
        TSusiePlugin* child = ChooseChild(state, buf, flag, *input.Reader);
        if (child == nullptr) return SusieUnsupported;

        // Children always decode the image held in memory, whatever the host passed.
        const auto data = reinterpret_cast<LPCSTR>(input.Reader->Memory);
        const auto size = static_cast<long>(input.Reader->Size);
        if (preview) {
            result =
                child->CallGetPreview(data, size, SusieInputMemory, pHBInfo, pHBm, progress, lData);
            if (result == SusieNotImplemented)
                result = child->CallGetPicture(data, size, SusieInputMemory, pHBInfo, pHBm,
                                               progress, lData);
        } else {
            result =
                child->CallGetPicture(data, size, SusieInputMemory, pHBInfo, pHBm, progress, lData);
        }
        if (result != SusieSuccess) return result;
        delivered = true;
        if (ProcessPicture(*state, *settings, *input.Reader, *pHBInfo, *pHBm, preview))
            return SusieSuccess;
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
        if (reserved == nullptr) ReleaseRuntimeMemory();
        return TRUE;
    default: return TRUE;
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
    const int length =
        static_cast<int>(std::min<size_t>(text.size(), static_cast<size_t>(buflen - 1)));
    if (text.empty()) return 0;
    std::memcpy(buf, text.data(), static_cast<size_t>(length));
    buf[length] = '\0';
    return length;
}

extern "C" int __stdcall IsSupported(LPCSTR filename, DWORD dw) {
    if (!Plugin || !Plugin->PluginList) return 0;
    try {
        return Plugin->PluginList->FindSupporting(filename != nullptr ? filename : "", dw) !=
               nullptr;
    } catch (...) {
        return 0;
    }
}

extern "C" int __stdcall GetPictureInfo(LPCSTR buf, long len, unsigned flag, PictureInfo* lpInfo) {
    PluginState* state = Plugin.get();
    try {
        const SettingsSnapshot settings = state ? state->Settings.Snapshot() : nullptr;
        InputImage input;
        const int loaded = LoadInputImage(buf, len, flag, input);
        if (loaded != SusieSuccess) return loaded;
        TSusiePlugin* child = ChooseChild(state, buf, flag, *input.Reader);
        if (child == nullptr) return SusieUnsupported;
        // The child gets the host's own arguments: for file input it opens the file itself.
        const int result = child->CallGetPictureInfo(buf, len, flag, lpInfo);
        if (result == SusieSuccess && lpInfo != nullptr && settings->LimitedOutputSize) {
            int32_t width = lpInfo->width, height = lpInfo->height;
            FitToBox(width, height, settings->MaxWidth, settings->MaxHeight);
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
    // Only function 1, the settings dialog, exists.
    if (fnc != 1) return SusieNotImplemented;
    try {
        return RunConfigurationDialog(parent, ShowConfigurationForm);
    } catch (...) {
        return SusieInternalError;
    }
}
