#include "plugin/SusiePluginMain.h"

#include "base/RuntimeMemory.h"
#include "base/ThreadValue.h"
#include "base/WinText.h"
#include "geometry/OutputSize.h"
#include "plugin/ImageBuffer.h"
#include "plugin/InputImage.h"
#include "plugin/Settings.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace qorvi {

const char* const PluginVersionText =
    "qorvi " QORVI_VERSION " colour-managing import filter (C) 2026 the qorvi developers";

namespace {

// The name a request's input goes by: none for memory input.
RequestFileName NameOfInput(LPCSTR buf, unsigned flag) {
    const bool named = (flag & SusieInputMask) == SusieInputFile && buf != nullptr;
    return named ? RequestFileName(std::string(buf)) : RequestFileName();
}

RequestFileName NameOfInput(LPCWSTR buf, unsigned flag) {
    const bool named = (flag & SusieInputMask) == SusieInputFile && buf != nullptr;
    return named ? RequestFileName(std::wstring(buf)) : RequestFileName();
}

// The child for a picture request: the file's name takes part in the choice for file input.
template <class Char>
TSusiePlugin* ChooseChild(PluginState* state, const Char* buf, unsigned flag,
                          const InputImage& image) {
    if (state == nullptr || !state->PluginList) return nullptr;
    return state->PluginList->FindSupportingData(NameOfInput(buf, flag), image.Data, image.Size);
}

std::string InformationText(int infono) {
    if (infono == 0) return "00IN";
    if (infono == 1) return PluginVersionText;
    if (!Plugin || !Plugin->PluginList) return {};
    const TSusiePluginList& children = *Plugin->PluginList;
    const int index = (infono - 2) / 2;
    return infono % 2 == 0 ? children.GetPattern(index) : children.GetDescription(index);
}

std::wstring InformationTextW(int infono) {
    if (infono < 2) return WidenAnsi(InformationText(infono));
    if (!Plugin || !Plugin->PluginList) return {};
    const TSusiePluginList& children = *Plugin->PluginList;
    const int index = (infono - 2) / 2;
    return infono % 2 == 0 ? children.GetPatternW(index) : children.GetDescriptionW(index);
}

// GetPluginInfo and GetPluginInfoW: the text, cut to buflen - 1 characters, and a terminating
// zero; the length written. A negative number, no buffer or no room and an empty text write
// nothing.
template <class Char, class Text>
int CopyInformation(int infono, Char* buf, int buflen, Text (*information)(int)) {
    if (infono < 0 || buf == nullptr || buflen < 1) return 0;
    Text text;
    try {
        text = information(infono);
    } catch (...) {
        return 0;
    }
    if (text.empty()) return 0;
    size_t length = std::min<size_t>(text.size(), static_cast<size_t>(buflen - 1));
    // In UTF-16 a character outside the basic plane takes two units: a cut between them would
    // leave half a character.
    if constexpr (sizeof(Char) == 2) {
        if (length > 0 && length < text.size() && IS_HIGH_SURROGATE(text[length - 1])) --length;
    }
    std::copy_n(text.data(), length, buf);
    buf[length] = Char(0);
    return static_cast<int>(length);
}

// What a host call on this thread is doing while qorvi is inside it: null when there is none.
struct HostCall {
    SusieProgressCallback progress = nullptr;  // the host's, for a picture request
    SusieLength lData = 0;
};
ThreadValue<const HostCall*> tHostCall;

// Marks this thread as inside a host call while it lives. A child that calls qorvi's own exports
// from inside its entry point would otherwise have qorvi ask it again, without end: such a call
// is refused (Nested()).
class HostCallScope {
public:
    explicit HostCallScope(const HostCall& call) : saved_(tHostCall.get()) { tHostCall.set(&call); }
    explicit HostCallScope(HostCall&&) = delete;  // the call must outlive the scope
    ~HostCallScope() { tHostCall.set(saved_); }
    HostCallScope(const HostCallScope&) = delete;
    HostCallScope& operator=(const HostCallScope&) = delete;

