// The profiles written for colours given by numbers, read back by Little CMS: they must convert
// as Little CMS's own profile built from the same numbers does, and their high dynamic range
// curves must keep reference white near the top and the highlights apart.
#include "metadata/ColourProfiles.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <memory>
#include <vector>

namespace qorvi {
namespace {

struct ProfileCloser {
    void operator()(void* profile) const { cmsCloseProfile(profile); }
};
using Profile = std::unique_ptr<void, ProfileCloser>;

// A record that frees what a writer stored in it.
struct Record {
    ~Record() { FreeProfileBuffer(Info.ProfileBuffer); }
    ImageInfo Info{};
};

// Little CMS's profile of the same numbers, its curves from its own parametric types.
Profile Reference(const ColourNumbers& n) {
    const cmsCIExyY white = {n.White[0], n.White[1], 1.0};
    const cmsCIExyYTRIPLE primaries = {{n.Primaries[0], n.Primaries[1], 1.0},
                                       {n.Primaries[2], n.Primaries[3], 1.0},
                                       {n.Primaries[4], n.Primaries[5], 1.0}};
    cmsToneCurve* curve = nullptr;
    switch (n.Curve) {
    case TransferCurve::SRGB: {
        const double p[] = {2.4, 1 / 1.055, 0.055 / 1.055, 1 / 12.92, 0.04045};
        curve = cmsBuildParametricToneCurve(nullptr, 4, p);
        break;
    }
    case TransferCurve::BT709: {
        const double p[] = {1 / 0.45, 1 / 1.099, 0.099 / 1.099, 1 / 4.5, 0.081};
        curve = cmsBuildParametricToneCurve(nullptr, 4, p);
        break;
    }
    case TransferCurve::SMPTE240M: {
        const double p[] = {1 / 0.45, 1 / 1.1115, 0.1115 / 1.1115, 1 / 4.0, 0.0913};
        curve = cmsBuildParametricToneCurve(nullptr, 4, p);
        break;
    }
    case TransferCurve::Gamma: curve = cmsBuildGamma(nullptr, n.Gamma); break;
    case TransferCurve::Linear: curve = cmsBuildGamma(nullptr, 1.0); break;
    default: return nullptr;
    }
    cmsToneCurve* curves[3] = {curve, curve, curve};
    Profile profile(cmsCreateRGBProfile(&white, &primaries, curves));
    cmsFreeToneCurve(curve);
    // Stored and read back, so that its numbers are rounded as a profile file's are.
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile.get(), nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile.get(), bytes.data(), &size);
    return Profile(cmsOpenProfileFromMem(bytes.data(), size));
}

// The largest difference, in 8-bit levels, between converting a lattice of colours to sRGB
// through `a` and through `b`.
double LargestDifference(cmsHPROFILE a, cmsHPROFILE b) {
    Profile srgb(cmsCreate_sRGBProfile());
    std::vector<double> in;
    for (int r = 0; r <= 255; r += 15)
        for (int g = 0; g <= 255; g += 15)
            for (int bl = 0; bl <= 255; bl += 15)
                for (int v : {r, g, bl}) in.push_back(v / 255.0);
    const auto pixels = cmsUInt32Number(in.size() / 3);
    std::vector<double> outA(in.size()), outB(in.size());
    for (auto [profile, out] : {std::pair{a, &outA}, std::pair{b, &outB}}) {
        cmsHTRANSFORM t = cmsCreateTransform(profile, TYPE_RGB_DBL, srgb.get(), TYPE_RGB_DBL,
                                             INTENT_RELATIVE_COLORIMETRIC, cmsFLAGS_NOOPTIMIZE);
        EXPECT_NE(t, nullptr);
        if (t == nullptr) return 1e9;
        cmsDoTransform(t, in.data(), out->data(), pixels);
        cmsDeleteTransform(t);
    }
    double most = 0;
    for (size_t i = 0; i < in.size(); ++i)
        most = std::max(
            most, 255 * std::abs(std::clamp(outA[i], 0.0, 1.0) - std::clamp(outB[i], 0.0, 1.0)));
    return most;
}

Profile Open(const ImageInfo& info) {
    return Profile(cmsOpenProfileFromMem(info.ProfileBuffer, cmsUInt32Number(info.ProfileSize)));
}

TEST(ColourProfiles, CodePointsConvertAsLittleCMSBuildsTheSameNumbers) {
    struct Case {
        uint16_t primaries, transfer;
    };
    // sRGB, Display P3, DCI-P3 (its own white), BT.2020 with BT.709's and 12-bit BT.2020's
    // curve, linear and gamma 2.2 and 2.8 P3, BT.601 both ways, SMPTE 240M, EBU 3213, BT.470 M.
    const Case cases[] = {{1, 13}, {12, 13}, {11, 13}, {9, 1}, {9, 15}, {12, 8}, {12, 4},
                          {12, 5}, {5, 6},   {6, 6},   {7, 7}, {22, 1}, {4, 4}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.primaries << "/" << c.transfer);
        ColourNumbers numbers;
        ASSERT_TRUE(NumbersFromCodePoints({c.primaries, c.transfer, 0, true}, numbers));
        Record record;
        ASSERT_TRUE(StoreCodePointProfile({c.primaries, c.transfer, 0, true}, record.Info));
        EXPECT_EQ(record.Info.Flags, uint32_t{HasProfileBuffer});
        const Profile written = Open(record.Info);
        ASSERT_TRUE(written);
        EXPECT_EQ(cmsGetColorSpace(written.get()), cmsSigRgbData);
        EXPECT_LT(LargestDifference(written.get(), Reference(numbers).get()), 0.05);
    }
    Record adobe;
    ASSERT_TRUE(StoreNumberedProfile(AdobeRGBNumbers(), adobe.Info));
    EXPECT_LT(LargestDifference(Open(adobe.Info).get(), Reference(AdobeRGBNumbers()).get()), 0.05);
}

