// The Exif rotation's kernels on a 6000 x 4000 24-bit picture (72 MB), in the same run:
//   the tiled quarter turn beside a straightforward pixel-by-pixel turn, and the three in-place
//   operations (mirror, half turn, row swap) in MB/s beside memcpy of the same size.
// Each figure is the median of several runs.
//
//   wine build/win/bin/rotation_bench.exe [RUNS]    (default 5 runs)
#include "base/AlignedMemory.h"
#include "bench/BenchTiming.h"
#include "geometry/RotationKernels.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

using namespace qorvi;

namespace {

constexpr int32_t Width = 6000, Height = 4000, Bpp = 3;
constexpr int32_t Stride = (Width * Bpp + 3) & ~3, TurnedStride = (Height * Bpp + 3) & ~3;
constexpr double Bytes = double(Stride) * Height;

// Every source pixel written straight to its place in the turned picture.
void NaiveClockwise(const TImageDesc& source, const TImageDesc& destination) {
    for (int32_t r = 0; r < source.Height; ++r) {
        const uint8_t* in = source.Bits + size_t(r) * source.Stride;
        for (int32_t c = 0; c < source.Width; ++c, in += Bpp) {
            uint8_t* out = destination.Bits + size_t(source.Width - 1 - c) * destination.Stride +
                           size_t(r) * Bpp;
            out[0] = in[0], out[1] = in[1], out[2] = in[2];
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = bench::RunsArgument(argc, argv, 5);
    std::vector<uint8_t> picture(size_t(Stride) * Height), other(picture.size());
    uint32_t state = 12345;
    for (uint8_t& b : picture) b = uint8_t((state = state * 1664525u + 1013904223u) >> 24);
    std::vector<uint8_t> turned(size_t(TurnedStride) * Width);
    AlignedBlock tile(RotationTileBytes, RotationTileAlignment);
    const TImageDesc source{picture.data(), Width, Height, Stride, Bpp};
    const TImageDesc destination{turned.data(), Height, Width, TurnedStride, Bpp};
    auto nothing = [] {};

    const double tiled = bench::MedianSeconds(
        runs, nothing, [&] { QuarterTurn(source, destination, true, tile.get()); });
    const double naive =
        bench::MedianSeconds(runs, nothing, [&] { NaiveClockwise(source, destination); });
    std::printf("%d x %d, 24 bits, median of %d runs\n", Width, Height, runs);
    std::printf("  quarter turn, tiled            %7.1f ms\n", tiled * 1e3);
    std::printf("  quarter turn, pixel by pixel   %7.1f ms   (tiled is %.2f x faster)\n",
                naive * 1e3, naive / tiled);

    const double copy = bench::MedianSeconds(
        runs, nothing, [&] { std::memcpy(other.data(), picture.data(), picture.size()); });
    struct InPlace {
        const char* name;
        void (*run)(const TImageDesc&);
    };
    const InPlace operations[] = {
        {"mirror", MirrorRows}, {"half turn", HalfTurn}, {"row swap", SwapRows}};
    std::printf("  memcpy                         %7.0f MB/s\n", Bytes / copy / 1e6);
    for (const InPlace& op : operations) {
        const double seconds = bench::MedianSeconds(runs, nothing, [&] { op.run(source); });
        std::printf("  %-30s %7.0f MB/s   (%.2f x memcpy)\n", op.name, Bytes / seconds / 1e6,
                    copy / seconds);
    }
    return 0;
}
