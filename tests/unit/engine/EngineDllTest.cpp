// qorvi.dll as qorvi.spi uses it: loaded by path, its entry points bound by name, its own
// worker threads, and memory that stays flat however often the records are prepared again.
#include "base/WinText.h"
#include "color/LCMSDll.h"
#include "tests/unit/TestSupport.h"
#include "tests/unit/engine/EngineFiles.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qorvi {
namespace {

using test::BuiltInCMYKPath;
using test::Bytes;
using test::Profile;
using test::ProfilePath;

// The engine, loaded for one test and released after it.
class EngineDll : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(LoadLCMSDll(WidenAnsi(test::BuiltPath("qorvi.dll"))));
        engine = LCMSDll;
    }
    void TearDown() override { FreeLCMSDll(false); }

    // A B,G,R picture of `width` × `height` with every byte different along a row.
    static Bytes Picture(int32_t width, int32_t height, int32_t stride) {
        Bytes bytes(size_t(stride) * height);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = uint8_t(i * 7 + i / 4093);
        return bytes;
    }

    LCMSEntryPoints engine;
};

TEST_F(EngineDll, BindsEveryEntryPoint) {
    const HMODULE module = GetModuleHandleA(test::ForBuild("qorvi.dll").c_str());
    ASSERT_NE(module, nullptr);
    for (const char* name : EngineExports)
        EXPECT_NE(reinterpret_cast<void*>(GetProcAddress(module, name)), nullptr) << name;
    for (const void* entry :
         {(void*)engine.InitializeCMSInfo, (void*)engine.FinalizeCMSInfo,
          (void*)engine.CreateWorkerThread, (void*)engine.TerminateWorkerThread,
          (void*)engine.MultiThreadFunc, (void*)engine.ColorTransform,
          (void*)engine.ProofingColorTransform, (void*)engine.ReadPNGColorManageInfo,
          (void*)engine.ReadWICImageInfo, (void*)engine.IsRGBProfile, (void*)engine.IsCMYKProfile})
        EXPECT_NE(entry, nullptr);
    EXPECT_EQ(engine.MultiThreadFunc(nullptr), 0u);
    EXPECT_EQ(engine.IsRGBProfile(ProfilePath("compatibleWithAdobeRGB1998.icc").c_str()), 1);
    EXPECT_EQ(engine.IsCMYKProfile(ProfilePath("compatibleWithAdobeRGB1998.icc").c_str()), 0);
    const std::string cmyk = BuiltInCMYKPath();
    EXPECT_EQ(engine.IsCMYKProfile(cmyk.c_str()), 1);
    EXPECT_EQ(engine.IsRGBProfile(cmyk.c_str()), 0);
    EXPECT_EQ(engine.IsRGBProfile(nullptr), 0);
}

TEST_F(EngineDll, ReadsAPNGsProfileIntoTheProcessHeap) {
    const Bytes png = test::ReadBytes(test::ImagePath("profile.png"));
    ASSERT_FALSE(png.empty());
    ImageInfo info{};
    PNGSource source{png.data(), 0, int32_t(png.size())};
    EXPECT_NE(engine.ReadPNGColorManageInfo(&info, &source), 0);
    ASSERT_TRUE(info.Flags & HasProfileBuffer);
    EXPECT_EQ(HeapSize(GetProcessHeap(), 0, info.ProfileBuffer), SIZE_T(info.ProfileSize));
    FreeProfileBuffer(info.ProfileBuffer);
    source.Position = source.Size;  // a source that starts at its end holds nothing
    EXPECT_EQ(engine.ReadPNGColorManageInfo(&info, &source), 0);
}

