// The host interface of import plug-ins ("00IN"), as both sides of it see it: the result codes,
// the picture-information record and the entry-point types. qorvi.spi exports these functions to
// its host and calls the same functions in its child plug-ins.
//
// The 64-bit interface (qorvi.sph and its children *.sph) is the same with pointer-sized values
// where the 32-bit one passes a `long` that may hold a pointer or a size: the input length and
// the progress callback's datum are LONG_PTR, IsSupported's second argument is pointer-sized,
// and the information record gets two padding bytes after colorDepth. In the 32-bit build every
// such type is exactly what it always was.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

namespace qorvi {

// Result codes of the picture requests.
enum SusieResult : int {
    SusieNotImplemented = -1,
    SusieSuccess = 0,
    SusieUnsupported = 2,
    SusieOutOfMemory = 4,
    SusieReadError = 6,
    SusieInternalError = 8,
};

// Low three bits of the input-kind flag: 0 file name with offset, 1 memory block with length.
constexpr unsigned SusieInputMask = 7;
constexpr unsigned SusieInputFile = 0;
constexpr unsigned SusieInputMemory = 1;

// IsSupported's second argument, when it is a pointer, points at the file's first 2 KiB; children
// read that much from it whatever the file's size.
constexpr unsigned SusieHeadBytes = 2048;

// The extension of the plug-ins this build is and loads, and its own file name.
#ifdef _WIN64
inline constexpr char PluginExtension[] = ".sph";
inline constexpr char OwnPluginFileName[] = "qorvi.sph";
#else
inline constexpr char PluginExtension[] = ".spi";
inline constexpr char OwnPluginFileName[] = "qorvi.spi";
#endif

// A length, offset or datum that may hold a pointer: `long` in the 32-bit interface (the same
// size as LONG_PTR there), LONG_PTR in the 64-bit one.
using SusieLength = LONG_PTR;
// IsSupported's second argument: a file handle when no bit above the low 16 is set, else a
// pointer to the file's head (DWORD in the 32-bit interface, pointer-sized in the 64-bit one).
using SusieHandleOrHead = ULONG_PTR;
inline bool IsFileHandle(SusieHandleOrHead value) { return (value >> 16) == 0; }

#pragma pack(push, 1)
struct PictureInfo {
    long left;
    long top;
    long width;
    long height;
    WORD x_density;
    WORD y_density;
    short colorDepth;
#ifdef _WIN64
    char padding[2];  // the 64-bit interface keeps hInfo at offset 24
#endif
    HLOCAL hInfo;
};
#pragma pack(pop)
#ifdef _WIN64
static_assert(sizeof(PictureInfo) == 32 && offsetof(PictureInfo, hInfo) == 24,
              "the 64-bit interface pads PictureInfo before hInfo");
#else
static_assert(sizeof(PictureInfo) == 26, "the host interface packs PictureInfo to bytes");
#endif

using SusieProgressCallback = int(__stdcall*)(int nNum, int nDenom, SusieLength lData);

using GetPluginInfoProc = int(__stdcall*)(int infono, LPSTR buf, int buflen);
using IsSupportedProc = int(__stdcall*)(LPCSTR filename, SusieHandleOrHead dw);
using GetPictureInfoProc = int(__stdcall*)(LPCSTR buf, SusieLength len, unsigned flag,
                                           PictureInfo* lpInfo);
using GetPictureProc = int(__stdcall*)(LPCSTR buf, SusieLength len, unsigned flag, HLOCAL* pHBInfo,
                                       HLOCAL* pHBm, SusieProgressCallback lpPrgressCallback,
                                       SusieLength lData);
using GetPreviewProc = GetPictureProc;
using ConfigurationDlgProc = int(__stdcall*)(HWND parent, int fnc);
// The wide-character twins: file names in UTF-16, GetPluginInfoW's buffer and its length in
// characters; every other argument and every result as in the ANSI function.
using GetPluginInfoWProc = int(__stdcall*)(int infono, LPWSTR buf, int buflen);
using IsSupportedWProc = int(__stdcall*)(LPCWSTR filename, SusieHandleOrHead dw);
using GetPictureInfoWProc = int(__stdcall*)(LPCWSTR buf, SusieLength len, unsigned flag,
                                            PictureInfo* lpInfo);
using GetPictureWProc = int(__stdcall*)(LPCWSTR buf, SusieLength len, unsigned flag,
                                        HLOCAL* pHBInfo, HLOCAL* pHBm,
                                        SusieProgressCallback lpPrgressCallback, SusieLength lData);
using GetPreviewWProc = GetPictureWProc;
// Extensions some children export.
using UseCMYKColorSpaceProc = int(__stdcall*)(BOOL value);
using IsSupported2Proc = int(__stdcall*)(const void* data, SusieLength size);

// An entry point of `module` by name; null when it has none.
template <class Proc>
Proc EntryPoint(HMODULE module, const char* name) {
    return reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

// The six functions of the interface and the five wide twins, as a host binds them; any of them
// may be null.
struct SusieEntryPoints {
    GetPluginInfoProc GetPluginInfo = nullptr;
    IsSupportedProc IsSupported = nullptr;
    GetPictureInfoProc GetPictureInfo = nullptr;
    GetPictureProc GetPicture = nullptr;
    GetPreviewProc GetPreview = nullptr;
    ConfigurationDlgProc ConfigurationDlg = nullptr;
    GetPluginInfoWProc GetPluginInfoW = nullptr;
    IsSupportedWProc IsSupportedW = nullptr;
    GetPictureInfoWProc GetPictureInfoW = nullptr;
    GetPictureWProc GetPictureW = nullptr;
    GetPreviewWProc GetPreviewW = nullptr;

    void Bind(HMODULE module) {
        GetPluginInfo = EntryPoint<GetPluginInfoProc>(module, "GetPluginInfo");
        IsSupported = EntryPoint<IsSupportedProc>(module, "IsSupported");
        GetPictureInfo = EntryPoint<GetPictureInfoProc>(module, "GetPictureInfo");
        GetPicture = EntryPoint<GetPictureProc>(module, "GetPicture");
        GetPreview = EntryPoint<GetPreviewProc>(module, "GetPreview");
        ConfigurationDlg = EntryPoint<ConfigurationDlgProc>(module, "ConfigurationDlg");
        GetPluginInfoW = EntryPoint<GetPluginInfoWProc>(module, "GetPluginInfoW");
        IsSupportedW = EntryPoint<IsSupportedWProc>(module, "IsSupportedW");
        GetPictureInfoW = EntryPoint<GetPictureInfoWProc>(module, "GetPictureInfoW");
        GetPictureW = EntryPoint<GetPictureWProc>(module, "GetPictureW");
        GetPreviewW = EntryPoint<GetPreviewWProc>(module, "GetPreviewW");
    }
};

}  // namespace qorvi
