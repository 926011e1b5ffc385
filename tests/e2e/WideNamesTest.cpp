// Names the system code page cannot spell, with code page 932 (Japanese) as the system's, as on
// the viewers' home machines: an ANSI function there reads Shift-JIS, and a folder named in
// Hangul, Chinese or characters beyond the Basic Multilingual Plane has no ANSI name at all.
//
// The cases run as their own CTest entry, e2e_cp932_tests, in the Unix locale ja_JP.UTF-8, from
// which Wine takes code page 932 for that process. Under any other code page they skip, unless
// QORVI_EXPECT_CP932 says the run was set up for 932: then they fail.
#include "base/WinText.h"
#include "tests/e2e/PluginHost.h"
#include "tests/unit/SettingsDialogDriver.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace qorvi::test {
namespace {

// Hangul, Chinese and an emoji (a surrogate pair): none of it in code page 932.
constexpr wchar_t Unspellable[] = L"사진汉语😀";

bool ExpectsCodePage932() {
    char value[8] = {};
    const DWORD length = GetEnvironmentVariableA("QORVI_EXPECT_CP932", value, sizeof value);
    return length > 0 && length < sizeof value && std::string(value) == "1";
}

class WideNames : public ::testing::Test {
protected:
    void SetUp() override {
        if (GetACP() == 932) return;
        if (ExpectsCodePage932())
            FAIL() << "code page " << GetACP() << " instead of 932: Wine found no ja_JP.UTF-8 "
                   << "in LOCPATH (the build generates it with localedef from Debian's locales)";
        GTEST_SKIP() << "needs code page 932; the CTest entry e2e_cp932_tests runs it so";
    }

    static FixtureProbe Probe(const std::wstring& childPath) {
        HMODULE module = GetModuleHandleW(childPath.c_str());
        if (module == nullptr) throw std::runtime_error("the child is not loaded");
        return FixtureProbe(module);
    }
};

TEST_F(WideNames, CodePageIs932) {
    EXPECT_EQ(GetACP(), 932u);
    TempPluginFolder folder(Unspellable);
    const std::string picture = QvtImage(3, 2);
    const std::wstring path = folder.AddFile(std::wstring(Unspellable) + L".qvt", picture);
    EXPECT_EQ(ReadWholeFile(path), picture);
}

// A request's answer and bitmap, header and pixels, as one text to compare.
std::string Received(int result, const ReceivedBitmap& out) {
    if (result != SusieSuccess) return "result " + std::to_string(result);
    const BITMAPINFOHEADER header = out.Header();
    return std::string(reinterpret_cast<const char*>(&header), sizeof header) + out.Bits();
}

TEST_F(WideNames, PicturesNamedSoDecodeAsTheirAsciiCopies) {
    TempPluginFolder folder;
    PluginHost plugin{folder};
    folder.AddBuilt("wicdec.spi", "wicdec.spi");
    folder.AddBuilt("qorvi.dll", "qorvi.dll");
    folder.AddFile("qorvi.ini", "[Default]\nLimitedOutputSize=1\nMaxWidth=40\nMaxHeight=40\n");
    plugin.Load();
    // A profile to convert from and an orientation to turn by, read from the file qorvi loaded.
    for (const char* file : {"adobe.jpg", "orient6.jpg"}) {
        SCOPED_TRACE(file);
        const std::string ascii = BuiltPath(std::string("images\\") + file);
        const std::wstring named =
            folder.AddFile(std::wstring(Unspellable) + WidenAnsi(file), ReadWholeFile(ascii));
        for (bool preview : {false, true}) {
            ReceivedBitmap expected, got;
            const auto ansiCall = preview ? plugin.GetPreview : plugin.GetPicture;
            const auto wideCall = preview ? plugin.GetPreviewW : plugin.GetPictureW;
            const int result = ansiCall(ascii.c_str(), 0, SusieInputFile, &expected.info,
                                        &expected.bits, nullptr, 0);
            ASSERT_EQ(result, SusieSuccess);
            const int wideResult =
                wideCall(named.c_str(), 0, SusieInputFile, &got.info, &got.bits, nullptr, 0);
            EXPECT_EQ(Received(wideResult, got), Received(result, expected))
                << (preview ? "GetPreviewW" : "GetPictureW");
        }
        PictureInfo expected{}, got{};
        ASSERT_EQ(plugin.GetPictureInfo(ascii.c_str(), 0, SusieInputFile, &expected), 0);
        ASSERT_EQ(plugin.GetPictureInfoW(named.c_str(), 0, SusieInputFile, &got), 0);
        EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0) << "GetPictureInfoW";
        EXPECT_EQ(got.width, 40);

        // In the code page the name has "?" for those characters: no file is named so.
        const std::string ansi = AnsiFileName(named);
        ASSERT_NE(ansi.find('?'), std::string::npos);
        for (bool preview : {false, true}) {
            ReceivedBitmap none;
            EXPECT_EQ((preview ? plugin.GetPreview : plugin.GetPicture)(
                          ansi.c_str(), 0, SusieInputFile, &none.info, &none.bits, nullptr, 0),
                      SusieReadError);
        }
        EXPECT_EQ(plugin.GetPictureInfo(ansi.c_str(), 0, SusieInputFile, &got), SusieReadError);
    }
}