TEST(ColourProfiles, WhatMakesNoProfileLeavesTheRecordAsItWas) {
    // Unknown or unspecified code points: the picture stays sRGB.
    for (CodePoints codes : {CodePoints{2, 13}, CodePoints{12, 2}, CodePoints{0, 13},
                             CodePoints{3, 13}, CodePoints{12, 17}, CodePoints{255, 255}}) {
        Record record;
        EXPECT_FALSE(StoreCodePointProfile(codes, record.Info));
        EXPECT_EQ(record.Info.Flags, 0u);
        EXPECT_EQ(record.Info.ProfileBuffer, nullptr);
    }
    // Numbers no colour space has.
    ColourNumbers base;
    ASSERT_TRUE(NumbersFromCodePoints({1, 13}, base));
    const auto with = [&](auto change) {
        ColourNumbers n = base;
        change(n);
        return n;
    };
    const ColourNumbers bad[] = {
        with([](ColourNumbers& n) { n.White[1] = 0; }),
        with([](ColourNumbers& n) { n.White[0] = 0.8, n.White[1] = 0.5; }),
        with([](ColourNumbers& n) { n.Primaries[0] = NAN; }),
        with([](ColourNumbers& n) {  // three primaries on one line
            n.Primaries[2] = 0.4, n.Primaries[3] = 0.33, n.Primaries[4] = 0.2,
            n.Primaries[5] = 0.33;
        }),
        with([](ColourNumbers& n) { n.Curve = TransferCurve::Gamma, n.Gamma = 0; }),
        with([](ColourNumbers& n) { n.Curve = TransferCurve::Gamma, n.Gamma = 11; }),
    };
    for (const ColourNumbers& n : bad) {
        Record record;
        EXPECT_FALSE(StoreNumberedProfile(n, record.Info));
        EXPECT_EQ(record.Info.Flags, 0u);
    }
    // A profile the file carries itself comes first.
    Record held;
    const uint8_t own[128] = {};
    held.Info.ProfileData = own;
    held.Info.ProfileSize = sizeof own;
    held.Info.Flags = HasProfileData;
    EXPECT_FALSE(StoreCodePointProfile({12, 13}, held.Info));
    EXPECT_EQ(held.Info.ProfileBuffer, nullptr);
    EXPECT_EQ(held.Info.Flags, uint32_t{HasProfileData});
}

