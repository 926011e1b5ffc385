#include "tests/e2e/PluginHost.h"

#include "plugin/WinHandles.h"

#include <tlhelp32.h>

#include <stdexcept>

namespace qorvi::test {

PluginHost::PluginHost(TempPluginFolder& folder) : path_(folder.AddBuilt("qorvi.spi", "qorvi.spi")) {}

PluginHost::~PluginHost() { Unload(); }

void PluginHost::Load() {
    if (module_ != nullptr) return;
    module_ = LoadLibraryA(path_.c_str());
    if (module_ == nullptr) throw std::runtime_error("cannot load " + path_);
    Bind(module_);
    if (!GetPluginInfo || !IsSupported || !GetPictureInfo || !GetPicture || !GetPreview ||
        !ConfigurationDlg)
        throw std::runtime_error(path_ + " lacks one of the six exports");
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

size_t CommittedPrivateBytes() {
    size_t total = 0;
    MEMORY_BASIC_INFORMATION region;
    for (const char* address = nullptr;
         VirtualQuery(address, &region, sizeof region) == sizeof region;
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State == MEM_COMMIT && region.Type == MEM_PRIVATE) total += region.RegionSize;
        if (static_cast<const char*>(region.BaseAddress) + region.RegionSize < address) break;
    }
    return total;
}

int ThreadCount() {
    // A failed snapshot is INVALID_HANDLE_VALUE, the empty value of a file-like handle.
    UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) throw std::runtime_error("no thread snapshot");
    THREADENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Thread32First(snapshot.get(), &entry); more;
         more = Thread32Next(snapshot.get(), &entry)) {
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
    }
    return count;
}

}  // namespace qorvi::test
