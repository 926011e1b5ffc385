// qorvi.dll's exports, as engine/EngineApi.h declares them and qorvi_engine.def lists them.
// Each checks its pointers and hands over to the core; none lets an exception out.
#include "base/RuntimeMemory.h"
#include "engine/ColorEngine.h"
#include "engine/EngineApi.h"
#include "engine/PngColorInfo.h"
#include "engine/WicImageInfo.h"
#include "engine/WorkerThreads.h"

#include <lcms2.h>
#include <windows.h>

#include <type_traits>

using namespace qorvi;

extern "C" {

int __cdecl InitializeCMSInfo(CMSInfo* info, const void* monitorProfile, const void* cmykProfile,
                              int32_t monitorSize, int32_t cmykSize) {
    if (info == nullptr) return 0;
    return engine::InitializeRecord(*info, monitorProfile, monitorSize, cmykProfile, cmykSize);
}

void __cdecl FinalizeCMSInfo(CMSInfo* info) {
    if (info != nullptr) engine::FinalizeRecord(*info);
}

void __cdecl CreateWorkerThread(int32_t count) { engine::CreateWorkerThreads(count); }

void __cdecl TerminateWorkerThread() { engine::StopWorkerThreads(); }

// Kept for hosts that bind it; the workers have their own procedure, so this does nothing.
uint32_t __cdecl MultiThreadFunc(void*) { return 0; }

void __cdecl ColorTransform(CMSInfo* info, const ImageInfo* image, void* source, void* destination,
                            int32_t sourceStride, int32_t destinationStride, int32_t width,
                            int32_t height, int32_t kind) {
    if (info == nullptr) return;
    engine::Transform(*info, image, source, destination, sourceStride, destinationStride, width,
                      height, kind, nullptr);
}

void __cdecl ProofingColorTransform(CMSInfo* info, const ImageInfo* image, void* source,
                                    void* destination, int32_t sourceStride,
                                    int32_t destinationStride, int32_t width, int32_t height,
                                    int32_t kind, const char* proofingProfile) {
    if (info == nullptr) return;
    engine::Transform(*info, image, source, destination, sourceStride, destinationStride, width,
                      height, kind, proofingProfile);
}

int __cdecl ReadPNGColorManageInfo(ImageInfo* info, PNGSource* source) {
    if (info == nullptr || source == nullptr || source->Data == nullptr) return 0;
    if (source->Position < 0 || source->Position >= source->Size) return 0;
    return engine::ReadPNGColorManageInfo(
        *info, static_cast<const uint8_t*>(source->Data) + source->Position,
        source->Size - source->Position);
}

int __cdecl ReadWICImageInfo(ImageInfo* info, const void* data, int32_t size) {
    if (info == nullptr) return 0;
    return engine::ReadWICImageInfo(*info, data, size);
}

int __cdecl IsRGBProfile(const char* path) {
    return engine::ProfileFileColorSpace(path) == cmsSigRgbData;
}

int __cdecl IsCMYKProfile(const char* path) {
    return engine::ProfileFileColorSpace(path) == cmsSigCmykData;
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_ATTACH) DisableThreadLibraryCalls(instance);
    // Unloaded by FreeLibrary: a host that did not stop the workers has them stopped here, before
    // the code they park in goes. On process exit they are gone already.
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
        engine::StopWorkerThreads();
        engine::ReleaseEngine();
        qorvi::ReleaseRuntimeMemory();
    }
    return TRUE;
}

}  // extern "C"

// Each export has exactly the type qorvi.spi calls it through.
static_assert(std::is_same_v<decltype(&InitializeCMSInfo), InitializeCMSInfoProc>);
static_assert(std::is_same_v<decltype(&FinalizeCMSInfo), FinalizeCMSInfoProc>);
static_assert(std::is_same_v<decltype(&CreateWorkerThread), CreateWorkerThreadProc>);
static_assert(std::is_same_v<decltype(&TerminateWorkerThread), TerminateWorkerThreadProc>);
static_assert(std::is_same_v<decltype(&MultiThreadFunc), MultiThreadFuncProc>);
static_assert(std::is_same_v<decltype(&ColorTransform), ColorTransformProc>);
static_assert(std::is_same_v<decltype(&ProofingColorTransform), ProofingColorTransformProc>);
static_assert(std::is_same_v<decltype(&ReadPNGColorManageInfo), ReadPNGColorManageInfoProc>);
static_assert(std::is_same_v<decltype(&ReadWICImageInfo), ReadWICImageInfoProc>);
static_assert(std::is_same_v<decltype(&IsRGBProfile), IsProfileProc>);
static_assert(std::is_same_v<decltype(&IsCMYKProfile), IsProfileProc>);
