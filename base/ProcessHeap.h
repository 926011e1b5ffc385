// The process heap: where blocks live that one module allocates and another frees.
//
// qorvi.spi and qorvi.dll each carry a C runtime of their own, so a block from one module's
// malloc cannot be freed by the other; both reach the process heap. Profiles that a reader joins
// or inflates into an ImageInfo record are allocated here, by either module, and freed here by
// whoever consumes the record. The native build (one module) uses malloc and free instead.
#pragma once

#include <cstdint>

namespace qorvi {

// Returns null on failure; freeing null does nothing.
void* AllocateProfileBuffer(uint32_t size) noexcept;
void FreeProfileBuffer(void* buffer) noexcept;

// Tests replace the allocation to see it fail; returns the one replaced. Null restores the
// process heap's own.
using ProfileAllocation = void* (*)(uint32_t size);
ProfileAllocation ReplaceProfileAllocation(ProfileAllocation allocation) noexcept;

}  // namespace qorvi
