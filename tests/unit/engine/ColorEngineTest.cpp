// The engine's core against Little CMS itself: accuracy against its floating-point transform for
// real profiles (Debian's icc-profiles-free and colord-data), the order in which a picture's
// colour data is taken, CMYK through the built-in profile, the transform cache, the split over
// threads and what bad arguments do.
#include "engine/ColorEngine.h"
#include "engine/MatrixShaper.h"
#include "tests/unit/engine/EngineFiles.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace qorvi::engine {
namespace {

using test::BuiltInCMYK;
using test::BuiltInCMYKPath;
using test::Bytes;
using test::Profile;
using test::ProfilePath;

const char* const AdobeRGB = "compatibleWithAdobeRGB1998.icc";

// A prepared record, finalised when it goes.
struct Record {
    CMSInfo info{};
    Record(int32_t intent = 0, bool bpc = false, const Bytes& monitor = {},
           const Bytes& cmyk = {}) {
        info.Intent = info.ProofingIntent = intent;
        info.Flags = (bpc ? uint32_t{BlackPointCompensation} : 0u) | EngineOption;
        EXPECT_TRUE(InitializeRecord(info, monitor.data(), int32_t(monitor.size()), cmyk.data(),
                                     int32_t(cmyk.size())));
    }
    ~Record() { FinalizeRecord(info); }
};

ImageInfo Embedding(const Bytes& profile) {
    ImageInfo image{};
    image.ProfileData = profile.data();
    image.ProfileSize = int32_t(profile.size());
    image.Flags = HasProfileData;
    return image;
}

// B,G,R rows of `width` pixels padded to 4 bytes: every 4-bit level of each channel, then
// random colours, half of them dark (where output curves are steepest). The fill bytes hold 0xEE,
// which no transform may touch.
struct Picture {
    int32_t width, height, stride;
    Bytes bytes;
    Picture(int32_t w, int32_t h) : width(w), height(h), stride((w * 3 + 3) & ~3) {
        bytes.assign(size_t(stride) * h, 0xEE);
        std::mt19937 random(7);
        for (int32_t i = 0; i < w * h; ++i) {
            uint8_t* p = Pixel(i);
            for (int c = 0; c < 3; ++c)
                p[c] = i < 4096 ? uint8_t(((i >> (4 * c)) & 15) * 17)
                                : uint8_t(random() >> (i % 2 ? 28 : 24));
        }
    }
    uint8_t* Pixel(int32_t i) { return &bytes[size_t(i / width) * stride + size_t(i % width) * 3]; }
    void Convert(Record& record, const ImageInfo& image, const char* proofing = nullptr) {
        Transform(record.info, &image, bytes.data(), bytes.data(), stride, stride, width, height,
                  TransformBGR, proofing);
    }
    bool FillUntouched() const {
        for (int32_t y = 0; y < height; ++y)
            for (int32_t x = width * 3; x < stride; ++x)
                if (bytes[size_t(y) * stride + x] != 0xEE) return false;
        return true;
    }
};

// The engine's 8-bit transform of the picture's pixels from one source, B,G,R in and out: Little
// CMS with the engine's kernel, as the engine builds it (in a context of its own).
Bytes Reference8(cmsHPROFILE in, cmsHPROFILE out, Picture picture, int32_t intent,
                 cmsUInt32Number flags) {
    static const cmsContext kernel = cmsCreateContext(MatrixShaperPlugin(), nullptr);
    cmsHTRANSFORM t = cmsCreateTransformTHR(kernel, in, TYPE_BGR_8, out, TYPE_BGR_8, intent, flags);
    EXPECT_NE(t, nullptr);
    if (t != nullptr) {
        cmsDoTransformLineStride(t, picture.bytes.data(), picture.bytes.data(), picture.width,
                                 picture.height, picture.stride, picture.stride, 0, 0);
        cmsDeleteTransform(t);
    }
    return picture.bytes;
}

int MaxDifferenceFromFloat(cmsHPROFILE in, cmsHPROFILE out, Picture source,
                           const Picture& converted, int32_t intent, bool bpc) {
    const cmsUInt32Number flags = cmsFLAGS_NOOPTIMIZE | (bpc ? cmsFLAGS_BLACKPOINTCOMPENSATION : 0);
    cmsHTRANSFORM t = cmsCreateTransform(in, TYPE_BGR_DBL, out, TYPE_BGR_DBL, intent, flags);
    if (t == nullptr) return 256;
    int worst = 0;
    for (int32_t i = 0; i < source.width * source.height; ++i) {
        double rgb[3], result[3];
        for (int c = 0; c < 3; ++c) rgb[c] = source.Pixel(i)[c] / 255.0;
        cmsDoTransform(t, rgb, result, 1);
        const uint8_t* ours =
            &converted
                 .bytes[size_t(i / source.width) * source.stride + size_t(i % source.width) * 3];
        for (int c = 0; c < 3; ++c) {
            const long expected = std::lround(std::clamp(result[c], 0.0, 1.0) * 255);
            worst = std::max(worst, int(std::labs(expected - ours[c])));
        }
    }
    cmsDeleteTransform(t);
    return worst;
}

TEST(ColorEngine, ConvertsWithinOneLevelOfLittleCMSFloatingPoint) {
    // Source profiles into sRGB, and sRGB into a wide-gamut monitor profile.
    struct Case {
        const char* source;
        const char* monitor;
    } cases[] = {{"sRGB.icc", nullptr},
                 {AdobeRGB, nullptr},
                 {"colord/WideGamutRGB.icc", nullptr},
                 {"colord/ProPhotoRGB.icc", nullptr},
                 {"sRGB.icc", "colord/WideGamutRGB.icc"},
                 {"colord/ProPhotoRGB.icc", "colord/WideGamutRGB.icc"}};
    for (const Case& c : cases) {
        const Bytes source = Profile(c.source);
        const Bytes monitor = c.monitor ? Profile(c.monitor) : Bytes();
        ASSERT_FALSE(source.empty()) << c.source;
        cmsHPROFILE in = cmsOpenProfileFromMem(source.data(), cmsUInt32Number(source.size()));
        cmsHPROFILE out =
            c.monitor ? cmsOpenProfileFromMem(monitor.data(), cmsUInt32Number(monitor.size()))
                      : cmsCreate_sRGBProfile();
        for (int32_t intent = 0; intent <= 3; ++intent) {
            for (bool bpc : {false, true}) {
                SCOPED_TRACE(std::string(c.source) + " intent " + std::to_string(intent) +
                             (bpc ? " bpc" : ""));
                Record record(intent, bpc, monitor);
                EXPECT_EQ(RecordUsesMonitorProfile(record.info), c.monitor != nullptr);
                const Picture original(127, 64);
                for (bool scalar : {false, true}) {
                    SCOPED_TRACE(scalar ? "plain path" : "SIMD path");
                    UseScalarMatrixShaper(scalar);
                    Picture picture = original;
                    picture.Convert(record, Embedding(source));
                    EXPECT_LE(MaxDifferenceFromFloat(in, out, original, picture, intent, bpc), 1);
                    EXPECT_TRUE(picture.FillUntouched());
                }
                UseScalarMatrixShaper(false);
            }
        }
        cmsCloseProfile(in);
        cmsCloseProfile(out);
    }
}

// The kernel follows the processor-feature probe, QORVI_SIMD included: CTest runs this once more
// with QORVI_SIMD=scalar (tests/unit/engine/CMakeLists.txt). Every test machine has SSE2.
TEST(MatrixShaper, TakesThePathTheForcedSimdLevelAllows) {
    const char* forced = std::getenv("QORVI_SIMD");
    const std::string level = forced != nullptr ? forced : "";
    EXPECT_EQ(MatrixShaperUsesSSE2(), level != "scalar" && level != "mmx") << level;
}

TEST(ColorEngine, APaletteConvertsAsPixelsOfItsColoursAndKeepsItsReservedBytes) {
    const Bytes adobe = Profile(AdobeRGB);
    Record record(1);
    Picture pixels(256, 1);
    Bytes palette(256 * 4);
    for (int i = 0; i < 256; ++i) {
        std::copy(pixels.Pixel(i), pixels.Pixel(i) + 3, &palette[size_t(i) * 4]);
        palette[size_t(i) * 4 + 3] = uint8_t(i);
    }
    const ImageInfo image = Embedding(adobe);
    pixels.Convert(record, image);
    Transform(record.info, &image, palette.data(), palette.data(), 0, 0, 256, 0, TransformPalette,
              nullptr);
    for (int i = 0; i < 256; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(Bytes(&palette[size_t(i) * 4], &palette[size_t(i) * 4 + 3]),
                  Bytes(pixels.Pixel(i), pixels.Pixel(i) + 3));
        EXPECT_EQ(palette[size_t(i) * 4 + 3], i);
    }
}

struct ProfileCloser {
    void operator()(void* p) const { cmsCloseProfile(p); }
};
using Profiles = std::unique_ptr<void, ProfileCloser>;

Profiles RGBProfile(double wx, double wy, const double p[6], double gamma) {
    const cmsCIExyY white = {wx, wy, 1};
    const cmsCIExyYTRIPLE primaries = {{p[0], p[1], 1}, {p[2], p[3], 1}, {p[4], p[5], 1}};
    const double srgb[5] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
    cmsToneCurve* curve =
        gamma > 0 ? cmsBuildGamma(nullptr, gamma) : cmsBuildParametricToneCurve(nullptr, 4, srgb);
    cmsToneCurve* curves[3] = {curve, curve, curve};
    Profiles profile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    return profile;
}

TEST(ColorEngine, TakesTheProfileThenChromaticitiesThenSRGB) {
    const double srgb[6] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    const double wide[6] = {0.7347, 0.2653, 0.1152, 0.8264, 0.1566, 0.0177};
    const double p3[6] = {0.68, 0.32, 0.265, 0.69, 0.15, 0.06};  // red on the diagram's edge
    const Bytes adobe = Profile(AdobeRGB);
    const Bytes cmyk = BuiltInCMYK();
    const Bytes junk(3000, 0x5A);

    auto withGamma = [](ImageInfo image, double gamma) {
        image.Gamma = gamma;
        image.Flags |= HasGamma;
        return image;
    };
    auto withPrimaries = [](ImageInfo image, const double p[6]) {
        image.RedX = p[0], image.RedY = p[1], image.GreenX = p[2], image.GreenY = p[3];
        image.BlueX = p[4], image.BlueY = p[5];
        image.Flags |= HasPrimaries;
        return image;
    };
    auto withWhite = [](ImageInfo image, double x, double y) {
        image.WhitePointX = x, image.WhitePointY = y;
        image.Flags |= HasWhitePoint;
        return image;
    };
    ImageInfo exifSRGB{};
    exifSRGB.ColorSpace = 1;
    exifSRGB.Flags = HasColorSpace;

    struct Case {
        const char* name;
        ImageInfo image;
        Profiles expected;
    };
    Case cases[] = {
        {"nothing: sRGB", ImageInfo{}, Profiles(cmsCreate_sRGBProfile())},
        {"Exif ColorSpace 1: sRGB", exifSRGB, Profiles(cmsCreate_sRGBProfile())},
        {"an embedded profile", Embedding(adobe),
         Profiles(cmsOpenProfileFromMem(adobe.data(), cmsUInt32Number(adobe.size())))},
        {"the profile before the gamma", withGamma(Embedding(adobe), 1.0),
         Profiles(cmsOpenProfileFromMem(adobe.data(), cmsUInt32Number(adobe.size())))},
        {"gamma alone: sRGB's white and primaries", withGamma(exifSRGB, 1.0),
         RGBProfile(0.3127, 0.3290, srgb, 1.0)},
        {"primaries without gamma: 2.2", withPrimaries({}, wide),
         RGBProfile(0.3127, 0.3290, wide, 2.2)},
        {"spectral primaries", withPrimaries({}, p3), RGBProfile(0.3127, 0.3290, p3, 2.2)},
        {"a white point alone: sRGB's curve", withWhite({}, 0.3457, 0.3585),
         RGBProfile(0.3457, 0.3585, srgb, 0)},
        {"all three", withGamma(withWhite(withPrimaries({}, wide), 0.3457, 0.3585), 1.8),
         RGBProfile(0.3457, 0.3585, wide, 1.8)},
        {"a profile Little CMS rejects falls to the gamma", withGamma(Embedding(junk), 1.0),
         RGBProfile(0.3127, 0.3290, srgb, 1.0)},
        {"a CMYK profile for B,G,R pixels falls to sRGB", Embedding(cmyk),
         Profiles(cmsCreate_sRGBProfile())},
        {"an impossible white point and gamma are not there",
         withGamma(withWhite({}, 0.0, 1.5), -2), Profiles(cmsCreate_sRGBProfile())},
    };
    Profiles out(cmsCreate_sRGBProfile());
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        Record record(0);
        Picture picture(64, 128);
        const Bytes expected = Reference8(c.expected.get(), out.get(), picture, 0, 0);
        picture.Convert(record, c.image);
        EXPECT_EQ(picture.bytes, expected);
    }
}

