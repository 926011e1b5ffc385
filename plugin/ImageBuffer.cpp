#include "plugin/ImageBuffer.h"

#include "geometry/RotationKernels.h"
#include "base/GuardedCall.h"
#include "plugin/Settings.h"
#include "plugin/SusiePluginMain.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qorvi {

namespace {

// The colour table lies directly after the first 40 header bytes, whatever biSize says.
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

// The x87 unit's control word: precision control is bits 8 and 9; binary 10 there is 53 bits.
uint16_t ReadControlWord() {
    uint16_t word;
    asm volatile("fnstcw %0" : "=m"(word));
    return word;
}
void WriteControlWord(uint16_t word) { asm volatile("fldcw %0" : : "m"(word)); }
constexpr uint16_t PrecisionControlMask = 0x0300;
constexpr uint16_t DoublePrecision = 0x0200;

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
    HLOCAL block = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, size);
    if (block == nullptr) return false;
    void* locked = LocalLock(block);
    if (locked == nullptr) {
        LocalFree(block);
        return false;
    }
    handle = block;
    pointer = locked;
    return true;
}

UniqueImage AllocateImage(int32_t bytesPerPixel, int32_t width, int32_t height) {
    if (bytesPerPixel != 1 && bytesPerPixel != 3 && bytesPerPixel != 4) return {};
    if (height < 1) return {};
    const auto stride = RowStride(width, 8 * bytesPerPixel);
    if (!stride) return {};
    // An odd height gets one more zero row; both sizes are bounded here, before any allocation.
    const uint32_t rows = uint32_t(height) + (uint32_t(height) & 1);
    const auto bitsBytes = PixelBlockBytes(*stride, rows);
    if (!bitsBytes) return {};
    const size_t headerBytes =
        BitmapHeaderBytes + (bytesPerPixel == 1 ? MaxPaletteEntries * sizeof(RGBQUAD) : 4);

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
    h.biSizeImage = *stride * uint32_t(height);
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

void ApplyColorTransform(CMSInfo& cmsInfo, const ImageInfo& imageInfo, void* source,
                         void* destination, int32_t sourceStride, int32_t destinationStride,
                         int32_t width, int32_t height, int32_t kind) {
    if (LCMSDll.ProofingColorTransform == nullptr && LCMSDll.ColorTransform == nullptr) return;
    // The settings dialog replaces PluginOption under this lock: the proofing profile's name is
    // read, and held, inside it.
    CriticalSectionGuard guard(*TransformLock);
    const bool proofing = PluginOption.SoftProofing && !PluginOption.ProofingProfileName.empty() &&
                          LCMSDll.ProofingColorTransform != nullptr;
    if (!proofing && LCMSDll.ColorTransform == nullptr) return;
    if (!WorkerThreadsStarted) {
        if (LCMSDll.CreateWorkerThread != nullptr) LCMSDll.CreateWorkerThread(ProcessorCount);
        WorkerThreadsStarted = true;
    }
    const uint16_t previousControlWord = ReadControlWord();
    WriteControlWord(uint16_t((previousControlWord & ~PrecisionControlMask) | DoublePrecision));
    const char* proofingProfile = PluginOption.ProofingProfileName.c_str();
    // The guarded body only calls the engine: no object with a destructor lives across it.
    auto transform = [&] {
        if (proofing)
            LCMSDll.ProofingColorTransform(&cmsInfo, &imageInfo, source, destination, sourceStride,
                                           destinationStride, width, height, kind,
                                           proofingProfile);
        else
            LCMSDll.ColorTransform(&cmsInfo, &imageInfo, source, destination, sourceStride,
                                   destinationStride, width, height, kind);
    };
    const GuardResult result = RunGuarded(transform);
    ClearFloatingPointStatus();
    WriteControlWord(previousControlWord);
    if (!result.completed) {
        char message[64];
        std::snprintf(message, sizeof message, "Error in ColorTransform (exception %08lX)",
                      static_cast<unsigned long>(result.exceptionCode));
        throw StageFault(message);
    }
}

bool CompositeOverChecker(ImageBuffer& buffer, uint32_t colour1, uint32_t colour2) {
    const BITMAPINFOHEADER& h = *buffer.Header;
    if (h.biBitCount != 32) return false;
    const int32_t width = h.biWidth, height = h.biHeight;
    const int32_t squareSize =
        width > PluginOption.MaxWidth || height > PluginOption.MaxHeight ? 16 : 8;
    UniqueImage composited = AllocateImage(3, width, height);
    if (!composited) return false;
    const ImageBuffer& out = composited.get();
    CompositeOverChecker(buffer.Bits, out.Bits, StrideOf(*out.Header), width, height, colour1,
                         colour2, squareSize);
    ReplaceImage(buffer, std::move(composited));
    return true;
}

bool Convert32To24(CMSInfo& cmsInfo, const ImageInfo& imageInfo, ImageBuffer& buffer) {
    const BITMAPINFOHEADER& h = *buffer.Header;
    const int32_t width = h.biWidth, height = h.biHeight;
    UniqueImage converted = AllocateImage(3, width, height);
    if (!converted) return false;
    const ImageBuffer& out = converted.get();
    // The source rows are 32-bit, so 4 x width bytes apart without fill.
    ApplyColorTransform(cmsInfo, imageInfo, buffer.Bits, out.Bits, width * 4,
                        StrideOf(*out.Header), width, height, TransformCMYK);
    ReplaceImage(buffer, std::move(converted));
    return true;
}

ChildBitmap CheckChildBitmap(HLOCAL infoHandle, HLOCAL bitsHandle) noexcept {
    if (infoHandle == nullptr || bitsHandle == nullptr) return ChildBitmap::Short;
    const size_t infoBytes = LocalSize(infoHandle);
    if (infoBytes < BitmapHeaderBytes) return ChildBitmap::Short;
    const auto* locked = static_cast<const BITMAPINFOHEADER*>(LocalLock(infoHandle));
    if (locked == nullptr) return ChildBitmap::Short;
    const BITMAPINFOHEADER header = *locked;
    LocalUnlock(infoHandle);

    const int32_t bitCount = header.biBitCount;
    const bool knownDepth = bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 ||
                            bitCount == 24 || bitCount == 32;
    const bool bitFields = header.biCompression == BI_BITFIELDS;
    const bool plainRows = header.biCompression == BI_RGB ||
                           (bitFields && (bitCount == 16 || bitCount == 32));
    if (!knownDepth || !plainRows || header.biWidth < 1 || header.biHeight == 0)
        return ChildBitmap::Foreign;

    // What the stages read of the header block: the colour table, or the channel masks (four of
    // them when the header is long enough to announce an alpha mask too).
    size_t needed = BitmapHeaderBytes;
    if (bitCount <= 8) needed += size_t(PaletteEntryCount(bitCount, header.biClrUsed)) * 4;
    if (bitFields) needed += header.biSize >= 56 ? 16 : 12;
    if (infoBytes < needed) return ChildBitmap::Short;

    // A negative height counts top-down rows; its size is the row count all the same. 64 bits,
    // because -2^31 has no 32-bit opposite (and no block can hold 2^31 rows).
    const uint64_t rows = uint64_t(std::llabs(int64_t(header.biHeight)));
    const auto stride = RowStride(header.biWidth, bitCount);
    if (!stride) return ChildBitmap::Short;
    const auto bitsBytes = PixelBlockBytes(*stride, uint32_t(rows));
    if (!bitsBytes || LocalSize(bitsHandle) < *bitsBytes) return ChildBitmap::Short;
    return ChildBitmap::Usable;
}

void MakeBottomUp(ImageBuffer& buffer) noexcept {
    BITMAPINFOHEADER& h = *buffer.Header;
    if (h.biHeight >= 0) return;
    const int32_t rows = -h.biHeight;  // CheckChildBitmap refused -2^31
    SwapRows(TImageDesc{buffer.Bits, h.biWidth, rows, StrideOf(h), 1});
    h.biHeight = rows;
}

}  // namespace qorvi
