// qorvi.spi end to end with fixture children: the exports' codes, input kinds, the choice of
// child, start-up from the folder and its qorvi.ini, and what a request leaves behind.
#include "base/WinText.h"
#include "tests/e2e/PluginHost.h"
#include "tests/unit/SettingsDialogDriver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace qorvi::test {
namespace {

constexpr int NoChildAccepts = SusieUnsupported;

int __stdcall StopAtOnce(int, int, SusieLength) { return 1; }

class PluginExports : public ::testing::Test {
protected:
    TempPluginFolder folder;
    PluginHost plugin{folder};

    std::string AddPicture(const std::string& name, const std::string& contents) {
        return folder.AddFile("pictures\\" + name, contents);
    }

    // GetPicture or GetPreview through the host's two handle variables.
    int Picture(bool preview, LPCSTR buf, SusieLength len, unsigned flag, ReceivedBitmap& out) {
        auto call = preview ? plugin.GetPreview : plugin.GetPicture;
        return call(buf, len, flag, &out.info, &out.bits, nullptr, 0);
    }
    int Picture(bool preview, LPCSTR buf, SusieLength len, unsigned flag) {
        ReceivedBitmap out;
        return Picture(preview, buf, len, flag, out);
    }
    int Info(LPCSTR buf, SusieLength len, unsigned flag, PictureInfo* info = nullptr) {
        PictureInfo local{};
        return plugin.GetPictureInfo(buf, len, flag, info != nullptr ? info : &local);
    }
    // The same answer from all three picture requests.
    void ExpectFromAllThree(LPCSTR buf, SusieLength len, unsigned flag, int expected) {
        EXPECT_EQ(Info(buf, len, flag), expected) << "GetPictureInfo";
        EXPECT_EQ(Picture(false, buf, len, flag), expected) << "GetPicture";
        EXPECT_EQ(Picture(true, buf, len, flag), expected) << "GetPreview";
    }
    FixtureProbe Probe(const std::string& childPath) {
        HMODULE module = GetModuleHandleA(childPath.c_str());
        if (module == nullptr) throw std::runtime_error(childPath + " is not loaded");
        return FixtureProbe(module);
    }
};

TEST_F(PluginExports, InputFailuresGiveTheirCodesFromEveryPictureRequest) {
    folder.AddChild("fixture.spi", "fixture.spi");
    plugin.Load();
    const std::string unknown = AddPicture("unknown.qvt", "not a picture any child knows");
    const std::string empty = AddPicture("empty.qvt", "");
    const std::string missing = folder.Path() + "\\pictures\\missing.qvt";

    ExpectFromAllThree(unknown.c_str(), 0, SusieInputFile, NoChildAccepts);
    ExpectFromAllThree(empty.c_str(), 0, SusieInputFile, SusieOutOfMemory);
    ExpectFromAllThree(missing.c_str(), 0, SusieInputFile, SusieReadError);
    const std::string junk = "not a picture";
    ExpectFromAllThree(junk.data(), static_cast<SusieLength>(junk.size()), SusieInputMemory,
                       NoChildAccepts);
}

TEST_F(PluginExports, FileInputAtAnOffsetIsDecodedFromMemory) {
    const std::string child = folder.AddChild("fixture.spi", "fixture.spi");
    plugin.Load();
    FixtureProbe probe = Probe(child);
    const std::string image = QvtImage(7, 5);
    for (long offset : {0L, 128L}) {
        const std::string path = AddPicture("offset" + std::to_string(offset) + ".bin",
                                            std::string(static_cast<size_t>(offset), 'j') + image);
        for (bool preview : {false, true}) {
            ReceivedBitmap out;
            ASSERT_EQ(Picture(preview, path.c_str(), offset, SusieInputFile, out), SusieSuccess)
                << offset;
            EXPECT_EQ(out.Header().biWidth, 7);
            EXPECT_EQ(out.Header().biHeight, 5);
            // The child sees the image in memory, starting at the offset.
            EXPECT_EQ(probe.LastFlag(), SusieInputMemory);
            EXPECT_EQ(probe.LastLength(), static_cast<SusieLength>(image.size()));
        }
        // GetPictureInfo passes the host's arguments on: the child opens the file itself.
        PictureInfo info{};
        ASSERT_EQ(Info(path.c_str(), offset, SusieInputFile, &info), SusieSuccess);
        EXPECT_EQ(info.width, 7);
        EXPECT_EQ(info.height, 5);
        EXPECT_EQ(probe.LastFlag(), SusieInputFile);
        EXPECT_EQ(probe.LastLength(), offset);
    }
}

TEST_F(PluginExports, MemoryInputOfEveryKindIsHandedOnAsMemory) {
    const std::string child = folder.AddChild("fixture.spi", "fixture.spi");
    plugin.Load();
    FixtureProbe probe = Probe(child);
    const std::string image = QvtImage(30, 20);
    for (unsigned flag : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 0x101u, 0x80000007u}) {
        ReceivedBitmap picture;
        ASSERT_EQ(
            Picture(false, image.data(), static_cast<SusieLength>(image.size()), flag, picture),
            SusieSuccess)
            << flag;
        EXPECT_EQ(probe.LastFlag(), SusieInputMemory) << "flag bits reach the child: " << flag;
        EXPECT_EQ(picture.Header().biWidth, 30);
        EXPECT_EQ(Picture(true, image.data(), static_cast<SusieLength>(image.size()), flag),
                  SusieSuccess);
        // GetPictureInfo hands the host's own flag on. This child describes only kind 1; for
        // the other kinds its bitmap of the image in memory tells the size.
        const int decodes = probe.CallCount("GetPicture");
        PictureInfo info{};
        EXPECT_EQ(Info(image.data(), static_cast<SusieLength>(image.size()), flag, &info),
                  SusieSuccess);
        EXPECT_EQ(info.height, 20);
        const bool described = (flag & SusieInputMask) == SusieInputMemory;
        EXPECT_EQ(probe.LastFlag(), described ? flag : SusieInputMemory);
        EXPECT_EQ(probe.CallCount("GetPicture") - decodes, described ? 0 : 1);
    }
}

