#include "color/LCMSDll.h"

#include "base/WinHandles.h"

#include <windows.h>

namespace qorvi {

TLCMSEntryPoints LCMSDll;
CMSInfo PictureCMSInfo;
CMSInfo PreviewCMSInfo;

namespace {

UniqueModule Engine;

template <class Proc>
void Bind(Proc& entry, const char* name) {
    entry = reinterpret_cast<Proc>(reinterpret_cast<void*>(GetProcAddress(Engine.get(), name)));
}

}  // namespace

bool LoadLCMSDll(const std::string& path) {
    FreeLCMSDll(false);
    Engine.reset(LoadLibraryA(path.c_str()));
    if (!Engine) return false;
    Bind(LCMSDll.InitializeCMSInfo, "InitializeCMSInfo");
    Bind(LCMSDll.FinalizeCMSInfo, "FinalizeCMSInfo");
    Bind(LCMSDll.CreateWorkerThread, "CreateWorkerThread");
    Bind(LCMSDll.TerminateWorkerThread, "TerminateWorkerThread");
    Bind(LCMSDll.MultiThreadFunc, "MultiThreadFunc");
    Bind(LCMSDll.ColorTransform, "ColorTransform");
    Bind(LCMSDll.ProofingColorTransform, "ProofingColorTransform");
    Bind(LCMSDll.ReadPNGColorManageInfo, "ReadPNGColorManageInfo");
    Bind(LCMSDll.ReadWICImageInfo, "ReadWICImageInfo");
    Bind(LCMSDll.IsRGBProfile, "IsRGBProfile");
    Bind(LCMSDll.IsCMYKProfile, "IsCMYKProfile");
    return true;
}

void FreeLCMSDll(bool processExit) {
    LCMSDll = TLCMSEntryPoints{};
    // On process exit the system detaches the engine itself; its code must not run after that.
    if (processExit)
        (void)Engine.release();
    else
        Engine.reset();
}

}  // namespace qorvi
