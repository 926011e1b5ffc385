// Which profiles the two engine records are prepared with: the monitor profile's name or the
// system's answer, the CMYK profile file or the built-in one, and the preview's rule.
#include "color/ProfileSetup.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qorvi {
namespace {

// What the stand-in InitializeCMSInfo was given, call by call.
struct Call {
    CMSInfo* record;
    int32_t monitorSize;
    int32_t cmykSize;
    uint8_t cmykFirst;
    bool operator==(const Call&) const = default;
};
std::vector<Call> Calls;
int QORVI_CDECL RecordCall(CMSInfo* info, const void* monitor, const void* cmyk,
                           int32_t monitorSize, int32_t cmykSize) {
    EXPECT_EQ(monitor == nullptr, monitorSize == 0);
    Calls.push_back(
        {info, monitorSize, cmykSize, cmyk ? *static_cast<const uint8_t*>(cmyk) : uint8_t(0)});
    return 1;
}

std::string SystemAnswer;
int SystemAsked = 0;
std::string AskSystem() {
    ++SystemAsked;
    return AcceptedMonitorProfileName(SystemAnswer);
}

TEST(ProfileSetup, KeepsOnlyIccAndIcmNamesFromTheSystem) {
    struct Case {
        const char* name;
        const char* accepted;
    } cases[] = {
        {"C:\\color\\display.icc", "C:\\color\\display.icc"},
        {"C:\\color\\Display.ICM", "C:\\color\\Display.icm"},
        {"C:\\color\\display.IcC", "C:\\color\\display.icc"},
        {"C:\\color\\display.icc.txt", ""},
        {"C:\\color.icc\\display", ""},
        {"display", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(AcceptedMonitorProfileName(c.name), c.accepted) << c.name;
}

class PrepareCMSInfoTest : public ::testing::Test {
protected:
    test::TempPluginFolder folder;
    CMSInfo picture{}, preview{};
    const uint8_t builtIn[4] = {0xB1, 0, 0, 0};
    std::string monitor = folder.AddFile("monitor.ICM", std::string(700, 'm'));
    std::string cmyk = folder.AddFile("press.icc", std::string(900, 'c'));

    ProfileSetupInputs Setup(int32_t thumbnailMode) {
        Calls.clear();
        SystemAsked = 0;
        ProfileSetupInputs setup;
        setup.InitializeCMSInfo = RecordCall;
        setup.Picture = &picture;
        setup.Preview = &preview;
        setup.ThumbnailCMMode = thumbnailMode;
        setup.SystemMonitorProfile = AskSystem;
        setup.BuiltInCMYK = builtIn;
        setup.BuiltInCMYKSize = sizeof builtIn;
        return setup;
    }
};

TEST_F(PrepareCMSInfoTest, ChoosesTheMonitorProfileAndThePreviewsByTheThumbnailMode) {
    const std::string gone = folder.Path() + "\\gone.icc";
    struct Case {
        const char* name;
        std::string monitorName, system;
        int32_t mode;
        int systemAsked;
        int32_t pictureMonitor, previewMonitor;
    } cases[] = {
        {"named profile, previews in sRGB", monitor, "", 1, 0, 700, 0},
        {"named profile, no conversion of previews", monitor, "", 0, 0, 700, 0},
        {"named profile, previews like pictures", monitor, "", 2, 0, 700, 700},
        {"named profile, thumbnail rule", monitor, "", 3, 0, 700, 700},
        {"the system's profile, its extension in capitals", "", monitor, 3, 1, 700, 700},
        {"the system's profile of another extension", "", folder.AddFile("monitor.txt", "x"), 3, 1,
         0, 0},
        {"the system's profile that does not exist", "", gone, 3, 1, 0, 0},
        {"a named profile that is gone: the system is not asked", gone, monitor, 3, 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SystemAnswer = c.system;
        PrepareCMSInfo(Setup(c.mode), c.monitorName, "");
        EXPECT_EQ(SystemAsked, c.systemAsked);
        EXPECT_EQ(Calls, (std::vector<Call>{{&picture, c.pictureMonitor, 4, 0xB1},
                                            {&preview, c.previewMonitor, 4, 0xB1}}));
    }
}

TEST_F(PrepareCMSInfoTest, TakesTheCMYKProfileFileElseTheBuiltInOne) {
    PrepareCMSInfo(Setup(0), "", cmyk);
    EXPECT_EQ(Calls[0].cmykSize, 900);
    EXPECT_EQ(Calls[0].cmykFirst, 'c');
    PrepareCMSInfo(Setup(0), "", folder.Path() + "\\deleted.icc");
    EXPECT_EQ(Calls[0].cmykSize, 4);
    EXPECT_EQ(Calls[0].cmykFirst, 0xB1);
    // Without the engine's InitializeCMSInfo the choice is made and nothing is called.
    ProfileSetupInputs setup = Setup(3);
    setup.InitializeCMSInfo = nullptr;
    PrepareCMSInfo(setup, "", cmyk);
    EXPECT_EQ(SystemAsked, 1);
}

TEST(BuiltInProfile, IsTheCommittedProfileAsAResourceOfThePlugin) {
    HMODULE plugin =
        LoadLibraryExA(test::BuiltPath("qorvi.spi").c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(plugin, nullptr);
    uint32_t size = 0;
    const void* bytes = BuiltInCMYKProfile(plugin, size);
    ASSERT_NE(bytes, nullptr);
    const std::string committed =
        test::ReadWholeFile(std::string(QORVI_SOURCE_FOLDER) + "/resources/CMYKProfile.icc");
    EXPECT_EQ(size, 11556u);
    EXPECT_EQ(std::string(static_cast<const char*>(bytes), size), committed);
    FreeLibrary(plugin);
}

}  // namespace
}  // namespace qorvi
