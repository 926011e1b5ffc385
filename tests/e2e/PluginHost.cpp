#include "tests/e2e/PluginHost.h"

#include "base/WinHandles.h"
#include "base/WinText.h"

#include <stdexcept>

namespace qorvi::test {

PluginHost::PluginHost(TempPluginFolder& folder)
    : widePath_(folder.AddBuilt("qorvi.spi", L"qorvi.spi")), path_(NarrowToAnsi(widePath_)) {}

PluginHost::~PluginHost() { Unload(); }

void PluginHost::Load(bool startUp) {
    if (module_ != nullptr) return;
    module_ = LoadLibraryW(widePath_.c_str());
    if (module_ == nullptr) throw std::runtime_error("cannot load " + path_);
    Bind(module_);
    if (!GetPluginInfo || !IsSupported || !GetPictureInfo || !GetPicture || !GetPreview ||
        !ConfigurationDlg)
        throw std::runtime_error(path_ + " lacks one of the six exports");
    if (startUp) {
        char kind[8] = {};
        GetPluginInfo(0, kind, sizeof kind);
    }
}

void PluginHost::Unload() {
    if (module_ != nullptr) FreeLibrary(module_);
    module_ = nullptr;
}

ReceivedBitmap::~ReceivedBitmap() {
    if (info != nullptr) LocalFree(info);
    if (bits != nullptr) LocalFree(bits);
}

BITMAPINFOHEADER ReceivedBitmap::Header() const {
    BITMAPINFOHEADER header{};
    if (info == nullptr) throw std::runtime_error("no header handle");
    const void* locked = LocalLock(info);
    if (locked == nullptr) throw std::runtime_error("the header handle cannot be locked");
    header = *static_cast<const BITMAPINFOHEADER*>(locked);
    LocalUnlock(info);
    return header;
}

std::string ReceivedBitmap::Bits() const {
    if (bits == nullptr) throw std::runtime_error("no pixel handle");
    const void* locked = LocalLock(bits);
    if (locked == nullptr) throw std::runtime_error("the pixel handle cannot be locked");
    std::string bytes(static_cast<const char*>(locked), LocalSize(bits));
    LocalUnlock(bits);
    return bytes;
}

}  // namespace qorvi::test
