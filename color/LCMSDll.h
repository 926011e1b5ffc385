// Colour management: the colour engine qorvi.dll beside the plug-in, and the two records it
// prepares for pictures and for previews.
//
// The engine is loaded once at start-up and its eleven entry points are bound by name; any of
// them may be missing, and every caller skips what is null, so without the engine pictures come
// out unconverted. The entry points take 32-bit arguments and the caller pops them (cdecl).
// qorvi.dll (engine/) implements exactly these declarations.
//
// A CMSInfo record is owned by its declarer (qorvi.spi's PictureCMSInfo and PreviewCMSInfo);
// the engine keeps its state behind the seven state words, and InitializeCMSInfo on a prepared
// record replaces that state. Profile bytes handed to InitializeCMSInfo stay the caller's: the
// engine copies what it keeps. A profile an engine reader stores in ImageInfo comes from the
// process heap (AllocateProfileBuffer), where the pipeline frees it.
#pragma once

#include "metadata/ImageInfoReader.h"

#include <cstdint>
#include <string>

#if defined(_WIN32) && !defined(_WIN64)
#define QORVI_CDECL __cdecl
#else
#define QORVI_CDECL
#endif

namespace qorvi {

struct CMSInfo {
    uint32_t State[7];       // the engine's; all zero before the first InitializeCMSInfo
    int32_t Intent;          // 0 perceptual, 1 relative colorimetric, 2 saturation, 3 absolute
    int32_t ProofingIntent;  // the same value; the engine uses it from proof to output
    uint32_t Flags;          // CMSInfoFlag bits
};
static_assert(sizeof(CMSInfo) == 40);

enum CMSInfoFlag : uint32_t {
    BlackPointCompensation = 0x2000,  // Little CMS's own value
    EngineOption = 0x80000000,        // set once a record is prepared; transforms see it
};

// What ColorTransform converts.
enum TransformKind : int32_t {
    TransformBGR = 0,      // 24-bit B,G,R rows in place
    TransformCMYK = 1,     // 32-bit C,M,Y,K rows (0 = no ink) into separate 24-bit B,G,R rows
    TransformPalette = 2,  // `width` RGBQUAD entries in place, the reserved byte untouched
};

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
using EngineReadPNGProc = int(QORVI_CDECL*)(ImageInfo* info, PNGSource* source);
using EngineReadWICProc = int(QORVI_CDECL*)(ImageInfo* info, const void* data, int32_t size);
using IsProfileProc = int(QORVI_CDECL*)(const char* path);

struct TLCMSEntryPoints {
    InitializeCMSInfoProc InitializeCMSInfo = nullptr;
    FinalizeCMSInfoProc FinalizeCMSInfo = nullptr;
    CreateWorkerThreadProc CreateWorkerThread = nullptr;
    TerminateWorkerThreadProc TerminateWorkerThread = nullptr;
    MultiThreadFuncProc MultiThreadFunc = nullptr;
    ColorTransformProc ColorTransform = nullptr;
    ProofingColorTransformProc ProofingColorTransform = nullptr;
    EngineReadPNGProc ReadPNGColorManageInfo = nullptr;
    EngineReadWICProc ReadWICImageInfo = nullptr;
    IsProfileProc IsRGBProfile = nullptr;
    IsProfileProc IsCMYKProfile = nullptr;
};

// The bound engine (all null when it is not loaded), and the two records.
extern TLCMSEntryPoints LCMSDll;
extern CMSInfo PictureCMSInfo;
extern CMSInfo PreviewCMSInfo;

// Loads the engine at `path` and binds every entry point it has. On failure everything stays
// null and the result is false; nothing is shown (start-up shows the warning).
bool LoadLCMSDll(const std::string& path);
// Unbinds and releases the engine. With `processExit` the library is left to the system.
void FreeLCMSDll(bool processExit);

}  // namespace qorvi
