#include "geometry/Resize.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace qorvi {
namespace {

struct Picture {
    int32_t width = 0, height = 0, bpp = 0, stride = 0;
    std::vector<uint8_t> bytes;

    TImageDesc Desc() { return {bytes.data(), width, height, stride, bpp}; }
};

int32_t DestinationStride(int32_t width, int32_t bpp) { return (width * bpp + 3) & ~3; }

// The paths of this build: the 64-bit one has no MMX path.
std::vector<FilterPath> BuiltPaths() {
    std::vector<FilterPath> paths;
    for (FilterPath path : {FilterPath::Scalar, FilterPath::MMX, FilterPath::SSE2})
        if (FilterPathBuilt(path)) paths.push_back(path);
    return paths;
}

Picture RandomPicture(std::mt19937& random, int32_t width, int32_t height, int32_t bpp,
                      int32_t padding) {
    Picture p{width, height, bpp, DestinationStride(width, bpp) + 4 * padding, {}};
    p.bytes.resize(size_t(p.stride) * height);
    // Smooth areas, hard edges and noise, so that negative lobes push results past 0 and 255.
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width * bpp; ++x) {
            const uint32_t kind = (uint32_t(x / bpp) / 5 + uint32_t(y) / 3) % 3;
            p.bytes[size_t(y) * p.stride + x] = kind == 0   ? uint8_t((x * 7 + y * 3) & 255)
                                                : kind == 1 ? uint8_t((x / bpp + y) % 2 ? 255 : 0)
                                                            : uint8_t(random());
        }
    }
    return p;
}

// The destination rows of one resize, or empty when ResizeImage declined.
std::vector<uint8_t> Resize(FilterPath path, int32_t threads, uint32_t mode, Picture& picture,
                            int32_t newWidth, int32_t newHeight) {
    TResizer resizer(threads, path);
    resizer.SetMode(mode);
    std::vector<uint8_t> out(size_t(DestinationStride(newWidth, picture.bpp)) * newHeight, 0xCD);
    TImageDesc desc = picture.Desc();
    resizer.ResizeImage(desc, out.data(), newWidth, newHeight);
    EXPECT_EQ(desc.Bits, out.data());
    EXPECT_EQ(desc.Width, newWidth);
    EXPECT_EQ(desc.Height, newHeight);
    EXPECT_EQ(desc.Stride, DestinationStride(newWidth, picture.bpp));
    // Row ends past the last pixel come out zero, whichever buffers the resizer reused.
    for (int32_t y = 0; y < newHeight; ++y)
        for (int32_t b = newWidth * picture.bpp; b < desc.Stride; ++b)
            EXPECT_EQ(out[size_t(y) * desc.Stride + b], 0) << y;
    return out;
}

class ResizerTest : public testing::Test {
protected:
    // The group is made by the first resize with that resizer's thread count: make it with
    // four, so that every count up to four really runs on as many threads.
    void SetUp() override {
        FreeResizeThreadGroup();
        std::mt19937 random(1);
        Picture p = RandomPicture(random, 20, 20, 3, 0);
        Resize(FilterPath::Scalar, 4, 2, p, 10, 10);
        ASSERT_EQ(ResizeThreadGroupCount(), 4);
    }
    void TearDown() override { FreeResizeThreadGroup(); }
};

