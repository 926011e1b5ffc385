// Settings: the process-wide record PluginOption and its INI file qorvi.ini beside the library.
//
// The record is filled once at start-up (defaults, then section "Default", then the host's own
// section, then the two size lists from "Common") and afterwards changes only through the
// settings dialog, on the host's window thread. Reading never fails: a missing file, section, key
// or a value that does not parse leaves the field as it was. Writing raises TSettingsWriteError.
// The parsing of values lives in OptionValues.h and is platform-free.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace qorvi {

// Field names are the INI keys. Booleans are stored in the file as "1"/"0"; a child told about
// ColorManagement receives 0 or -1 (all bits set).
struct TPluginOption {
    bool ColorManagement = true;
    std::string MonitorProfileName;
    std::string CMYKProfileName;
    std::string ProofingProfileName;
    int32_t RenderingIntent = 0;
    bool BlackPointCompensation = false;
    bool LowerResolutionTable = false;
    bool SoftProofing = false;
    bool AutomaticRotation = true;
    bool LimitedOutputSize = false;
    int32_t MaxWidth = 0;   // the primary screen's width at start-up (DefaultPluginOption)
    int32_t MaxHeight = 0;  // the primary screen's height at start-up
    int32_t DecimationMode = 2;
    std::string ImageSizeList = "800x600,1024x768,1280x1024";
    int32_t ThumbnailQuality = 1;
    int32_t ThumbnailWidth = 160;
    int32_t ThumbnailHeight = 160;
    int32_t ThumbnailCMMode = 3;
    std::string ThumbnailSizeList = "120x90,120x120,160x120,160x160";
    int32_t BGColor1 = 0xFFFFFF;  // 0x00BBGGRR
    int32_t BGColor2 = 0xAAAAAA;
    bool ThreadSafeSPI = false;
};

// The settings of the running plug-in.
extern TPluginOption PluginOption;

}  // namespace qorvi
