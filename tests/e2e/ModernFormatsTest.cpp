// Today's photo formats, and the newer ways PNG and Exif state colour and orientation, through
// qorvi.spi with the real engine. No decoder of HEIF, AVIF, WebP or JPEG XL runs here: Debian's
// decoders made each file's pixels at build time (FILE.ppm, as a decoder plug-in delivers them:
// irot, imir and JPEG XL's orientation applied, no colour converted), and a fixture child hands
// those over for the real file, whose metadata qorvi reads itself. The references: Little CMS
// converting the same pixels from the colour space the file declares into the monitor profile.
#include "tests/e2e/PluginHost.h"
#include "tests/e2e/ShownPicture.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <string>

namespace qorvi::test {
namespace {

// qorvi.spi with the real engine, the settings given and the fixture child as its one decoder.
class HandingViewer {
public:
    explicit HandingViewer(const std::string& settings) {
        child_ = folder_.AddChild("fixture.spi", "handing.spi", "", "accept=all\n");
        folder_.AddBuilt("qorvi.dll", "qorvi.dll");
        folder_.AddFile("qorvi.ini", "[Default]\n" + settings);
        plugin_.Load();
    }

    // `file` as the host asks for it; the child hands over the picture of its decoded twin.
    Picture Get(const std::string& file) {
        HandOver(file);
        const std::string path = ImagePath(file);
        ReceivedBitmap received;
        const int result = plugin_.GetPicture(path.c_str(), 0, SusieInputFile, &received.info,
                                              &received.bits, nullptr, 0);
        if (result != SusieSuccess)
            throw std::runtime_error(file + ": result " + std::to_string(result));
        return FromReceived(received);
    }
    // The same for the file image `bytes` in memory, whatever they hold.
    Picture GetFromMemory(const std::string& bytes, const std::string& file) {
        HandOver(file);
        ReceivedBitmap received;
        const int result =
            plugin_.GetPicture(bytes.data(), static_cast<SusieLength>(bytes.size()),
                               SusieInputMemory, &received.info, &received.bits, nullptr, 0);
        if (result != SusieSuccess)
            throw std::runtime_error(file + " in memory: result " + std::to_string(result));
        return FromReceived(received);
    }

private:
    void HandOver(const std::string& file) {
        FixtureProbe(GetModuleHandleA(child_.c_str()))
            .Configure("pixels", ImagePath(file + ".ppm").c_str());
    }