TEST_F(PluginExports, PicturesArriveAsTheChildDecodedThem) {
    folder.AddChild("fixture.spi", "fixture.spi");
    plugin.Load();
    const std::string image = QvtImage(3, 2);
    ReceivedBitmap out;
    ASSERT_EQ(
        Picture(false, image.data(), static_cast<SusieLength>(image.size()), SusieInputMemory, out),
        SusieSuccess);
    const BITMAPINFOHEADER header = out.Header();
    EXPECT_EQ(header.biBitCount, 24);
    const std::string bits = out.Bits();
    ASSERT_GE(bits.size(), 24u);
    // Bottom-up rows of 12 bytes: the first row in memory is picture row 1. Pixel (x, y) is
    // B = x, G = y, R = x + y.
    const unsigned char expected[] = {0, 1, 1, 1, 1, 2, 2, 1, 3};
    EXPECT_EQ(std::memcmp(bits.data(), expected, sizeof expected), 0);
}

// A child's bitmap is checked before anything reads it: top-down rows are turned bottom-up, and a
// pixel block shorter than the header announces fails the request instead of reaching the host.
TEST_F(PluginExports, TopDownBitmapsArriveBottomUpAndShortOnesFail) {
    const std::string child = folder.AddChild("fixture.spi", "fixture.spi", "", "bitmap=topdown");
    plugin.Load();
    const std::string image = QvtImage(3, 2);
    const long size = static_cast<SusieLength>(image.size());
    for (bool preview : {false, true}) {
        ReceivedBitmap out;
        ASSERT_EQ(Picture(preview, image.data(), size, SusieInputMemory, out), SusieSuccess);
        EXPECT_EQ(out.Header().biHeight, 2);
        const unsigned char bottomRow[] = {0, 1, 1, 1, 1, 2, 2, 1, 3};
        EXPECT_EQ(std::memcmp(out.Bits().data(), bottomRow, sizeof bottomRow), 0);
    }
    Probe(child).Configure("bitmap", "short");
    EXPECT_EQ(Picture(false, image.data(), size, SusieInputMemory), SusieInternalError);
    EXPECT_EQ(Picture(true, image.data(), size, SusieInputMemory), SusieInternalError);
}

