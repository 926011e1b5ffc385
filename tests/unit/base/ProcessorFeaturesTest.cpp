#include "base/ProcessorFeatures.h"

#include <gtest/gtest.h>

namespace qorvi {
namespace {

TEST(ProcessorFeatures, QORVISIMDLowersTheLevelButNeverRaisesIt) {
    constexpr uint32_t sse2 = CpuMMX | CpuSSE | CpuSSE2;
    const struct {
        uint32_t features;
        const char* forced;
        SimdLevel level;
    } cases[] = {
        {sse2, nullptr, SimdLevel::SSE2}, {CpuMMX, nullptr, SimdLevel::MMX},
        {0, nullptr, SimdLevel::Scalar},  {sse2, "scalar", SimdLevel::Scalar},
        {sse2, "mmx", SimdLevel::MMX},    {sse2, "sse2", SimdLevel::SSE2},
        {CpuMMX, "sse2", SimdLevel::MMX}, {0, "mmx", SimdLevel::Scalar},
        {sse2, "SSE2 ", SimdLevel::SSE2}, {sse2, "", SimdLevel::SSE2},
        {CpuMMX, "avx", SimdLevel::MMX},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ChooseSimdLevel(c.features, c.forced), c.level)
            << c.features << " " << (c.forced ? c.forced : "(unset)");
}

}  // namespace
}  // namespace qorvi
