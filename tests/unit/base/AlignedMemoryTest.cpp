#include "base/AlignedMemory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>

namespace qorvi {
namespace {

TEST(AllocAligned, GivesZeroedAlignedBlocksAndThrowsWhenItCannot) {
    for (size_t alignment : {0, 1, 4, 16, 64, 4096}) {
        AlignedBlock block(1000, alignment);
        const size_t expected = alignment < 4 ? 4 : alignment;
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block.get()) % expected, 0u) << alignment;
        for (size_t i = 0; i < 1000; ++i) ASSERT_EQ(block.get()[i], 0) << alignment;
        std::memset(block.get(), 0xAB, 1000);  // the whole size is ours
    }
    EXPECT_THROW(AllocAligned(SIZE_MAX - 8, 64), std::bad_alloc);  // the total would wrap
    EXPECT_THROW(AllocAligned(16, 48), std::bad_alloc);            // not a power of two
    FreeAligned(nullptr);
}

}  // namespace
}  // namespace qorvi