// Needs a display: without one Wine answers a message box at once. The UI run has one.
TEST_F(PluginExports, APipelineFailureIsReportedOnceOnTheCallingThreadAndClearsBothHandles) {
    if (!CanShowWindows()) {
        if (std::getenv("QORVI_UI_TESTS") != nullptr) FAIL() << "no display in the UI test run";
        GTEST_SKIP() << "no display";
    }
    folder.AddChild("fixture.spi", "fixture.spi", "", "bitmap=short");
    folder.AddChild("fixture_engine.dll", "qorvi.dll");  // no start-up warning
    plugin.Load();
    const std::string image = QvtImage(3, 2);
    std::vector<ShownBox> shown;
    std::atomic<bool> answered{false};
    std::thread watcher([&] {
        while (!answered) {
            ShownBox box = DismissBox(L"qorvi", nullptr, 10);
            if (box.found) shown.push_back(box);
        }
    });
    HLOCAL info = nullptr, bits = nullptr;
    const int result = plugin.GetPicture(image.data(), long(image.size()), SusieInputMemory, &info,
                                         &bits, nullptr, 0);
    answered = true;
    watcher.join();
    EXPECT_EQ(result, SusieInternalError);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].thread, GetCurrentThreadId());
    EXPECT_EQ(shown[0].text, L"The child plug-in's bitmap is smaller than its header says");
    EXPECT_EQ(info, nullptr);
    EXPECT_EQ(bits, nullptr);
}

TEST_F(PluginExports, PreviewFallsBackToGetPictureOnAChildWithoutIt) {
    const std::string plain = folder.AddChild("fixture_nopreview.spi", "nopreview.spi");
    const std::string full = folder.AddChild("fixture.spi", "withpreview.spi", "", "accept=none");
    plugin.Load();
    const std::string image = QvtImage(8, 8);
    const auto size = static_cast<SusieLength>(image.size());
    FixtureProbe noPreview = Probe(plain);
    FixtureProbe withPreview = Probe(full);
    ReceivedBitmap out;
    ASSERT_EQ(Picture(true, image.data(), size, SusieInputMemory, out), SusieSuccess);
    EXPECT_EQ(noPreview.CallCount("GetPicture"), 1);
    EXPECT_EQ(out.Header().biWidth, 8);

    // A child with GetPreview is asked for a preview, not for the picture.
    noPreview.Configure("accept", "none");
    withPreview.Configure("accept", "magic");
    ASSERT_EQ(Picture(true, image.data(), size, SusieInputMemory), SusieSuccess);
    EXPECT_EQ(withPreview.CallCount("GetPreview"), 1);
    EXPECT_EQ(withPreview.CallCount("GetPicture"), 0);
}

// Many children call the progress callback without looking: a host that passes none must not
// make them call address 0.
TEST_F(PluginExports, AChildGetsAProgressCallbackWhenTheHostGivesNone) {
    folder.AddChild("fixture.spi", "fixture.spi", "", "progress=unchecked");
    plugin.Load();
    const std::string image = QvtImage(8, 8);
    for (bool preview : {false, true})
        EXPECT_EQ(Picture(preview, image.data(), long(image.size()), SusieInputMemory),
                  SusieSuccess);
}

TEST_F(PluginExports, AFaultingChildGivesInternalErrorAndTheNextRequestWorks) {
    const std::string child = folder.AddChild("fixture_faulty.spi", "faulty.spi", "",
                                              "fault=GetPicture:access;GetPreview:cxx");
    plugin.Load();
    const std::string image = QvtImage(4, 4);
    const auto size = static_cast<SusieLength>(image.size());
    ReceivedBitmap failed;
    EXPECT_EQ(Picture(false, image.data(), size, SusieInputMemory, failed), SusieInternalError);
    EXPECT_EQ(Picture(true, image.data(), size, SusieInputMemory), SusieInternalError);

    Probe(child).Configure("fault", "");
    ReceivedBitmap out;
    EXPECT_EQ(Picture(false, image.data(), size, SusieInputMemory, out), SusieSuccess);
    EXPECT_EQ(out.Header().biWidth, 4);
}

TEST_F(PluginExports, AChildsOwnCodesPassThrough) {
    folder.AddChild("fixture.spi", "fixture.spi");
    plugin.Load();
    // The fixture answers a picture shorter than its header announces with 8, and a progress
    // callback that asks to stop with 1.
    const std::string cut = QvtImageTruncated(10, 10, 20);
    EXPECT_EQ(Picture(false, cut.data(), static_cast<SusieLength>(cut.size()), SusieInputMemory),
              SusieInternalError);
    const std::string image = QvtImage(10, 10);
    ReceivedBitmap out;
    EXPECT_EQ(plugin.GetPicture(image.data(), static_cast<SusieLength>(image.size()),
                                SusieInputMemory, &out.info, &out.bits, StopAtOnce, 0),
              1);
    EXPECT_EQ(out.info, nullptr);
}

