// What qorvi.spi adds to its child's decode: a 4000 x 3000 JPEG, once plain and once with an
// AdobeRGB profile embedded (the same pixels), decoded by wicdec.spi alone (LoadLibrary on the
// built child, GetPicture from memory) and through qorvi.spi as a host calls it, in one run:
//   GetPicture into 1920 x 1080 (LimitedOutputSize on, colour management on, the monitor
//   profile an sRGB file so the figures do not depend on the machine) and GetPreview into the
//   default 160 x 160 box. Targets: GetPicture adds at most 40% of the child's decode, GetPreview
//   at most 5%.
//
//   cmake -S . -B build/win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake >/dev/null &&
//     make -C build/win -j2 plugin_bench && wine build/win/bin/plugin_bench.exe [RUNS]
//                                                        (default 9 runs; run from anywhere)
//
// Building plugin_bench builds qorvi.spi, qorvi.dll, wicdec.spi and the fixture child and makes
// the two pictures (bin/bench-pictures, ImageMagick). Each configuration of qorvi.spi is a folder
// of its own under the temporary folder (qorvi.spi, the child, qorvi.dll and a qorvi.ini), all
// loaded at once so that the runs can be interleaved: child, qorvi, child, qorvi..., every call of
// qorvi.spi right after one of the child alone, so that the noise of a shared machine hits every
// series alike. One warm-up round first: the first transform starts the engine's worker threads,
// the first resize the resizer's. Handles are freed outside the timing, as the host's own work.
//
// The breakdown: the same calls with colour management off, with LimitedOutputSize off, with
// both off, and from a file name instead of memory; and the plain picture's pixels as a raw
// picture of the fixture child, whose "decode" is a copy, so that qorvi.spi's own work shows
// without the decoder's noise around it.
//
// Besides the tables, every figure is one line:
//   RESULT <picture> <call> <configuration> <child ms> <qorvi ms> <added ms> <added %> <paired ms>
// where added is the difference of the two medians, the percentage is of the JPEG decode by
// wicdec.spi, and paired is the median of each run's difference to the child's run just before.
#include "base/WinHandles.h"
#include "bench/BenchTiming.h"
#include "hostplugins/SusieInterface.h"
#include "tests/unit/TestSupport.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

using namespace qorvi;

namespace {

const char MonitorProfile[] = "Z:\\usr\\share\\color\\icc\\colord\\sRGB.icc";

// The targets of the current performance issue, as a share of the child's decode.
constexpr double PictureTargetPercent = 40;
constexpr double PreviewTargetPercent = 5;

int __stdcall IdleProgress(int, int, SusieLength) { return 0; }

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// One loaded plug-in: a child alone, or qorvi.spi in a folder of its own. The module goes
// before the folder, so that shut-down runs while its files still exist.
struct LoadedPlugin {
    std::unique_ptr<test::TempPluginFolder> folder;
    UniqueModule module;
    SusieEntryPoints exports;
};

void Load(LoadedPlugin& plugin, const std::string& path) {
    plugin.module.reset(LoadLibraryA(path.c_str()));
    if (!plugin.module) throw std::runtime_error("cannot load " + path);
    plugin.exports.Bind(plugin.module.get());
    if (!plugin.exports.GetPicture) throw std::runtime_error(path + " exports no GetPicture");
}

std::unique_ptr<LoadedPlugin> LoadChild(const std::string& builtFile) {
    auto plugin = std::make_unique<LoadedPlugin>();
    Load(*plugin, test::BuiltPath(builtFile));
    return plugin;
}

// qorvi.spi with one child and the engine beside it, and these settings over the defaults.
std::unique_ptr<LoadedPlugin> LoadQorvi(const std::string& builtChild, bool colorManagement,
                                        bool limitedOutputSize) {
    auto plugin = std::make_unique<LoadedPlugin>();
    plugin->folder = std::make_unique<test::TempPluginFolder>();
    plugin->folder->AddBuilt(builtChild, builtChild.substr(builtChild.find_last_of('\\') + 1));
    plugin->folder->AddBuilt("qorvi.dll", "qorvi.dll");
    const std::string ini =
        std::string("[Default]\r\n") + "ColorManagement=" + (colorManagement ? "1" : "0") + "\r\n" +
        "LimitedOutputSize=" + (limitedOutputSize ? "1" : "0") + "\r\n" +
        "MaxWidth=1920\r\nMaxHeight=1080\r\n" + "MonitorProfileName=" + MonitorProfile + "\r\n";
    plugin->folder->AddFile("qorvi.ini", ini);
    Load(*plugin, plugin->folder->AddBuilt("qorvi.spi", "qorvi.spi"));
    return plugin;
}

enum class Call { Picture, Preview };
enum class Input { Memory, File };
const char* CallName(Call call) { return call == Call::Preview ? "GetPreview" : "GetPicture"; }

// One timed series: one call of one plug-in.
struct Series {
    const char* configuration;
    const LoadedPlugin* plugin;
    Call call;
    Input input;
    std::vector<double> milliseconds;
    // Each run minus the child's run just before it: the noise of a slow moment cancels.
    std::vector<double> pairedAdded;
    LONG width = 0, height = 0;
};

// The series of one picture, in the order of a round.
enum SeriesIndex : size_t {
    ChildAlone,
    TargetPicture,
    TargetPreview,
    ColourOffPicture,
    FullSizePicture,
    BarePicture,
    ColourOffPreview,
    FilePicture,
    SeriesCount
};

// One picture, its child and the four configurations of qorvi.spi over that child.
struct Workload {
    const char* name;
    // The JPEG pictures carry the targets; the raw one only shows qorvi.spi's share.
    bool decoded;
    std::string path;
    std::string bytes;
    std::unique_ptr<LoadedPlugin> child, target, colourOff, fullSize, bare;
    std::vector<Series> series;

