#include "plugin/ImageBuffer.h"

#include "base/GuardedCall.h"
#include "base/WinHandles.h"
#include "geometry/RotationKernels.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace qorvi {

namespace {

// The colour table lies directly after the header's fixed part, whatever biSize says.
uint8_t* ColourTable(BITMAPINFOHEADER* header) {
    return reinterpret_cast<uint8_t*>(header) + BitmapHeaderBytes;
}
const uint8_t* ColourTable(const BITMAPINFOHEADER* header) {
    return reinterpret_cast<const uint8_t*>(header) + BitmapHeaderBytes;
}

// The stride of a buffer that CheckChildBitmap accepted or AllocateImage made.
int32_t StrideOf(const BITMAPINFOHEADER& header) {
    return int32_t(RowStride(header.biWidth, header.biBitCount).value_or(0));
}

}  // namespace

void ReleaseImage(ImageBuffer& buffer) noexcept {
    // The pixel block first, then the header, in both steps: the order the resize stages give.
    if (buffer.Bits != nullptr) LocalUnlock(buffer.BitsHandle);
    if (buffer.Header != nullptr) LocalUnlock(buffer.InfoHandle);
    if (buffer.BitsHandle != nullptr) LocalFree(buffer.BitsHandle);
    if (buffer.InfoHandle != nullptr) LocalFree(buffer.InfoHandle);
    buffer = {};
}

bool AllocateLockedBlock(size_t size, HLOCAL& handle, void*& pointer) {
    UniqueLocal block(LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, size));
    if (!block) return false;
    void* locked = LocalLock(block.get());
    if (locked == nullptr) return false;
    handle = block.release();
    pointer = locked;
    return true;
}

UniqueImage AllocateImage(int32_t bytesPerPixel, int32_t width, int32_t height) {
    if (bytesPerPixel != 1 && bytesPerPixel != 3 && bytesPerPixel != 4) return {};
    if (height < 1) return {};
    const auto stride = RowStride(width, 8 * bytesPerPixel);
    if (!stride) return {};
    // An odd height gets one more zero row; both sizes are bounded here, before any allocation.
    const uint64_t rows = uint64_t(height) + (uint64_t(height) & 1);
    const auto bitsBytes = PixelBlockBytes(*stride, rows);
    if (!bitsBytes) return {};
    const size_t headerBytes =
        BitmapHeaderBytes + (bytesPerPixel == 1 ? MaxPaletteEntries : 1) * sizeof(RGBQUAD);

    ImageBuffer image;
    void* header = nullptr;
    void* bits = nullptr;
    if (!AllocateLockedBlock(headerBytes, image.InfoHandle, header)) return {};
    image.Header = static_cast<BITMAPINFOHEADER*>(header);
    if (!AllocateLockedBlock(*bitsBytes, image.BitsHandle, bits)) {
        ReleaseImage(image);
        return {};
    }
    image.Bits = static_cast<uint8_t*>(bits);
    BITMAPINFOHEADER& h = *image.Header;
    h.biSize = BitmapHeaderBytes;
    h.biWidth = width;
    h.biHeight = height;
    h.biPlanes = 1;
    h.biBitCount = WORD(8 * bytesPerPixel);
    h.biCompression = BI_RGB;
    // A block past 4 GiB has no 32-bit size; 0 is what uncompressed bitmaps may say instead.
    const uint64_t imageBytes = uint64_t(*stride) * uint64_t(height);
    h.biSizeImage = imageBytes <= UINT32_MAX ? DWORD(imageBytes) : 0;
    h.biClrUsed = bytesPerPixel == 1 ? MaxPaletteEntries : 0;
    return UniqueImage(image);
}

void ReplaceImage(ImageBuffer& buffer, UniqueImage replacement) noexcept {
    ReleaseImage(buffer);
    buffer = replacement.release();
}

TImageDesc DescribeRows(const ImageBuffer& buffer) {
    const BITMAPINFOHEADER& h = *buffer.Header;
    return {buffer.Bits, h.biWidth, h.biHeight, StrideOf(h), h.biBitCount / 8};
}

int32_t SavePalette(const BITMAPINFOHEADER* header, PaletteArea& area) noexcept {
    const int32_t count = PaletteEntryCount(header->biBitCount, header->biClrUsed);
    if (count == 0) return 0;
    auto copy = [&] { std::memcpy(area.data(), ColourTable(header), size_t(count) * 4); };
    return RunGuarded(copy).completed ? count : 0;
}

void RestorePalette(BITMAPINFOHEADER* header, const PaletteArea& area, int32_t count) noexcept {
    if (header->biBitCount > 8) return;
    const int32_t entries = std::clamp<int32_t>(count, 0, MaxPaletteEntries);
    std::memcpy(ColourTable(header), area.data(), size_t(entries) * 4);
}