// GetPluginInfo or GetPluginInfoW (`Char`) into a buffer first filled with 'x': what it wrote up
// to the answered length, checking the terminator there and nothing written after it.
template <class Char, class Entry>
std::basic_string<Char> PluginInfoText(Entry entry, int infono, int buflen) {
    Char buffer[128];
    std::fill(std::begin(buffer), std::end(buffer), Char('x'));
    const int length = entry(infono, buffer, buflen);
    if (length < 0 || length >= 127) return {};
    EXPECT_EQ(buffer[length], Char(0)) << infono << "/" << buflen;
    EXPECT_EQ(buffer[length + 1], Char('x')) << "written past the text";
    return std::basic_string<Char>(buffer, static_cast<size_t>(length));
}

TEST_F(PluginExports, PluginInfoCopiesAndTruncatesInBothForms) {
    folder.AddChild("fixture.spi", "a.spi", "", "formats=*.qa|Picture A;*.qb|Picture B");
    plugin.Load();
    struct Case {
        int infono;
        int buflen;
        std::string expected;
    };
    // Characters for the wide form, bytes for the ANSI one.
    const Case cases[] = {
        {0, 5, "00IN"},   {0, 4, "00I"},         {0, 2, "0"},      {0, 1, ""},
        {2, 100, "*.qa"}, {3, 100, "Picture A"}, {4, 100, "*.qb"}, {5, 4, "Pic"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PluginInfoText<char>(plugin.GetPluginInfo, c.infono, c.buflen), c.expected);
        EXPECT_EQ(PluginInfoText<wchar_t>(plugin.GetPluginInfoW, c.infono, c.buflen),
                  WidenAnsi(c.expected));
    }

    // The version text, whole and as a truncated prefix.
    const std::string whole = PluginInfoText<char>(plugin.GetPluginInfo, 1, 120);
    ASSERT_GT(whole.size(), 10u);
    EXPECT_EQ(whole.rfind("qorvi ", 0), 0u);
    EXPECT_EQ(PluginInfoText<wchar_t>(plugin.GetPluginInfoW, 1, 120), WidenAnsi(whole));
    EXPECT_EQ(PluginInfoText<char>(plugin.GetPluginInfo, 1, 8), whole.substr(0, 7));
    EXPECT_EQ(PluginInfoText<wchar_t>(plugin.GetPluginInfoW, 1, 8), WidenAnsi(whole.substr(0, 7)));

    // Nothing to write: the buffer is left as it was.
    for (const Case& c : {Case{-1, 100, ""}, Case{6, 100, ""}, Case{7, 100, ""},
                          Case{1000, 100, ""}, Case{0, 0, ""}, Case{0, -5, ""}}) {
        char buffer[8];
        std::memset(buffer, 'x', sizeof buffer);
        EXPECT_EQ(plugin.GetPluginInfo(c.infono, buffer, c.buflen), 0) << c.infono;
        EXPECT_EQ(std::string(buffer, sizeof buffer), std::string(8, 'x')) << c.infono;
        wchar_t wide[8];
        std::fill(std::begin(wide), std::end(wide), L'x');
        EXPECT_EQ(plugin.GetPluginInfoW(c.infono, wide, c.buflen), 0) << c.infono;
        EXPECT_EQ(std::wstring(wide, 8), std::wstring(8, L'x')) << c.infono;
    }
    EXPECT_EQ(plugin.GetPluginInfo(0, nullptr, 10), 0);
    EXPECT_EQ(plugin.GetPluginInfoW(0, nullptr, 10), 0);
}

