// The settings dialog, shown for real over an owner window on a thread of its own (the host's
// window thread) and driven from the test's thread by the messages a user's clicks send. Each
// case checks what the dialog leaves behind: PluginOption, the INI file and the plug-in list.
// Needs a display: the UI run (under Xvfb) runs these.
#include "base/WinText.h"
#include "color/LCMSDll.h"
#include "plugin/Settings.h"
#include "plugin/SusiePluginMain.h"
#include "tests/unit/SettingsDialogDriver.h"
#include "tests/unit/TestSupport.h"
#include "ui/ConfigurationFrm.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace qorvi {
namespace {

using namespace form;
using test::OpenDialog;

// The dialog's rows with the children's names as the 32-bit build gives them.
std::vector<std::wstring> RowsOf(const OpenDialog& dialog) {
    std::vector<std::wstring> rows = dialog.Rows();
    for (std::wstring& row : rows) row = test::FromBuild(row);
    return rows;
}

// What the form thread's dialog is shown with.
std::string formColorFolder;
std::string formIni;
int ShowFormUnderTest(HWND owner) {
    TConfigurationForm form(formColorFolder, WidenAnsi(formIni));
    return form.ShowModal(owner);
}

// The dialog as ConfigurationDlg opens it: its frame around the form.
void RunDialog(HWND owner) { RunConfigurationDialog(owner, ShowFormUnderTest); }

// "[section]" lines and key=value lines of an INI file, as written.
std::string ReadIni(const std::string& path) { return test::ReadWholeFile(path); }

std::string IniValue(const std::string& ini, const char* section, const char* key) {
    char value[4096] = {};
    GetPrivateProfileStringA(section, key, "(none)", value, sizeof value, ini.c_str());
    return value;
}

bool CopyProfile(const char* unixPath, const std::string& to) {
    return CopyFileA((std::string("Z:") + unixPath).c_str(), to.c_str(), FALSE) != FALSE;
}

class ConfigurationForm : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::CanShowWindows()) {
            if (std::getenv("QORVI_UI_TESTS") != nullptr) FAIL() << "no display in the UI test run";
            GTEST_SKIP() << "no display";
        }
        savedOption = PluginOption;
        PluginOption = TPluginOption{};
        PluginOption.MaxWidth = 1024;
        PluginOption.MaxHeight = 768;
        ASSERT_TRUE(LoadLCMSDll(WidenAnsi(test::BuiltPath("qorvi.dll"))));
        folder.AddChild("fixture_extended.spi", "a.spi", "", "formats=*.qvt|QVT picture;*.qv1|QVT");
        folder.AddChild("fixture_noconfig.spi", "b.spi", "", "info=child b, no settings");
        Plugin = std::make_unique<PluginState>();
        Plugin->PluginList = std::make_unique<TSusiePluginList>();
        Plugin->PluginList->LoadDirectory(WidenAnsi(folder.Path() + "\\"));
        ASSERT_EQ(Plugin->PluginList->Count(), 2);
        Plugin->PluginList->ApplyOrderString(test::ForBuild("\"a.spi=1\",\"b.spi=1\""));
        Plugin->PictureResizer = std::make_unique<TResizer>(1);
        Plugin->ThumbnailResizer = std::make_unique<TResizer>(1);
        formColorFolder = colors.AddFolder("color") + "\\";
        formIni = folder.Path() + "\\qorvi.ini";
    }
    void TearDown() override {
        if (LCMSDll.FinalizeCMSInfo != nullptr) {
            LCMSDll.FinalizeCMSInfo(&Plugin->PictureCMSInfo);
            LCMSDll.FinalizeCMSInfo(&Plugin->PreviewCMSInfo);
        }
        Plugin.reset();
        FreeLCMSDll(false);
        PluginOption = savedOption;
    }

    TPluginOption savedOption;
    test::TempPluginFolder folder;
    test::TempPluginFolder colors;
};

