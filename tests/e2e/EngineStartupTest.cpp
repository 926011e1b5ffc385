// qorvi.spi's start-up and shut-down with its colour engine: the engine missing, a stand-in
// engine that logs what it is asked (FixtureEngine.cpp), one that lacks entry points, and the
// real qorvi.dll.
#include "tests/e2e/PluginHost.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace qorvi::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* BuiltInProfileSize = "11556";

std::string ProfileFolder() { return QORVI_PROFILE_FOLDER; }

class EngineStartup : public ::testing::Test {
protected:
    TempPluginFolder folder;
    FixtureLog log;
    PluginHost plugin{folder};

    void AddEngine(const std::string& fixture) { folder.AddChild(fixture, "qorvi.dll"); }
    // The log's lines of the engine, without its file name.
    std::vector<std::string> EngineCalls() const {
        std::vector<std::string> calls;
        for (const std::string& line : log.Lines())
            if (line.rfind("qorvi.dll ", 0) == 0) calls.push_back(line.substr(10));
        return calls;
    }
    int Decode(bool preview) {
        const std::string image = QvtImage(6, 4);
        ReceivedBitmap out;
        auto call = preview ? plugin.GetPreview : plugin.GetPicture;
        return call(image.data(), long(image.size()), SusieInputMemory, &out.info, &out.bits,
                    nullptr, 0);
    }
};

TEST_F(EngineStartup, WithoutTheEnginePicturesStillComeOut) {
    folder.AddChild("fixture.spi", "fixture.spi");
    plugin.Load();
    EXPECT_EQ(Decode(false), SusieSuccess);
    EXPECT_EQ(Decode(true), SusieSuccess);
    plugin.Unload();
}

TEST_F(EngineStartup, PreparesBothRecordsThenAddsTheOptionBitAndFinalisesAtShutDown) {
    const std::string monitor =
        folder.AddFile("monitor.icc", ReadWholeFile(ProfileFolder() + "\\sRGB.icc"));
    struct Case {
        const char* name;
        std::string settings;
        std::vector<std::string> calls;
    } cases[] = {
        {"defaults but a monitor profile that is gone: sRGB output, the built-in CMYK profile",
         "MonitorProfileName=" + folder.Path() + "\\gone.icc\n",
         {"InitializeCMSInfo monitor=0/0 cmyk=11556/11556 intent=0/0 flags=0x00000000",
          "InitializeCMSInfo monitor=0/0 cmyk=11556/11556 intent=0/0 flags=0x00000000",
          "FinalizeCMSInfo intent=0/0 flags=0x80000000",
          "FinalizeCMSInfo intent=0/0 flags=0x80000000"}},
        {"a monitor profile, intent 2, black-point compensation, previews in sRGB",
         "MonitorProfileName=" + monitor +
             "\nRenderingIntent=2\nBlackPointCompensation=1\n"
             "ThumbnailCMMode=1\n",
         {"InitializeCMSInfo monitor=6922/6922 cmyk=11556/11556 intent=2/2 flags=0x00002000",
          "InitializeCMSInfo monitor=0/0 cmyk=11556/11556 intent=2/2 flags=0x00002000",
          "FinalizeCMSInfo intent=2/2 flags=0x80002000",
          "FinalizeCMSInfo intent=2/2 flags=0x80002000"}},
        {"previews with the monitor profile; a CMYK profile that is gone means the built-in one",
         "MonitorProfileName=" + monitor + "\nThumbnailCMMode=2\nCMYKProfileName=" + folder.Path() +
             "\\gone.icc\n",
         {"InitializeCMSInfo monitor=6922/6922 cmyk=11556/11556 intent=0/0 flags=0x00000000",
          "InitializeCMSInfo monitor=6922/6922 cmyk=11556/11556 intent=0/0 flags=0x00000000",
          "FinalizeCMSInfo intent=0/0 flags=0x80000000",
          "FinalizeCMSInfo intent=0/0 flags=0x80000000"}},
        {"a CMYK profile file of the settings",
         "MonitorProfileName=" + folder.Path() + "\\gone.icc\nCMYKProfileName=" + monitor + "\n",
         {"InitializeCMSInfo monitor=0/0 cmyk=6922/6922 intent=0/0 flags=0x00000000",
          "InitializeCMSInfo monitor=0/0 cmyk=6922/6922 intent=0/0 flags=0x00000000",
          "FinalizeCMSInfo intent=0/0 flags=0x80000000",
          "FinalizeCMSInfo intent=0/0 flags=0x80000000"}},
    };
    AddEngine("fixture_engine.dll");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        log.Clear();
        folder.AddFile("qorvi.ini", "[Default]\n" + c.settings);
        plugin.Load();
        plugin.Unload();
        // No transform ran, so the engine's workers were never started and are not stopped.
        EXPECT_EQ(EngineCalls(), c.calls);
    }
}

