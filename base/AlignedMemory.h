// Aligned blocks for the geometry kernels: the weight tables, the resampling buffers and the
// rotation's tile.
//
// AllocAligned(size, alignment) commits size + alignment + (pointer size - 1) bytes of fresh,
// zero-filled read-write memory (virtual memory on Windows), returns the first address inside it
// that is a multiple of `alignment`, at least one pointer past the start, and keeps the raw address
// in the pointer just before the block. An alignment below 4 counts as 4; it must be a power of
// two. Failure (no memory, or a size whose total does not fit) throws std::bad_alloc.
// FreeAligned releases such a block; null does nothing.
#pragma once

#include <cstddef>
#include <utility>

namespace qorvi {

void* AllocAligned(size_t size, size_t alignment);
void FreeAligned(void* block) noexcept;

// Owns one block of AllocAligned.
class AlignedBlock {
public:
    AlignedBlock() = default;
    AlignedBlock(size_t size, size_t alignment) : block_(AllocAligned(size, alignment)) {}
    ~AlignedBlock() { FreeAligned(block_); }
    AlignedBlock(AlignedBlock&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    AlignedBlock& operator=(AlignedBlock&& other) noexcept {
        if (this != &other) {
            FreeAligned(block_);
            block_ = std::exchange(other.block_, nullptr);
        }
        return *this;
    }
    AlignedBlock(const AlignedBlock&) = delete;
    AlignedBlock& operator=(const AlignedBlock&) = delete;

    template <class T = unsigned char>
    T* get() const noexcept {
        return static_cast<T*>(block_);
    }

private:
    void* block_ = nullptr;
};

}  // namespace qorvi
