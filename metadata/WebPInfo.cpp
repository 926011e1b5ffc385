// WebP: a RIFF file of form type "WEBP", whose chunks each have a FourCC, a little-endian size and
// a payload padded to an even length. Of them only ICCP (an ICC profile) and EXIF (TIFF data)
// concern us. The VP8X chunk's flags say whether they are there, but files with wrong flags
// exist and decoders show them, so the chunks are looked for whatever the flags say.
#include "metadata/ImageInfoReader.h"

#include <algorithm>
#include <cstring>

namespace qorvi {
namespace {

constexpr uint32_t RiffHeaderBytes = 12;  // "RIFF", the size of what follows, "WEBP"
constexpr uint32_t ChunkHeaderBytes = 8;  // FourCC and size
// The RIFF size counts everything after its own field: the form type and the chunks.
constexpr uint32_t RiffSizeStart = 8;
// Shorter than an ICC header, a profile cannot be one: the engine would refuse it anyway.
constexpr uint32_t IccHeaderBytes = 128;
// Some writers put a JPEG's Exif identifier before the TIFF header, as in an APP1 segment.
constexpr char ExifIdentifier[] = "Exif\0";
constexpr uint32_t ExifIdentifierBytes = sizeof ExifIdentifier;
static_assert(ExifIdentifierBytes == 6);

bool IsChunk(const uint8_t* fourCC, const char* name) { return std::memcmp(fourCC, name, 4) == 0; }

void StoreProfile(const TMemoryReader& reader, uint32_t payload, uint32_t size, ImageInfo& info) {
    if (size < IccHeaderBytes || size > INT32_MAX) return;
    info.ProfileData = reader.Memory + payload;
    info.ProfileSize = static_cast<int32_t>(size);
    info.Flags |= HasProfileData;
}

void ReadExif(TMemoryReader& reader, uint32_t payload, uint32_t size, ImageInfo& info) {
    uint32_t base = payload;
    if (size >= ExifIdentifierBytes) {
        char identifier[ExifIdentifierBytes];
        reader.SeekTo(payload);
        reader.ReadBuffer(identifier, sizeof identifier);
        if (std::memcmp(identifier, ExifIdentifier, sizeof identifier) == 0)
            base += ExifIdentifierBytes;
    }
    // Offsets in the TIFF data count from its header. Like a JPEG's Exif data it may point
    // outside its chunk; ReadTIFFInfo still reads nothing outside the file image.
    ReadTIFFInfo(reader, base, info);
}

}  // namespace

bool ReadWebPInfo(TMemoryReader& reader, ImageInfo& info) noexcept {
    uint32_t end;
    try {
        uint8_t formType[4];
        uint8_t riff[4];
        reader.Seek(0, 0);
        reader.ReadBuffer(riff, sizeof riff);
        const uint32_t riffSize = reader.ReadLong(false);
        reader.ReadBuffer(formType, sizeof formType);
        if (!IsChunk(riff, "RIFF") || !IsChunk(formType, "WEBP")) return false;
        // The RIFF size may claim more than the file holds, or less (bytes appended after the
        // picture are not part of it): the walk ends at whichever end comes first.
        end = static_cast<uint32_t>(
            std::min<uint64_t>(uint64_t{riffSize} + RiffSizeStart, reader.Size));
    } catch (const EReadError&) {
        return false;  // shorter than the RIFF header
    }

    bool profileSeen = false, exifSeen = false;
    // Every chunk takes at least its 8-byte header and the position only moves forward, so the
    // walk takes at most a file size / 8 steps, however many frames an animation has before its
    // EXIF chunk: no other limit is needed.
    uint64_t position = RiffHeaderBytes;
    try {
        while (position <= end && end - position >= ChunkHeaderBytes) {
            uint8_t fourCC[4];
            reader.SeekTo(position);
            reader.ReadBuffer(fourCC, sizeof fourCC);
            const uint32_t size = reader.ReadLong(false);
            const uint32_t payload = reader.Position;
            // A chunk running past the end is cut off: nothing after it can be found.
            if (size > end - payload) break;
            // A file has one of each; a second is a writer's mistake, and the first stands.
            if (IsChunk(fourCC, "ICCP") && !profileSeen) {
                profileSeen = true;
                StoreProfile(reader, payload, size, info);
            } else if (IsChunk(fourCC, "EXIF") && !exifSeen) {
                exifSeen = true;
                ReadExif(reader, payload, size, info);
            }
            position = uint64_t{payload} + size + (size & 1);
        }
    } catch (const EReadError&) {
        // Not reached: every read above lies before `end`. What was found stays.
    }
    return true;
}

}  // namespace qorvi
