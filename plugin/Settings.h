// Settings: the record TPluginOption, its INI file qorvi.ini beside the library, and the live
// settings that requests read.
//
// The record is filled once at start-up (defaults, then section "Default", then the host's own
// section, then the two size lists from "Common") and afterwards changes only through the
// settings dialog, on the host's window thread. Reading never fails: a missing file, section, key
// or a value that does not parse leaves the field as it was. Writing raises SettingsWriteError.
// The parsing of values lives in OptionValues.h and is platform-free.
//
// Requests run on any thread, also while the dialog is open. They never read PluginOption: each
// takes one snapshot of the live settings (SettingsHolder) when it starts and hands it to the
// stages. A snapshot is immutable and lives as long as someone holds it, so a request finishes
// with the settings it started with, whatever the dialog publishes meanwhile.
#pragma once

#include "base/Mutex.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>

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

    friend bool operator==(const TPluginOption&, const TPluginOption&) = default;
};

// The record start-up fills and the settings dialog edits, on the thread that runs them. Requests
// read SettingsHolder snapshots instead; a confirmed dialog publishes this record.
extern TPluginOption PluginOption;

// One complete settings record, never changed after it is published.
using SettingsSnapshot = std::shared_ptr<const TPluginOption>;

// The live settings: a snapshot replaced whole, so a reader gets either the record before a
// Publish or the one after it, never a mix. Snapshot never answers null.
class SettingsHolder {
public:
    SettingsSnapshot Snapshot() const {
        std::lock_guard<Mutex> lock(mutex_);
        return current_;
    }
    void Publish(TPluginOption settings) {
        SettingsSnapshot next = std::make_shared<const TPluginOption>(std::move(settings));
        {
            std::lock_guard<Mutex> lock(mutex_);
            current_.swap(next);
        }
        // The previous record goes here, outside the lock, unless a request still holds it.
    }

private:
    mutable Mutex mutex_;
    SettingsSnapshot current_ = std::make_shared<const TPluginOption>();
};

// A write to the INI file failed. message() is the text shown to the user, naming the file.
class SettingsWriteError : public std::runtime_error {
public:
    explicit SettingsWriteError(const std::wstring& path);
    const std::wstring& message() const noexcept { return message_; }
    const std::wstring& path() const noexcept { return path_; }

private:
    std::wstring path_;
    std::wstring message_;
};

// The section shared by every host, and the one that holds the two size lists.
inline constexpr const char* DefaultSectionName = "Default";
inline constexpr const char* CommonSectionName = "Common";

// The record's defaults, MaxWidth and MaxHeight from the primary screen's size now.
TPluginOption DefaultPluginOption();

// The host's section (its executable's file name without folder and extension, in the system's
// code page). The INI path beside the library is IniPathFromLibraryPath (OptionValues.h).
//
// The file is read and written through the wide profile functions, so it may lie in any folder;
// it stays a file in the system's code page, and every section, key and value is a text of that
// code page.
std::string HostSectionName();

// Reads every key but the two size lists, and "SPIOrder", from `section`. A missing key or a
// value that does not parse leaves the field (and `orderString`) as it is; an empty stored
// string is read as empty. At most 2047 characters of a value are read.
void ReadPluginOption(const std::wstring& ini, const std::string& section, TPluginOption& option,
                      std::string& orderString);
// Writes the section's keys into `section` in their fixed order, "SPIOrder" last, unchanged.
// Throws SettingsWriteError at the first key that cannot be written.
void WritePluginOption(const std::wstring& ini, const std::string& section,
                       const TPluginOption& option, const std::string& orderString);
// "ImageSizeList" and "ThumbnailSizeList" in section "Common".
void ReadSizeLists(const std::wstring& ini, TPluginOption& option);
void WriteSizeLists(const std::wstring& ini, const TPluginOption& option);  // throws as above

// Start-up reads "Default", then the host's section, into one record and one order string.
// It applies the order string and builds the format lists before it reads the size lists, so it
// calls ReadHostSettings and ReadSizeLists itself; LoadSettings is the two in a row for callers
// that do nothing in between. The record's starting values are the caller's (normally
// DefaultPluginOption(), with an empty order string).
void ReadHostSettings(const std::wstring& ini, TPluginOption& option, std::string& orderString);
void LoadSettings(const std::wstring& ini, TPluginOption& option, std::string& orderString);
// What a confirmed settings dialog writes: "Default" when `writeDefault`, then the host's
// section, then the size lists. Throws SettingsWriteError; the writes before it remain.
// `orderString` is the order of the children loaded now. A 32-bit and a 64-bit build may share
// the file, each loading only its own children, so each section gets `orderString` merged
// (MergeOrderStrings) with the "SPIOrder" that section holds when it is written, read again
// since the other build may have written it meanwhile; a section that holds none merges with
// `startupOrder`, the order string start-up read (ReadHostSettings).
void SaveSettings(const std::wstring& ini, const TPluginOption& option,
                  const std::string& orderString, const std::string& startupOrder,
                  bool writeDefault);

}  // namespace qorvi
