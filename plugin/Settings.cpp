#include "plugin/Settings.h"

#include "base/WinText.h"
#include "hostplugins/OrderString.h"
#include "plugin/OptionValues.h"

#include <windows.h>

#include <algorithm>
#include <iterator>
#include <utility>
#include <vector>

namespace qorvi {

TPluginOption PluginOption;

namespace {

// One key of a host section and the field it fills. Exactly one of the three pointers is set.
struct OptionKey {
    const char* Name;
    bool TPluginOption::*Boolean;
    int32_t TPluginOption::*Integer;
    std::string TPluginOption::*Text;
};

constexpr OptionKey BooleanKey(const char* name, bool TPluginOption::*field) {
    return {name, field, nullptr, nullptr};
}
constexpr OptionKey IntegerKey(const char* name, int32_t TPluginOption::*field) {
    return {name, nullptr, field, nullptr};
}
constexpr OptionKey TextKey(const char* name, std::string TPluginOption::*field) {
    return {name, nullptr, nullptr, field};
}

// In the order they are written; hosts and users read the files, so the order stays.
constexpr OptionKey HostKeys[] = {
    BooleanKey("ColorManagement", &TPluginOption::ColorManagement),
    TextKey("MonitorProfileName", &TPluginOption::MonitorProfileName),
    TextKey("CMYKProfileName", &TPluginOption::CMYKProfileName),
    TextKey("ProofingProfileName", &TPluginOption::ProofingProfileName),
    IntegerKey("RenderingIntent", &TPluginOption::RenderingIntent),
    BooleanKey("BlackPointCompensation", &TPluginOption::BlackPointCompensation),
    BooleanKey("LowerResolutionTable", &TPluginOption::LowerResolutionTable),
    BooleanKey("SoftProofing", &TPluginOption::SoftProofing),
    BooleanKey("AutomaticRotation", &TPluginOption::AutomaticRotation),
    BooleanKey("LimitedOutputSize", &TPluginOption::LimitedOutputSize),
    IntegerKey("MaxWidth", &TPluginOption::MaxWidth),
    IntegerKey("MaxHeight", &TPluginOption::MaxHeight),
    IntegerKey("DecimationMode", &TPluginOption::DecimationMode),
    IntegerKey("ThumbnailQuality", &TPluginOption::ThumbnailQuality),
    IntegerKey("ThumbnailWidth", &TPluginOption::ThumbnailWidth),
    IntegerKey("ThumbnailHeight", &TPluginOption::ThumbnailHeight),
    IntegerKey("ThumbnailCMMode", &TPluginOption::ThumbnailCMMode),
    IntegerKey("BGColor1", &TPluginOption::BGColor1),
    IntegerKey("BGColor2", &TPluginOption::BGColor2),
    BooleanKey("ThreadSafeSPI", &TPluginOption::ThreadSafeSPI),
};

constexpr const char* OrderKey = "SPIOrder";
constexpr const char* ImageSizeListKey = "ImageSizeList";
constexpr const char* ThumbnailSizeListKey = "ThumbnailSizeList";

// The profile reader's buffer: one character less than this is the longest value read.
constexpr DWORD ValueBufferSize = 2048;
// The order string alone may be longer: cut at 2047 characters, a list of well over a hundred
// children would lose its tail, and a cut inside the last entry ("x.spi=" without its flag)
// would switch that child off. It is read whole, up to a bound no real list comes near.
constexpr DWORD OrderBufferLimit = 1 << 20;

// Reads a value with a buffer of ValueBufferSize characters, grown up to `bufferLimit` while the
// value comes back cut (the profile reader then answers with the buffer's size less one). The
// file is in the system's code page: section, key and value are that code page's texts.
std::string ReadValue(const std::wstring& ini, const std::string& section, const char* key,
                      const std::string& defaultValue, DWORD bufferLimit = ValueBufferSize) {
    const std::wstring wideSection = WidenAnsi(section), wideKey = WidenAnsi(key),
                       wideDefault = WidenAnsi(defaultValue);
    std::vector<wchar_t> buffer(ValueBufferSize);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        DWORD length =
            GetPrivateProfileStringW(wideSection.c_str(), wideKey.c_str(), wideDefault.c_str(),
                                     buffer.data(), size, ini.c_str());
        // The count is bounded by the buffer whatever the reader says.
        length = std::min<DWORD>(length, size - 1);
        if (length < size - 1 || size >= bufferLimit)
            return NarrowToAnsi(std::wstring_view(buffer.data(), length));
        buffer.assign(static_cast<size_t>(size) * 2, L'\0');
    }
}

// The "SPIOrder" that `section` holds now, or `fallback` when it holds none. A value read from
// the file ends at its line, so only the default can be a line break.
std::string StoredOrderOr(const std::wstring& ini, const std::string& section,
                          const std::string& fallback) {
    const std::string absent = "\n";
    std::string stored = ReadValue(ini, section, OrderKey, absent, OrderBufferLimit);
    return stored == absent ? fallback : WrapOrderString(std::move(stored));
}

void WriteValue(const std::wstring& ini, const std::string& section, const char* key,
                const std::string& value) {
    if (!WritePrivateProfileStringW(WidenAnsi(section).c_str(), WidenAnsi(key).c_str(),
                                    WidenAnsi(value).c_str(), ini.c_str()))
        throw SettingsWriteError(ini);
}

std::wstring WriteErrorMessage(const std::wstring& path) {
    std::wstring message = L"%s に書き込めません";
    message.replace(message.find(L"%s"), 2, path);
    return message;
}

}  // namespace