    Workload(const char* name, bool decoded, std::string path, const std::string& builtChild)
        : name(name),
          decoded(decoded),
          path(std::move(path)),
          bytes(ReadWholeFile(this->path)),
          child(LoadChild(builtChild)),
          target(LoadQorvi(builtChild, true, true)),
          colourOff(LoadQorvi(builtChild, false, true)),
          fullSize(LoadQorvi(builtChild, true, false)),
          bare(LoadQorvi(builtChild, false, false)) {
        if (bytes.empty()) throw std::runtime_error("cannot read " + this->path);
        // The child's GetPicture is the base of both calls: wicdec.spi has no GetPreview (qorvi.spi
        // then asks its GetPicture), and the fixture's GetPreview decodes as its GetPicture does.
        series = {
            {"child", child.get(), Call::Picture, Input::Memory, {}, {}},
            {"target", target.get(), Call::Picture, Input::Memory, {}, {}},
            {"target", target.get(), Call::Preview, Input::Memory, {}, {}},
            {"colour-off", colourOff.get(), Call::Picture, Input::Memory, {}, {}},
            {"full-size", fullSize.get(), Call::Picture, Input::Memory, {}, {}},
            {"colour-off-full-size", bare.get(), Call::Picture, Input::Memory, {}, {}},
            {"colour-off", colourOff.get(), Call::Preview, Input::Memory, {}, {}},
            {"target-file-input", target.get(), Call::Picture, Input::File, {}, {}},
        };
        // Copies of one library in different folders must be separate modules, or every
        // configuration would run with the settings of the first.
        const HMODULE modules[] = {target->module.get(), colourOff->module.get(),
                                   fullSize->module.get(), bare->module.get()};
        for (size_t i = 0; i < std::size(modules); ++i)
            for (size_t j = i + 1; j < std::size(modules); ++j)
                if (modules[i] == modules[j])
                    throw std::runtime_error("two plug-in folders share one module");
    }