    static bool Nested() { return tHostCall.get() != nullptr; }

private:
    const HostCall* saved_;
};

// The progress callback every child gets, also when the host gives none (many children call it
// without looking). It reaches the host's only on the thread of the host's request: a viewer's
// callback works with its windows, and one called from a decoder's own thread while the
// viewer's thread waits for that decoder could deadlock the viewer or break its window state.
// Calls from elsewhere, or without a host callback, are answered "go on".
int __stdcall ForwardProgress(int num, int denom, SusieLength) {
    const HostCall* call = tHostCall.get();
    if (call == nullptr || call->progress == nullptr) return 0;
    return call->progress(num, denom, call->lData);
}

// The two blocks of one picture request: what the child stored and, after the pipeline, what it
// made of them. Freed when the request fails, handed to the host when it succeeds. The child
// writes into these, never into the host's variables, so whatever it stores before a fault or an
// error code is ours to free, and nothing the host had there is touched. A child that stored one
// handle in both has it freed once.
class RequestBlocks {
public:
    RequestBlocks() = default;
    ~RequestBlocks() { Free(); }
    RequestBlocks(const RequestBlocks&) = delete;
    RequestBlocks& operator=(const RequestBlocks&) = delete;

    // What is not local memory is not ours to free: the child keeps it.
    void Free() noexcept {
        if (Bits != Info && InspectChildBlock(Bits).local) LocalFree(Bits);
        if (InspectChildBlock(Info).local) LocalFree(Info);
        Info = Bits = nullptr;
    }
    void HandOver(HLOCAL* info, HLOCAL* bits) noexcept {
        *info = std::exchange(Info, nullptr);
        *bits = std::exchange(Bits, nullptr);
    }