SettingsWriteError::SettingsWriteError(const std::wstring& path)
    : std::runtime_error(NarrowToAnsi(WriteErrorMessage(path))),
      path_(path),
      message_(WriteErrorMessage(path)) {}

TPluginOption DefaultPluginOption() {
    TPluginOption option;
    option.MaxWidth = GetSystemMetrics(SM_CXSCREEN);
    option.MaxHeight = GetSystemMetrics(SM_CYSCREEN);
    return option;
}

std::string HostSectionName() { return AnsiFileName(HostSectionNameFromPath(ModulePath(nullptr))); }

void ReadPluginOption(const std::wstring& ini, const std::string& section, TPluginOption& option,
                      std::string& orderString) {
    for (const OptionKey& key : HostKeys) {
        if (key.Boolean) {
            bool& field = option.*key.Boolean;
            field = ParseOptionBooleanOr(
                ReadValue(ini, section, key.Name, FormatOptionBoolean(field)), field);
        } else if (key.Integer) {
            int32_t& field = option.*key.Integer;
            field = ParseOptionIntegerOr(
                ReadValue(ini, section, key.Name, FormatOptionInteger(field)), field);
        } else {
            std::string& field = option.*key.Text;
            field = ReadValue(ini, section, key.Name, field);
        }
    }
    orderString = WrapOrderString(ReadValue(ini, section, OrderKey, orderString, OrderBufferLimit));
}

void WritePluginOption(const std::wstring& ini, const std::string& section,
                       const TPluginOption& option, const std::string& orderString) {
    for (const OptionKey& key : HostKeys) {
        if (key.Boolean)
            WriteValue(ini, section, key.Name, FormatOptionBoolean(option.*key.Boolean));
        else if (key.Integer)
            WriteValue(ini, section, key.Name, FormatOptionInteger(option.*key.Integer));
        else
            WriteValue(ini, section, key.Name, option.*key.Text);
    }
    WriteValue(ini, section, OrderKey, orderString);
}

void ReadSizeLists(const std::wstring& ini, TPluginOption& option) {
    option.ImageSizeList =
        ReadValue(ini, CommonSectionName, ImageSizeListKey, option.ImageSizeList);
    option.ThumbnailSizeList =
        ReadValue(ini, CommonSectionName, ThumbnailSizeListKey, option.ThumbnailSizeList);
}

void WriteSizeLists(const std::wstring& ini, const TPluginOption& option) {
    WriteValue(ini, CommonSectionName, ImageSizeListKey, option.ImageSizeList);
    WriteValue(ini, CommonSectionName, ThumbnailSizeListKey, option.ThumbnailSizeList);
}

void ReadHostSettings(const std::wstring& ini, TPluginOption& option, std::string& orderString) {
    ReadPluginOption(ini, DefaultSectionName, option, orderString);
    ReadPluginOption(ini, HostSectionName(), option, orderString);
}

void LoadSettings(const std::wstring& ini, TPluginOption& option, std::string& orderString) {
    ReadHostSettings(ini, option, orderString);
    ReadSizeLists(ini, option);
}

void SaveSettings(const std::wstring& ini, const TPluginOption& option,
                  const std::string& orderString, const std::string& startupOrder,
                  bool writeDefault) {
    auto write = [&](const std::string& section) {
        const std::string stored = StoredOrderOr(ini, section, startupOrder);
        WritePluginOption(ini, section, option, MergeOrderStrings(stored, orderString));
    };
    if (writeDefault) write(DefaultSectionName);
    write(HostSectionName());
    WriteSizeLists(ini, option);
}

}  // namespace qorvi
