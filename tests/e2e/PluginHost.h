// qorvi.spi as a host sees it: a plug-in folder of its own (qorvi.spi, children, qorvi.ini),
// loaded with LoadLibraryW (so the folder's name may hold any characters), the exports and their
// wide-character twins bound by name. Destroying it unloads the library, which runs shut-down,
// before the folder goes away.
#pragma once

#include "hostplugins/SusieInterface.h"
#include "tests/unit/TestSupport.h"

#include <windows.h>

#include <memory>
#include <string>

namespace qorvi::test {

class PluginHost : public SusieEntryPoints {
public:
    // Copies the built qorvi.spi into the folder's root.
    explicit PluginHost(TempPluginFolder& folder);
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Loads qorvi.spi and binds the exports, then, as viewers do, asks for its kind (information
    // 0), which runs start-up, unless `startUp` is false; throws when loading or binding fails.
    void Load(bool startUp = true);
    void Unload();
    HMODULE Module() const { return module_; }
    // The copy's path; the ANSI one only where the system code page can spell it.
    const std::string& Path() const { return path_; }
    const std::wstring& WidePath() const { return widePath_; }

private:
    std::wstring widePath_;
    std::string path_;
    HMODULE module_ = nullptr;
};

// A bitmap as the host receives it: both handles, freed with LocalFree when this goes away.
struct ReceivedBitmap {
    ReceivedBitmap() = default;
    ~ReceivedBitmap();
    ReceivedBitmap(const ReceivedBitmap&) = delete;
    ReceivedBitmap& operator=(const ReceivedBitmap&) = delete;

    BITMAPINFOHEADER Header() const;
    // The pixel block's bytes.
    std::string Bits() const;

    HLOCAL info = nullptr;
    HLOCAL bits = nullptr;
};

}  // namespace qorvi::test