    HLOCAL Info = nullptr;
    HLOCAL Bits = nullptr;
};

// The child decodes the image held in memory, whatever the host passed: its thumbnail when a
// preview is asked for and it has one, else the picture. Its progress reports go through
// ForwardProgress to the host call of this thread.
int DecodeWithChild(TSusiePlugin& child, const InputImage& image, bool preview,
                    RequestBlocks& blocks) {
    const auto data = static_cast<LPCSTR>(image.Data);
    const auto size = static_cast<SusieLength>(image.Size);
    const HostCall* call = tHostCall.get();
    const SusieLength lData = call != nullptr ? call->lData : 0;
    if (preview) {
        const int result = child.CallGetPreview(data, size, SusieInputMemory, &blocks.Info,
                                                &blocks.Bits, ForwardProgress, lData);
        if (result != SusieNotImplemented) return result;
        blocks.Free();  // whatever a child stored before saying it has no thumbnail
    }
    return child.CallGetPicture(data, size, SusieInputMemory, &blocks.Info, &blocks.Bits,
                                ForwardProgress, lData);
}

// GetPicture and GetPreview up to the final blocks in `blocks`: input, child, pipeline.
template <class Char>
int MakePicture(PluginState* state, const Char* buf, SusieLength len, unsigned flag, bool preview,
                RequestBlocks& blocks) {
    // The settings this request runs with, whatever the settings dialog does meanwhile.
    const SettingsSnapshot settings = state ? state->Settings.Snapshot() : nullptr;
    InputImage input;
    int result = LoadInputImage(buf, len, flag, input);
    if (result != SusieSuccess) return result;
    TSusiePlugin* child = ChooseChild(state, buf, flag, input);
    if (child == nullptr) return SusieUnsupported;
    result = DecodeWithChild(*child, input, preview, blocks);
    if (result != SusieSuccess) return result;
    const bool processed =
        ProcessPicture(*state, *settings, *input.Reader, blocks.Info, blocks.Bits, preview);
    return processed ? SusieSuccess : SusieInternalError;
}

// GetPicture and GetPreview. After any result but 0 both host variables hold null and nothing
// the request allocated is alive: viewers free nothing after a failed request, and some free
// whatever non-null handles they get back.
template <class Char>
int RequestPicture(const Char* buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                   SusieProgressCallback progress, SusieLength lData, bool preview) {
    EnsureStarted();
    // Nowhere to put a picture: no child is asked to decode one.
    if (pHBInfo == nullptr || pHBm == nullptr) return SusieInternalError;
    *pHBInfo = nullptr;
    *pHBm = nullptr;
    if (HostCallScope::Nested()) return SusieUnsupported;
    const HostCall call{progress, lData};
    const HostCallScope scope(call);
    RequestBlocks blocks;
    int result;
    try {
        result = MakePicture(Plugin.get(), buf, len, flag, preview, blocks);
    } catch (...) {
        // Out of memory in our own bookkeeping: the request fails like a failed pipeline.
        result = SusieInternalError;
    }
    if (result == SusieSuccess) blocks.HandOver(pHBInfo, pHBm);
    return result;
}

// Dots per inch from a bitmap's pixels per metre; 0 when it gives none.
WORD DotsPerInch(LONG pixelsPerMetre) {
    if (pixelsPerMetre <= 0) return 0;
    return WORD(std::min<int64_t>((int64_t(pixelsPerMetre) * 254 + 5000) / 10000, 0xFFFF));
}

// The picture information of a child that cannot give it but decodes the image: the size, depth
// and density of the bitmap it delivers, which is then freed.
int InformationFromBitmap(TSusiePlugin& child, const InputImage& image, PictureInfo& info) {
    RequestBlocks blocks;
    const int result = DecodeWithChild(child, image, false, blocks);
    if (result != SusieSuccess) return result;
    BITMAPINFOHEADER header;
    // A bitmap the host could not be given is no picture to describe.
    if (CheckChildBitmap(blocks.Info, blocks.Bits) == ChildBitmap::Short ||
        !ReadChildHeader(blocks.Info, header))
        return SusieInternalError;
    info = PictureInfo{};
    info.width = header.biWidth;
    // -2^31 rows have no 32-bit count.
    info.height = long(std::min<int64_t>(std::llabs(header.biHeight), INT32_MAX));
    info.x_density = DotsPerInch(header.biXPelsPerMeter);
    info.y_density = DotsPerInch(header.biYPelsPerMeter);
    info.colorDepth = short(header.biBitCount);
    return SusieSuccess;
}

// The child's own picture information. The ANSI request gives it the host's own arguments: for
// file input the child opens the file itself. A wide request gives a child with GetPictureInfoW
// the host's arguments; the others get the file in memory, since they cannot open it by its
// name, and memory input as it came.
int ChildPictureInfo(TSusiePlugin& child, LPCSTR buf, SusieLength len, unsigned flag,
                     const InputImage&, PictureInfo* lpInfo) {
    return child.CallGetPictureInfo(buf, len, flag, lpInfo);
}

int ChildPictureInfo(TSusiePlugin& child, LPCWSTR buf, SusieLength len, unsigned flag,
                     const InputImage& input, PictureInfo* lpInfo) {
    if (child.GetPictureInfoW != nullptr) return child.CallGetPictureInfoW(buf, len, flag, lpInfo);
    if ((flag & SusieInputMask) != SusieInputFile)
        return child.CallGetPictureInfo(reinterpret_cast<LPCSTR>(buf), len, flag, lpInfo);
    return child.CallGetPictureInfo(static_cast<LPCSTR>(input.Data),
                                    static_cast<SusieLength>(input.Size), SusieInputMemory, lpInfo);
}

// GetPictureInfo and GetPictureInfoW.
template <class Char>
int DescribePicture(const Char* buf, SusieLength len, unsigned flag, PictureInfo* lpInfo) {
    EnsureStarted();
    PluginState* state = Plugin.get();
    if (HostCallScope::Nested()) return SusieUnsupported;
    const HostCall call;
    const HostCallScope scope(call);
    try {
        const SettingsSnapshot settings = state ? state->Settings.Snapshot() : nullptr;
        InputImage input;
        const int loaded = LoadInputImage(buf, len, flag, input);
        if (loaded != SusieSuccess) return loaded;
        TSusiePlugin* child = ChooseChild(state, buf, flag, input);
        if (child == nullptr) return SusieUnsupported;
        int result = ChildPictureInfo(*child, buf, len, flag, input, lpInfo);
        // Some children decode what they cannot describe: their bitmap tells instead.
        if (result != SusieSuccess && lpInfo != nullptr && child->GetPicture != nullptr &&
            InformationFromBitmap(*child, input, *lpInfo) == SusieSuccess)
            result = SusieSuccess;
        if (result != SusieSuccess || lpInfo == nullptr) return result;
        // What the host will be given: 32-bit pictures arrive as 24-bit, over the checkerboard
        // or converted from CMYK.
        if (lpInfo->colorDepth == 32) lpInfo->colorDepth = 24;
        if (settings->LimitedOutputSize) {
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

// IsSupported and IsSupportedW.
template <class Char>
int AskChildren(const Char* filename, SusieHandleOrHead dw) {
    EnsureStarted();
    if (!Plugin || !Plugin->PluginList || HostCallScope::Nested()) return 0;
    const HostCall call;
    const HostCallScope scope(call);
    try {
        // A value without high bits is the host's file handle. Children would read from it
        // without putting the position back, each seeing what the one before left over, and
        // some take only memory: they are all shown one head, read once, at the position the
        // host left, which is then put back. A handle that cannot be read so goes on as it came.
        FileHead head;
        if (IsFileHandle(dw) && ReadFileHead(reinterpret_cast<HANDLE>(dw), head))
            dw = reinterpret_cast<SusieHandleOrHead>(head.data());
        // No name is the interface's "look at dw only".
        return Plugin->PluginList->FindSupporting(NameOfInput(filename, SusieInputFile), dw) !=
               nullptr;
    } catch (...) {
        return 0;
    }
}

}  // namespace

}  // namespace qorvi

using namespace qorvi;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        DisableThreadLibraryCalls(instance);
        // Start-up waits for the first export call, outside the loader lock.
        RecordModule(instance);
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
    EnsureStarted();
    return CopyInformation(infono, buf, buflen, InformationText);
}

extern "C" int __stdcall GetPluginInfoW(int infono, LPWSTR buf, int buflen) {
    EnsureStarted();
    return CopyInformation(infono, buf, buflen, InformationTextW);
}

extern "C" int __stdcall IsSupported(LPCSTR filename, SusieHandleOrHead dw) {
    return AskChildren(filename, dw);
}

extern "C" int __stdcall IsSupportedW(LPCWSTR filename, SusieHandleOrHead dw) {
    return AskChildren(filename, dw);
}

extern "C" int __stdcall GetPictureInfo(LPCSTR buf, SusieLength len, unsigned flag,
                                        PictureInfo* lpInfo) {
    return DescribePicture(buf, len, flag, lpInfo);
}

extern "C" int __stdcall GetPictureInfoW(LPCWSTR buf, SusieLength len, unsigned flag,
                                         PictureInfo* lpInfo) {
    return DescribePicture(buf, len, flag, lpInfo);
}

extern "C" int __stdcall GetPicture(LPCSTR buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo,
                                    HLOCAL* pHBm, SusieProgressCallback lpPrgressCallback,
                                    SusieLength lData) {
    return RequestPicture(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData, false);
}

extern "C" int __stdcall GetPreview(LPCSTR buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo,
                                    HLOCAL* pHBm, SusieProgressCallback lpPrgressCallback,
                                    SusieLength lData) {
    return RequestPicture(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData, true);
}

extern "C" int __stdcall GetPictureW(LPCWSTR buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo,
                                     HLOCAL* pHBm, SusieProgressCallback lpPrgressCallback,
                                     SusieLength lData) {
    return RequestPicture(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData, false);
}

extern "C" int __stdcall GetPreviewW(LPCWSTR buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo,
                                     HLOCAL* pHBm, SusieProgressCallback lpPrgressCallback,
                                     SusieLength lData) {
    return RequestPicture(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData, true);
}

extern "C" int __stdcall ConfigurationDlg(HWND parent, int fnc) {
    EnsureStarted();
    // Only function 1, the settings dialog, exists; it needs the children and the settings.
    if (fnc != 1) return SusieNotImplemented;
    if (!Plugin) return SusieInternalError;
    try {
        return RunConfigurationDialog(parent, ShowConfigurationForm);
    } catch (...) {
        return SusieInternalError;
    }
}
