// Renders each tab of the settings dialog to a BMP file, for the README's pictures: qorvi.spi
// with the sample decoder and the colour engine in a folder of their own, the dialog opened
// through the export as a viewer opens it, each tab chosen in turn and the dialog's window
// copied from the screen. Not a test; scripts/settings-screenshots runs it under Xvfb.
//
//   settings_screenshots.exe OUTPUT_FOLDER
#include "tests/e2e/PluginHost.h"
#include "tests/unit/SettingsDialogDriver.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace qorvi;

// The window with its frame, as the screen shows it, into a 24-bit BMP file.
bool CaptureWindow(HWND window, const std::string& path) {
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left, height = rect.bottom - rect.top;
    HDC source = GetWindowDC(window);
    HDC memory = CreateCompatibleDC(source);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof info.bmiHeader, width, height, 1, 24, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(source, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, source, 0, 0, SRCCOPY);
    GdiFlush();
    SelectObject(memory, previous);
    DeleteDC(memory);
    ReleaseDC(window, source);

    const DWORD stride = (DWORD(width) * 3 + 3) & ~DWORD{3};
    const DWORD offset = sizeof(BITMAPFILEHEADER) + sizeof(BITMAPINFOHEADER);
    BITMAPFILEHEADER file{0x4D42, offset + stride * DWORD(height), 0, 0, offset};
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(&file), sizeof file);
    out.write(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    out.write(static_cast<const char*>(bits), std::streamsize(stride) * height);
    DeleteObject(bitmap);
    return bool(out);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: settings_screenshots OUTPUT_FOLDER\n");
        return 2;
    }
    const std::string output = argv[1];
    const char* const names[] = {"color", "image", "thumbnail", "plugins"};
    try {
        test::TempPluginFolder folder;
        folder.AddBuilt("wicdec.spi", "wicdec.spi");
        folder.AddBuilt("qorvi.dll", "qorvi.dll");
        folder.AddChild("fixture_extended.spi", "qvt.spi", "",
                        "formats=*.qvt|QVT picture;*.qv1|QVT picture");
        folder.AddFile("qorvi.ini",
                       "[Default]\nLimitedOutputSize=1\nMaxWidth=1280\nMaxHeight=1024\n"
                       "SPIOrder=\"wicdec.spi=1\",\"qvt.spi=0\"\n");
        test::PluginHost plugin(folder);
        plugin.Load();
        int written = 0;
        {
            test::OpenDialog dialog([&](HWND owner) { plugin.ConfigurationDlg(owner, 1); });
            if (dialog.Dialog() == nullptr) throw std::runtime_error("the dialog did not show");
            for (int tab = 0; tab < 4; ++tab) {
                dialog.ShowTab(tab);
                RedrawWindow(
                    dialog.Dialog(), nullptr, nullptr,
                    RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
                dialog.Settle();
                const std::string path = output + "\\settings-" + names[tab] + ".bmp";
                if (CaptureWindow(dialog.Dialog(), path)) ++written;
                std::printf("%s\n", path.c_str());
            }
        }  // cancelled
        return written == 4 ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "settings_screenshots: %s\n", error.what());
        return 1;
    }
}
