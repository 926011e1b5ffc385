#include "base/ProcessHeap.h"

#include <gtest/gtest.h>

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace qorvi {
namespace {

// The colour engine frees what qorvi.spi allocates and the other way round: only blocks of the
// process heap itself cross that boundary.
TEST(ProcessHeap, BlocksAreTheProcessHeapsAndAReplacedAllocationIsRestored) {
    void* block = AllocateProfileBuffer(1000);
    ASSERT_NE(block, nullptr);
    std::memset(block, 0xAB, 1000);
#ifdef _WIN32
    EXPECT_EQ(HeapSize(GetProcessHeap(), 0, block), SIZE_T(1000));
#endif
    FreeProfileBuffer(block);
    FreeProfileBuffer(nullptr);

    const ProfileAllocation heap =
        ReplaceProfileAllocation([](uint32_t) -> void* { return nullptr; });
    EXPECT_EQ(AllocateProfileBuffer(16), nullptr);
    ReplaceProfileAllocation(nullptr);
    EXPECT_EQ(ReplaceProfileAllocation(heap), heap);
    block = AllocateProfileBuffer(16);
    EXPECT_NE(block, nullptr);
    FreeProfileBuffer(block);
}

}  // namespace
}  // namespace qorvi
