// Image metadata: what a file image in memory says about its colours and its orientation.
//
// TMemoryReader is the bounded reader every parser here reads through. It never owns the bytes
// and never reads outside [Memory, Memory + Size): a read that cannot be satisfied in full throws
// EReadError, which the parsers catch where a short read only means "no more metadata". Seek
// checks nothing; the next read does.
//
// ReadImageInfo fills an ImageInfo record (zeroed by the caller) from a JPEG's APP1 Exif and
// APP2 ICC_PROFILE segments or a TIFF's first and Exif directories; PNG and every other format
// go to the colour engine's readers when it has them. It never throws: a file that breaks off or
// lies leaves the fields it could not read at 0, and what was read before stays. Every profile
// it stores lies wholly inside the file image, or in a ProfileBuffer of ProfileSize bytes from
// AllocateProfileBuffer that the caller frees with FreeProfileBuffer; the engine's readers
// allocate theirs on the same heap.
//
// Everything in this folder is platform-free: it builds natively, runs under the sanitizers and
// is fuzzed. The one platform call, the process heap, sits behind AllocateProfileBuffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>

namespace qorvi {

// A read ran past the end of the image, or a value had a type or count the parser cannot read.
class EReadError : public std::runtime_error {
public:
    // The text the user sees should the error ever reach a message box.
    static constexpr const wchar_t* Message = L"ストリームからの読み込みエラー";
    EReadError() : std::runtime_error("read error: the stream ended or held an unexpected value") {}
};

class TMemoryReader {
public:
    TMemoryReader(const void* memory, uint32_t size)
        : Memory(static_cast<const uint8_t*>(memory)), Size(size) {}

    // Copies up to `count` bytes from Position on; returns how many (0 at or past the end).
    uint32_t Read(void* buffer, uint32_t count);
    // Copies exactly `count` bytes or throws EReadError (having consumed what was there).
    void ReadBuffer(void* buffer, uint32_t count);
    uint16_t ReadWord(bool bigEndian);
    uint32_t ReadLong(bool bigEndian);
    // Origin 0: from the start, 1: from Position, 2: from Size. Any other origin does nothing.
    // Positions before the start wrap to huge unsigned offsets, so the next read fails.
    void Seek(int32_t offset, int origin);

    const uint8_t* Memory;
    uint32_t Position = 0;
    uint32_t Size;
};

// What the file says about colour and orientation, shared with the colour engine byte for byte
// (the 32-bit layout is checked below). Fields not found stay 0.
struct ImageInfo {
    double WhitePointX;
    double WhitePointY;
    double RedX;
    double RedY;
    double GreenX;
    double GreenY;
    double BlueX;
    double BlueY;
    double Gamma;
    int32_t Orientation;       // as stored; 1 to 8 mean something
    const void* ProfileData;   // a profile lying whole inside the file image
    void* ProfileBuffer;       // a profile joined from several segments, on the process heap
    int32_t ProfileSize;
    int32_t ColorSpace;        // Exif ColorSpace as stored (1 = sRGB)
    uint32_t Flags;            // ImageInfoFlag bits of the fields that were found
};

enum ImageInfoFlag : uint32_t {
    HasWhitePoint = 0x01,
    HasPrimaries = 0x02,
    HasGamma = 0x04,
    HasOrientation = 0x08,
    HasProfileData = 0x10,
    HasProfileBuffer = 0x20,
    HasColorSpace = 0x40,
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(ImageInfo) == 96);
static_assert(offsetof(ImageInfo, WhitePointX) == 0 && offsetof(ImageInfo, RedX) == 16);
static_assert(offsetof(ImageInfo, BlueY) == 56 && offsetof(ImageInfo, Gamma) == 64);
static_assert(offsetof(ImageInfo, Orientation) == 72 && offsetof(ImageInfo, ProfileData) == 76);
static_assert(offsetof(ImageInfo, ProfileBuffer) == 80 && offsetof(ImageInfo, ProfileSize) == 84);
static_assert(offsetof(ImageInfo, ColorSpace) == 88 && offsetof(ImageInfo, Flags) == 92);
#endif

// The whole file image as the engine's PNG reader takes it.
struct PNGSource {
    const void* Data;
    int32_t Position;
    int32_t Size;
};

// The colour engine's two metadata readers (caller pops the arguments). Either may be missing.
using ReadPNGColorManageInfoProc = int (*)(ImageInfo* info, PNGSource* source);
using ReadWICImageInfoProc = int (*)(ImageInfo* info, const void* data, int32_t size);

struct TImageInfoEngine {
    ReadPNGColorManageInfoProc ReadPNGColorManageInfo = nullptr;
    ReadWICImageInfoProc ReadWICImageInfo = nullptr;
};

// Tries the JPEG reader, the PNG step, the TIFF reader at base 0 and the engine's WIC reader, and
// stops at the first that handles the file.
void ReadImageInfo(TMemoryReader& reader, ImageInfo& info, const TImageInfoEngine& engine) noexcept;

// The steps of ReadImageInfo. Each returns whether it handled the file; a read error inside the
// JPEG first pass or the TIFF walk means "not handled", elsewhere it ends that step only.
bool ReadJPEGInfo(TMemoryReader& reader, ImageInfo& info) noexcept;
bool ReadPNGInfo(TMemoryReader& reader, ImageInfo& info, const TImageInfoEngine& engine) noexcept;
// `base` is the offset of the TIFF header in the file image: 0 for a TIFF file, the Exif base for
// a JPEG (where the InterColorProfile tag is ignored).
bool ReadTIFFInfo(TMemoryReader& reader, uint32_t base, ImageInfo& info) noexcept;

// A TIFF value of `type` at the reader's position, in the file's byte order. The integer reader
// takes the integer types, the real reader the rational and floating types; any other type
// throws EReadError. The real reader never returns an infinity or a NaN: a zero denominator or a
// non-finite value gives 0.
int32_t ReadTIFFValue(TMemoryReader& reader, uint16_t type, bool bigEndian);
double ReadTIFFReal(TMemoryReader& reader, uint16_t type, bool bigEndian);

// The process heap (malloc in the native build): where joined profiles live. Allocation returns
// null on failure; freeing null does nothing.
void* AllocateProfileBuffer(uint32_t size) noexcept;
void FreeProfileBuffer(void* buffer) noexcept;
// Tests replace the allocation to see it fail; returns the one replaced.
using ProfileAllocation = void* (*)(uint32_t size);
ProfileAllocation ReplaceProfileAllocation(ProfileAllocation allocation) noexcept;

}  // namespace qorvi