    TempPluginFolder folder_;
    PluginHost plugin_{folder_};  // unloaded before the folder goes
    std::string child_;
};

// Little CMS's profile of a colour space given by numbers.
Profile NumberedProfile(const cmsCIExyY& white, const cmsCIExyYTRIPLE& primaries,
                        cmsToneCurve* curve) {
    cmsToneCurve* curves[3] = {curve, curve, curve};
    Profile profile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    if (!profile) throw std::runtime_error("Little CMS builds no profile");
    return profile;
}

Profile DisplayP3() {
    const double srgbCurve[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    return NumberedProfile({0.3127, 0.3290, 1.0},
                           {{0.680, 0.320, 1.0}, {0.265, 0.690, 1.0}, {0.150, 0.060, 1.0}},
                           cmsBuildParametricToneCurve(nullptr, 4, srgbCurve));
}

Profile AdobeRGBByNumbers() {
    return NumberedProfile({0.3127, 0.3290, 1.0},
                           {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}},
                           cmsBuildGamma(nullptr, 563.0 / 256));
}

TEST(ModernFormats, ColoursComeFromWhatEachFormatDeclares) {
    HandingViewer managed("MonitorProfileName=" + SRGBMonitor + "\n");
    const Profile monitor = OpenProfile(SRGBMonitor);
    const Profile adobeFile = OpenProfile(AdobeEmbedded);
    const Profile p3 = DisplayP3();
    const Profile adobeNumbers = AdobeRGBByNumbers();
    const struct {
        const char* file;
        cmsHPROFILE declared;
    } cases[] = {
        {"adobe.heic", adobeFile.get()},        // colr prof
        {"p3.heic", p3.get()},                  // colr nclx 12/13
        {"p3.avif", p3.get()},                  // colr nclx 12/13
        {"adobe.avif", adobeFile.get()},        // colr prof
        {"adobe.webp", adobeFile.get()},        // ICCP
        {"p3.jxl", p3.get()},                   // the header's enumerated encoding
        {"p3.png", p3.get()},                   // cICP, no iCCP
        {"p3-icc.png", p3.get()},               // cICP over an AdobeRGB iCCP
        {"adobe-r03.jpg", adobeNumbers.get()},  // Exif ColorSpace 0xFFFF, InteropIndex R03
        {"adobe-cs2.jpg", adobeNumbers.get()},  // Exif ColorSpace 2
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const Picture decoded = ReadPpm(std::string(c.file) + ".ppm");
        const Picture shown = managed.Get(c.file);
        ASSERT_EQ(shown.width, decoded.width);
        ASSERT_EQ(shown.height, decoded.height);
        const Picture expected = Converted(decoded, c.declared, monitor.get());
        EXPECT_LE(MaxDifference(shown, expected), 1);
        // Left as decoded, the picture would be far off.
        EXPECT_GT(MaxDifference(expected, decoded), 20);
    }
}

// `p` turned a quarter clockwise, as Exif orientation 6 asks.
Picture TurnedClockwise(const Picture& p) {
    Picture out = p;
    out.width = p.height;
    out.height = p.width;
    for (int32_t y = 0; y < out.height; ++y)
        for (int32_t x = 0; x < out.width; ++x)
            std::copy_n(p.At(y, p.height - 1 - x), 3, &out.bgr[(size_t(y) * out.width + x) * 3]);
    return out;
}

TEST(ModernFormats, EachPictureIsTurnedOnceByWhoeverTheFormatSays) {
    HandingViewer viewer("ColorManagement=0\n");
    const struct {
        const char* file;
        bool qorviTurns;  // else the decoder turned it already
    } cases[] = {
        {"rotated.heic", false},  // irot 90 degrees and Exif orientation 6
        {"orient6.jxl", false},   // orientation 6 in the header
        {"orient6.webp", true},   // EXIF chunk, orientation 6
        {"orient6.png", true},    // eXIf chunk, orientation 6
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        const Picture decoded = ReadPpm(std::string(c.file) + ".ppm");
        const Picture expected = c.qorviTurns ? TurnedClockwise(decoded) : decoded;
        const Picture shown = viewer.Get(c.file);
        // All of them show the 64 x 48 quadrants upright.
        ASSERT_EQ(shown.width, 48);
        ASSERT_EQ(shown.height, 64);
        EXPECT_EQ(MaxDifference(shown, expected), 0);
    }
}

// Cut short or with bytes overwritten anywhere, a file can only lose what it says: the picture is
// shown, converted by what could still be read or not at all.
TEST(ModernFormats, DamagedFilesShowThePictureAsDecodedOrAsDeclared) {
    HandingViewer managed("MonitorProfileName=" + SRGBMonitor + "\n");
    for (const char* file :
         {"p3.heic", "p3.avif", "adobe.webp", "p3.jxl", "orient6.jxl", "p3.png"}) {
        SCOPED_TRACE(file);
        const std::string bytes = ReadWholeFile(ImagePath(file));
        const Picture whole = managed.Get(file);
        const Picture decoded = ReadPpm(std::string(file) + ".ppm");
        const auto shownEither = [&](const std::string& damaged) {
            const Picture shown = managed.GetFromMemory(damaged, file);
            return shown.width == whole.width && shown.height == whole.height &&
                   (MaxDifference(shown, whole) <= 1 || MaxDifference(shown, decoded) <= 1);
        };
        for (size_t step = 1; step <= 16; ++step) {
            const size_t at = bytes.size() * step / 17;
            EXPECT_TRUE(shownEither(bytes.substr(0, at))) << "cut at " << at;
            std::string overwritten = bytes;
            for (size_t i = at; i < at + 4 && i < bytes.size(); ++i) overwritten[i] = char(0xFF);
            EXPECT_TRUE(shownEither(overwritten)) << "overwritten at " << at;
        }
    }
}

TEST(ModernFormats, HighDynamicRangeKeepsReferenceWhiteHighAndRollsHighlightsOff) {
    HandingViewer managed("MonitorProfileName=" + SRGBMonitor + "\n");
    // The charts' top row: eight neutral patches of 32 x 32, the fifth at reference white
    // (203 cd/m2), the three after it brighter (tests/images/heif.cmake).
    constexpr int ReferencePatch = 4, Patches = 8;
    for (const char* file : {"pq.avif", "hlg.avif"}) {
        SCOPED_TRACE(file);
        const Picture decoded = ReadPpm(std::string(file) + ".ppm");
        const Picture shown = managed.Get(file);
        const auto level = [](const Picture& p, int patch) {
            return int(p.At(32 * patch + 16, 16)[1]);
        };
        EXPECT_GE(level(shown, ReferencePatch), 236);
        EXPECT_LE(level(shown, ReferencePatch), 250);
        // As decoded, reference white is a dim grey.
        EXPECT_LT(level(decoded, ReferencePatch), 200);
        for (int patch = 1; patch < Patches; ++patch)
            EXPECT_GT(level(shown, patch), level(shown, patch - 1)) << "patch " << patch;
    }
}

}  // namespace
}  // namespace qorvi::test
