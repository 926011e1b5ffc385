// Image buffers: the blocks a picture lives in while the pipeline's stages work on it.
//
// An ImageBuffer is a decoded picture in the host interface's form: a movable local block with a
// BITMAPINFOHEADER and, for paletted depths, the colour table directly after the header's fixed
// part (BitmapHeaderBytes); a movable local block with the pixel rows, bottom-up, each filled up
// to a multiple of 4 bytes; and the two blocks' locked pointers.
//
// Ownership: a stage that makes a new picture allocates it completely (AllocateImage gives a
// UniqueImage, which frees it on every path until it is handed over), then unlocks and frees the
// old blocks and stores the new four values (ReplaceImage). When allocation fails the stage
// returns false and the caller's buffer is untouched; allocation failures are results, never
// exceptions. The pixel work itself is platform-free (PixelKernels.h); the stages live beside
// the pipeline (CompositeStage.h, ResizeStages.h, RotationStage.h, ColorStage.h).
//
// Bitmaps from a child: CheckChildBitmap compares what the header announces with what the two
// blocks really hold, before any stage reads them, and MakeBottomUp turns top-down rows (a
// negative biHeight) into the bottom-up form every stage works on.
#pragma once

#include "geometry/ImageDesc.h"
#include "plugin/PixelKernels.h"

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <utility>

namespace qorvi {

struct ImageBuffer {
    HLOCAL InfoHandle = nullptr;
    HLOCAL BitsHandle = nullptr;
    BITMAPINFOHEADER* Header = nullptr;
    uint8_t* Bits = nullptr;
};

// Unlocks and frees both blocks and clears the four values. Null values are skipped.
void ReleaseImage(ImageBuffer& buffer) noexcept;

// A buffer that no caller variable holds yet. Released on destruction unless handed over.
class UniqueImage {
public:
    UniqueImage() = default;
    explicit UniqueImage(const ImageBuffer& image) noexcept : image_(image) {}
    ~UniqueImage() { ReleaseImage(image_); }
    UniqueImage(UniqueImage&& other) noexcept : image_(std::exchange(other.image_, {})) {}
    UniqueImage& operator=(UniqueImage&& other) noexcept {
        if (this != &other) {
            ReleaseImage(image_);
            image_ = std::exchange(other.image_, {});
        }
        return *this;
    }
    UniqueImage(const UniqueImage&) = delete;
    UniqueImage& operator=(const UniqueImage&) = delete;

    explicit operator bool() const noexcept { return image_.InfoHandle != nullptr; }
    // A stage may replace the buffer through get(); the owner then holds the new one.
    ImageBuffer& get() noexcept { return image_; }
    const ImageBuffer& get() const noexcept { return image_; }
    ImageBuffer release() noexcept { return std::exchange(image_, {}); }

private:
    ImageBuffer image_;
};

// A zero-filled movable block of `size` bytes and its locked pointer; false (and nothing held)
// when the block cannot be had or locked.
bool AllocateLockedBlock(size_t size, HLOCAL& handle, void*& pointer);

// A new bottom-up picture of 1, 3 or 4 bytes per pixel, zero-filled: a header block of the header
// and a full colour table (MaxPaletteEntries entries, biClrUsed saying so) for 1 byte per pixel
// and of the header and one spare RGBQUAD otherwise, and a pixel block of stride x (height rounded
// up to even). Empty for any other pixel size, a width or height below 1, a row past MaxRowStride,
// a pixel block past MaxPixelBlockBytes, or no memory. biSizeImage is 0 for a block past 4 GiB.
UniqueImage AllocateImage(int32_t bytesPerPixel, int32_t width, int32_t height);

// Unlocks and frees the old blocks of `buffer`, then stores `replacement` in it.
void ReplaceImage(ImageBuffer& buffer, UniqueImage replacement) noexcept;

// The rows of a bottom-up buffer of 8, 24 or 32 bits as the geometry kernels take them.
TImageDesc DescribeRows(const ImageBuffer& buffer);

// The colour table saved around the stages that do not carry it over, and converted in its place.
using PaletteArea = std::array<RGBQUAD, MaxPaletteEntries>;

// Copies the colour table into `area` and returns the entry count (PaletteEntryCount); 0 for
// depths above 8 and when the table cannot be read.
int32_t SavePalette(const BITMAPINFOHEADER* header, PaletteArea& area) noexcept;
// Copies `count` entries back into the table of a bitmap of 8 bits or less; else does nothing.
void RestorePalette(BITMAPINFOHEADER* header, const PaletteArea& area, int32_t count) noexcept;
// An 8-bit bitmap whose 256 colours (biClrUsed 0 or 256) are the grey ramp.
bool IsGrayscalePalette(const BITMAPINFOHEADER* header) noexcept;

// A stage fault: the pipeline shows what() to the user and the request answers 8.
class StageFault : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a handle a child stored is: a block of this process's local memory and how many bytes it
// holds (0 when it is empty or discarded), or anything else (a pointer into another heap or into
// the child's own data, a kernel handle, a made-up value), which nothing may lock, read or free.
struct ChildBlock {
    bool local = false;
    size_t bytes = 0;
};
ChildBlock InspectChildBlock(HLOCAL handle) noexcept;

// What a child's two blocks hold, against what the header says.
enum class ChildBitmap {
    Usable,    // every stage may read and write the header, the colour table and all rows
    Foreign,   // a form the stages do not handle (compressed rows, an unknown depth): pass it on
    Short,     // a block is missing, not local memory or smaller than the header announces (the
               // header block than biSize, the colour table or the masks): nothing may read it
    TooLarge,  // the block holds what the header announces, but a row is longer than
               // MaxRowStride or the pixel block larger than MaxPixelBlockBytes
};
ChildBitmap CheckChildBitmap(HLOCAL infoHandle, HLOCAL bitsHandle) noexcept;
// A copy of the BITMAPINFOHEADER at the start of a child's header block; false when the block
// is missing, shorter than that or cannot be locked.
bool ReadChildHeader(HLOCAL infoHandle, BITMAPINFOHEADER& header) noexcept;
// Caps biClrUsed of a locked, usable bitmap at MaxPaletteEntries: its table holds no more, and
// the host would read as many entries as the header names.
void CapColourCount(BITMAPINFOHEADER& header) noexcept;
// Turns the rows of a locked, usable bitmap with a negative biHeight bottom-up and makes the
// height positive. Bottom-up bitmaps are left as they are.
void MakeBottomUp(ImageBuffer& buffer) noexcept;

}  // namespace qorvi
