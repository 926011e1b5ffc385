#include "geometry/ResizeWeights.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <vector>

namespace qorvi {
namespace {

// The weights of one entry, two per pair, low half first.
std::vector<int> Weights(const WeightEntry& entry) {
    std::vector<int> weights;
    for (int32_t k = 0; k < PairCount(entry.Pairs); ++k) {
        weights.push_back(EvenWeight(entry.Pairs[k]));
        weights.push_back(OddWeight(entry.Pairs[k]));
    }
    return weights;
}

TResizeParam Axis(int32_t in, int32_t out, int32_t pairStep = 16) {
    TResizeParam axis;
    axis.InputCount = in;
    axis.OutputCount = out;
    axis.PairStep = pairStep;
    return axis;
}

std::vector<std::unique_ptr<TWeightSetter>> AllSetters() {
    std::vector<std::unique_ptr<TWeightSetter>> setters;
    setters.push_back(std::make_unique<TAreaAverage>());
    for (int radius : {2, 3, 4}) setters.push_back(std::make_unique<TLanczos>(radius));
    setters.push_back(std::make_unique<TSpline16>());
    setters.push_back(std::make_unique<TSpline36>());
    return setters;
}

TEST(AreaAverageWeights, CoverEachSourceSampleByItsShare) {
    struct Case {
        int32_t in, out;
        std::vector<std::pair<intptr_t, std::vector<int>>> entries;  // offset, weights
    };
    const Case cases[] = {
        // What the truncated shares miss of 1.0 goes to the largest, the first of equals.
        {3, 1, {{0, {5462, 5461, 5461, 0}}}},
        {5, 2, {{0, {6555, 6553, 3276, 0}}, {16, {3276, 6555, 6553, 0}}}},
        // The middle sample starts at index 1: a leading 0, and the pair of index 0.
        {4, 3, {{0, {12288, 4096}}, {0, {0, 8192, 8192, 0}}, {16, {4096, 12288}}}},
    };
    for (const Case& c : cases) {
        TResizeParam axis = Axis(c.in, c.out);
        TAreaAverage().SetWeights(axis);
        ASSERT_EQ(axis.Entries.size(), c.entries.size());
        for (size_t i = 0; i < c.entries.size(); ++i) {
            SCOPED_TRACE(testing::Message() << c.in << " -> " << c.out << ", entry " << i);
            EXPECT_EQ(axis.Entries[i].Offset, c.entries[i].first);
            EXPECT_EQ(Weights(axis.Entries[i]), c.entries[i].second);
        }
    }
}

TEST(AreaAverageWeights, AreExactWhereSizeProductsPassThirtyTwoBits) {
    TResizeParam axis = Axis(100000, 50000, 48);
    TAreaAverage().SetWeights(axis);
    const WeightEntry& last = axis.Entries.back();
    EXPECT_EQ(last.Offset, intptr_t{49999} * 48);
    EXPECT_EQ(Weights(last), (std::vector<int>{8192, 8192}));
}

TEST(WeightTables, OfAnUnchangedAxisCopyEverySample) {
    for (const auto& setter : AllSetters()) {
        for (int32_t size : {1, 2, 7, 10}) {
            TResizeParam axis = Axis(size, size);
            setter->SetWeights(axis);
            for (int32_t i = 0; i < size; ++i) {
                SCOPED_TRACE(testing::Message() << "size " << size << ", entry " << i);
                const WeightEntry& entry = axis.Entries[size_t(i)];
                const int32_t first = int32_t(entry.Offset / 16) * 2;
                const std::vector<int> weights = Weights(entry);
                for (size_t k = 0; k < weights.size(); ++k)
                    EXPECT_EQ(weights[k], first + int32_t(k) == i ? WeightOne : 0) << k;
            }
        }
    }
}

// Over many sizes: offsets whole pairs, no weight on a sample past the picture, and every list
// adding up to exactly 1.0, so that a flat picture keeps its value.
TEST(WeightTables, KeepTheirWeightsInsideThePictureAndAddUpToOne) {
    const std::pair<int32_t, int32_t> named[] = {
        {4000, 37}, {640, 7}, {4000, 160}, {3, 1}, {100, 1}, {700, 7}, {301, 3},
        {999, 10},  {64, 63}, {5, 2},      {2, 1}, {7, 7},   {1, 1},
    };
    std::mt19937 random(7);
    for (const auto& setter : AllSetters()) {
        std::vector<std::pair<int32_t, int32_t>> ratios(std::begin(named), std::end(named));
        for (int trial = 0; trial < 40; ++trial) {
            const int32_t in = 1 + int32_t(random() % 400);
            ratios.emplace_back(in, 1 + int32_t(random() % in));
        }
        for (const auto& [in, out] : ratios) {
            TResizeParam axis = Axis(in, out, 48);
            setter->SetWeights(axis);
            for (int32_t i = 0; i < out; ++i) {
                SCOPED_TRACE(testing::Message() << in << " -> " << out << ", entry " << i);
                const WeightEntry& entry = axis.Entries[size_t(i)];
                ASSERT_EQ(entry.Offset % 48, 0);
                const int32_t first = int32_t(entry.Offset / 48) * 2;
                const std::vector<int> weights = Weights(entry);
                int sum = 0;
                for (size_t k = 0; k < weights.size(); ++k) {
                    if (first + int32_t(k) >= in) {
                        EXPECT_EQ(weights[k], 0) << k;
                    }
                    sum += weights[k];
                }
                ASSERT_EQ(sum, WeightOne);
            }
        }
    }
}

// A kernel whose weights pass the 16-bit range: the sum is still made exact, with every weight
// held inside it rather than wrapped.
TEST(WeightTables, AddUpToOneWhereTheKernelPassesSixteenBits) {
    class SteepKernel final : public TWndFuncWeight {
    public:
        SteepKernel() : TWndFuncWeight(1) {}
        double WindowFunc(double x) const override { return x == 0 ? 1.0 : -0.9; }
    };
    TResizeParam axis = Axis(5, 5);
    SteepKernel().SetWeights(axis);
    // Every sample but the last: 10 and -9 times 1.0, held at the limits and then corrected.
    EXPECT_EQ(Weights(axis.Entries[0]), (std::vector<int>{32767, -16383}));
    EXPECT_EQ(Weights(axis.Entries[4]), (std::vector<int>{WeightOne, 0}));
}

TEST(WeightTables, FoldTheWeightPastEachEdgeOntoTheEdgeSample) {
    TResizeParam axis = Axis(40, 10);
    TLanczos(3).SetWeights(axis);
    const WeightEntry& left = axis.Entries.front();
    const WeightEntry& middle = axis.Entries[5];
    const WeightEntry& right = axis.Entries.back();
    EXPECT_EQ(left.Offset, 0);
    EXPECT_LT(PairCount(left.Pairs), PairCount(middle.Pairs));
    EXPECT_LT(PairCount(right.Pairs), PairCount(middle.Pairs));
    // The edge samples carry the kernel's weight beyond them: more than their inner neighbours.
    const std::vector<int> l = Weights(left), r = Weights(right);
    EXPECT_GT(l[0], l[1]);
    const int32_t rightFirst = int32_t(right.Offset / 16) * 2;
    const int32_t lastIndex = 39 - rightFirst;
    ASSERT_LT(lastIndex, int32_t(r.size()));
    EXPECT_GT(r[size_t(lastIndex)], r[size_t(lastIndex - 1)]);
}

TEST(WeightTables, StoreEqualListsOnce) {
    // An integer ratio: every inner sample has the same list, only its offset moves.
    TResizeParam axis = Axis(64, 16);
    TLanczos(3).SetWeights(axis);
    for (size_t i = 4; i + 4 < axis.Entries.size(); ++i) {
        EXPECT_EQ(axis.Entries[i].Pairs, axis.Entries[3].Pairs) << i;
        EXPECT_EQ(axis.Entries[i].Offset - axis.Entries[3].Offset, intptr_t(i - 3) * 2 * 16) << i;
    }
}

TEST(WindowFunctions, VanishAtWholeDistancesAndReachOneAtZero) {
    TSpline16 spline16;
    TSpline36 spline36;
    TLanczos lanczos3(3);
    for (const TWndFuncWeight* kernel :
         std::initializer_list<const TWndFuncWeight*>{&spline16, &spline36, &lanczos3}) {
        EXPECT_EQ(kernel->WindowFunc(0), 1.0);
        for (int x = 1; x <= kernel->Radius + 1; ++x) {
            EXPECT_NEAR(kernel->WindowFunc(x), 0.0, 1e-15) << x;
            EXPECT_NEAR(kernel->WindowFunc(-x), 0.0, 1e-15) << -x;
        }
    }
    EXPECT_EQ(spline16.WindowFunc(1), 0.0);
    EXPECT_EQ(spline36.WindowFunc(2), 0.0);
    EXPECT_EQ(lanczos3.WindowFunc(3), 0.0);
    EXPECT_NEAR(lanczos3.WindowFunc(0.5), 0.6079271, 1e-6);
}

TEST(WindowFunctions, LanczosRadiusIsClampedToOneToThirtyTwo) {
    EXPECT_EQ(TLanczos(0).Radius, 1);
    EXPECT_EQ(TLanczos(-3).Radius, 1);
    EXPECT_EQ(TLanczos(40).Radius, 32);
    EXPECT_EQ(TLanczos(32).Radius, 32);
}

}  // namespace
}  // namespace qorvi
