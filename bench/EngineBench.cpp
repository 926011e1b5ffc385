// Kind-0 throughput of qorvi.dll on a 12-megapixel picture (AdobeRGB to sRGB), beside a plain
// single-threaded cmsDoTransform over the same rows in the same run:
//   first transform (the record fresh, so the transform is built), cached transform, with 1 and
//   2 workers. Each figure is the median of several runs, in source megapixels per second.
//
//   wine build/win/bin/engine_bench.exe [RUNS]      (default 7 runs; profiles from Debian's
//                                                     icc-profiles-free, as the tests use)
#include "base/WinText.h"
#include "bench/BenchTiming.h"
#include "color/LCMSDll.h"

#include <lcms2.h>
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

using namespace qorvi;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr int32_t Width = 4000, Height = 3000, Stride = Width * 3;
constexpr double Megapixels = Width * double(Height) / 1e6;

Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

std::string BesideExecutable(const char* file) {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path);
    return folder.substr(0, folder.find_last_of("\\/") + 1) + file;
}

Bytes Picture() {
    Bytes bytes(size_t(Stride) * Height);
    uint32_t state = 12345;
    for (uint8_t& b : bytes) b = uint8_t((state = state * 1664525u + 1013904223u) >> 24);
    return bytes;
}

// Median of `runs` timings of `work`, each on a fresh copy of the picture, in megapixels/s.
double Median(int runs, const Bytes& original, const std::function<void(Bytes&)>& work) {
    Bytes picture;
    return Megapixels / bench::MedianSeconds(
                            runs, [&] { picture = original; }, [&] { work(picture); });
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = bench::RunsArgument(argc, argv, 7);
    const Bytes adobe = ReadFile("Z:/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
    if (adobe.empty() || !LoadLCMSDll(WidenAnsi(BesideExecutable("qorvi.dll")))) {
        std::fprintf(stderr, "engine_bench: needs qorvi.dll beside it and icc-profiles-free\n");
        return 1;
    }
    const Bytes original = Picture();
    ImageInfo image{};
    image.ProfileData = adobe.data();
    image.ProfileSize = int32_t(adobe.size());
    image.Flags = HasProfileData;

    // Plain Little CMS: one transform, one thread, the same rows.
    cmsHPROFILE in = cmsOpenProfileFromMem(adobe.data(), cmsUInt32Number(adobe.size()));
    cmsHPROFILE out = cmsCreate_sRGBProfile();
    cmsHTRANSFORM plain = cmsCreateTransform(in, TYPE_BGR_8, out, TYPE_BGR_8, INTENT_PERCEPTUAL, 0);
    const double plainRate = Median(runs, original, [&](Bytes& p) {
        cmsDoTransformLineStride(plain, p.data(), p.data(), Width, Height, Stride, Stride, 0, 0);
    });

    const LCMSEntryPoints& engine = LCMSDll;
    auto convert = [&](CMSInfo& record, Bytes& p) {
        engine.ColorTransform(&record, &image, p.data(), p.data(), Stride, Stride, Width, Height,
                              0);
    };
    std::printf("kind 0, %d x %d B,G,R, AdobeRGB to sRGB, median of %d runs, megapixels/s\n", Width,
                Height, runs);
    std::printf("  plain cmsDoTransform, 1 thread         %7.1f\n", plainRate);
    double cachedTwo = 0;
    for (int32_t workers : {1, 2}) {
        engine.CreateWorkerThread(workers);
        CMSInfo record{};
        // A fresh record each run: the transform is built inside the timed call.
        const double first = Median(runs, original, [&](Bytes& p) {
            engine.InitializeCMSInfo(&record, nullptr, nullptr, 0, 0);
            convert(record, p);
        });
        const double cached = Median(runs, original, [&](Bytes& p) { convert(record, p); });
        engine.FinalizeCMSInfo(&record);
        std::printf("  qorvi.dll, %d worker%s, first transform  %7.1f\n", workers,
                    workers > 1 ? "s" : " ", first);
        std::printf("  qorvi.dll, %d worker%s, cached transform %7.1f   (%.2f x plain)\n", workers,
                    workers > 1 ? "s" : " ", cached, cached / plainRate);
        if (workers == 2) cachedTwo = cached;
    }
    engine.TerminateWorkerThread();
    std::printf("cached, 2 workers / plain: %.2f\n", cachedTwo / plainRate);
    cmsDeleteTransform(plain);
    cmsCloseProfile(in);
    cmsCloseProfile(out);
    return 0;
}
