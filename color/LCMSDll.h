// The colour engine qorvi.dll as qorvi.spi binds it. What the engine and the plug-in share
// (records, entry-point types, calling convention, who frees what) is engine/EngineApi.h.
//
// The engine is loaded once at start-up and each entry point of LCMSEntryPoints is bound by its
// name in EngineExports; any of them may be missing, and every caller skips what is null.
#pragma once

#include "engine/EngineApi.h"

#include <string>

namespace qorvi {

struct LCMSEntryPoints {
    InitializeCMSInfoProc InitializeCMSInfo = nullptr;
    FinalizeCMSInfoProc FinalizeCMSInfo = nullptr;
    CreateWorkerThreadProc CreateWorkerThread = nullptr;
    TerminateWorkerThreadProc TerminateWorkerThread = nullptr;
    MultiThreadFuncProc MultiThreadFunc = nullptr;
    ColorTransformProc ColorTransform = nullptr;
    ProofingColorTransformProc ProofingColorTransform = nullptr;
    ReadPNGColorManageInfoProc ReadPNGColorManageInfo = nullptr;
    ReadWICImageInfoProc ReadWICImageInfo = nullptr;
    IsProfileProc IsRGBProfile = nullptr;
    IsProfileProc IsCMYKProfile = nullptr;
};

// The engine lies beside the plug-in under the plug-in's name with this ending instead of its
// extension: qorvi.spi's is qorvi.dll, qorvi.sph's qorvi64.dll, so both can share one folder.
#ifdef _WIN64
inline constexpr wchar_t EngineNameEnding[] = L"64.dll";
#else
inline constexpr wchar_t EngineNameEnding[] = L".dll";
#endif

// The bound engine: all null when it is not loaded.
extern LCMSEntryPoints LCMSDll;

// Loads the engine at `path` and binds every entry point it has. On failure everything stays
// null and the result is false; nothing is shown (start-up shows the warning).
bool LoadLCMSDll(const std::wstring& path);
// Unbinds and releases the engine. With `processExit` the library is left to the system.
void FreeLCMSDll(bool processExit);

}  // namespace qorvi
