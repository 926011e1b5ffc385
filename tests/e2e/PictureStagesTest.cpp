// What the post-processing stages make of real pictures: qorvi.spi with the sample decoder
// wicdec.spi and the real engine qorvi.dll in its folder, as a viewer would have them. The
// references come from elsewhere: ImageMagick turns the Exif pictures upright at build time, and
// Little CMS, linked into this test, converts the pixels qorvi decoded with colour management
// off.
#include "tests/e2e/PluginHost.h"
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

const std::string ProfileFolder = QORVI_PROFILE_FOLDER;
const std::string SRGBMonitor = ProfileFolder + "/colord/sRGB.icc";
const std::string AdobeMonitor = ProfileFolder + "/colord/AdobeRGB1998.icc";
// The profile the adobe.* pictures carry.
const std::string AdobeEmbedded = ProfileFolder + "/compatibleWithAdobeRGB1998.icc";

std::string ImagePath(const std::string& file) { return BuiltPath("images\\" + file); }

// A picture as the host would show it: rows top down, three bytes B, G, R per pixel, an 8-bit
// picture's indices looked up in its colour table.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    int bitCount = 0;
    std::vector<uint8_t> bgr;

    const uint8_t* At(int32_t x, int32_t y) const { return &bgr[(size_t(y) * width + x) * 3]; }
};

// The host's view of both blocks qorvi handed back.
Picture FromReceived(const ReceivedBitmap& received) {
    const auto* info = static_cast<const uint8_t*>(LocalLock(received.info));
    if (info == nullptr) throw std::runtime_error("the header handle cannot be locked");
    BITMAPINFOHEADER header;
    std::memcpy(&header, info, sizeof header);
    std::vector<RGBQUAD> colours(256);
    if (header.biBitCount == 8) {
        const size_t count = header.biClrUsed != 0 ? std::min<size_t>(header.biClrUsed, 256) : 256;
        if (LocalSize(received.info) < header.biSize + count * sizeof(RGBQUAD))
            throw std::runtime_error("the colour table is cut short");
        std::memcpy(colours.data(), info + header.biSize, count * sizeof(RGBQUAD));
    }
    LocalUnlock(received.info);

    Picture picture;
    picture.width = header.biWidth;
    picture.height = std::abs(header.biHeight);
    picture.bitCount = header.biBitCount;
    if (picture.bitCount != 24 && picture.bitCount != 8)
        throw std::runtime_error("a " + std::to_string(picture.bitCount) + "-bit picture");
    const std::string bits = received.Bits();
    const size_t stride = (size_t(picture.width) * picture.bitCount / 8 + 3) & ~size_t{3};
    if (bits.size() < stride * picture.height) throw std::runtime_error("the pixel block is short");
    picture.bgr.resize(size_t(picture.width) * picture.height * 3);
    for (int32_t y = 0; y < picture.height; ++y) {
        const int32_t row = header.biHeight > 0 ? picture.height - 1 - y : y;
        const auto* in = reinterpret_cast<const uint8_t*>(bits.data()) + stride * row;
        uint8_t* out = &picture.bgr[size_t(y) * picture.width * 3];
        for (int32_t x = 0; x < picture.width; ++x, out += 3) {
            if (picture.bitCount == 24) {
                std::memcpy(out, in + 3 * x, 3);
            } else {
                const RGBQUAD& c = colours[in[x]];
                out[0] = c.rgbBlue, out[1] = c.rgbGreen, out[2] = c.rgbRed;
            }
        }
    }
    return picture;
}

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

// ImageMagick's binary 8-bit PPM: "P6", width, height, 255, one whitespace, then R,G,B rows
// top-down (no comments in what it writes).
Picture ReadPpm(const std::string& file) {
    const std::string ppm = ReadWholeFile(ImagePath(file));
    std::istringstream head(ppm);
    std::string magic;
    int maximum = 0;
    Picture picture;
    picture.bitCount = 24;
    head >> magic >> picture.width >> picture.height >> maximum;
    const size_t rowBytes = size_t(picture.width) * 3;
    const auto start = size_t(head.tellg()) + 1;
    if (magic != "P6" || maximum != 255 || !head || ppm.size() < start + rowBytes * picture.height)
        throw std::runtime_error(file + " is no 8-bit binary PPM");
    picture.bgr.resize(rowBytes * picture.height);
    for (size_t i = 0; i < picture.bgr.size(); i += 3) {
        picture.bgr[i] = uint8_t(ppm[start + i + 2]);
        picture.bgr[i + 1] = uint8_t(ppm[start + i + 1]);
        picture.bgr[i + 2] = uint8_t(ppm[start + i]);
    }
    return picture;
}