// The PQ signal of `light` cd/m2.
double PQSignal(double light) {
    constexpr double M1 = 2610.0 / 16384, M2 = 2523.0 / 4096 * 128;
    constexpr double C1 = 3424.0 / 4096, C2 = 2413.0 / 4096 * 32, C3 = 2392.0 / 4096 * 32;
    const double y = std::pow(light / 10000, M1);
    return std::pow((C1 + C2 * y) / (1 + C3 * y), M2);
}

// The HLG signal of display light `light` cd/m2 on the 1000 cd/m2 display, neutral.
double HLGSignal(double light) {
    const double scene = std::pow(light / 1000, 1 / 1.2);
    if (scene <= 1.0 / 12) return std::sqrt(3 * scene);
    return 0.17883277 * std::log(12 * scene - 0.28466892) + 0.55991073;
}

TEST(ColourProfiles, HighDynamicRangeKeepsReferenceWhiteHighAndHighlightsApart) {
    // The roll-off: unchanged to the knee, smooth there, rising to exactly 1 at the peak.
    for (double peak : {1.0, 4.9, 49.0}) {
        EXPECT_DOUBLE_EQ(ToneMapped(0.5, peak), 0.5);
        const double below = ToneMapped(ToneKnee - 1e-6, peak);
        const double above = ToneMapped(ToneKnee + 1e-6, peak);
        EXPECT_NEAR((above - below) / 2e-6, 1.0, 1e-3);
        EXPECT_NEAR(ToneMapped(peak, peak), 1.0, 1e-12);
        double last = 0;
        for (double light = 0.01; light < peak; light *= 1.1) {
            EXPECT_GT(ToneMapped(light, peak), last);
            last = ToneMapped(light, peak);
        }
    }

    const Profile srgb(cmsCreate_sRGBProfile());
    struct Case {
        uint16_t transfer;
        double (*signal)(double);
        double highlights[3];  // cd/m2 above reference white
    };
    const Case cases[] = {{16, PQSignal, {400, 1000, 4000}}, {18, HLGSignal, {400, 700, 1000}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.transfer);
        ColourNumbers numbers;
        ASSERT_TRUE(NumbersFromCodePoints({9, c.transfer}, numbers));
        // Reference white lands on the knee's curve at one reference white: near the top.
        EXPECT_NEAR(CurveValue(numbers, c.signal(ReferenceWhite)), 0.9, 0.005);
        EXPECT_NEAR(CurveValue(numbers, c.signal(100)), 100 / ReferenceWhite, 0.01);

        // Through the written profile, as the engine will use it: neutral patches to 8-bit sRGB.
        Record record;
        ASSERT_TRUE(StoreCodePointProfile({9, c.transfer}, record.Info));
        const Profile written = Open(record.Info);
        cmsHTRANSFORM t = cmsCreateTransform(written.get(), TYPE_RGB_16, srgb.get(), TYPE_RGB_8,
                                             INTENT_RELATIVE_COLORIMETRIC, 0);
        ASSERT_NE(t, nullptr);
        const auto shown = [&](double light) {
            const auto v = uint16_t(std::lround(c.signal(light) * 65535));
            const uint16_t in[3] = {v, v, v};
            uint8_t out[3];
            cmsDoTransform(t, in, out, 1);
            return int(out[1]);
        };
        const int white = shown(ReferenceWhite);
        EXPECT_GE(white, 238);
        EXPECT_LE(white, 248);
        int last = white;
        for (double light : c.highlights) {
            EXPECT_GT(shown(light), last) << light << " cd/m2";
            last = shown(light);
        }
        cmsDeleteTransform(t);
    }

    // PQ with the picture's brightest light known rolls off towards it, not towards 10000.
    ColourNumbers known;
    ASSERT_TRUE(NumbersFromCodePoints({9, 16}, known));
    known.PeakLuminance = 1000;
    EXPECT_NEAR(CurveValue(known, PQSignal(1000)), 1.0, 1e-3);
    known.PeakLuminance = 0;
    EXPECT_LT(CurveValue(known, PQSignal(1000)), 0.995);
}

}  // namespace
}  // namespace qorvi