TEST_F(WideNames, ChildrenAreAskedInTheFormTheyTake) {
    struct Case {
        const char* fixture;
        const char* isSupported;   // what IsSupportedW asks the child
        const char* pictureInfo;   // what GetPictureInfoW asks it
        unsigned pictureInfoFlag;  // and with which input kind
    };
    const Case cases[] = {
        // A child that knows only ANSI names is asked with the name in the code page and the
        // file's head, and describes the picture from memory.
        {"fixture.spi", "IsSupported", "GetPictureInfo", SusieInputMemory},
        // One with wide entry points gets the name as the viewer gave it.
        {"fixture_wide.spi", "IsSupportedW", "GetPictureInfoW", SusieInputFile},
    };
    std::string head = QvtImage(6, 4);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.fixture);
        TempPluginFolder folder;
        PluginHost plugin{folder};
        const std::wstring child = folder.AddChild(c.fixture, L"child.spi");
        plugin.Load();
        const std::wstring named = folder.AddFile(std::wstring(Unspellable) + L".qvt", head);
        const FixtureProbe probe = Probe(child);

        std::string padded = head;
        padded.resize(SusieHeadBytes, '\0');
        EXPECT_EQ(
            plugin.IsSupportedW(named.c_str(), reinterpret_cast<SusieHandleOrHead>(padded.data())),
            1);
        EXPECT_EQ(probe.CallCount(c.isSupported), 1);
        PictureInfo info{};
        EXPECT_EQ(plugin.GetPictureInfoW(named.c_str(), 0, SusieInputFile, &info), SusieSuccess);
        EXPECT_EQ(info.width, 6);
        EXPECT_EQ(probe.CallCount(c.pictureInfo), 1);
        EXPECT_EQ(probe.LastFlag(), c.pictureInfoFlag);
        if (c.pictureInfoFlag == SusieInputFile) {
            EXPECT_EQ(probe.LastWideName(), named);
        }
        ReceivedBitmap out;
        EXPECT_EQ(
            plugin.GetPictureW(named.c_str(), 0, SusieInputFile, &out.info, &out.bits, nullptr, 0),
            SusieSuccess);
        EXPECT_EQ(probe.LastFlag(), SusieInputMemory) << "every child decodes from memory";
    }
}