TEST_F(PluginExports, ADisabledChildIsNeverAsked) {
    const std::string off = folder.AddChild("fixture.spi", "off.spi", "", "accept=all");
    folder.AddChild("fixture.spi", "on.spi", "SPI");
    folder.AddFile("qorvi.ini", "[Default]\nSPIOrder=\"off.spi=0\",\"on.spi=1\"\n");
    FixtureLog log;
    plugin.Load();
    const std::string image = QvtImage(5, 5);
    const std::string path = AddPicture("x.qvt", image);
    EXPECT_EQ(plugin.IsSupported(path.c_str(), 0x10000), 0);
    ExpectFromAllThree(path.c_str(), 0, SusieInputFile, SusieSuccess);
    ExpectFromAllThree(image.data(), static_cast<SusieLength>(image.size()), SusieInputMemory,
                       SusieSuccess);
    for (const std::string& line : log.Lines()) {
        if (line.rfind("off.spi ", 0) == 0) {
            EXPECT_EQ(line, "off.spi GetPluginInfo");
        }
    }
    // Only enabled children advertise their formats.
    char pattern[64] = {};
    EXPECT_EQ(plugin.GetPluginInfo(2, pattern, sizeof pattern), 5);
    EXPECT_EQ(plugin.GetPluginInfo(4, pattern, sizeof pattern), 0);
}

// What the other build names its children and its engine, in a folder both share.
#ifdef _WIN64
const std::string otherChild = ".spi", otherEngine = "qorvi.dll";
#else
const std::string otherChild = ".sph", otherEngine = "qorvi64.dll";
#endif

// Both builds can share one folder: each loads the children and the engine of its own kind only,
// although the other kind here is this build's own code under the other build's names.
TEST_F(PluginExports, EachBuildLoadsOnlyItsOwnKindFromASharedFolder) {
    const std::string mine = folder.AddChild("fixture.spi", "mine.spi");
    const std::string mineInSpi = folder.AddChild("fixture.spi", "nested.spi", "SPI");
    const std::string engine = folder.AddChild("fixture_engine.dll", "qorvi.dll");
    std::vector<std::string> others;
    for (const std::string& name :
         {"theirs" + otherChild, "SPI\\nested" + otherChild, otherEngine}) {
        others.push_back(folder.Path() + "\\" + name);
        const std::string source =
            FixturePath(name == otherEngine ? "fixture_engine.dll" : "fixture.spi");
        ASSERT_TRUE(CopyFileA(source.c_str(), others.back().c_str(), FALSE)) << name;
    }
    plugin.Load();
    for (const std::string& path : {mine, mineInSpi, engine})
        EXPECT_NE(GetModuleHandleA(path.c_str()), nullptr) << path;
    for (const std::string& path : others)
        EXPECT_EQ(GetModuleHandleA(path.c_str()), nullptr) << path;
}

// Needs a display, as the dialog does. The other build in the same folder loads only its own kind
// of children ("*.sph" beside qorvi.spi, "*.spi" beside qorvi.sph) and keeps their order in the
// same file: OK here must not drop it.
TEST_F(PluginExports, OrderConfirmedInTheDialogKeepsChildrenNotLoaded) {
    if (!CanShowWindows()) {
        if (std::getenv("QORVI_UI_TESTS") != nullptr) FAIL() << "no display in the UI test run";
        GTEST_SKIP() << "no display";
    }
    folder.AddChild("fixture.spi", "a.spi");
    folder.AddChild("fixture.spi", "b.spi");
    folder.AddChild("fixture_engine.dll", "qorvi.dll");  // no start-up warning
    auto entry = [](const std::string& name, int flag) {
        return '"' + name + '=' + std::to_string(flag) + '"';
    };
    const std::string a = entry(ForBuild("a.spi"), 1), b = entry(ForBuild("b.spi"), 1);
    const std::string x = entry("x" + otherChild, 0), y = entry("y" + otherChild, 1);
    const std::string ini = folder.Path() + "\\qorvi.ini";
    WritePrivateProfileStringA("Default", "SPIOrder", (a + ',' + x + ',' + b).c_str(), ini.c_str());
    plugin.Load();
    // The other build confirms its dialog while this one runs.
    WritePrivateProfileStringA("Default", "SPIOrder", (y + ',' + a + ',' + x + ',' + b).c_str(),
                               ini.c_str());
    int result = -2;
    {
        OpenDialog dialog([&](HWND owner) { result = plugin.ConfigurationDlg(owner, 1); });
        ASSERT_NE(dialog.Dialog(), nullptr);
        dialog.SelectRow(1);
        dialog.Click(form::btnUp);
        dialog.Click(form::chbDefault);
        dialog.Close(form::bntOk);
    }
    EXPECT_EQ(result, SusieSuccess);
    auto storedOrder = [&](const char* section) {
        char value[256] = {};
        GetPrivateProfileStringA(section, "SPIOrder", "", value, sizeof value, ini.c_str());
        return '"' + std::string(value) + '"';  // the reader strips the enclosing pair
    };
    // The host's section held no order and keeps what start-up read; "Default" what it holds now.
    EXPECT_EQ(storedOrder("e2e_tests"), b + ',' + a + ',' + x);
    EXPECT_EQ(storedOrder("Default"), y + ',' + b + ',' + a + ',' + x);
}