// A row of CMYK patches, 0 = no ink, converted into B,G,R.
Bytes ConvertInks(Record& record, const std::vector<Bytes>& inks, const ImageInfo& image = {}) {
    Bytes cmyk;
    for (const Bytes& ink : inks) cmyk.insert(cmyk.end(), ink.begin(), ink.end());
    const int32_t width = int32_t(inks.size());
    Bytes bgr(size_t((width * 3 + 3) & ~3), 0);
    Transform(record.info, &image, cmyk.data(), bgr.data(), width * 4, int32_t(bgr.size()), width,
              1, TransformCMYK, nullptr);
    return bgr;
}

TEST(ColorEngine, CMYKThroughTheBuiltInProfileLandsOnTheInksHues) {
    const Bytes cmyk = BuiltInCMYK();
    const std::vector<Bytes> inks = {{0, 0, 0, 0},   {255, 0, 0, 0}, {0, 255, 0, 0},
                                     {0, 0, 255, 0}, {0, 0, 0, 255}, {255, 255, 255, 255}};
    for (int32_t intent = 0; intent <= 3; ++intent) {
        SCOPED_TRACE(intent);
        Record record(intent, false, {}, cmyk);
        const Bytes bgr = ConvertInks(record, inks);
        auto b = [&](int i) { return bgr[size_t(i) * 3]; };
        auto g = [&](int i) { return bgr[size_t(i) * 3 + 1]; };
        auto r = [&](int i) { return bgr[size_t(i) * 3 + 2]; };
        EXPECT_EQ(Bytes(bgr.begin(), bgr.begin() + 3), Bytes({255, 255, 255})) << "paper";
        EXPECT_TRUE(r(1) < 100 && g(1) > 120 && b(1) > 170) << "cyan";
        EXPECT_TRUE(g(2) < 100 && r(2) > 170 && b(2) > 100) << "magenta";
        EXPECT_TRUE(b(3) < 100 && r(3) > 220 && g(3) > 200) << "yellow";
        EXPECT_TRUE(r(4) < 60 && std::abs(r(4) - b(4)) <= 3) << "black";
        EXPECT_LE(r(5), r(4)) << "four inks are darker than black alone";
    }
}