TEST_F(WideNames, FormatTextsComeFromEachChildInItsForm) {
    TempPluginFolder folder;
    PluginHost plugin{folder};
    // The same bytes to both: UTF-8 that the wide child reads as such and the ANSI-only one
    // hands over as code page text, which qorvi converts.
    const std::string description = "写真 x😀";
    folder.AddChild("fixture_wide.spi", L"a.spi", L"", "formats=*.qa|" + description);
    folder.AddChild("fixture.spi", L"b.spi", L"", "formats=*.qb|" + description);
    plugin.Load();
    wchar_t text[64] = {};
    ASSERT_GT(plugin.GetPluginInfoW(3, text, 64), 0);
    EXPECT_EQ(std::wstring(text), L"写真 x😀");
    ASSERT_GT(plugin.GetPluginInfoW(5, text, 64), 0);
    EXPECT_EQ(std::wstring(text), WidenAnsi(description));

    // Cut in characters, never between the two units of the emoji.
    struct Case {
        int buflen;
        const wchar_t* expected;
    };
    for (const Case& c :
         {Case{3, L"写真"}, Case{5, L"写真 x"}, Case{6, L"写真 x"}, Case{7, L"写真 x😀"}}) {
        std::fill(std::begin(text), std::end(text), L'#');
        const int length = plugin.GetPluginInfoW(3, text, c.buflen);
        EXPECT_EQ(std::wstring(text, size_t(std::max(length, 0))), c.expected) << c.buflen;
        EXPECT_EQ(text[std::max(length, 0)], L'\0') << c.buflen;
    }
}

TEST_F(WideNames, APluginFolderNamedSoFindsAllItsFiles) {
    TempPluginFolder folder(Unspellable);
    PluginHost plugin{folder};
    folder.AddChild("fixture.spi", L"main.spi", L"", "formats=*.qa|A");
    folder.AddChild("fixture.spi", L"nested.spi", L"SPI", "formats=*.qb|B");
    // Two children whose names the code page spells alike ("?.spi") are two children.
    folder.AddChild("fixture.spi", L"가.spi", L"SPI", "formats=*.qc|C");
    folder.AddChild("fixture.spi", L"나.spi", L"SPI", "formats=*.qd|D");
    const std::wstring engine = folder.AddBuilt("qorvi.dll", L"qorvi.dll");
    folder.AddFile(L"qorvi.ini", "[Default]\nLimitedOutputSize=1\nMaxWidth=3\nMaxHeight=3\n");
    plugin.Load();
    std::vector<std::string> patterns;
    for (int infono = 2;; infono += 2) {
        char pattern[16] = {};
        if (plugin.GetPluginInfo(infono, pattern, sizeof pattern) == 0) break;
        patterns.push_back(pattern);
    }
    std::sort(patterns.begin(), patterns.end());
    EXPECT_EQ(patterns, (std::vector<std::string>{"*.qa", "*.qb", "*.qc", "*.qd"}));
    EXPECT_NE(GetModuleHandleW(engine.c_str()), nullptr) << "the engine";
    // qorvi.ini's box of 3 x 3.
    const std::wstring picture = folder.AddFile(L"p.qvt", QvtImage(6, 6));
    PictureInfo info{};
    ASSERT_EQ(plugin.GetPictureInfoW(picture.c_str(), 0, SusieInputFile, &info), SusieSuccess);
    EXPECT_EQ(info.width, 3);
}

TEST_F(WideNames, DialogOKWritesTheSettingsThere) {
    if (!CanShowWindows()) {
        if (std::getenv("QORVI_UI_TESTS") != nullptr) FAIL() << "no display in the UI test run";
        GTEST_SKIP() << "no display";
    }
    TempPluginFolder folder(Unspellable);
    PluginHost plugin{folder};
    folder.AddChild("fixture.spi", L"a.spi");
    folder.AddBuilt("qorvi.dll", L"qorvi.dll");
    plugin.Load();
    int result = -2;
    {
        OpenDialog dialog([&](HWND owner) { result = plugin.ConfigurationDlg(owner, 1); });
        ASSERT_NE(dialog.Dialog(), nullptr);
        dialog.CheckRow(0, false);
        dialog.Click(form::chbDefault);
        dialog.Close(form::bntOk);
    }
    EXPECT_EQ(result, SusieSuccess);
    const std::wstring ini = folder.WidePath() + L"\\qorvi.ini";
    wchar_t value[64] = {};
    GetPrivateProfileStringW(L"Default", L"SPIOrder", L"", value, 64, ini.c_str());
    EXPECT_EQ(std::wstring(value), WidenAnsi(ForBuild("a.spi")) + L"=0");
}

}  // namespace
}  // namespace qorvi::test