TEST_F(EngineStartup, AnEngineWithoutMostEntryPointsIsCalledOnlyThroughThoseItHas) {
    folder.AddChild("fixture.spi", "fixture.spi");
    AddEngine("fixture_engine_partial.dll");
    plugin.Load();
    EXPECT_EQ(Decode(false), SusieSuccess);
    EXPECT_EQ(Decode(true), SusieSuccess);
    plugin.Unload();
    // No workers to start or stop, nothing to finalise: the picture and the preview are converted.
    EXPECT_THAT(
        EngineCalls(),
        ElementsAre("InitializeCMSInfo monitor=0/0 cmyk=11556/11556 intent=0/0 flags=0x00000000",
                    "InitializeCMSInfo monitor=0/0 cmyk=11556/11556 intent=0/0 flags=0x00000000",
                    "ColorTransform intent=0/0 flags=0x80000000 kind=0",
                    "ColorTransform intent=0/0 flags=0x80000000 kind=0"));
}

TEST_F(EngineStartup, TheRealEngineLoadsAndUnloadsRepeatedly) {
    folder.AddChild("fixture.spi", "fixture.spi");
    folder.AddBuilt("qorvi.dll", "qorvi.dll");
    for (int round = 0; round < 3; ++round) {
        ThreadWatch threads;
        plugin.Load();
        EXPECT_NE(GetModuleHandleA((folder.Path() + test::ForBuild("\\qorvi.dll")).c_str()),
                  nullptr);
        EXPECT_EQ(Decode(false), SusieSuccess);
        threads.TakeStarted();  // the engine's workers, started by the transform
        plugin.Unload();
        // The workers hold the engine until they have left its code.
        EXPECT_TRUE(threads.AllEnded(10000));
        EXPECT_EQ(GetModuleHandleA((folder.Path() + test::ForBuild("\\qorvi.dll")).c_str()),
                  nullptr);
    }
}

// Needs a display: without one Wine answers a message box at once. The UI run has one.
TEST_F(EngineStartup, AMissingEngineIsReportedOnceWithItsFileName) {
    if (!CanShowWindows()) {
        if (std::getenv("QORVI_UI_TESTS") != nullptr) FAIL() << "no display in the UI test run";
        GTEST_SKIP() << "no display";
    }
    // Start-up shows its box while the host's first call waits (Load makes one): every box there
    // is shows before Load returns.
    std::vector<ShownBox> shown;
    std::atomic<bool> loaded{false}, watching{false};
    std::thread watcher([&] {
        watching = true;
        while (!loaded) {
            ShownBox box = DismissBox(L"警告", nullptr, 10);
            if (box.found) shown.push_back(box);
        }
    });
    while (!watching) std::this_thread::yield();
    plugin.Load();
    loaded = true;
    watcher.join();
    plugin.Unload();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, test::ForBuild(std::wstring(L"qorvi.dll")) + L"のLoadに失敗しました");
}

}  // namespace
}  // namespace qorvi::test
