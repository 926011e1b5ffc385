#include "color/ProfileSetup.h"

#include "base/DelimitedText.h"
#include "base/WinHandles.h"
#include "base/WinText.h"

#include <windows.h>

#include <algorithm>
#include <cctype>

namespace qorvi {

namespace {

// Profiles larger than this are no profiles a monitor or a press is described by.
constexpr DWORD LargestProfileFile = 64u << 20;

bool FileExists(const std::string& path) {
    if (path.empty()) return false;
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

bool ReadProfileFile(const std::string& path, std::vector<uint8_t>& bytes) {
    UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD high = 0;
    const DWORD size = GetFileSize(file.get(), &high);
    if (size == INVALID_FILE_SIZE || high != 0 || size == 0 || size > LargestProfileFile)
        return false;
    bytes.resize(size);
    DWORD read = 0;
    if (!ReadFile(file.get(), bytes.data(), size, &read, nullptr) || read != size) {
        bytes.clear();
        return false;
    }
    return true;
}

std::string AcceptedMonitorProfileName(std::string name) {
    // The extension begins at the last dot of the file name; the folder delimiter is found in the
    // system's code page, where a trail byte may look like "\\". Only ASCII letters are lowered:
    // the extensions we accept are ASCII, and anything else is dropped.
    const size_t start = FileNameStart(name, SystemLeadByte);
    const size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot < start) return {};
    std::string extension = name.substr(dot);
    std::transform(extension.begin(), extension.end(), extension.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    if (extension != ".icc" && extension != ".icm") return {};
    name.replace(dot, std::string::npos, extension);
    return name;
}

std::string GetDefaultMonitorProfile() {
    const WindowDC screen(nullptr);
    if (!screen) return {};
    char name[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!GetICMProfileA(screen.get(), &size, name)) return {};
    return AcceptedMonitorProfileName(name);
}

const void* BuiltInCMYKProfile(void* module, uint32_t& size) {
    size = 0;
    HMODULE owner = module != nullptr ? static_cast<HMODULE>(module) : GetModuleHandleA(nullptr);
    HRSRC resource = FindResourceA(owner, BuiltInProfileName, BuiltInProfileType);
    if (resource == nullptr) return nullptr;
    HGLOBAL loaded = LoadResource(owner, resource);
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    if (bytes != nullptr) size = SizeofResource(owner, resource);
    return bytes;
}

void PrepareCMSInfo(const ProfileSetupInputs& setup, const std::string& monitorProfileName,
                    const std::string& cmykProfileName) {
    // Only an empty name asks the system; a name of a missing file means no monitor profile.
    std::string monitorPath = monitorProfileName;
    if (monitorPath.empty() && setup.SystemMonitorProfile != nullptr)
        monitorPath = setup.SystemMonitorProfile();
    const bool haveMonitor = FileExists(monitorPath);

    std::vector<uint8_t> cmykFile;
    const void* cmyk = setup.BuiltInCMYK;
    uint32_t cmykSize = setup.BuiltInCMYKSize;
    if (FileExists(cmykProfileName) && ReadProfileFile(cmykProfileName, cmykFile)) {
        cmyk = cmykFile.data();
        cmykSize = static_cast<uint32_t>(cmykFile.size());
    }

    if (setup.InitializeCMSInfo == nullptr) return;
    const auto cmykLength = static_cast<int32_t>(cmykSize);
    std::vector<uint8_t> monitor;
    if (haveMonitor && ReadProfileFile(monitorPath, monitor)) {
        const auto monitorLength = static_cast<int32_t>(monitor.size());
        setup.InitializeCMSInfo(setup.Picture, monitor.data(), cmyk, monitorLength, cmykLength);
        if (setup.ThumbnailCMMode == 2 || setup.ThumbnailCMMode == 3)
            setup.InitializeCMSInfo(setup.Preview, monitor.data(), cmyk, monitorLength, cmykLength);
        else
            setup.InitializeCMSInfo(setup.Preview, nullptr, cmyk, 0, cmykLength);
    } else {
        setup.InitializeCMSInfo(setup.Picture, nullptr, cmyk, 0, cmykLength);
        setup.InitializeCMSInfo(setup.Preview, nullptr, cmyk, 0, cmykLength);
    }
}

void PrepareCMSInfo(CMSInfo& picture, CMSInfo& preview, void* profileModule,
                    const std::string& monitorProfileName, const std::string& cmykProfileName,
                    int32_t thumbnailCMMode) {
    ProfileSetupInputs setup;
    setup.InitializeCMSInfo = LCMSDll.InitializeCMSInfo;
    setup.Picture = &picture;
    setup.Preview = &preview;
    setup.ThumbnailCMMode = thumbnailCMMode;
    setup.SystemMonitorProfile = GetDefaultMonitorProfile;
    setup.BuiltInCMYK = BuiltInCMYKProfile(profileModule, setup.BuiltInCMYKSize);
    PrepareCMSInfo(setup, monitorProfileName, cmykProfileName);
}

}  // namespace qorvi