TEST_F(ConfigurationForm, OpensCentredOverTheHostWithItsTabsAndDefaultProfileItems) {
    // No profiles: a grey one and a text file are not listed.
    ASSERT_TRUE(CopyProfile("/usr/share/color/icc/Gray.icc", formColorFolder + "grey.icc"));
    colors.AddFile("color\\notes.txt", "not a profile");
    PluginOption.MonitorProfileName = "C:\\gone\\monitor.icc";
    PluginOption.CMYKProfileName = "C:\\gone\\press.icc";
    PluginOption.ProofingProfileName = "C:\\gone\\proof.icc";

    OpenDialog dialog(RunDialog);
    ASSERT_NE(dialog.Dialog(), nullptr);
    RECT client, frame, owner;
    GetClientRect(dialog.Dialog(), &client);
    EXPECT_EQ(client.right, 321);
    EXPECT_EQ(client.bottom, 264);
    GetWindowRect(dialog.Dialog(), &frame);
    GetWindowRect(dialog.Owner(), &owner);
    EXPECT_NEAR((frame.left + frame.right) / 2, (owner.left + owner.right) / 2, 1);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, (owner.top + owner.bottom) / 2, 1);

    EXPECT_EQ(dialog.Tabs(),
              (std::vector<std::wstring>{L"色の管理", L"イメージ", L"サムネイル", L"プラグイン"}));

    EXPECT_EQ(dialog.Items(cbMonitorProfile),
              std::vector<std::wstring>{L"既定のモニタープロファイル"});
    EXPECT_EQ(dialog.Items(cbCMYKProfile), std::vector<std::wstring>{L"built-in CMYK Profile"});
    EXPECT_TRUE(dialog.Items(ComboBox1).empty());
    EXPECT_EQ(dialog.Selection(cbMonitorProfile), 0);
    EXPECT_EQ(dialog.Selection(ComboBox1), -1);

    // Colour management off greys out its whole panel, nested controls included.
    EXPECT_TRUE(dialog.Enabled(cbMonitorProfile));
    dialog.Click(chbColorManagement);
    EXPECT_FALSE(dialog.Checked(chbColorManagement));
    EXPECT_FALSE(dialog.Enabled(cbMonitorProfile));
    EXPECT_FALSE(dialog.Enabled(CheckBox1));
    EXPECT_FALSE(dialog.Enabled(Panel1));

    dialog.Close(bntOk);
    EXPECT_FALSE(PluginOption.ColorManagement);
    EXPECT_EQ(PluginOption.MonitorProfileName, "");
    EXPECT_EQ(PluginOption.CMYKProfileName, "");
    EXPECT_EQ(PluginOption.ProofingProfileName, "");
    // Without "デフォルト" ticked only the host's section and the size lists are written.
    EXPECT_EQ(IniValue(formIni, "Default", "ColorManagement"), "(none)");
    EXPECT_EQ(IniValue(formIni, HostSectionName().c_str(), "ColorManagement"), "0");
    EXPECT_EQ(IniValue(formIni, "Common", "ImageSizeList"), "800x600,1024x768,1280x1024");
}

TEST_F(ConfigurationForm, ListsRgbAndCmykProfilesAndKeepsTheProofingChoice) {
    ASSERT_TRUE(CopyProfile("/usr/share/color/icc/sRGB.icc", formColorFolder + "screen.icc"));
    ASSERT_TRUE(CopyProfile("/usr/share/color/icc/ghostscript/default_cmyk.icc",
                            formColorFolder + "press.ICM"));
    ASSERT_TRUE(CopyProfile("/usr/share/color/icc/Gray.icc", formColorFolder + "grey.icc"));
    const std::string press = formColorFolder + "press.ICM";
    {
        OpenDialog dialog(RunDialog);
        ASSERT_NE(dialog.Dialog(), nullptr);
        EXPECT_EQ(dialog.Items(cbMonitorProfile),
                  (std::vector<std::wstring>{L"既定のモニタープロファイル", L"screen"}));
        EXPECT_EQ(dialog.Items(cbCMYKProfile),
                  (std::vector<std::wstring>{L"built-in CMYK Profile", L"press"}));
        const std::vector<std::wstring> proofing = dialog.Items(ComboBox1);
        ASSERT_EQ(proofing.size(), 2u);
        // A stored proofing profile that is gone selects the first profile.
        EXPECT_EQ(dialog.Selection(ComboBox1), 0);
        const int pressIndex = proofing[0] == L"press" ? 0 : 1;
        dialog.Select(ComboBox1, pressIndex);
        dialog.Select(cbMonitorProfile, 1);
        dialog.Close(bntOk);
    }
    EXPECT_EQ(PluginOption.ProofingProfileName, press);
    EXPECT_EQ(PluginOption.MonitorProfileName, formColorFolder + "screen.icc");
    EXPECT_EQ(IniValue(formIni, HostSectionName().c_str(), "ProofingProfileName"), press);
    // The profile the dialog stored is the one it shows next time, whatever the case of its path.
    PluginOption.ProofingProfileName = CharUpperA(std::string(press).data());
    OpenDialog reopened(RunDialog);
    ASSERT_NE(reopened.Dialog(), nullptr);
    const int selected = reopened.Selection(ComboBox1);
    ASSERT_GE(selected, 0);
    EXPECT_EQ(reopened.Items(ComboBox1)[size_t(selected)], L"press");
    EXPECT_EQ(reopened.Selection(cbMonitorProfile), 1);
}