TEST(ColorEngine, CMYKTakesAnEmbeddedCMYKProfileElseTheRecordsElseTheInkFormula) {
    const Bytes cmyk = BuiltInCMYK();
    const Bytes adobe = Profile(AdobeRGB);
    const std::vector<Bytes> inks = {
        {0, 0, 0, 0}, {255, 0, 0, 0}, {40, 200, 90, 30}, {0, 0, 0, 128}};
    Record withProfile(0, false, {}, cmyk);
    Record without(0);
    const Bytes throughProfile = ConvertInks(withProfile, inks);

    EXPECT_EQ(ConvertInks(without, inks, Embedding(cmyk)), throughProfile);
    EXPECT_EQ(ConvertInks(withProfile, inks, Embedding(adobe)), throughProfile)
        << "an RGB profile does not serve";
    // No CMYK profile anywhere: 255 - ink, darkened by black.
    const Bytes formula = ConvertInks(without, inks);
    EXPECT_EQ(formula, Bytes({255, 255, 255, 255, 255, 0, 146, 49, 190, 127, 127, 127}));
    // Not even a prepared record: still the formula rather than nothing.
    CMSInfo unprepared{};
    Bytes in = {255, 0, 0, 0}, out(4, 0xEE);
    Transform(unprepared, nullptr, in.data(), out.data(), 4, 4, 1, 1, TransformCMYK, nullptr);
    EXPECT_EQ(out, Bytes({255, 255, 0, 0xEE}));
}