TEST_F(PluginExports, IsSupportedAsksTheChildrenWithTheHostsValue) {
    const std::string child = folder.AddChild("fixture.spi", "fixture.spi");
    plugin.Load();
    std::string head = QvtImage(2, 2);
    head.resize(SusieHeadBytes, '\0');
    EXPECT_EQ(plugin.IsSupported("a.qvt", reinterpret_cast<SusieHandleOrHead>(head.data())), 1);
    EXPECT_EQ(Probe(child).LastValue(), reinterpret_cast<SusieHandleOrHead>(head.data()));
    const std::string other(SusieHeadBytes, 'z');
    EXPECT_EQ(plugin.IsSupported("a.qvt", reinterpret_cast<SusieHandleOrHead>(other.data())), 0);
    EXPECT_EQ(plugin.IsSupported(nullptr, reinterpret_cast<SusieHandleOrHead>(head.data())), 1);
}

TEST_F(PluginExports, StartUpReadsTheFolderAndItsSettings) {
    const std::string main = folder.AddChild("fixture_extended.spi", "main.spi");
    const std::string nested = folder.AddChild("fixture_extended.spi", "nested.spi", "SPI");
    folder.AddFile("qorvi.ini",
                   "[Default]\nColorManagement=0\nLimitedOutputSize=1\nMaxWidth=100\n"
                   "MaxHeight=100\n");
    plugin.Load();
    // Every enabled child learns whether colour management is on: here it is off.
    EXPECT_EQ(Probe(main).CallCount("UseCMYKColorSpace"), 1);
    EXPECT_EQ(Probe(main).LastCMYK(), 0);
    EXPECT_EQ(Probe(nested).LastCMYK(), 0);

    // GetPictureInfo reports the size fitted into the output box; the picture is not shrunk yet
    // by this plug-in's pipeline, so GetPicture's size is the child's.
    const std::string image = QvtImage(400, 200);
    PictureInfo info{};
    ASSERT_EQ(Info(image.data(), static_cast<SusieLength>(image.size()), SusieInputMemory, &info),
              SusieSuccess);
    EXPECT_EQ(info.width, 100);
    EXPECT_EQ(info.height, 50);
}

TEST_F(PluginExports, ColourManagementIsOnByDefault) {
    const std::string main = folder.AddChild("fixture_extended.spi", "main.spi");
    plugin.Load();
    EXPECT_EQ(Probe(main).LastCMYK(), -1);
    const std::string image = QvtImage(4000, 30);
    PictureInfo info{};
    ASSERT_EQ(Info(image.data(), static_cast<SusieLength>(image.size()), SusieInputMemory, &info),
              SusieSuccess);
    EXPECT_EQ(info.width, 4000) << "no output box unless LimitedOutputSize is set";
}

TEST_F(PluginExports, ConfigurationDlgAnswersNotImplementedForOtherFunctions) {
    plugin.Load();
    for (int fnc : {0, 2, -1, 100}) EXPECT_EQ(plugin.ConfigurationDlg(nullptr, fnc), -1) << fnc;
}

TEST_F(PluginExports, UnloadingReleasesTheChildrenAndReloadingStartsAfresh) {
    const std::string child = folder.AddChild("fixture.spi", "fixture.spi");
    for (int round = 0; round < 3; ++round) {
        plugin.Load();
        ASSERT_NE(GetModuleHandleA(child.c_str()), nullptr);
        const std::string image = QvtImage(2, 2);
        EXPECT_EQ(
            Picture(false, image.data(), static_cast<SusieLength>(image.size()), SusieInputMemory),
            SusieSuccess);
        plugin.Unload();
        EXPECT_EQ(GetModuleHandleA(child.c_str()), nullptr) << "round " << round;
    }
}

