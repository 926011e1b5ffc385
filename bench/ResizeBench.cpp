// The resizer on a 4000 x 3000 24-bit picture: source megapixels per second for Lanczos3,
// Spline36 and area averaging, to 1440 x 1080 and to 160 x 120, with 1 and 2 threads, on the
// SSE2 and the MMX path (the MMX path in the 32-bit build only), and the scalar reference for
// Lanczos3 on one thread. Medians of several runs; tables and scratch are built before the
// timing, as they are for a series of pictures of one size.
//
//   wine build/win/bin/resize_bench.exe [RUNS] [--ppm FILE]    (default 5 runs)
//   (and build/win64/bin/resize_bench.exe the same under 64-bit Wine)
//
// --ppm resizes that picture (binary PPM, 8 bits a sample) instead of the built-in one. Besides
// the table, every figure is printed as one line for bench/peers:
//   RESULT <filter> <W>x<H> <path> <threads> <milliseconds>
#include "bench/BenchTiming.h"
#include "geometry/Resize.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace qorvi;

namespace {

struct Picture {
    int32_t width = 4000, height = 3000;
    int32_t stride = 0;
    std::vector<uint8_t> bytes;
};

// Smooth shading, edges and grain: the kind of content a photo has, from a fixed seed.
Picture MakePicture() {
    Picture p;
    p.stride = (p.width * 3 + 3) & ~3;
    p.bytes.resize(size_t(p.stride) * p.height);
    uint32_t state = 12345;
    for (int32_t y = 0; y < p.height; ++y) {
        uint8_t* row = p.bytes.data() + size_t(y) * p.stride;
        for (int32_t x = 0; x < p.width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int grain = int(state >> 28) - 8;
            const bool edge = ((x / 97) + (y / 61)) % 2 == 0;
            for (int c = 0; c < 3; ++c) {
                const int shade = int(127 + 100 * std::sin(0.002 * x * (c + 1) + 0.003 * y));
                const int value = shade + (edge ? 40 : -40) + grain;
                row[3 * x + c] = uint8_t(value < 0 ? 0 : value > 255 ? 255 : value);
            }
        }
    }
    return p;
}

bool ReadToken(FILE* file, std::string& token) {
    token.clear();
    int ch;
    while ((ch = std::fgetc(file)) != EOF) {
        if (ch == '#') {
            while ((ch = std::fgetc(file)) != EOF && ch != '\n') {}
        } else if (ch > ' ') {
            token += char(ch);
            break;
        }
    }
    while ((ch = std::fgetc(file)) != EOF && ch > ' ') token += char(ch);
    return !token.empty();
}

bool ReadPpm(const char* path, Picture& p) {
    FILE* file = std::fopen(path, "rb");
    if (!file) return false;
    std::string magic, width, height, maxval;
    bool ok = ReadToken(file, magic) && magic == "P6" && ReadToken(file, width) &&
              ReadToken(file, height) && ReadToken(file, maxval) && maxval == "255";
    if (ok) {
        p.width = std::atoi(width.c_str());
        p.height = std::atoi(height.c_str());
        ok = p.width > 0 && p.height > 0 && p.width < 100000 && p.height < 100000;
    }
    if (ok) {
        p.stride = (p.width * 3 + 3) & ~3;
        p.bytes.assign(size_t(p.stride) * p.height, 0);
        for (int32_t y = 0; y < p.height && ok; ++y)
            ok = std::fread(p.bytes.data() + size_t(y) * p.stride, 3, size_t(p.width), file) ==
                 size_t(p.width);
    }
    std::fclose(file);
    return ok;
}

const char* PathName(FilterPath path) {
    return path == FilterPath::SSE2 ? "sse2" : path == FilterPath::MMX ? "mmx" : "scalar";
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 5;
    const char* ppm = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--ppm") == 0 && i + 1 < argc) {
            ppm = argv[++i];
        } else {
            runs = bench::RunsArgument(2, argv + i - 1, runs);
        }
    }
    Picture picture;
    if (ppm != nullptr) {
        if (!ReadPpm(ppm, picture)) {
            std::fprintf(stderr, "resize_bench: cannot read %s as a binary PPM\n", ppm);
            return 1;
        }
    } else {
        picture = MakePicture();
    }
    const double megapixels = double(picture.width) * picture.height / 1e6;

    // The one thread group is made by the first resize: let it have two workers.
    {
        TResizer first(2, FilterPath::SSE2);
        first.SetMode(0);
        std::vector<uint8_t> out(size_t(160 * 3) * 120);
        TImageDesc desc{picture.bytes.data(), picture.width, picture.height, picture.stride, 3};
        first.ResizeImage(desc, out.data(), 160, 120);
    }

    struct Filter {
        const char* name;
        uint32_t mode;
    };
    const Filter filters[] = {{"lanczos3", 2}, {"spline36", 5}, {"area", 0}};
    const int32_t targets[][2] = {{1440, 1080}, {160, 120}};
    std::printf("%d x %d, 24 bits, %.1f megapixels, median of %d runs\n", picture.width,
                picture.height, megapixels, runs);
    std::printf("  %-9s %-11s %-6s %7s %9s %12s\n", "filter", "target", "path", "threads", "ms",
                "source MP/s");
    std::vector<std::string> results;
    for (const auto& target : targets) {
        for (const Filter& filter : filters) {
            for (FilterPath path : {FilterPath::SSE2, FilterPath::MMX, FilterPath::Scalar}) {
                for (int32_t threads : {1, 2}) {
                    if (!FilterPathBuilt(path)) continue;  // MMX, in the 64-bit build
                    if (path == FilterPath::Scalar && (threads != 1 || filter.mode != 2)) continue;
                    TResizer resizer(threads, path);
                    resizer.SetMode(filter.mode);
                    std::vector<uint8_t> out(size_t((target[0] * 3 + 3) & ~3) * target[1]);
                    auto resize = [&] {
                        TImageDesc desc{picture.bytes.data(), picture.width, picture.height,
                                        picture.stride, 3};
                        resizer.ResizeImage(desc, out.data(), target[0], target[1]);
                    };
                    resize();  // builds the tables and the scratch
                    const int32_t count = path == FilterPath::Scalar ? (runs + 1) / 2 : runs;
                    const double seconds = bench::MedianSeconds(
                        count, [] {}, resize);
                    char size[32];
                    std::snprintf(size, sizeof size, "%dx%d", target[0], target[1]);
                    std::printf("  %-9s %-11s %-6s %7d %9.2f %12.0f\n", filter.name, size,
                                PathName(path), threads, seconds * 1e3, megapixels / seconds);
                    char line[128];
                    std::snprintf(line, sizeof line, "RESULT %s %s %s %d %.2f", filter.name, size,
                                  PathName(path), threads, seconds * 1e3);
                    results.push_back(line);
                }
            }
        }
    }
    // Where the time of one thread goes: each pass alone, on the calling thread.
    for (FilterPath path : {FilterPath::SSE2, FilterPath::MMX}) {
        if (!FilterPathBuilt(path)) continue;
        std::unique_ptr<TFilter> filter = MakeFilter(path);
        const TImageDesc desc{picture.bytes.data(), picture.width, picture.height, picture.stride,
                              3};
        filter->Configure(desc, 1440, 1080);
        TLanczos(3).SetWeights(filter->Horizontal);
        TLanczos(3).SetWeights(filter->Vertical);
        AlignedBlock scratch(2 * ((filter->ScratchSize() + 127) / 128 * 128), 128);
        AlignedBlock intermediate(filter->IntermediateSize(), 4096);
        std::vector<uint8_t> out(size_t(filter->DestinationStride) * 1080);
        const double horizontal = bench::MedianSeconds(
            runs, [] {},
            [&] {
                filter->HorizontalPass(intermediate.get(), picture.bytes.data(), scratch.get(),
                                       scratch.get() + (filter->ScratchSize() + 127) / 128 * 128,
                                       picture.height);
            });
        const double vertical = bench::MedianSeconds(
            runs, [] {},
            [&] {
                filter->VerticalPass(out.data(), intermediate.get(), filter->Vertical.Samples);
            });
        std::printf("  lanczos3 1440x1080 %s passes: horizontal %.2f ms, vertical %.2f ms\n",
                    PathName(path), horizontal * 1e3, vertical * 1e3);
    }
    for (const std::string& line : results) std::printf("%s\n", line.c_str());
    FreeResizeThreadGroup();
    return 0;
}