TEST(ColorEngine, BuildsATransformOncePerSourceAndKeepsABoundedNumber) {
    const Bytes adobe = Profile(AdobeRGB);
    const Bytes copy = adobe;  // the same bytes at another address
    const EngineCounters before = Counters();
    {
        Record record(0);
        Picture picture(16, 16);
        picture.Convert(record, Embedding(adobe));
        picture.Convert(record, Embedding(copy));
        EXPECT_EQ(Counters().TransformsBuilt - before.TransformsBuilt, 1u);

        record.info.Intent = 1;  // another intent is another transform
        picture.Convert(record, Embedding(copy));
        EXPECT_EQ(Counters().TransformsBuilt - before.TransformsBuilt, 2u);

        // A profile Little CMS rejects is tried once, not for every picture.
        const Bytes junk(500, 0x33);
        picture.Convert(record, Embedding(junk));
        const uint64_t afterJunk = Counters().TransformsBuilt;
        picture.Convert(record, Embedding(junk));
        EXPECT_EQ(Counters().TransformsBuilt, afterJunk);

        for (int i = 0; i < 20; ++i) {
            ImageInfo image{};
            image.Gamma = 1.0 + i * 0.05;
            image.Flags = HasGamma;
            picture.Convert(record, image);
        }
        EXPECT_LE(Counters().LiveTransforms - before.LiveTransforms, CachedTransforms);
    }
    EXPECT_EQ(Counters().LiveTransforms, before.LiveTransforms);
    EXPECT_EQ(Counters().LiveRecords, before.LiveRecords);
}