TEST_F(EngineDll, WorkersGiveTheBytesOfOneThreadAndEndWhenTold) {
    const Bytes adobe = Profile("compatibleWithAdobeRGB1998.icc");
    ImageInfo image{};
    image.ProfileData = adobe.data();
    image.ProfileSize = int32_t(adobe.size());
    image.Flags = HasProfileData;
    CMSInfo record{};
    engine.InitializeCMSInfo(&record, nullptr, nullptr, 0, 0);
    const int32_t width = 1001, height = 301, stride = (width * 3 + 3) & ~3;
    Bytes single = Picture(width, height, stride);
    engine.ColorTransform(&record, &image, single.data(), single.data(), stride, stride, width,
                          height, 0);

    const int threads = test::ThreadCount();
    engine.CreateWorkerThread(4);
    EXPECT_EQ(test::ThreadCount(), threads + 3);
    Bytes split = Picture(width, height, stride);
    engine.ColorTransform(&record, &image, split.data(), split.data(), stride, stride, width,
                          height, 0);
    EXPECT_EQ(split, single);

    engine.FinalizeCMSInfo(&record);
    engine.TerminateWorkerThread();
    // Each worker has left the engine's code; its thread ends on its own.
    for (int wait = 0; wait < 500 && test::ThreadCount() > threads; ++wait) Sleep(10);
    EXPECT_EQ(test::ThreadCount(), threads);
    const std::string path = test::BuiltPath("qorvi.dll");
    FreeLCMSDll(false);
    EXPECT_EQ(GetModuleHandleA(path.c_str()), nullptr) << "no worker keeps the library loaded";
}

// A host may unload the engine without stopping its workers, even right after starting them:
// the unload stops them under the loader lock, and none runs the engine's code after it.
TEST_F(EngineDll, UnloadingStopsWorkersNobodyStopped) {
    const std::string path = test::BuiltPath("qorvi.dll");
    for (int round = 0; round < 3; ++round) {
        ASSERT_TRUE(LoadLCMSDll(WidenAnsi(path)));
        const int threads = test::ThreadCount();
        LCMSDll.CreateWorkerThread(4);
        FreeLCMSDll(false);
        EXPECT_EQ(GetModuleHandleA(path.c_str()), nullptr) << round;
        for (int wait = 0; wait < 500 && test::ThreadCount() > threads; ++wait) Sleep(10);
        EXPECT_EQ(test::ThreadCount(), threads) << round;
    }
}

TEST_F(EngineDll, PreparingBothRecordsAgainAndAgainLeaksNothing) {
    const Bytes monitor = Profile("colord/WideGamutRGB.icc");
    const Bytes cmyk = test::BuiltInCMYK();
    const Bytes adobe = Profile("compatibleWithAdobeRGB1998.icc");
    ImageInfo image{};
    image.ProfileData = adobe.data();
    image.ProfileSize = int32_t(adobe.size());
    image.Flags = HasProfileData;
    CMSInfo picture{}, preview{};
    Bytes pixels = Picture(16, 16, 48), ink(16 * 16 * 4, 100), out(48 * 16);
    // Every 50th round also fills both records' caches, so their transforms must go too.
    auto round = [&](int i) {
        engine.InitializeCMSInfo(&picture, monitor.data(), cmyk.data(), int32_t(monitor.size()),
                                 int32_t(cmyk.size()));
        engine.InitializeCMSInfo(&preview, i % 2 ? nullptr : monitor.data(), cmyk.data(),
                                 i % 2 ? 0 : int32_t(monitor.size()), int32_t(cmyk.size()));
        if (i % 50 != 0) return;
        engine.ColorTransform(&picture, &image, pixels.data(), pixels.data(), 48, 48, 16, 16, 0);
        engine.ColorTransform(&preview, &image, ink.data(), out.data(), 64, 48, 16, 16, 1);
    };
    for (int i = 0; i < 50; ++i) round(i);  // the heap reaches its working size
    const size_t before = test::CommittedPrivateBytes();
    for (int i = 0; i < 1000; ++i) round(i);
    const size_t after = test::CommittedPrivateBytes();
    // A round holds about 1 MB of profiles and transforms: a leak of it would show at once.
    EXPECT_LT(after, before + (1u << 20)) << before << " -> " << after;
    engine.FinalizeCMSInfo(&picture);
    engine.FinalizeCMSInfo(&preview);
}

}  // namespace
}  // namespace qorvi