TEST_F(ConfigurationForm, SizeListsRefuseWhatIsNoSizeAndChoosersOpenOnTheirColour) {
    PluginOption.ImageSizeList = "1280x1024,800x600,800x600";
    PluginOption.MaxWidth = 1920;
    PluginOption.MaxHeight = 1080;
    PluginOption.LimitedOutputSize = false;
    PluginOption.ThumbnailSizeList = "16x16";
    PluginOption.ThumbnailWidth = 16;
    PluginOption.ThumbnailHeight = 16;
    PluginOption.BGColor1 = 0x7F123456;  // only the colour's 24 bits count

    OpenDialog dialog(RunDialog);
    ASSERT_NE(dialog.Dialog(), nullptr);
    // Duplicates go, and the current size missing from the list joins it in sorted place.
    EXPECT_EQ(dialog.Items(cbMaxImageSize),
              (std::vector<std::wstring>{L"800x600", L"1280x1024", L"1920x1080"}));
    EXPECT_EQ(dialog.Selection(cbMaxImageSize), 2);
    EXPECT_FALSE(dialog.Enabled(cbMaxImageSize));          // the size is not limited
    EXPECT_FALSE(dialog.Enabled(btnDeleteThumbnailSize));  // one size left

    dialog.Click(chbLimitedOutputSize);
    ASSERT_TRUE(dialog.Enabled(btnAdd));
    EXPECT_TRUE(dialog.Enabled(btnDelete));
    dialog.StartClick(btnAdd);
    EXPECT_EQ(dialog.AnswerPrompt(L"1024x768"), L"入力例) 800x600");
    EXPECT_EQ(dialog.Items(cbMaxImageSize),
              (std::vector<std::wstring>{L"800x600", L"1024x768", L"1280x1024", L"1920x1080"}));
    EXPECT_EQ(dialog.Selection(cbMaxImageSize), 1);
    dialog.StartClick(btnAdd);
    dialog.AnswerPrompt(L"  800X600 \t");  // the same size, whatever its case and blanks
    EXPECT_EQ(dialog.Selection(cbMaxImageSize), 0);
    for (const wchar_t* refused : {L"x600", L"0x600", L"abc", L"1600X1200", L""}) {
        dialog.StartClick(btnAdd);
        dialog.AnswerPrompt(refused);
        EXPECT_EQ(dialog.Items(cbMaxImageSize).size(), 4u) << refused;
        EXPECT_EQ(dialog.Selection(cbMaxImageSize), 0) << refused;
    }
    // The checkerboard colours: each chooser opens on its swatch's colour.
    dialog.StartClick(btnChangeBGColor);
    EXPECT_EQ(dialog.AnswerColorChooser(200, 100, 50), 0x123456);
    dialog.StartClick(btnChangeBGColor2);
    EXPECT_EQ(dialog.AnswerColorChooser(1, 2, 3), 0xAAAAAA);

    // Deleting the last item selects the one before it.
    dialog.StartClick(btnAdd);
    dialog.AnswerPrompt(L"2560x1440");
    EXPECT_EQ(dialog.Selection(cbMaxImageSize), 4);
    dialog.Click(btnDelete);
    EXPECT_EQ(dialog.Items(cbMaxImageSize).size(), 4u);
    EXPECT_EQ(dialog.Selection(cbMaxImageSize), 3);
    dialog.Select(cbMaxImageSize, 2);  // 1280x1024

    dialog.StartClick(btnAddThumbnailSize);
    EXPECT_EQ(dialog.AnswerPrompt(L"200x150"), L"入力例) 160x160");
    EXPECT_TRUE(dialog.Enabled(btnDeleteThumbnailSize));
    dialog.Select(cbThumbnailSize, 0);  // 16x16
    dialog.Close(bntOk);

    EXPECT_TRUE(PluginOption.LimitedOutputSize);
    EXPECT_EQ(PluginOption.MaxWidth, 1280);
    EXPECT_EQ(PluginOption.MaxHeight, 1024);
    EXPECT_EQ(PluginOption.ImageSizeList, "800x600,1024x768,1280x1024,1920x1080");
    // A size below 32 is stored as 32.
    EXPECT_EQ(PluginOption.ThumbnailWidth, 32);
    EXPECT_EQ(PluginOption.ThumbnailHeight, 32);
    EXPECT_EQ(IniValue(formIni, "Common", "ImageSizeList"), "800x600,1024x768,1280x1024,1920x1080");
    EXPECT_EQ(IniValue(formIni, "Common", "ThumbnailSizeList"), "16x16,200x150");
    EXPECT_EQ(PluginOption.BGColor1, 0x003264C8);
    EXPECT_EQ(PluginOption.BGColor2, 0x00030201);
}

