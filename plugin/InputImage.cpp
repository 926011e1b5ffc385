#include "plugin/InputImage.h"

#include "hostplugins/SusieInterface.h"

#include <cstring>

namespace qorvi {

namespace {

// Committed, zero-filled, read-write memory for `size` bytes and the head after them; null when
// the process cannot address that much (a file of 4 GiB or more in the 32-bit build).
void* AllocateInputBlock(uint64_t size) {
    if (size > SIZE_MAX - HeadBytes) return nullptr;
    return VirtualAlloc(nullptr, static_cast<SIZE_T>(size + HeadBytes), MEM_COMMIT, PAGE_READWRITE);
}

// ReadFile moves at most 4 GiB - 1 per call: a larger file is read in parts.
bool ReadWhole(HANDLE file, uint8_t* to, uint64_t size) {
    constexpr DWORD Part = 1u << 30;
    while (size > 0) {
        const DWORD wanted = size < Part ? static_cast<DWORD>(size) : Part;
        DWORD read = 0;
        if (!ReadFile(file, to, wanted, &read, nullptr) || read != wanted) return false;
        to += read;
        size -= read;
    }
    return true;
}

void SetImage(InputImage& input, const void* data, size_t size) {
    input.Data = data;
    input.Size = size;
    // The metadata readers address the image with 32-bit positions: they see its first 4 GiB
    // less one byte, which holds every header they look for.
    const uint32_t seen = size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
    input.Reader = std::make_unique<TMemoryReader>(data, seen);
}

// What both entry points do; `open` opens the named file for file input.
template <class Char, class Open>
int LoadInput(const Char* buf, SusieLength len, unsigned flag, InputImage& input, Open open) {
    input.Reader.reset();
    input.InputBlock.reset();
    input.Data = nullptr;
    input.Size = 0;

    if ((flag & SusieInputMask) != SusieInputFile) {
        // A null block has nothing to read, whatever size comes with it.
        const size_t size = len > 0 && buf != nullptr ? static_cast<size_t>(len) : 0;
        if (size >= HeadBytes) {
            SetImage(input, buf, size);
            return SusieSuccess;
        }
        // A short image: children that read a fixed head from the pointer would read past the
        // host's block, so they get a padded copy (a few kilobytes at most).
        UniqueVirtual copy(AllocateInputBlock(size));
        if (!copy) return SusieOutOfMemory;
        if (size != 0) std::memcpy(copy.get(), buf, size);
        SetImage(input, copy.get(), size);
        input.InputBlock = std::move(copy);
        return SusieSuccess;
    }

    // A null name is no file; the system would look for the current folder's file "".
    if (buf == nullptr) return SusieReadError;
    UniqueFile file(open(buf));
    if (!file) return SusieReadError;
    // An empty file would need a block of 0 bytes, which the system cannot give; a failed size
    // query fails the same way.
    LARGE_INTEGER fileSize{};
    if (!GetFileSizeEx(file.get(), &fileSize) || fileSize.QuadPart <= 0) return SusieOutOfMemory;
    const auto size = static_cast<uint64_t>(fileSize.QuadPart);
    UniqueVirtual block(AllocateInputBlock(size));
    if (!block) return SusieOutOfMemory;
    if (!ReadWhole(file.get(), static_cast<uint8_t*>(block.get()), size)) return SusieReadError;
    file.reset();

    // An offset outside the file would give a negative size that reads as a huge one.
    const bool inside = len >= 0 && static_cast<uint64_t>(len) <= size;
    const auto offset = static_cast<size_t>(inside ? static_cast<uint64_t>(len) : size);
    SetImage(input, static_cast<uint8_t*>(block.get()) + offset,
             static_cast<size_t>(size) - offset);
    input.InputBlock = std::move(block);
    return SusieSuccess;
}

}  // namespace

int LoadInputImage(LPCSTR buf, SusieLength len, unsigned flag, InputImage& input) {
    return LoadInput(buf, len, flag, input, [](LPCSTR name) {
        return CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    });
}

int LoadInputImage(LPCWSTR buf, SusieLength len, unsigned flag, InputImage& input) {
    return LoadInput(buf, len, flag, input, [](LPCWSTR name) {
        return CreateFileW(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    });
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