bool IsGrayscalePalette(const BITMAPINFOHEADER* header) noexcept {
    if (header->biBitCount != 8) return false;
    if (header->biClrUsed != 0 && header->biClrUsed != uint32_t(MaxPaletteEntries)) return false;
    return IsGrayscaleTable(ColourTable(header));
}

ChildBlock InspectChildBlock(HLOCAL handle) noexcept {
    ChildBlock block;
    if (handle == nullptr) return block;
    // The system checks a movable handle against its handle table but takes any other value for
    // a fixed block's address and may read through it. A block is ours when the address it locks
    // to leads back to it (a fixed one must also be a block of the process heap) or when it is a
    // movable handle without memory; any fault on the way means the value is nothing of ours.
    auto inspect = [&] {
        const UINT flags = LocalFlags(handle);
        if (flags == LMEM_INVALID_HANDLE) return;
        void* locked = LocalLock(handle);
        if (locked == nullptr) {
            block.local = (flags & LMEM_DISCARDED) != 0;
            return;
        }
        LocalUnlock(handle);
        if (LocalHandle(locked) != handle) return;
        if (locked == handle && !HeapValidate(GetProcessHeap(), 0, handle)) return;
        const SIZE_T bytes = LocalSize(handle);
        if (bytes == SIZE_T(-1)) return;
        block.local = true;
        block.bytes = bytes;
    };
    if (!RunGuarded(inspect).completed) return ChildBlock{};
    return block;
}

bool ReadChildHeader(HLOCAL infoHandle, BITMAPINFOHEADER& header) noexcept {
    if (InspectChildBlock(infoHandle).bytes < BitmapHeaderBytes) return false;
    const LocalLockScope locked(infoHandle);
    if (!locked) return false;
    header = *locked.get<const BITMAPINFOHEADER>();
    return true;
}

ChildBitmap CheckChildBitmap(HLOCAL infoHandle, HLOCAL bitsHandle) noexcept {
    BITMAPINFOHEADER header;
    const size_t pixelBytes = InspectChildBlock(bitsHandle).bytes;
    if (pixelBytes == 0 || !ReadChildHeader(infoHandle, header)) return ChildBitmap::Short;
    const size_t infoBytes = LocalSize(infoHandle);
    if (infoBytes < header.biSize) return ChildBitmap::Short;

    const int32_t bitCount = header.biBitCount;
    const bool knownDepth = bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 ||
                            bitCount == 24 || bitCount == 32;
    const bool bitFields = header.biCompression == BI_BITFIELDS;
    const bool plainRows =
        header.biCompression == BI_RGB || (bitFields && (bitCount == 16 || bitCount == 32));
    if (!knownDepth || !plainRows || header.biWidth < 1 || header.biHeight == 0)
        return ChildBitmap::Foreign;

    // What the stages read of the header block: the colour table, or the channel masks (four of
    // them when the header is long enough to announce an alpha mask too).
    size_t needed = BitmapHeaderBytes;
    if (bitCount <= 8) needed += size_t(PaletteEntryCount(bitCount, header.biClrUsed)) * 4;
    if (bitFields) needed += header.biSize >= 56 ? 16 : 12;
    if (infoBytes < needed) return ChildBitmap::Short;

    // A negative height counts top-down rows; its size is the row count all the same. 64 bits,
    // because -2^31 has no 32-bit opposite. The size the header announces is judged against the
    // block first: a stride below 2^33 times fewer than 2^32 rows cannot wrap in 64 bits.
    const uint64_t rows = uint64_t(std::llabs(int64_t(header.biHeight)));
    const uint64_t rowBytes =
        (uint64_t(uint32_t(header.biWidth)) * uint32_t(bitCount) + 31) / 32 * 4;
    if (uint64_t(pixelBytes) / rowBytes < rows) return ChildBitmap::Short;
    // The block holds it, but its rows or offsets do not fit what the stages compute with.
    const auto stride = RowStride(header.biWidth, bitCount);
    if (!stride || !PixelBlockBytes(*stride, rows)) return ChildBitmap::TooLarge;
    return ChildBitmap::Usable;
}

void CapColourCount(BITMAPINFOHEADER& header) noexcept {
    if (header.biBitCount <= 8 && header.biClrUsed > uint32_t(MaxPaletteEntries))
        header.biClrUsed = MaxPaletteEntries;
}

void MakeBottomUp(ImageBuffer& buffer) noexcept {
    BITMAPINFOHEADER& h = *buffer.Header;
    if (h.biHeight >= 0) return;
    const int32_t rows = -h.biHeight;  // CheckChildBitmap refused -2^31
    SwapRows(TImageDesc{buffer.Bits, h.biWidth, rows, StrideOf(h), 1});
    h.biHeight = rows;
}

}  // namespace qorvi
