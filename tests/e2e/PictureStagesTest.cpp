// What the post-processing stages make of real pictures: qorvi.spi with the sample decoder
// wicdec.spi and the real engine qorvi.dll in its folder, as a viewer would have them. The
// references come from elsewhere: ImageMagick turns the Exif pictures upright at build time, and
// Little CMS, linked into this test, converts the pixels qorvi decoded with colour management
// off.
#include "tests/e2e/PluginHost.h"
#include "tests/e2e/ShownPicture.h"
#include "tests/unit/SettingsDialogDriver.h"

#include <gtest/gtest.h>
#include <icm.h>
#include <lcms2.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace qorvi::test {
namespace {

// One plug-in folder with qorvi.spi, the sample decoder, the real engine and the settings given
// (lines of the "Default" section), loaded.
class Viewer {
public:
    explicit Viewer(const std::string& settings) {
        folder_.AddBuilt("wicdec.spi", "wicdec.spi");
        folder_.AddBuilt("qorvi.dll", "qorvi.dll");
        folder_.AddFile("qorvi.ini", "[Default]\n" + settings);
        plugin_.Load();
    }

    Picture Get(const std::string& file, bool preview = false) {
        const std::string path = ImagePath(file);
        ReceivedBitmap received;
        const auto call = preview ? plugin_.GetPreview : plugin_.GetPicture;
        const int result =
            call(path.c_str(), 0, SusieInputFile, &received.info, &received.bits, nullptr, 0);
        if (result != SusieSuccess)
            throw std::runtime_error(file + ": result " + std::to_string(result));
        return FromReceived(received);
    }

    // The settings dialog, through the export, driven by `drive`; answers the export's result.
    int Configure(const std::function<void(OpenDialog&)>& drive) {
        int result = -2;
        {
            // Left open by a failed step, the dialog is cancelled when this goes.
            OpenDialog dialog([&](HWND owner) { result = plugin_.ConfigurationDlg(owner, 1); });
            if (dialog.Dialog() != nullptr) drive(dialog);
        }
        return result;
    }
    // Unloads and loads qorvi.spi again: start-up reads what the dialog wrote.
    void Reload() {
        plugin_.Unload();
        plugin_.Load();
    }

private:
    TempPluginFolder folder_;
    PluginHost plugin_{folder_};  // unloaded before the folder goes
};

// A shown picture the colour step alone made from the decoded one: 24-bit, of the same size.
bool SameGeometry(const Picture& shown, const Picture& decoded) {
    return shown.bitCount == 24 && shown.width == decoded.width && shown.height == decoded.height;
}

TEST(PictureStages, ExifOrientationsComeOutUpright) {
    // Colour management off: only the turn is looked at.
    Viewer turning("ColorManagement=0\n");
    Viewer asStored("ColorManagement=0\nAutomaticRotation=0\n");
    const Picture stored = ReadPpm("upright1.ppm");
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        const std::string file = "orient" + std::to_string(orientation) + ".jpg";
        const Picture upright = ReadPpm("upright" + std::to_string(orientation) + ".ppm");

        const Picture turned = turning.Get(file);
        ASSERT_EQ(turned.bitCount, 24);
        ASSERT_EQ(turned.width, upright.width);
        ASSERT_EQ(turned.height, upright.height);
        // The decoders differ by up to about 10 levels in the blocks by the chroma seam; a
        // wrong turn puts another quadrant's colour in a block, at least 170 levels away.
        EXPECT_LE(MaxBlockMeanDifference(turned, upright, 8), 24);

        const Picture untouched = asStored.Get(file);
        ASSERT_EQ(untouched.width, stored.width);
        ASSERT_EQ(untouched.height, stored.height);
        EXPECT_LE(MaxBlockMeanDifference(untouched, stored, 8), 24);
    }
}