// Start-up and shut-down run under the loader lock, where starting a thread and waiting for it
// would deadlock: neither starts one, nor does a request that needs no worker.
TEST_F(PluginExports, LoadingRequestingAndUnloadingStartNoThread) {
    folder.AddChild("fixture_extended.spi", "fixture.spi");
    const int before = ThreadCount();
    plugin.Load();
    EXPECT_EQ(ThreadCount(), before);
    const std::string image = QvtImage(32, 32);
    EXPECT_EQ(
        Picture(false, image.data(), static_cast<SusieLength>(image.size()), SusieInputMemory),
        SusieSuccess);
    EXPECT_EQ(Picture(true, image.data(), static_cast<SusieLength>(image.size()), SusieInputMemory),
              SusieSuccess);
    plugin.Unload();
    EXPECT_EQ(ThreadCount(), before);
}

// Many viewers end without unloading their plug-ins: shut-down then runs inside the process's
// exit, while the system detaches every library. Both endings must be clean.
TEST_F(PluginExports, TheHostMayEndWithThePluginStillLoaded) {
    folder.AddChild("fixture_extended.spi", "fixture.spi");
    const std::string path = AddPicture("x.qvt", QvtImage(9, 7));
    for (bool keepLoaded : {false, true}) {
        std::vector<std::string> args = {plugin.Path(), "picture", path};
        if (keepLoaded) args.push_back("--keep-loaded");
        const ProgramRun run = RunProgram(BuiltPath("qorvi-host.exe"), args);
        EXPECT_EQ(run.exitCode, 0u) << run.output;
        EXPECT_NE(run.output.find("GetPicture: 0 (ok) 9x7 24-bit"), std::string::npos)
            << run.output;
    }
}

TEST_F(PluginExports, RequestsFromManyThreadsAtOnce) {
    folder.AddChild("fixture.spi", "fixture.spi");
    plugin.Load();
    const std::string image = QvtImage(64, 48);
    const std::string path = AddPicture("t.qvt", image);
    std::string reference;
    {
        ReceivedBitmap out;
        ASSERT_EQ(Picture(false, path.c_str(), 0, SusieInputFile, out), SusieSuccess);
        reference = out.Bits();
    }
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 25; ++i) {
                ReceivedBitmap out;
                const bool memory = (i + t) % 2 == 0;
                const int result =
                    memory ? Picture(i % 3 == 0, image.data(),
                                     static_cast<SusieLength>(image.size()), SusieInputMemory, out)
                           : Picture(i % 3 == 0, path.c_str(), 0, SusieInputFile, out);
                if (result != SusieSuccess || out.Bits() != reference) ++mismatches[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

// Every block a request takes is given back: many requests leave the process's committed
// private memory where it was. The input block alone is larger than the tolerance, so one leaked
// block per request would show many times over.
TEST_F(PluginExports, RequestsLeaveNoMemoryBehind) {
    folder.AddChild("fixture.spi", "fixture.spi");
    plugin.Load();
    const std::string image = QvtImage(256, 256);  // about 192 KiB
    const std::string path = AddPicture("m.qvt", image);
    const std::string unknown = AddPicture("u.qvt", std::string(image.size(), 'u'));
    const auto size = static_cast<SusieLength>(image.size());
    auto requests = [&](int count) {
        for (int i = 0; i < count; ++i) {
            ASSERT_EQ(Info(path.c_str(), 0, SusieInputFile), SusieSuccess);
            ASSERT_EQ(Picture(false, path.c_str(), 0, SusieInputFile), SusieSuccess);
            ASSERT_EQ(Picture(true, path.c_str(), 0, SusieInputFile), SusieSuccess);
            ASSERT_EQ(Picture(false, image.data(), size, SusieInputMemory), SusieSuccess);
            ASSERT_EQ(Picture(true, unknown.c_str(), 0, SusieInputFile), NoChildAccepts);
        }
    };
    requests(20);  // heaps and caches settle
    const size_t before = CommittedPrivateBytes();
    requests(1000);
    const size_t after = CommittedPrivateBytes();
    EXPECT_LT(after, before + 1024 * 1024) << "before " << before << ", after " << after;
}

}  // namespace
}  // namespace qorvi::test