int MaxDifference(const Picture& a, const Picture& b) {
    int most = 0;
    for (size_t i = 0; i < a.bgr.size() && i < b.bgr.size(); ++i)
        most = std::max(most, std::abs(int(a.bgr[i]) - int(b.bgr[i])));
    return most;
}

double MeanDifference(const Picture& a, const Picture& b) {
    double sum = 0;
    for (size_t i = 0; i < a.bgr.size(); ++i) sum += std::abs(int(a.bgr[i]) - int(b.bgr[i]));
    return a.bgr.empty() ? 0 : sum / double(a.bgr.size());
}

// Mean B, G, R over the rectangle [x0, x1) x [y0, y1).
std::array<double, 3> Mean(const Picture& p, int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
    std::array<double, 3> sum{};
    for (int32_t y = y0; y < y1; ++y)
        for (int32_t x = x0; x < x1; ++x)
            for (int c = 0; c < 3; ++c) sum[c] += p.At(x, y)[c];
    for (double& s : sum) s /= double(x1 - x0) * (y1 - y0);
    return sum;
}

// The largest difference of the mean of one channel over any block of block x block pixels:
// two JPEG decoders differ in their inverse transform and chroma upsampling, not in the
// colour of an area.
double MaxBlockMeanDifference(const Picture& a, const Picture& b, int32_t block) {
    double most = 0;
    for (int32_t y = 0; y + block <= a.height; y += block)
        for (int32_t x = 0; x + block <= a.width; x += block) {
            const auto ma = Mean(a, x, y, x + block, y + block);
            const auto mb = Mean(b, x, y, x + block, y + block);
            for (int c = 0; c < 3; ++c) most = std::max(most, std::abs(ma[c] - mb[c]));
        }
    return most;
}

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

Profile OpenProfile(const std::string& path) {
    Profile profile(cmsOpenProfileFromFile(path.c_str(), "r"));
    if (!profile) throw std::runtime_error("Little CMS cannot open " + path);
    return profile;
}

// Little CMS's own conversion: the intent qorvi uses by default (RenderingIntent 0, perceptual),
// no flags.
Picture Converted(const Picture& source, cmsHPROFILE from, cmsHPROFILE to) {
    cmsHTRANSFORM transform =
        cmsCreateTransform(from, TYPE_BGR_8, to, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
    if (transform == nullptr) throw std::runtime_error("Little CMS builds no transform");
    Picture result = source;
    cmsDoTransform(transform, source.bgr.data(), result.bgr.data(),
                   cmsUInt32Number(source.width * source.height));
    cmsDeleteTransform(transform);
    return result;
}

// The same conversion unoptimised in double precision, rounded. Little CMS's 8-bit path
// tabulates the output curve at 16-bit linear values, which is coarse at the dark end of a pure
// power curve such as AdobeRGB's: there it is up to two levels off, and qorvi's engine is not.
Picture ConvertedExactly(const Picture& source, cmsHPROFILE from, cmsHPROFILE to) {
    cmsHTRANSFORM transform = cmsCreateTransform(from, TYPE_BGR_DBL, to, TYPE_BGR_DBL,
                                                 INTENT_PERCEPTUAL, cmsFLAGS_NOOPTIMIZE);
    if (transform == nullptr) throw std::runtime_error("Little CMS builds no transform");
    std::vector<double> values(source.bgr.begin(), source.bgr.end());
    for (double& v : values) v /= 255;
    cmsDoTransform(transform, values.data(), values.data(),
                   cmsUInt32Number(source.width * source.height));
    cmsDeleteTransform(transform);
    Picture result = source;
    for (size_t i = 0; i < values.size(); ++i)
        result.bgr[i] = uint8_t(std::lround(std::clamp(values[i], 0.0, 1.0) * 255));
    return result;
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
