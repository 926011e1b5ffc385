// The contract between qorvi.spi and its colour engine qorvi.dll: the records both read, the
// engine's entry points and their types. Both modules compile against this header; the 32-bit
// layout is checked below, so a change that would break modules built apart fails to compile.
//
// The engine exports every entry point under its name in EngineExports. Each is cdecl (the caller
// pops the arguments) and takes 32-bit arguments. qorvi.spi binds them by name at start-up; any of
// them may be missing, every caller skips what is null, and without the engine pictures come out
// unconverted.
//
// A CMSInfo record is owned by its declarer; the engine keeps its own state behind the State
// words, and InitializeCMSInfo on a prepared record replaces that state. Profile bytes handed to
// InitializeCMSInfo stay the caller's: the engine copies what it keeps. An ImageInfo record and
// the bytes it points to are the caller's. A profile an engine reader stores in ProfileBuffer
// comes from the process heap (AllocateProfileBuffer), which both modules reach although each has
// a C runtime of its own; the caller frees it with FreeProfileBuffer.
#pragma once

#include "base/ProcessHeap.h"

#include <cstddef>
#include <cstdint>

#if defined(_WIN32) && !defined(_WIN64)
#define QORVI_CDECL __cdecl
#else
#define QORVI_CDECL
#endif

namespace qorvi {

// ---- Records

struct CMSInfo {
    uint32_t State[7];       // the engine's; all zero before the first InitializeCMSInfo
    int32_t Intent;          // 0 perceptual, 1 relative colorimetric, 2 saturation, 3 absolute
    int32_t ProofingIntent;  // the same value; the engine uses it from proof to output
    uint32_t Flags;          // CMSInfoFlag bits
};
static_assert(sizeof(CMSInfo) == 40);
static_assert(offsetof(CMSInfo, Intent) == 28 && offsetof(CMSInfo, ProofingIntent) == 32);
static_assert(offsetof(CMSInfo, Flags) == 36);

enum CMSInfoFlag : uint32_t {
    BlackPointCompensation = 0x2000,  // Little CMS's own value
    EngineOption = 0x80000000,        // set once a record is prepared; transforms see it
};

// What the file says about colour and orientation. Fields not found stay 0.
struct ImageInfo {
    double WhitePointX;
    double WhitePointY;
    double RedX;
    double RedY;
    double GreenX;
    double GreenY;
    double BlueX;
    double BlueY;
    double Gamma;
    int32_t Orientation;      // as stored; 1 to 8 mean something
    const void* ProfileData;  // a profile lying whole inside the file image
    void* ProfileBuffer;      // a profile joined from several segments, on the process heap
    int32_t ProfileSize;
    int32_t ColorSpace;  // Exif ColorSpace as stored (1 = sRGB)
    uint32_t Flags;      // ImageInfoFlag bits of the fields that were found
};

enum ImageInfoFlag : uint32_t {
    HasWhitePoint = 0x01,
    HasPrimaries = 0x02,
    HasGamma = 0x04,
    HasOrientation = 0x08,
    HasProfileData = 0x10,
    HasProfileBuffer = 0x20,
    HasColorSpace = 0x40,
};

// The whole file image as the engine's PNG reader takes it; the reader starts at Position.
struct PNGSource {
    const void* Data;
    int32_t Position;
    int32_t Size;
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ImageInfo) == 96);
static_assert(offsetof(ImageInfo, WhitePointX) == 0 && offsetof(ImageInfo, RedX) == 16);
static_assert(offsetof(ImageInfo, BlueY) == 56 && offsetof(ImageInfo, Gamma) == 64);
static_assert(offsetof(ImageInfo, Orientation) == 72 && offsetof(ImageInfo, ProfileData) == 76);
static_assert(offsetof(ImageInfo, ProfileBuffer) == 80 && offsetof(ImageInfo, ProfileSize) == 84);
static_assert(offsetof(ImageInfo, ColorSpace) == 88 && offsetof(ImageInfo, Flags) == 92);
static_assert(sizeof(PNGSource) == 12);
static_assert(offsetof(PNGSource, Position) == 4 && offsetof(PNGSource, Size) == 8);
#endif

// What ColorTransform converts.
enum TransformKind : int32_t {
    TransformBGR = 0,      // 24-bit B,G,R rows in place
    TransformCMYK = 1,     // 32-bit C,M,Y,K rows (0 = no ink) into separate 24-bit B,G,R rows
    TransformPalette = 2,  // `width` RGBQUAD entries in place, the reserved byte untouched
};

// ---- Entry points

using InitializeCMSInfoProc = int(QORVI_CDECL*)(CMSInfo* info, const void* monitorProfile,
                                                const void* cmykProfile, int32_t monitorSize,
                                                int32_t cmykSize);
using FinalizeCMSInfoProc = void(QORVI_CDECL*)(CMSInfo* info);
using CreateWorkerThreadProc = void(QORVI_CDECL*)(int32_t count);
using TerminateWorkerThreadProc = void(QORVI_CDECL*)();
using MultiThreadFuncProc = uint32_t(QORVI_CDECL*)(void* parameter);
using ColorTransformProc = void(QORVI_CDECL*)(CMSInfo* info, const ImageInfo* image, void* source,
                                              void* destination, int32_t sourceStride,
                                              int32_t destinationStride, int32_t width,
                                              int32_t height, int32_t kind);
using ProofingColorTransformProc = void(QORVI_CDECL*)(CMSInfo* info, const ImageInfo* image,
                                                      void* source, void* destination,
                                                      int32_t sourceStride,
                                                      int32_t destinationStride, int32_t width,
                                                      int32_t height, int32_t kind,
                                                      const char* proofingProfile);
using ReadPNGColorManageInfoProc = int(QORVI_CDECL*)(ImageInfo* info, PNGSource* source);
using ReadWICImageInfoProc = int(QORVI_CDECL*)(ImageInfo* info, const void* data, int32_t size);
// IsRGBProfile and IsCMYKProfile.
using IsProfileProc = int(QORVI_CDECL*)(const char* path);

// The names the engine exports, one per entry point above.
inline constexpr const char* EngineExports[] = {
    "InitializeCMSInfo", "FinalizeCMSInfo", "CreateWorkerThread",     "TerminateWorkerThread",
    "MultiThreadFunc",   "ColorTransform",  "ProofingColorTransform", "ReadPNGColorManageInfo",
    "ReadWICImageInfo",  "IsRGBProfile",    "IsCMYKProfile",
};

}  // namespace qorvi