    double Median(size_t index) const { return ::Median(series[index].milliseconds); }
};

// The bitmap a call handed over, freed when this goes away.
struct Bitmap {
    UniqueLocal info, bits;
};

// One call as the host makes it, timed alone.
double TimeCall(Series& series, const Workload& work, Bitmap* keep = nullptr) {
    const SusieEntryPoints& plugin = series.plugin->exports;
    const GetPictureProc proc =
        series.call == Call::Preview ? plugin.GetPreview : plugin.GetPicture;
    if (!proc) throw std::runtime_error(std::string(series.configuration) + " lacks the export");
    const bool file = series.input == Input::File;
    const LPCSTR buf = file ? work.path.c_str() : work.bytes.data();
    const SusieLength len = file ? 0 : long(work.bytes.size());
    HLOCAL info = nullptr, bits = nullptr;
    const auto start = std::chrono::steady_clock::now();
    const int result =
        proc(buf, len, file ? SusieInputFile : SusieInputMemory, &info, &bits, IdleProgress, 0);
    const double milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    Bitmap bitmap{UniqueLocal(info), UniqueLocal(bits)};
    if (result != SusieSuccess || !info || !bits)
        throw std::runtime_error(std::string(CallName(series.call)) + " of " +
                                 series.configuration + " on " + work.name + " gave " +
                                 std::to_string(result));
    // The size delivered: proof that the configuration did what it says.
    if (const auto* header = static_cast<const BITMAPINFOHEADER*>(LocalLock(info))) {
        series.width = header->biWidth;
        series.height = header->biHeight;
        LocalUnlock(info);
    }
    if (keep) *keep = std::move(bitmap);
    return milliseconds;
}

// The fixture child's raw picture: "QVT1", width, height (32 bits, little-endian), then B,G,R
// rows top-down. Made from a 24-bit bottom-up bitmap, so it holds the JPEG's own pixels.
std::string RawPicture(const Bitmap& bitmap) {
    const auto* header = static_cast<const BITMAPINFOHEADER*>(LocalLock(bitmap.info.get()));
    const auto* bits = static_cast<const char*>(LocalLock(bitmap.bits.get()));
    if (!header || !bits || header->biBitCount != 24 || header->biHeight <= 0)
        throw std::runtime_error("the child's bitmap is not 24-bit bottom-up");
    const uint32_t width = uint32_t(header->biWidth), height = uint32_t(header->biHeight);
    const size_t row = size_t(width) * 3, stride = (row + 3) & ~size_t(3);
    if (LocalSize(bitmap.bits.get()) < stride * height)
        throw std::runtime_error("the child's pixel block is shorter than its header says");
    std::string raw("QVT1");
    for (uint32_t value : {width, height})
        for (int shift = 0; shift < 32; shift += 8) raw += char(value >> shift);
    raw.reserve(raw.size() + row * height);
    for (uint32_t y = height; y-- > 0;) raw.append(bits + y * stride, row);
    LocalUnlock(bitmap.bits.get());
    LocalUnlock(bitmap.info.get());
    return raw;
}

// One run of every series, each right after a run of the child alone.
void Round(Workload& work) {
    Series& child = work.series[ChildAlone];
    for (size_t i = TargetPicture; i < SeriesCount; ++i) {
        const double childMilliseconds = TimeCall(child, work);
        child.milliseconds.push_back(childMilliseconds);
        const double milliseconds = TimeCall(work.series[i], work);
        work.series[i].milliseconds.push_back(milliseconds);
        work.series[i].pairedAdded.push_back(milliseconds - childMilliseconds);
    }
}

}  // namespace

