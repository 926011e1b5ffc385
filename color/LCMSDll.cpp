#include "color/LCMSDll.h"

#include "base/WinHandles.h"

#include <windows.h>

#include <iterator>
#include <string_view>

namespace qorvi {

LCMSEntryPoints LCMSDll;

namespace {

// One member per export of the contract.
static_assert(sizeof(LCMSEntryPoints) == std::size(EngineExports) * sizeof(void (*)()));

UniqueModule Engine;

// `name` as EngineExports spells it; a name the contract does not list stops the build.
consteval const char* Export(std::string_view name) {
    for (const char* exported : EngineExports)
        if (name == exported) return exported;
    throw "not an export of the engine";
}

template <class Proc>
void Bind(Proc& entry, const char* name) {
    entry = reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(Engine.get(), name)));
}

}  // namespace

bool LoadLCMSDll(const std::wstring& path) {
    FreeLCMSDll(false);
    Engine.reset(LoadLibraryW(path.c_str()));
    if (!Engine) return false;
    Bind(LCMSDll.InitializeCMSInfo, Export("InitializeCMSInfo"));
    Bind(LCMSDll.FinalizeCMSInfo, Export("FinalizeCMSInfo"));
    Bind(LCMSDll.CreateWorkerThread, Export("CreateWorkerThread"));
    Bind(LCMSDll.TerminateWorkerThread, Export("TerminateWorkerThread"));
    Bind(LCMSDll.MultiThreadFunc, Export("MultiThreadFunc"));
    Bind(LCMSDll.ColorTransform, Export("ColorTransform"));
    Bind(LCMSDll.ProofingColorTransform, Export("ProofingColorTransform"));
    Bind(LCMSDll.ReadPNGColorManageInfo, Export("ReadPNGColorManageInfo"));
    Bind(LCMSDll.ReadWICImageInfo, Export("ReadWICImageInfo"));
    Bind(LCMSDll.IsRGBProfile, Export("IsRGBProfile"));
    Bind(LCMSDll.IsCMYKProfile, Export("IsCMYKProfile"));
    return true;
}

void FreeLCMSDll(bool processExit) {
    LCMSDll = LCMSEntryPoints{};
    // On process exit the system detaches the engine itself; its code must not run after that.
    if (processExit)
        (void)Engine.release();
    else
        Engine.reset();
}

}  // namespace qorvi
