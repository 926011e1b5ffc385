// wicdec.spi: an import plug-in ("00IN") that decodes JPEG, PNG, TIFF, BMP and GIF through the
// Windows Imaging Component, shipped beside qorvi.spi as one of its children. Its exports are the
// host interface's (without GetPreview; a host then asks GetPicture) and the two extensions
// IsSupported2 and UseCMYKColorSpace, all undecorated __stdcall through wicdec.def.
//
// After UseCMYKColorSpace(nonzero) CMYK pictures come as the CMYK-marked 32-bit buffer (header
// size 56 with four zero masks, BI_BITFIELDS) whose bytes per pixel are C, M, Y, K, not inverted:
// 0 = no ink, 255 = full ink. Before that, or after UseCMYKColorSpace(0), they come as 24-bit RGB.
//
// DllMain does nothing under the loader lock but give back the runtime's memory at unload.
#include "base/RuntimeMemory.h"
#include "children/PixelRows.h"
#include "children/WicDecoder.h"
#include "hostplugins/SusieInterface.h"

#include <cmath>
#include <cstring>
#include <iterator>
#include <new>

using qorvi::PictureInfo;
using qorvi::SusieLength;
using qorvi::SusieProgressCallback;
namespace wicdec = qorvi::wicdec;

namespace {

constexpr const char* InfoTexts[] = {
    "00IN",
    "wicdec 0.1 - JPEG/PNG/TIFF/BMP/GIF through the Windows Imaging Component",
    "*.jpg;*.jpeg;*.jpe;*.jfif",
    "JPEG",
    "*.png",
    "PNG",
    "*.tif;*.tiff",
    "TIFF",
    "*.bmp;*.dib",
    "BMP",
    "*.gif",
    "GIF",
};

// Set by UseCMYKColorSpace (qorvi.spi calls it at start-up and after its settings dialog), read
// by every decode on whatever thread it runs.
volatile LONG CmykWanted = 0;

bool WantsCmyk() { return InterlockedCompareExchange(&CmykWanted, 0, 0) != 0; }

// The first bytes at the handle's current position; the position is put back, since the host
// reads on from where it left the handle.
bool ReadHead(HANDLE file, uint8_t* head, DWORD wanted, DWORD& got) {
    LARGE_INTEGER zero = {}, position;
    if (!SetFilePointerEx(file, zero, &position, FILE_CURRENT)) return false;
    const bool read = ReadFile(file, head, wanted, &got, nullptr) != FALSE;
    SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
    return read;
}

// The decoder's few small allocations outside its own checks (palette, colour table) must not
// throw out of an export.
template <class Body>
int NoThrow(Body body) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return qorvi::SusieOutOfMemory;
    } catch (...) {
        return qorvi::SusieInternalError;
    }
}

WORD Density(double dpi) { return WORD(std::lround(dpi)); }  // UsableDpi bounds it below 65536

int ReadPictureInfo(LPCSTR buf, SusieLength len, unsigned flag, PictureInfo* lpInfo) {
    if (!lpInfo) return qorvi::SusieInternalError;
    wicdec::Input input;
    if (int code = wicdec::LoadInput(buf, len, flag, input)) return code;
    wicdec::DecodedPicture picture;
    if (int code = wicdec::Decode(input.data, input.size, WantsCmyk(), false, picture)) return code;
    *lpInfo = PictureInfo{};
    lpInfo->width = long(picture.width);
    lpInfo->height = long(picture.height);
    lpInfo->x_density = Density(picture.dpiX);
    lpInfo->y_density = Density(picture.dpiY);
    lpInfo->colorDepth = short(picture.bitCount);
    lpInfo->hInfo = nullptr;
    return qorvi::SusieSuccess;
}

int ReadPicture(LPCSTR buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                SusieProgressCallback progress, SusieLength lData) {
    constexpr int Aborted = 1;
    if (!pHBInfo || !pHBm) return qorvi::SusieInternalError;
    if (progress && progress(0, 1, lData)) return Aborted;
    wicdec::Input input;
    if (int code = wicdec::LoadInput(buf, len, flag, input)) return code;
    wicdec::DecodedPicture picture;
    if (int code = wicdec::Decode(input.data, input.size, WantsCmyk(), true, picture)) return code;
    // The picture's blocks are freed on the way out unless the host takes them.
    if (progress && progress(1, 1, lData)) return Aborted;
    *pHBInfo = picture.info.release();
    *pHBm = picture.bits.release();
    return qorvi::SusieSuccess;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) qorvi::ReleaseRuntimeMemory();
    return TRUE;
}

int __stdcall GetPluginInfo(int infono, LPSTR buf, int buflen) {
    if (infono < 0 || size_t(infono) >= std::size(InfoTexts) || !buf || buflen < 1) return 0;
    const char* text = InfoTexts[infono];
    size_t length = std::strlen(text);
    if (length >= size_t(buflen)) length = size_t(buflen) - 1;
    std::memcpy(buf, text, length);
    buf[length] = '\0';
    return int(length);
}

int __stdcall IsSupported(LPCSTR filename, qorvi::SusieHandleOrHead dw) {
    uint8_t head[wicdec::SignatureBytes];
    if (!qorvi::IsFileHandle(dw))  // a pointer to at least the first 2 KiB of the file
        return wicdec::DetectFormat(reinterpret_cast<const void*>(dw), sizeof head) !=
               wicdec::ImageFormat::Unknown;
    DWORD got = 0;
    if (!ReadHead(reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(dw)), head, sizeof head, got))
        return 0;
    return wicdec::DetectFormat(head, got) != wicdec::ImageFormat::Unknown;
}

int __stdcall IsSupported2(const void* data, qorvi::SusieLength size) {
    return wicdec::DetectFormat(data, size) != wicdec::ImageFormat::Unknown;
}

int __stdcall GetPictureInfo(LPCSTR buf, SusieLength len, unsigned flag, PictureInfo* lpInfo) {
    return NoThrow([&] { return ReadPictureInfo(buf, len, flag, lpInfo); });
}

int __stdcall GetPicture(LPCSTR buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo, HLOCAL* pHBm,
                         SusieProgressCallback lpPrgressCallback, SusieLength lData) {
    return NoThrow(
        [&] { return ReadPicture(buf, len, flag, pHBInfo, pHBm, lpPrgressCallback, lData); });
}

int __stdcall ConfigurationDlg(HWND parent, int fnc) {
    // Nothing to set; the host shows information string 1 as the about text.
    return qorvi::SusieNotImplemented;
}

int __stdcall UseCMYKColorSpace(BOOL value) {
    InterlockedExchange(&CmykWanted, value ? 1 : 0);
    return 0;
}

}  // extern "C"
