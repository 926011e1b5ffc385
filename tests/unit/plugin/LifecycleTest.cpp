// The settings dialog's frame on live state set up here: what a confirmed dialog makes the
// running plug-in do again, and what a cancelled one gives back. The form is a stand-in that
// changes what the real one may change and answers OK or Cancel.
#include "base/WinText.h"
#include "color/LCMSDll.h"
#include "plugin/Settings.h"
#include "plugin/SusiePluginMain.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

namespace qorvi {
namespace {

std::function<int(HWND)> form;
int ShowStandInForm(HWND parent) { return form(parent); }

struct Prepared {
    int calls = 0;
    int32_t intent = -1;
    uint32_t flags = 0;
    int transformsLockedOut = 0;  // preparations during which no transform could start
};
Prepared prepared;
int __cdecl RecordPreparation(CMSInfo* info, const void*, const void*, int32_t, int32_t) {
    ++prepared.calls;
    prepared.intent = info->Intent;
    prepared.flags = info->Flags;
    bool free = false;
    std::thread([&] {
        free = Plugin->TransformLock.tryEnter();
        if (free) Plugin->TransformLock.leave();
    }).join();
    if (!free) ++prepared.transformsLockedOut;
    return 1;
}

class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        savedOption = PluginOption;
        savedEngine = LCMSDll;
        LCMSDll = LCMSEntryPoints{};
        LCMSDll.InitializeCMSInfo = RecordPreparation;
        prepared = Prepared{};
        first = folder.AddChild("fixture_extended.spi", "a.spi");
        folder.AddChild("fixture_extended.spi", "b.spi");
        Plugin = std::make_unique<PluginState>();
        Plugin->PluginList = std::make_unique<TSusiePluginList>();
        Plugin->PluginList->LoadDirectory(WidenAnsi(folder.Path() + "\\"));
        Plugin->PictureResizer = std::make_unique<TResizer>(1);
        Plugin->ThumbnailResizer = std::make_unique<TResizer>(1);
        WriteCMSInfoIntents(*Plugin, PluginOption);
        AddEngineOption(*Plugin);
    }
    void TearDown() override {
        Plugin.reset();
        PluginOption = savedOption;
        LCMSDll = savedEngine;
    }

    TPluginOption savedOption;
    LCMSEntryPoints savedEngine;
    test::TempPluginFolder folder;
    std::string first;
};

TEST_F(SettingsDialog, CancelGivesBackTheOrderAndEnabledFlagsItChanged) {
    const std::string before = Plugin->PluginList->GetOrderString();
    HWND owner = nullptr;
    form = [&](HWND parent) {
        owner = OwnerWindow;
        Plugin->PluginList->Items(0)->Enabled = false;
        Plugin->PluginList->Move(0, 1);
        return 2;
    };
    const HWND parent = reinterpret_cast<HWND>(0x1234);
    EXPECT_EQ(RunConfigurationDialog(parent, ShowStandInForm), 0);
    EXPECT_EQ(owner, parent);
    EXPECT_EQ(OwnerWindow, nullptr);
    EXPECT_EQ(Plugin->PluginList->GetOrderString(), before);
    EXPECT_TRUE(Plugin->PluginList->Items(0)->Enabled);
    EXPECT_EQ(prepared.calls, 0);
}

TEST_F(SettingsDialog, OKRunsTheSettingsDependentStepsAgainOnTheLiveObjects) {
    form = [](HWND) {
        PluginOption.RenderingIntent = 2;
        PluginOption.BlackPointCompensation = true;
        PluginOption.ColorManagement = false;
        Plugin->PluginList->Move(0, 1);
        return 1;
    };
    const SettingsSnapshot before = Plugin->Settings.Snapshot();
    ASSERT_EQ(RunConfigurationDialog(nullptr, ShowStandInForm), 0);
    // Requests from now on read the confirmed record; one that started before keeps its own.
    EXPECT_EQ(*Plugin->Settings.Snapshot(), PluginOption);
    EXPECT_EQ(before->RenderingIntent, 0);
    // Intents and flags first, then the profiles (on records not zeroed), the option bit last;
    // a transform running meanwhile would read the records the engine replaces.
    EXPECT_EQ(prepared.calls, 2);
    EXPECT_EQ(prepared.transformsLockedOut, 2);
    EXPECT_EQ(prepared.intent, 2);
    EXPECT_EQ(prepared.flags, uint32_t{BlackPointCompensation});
    for (const CMSInfo* info : {&Plugin->PictureCMSInfo, &Plugin->PreviewCMSInfo}) {
        EXPECT_EQ(info->Intent, 2);
        EXPECT_EQ(info->ProofingIntent, 2);
        EXPECT_EQ(info->Flags, uint32_t{BlackPointCompensation | EngineOption});
    }
    // The children hear that colour management is off; the new order stays.
    EXPECT_EQ(test::FixtureProbe(GetModuleHandleA(first.c_str())).LastCMYK(), 0);
    EXPECT_EQ(Plugin->PluginList->Items(1)->FileName, test::ForBuild("a.spi"));
}

}  // namespace
}  // namespace qorvi
