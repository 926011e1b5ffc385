// Image metadata: what a file image in memory says about its colours and its orientation.
//
// TMemoryReader is the bounded reader every parser here reads through. It never owns the bytes
// and never reads outside [Memory, Memory + Size): a read that cannot be satisfied in full throws
// EReadError, which the parsers catch where a short read only means "no more metadata". Seek
// checks nothing; the next read does.
//
// ReadImageInfo fills an ImageInfo record (zeroed by the caller) from what a file says about its
// colours and orientation: JPEG's Exif and ICC segments, TIFF's directories, PNG's cICP and eXIf
// chunks (the rest of PNG through the colour engine), the HEIF and AVIF item properties, WebP's
// ICCP and EXIF chunks and JPEG XL's image header; every other format goes to the engine's
// imaging-component reader when it has one. Colours given by numbers (H.273 code points, JPEG XL's
// enumerated encodings, Exif's AdobeRGB markers) arrive as a matrix-shaper profile written here
// (metadata/ColourProfiles.h). It never throws: a file that breaks off or lies leaves the fields
// it could not read at 0, and what was read before stays. Every profile it stores lies wholly
// inside the file image, or in a ProfileBuffer of ProfileSize bytes from AllocateProfileBuffer
// that the caller frees with FreeProfileBuffer; the engine's readers allocate theirs on the same
// heap.
//
// Orientation is stored only for formats whose decoders leave the picture as stored, so that the
// picture is turned once: by qorvi for JPEG, TIFF, PNG's eXIf and WebP's EXIF, by the decoder for
// HEIF and AVIF (irot and imir; their Exif orientation is informative only) and JPEG XL (its
// header's orientation). QorviTurns is that rule.
//
// Everything in this folder is platform-free: it builds natively, runs under the sanitizers and
// is fuzzed. The ImageInfo record and the engine's reader types are the colour engine's contract
// (engine/EngineApi.h); the process heap is base's (base/ProcessHeap.h).
#pragma once

#include "base/ProcessHeap.h"
#include "engine/EngineApi.h"

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
    // To a position formed in 64 bits (a base plus an offset the file gives, which can be
    // anything); past the end it throws EReadError, so a sum that would wrap round to an earlier
    // offset never sends a walk backwards.
    void SeekTo(uint64_t position);

    const uint8_t* Memory;
    uint32_t Position = 0;
    uint32_t Size;
};

// The colour engine's metadata readers as bound; either may be missing (null).
struct ImageInfoEngine {
    ReadPNGColorManageInfoProc ReadPNGColorManageInfo = nullptr;
    ReadWICImageInfoProc ReadWICImageInfo = nullptr;
};

// The formats ReadImageInfo tells apart; Other is whatever the engine's last-resort reader gets.
enum class ImageFormat { JPEG, PNG, TIFF, HEIF, WebP, JPEGXL, Other };

// Whether qorvi turns a picture of `format` by the orientation its metadata gives (false where the
// decoders apply it themselves).
bool QorviTurns(ImageFormat format) noexcept;

// Tries the readers in turn and stops at the first that handles the file, then applies
// QorviTurns; returns the format it took the file for.
ImageFormat ReadImageInfo(TMemoryReader& reader, ImageInfo& info,
                          const ImageInfoEngine& engine) noexcept;

// The steps of ReadImageInfo. Each returns whether it handled the file; a read error inside the
// JPEG first pass or the TIFF walk means "not handled", elsewhere it ends that step only.
bool ReadJPEGInfo(TMemoryReader& reader, ImageInfo& info) noexcept;
bool ReadPNGInfo(TMemoryReader& reader, ImageInfo& info, const ImageInfoEngine& engine) noexcept;
// `base` is the offset of the TIFF header in the file image: 0 for a TIFF file, the Exif base for
// a JPEG (where the InterColorProfile tag is ignored).
bool ReadTIFFInfo(TMemoryReader& reader, uint32_t base, ImageInfo& info) noexcept;

// ISO base media files (HEIF, HEIC, AVIF): handled when the file opens with an ftyp box. From the
// primary item's properties (through ipma; for a derived item without its own colr, from the
// first item it is made of) it takes a colr of type prof or rICC as ProfileData inside the file
// image, else a colr of type nclx as a written profile (with clli's maximum content light level
// for PQ). Orientation is never stored: decoders apply irot and imir.
bool ReadHEIFInfo(TMemoryReader& reader, ImageInfo& info) noexcept;
// WebP (RIFF "WEBP"): the ICCP chunk as ProfileData; the EXIF chunk's TIFF data (with or without
// an "Exif\0\0" prefix) as ReadTIFFInfo reads a JPEG's Exif.
bool ReadWebPInfo(TMemoryReader& reader, ImageInfo& info) noexcept;
// JPEG XL, a bare codestream or the box container (jxlc, or jxlp parts): the image header's
// enumerated colour encoding as a written profile. An ICC profile there is stored compressed and
// is not read (the engine's last-resort reader gets the file). Orientation is never stored:
// decoders apply the header's.
bool ReadJXLInfo(TMemoryReader& reader, ImageInfo& info) noexcept;

// A TIFF value of `type` at the reader's position, in the file's byte order. The integer reader
// takes the integer types, the real reader the rational and floating types; any other type
// throws EReadError. The real reader never returns an infinity or a NaN: a zero denominator or a
// non-finite value gives 0.
int32_t ReadTIFFValue(TMemoryReader& reader, uint16_t type, bool bigEndian);
double ReadTIFFReal(TMemoryReader& reader, uint16_t type, bool bigEndian);

}  // namespace qorvi