TEST_F(ResizerTest, GivesTheSameBytesOnEveryPathAndThreadCount) {
    std::mt19937 random(2024);
    struct Run {
        FilterPath path;
        int32_t threads;
    };
    const Run runs[] = {{FilterPath::MMX, 1},  {FilterPath::SSE2, 1}, {FilterPath::SSE2, 2},
                        {FilterPath::SSE2, 3}, {FilterPath::SSE2, 4}, {FilterPath::MMX, 3}};
    for (int trial = 0; trial < 72; ++trial) {
        const int32_t bpp = trial % 3 == 0 ? 1 : trial % 3 == 1 ? 3 : 4;
        const uint32_t mode = uint32_t(trial / 3 % 6);
        const int32_t width = 1 + int32_t(random() % 150), height = 1 + int32_t(random() % 90);
        int32_t newWidth = 1 + int32_t(random() % width);
        int32_t newHeight = 1 + int32_t(random() % height);
        switch (trial % 8) {
        case 0: newWidth = width; break;  // only the height shrinks
        case 1: newHeight = height; break;
        case 2: newWidth = 1; break;
        case 3: newHeight = 1; break;
        default: break;
        }
        if (newWidth == width && newHeight == height) newHeight = (height + 1) / 2;
        if (newWidth == width && newHeight == height) newWidth = (width + 1) / 2;
        if (newWidth == width && newHeight == height) continue;  // a 1 x 1 picture
        Picture picture = RandomPicture(random, width, height, bpp, int32_t(random() % 3));
        SCOPED_TRACE(testing::Message()
                     << "mode " << mode << ", " << width << " x " << height << " -> " << newWidth
                     << " x " << newHeight << ", " << bpp << " bytes per pixel");
        const std::vector<uint8_t> reference =
            Resize(FilterPath::Scalar, 1, mode, picture, newWidth, newHeight);
        for (const Run& run : runs) {
            if (!FilterPathBuilt(run.path)) continue;
            EXPECT_EQ(Resize(run.path, run.threads, mode, picture, newWidth, newHeight), reference)
                << "path " << int(run.path) << ", " << run.threads << " threads";
        }
    }
}

// One 4000-pixel row and a tall picture: many row portions and strip bands.
TEST_F(ResizerTest, GivesTheSameBytesForLargePicturesOnEveryThreadCount) {
    std::mt19937 random(5);
    Picture wide = RandomPicture(random, 1001, 203, 3, 1);
    const std::vector<uint8_t> reference = Resize(FilterPath::SSE2, 1, 2, wide, 397, 61);
    EXPECT_EQ(Resize(FilterPath::Scalar, 1, 2, wide, 397, 61), reference);
    for (int32_t threads = 2; threads <= 4; ++threads)
        EXPECT_EQ(Resize(FilterPath::SSE2, threads, 2, wide, 397, 61), reference) << threads;
}

// Every filter on every path, shrinking by up to 100 times: a picture of one colour comes out that
// colour.
TEST_F(ResizerTest, KeepsAFlatPictureFlat) {
    struct Geometry {
        int32_t width, height, newWidth, newHeight;
    };
    const Geometry geometries[] = {
        {4000, 2, 37, 1}, {640, 3, 7, 3}, {200, 5, 2, 5}, {6, 300, 5, 3}, {99, 51, 2, 1},
    };
    // Each channel holds one of these; enough pictures that every pixel size sees each.
    const uint8_t values[] = {0, 1, 128, 254, 255};
    for (const Geometry& g : geometries) {
        for (int32_t bpp : {1, 3, 4}) {
            std::vector<Picture> pictures;
            for (int32_t first = 0; first < 5; first += bpp) {
                Picture& flat = pictures.emplace_back(
                    Picture{g.width, g.height, bpp, DestinationStride(g.width, bpp), {}});
                flat.bytes.resize(size_t(flat.stride) * g.height);
                for (size_t b = 0; b < flat.bytes.size(); ++b)
                    flat.bytes[b] = values[(first + b % flat.stride % bpp) % 5];
            }
            const int32_t stride = DestinationStride(g.newWidth, bpp);
            for (uint32_t mode = 0; mode <= 5; ++mode) {
                for (FilterPath path : BuiltPaths()) {
                    // One resizer for the pictures of a size: its tables are built once.
                    TResizer resizer(1, path);
                    resizer.SetMode(mode);
                    for (Picture& flat : pictures) {
                        std::vector<uint8_t> out(size_t(stride) * g.newHeight);
                        TImageDesc desc = flat.Desc();
                        resizer.ResizeImage(desc, out.data(), g.newWidth, g.newHeight);
                        size_t wrong = 0;
                        for (int32_t y = 0; y < g.newHeight; ++y)
                            for (int32_t b = 0; b < g.newWidth * bpp; ++b)
                                wrong += out[size_t(y) * stride + b] != flat.bytes[size_t(b)];
                        EXPECT_EQ(wrong, 0u)
                            << "mode " << mode << ", path " << int(path) << ", " << g.width << " x "
                            << g.height << " -> " << g.newWidth << " x " << g.newHeight << ", "
                            << bpp << " bytes per pixel, first value " << int(flat.bytes[0]);
                    }
                }
            }
        }
    }
}