int main(int argc, char** argv) try {
    const int runs = bench::RunsArgument(argc, argv, 9);
    if (GetFileAttributesA(MonitorProfile) == INVALID_FILE_ATTRIBUTES) {
        std::fprintf(stderr, "plugin_bench: needs %s (Debian's colord-data)\n", MonitorProfile);
        return 1;
    }
    // The plain picture's pixels for the fixture child, in a file so that file input works too;
    // the folder outlives the plug-ins that read from it.
    test::TempPluginFolder rawFolder;
    std::vector<std::unique_ptr<Workload>> workloads;
    workloads.push_back(std::make_unique<Workload>(
        "plain", true, test::BuiltPath("bench-pictures\\plain.jpg"), "wicdec.spi"));
    workloads.push_back(std::make_unique<Workload>(
        "adobe", true, test::BuiltPath("bench-pictures\\adobe.jpg"), "wicdec.spi"));
    {
        Bitmap decoded;
        TimeCall(workloads[0]->series[ChildAlone], *workloads[0], &decoded);
        const std::string raw = RawPicture(decoded);
        workloads.push_back(std::make_unique<Workload>(
            "raw", false, rawFolder.AddFile("plain.qvt", raw), "fixtures\\fixture.spi"));
    }

    for (auto& work : workloads)
        for (Series& s : work->series) TimeCall(s, *work);
    // An engine that did not load, or a profile that was not taken, would time nothing: the
    // AdobeRGB picture must come out otherwise with colour management than without.
    {
        Workload& adobe = *workloads[1];
        Bitmap converted, unconverted;
        TimeCall(adobe.series[TargetPicture], adobe, &converted);
        TimeCall(adobe.series[ColourOffPicture], adobe, &unconverted);
        const SIZE_T size = LocalSize(converted.bits.get());
        const void* left = LocalLock(converted.bits.get());
        const void* right = LocalLock(unconverted.bits.get());
        const bool same = size == LocalSize(unconverted.bits.get()) && left && right &&
                          std::memcmp(left, right, size) == 0;
        LocalUnlock(converted.bits.get());
        LocalUnlock(unconverted.bits.get());
        if (same) throw std::runtime_error("colour management left the AdobeRGB picture as it was");
    }
    for (int run = 0; run < runs; ++run)
        for (auto& work : workloads) Round(*work);

    // Percentages are of the JPEG decode: for the raw picture, what the same additions would be
    // beside wicdec.spi's decode of those pixels.
    const double decodeMedian = workloads[0]->Median(ChildAlone);
    std::printf(
        "4000 x 3000 picture, the child alone and through qorvi.spi, medians of %d "
        "interleaved runs (%d of the child), milliseconds; %% of wicdec.spi's decode\n",
        runs, runs * int(SeriesCount - TargetPicture));
    std::printf("  %-7s %-10s %-21s %-10s %7s %7s %7s %8s %7s %7s\n", "picture", "call",
                "configuration", "output", "child", "qorvi", "added", "added %", "paired",
                "target");
    std::vector<std::string> results;
    for (const auto& work : workloads) {
        const double child = work->Median(ChildAlone);
        const double decode = work->decoded ? child : decodeMedian;
        for (size_t i = TargetPicture; i < SeriesCount; ++i) {
            const Series& s = work->series[i];
            const double qorvi = work->Median(i), added = qorvi - child;
            const double percent = 100 * added / decode, paired = Median(s.pairedAdded);
            char output[32], verdict[16] = "";
            std::snprintf(output, sizeof output, "%ldx%ld", s.width, s.height);
            if (work->decoded && (i == TargetPicture || i == TargetPreview)) {
                const double limit =
                    i == TargetPicture ? PictureTargetPercent : PreviewTargetPercent;
                std::snprintf(verdict, sizeof verdict, "%s<=%g", percent <= limit ? "ok " : "OVER",
                              limit);
            }
            std::printf("  %-7s %-10s %-21s %-10s %7.1f %7.1f %7.1f %7.1f%% %7.1f %7s\n",
                        work->name, CallName(s.call), s.configuration, output, child, qorvi, added,
                        percent, paired, verdict);
            char line[160];
            std::snprintf(line, sizeof line, "RESULT %s %s %s %.2f %.2f %.2f %.1f %.2f", work->name,
                          CallName(s.call), s.configuration, child, qorvi, added, percent, paired);
            results.push_back(line);
        }
    }

    // Where the added time goes: differences between the configurations above, of the paired
    // medians (each already the call's time less the child's just before).
    std::printf("where the added time goes (differences of paired medians, ms):\n");
    for (const auto& work : workloads) {
        auto paired = [&](size_t i) { return Median(work->series[i].pairedAdded); };
        const Series& shrunk = work->series[TargetPicture];
        std::printf(
            "  %-5s GetPicture: fixed (input, metadata, child choice, buffers) %.1f, "
            "shrink to %ldx%ld %.1f, colour at that size %.1f, colour at full size %.1f, "
            "reading the file %.1f\n",
            work->name, paired(BarePicture), shrunk.width, shrunk.height,
            paired(ColourOffPicture) - paired(BarePicture),
            paired(TargetPicture) - paired(ColourOffPicture),
            paired(FullSizePicture) - paired(BarePicture),
            paired(FilePicture) - paired(TargetPicture));
        std::printf("  %-5s GetPreview: decimation and shrink %.1f, colour %.1f\n", work->name,
                    paired(ColourOffPreview), paired(TargetPreview) - paired(ColourOffPreview));
    }
    for (const std::string& line : results) std::printf("%s\n", line.c_str());
    return 0;
} catch (const std::exception& e) {
    std::fprintf(stderr, "plugin_bench: %s\n", e.what());
    return 1;
}