TEST(PictureStages, ColoursAreConvertedFromWhatTheFileSays) {
    Viewer raw("ColorManagement=0\n");
    Viewer managed("MonitorProfileName=" + SRGBMonitor + "\n");
    const Profile monitor = OpenProfile(SRGBMonitor);
    const Profile adobe = OpenProfile(AdobeEmbedded);

    // What chrm.png's gAMA and cHRM chunks say (tests/images/make-pattern-png.py).
    const cmsCIExyY white = {0.3457, 0.3585, 1.0};
    const cmsCIExyYTRIPLE primaries = {{0.67, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.14, 0.08, 1.0}};
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 100000.0 / 55556);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    const Profile chromaticities(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    ASSERT_TRUE(chromaticities);

    struct Case {
        const char* file;
        cmsHPROFILE source;  // null: the file has no colour data and is taken as sRGB
        int tolerance;
    };
    // qorvi's engine rounds in its own matrix-shaper kernel, Little CMS in its: one level
    // apart at most. That holds for the chromaticity picture too: both sides build the same
    // profile from the same numbers, and neither gamma 1.8 going in nor sRGB's curve (linear
    // near black) coming out is steep where 16-bit tables are coarse. Taking 100000 / 55556
    // as the encoding exponent instead, or ignoring cHRM, is dozens of levels off.
    const Case cases[] = {
        {"adobe.jpg", adobe.get(), 1}, {"adobe.png", adobe.get(), 1},
        {"adobe.tif", adobe.get(), 1}, {"plain.jpg", nullptr, 1},
        {"colours.png", nullptr, 1},   {"chrm.png", chromaticities.get(), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Picture decoded = raw.Get(c.file);
        const Picture shown = managed.Get(c.file);
        ASSERT_TRUE(SameGeometry(shown, decoded));
        const Picture expected = c.source ? Converted(decoded, c.source, monitor.get()) : decoded;
        EXPECT_LE(MaxDifference(shown, expected), c.tolerance);
        if (c.source) {
            // The reference itself must differ from the decoded pixels, or the case shows nothing.
            EXPECT_GT(MaxDifference(expected, decoded), 20);
        }
    }
}

TEST(PictureStages, CMYKPicturesComeOutAsRGB) {
    for (const char* settings : {"ColorManagement=1\n", "ColorManagement=0\n"}) {
        SCOPED_TRACE(settings);
        Viewer viewer(settings);
        const Picture shown = viewer.Get("cmyk.jpg");
        ASSERT_EQ(shown.bitCount, 24);
        ASSERT_EQ(shown.width, 64);
        ASSERT_EQ(shown.height, 48);
        // Inside the halves, away from the JPEG blocks at the seam.
        const auto cyan = Mean(shown, 4, 4, 28, 44);
        const auto black = Mean(shown, 36, 4, 60, 44);
        EXPECT_LT(cyan[2], 100) << "red";
        EXPECT_GT(cyan[1], 120) << "green";
        EXPECT_GT(cyan[0], 150) << "blue";
        for (double channel : black) EXPECT_LT(channel, 80);
    }
}

TEST(PictureStages, PreviewsAreDecimatedByThePowerOfTwoTheQualityAllows) {
    // lattice.png: one white pixel in every 8 x 8 (make-pattern-png.py), placed so that
    // decimation keeps white. Taking every 8th pixel keeps only white, every 4th a quarter of it,
    // the filter alone averages to 1/64.
    struct Case {
        int quality;
        double lowest, highest;  // mean level of the thumbnail
    };
    const Case cases[] = {{0, 240, 255}, {1, 40, 90}, {2, 1, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE("ThumbnailQuality " + std::to_string(c.quality));
        Viewer viewer("ColorManagement=0\nThumbnailQuality=" + std::to_string(c.quality) + "\n");
        const Picture preview = viewer.Get("lattice.png", true);
        ASSERT_EQ(preview.bitCount, 24);
        EXPECT_EQ(preview.width, 160);
        EXPECT_EQ(preview.height, 120);
        const auto mean = Mean(preview, 0, 0, preview.width, preview.height);
        const double level = (mean[0] + mean[1] + mean[2]) / 3;
        EXPECT_GE(level, c.lowest);
        EXPECT_LE(level, c.highest);
    }
}

TEST(PictureStages, PicturesFitTheOutputBoxTurnedAsTheyWillBeShown) {
    // big-orient6.jpg: 4000 x 3000 as stored, a quarter turn to come out upright.
    struct Case {
        const char* settings;
        int32_t width, height;
    };
    const Case cases[] = {
        {"LimitedOutputSize=1\nMaxWidth=1920\nMaxHeight=1080\n", 810, 1080},
        {"LimitedOutputSize=1\nMaxWidth=1920\nMaxHeight=1080\nAutomaticRotation=0\n", 1440, 1080},
        {"LimitedOutputSize=0\nMaxWidth=1920\nMaxHeight=1080\n", 3000, 4000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.settings);
        Viewer viewer(std::string("ColorManagement=0\n") + c.settings);
        const Picture shown = viewer.Get("big-orient6.jpg");
        ASSERT_EQ(shown.bitCount, 24);
        EXPECT_EQ(shown.width, c.width);
        EXPECT_EQ(shown.height, c.height);
        // The flat rgb(90, 140, 200) survives shrinking and turning.
        const uint8_t* middle = shown.At(shown.width / 2, shown.height / 2);
        EXPECT_NEAR(middle[0], 200, 8);
        EXPECT_NEAR(middle[1], 140, 8);
        EXPECT_NEAR(middle[2], 90, 8);
    }
}

TEST(PictureStages, PalettedColourPicturesAreOnlyDecimated) {
    // palette-large.png: 1600 x 1280, four 800 x 640 quadrants of one palette colour each. As a
    // preview in the 160 x 160 box with quality 1, only the factor 2 leaves both sides at least 4
    // times the box.
    Viewer viewer("ColorManagement=0\nLimitedOutputSize=1\nMaxWidth=1000\nMaxHeight=1000\n");
    struct Case {
        bool preview;
        int32_t width, height;
    };
    for (const Case& c : {Case{false, 1600, 1280}, Case{true, 800, 640}}) {
        SCOPED_TRACE(c.preview ? "preview" : "picture");
        const Picture shown = viewer.Get("palette-large.png", c.preview);
        EXPECT_EQ(shown.bitCount, 8);
        ASSERT_EQ(shown.width, c.width);
        ASSERT_EQ(shown.height, c.height);
        // The colour table comes back with the decimated indices.
        const uint8_t expected[4][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}, {60, 30, 200}};
        for (int quadrant = 0; quadrant < 4; ++quadrant) {
            const uint8_t* pixel = shown.At((quadrant % 2 * 2 + 1) * c.width / 4,
                                            (quadrant / 2 * 2 + 1) * c.height / 4);
            EXPECT_EQ(std::vector<uint8_t>(pixel, pixel + 3),
                      std::vector<uint8_t>(expected[quadrant], expected[quadrant] + 3))
                << "quadrant " << quadrant;
        }
    }
}

TEST(PictureStages, ThumbnailSizedPicturesWithoutColourDataStayUnconverted) {
    // A monitor far from sRGB makes any conversion plain. ThumbnailCMMode 3 and the 160 x 160
    // box are the defaults.
    Viewer raw("ColorManagement=0\n");
    Viewer managed("MonitorProfileName=" + AdobeMonitor + "\n");
    const Profile monitor = OpenProfile(AdobeMonitor);
    const Profile embedded = OpenProfile(ProfileFolder + "/colord/sRGB.icc");
    const Profile srgb(cmsCreate_sRGBProfile());

    struct Case {
        const char* file;
        cmsHPROFILE source;  // null: returned as decoded
    };
    const Case cases[] = {
        {"thumb160.jpg", nullptr},                 // one side on the box, no colour data
        {"thumb160-profile.jpg", embedded.get()},  // its own profile counts
        {"thumb200.jpg", srgb.get()},              // wider than the box: a picture, taken as sRGB
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const Picture decoded = raw.Get(c.file);
        const Picture shown = managed.Get(c.file);
        ASSERT_TRUE(SameGeometry(shown, decoded));
        if (c.source == nullptr) {
            EXPECT_EQ(MaxDifference(shown, decoded), 0);
        } else {
            EXPECT_GT(MeanDifference(shown, decoded), 2);
            EXPECT_LE(MaxDifference(shown, ConvertedExactly(decoded, c.source, monitor.get())), 1);
        }
    }
}

// A profile in the system's colour folder for as long as the object lives.
class SystemProfile {
public:
    SystemProfile(const std::string& source, const std::string& name) {
        char folder[MAX_PATH] = {};
        DWORD size = sizeof folder;
        if (!GetColorDirectoryA(nullptr, folder, &size))
            throw std::runtime_error("no colour folder");
        path_ = std::string(folder) + "\\" + name;
        if (!CopyFileA(source.c_str(), path_.c_str(), FALSE))
            throw std::runtime_error("cannot copy " + source);
    }
    ~SystemProfile() { DeleteFileA(path_.c_str()); }
    SystemProfile(const SystemProfile&) = delete;
    SystemProfile& operator=(const SystemProfile&) = delete;

private:
    std::string path_;
};

// Needs a display, as the dialog does.
TEST(PictureStages, SettingsConfirmedInTheDialogRuleTheNextPicture) {
    if (!CanShowWindows()) {
        if (std::getenv("QORVI_UI_TESTS") != nullptr) FAIL() << "no display in the UI test run";
        GTEST_SKIP() << "no display";
    }
    const SystemProfile wide(AdobeMonitor, "qorvi wide monitor.icc");
    Viewer viewer("");
    const Picture before = viewer.Get("adobe.jpg");
    const int result = viewer.Configure([](OpenDialog& dialog) {
        const std::vector<std::wstring> monitors = dialog.Items(form::cbMonitorProfile);
        const auto wideItem = std::find(monitors.begin(), monitors.end(), L"qorvi wide monitor");
        ASSERT_NE(wideItem, monitors.end());
        dialog.Select(form::cbMonitorProfile, int(wideItem - monitors.begin()));
        dialog.Click(form::chbLimitedOutputSize);
        dialog.StartClick(form::btnAdd);
        dialog.AnswerPrompt(L"48x40");
        dialog.Select(form::cbDecimationMode, 0);  // area average instead of Lanczos3
        dialog.Close(form::bntOk);
    });
    EXPECT_EQ(result, SusieSuccess);
    const Picture after = viewer.Get("adobe.jpg");
    EXPECT_EQ(before.width, 64);
    EXPECT_EQ(after.width, 40);
    EXPECT_EQ(after.height, 40);
    // What start-up makes of the settings the dialog wrote is what the running plug-in did.
    viewer.Reload();
    const Picture started = viewer.Get("adobe.jpg");
    EXPECT_EQ(MaxDifference(after, started), 0);
    // And it is not what the size alone would give: the profile and the filter changed too.
    Viewer sizeOnly("LimitedOutputSize=1\nMaxWidth=48\nMaxHeight=40\n");
    EXPECT_GT(MeanDifference(sizeOnly.Get("adobe.jpg"), started), 2);
}

}  // namespace
}  // namespace qorvi::test