TEST_F(ResizerTest, SaturatesNegativeLobesAtZeroAndTwoFiftyFive) {
    // One row, so the horizontal pass alone decides: a sharp step rings below 0 and above 255.
    Picture step{16, 1, 1, 16, {}};
    for (int32_t x = 0; x < 16; ++x) step.bytes.push_back(x < 8 ? 0 : 255);
    TResizeParam axis;
    axis.InputCount = 16, axis.OutputCount = 15, axis.PairStep = 2;
    TLanczos(3).SetWeights(axis);
    std::vector<int32_t> exact;
    for (const WeightEntry& entry : axis.Entries) {
        int32_t sum = 0;
        for (int32_t k = 0; k < PairCount(entry.Pairs); ++k) {
            const int32_t even = int32_t(entry.Offset / 2) * 2 + 2 * k;
            if (even < 16) sum += EvenWeight(entry.Pairs[k]) * step.bytes[size_t(even)];
            if (even + 1 < 16) sum += OddWeight(entry.Pairs[k]) * step.bytes[size_t(even + 1)];
        }
        exact.push_back((sum + WeightRounding) >> WeightShift);
    }
    ASSERT_LT(*std::min_element(exact.begin(), exact.end()), 0);
    ASSERT_GT(*std::max_element(exact.begin(), exact.end()), 255);
    for (FilterPath path : BuiltPaths()) {
        const std::vector<uint8_t> out = Resize(path, 1, 2, step, 15, 1);
        for (size_t x = 0; x < 15; ++x)
            EXPECT_EQ(out[x], std::clamp(exact[x], 0, 255)) << "path " << int(path) << ", " << x;
    }
}

TEST_F(ResizerTest, CopiesAnUnchangedAxisExactly) {
    std::mt19937 random(3);
    Picture picture = RandomPicture(random, 37, 11, 3, 0);
    const std::vector<uint8_t> out = Resize(FilterPath::SSE2, 2, 2, picture, 13, 11);
    // Each row on its own gives the same row: nothing of the neighbours leaks in.
    for (int32_t y = 0; y < 11; ++y) {
        Picture row{37, 1, 3, picture.stride, {}};
        row.bytes.assign(picture.bytes.begin() + y * picture.stride,
                         picture.bytes.begin() + (y + 1) * picture.stride);
        const std::vector<uint8_t> alone = Resize(FilterPath::SSE2, 1, 2, row, 13, 1);
        const int32_t stride = DestinationStride(13, 3);
        EXPECT_TRUE(std::equal(alone.begin(), alone.end(), out.begin() + y * stride)) << y;
    }
}

TEST_F(ResizerTest, SelectsAreaAveragingForUnknownModes) {
    std::mt19937 random(4);
    Picture picture = RandomPicture(random, 30, 30, 3, 0);
    EXPECT_EQ(Resize(FilterPath::SSE2, 1, 7, picture, 7, 9),
              Resize(FilterPath::SSE2, 1, 0, picture, 7, 9));
    EXPECT_NE(Resize(FilterPath::SSE2, 1, 2, picture, 7, 9),
              Resize(FilterPath::SSE2, 1, 0, picture, 7, 9));
}

TEST_F(ResizerTest, LeavesEverythingAloneWhenItCannotShrink) {
    std::mt19937 random(6);
    Picture picture = RandomPicture(random, 8, 6, 3, 0);
    TResizer resizer(2, FilterPath::SSE2);
    resizer.SetMode(2);
    std::vector<uint8_t> out(1024, 0xCD);
    struct Case {
        int32_t width, height, newWidth, newHeight, bpp, stride;
    };
    const Case cases[] = {
        {8, 6, 8, 6, 3, 24},   // the same size
        {8, 6, 9, 3, 3, 24},   // wider
        {8, 6, 4, 7, 3, 24},   // taller
        {8, 6, -1, 3, 3, 24},  // a negative size counts as huge
        {8, 6, 0, 3, 3, 24},   // nothing to make
        {8, 6, 4, 3, 2, 16},   // 16-bit pixels are not resampled
        {8, 6, 4, 3, 3, 20},   // rows overlap
    };
    for (const Case& c : cases) {
        TImageDesc desc{picture.bytes.data(), c.width, c.height, c.stride, c.bpp};
        const TImageDesc before = desc;
        resizer.ResizeImage(desc, out.data(), c.newWidth, c.newHeight);
        EXPECT_EQ(desc.Bits, before.Bits);
        EXPECT_EQ(desc.Width, before.Width);
        EXPECT_EQ(desc.Height, before.Height);
        EXPECT_EQ(desc.Stride, before.Stride);
        EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xCD; }));
    }
}