TEST(ColorEngine, PreparingAgainReplacesTheRecordsState) {
    const Bytes wide = Profile("colord/WideGamutRGB.icc");
    const size_t records = Counters().LiveRecords;
    Record record(0, false, wide);
    Picture picture(8, 8);
    picture.Convert(record, Embedding(Profile(AdobeRGB)));
    for (int i = 0; i < 1000; ++i)
        ASSERT_TRUE(InitializeRecord(record.info, i % 2 ? wide.data() : nullptr,
                                     i % 2 ? int32_t(wide.size()) : 0, nullptr, 0));
    EXPECT_EQ(Counters().LiveRecords, records + 1);
    EXPECT_EQ(Counters().LiveTransforms, 0u);
    EXPECT_TRUE(RecordUsesMonitorProfile(record.info));

    // Bytes that make no usable output profile give sRGB output.
    const Bytes junk(4000, 0x42);
    const Bytes cmyk = BuiltInCMYK();
    for (const Bytes* monitor : {&junk, &cmyk}) {
        ASSERT_TRUE(
            InitializeRecord(record.info, monitor->data(), int32_t(monitor->size()), nullptr, 0));
        EXPECT_TRUE(RecordPrepared(record.info));
        EXPECT_FALSE(RecordUsesMonitorProfile(record.info));
    }
    // A record with junk in its state words is not one of ours: left alone, and preparable.
    CMSInfo junkRecord{};
    junkRecord.State[0] = 0x49565251;
    junkRecord.State[1] = 0xFFFFFF;
    EXPECT_FALSE(RecordPrepared(junkRecord));
    FinalizeRecord(junkRecord);
    EXPECT_EQ(Counters().LiveRecords, records + 1);
}

