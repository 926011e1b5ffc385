// Profile set-up: which monitor and CMYK profiles the two engine records are prepared with.
//
// PrepareCMSInfo runs at start-up and after a confirmed settings dialog, on records whose
// intents and flags are already written. An empty monitor name asks the system for the screen's
// profile (kept only with the extension .icc or .icm, whatever its case); a name of a file that
// does not exist means no monitor profile, and the record converts to sRGB. An empty or missing
// CMYK name means the built-in profile. Without the engine's InitializeCMSInfo the choice is
// still made and nothing is prepared. Profile bytes live only for the engine's calls.
#pragma once

#include "color/LCMSDll.h"

#include <cstdint>
#include <string>
#include <vector>

namespace qorvi {

// The built-in CMYK profile's resource: type and name.
inline constexpr const char* BuiltInProfileType = "ICCPROFILE";
inline constexpr const char* BuiltInProfileName = "CMYKPROFILE";

// With the bound engine, the records for pictures and for previews, and the built-in profile of
// `profileModule` (qorvi.spi; null: the executable). `thumbnailCMMode` 2 and 3 prepare previews
// for the monitor profile too.
void PrepareCMSInfo(CMSInfo& picture, CMSInfo& preview, void* profileModule,
                    const std::string& monitorProfileName, const std::string& cmykProfileName,
                    int32_t thumbnailCMMode);

// The system's profile for the screen, or empty.
std::string GetDefaultMonitorProfile();
// The rule for the system's answer: `name` with its extension lower-cased when that is .icc or
// .icm, else empty.
std::string AcceptedMonitorProfileName(std::string name);

// What PrepareCMSInfo works with, so tests can give it their own engine and profiles.
struct ProfileSetupInputs {
    InitializeCMSInfoProc InitializeCMSInfo = nullptr;
    CMSInfo* Picture = nullptr;
    CMSInfo* Preview = nullptr;
    int32_t ThumbnailCMMode = 0;
    std::string (*SystemMonitorProfile)() = nullptr;
    const void* BuiltInCMYK = nullptr;
    uint32_t BuiltInCMYKSize = 0;
};
void PrepareCMSInfo(const ProfileSetupInputs& setup, const std::string& monitorProfileName,
                    const std::string& cmykProfileName);

// The built-in profile's bytes in `module` (null: the executable), or null.
const void* BuiltInCMYKProfile(void* module, uint32_t& size);

// A whole file, or false when it cannot be read (or is larger than the engine takes).
bool ReadProfileFile(const std::string& path, std::vector<uint8_t>& bytes);

}  // namespace qorvi