TEST_F(ConfigurationForm, PluginRowsFollowTheListLiveAndCancelGivesTheirFlagsBack) {
    folder.AddChild("fixture.spi", "c.spi");
    Plugin->PluginList->LoadDirectory(WidenAnsi(folder.Path() + "\\"));
    Plugin->PluginList->ApplyOrderString(test::ForBuild("\"a.spi=1\",\"b.spi=1\",\"c.spi=1\""));
    {
        OpenDialog dialog(RunDialog);
        ASSERT_NE(dialog.Dialog(), nullptr);
        EXPECT_EQ(RowsOf(dialog), (std::vector<std::wstring>{L"a.spi qvt,qv1 [x]", L"b.spi qvt [x]",
                                                             L"c.spi qvt [x]"}));
        dialog.CheckRow(0, false);
        EXPECT_FALSE(Plugin->PluginList->Items(0)->Enabled);  // at once, while the dialog is open
        dialog.Close(btnCancel);
    }
    EXPECT_TRUE(Plugin->PluginList->Items(0)->Enabled);

    OpenDialog dialog(RunDialog);
    ASSERT_NE(dialog.Dialog(), nullptr);
    dialog.CheckRow(2, false);
    // Moving a row moves its child, and every tick stays with its own child.
    dialog.SelectRow(1);
    dialog.Click(btnUp);
    EXPECT_EQ(RowsOf(dialog), (std::vector<std::wstring>{L"b.spi qvt [x]", L"a.spi qvt,qv1 [x]",
                                                         L"c.spi qvt [ ]"}));
    EXPECT_EQ(test::FromBuild(Plugin->PluginList->GetOrderString()),
              "\"b.spi=1\",\"a.spi=1\",\"c.spi=0\"");
    dialog.Click(btnUp);                                            // at the top: nothing happens
    for (int press = 0; press < 3; ++press) dialog.Click(btnDown);  // the last one at the bottom
    EXPECT_EQ(RowsOf(dialog), (std::vector<std::wstring>{L"a.spi qvt,qv1 [x]", L"c.spi qvt [ ]",
                                                         L"b.spi qvt [x]"}));
    dialog.Click(chbDefault);
    dialog.Close(bntOk);

    const std::string written = ReadIni(formIni);
    EXPECT_NE(test::FromBuild(written).find("SPIOrder=\"a.spi=1\",\"c.spi=0\",\"b.spi=1\""),
              std::string::npos)
        << written;
    // With "デフォルト" ticked the settings go to "Default" as well.
    EXPECT_EQ(IniValue(formIni, "Default", "SPIOrder"),
              IniValue(formIni, HostSectionName().c_str(), "SPIOrder"));
}

TEST_F(ConfigurationForm, InformationOfAChildWithoutSettingsIsItsOwnBox) {
    test::FixtureLog log;
    OpenDialog dialog(RunDialog);
    ASSERT_NE(dialog.Dialog(), nullptr);
    // Row 0 has a settings dialog: its about box is the child's own.
    EXPECT_TRUE(dialog.Enabled(btnConfig));
    EXPECT_TRUE(dialog.Enabled(btnInfo));
    log.Clear();
    dialog.Click(btnInfo);
    dialog.Click(btnConfig);
    EXPECT_EQ(log.Lines(),
              (std::vector<std::string>{"a.spi ConfigurationDlg", "a.spi ConfigurationDlg"}));

    dialog.SelectRow(1);
    EXPECT_FALSE(dialog.Enabled(btnConfig));
    dialog.StartClick(btnInfo);
    const test::ShownBox box =
        test::DismissBox(test::ForBuild(std::wstring(L"b.spi")), dialog.Dialog());
    EXPECT_TRUE(box.found);
    EXPECT_EQ(box.text, L"child b, no settings");
}

TEST_F(ConfigurationForm, AWriteErrorIsShownAndTheDialogStillClosesWithOk) {
    formIni = folder.Path() + "\\no such folder\\qorvi.ini";
    OpenDialog dialog(RunDialog);
    ASSERT_NE(dialog.Dialog(), nullptr);
    dialog.Click(chbAutomaticRotation);
    dialog.StartClick(bntOk);
    const test::ShownBox box = test::DismissBox(L"qorvi");
    EXPECT_TRUE(box.found);
    EXPECT_NE(box.text.find(L"に書き込めません"), std::wstring::npos);
    EXPECT_NE(box.text.find(L"no such folder"), std::wstring::npos);
    dialog.Finish();
    EXPECT_FALSE(PluginOption.AutomaticRotation);
    // The confirmed settings reached the live objects: the records are prepared again.
    EXPECT_NE(Plugin->PictureCMSInfo.Flags & EngineOption, 0u);
}

}  // namespace
}  // namespace qorvi