TEST(ColorEngine, SplittingOverThreadsGivesTheSameBytes) {
    const Bytes adobe = Profile(AdobeRGB);
    Record record(0);
    const Picture original(601, 203);  // above the split threshold, rows not divisible by 2..4
    Picture single = original;
    single.Convert(record, Embedding(adobe));
    for (int slices = 2; slices <= 4; ++slices) {
        SCOPED_TRACE(slices);
        TMultiThread group(slices, CallingThread::Works);
        SetWorkerGroup(&group);
        Picture split = original;
        split.Convert(record, Embedding(adobe));
        SetWorkerGroup(nullptr);
        EXPECT_EQ(split.bytes, single.bytes);
    }
}

TEST(ColorEngine, BadArgumentsLeaveThePictureAlone) {
    Record record(0);
    const Bytes adobe = Profile(AdobeRGB);
    const ImageInfo image = Embedding(adobe);
    const Picture original(10, 4);
    struct Case {
        const char* name;
        int32_t sourceStride, destinationStride, width, height, kind;
    } cases[] = {
        {"stride shorter than a row", 29, 32, 10, 4, TransformBGR},
        {"destination stride shorter than a row", 32, 29, 10, 4, TransformBGR},
        {"no width", 32, 32, 0, 4, TransformBGR},
        {"negative height", 32, 32, 10, -4, TransformBGR},
        {"unknown kind", 32, 32, 10, 4, 7},
        {"CMYK rows shorter than four bytes a pixel", 39, 32, 10, 4, TransformCMYK},
        {"palette larger than any", 0, 0, 1 << 20, 0, TransformPalette},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Picture picture = original;
        Transform(record.info, &image, picture.bytes.data(), picture.bytes.data(), c.sourceStride,
                  c.destinationStride, c.width, c.height, c.kind, nullptr);
        EXPECT_EQ(picture.bytes, original.bytes);
    }
    Picture picture = original;
    CMSInfo unprepared{};
    Transform(unprepared, &image, picture.bytes.data(), picture.bytes.data(), 32, 32, 10, 4,
              TransformBGR, nullptr);
    Transform(record.info, &image, nullptr, nullptr, 32, 32, 10, 4, TransformBGR, nullptr);
    EXPECT_EQ(picture.bytes, original.bytes);
}

TEST(ColorEngine, ProofingGoesThroughTheProfileFileAndFallsBackWithoutIt) {
    const Bytes adobe = Profile(AdobeRGB);
    const ImageInfo image = Embedding(adobe);
    Record record(0, false, Profile("colord/WideGamutRGB.icc"));
    const Picture original(64, 64);
    Picture plain = original, missing = original, proofed = original;
    plain.Convert(record, image);
    missing.Convert(record, image,
                    (std::string(QORVI_SOURCE_FOLDER) + "/no such profile.icc").c_str());
    EXPECT_EQ(missing.bytes, plain.bytes);

    // On a wide-gamut monitor, proofing for sRGB dulls what AdobeRGB has beyond it.
    const std::string proof = ProfilePath("sRGB.icc");
    proofed.Convert(record, image, proof.c_str());
    EXPECT_NE(proofed.bytes, plain.bytes);
    const uint64_t built = Counters().TransformsBuilt;
    Picture again = original;
    again.Convert(record, image, proof.c_str());
    EXPECT_EQ(again.bytes, proofed.bytes);
    EXPECT_EQ(Counters().TransformsBuilt, built);
}

TEST(ColorEngine, TellsProfileFilesByTheirColourSpace) {
    EXPECT_EQ(ProfileFileColorSpace(ProfilePath(AdobeRGB).c_str()), uint32_t(cmsSigRgbData));
    EXPECT_EQ(ProfileFileColorSpace(BuiltInCMYKPath().c_str()), uint32_t(cmsSigCmykData));
    EXPECT_EQ(ProfileFileColorSpace(ProfilePath("Gray.icc").c_str()), uint32_t(cmsSigGrayData));
    EXPECT_EQ(ProfileFileColorSpace((std::string(QORVI_SOURCE_FOLDER) + "/README.md").c_str()), 0u);
    EXPECT_EQ(ProfileFileColorSpace(""), 0u);
    EXPECT_EQ(ProfileFileColorSpace(nullptr), 0u);
}

}  // namespace
}  // namespace qorvi::engine