TEST_F(ResizerTest, ThrowsForANullDestinationAfterTheFirstPass) {
    std::mt19937 random(8);
    Picture picture = RandomPicture(random, 16, 16, 4, 0);
    TResizer resizer(1, FilterPath::SSE2);
    resizer.SetMode(0);
    TImageDesc desc = picture.Desc();
    EXPECT_THROW(resizer.ResizeImage(desc, nullptr, 8, 8), std::bad_alloc);
    EXPECT_EQ(desc.Width, 8);
    EXPECT_EQ(desc.Height, 16);
    // The resizer is still whole: the next call of the geometry works.
    std::vector<uint8_t> out(8 * 4 * 8);
    desc = picture.Desc();
    resizer.ResizeImage(desc, out.data(), 8, 8);
    EXPECT_EQ(desc.Height, 8);
}

TEST_F(ResizerTest, ForgetsAGeometryWhoseBuffersCouldNotBeHad) {
    // 50 million pixels a row: two workers' scratch would take 4.8 GB, more than 32 bits
    // address. Nothing is read before that fails, so a small block stands in for the rows.
    if (sizeof(void*) != 4) GTEST_SKIP() << "needs a 32-bit address space";
    std::vector<uint8_t> rows(16);
    TResizer resizer(2, FilterPath::SSE2);
    resizer.SetMode(0);
    for (int attempt = 0; attempt < 2; ++attempt) {
        // Half-built tables kept for the geometry would let the second call run its passes.
        TImageDesc desc{rows.data(), 50000000, 1, 150000000, 3};
        std::vector<uint8_t> out(16);
        EXPECT_THROW(resizer.ResizeImage(desc, out.data(), 1, 1), std::bad_alloc) << attempt;
    }
}

TEST_F(ResizerTest, RebuildsItsTablesForANewGeometryOrMode) {
    std::mt19937 random(9);
    Picture a = RandomPicture(random, 40, 30, 3, 0), b = RandomPicture(random, 40, 30, 3, 1);
    TResizer resizer(2, FilterPath::SSE2);
    auto run = [&](uint32_t mode, Picture& p, int32_t w, int32_t h) {
        resizer.SetMode(mode);
        std::vector<uint8_t> out(size_t(DestinationStride(w, 3)) * h);
        TImageDesc desc = p.Desc();
        resizer.ResizeImage(desc, out.data(), w, h);
        return out;
    };
    resizer.SetMode(5);
    const std::vector<uint8_t> first = run(5, a, 20, 15);
    EXPECT_EQ(run(5, b, 20, 15), Resize(FilterPath::SSE2, 1, 5, b, 20, 15));  // another stride
    EXPECT_EQ(run(5, a, 11, 15), Resize(FilterPath::SSE2, 1, 5, a, 11, 15));
    EXPECT_EQ(run(1, a, 11, 15), Resize(FilterPath::SSE2, 1, 1, a, 11, 15));
    EXPECT_EQ(run(5, a, 20, 15), first);
}

TEST(CpuFeatures, ReportSSE2OnThisMachine) {
    // Every processor these tests run on has SSE2, and with it MMX.
    const uint32_t features = GetCpuFeatures();
    EXPECT_TRUE(features & CpuSSE2);
    EXPECT_TRUE(features & CpuMMX);
    EXPECT_EQ(TResizer(1).Path(), DefaultFilterPath());
    // The comparisons above are between real paths, not the scalar one three times.
    // A path the build lacks is the scalar one.
    for (FilterPath path : {FilterPath::Scalar, FilterPath::MMX, FilterPath::SSE2})
        EXPECT_EQ(TResizer(1, path).Path(), FilterPathBuilt(path) ? path : FilterPath::Scalar);
}

}  // namespace
}  // namespace qorvi
