#include "metadata/ImageInfoReader.h"

#include "metadata/ColourProfiles.h"
#include "metadata/FourCC.h"

#include <array>
#include <bit>
#include <cmath>
#include <cstring>

namespace qorvi {
namespace {

constexpr uint16_t StartOfImage = 0xFFD8;
constexpr uint16_t EndOfImage = 0xFFD9;
constexpr uint16_t StartOfScan = 0xFFDA;
constexpr uint16_t App1 = 0xFFE1;
constexpr uint16_t App2 = 0xFFE2;

// "ICC_PROFILE" with its NUL, then a sequence number and a segment count, all counted by the
// segment length besides the length's own two bytes.
constexpr char IccIdentifier[] = "ICC_PROFILE";
constexpr uint32_t IccHeaderBytes = sizeof IccIdentifier + 2;
constexpr uint16_t SmallestIccSegment = 2 + IccHeaderBytes;
// "Exif", NUL and a pad byte come before the TIFF header. Shorter Exif segments than this are
// not looked at: nothing of use fits after the TIFF header.
constexpr char ExifIdentifier[] = "Exif";
constexpr uint32_t ExifHeaderBytes = sizeof ExifIdentifier + 1;
constexpr uint16_t SmallestExifSegment = 22;
// The sequence number is one byte: no profile has more segments.
constexpr int MostIccSegments = 255;

constexpr uint16_t LittleEndianTIFF = 0x4949;  // "II"
constexpr uint16_t BigEndianTIFF = 0x4D4D;     // "MM"
constexpr uint16_t TIFFMagic = 42;
constexpr uint32_t TIFFEntryBytes = 12;

constexpr uint16_t OrientationTag = 0x0112;
constexpr uint16_t WhitePointTag = 0x013E;
constexpr uint16_t PrimaryChromaticitiesTag = 0x013F;
constexpr uint16_t ExifDirectoryTag = 0x8769;
constexpr uint16_t InterColorProfileTag = 0x8773;
constexpr uint16_t ColorSpaceTag = 0xA001;
constexpr uint16_t InteroperabilityDirectoryTag = 0xA005;
constexpr uint16_t InteroperabilityIndexTag = 0x0001;
constexpr uint16_t AsciiType = 2;
constexpr uint16_t GammaTag = 0xA500;
constexpr uint16_t UndefinedType = 7;

// Whether the next bytes are `text` (with its NUL); the position does not move.
bool NextBytesAre(TMemoryReader& reader, const char* text, uint32_t count) {
    char bytes[sizeof IccIdentifier];
    reader.ReadBuffer(bytes, count);
    reader.Seek(-static_cast<int32_t>(count), 1);
    return std::memcmp(bytes, text, count) == 0;
}

// JPEG markers with a length follow one another until the picture data or the end.
bool IsSegmentMarker(uint16_t marker) {
    return marker != EndOfImage && marker != StartOfScan && (marker >> 8) == 0xFF;
}

struct JPEGSegments {
    bool HasProfile = false;
    uint32_t ProfileMarker = 0;  // offset of the first profile segment's marker
    bool HasExif = false;
    uint32_t ExifBase = 0;  // offset of the TIFF header inside the Exif segment
};

// First pass: the first profile segment and the Exif segment before it. A read error means the
// file is no JPEG we can read.
bool FindJPEGSegments(TMemoryReader& reader, JPEGSegments& found) {
    try {
        reader.Seek(0, 0);
        if (reader.ReadWord(true) != StartOfImage) return false;
        uint16_t marker = reader.ReadWord(true);
        if ((marker >> 8) != 0xFF) return false;
        while (IsSegmentMarker(marker)) {
            const uint16_t length = reader.ReadWord(true);
            // A length that does not count its own bytes cannot be skipped: the segments end.
            if (length < 2) break;
            const uint32_t payload = reader.Position;
            if (marker == App2 && length >= SmallestIccSegment &&
                NextBytesAre(reader, IccIdentifier, sizeof IccIdentifier)) {
                found.HasProfile = true;
                found.ProfileMarker = payload - 4;
                break;
            }
            if (marker == App1 && length >= SmallestExifSegment && !found.HasExif &&
                NextBytesAre(reader, ExifIdentifier, sizeof ExifIdentifier)) {
                found.HasExif = true;
                found.ExifBase = payload + ExifHeaderBytes;
            }
            reader.SeekTo(uint64_t{payload} + length - 2);
            marker = reader.ReadWord(true);
        }
    } catch (const EReadError&) {
        return false;
    }
    return true;
}

struct ProfilePiece {
    uint32_t Offset;
    uint32_t Size;
};

// Second pass: the profile's segments in sequence from the first one on. Only segments lying
// whole inside the image are taken, so the total is bounded by the file's size.
void ReadJPEGProfile(TMemoryReader& reader, uint32_t firstMarker, ImageInfo& info) {
    std::array<ProfilePiece, MostIccSegments> pieces;
    int taken = 0;
    unsigned expected = 0;
    uint64_t total = 0;
    try {
        reader.SeekTo(firstMarker);
        uint16_t marker = reader.ReadWord(true);
        while (IsSegmentMarker(marker)) {
            const uint16_t length = reader.ReadWord(true);
            if (length < 2) break;
            const uint32_t payload = reader.Position;
            if (marker == App2 && length >= SmallestIccSegment) {
                uint8_t header[IccHeaderBytes];
                reader.ReadBuffer(header, sizeof header);
                if (std::memcmp(header, IccIdentifier, sizeof IccIdentifier) == 0) {
                    const unsigned sequence = header[sizeof IccIdentifier];
                    const unsigned count = header[sizeof IccIdentifier + 1];
                    if (taken == 0)
                        expected = count;
                    else if (count != expected)
                        break;
                    if (expected == 0 || sequence > expected || sequence != unsigned(taken) + 1)
                        break;
                    const uint32_t size = length - SmallestIccSegment;
                    // A segment cut short by the end of the file is not part of the profile.
                    if (size > reader.Size - reader.Position) break;
                    pieces[taken++] = {reader.Position, size};
                    total += size;
                }
            }
            reader.SeekTo(uint64_t{payload} + length - 2);
            marker = reader.ReadWord(true);
        }
    } catch (const EReadError&) {
        // The file ends among or after the profile's segments, before the picture data: what was
        // taken whole is kept.
    }
    if (expected == 0 || total == 0 || total > INT32_MAX) return;
    if (expected == 1) {
        info.ProfileData = reader.Memory + pieces[0].Offset;
        info.Flags |= HasProfileData;
    } else {
        // Bounded by the file's size (see above), whatever the segment count claims.
        auto* buffer = static_cast<uint8_t*>(AllocateProfileBuffer(static_cast<uint32_t>(total)));
        if (buffer == nullptr) return;
        uint8_t* out = buffer;
        for (int i = 0; i < taken; ++i) {
            std::memcpy(out, reader.Memory + pieces[i].Offset, pieces[i].Size);
            out += pieces[i].Size;
        }
        info.ProfileBuffer = buffer;
        info.Flags |= HasProfileBuffer;
    }
    info.ProfileSize = static_cast<int32_t>(total);
}

// Type and count of the entry whose tag was just read; a count other than `expected` ends the
// walk.
uint16_t ReadEntryType(TMemoryReader& reader, bool bigEndian, uint32_t expected) {
    const uint16_t type = reader.ReadWord(bigEndian);
    if (reader.ReadLong(bigEndian) != expected) throw EReadError();
    return type;
}

// The N reals an entry's offset points at; any other count ends the walk.
template <size_t N>
std::array<double, N> ReadReals(TMemoryReader& reader, uint32_t base, bool bigEndian) {
    const uint16_t type = ReadEntryType(reader, bigEndian, N);
    reader.SeekTo(uint64_t{base} + reader.ReadLong(bigEndian));
    std::array<double, N> values;
    for (double& value : values) value = ReadTIFFReal(reader, type, bigEndian);
    return values;
}

template <size_t N>
bool AnyNonZero(const std::array<double, N>& values) {
    for (double value : values)
        if (value != 0) return true;
    return false;
}

// Whether the interoperability directory the entry points at names the AdobeRGB rules ("R03",
// its four bytes held in the entry itself).
bool ReadInteroperabilityIndex(TMemoryReader& reader, uint32_t base, bool bigEndian) {
    const uint16_t type = ReadEntryType(reader, bigEndian, 1);
    reader.SeekTo(uint64_t{base} + static_cast<uint32_t>(ReadTIFFValue(reader, type, bigEndian)));
    const uint16_t entries = reader.ReadWord(bigEndian);
    for (unsigned i = 0; i < entries; ++i) {
        const uint32_t entry = reader.Position;
        if (reader.ReadWord(bigEndian) == InteroperabilityIndexTag) {
            if (reader.ReadWord(bigEndian) != AsciiType || reader.ReadLong(bigEndian) != 4)
                return false;
            char index[4];
            reader.ReadBuffer(index, sizeof index);
            return std::memcmp(index, "R03", 4) == 0;
        }
        reader.SeekTo(uint64_t{entry} + TIFFEntryBytes);
    }
    return false;
}

// What the Exif directory says beyond the record's fields.
struct ExifFindings {
    bool AdobeInteroperability = false;
};

void ReadExifDirectory(TMemoryReader& reader, uint32_t base, bool bigEndian, ImageInfo& info,
                       ExifFindings& findings) {
    const uint16_t type = ReadEntryType(reader, bigEndian, 1);
    reader.SeekTo(uint64_t{base} + static_cast<uint32_t>(ReadTIFFValue(reader, type, bigEndian)));
    const uint16_t entries = reader.ReadWord(bigEndian);
    for (unsigned i = 0; i < entries; ++i) {
        const uint32_t entry = reader.Position;
        const uint16_t tag = reader.ReadWord(bigEndian);
        if (tag == InteroperabilityDirectoryTag) {
            try {
                findings.AdobeInteroperability = ReadInteroperabilityIndex(reader, base, bigEndian);
            } catch (const EReadError&) {
                // A broken interoperability directory only loses its index.
            }
        } else if (tag == ColorSpaceTag) {
            const uint16_t valueType = ReadEntryType(reader, bigEndian, 1);
            info.ColorSpace = ReadTIFFValue(reader, valueType, bigEndian);
            info.Flags |= HasColorSpace;
        } else if (tag == GammaTag) {
            const uint16_t valueType = ReadEntryType(reader, bigEndian, 1);
            reader.SeekTo(uint64_t{base} + reader.ReadLong(bigEndian));
            info.Gamma = ReadTIFFReal(reader, valueType, bigEndian);
            if (info.Gamma != 0) info.Flags |= HasGamma;
        }
        reader.SeekTo(uint64_t{entry} + TIFFEntryBytes);
    }
}

void ReadInterColorProfile(TMemoryReader& reader, bool bigEndian, ImageInfo& info) {
    if (reader.ReadWord(bigEndian) != UndefinedType) throw EReadError();
    const uint32_t count = reader.ReadLong(bigEndian);
    const uint32_t offset = reader.ReadLong(bigEndian);
    // Taken as stored, so checked: a profile that is empty or does not lie whole inside the
    // image is dropped, and the walk goes on.
    if (count == 0 || count > INT32_MAX || count > reader.Size || offset > reader.Size - count)
        return;
    info.ProfileData = reader.Memory + offset;
    info.ProfileSize = static_cast<int32_t>(count);
    info.Flags |= HasProfileData;
}

}  // namespace

int32_t ReadTIFFValue(TMemoryReader& reader, uint16_t type, bool bigEndian) {
    switch (type) {
    case 1: {  // BYTE
        uint8_t value;
        reader.ReadBuffer(&value, 1);
        return value;
    }
    case 6: {  // SBYTE
        uint8_t value;
        reader.ReadBuffer(&value, 1);
        return static_cast<int8_t>(value);
    }
    case 3: return reader.ReadWord(bigEndian);                        // SHORT
    case 8: return static_cast<int16_t>(reader.ReadWord(bigEndian));  // SSHORT
    case 4:                                                           // LONG
    case 9: return static_cast<int32_t>(reader.ReadLong(bigEndian));  // SLONG
    default: throw EReadError();
    }
}

double ReadTIFFReal(TMemoryReader& reader, uint16_t type, bool bigEndian) {
    double value;
    switch (type) {
    case 5: {  // RATIONAL
        const uint32_t numerator = reader.ReadLong(bigEndian);
        const uint32_t denominator = reader.ReadLong(bigEndian);
        value = denominator == 0 ? 0.0 : double(numerator) / denominator;
        break;
    }
    case 10: {  // SRATIONAL
        const auto numerator = static_cast<int32_t>(reader.ReadLong(bigEndian));
        const auto denominator = static_cast<int32_t>(reader.ReadLong(bigEndian));
        value = denominator == 0 ? 0.0 : double(numerator) / denominator;
        break;
    }
    case 11:  // FLOAT
        value = std::bit_cast<float>(reader.ReadLong(bigEndian));
        break;
    case 12: {  // DOUBLE: the word read first is the high half in a big-endian file
        const uint64_t first = reader.ReadLong(bigEndian);
        const uint64_t second = reader.ReadLong(bigEndian);
        value = std::bit_cast<double>(bigEndian ? first << 32 | second : second << 32 | first);
        break;
    }
    default: throw EReadError();
    }
    // The engine takes these as chromaticities and gamma: an infinity or a NaN means nothing.
    return std::isfinite(value) ? value : 0.0;
}

bool ReadJPEGInfo(TMemoryReader& reader, ImageInfo& info) noexcept {
    JPEGSegments found;
    if (!FindJPEGSegments(reader, found)) return false;
    if (found.HasProfile) ReadJPEGProfile(reader, found.ProfileMarker, info);
    if (found.HasExif) ReadTIFFInfo(reader, found.ExifBase, info);
    return true;
}

namespace {

// Cameras set to AdobeRGB that embed no profile say so in Exif: ColorSpace 0xFFFF (uncalibrated)
// with the interoperability index "R03" (the camera file system's rule), or ColorSpace 2.
void StoreExifAdobeRGB(const ExifFindings& findings, ImageInfo& info) {
    if ((info.Flags & HasColorSpace) == 0 || (info.Flags & HasPrimaries) != 0) return;
    if (info.ColorSpace == 2 || (info.ColorSpace == 0xFFFF && findings.AdobeInteroperability))
        StoreNumberedProfile(AdobeRGBNumbers(), info);
}

bool WalkTIFF(TMemoryReader& reader, uint32_t base, ImageInfo& info, ExifFindings& findings) {
    try {
        reader.SeekTo(base);
        const uint16_t order = reader.ReadWord(false);
        if (order != LittleEndianTIFF && order != BigEndianTIFF) return false;
        const bool bigEndian = order == BigEndianTIFF;
        if (reader.ReadWord(bigEndian) != TIFFMagic) return false;
        reader.SeekTo(uint64_t{base} + reader.ReadLong(bigEndian));
        // Only this directory and the Exif directory are read: no chain to follow, so no loop.
        const uint16_t entries = reader.ReadWord(bigEndian);
        for (unsigned i = 0; i < entries; ++i) {
            const uint32_t entry = reader.Position;
            switch (reader.ReadWord(bigEndian)) {
            case OrientationTag: {
                const uint16_t type = ReadEntryType(reader, bigEndian, 1);
                info.Orientation = ReadTIFFValue(reader, type, bigEndian);
                info.Flags |= HasOrientation;
                break;
            }
            case WhitePointTag: {
                const auto point = ReadReals<2>(reader, base, bigEndian);
                info.WhitePointX = point[0];
                info.WhitePointY = point[1];
                if (AnyNonZero(point)) info.Flags |= HasWhitePoint;
                break;
            }
            case PrimaryChromaticitiesTag: {
                const auto primaries = ReadReals<6>(reader, base, bigEndian);
                info.RedX = primaries[0];
                info.RedY = primaries[1];
                info.GreenX = primaries[2];
                info.GreenY = primaries[3];
                info.BlueX = primaries[4];
                info.BlueY = primaries[5];
                if (AnyNonZero(primaries)) info.Flags |= HasPrimaries;
                break;
            }
            case ExifDirectoryTag:
                ReadExifDirectory(reader, base, bigEndian, info, findings);
                break;
            case InterColorProfileTag:
                // Inside a JPEG's Exif data the offset would not be the profile's.
                if (base == 0) ReadInterColorProfile(reader, bigEndian, info);
                break;
            default: break;
            }
            reader.SeekTo(uint64_t{entry} + TIFFEntryBytes);
        }
    } catch (const EReadError&) {
        return false;
    }
    return true;
}

// The CRC every PNG chunk ends with (ISO 3309, as zlib's crc32), over type and data.
uint32_t ChunkCRC(const uint8_t* bytes, uint32_t count) {
    static const auto table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320 ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    uint32_t crc = 0xFFFFFFFF;
    for (uint32_t i = 0; i < count; ++i) crc = table[(crc ^ bytes[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFF;
}

// PNG's chunks that the colour engine does not read: cICP (H.273 code points, which outrank
// iCCP, sRGB, gAMA and cHRM) with cLLI's maximum content light level, both before the picture
// data, and eXIf, whose orientation decoders do not apply, anywhere before IEND. A chunk with a
// wrong CRC or length counts as absent; of each kind the first sound one counts. The walk ends at
// IEND or at a chunk that runs past the file; every chunk takes at least 12 bytes, so it is
// bounded by the file's size.
void ReadPNGChunks(TMemoryReader& reader, ImageInfo& info) {
    constexpr uint32_t SignatureBytes = 8;
    constexpr uint32_t PQ = 16;
    bool beforePictureData = true;
    bool haveCodes = false, haveLight = false, haveExif = false;
    CodePoints codes;
    double peakLuminance = 0;
    uint32_t position = SignatureBytes;
    while (reader.Size - position >= 12) {
        reader.SeekTo(position);
        const uint32_t length = reader.ReadLong(true);
        const uint32_t type = reader.ReadLong(true);
        // Length, type, data and CRC must lie inside the file.
        if (length > reader.Size - position - 12) break;
        const uint32_t data = position + 8;
        position = data + length + 4;
        if (type == FourCC("IEND")) break;
        if (type == FourCC("IDAT")) {
            beforePictureData = false;
            continue;
        }
        const bool wanted = (type == FourCC("cICP") && beforePictureData && !haveCodes) ||
                            (type == FourCC("cLLI") && beforePictureData && !haveLight) ||
                            (type == FourCC("eXIf") && !haveExif);
        if (!wanted) continue;
        reader.SeekTo(data + length);
        if (reader.ReadLong(true) != ChunkCRC(reader.Memory + data - 4, length + 4)) continue;
        const uint8_t* bytes = reader.Memory + data;
        if (type == FourCC("cICP")) {
            // PNG holds R, G, B samples: matrix 0, full range.
            if (length != 4 || bytes[2] != 0 || bytes[3] > 1) continue;
            codes.Primaries = bytes[0];
            codes.Transfer = bytes[1];
            codes.Matrix = bytes[2];
            codes.FullRange = bytes[3] == 1;
            haveCodes = true;
        } else if (type == FourCC("cLLI")) {
            if (length != 8) continue;
            const uint32_t maximum = uint32_t{bytes[0]} << 24 | uint32_t{bytes[1]} << 16 |
                                     uint32_t{bytes[2]} << 8 | bytes[3];
            peakLuminance = maximum * 0.0001;  // stored in units of 0.0001 cd/m2
            haveLight = true;
        } else {
            haveExif = true;
            // Only the orientation: a PNG's colours are what its own chunks say, so Exif's
            // colour markers are not looked at.
            ImageInfo exif{};
            ExifFindings unused;
            WalkTIFF(reader, data, exif, unused);
            if (exif.Flags & HasOrientation) {
                info.Orientation = exif.Orientation;
                info.Flags |= HasOrientation;
            }
        }
    }
    if (haveCodes) StoreCodePointProfile(codes, info, codes.Transfer == PQ ? peakLuminance : 0);
}

}  // namespace

bool ReadPNGInfo(TMemoryReader& reader, ImageInfo& info, const ImageInfoEngine& engine) noexcept {
    try {
        reader.Seek(0, 0);
        if (reader.ReadLong(true) != 0x89504E47 || reader.ReadLong(true) != 0x0D0A1A0A)
            return false;
    } catch (const EReadError&) {
        return false;  // fewer than 8 bytes: no PNG signature
    }
    try {
        ReadPNGChunks(reader, info);
    } catch (const EReadError&) {
        // Unreachable by the checks above; a PNG whose chunks cannot be read says nothing more.
    }
    // With cICP's profile in the record, the engine stores no iCCP profile: cICP outranks it.
    if (engine.ReadPNGColorManageInfo == nullptr) return true;
    PNGSource source{reader.Memory, 0, static_cast<int32_t>(reader.Size)};
    return engine.ReadPNGColorManageInfo(&info, &source) != 0;
}

bool ReadTIFFInfo(TMemoryReader& reader, uint32_t base, ImageInfo& info) noexcept {
    ExifFindings findings;
    const bool handled = WalkTIFF(reader, base, info, findings);
    // Decided once the walk has ended, when a profile of the file's own would have been seen.
    StoreExifAdobeRGB(findings, info);
    return handled;
}

bool QorviTurns(ImageFormat format) noexcept {
    switch (format) {
    case ImageFormat::HEIF:    // irot and imir, applied by the decoder
    case ImageFormat::JPEGXL:  // the image header's orientation, applied by the decoder
        return false;
    case ImageFormat::JPEG:
    case ImageFormat::PNG:
    case ImageFormat::TIFF:
    case ImageFormat::WebP:
    case ImageFormat::Other: return true;
    }
    return true;
}

namespace {

ImageFormat ReadByFormat(TMemoryReader& reader, ImageInfo& info,
                         const ImageInfoEngine& engine) noexcept {
    if (ReadJPEGInfo(reader, info)) return ImageFormat::JPEG;
    if (ReadPNGInfo(reader, info, engine)) return ImageFormat::PNG;
    if (ReadTIFFInfo(reader, 0, info)) return ImageFormat::TIFF;
    if (ReadHEIFInfo(reader, info)) return ImageFormat::HEIF;
    if (ReadWebPInfo(reader, info)) return ImageFormat::WebP;
    const bool jpegXL = ReadJXLInfo(reader, info);
    // JPEG XL keeps an ICC profile compressed in its header: the imaging component may have a
    // decoder that reads it.
    if (jpegXL && (info.Flags & (HasProfileData | HasProfileBuffer)) != 0)
        return ImageFormat::JPEGXL;
    if (engine.ReadWICImageInfo != nullptr)
        engine.ReadWICImageInfo(&info, reader.Memory, static_cast<int32_t>(reader.Size));
    return jpegXL ? ImageFormat::JPEGXL : ImageFormat::Other;
}

}  // namespace

ImageFormat ReadImageInfo(TMemoryReader& reader, ImageInfo& info,
                          const ImageInfoEngine& engine) noexcept {
    const ImageFormat format = ReadByFormat(reader, info, engine);
    if (!QorviTurns(format)) {
        info.Orientation = 0;
        info.Flags &= ~uint32_t{HasOrientation};
    }
    return format;
}

}  // namespace qorvi
