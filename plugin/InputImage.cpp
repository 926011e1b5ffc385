#include "plugin/InputImage.h"

#include "hostplugins/SusieInterface.h"

#include <cstring>

namespace qorvi {

namespace {

// Committed, zero-filled, read-write memory for `size` bytes and the head after them.
void* AllocateInputBlock(uint32_t size) {
    const uint64_t total = uint64_t{size} + HeadBytes;
    if (total > SIZE_MAX) return nullptr;
    return VirtualAlloc(nullptr, static_cast<SIZE_T>(total), MEM_COMMIT, PAGE_READWRITE);
}

}  // namespace

int LoadInputImage(LPCSTR buf, SusieLength len, unsigned flag, InputImage& input) {
    input.Reader.reset();
    input.InputBlock.reset();

    if ((flag & SusieInputMask) != SusieInputFile) {
        // A null block has nothing to read, whatever size comes with it.
        const uint32_t size = len > 0 && buf != nullptr ? static_cast<uint32_t>(len) : 0;
        if (size >= HeadBytes) {
            input.Reader = std::make_unique<TMemoryReader>(buf, size);
            return SusieSuccess;
        }
        // A short image: children that read a fixed head from the pointer would read past the
        // host's block, so they get a padded copy (a few kilobytes at most).
        UniqueVirtual copy(AllocateInputBlock(size));
        if (!copy) return SusieOutOfMemory;
        if (size != 0) std::memcpy(copy.get(), buf, size);
        input.Reader = std::make_unique<TMemoryReader>(copy.get(), size);
        input.InputBlock = std::move(copy);
        return SusieSuccess;
    }

    UniqueFile file(CreateFileA(buf, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file) return SusieReadError;
    const DWORD size = GetFileSize(file.get(), nullptr);
    // An empty file would need a block of 0 bytes, which the system cannot give; a failed size
    // query reads as 0xFFFFFFFF and fails the allocation the same way.
    if (size == 0 || size == INVALID_FILE_SIZE) return SusieOutOfMemory;
    UniqueVirtual block(AllocateInputBlock(size));
    if (!block) return SusieOutOfMemory;
    DWORD read = 0;
    if (!ReadFile(file.get(), block.get(), size, &read, nullptr) || read != size)
        return SusieReadError;
    file.reset();

    // An offset outside the file would give a negative size that reads as a huge one.
    const bool inside = len >= 0 && static_cast<DWORD>(len) <= size;
    const DWORD offset = inside ? static_cast<DWORD>(len) : size;
    input.Reader =
        std::make_unique<TMemoryReader>(static_cast<uint8_t*>(block.get()) + offset, size - offset);
    input.InputBlock = std::move(block);
    return SusieSuccess;
}

bool ReadFileHead(HANDLE file, FileHead& head) {
    head.fill(0);
    // Pipes and devices have no position to put back.
    if (GetFileType(file) != FILE_TYPE_DISK) return false;
    LARGE_INTEGER position;
    if (!SetFilePointerEx(file, LARGE_INTEGER{}, &position, FILE_CURRENT)) return false;
    DWORD read = 0;
    const bool ok = ReadFile(file, head.data(), HeadBytes, &read, nullptr) != FALSE;
    SetFilePointerEx(file, position, nullptr, FILE_BEGIN);
    return ok;
}

}  // namespace qorvi
