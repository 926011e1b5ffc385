#include "base/ProcessHeap.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace qorvi {
namespace {

void* HeapAllocation(uint32_t size) {
#ifdef _WIN32
    return HeapAlloc(GetProcessHeap(), 0, size);
#else
    return std::malloc(size);
#endif
}

ProfileAllocation CurrentAllocation = HeapAllocation;

}  // namespace

void* AllocateProfileBuffer(uint32_t size) noexcept { return CurrentAllocation(size); }

void FreeProfileBuffer(void* buffer) noexcept {
    if (buffer == nullptr) return;
#ifdef _WIN32
    HeapFree(GetProcessHeap(), 0, buffer);
#else
    std::free(buffer);
#endif
}

ProfileAllocation ReplaceProfileAllocation(ProfileAllocation allocation) noexcept {
    ProfileAllocation replaced = CurrentAllocation;
    CurrentAllocation = allocation != nullptr ? allocation : HeapAllocation;
    return replaced;
}

}  // namespace qorvi
