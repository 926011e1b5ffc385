// The settings dialog's frame on live state set up here: what a confirmed dialog makes the
// running plug-in do again, and what a cancelled one gives back. The form is a stand-in that
// changes what the real one may change and answers OK or Cancel.
#include "color/LCMSDll.h"
#include "plugin/Settings.h"
#include "plugin/SusiePluginMain.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace qorvi {
namespace {

std::function<int(HWND)> form;
int ShowStandInForm(HWND parent) { return form(parent); }

struct Prepared {
    int calls = 0;
    int32_t intent = -1;
    uint32_t flags = 0;
};
Prepared prepared;
int __cdecl RecordPreparation(CMSInfo* info, const void*, const void*, int32_t, int32_t) {
    ++prepared.calls;
    prepared.intent = info->Intent;
    prepared.flags = info->Flags;
    return 1;
}

class SettingsDialog : public ::testing::Test {
protected:
    void SetUp() override {
        savedOption = PluginOption;
        savedEngine = LCMSDll;
        LCMSDll = TLCMSEntryPoints{};
        LCMSDll.InitializeCMSInfo = RecordPreparation;
        prepared = Prepared{};
        first = folder.AddChild("fixture_extended.spi", "a.spi");
        folder.AddChild("fixture_extended.spi", "b.spi");
        PluginList = std::make_unique<TSusiePluginList>();
        PluginList->LoadDirectory(folder.Path() + "\\");
        ResizeLock.emplace();
        PictureResizer = std::make_unique<TResizer>(1);
        ThumbnailResizer = std::make_unique<TResizer>(1);
        PictureCMSInfo = PreviewCMSInfo = CMSInfo{};
        WriteCMSInfoIntents();
        AddEngineOption();
    }
    void TearDown() override {
        PluginList.reset();
        PictureResizer.reset();
        ThumbnailResizer.reset();
        ResizeLock.reset();
        PluginOption = savedOption;
        LCMSDll = savedEngine;
    }

    TPluginOption savedOption;
    TLCMSEntryPoints savedEngine;
    test::TempPluginFolder folder;
    std::string first;
};

TEST_F(SettingsDialog, CancelGivesBackTheOrderAndEnabledFlagsItChanged) {
    const std::string before = PluginList->GetOrderString();
    HWND owner = nullptr;
    form = [&](HWND parent) {
        owner = OwnerWindow;
        PluginList->Items(0)->Enabled = false;
        PluginList->Move(0, 1);
        return 2;
    };
    const HWND parent = reinterpret_cast<HWND>(0x1234);
    EXPECT_EQ(RunConfigurationDialog(parent, ShowStandInForm), 0);
    EXPECT_EQ(owner, parent);
    EXPECT_EQ(OwnerWindow, nullptr);
    EXPECT_EQ(PluginList->GetOrderString(), before);
    EXPECT_TRUE(PluginList->Items(0)->Enabled);
    EXPECT_EQ(prepared.calls, 0);
}

TEST_F(SettingsDialog, OKRunsTheSettingsDependentStepsAgainOnTheLiveObjects) {
    form = [](HWND) {
        PluginOption.RenderingIntent = 2;
        PluginOption.BlackPointCompensation = true;
        PluginOption.ColorManagement = false;
        PluginList->Move(0, 1);
        return 1;
    };
    ASSERT_EQ(RunConfigurationDialog(nullptr, ShowStandInForm), 0);
    // Intents and flags first, then the profiles (on records not zeroed), the option bit last.
    EXPECT_EQ(prepared.calls, 2);
    EXPECT_EQ(prepared.intent, 2);
    EXPECT_EQ(prepared.flags, uint32_t{BlackPointCompensation});
    for (const CMSInfo* info : {&PictureCMSInfo, &PreviewCMSInfo}) {
        EXPECT_EQ(info->Intent, 2);
        EXPECT_EQ(info->ProofingIntent, 2);
        EXPECT_EQ(info->Flags, uint32_t{BlackPointCompensation | EngineOption});
    }
    // The children hear that colour management is off; the new order stays.
    EXPECT_EQ(test::FixtureProbe(GetModuleHandleA(first.c_str())).LastCMYK(), 0);
    EXPECT_EQ(PluginList->Items(1)->FileName, "a.spi");
}

}  // namespace
}  // namespace qorvi
