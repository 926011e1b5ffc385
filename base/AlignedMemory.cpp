#include "base/AlignedMemory.h"

#include <cstdint>
#include <cstring>
#include <new>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

namespace qorvi {

namespace {

void* CommitRaw(size_t size) {
#ifdef _WIN32
    return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
#else
    // Committed memory comes zero-filled on Windows; keep that here too.
    return std::calloc(1, size);
#endif
}

void ReleaseRaw(void* raw) {
#ifdef _WIN32
    VirtualFree(raw, 0, MEM_RELEASE);
#else
    std::free(raw);
#endif
}

}  // namespace

void* AllocAligned(size_t size, size_t alignment) {
    if (alignment < 4) alignment = 4;
    if ((alignment & (alignment - 1)) != 0) throw std::bad_alloc();
    // Room for the block, the rounding and the raw address kept in front of it.
    const size_t extra = alignment + sizeof(void*) - 1;
    if (size > SIZE_MAX - extra) throw std::bad_alloc();
    void* raw = CommitRaw(size + extra);
    if (raw == nullptr) throw std::bad_alloc();
    const uintptr_t start = (reinterpret_cast<uintptr_t>(raw) + extra) & ~uintptr_t(alignment - 1);
    void* block = reinterpret_cast<void*>(start);
    std::memcpy(static_cast<unsigned char*>(block) - sizeof(void*), &raw, sizeof raw);
    return block;
}

void FreeAligned(void* block) noexcept {
    if (block == nullptr) return;
    void* raw;
    std::memcpy(&raw, static_cast<unsigned char*>(block) - sizeof(void*), sizeof raw);
    ReleaseRaw(raw);
}

}  // namespace qorvi
