#include "engine/PngColorInfo.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace qorvi::engine {
namespace {

constexpr uint8_t Signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
constexpr uint32_t ChunkHeaderSize = 8;  // length, type
constexpr uint32_t CrcSize = 4;
// PNG's four-byte integers stop at 2^31 - 1.
constexpr uint32_t MaxPNGInteger = 0x7FFFFFFF;
// gAMA and cHRM store their values times this.
constexpr uint32_t PNGScale = 100000;
// An ICC profile begins with a header of this size; anything shorter is not a profile.
constexpr uint32_t ICCHeaderSize = 128;
// iCCP: a name of 1 to 79 bytes and its NUL, then the compression method.
constexpr uint32_t MaxProfileNameSize = 79;
constexpr uint32_t ChromaticityCount = 8;  // cHRM: white, red, green, blue, each x and y

uint32_t BigEndian32(const uint8_t* p) {
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

// Whether `n` bytes from `pos` lie inside `size`; written so that nothing can wrap.
bool Fits(uint32_t pos, uint32_t n, uint32_t size) { return !(n > size || pos > size - n); }

bool IsType(const uint8_t* type, const char (&name)[5]) { return std::memcmp(type, name, 4) == 0; }

// What the walk found, stored into the record only at the end. Owns the profile block until then.
struct FoundChunks {
    FoundChunks() = default;
    FoundChunks(const FoundChunks&) = delete;
    FoundChunks& operator=(const FoundChunks&) = delete;
    ~FoundChunks() { FreeProfileBuffer(Profile); }

    bool ProfileTried = false;
    void* Profile = nullptr;
    uint32_t ProfileSize = 0;
    bool SRGB = false;
    bool HasGamma = false;
    double Gamma = 0;
    bool HasChromaticities = false;
    uint32_t Chromaticities[ChromaticityCount] = {};
};

// Inflates a zlib stream only to learn its size. False when it is corrupt, breaks off, or would
// exceed `limit`: we stop as soon as it does, so a stream that expands without end costs no more
// than `limit` bytes of work and none of memory.
bool MeasureInflated(const uint8_t* in, uint32_t inSize, uint32_t limit, uint32_t& inflated) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(in);
    stream.avail_in = inSize;
    uint8_t scratch[16384];
    uint64_t total = 0;
    bool sound = false;
    for (;;) {
        stream.next_out = scratch;
        stream.avail_out = sizeof scratch;
        const int result = inflate(&stream, Z_NO_FLUSH);
        total += sizeof scratch - stream.avail_out;
        if (total > limit) break;
        if (result == Z_STREAM_END) {
            sound = true;
            break;
        }
        // Z_BUF_ERROR here means no progress was possible: the input ended inside the stream.
        if (result != Z_OK) break;
    }
    inflateEnd(&stream);
    inflated = uint32_t(total);  // at most `limit` when sound
    return sound;
}

// Inflates a stream MeasureInflated accepted into exactly `size` bytes at `out`.
bool Inflate(const uint8_t* in, uint32_t inSize, uint8_t* out, uint32_t size) {
    z_stream stream{};
    if (inflateInit(&stream) != Z_OK) return false;
    stream.next_in = const_cast<Bytef*>(in);
    stream.avail_in = inSize;
    stream.next_out = out;
    stream.avail_out = size;
    const bool sound = inflate(&stream, Z_FINISH) == Z_STREAM_END && stream.avail_out == 0;
    inflateEnd(&stream);
    return sound;
}

void ReadICCP(const uint8_t* body, uint32_t length, uint32_t limit, FoundChunks& found) {
    const uint32_t nameRoom = std::min(length, MaxProfileNameSize + 1);
    const auto* nul = static_cast<const uint8_t*>(std::memchr(body, 0, nameRoom));
    if (nul == nullptr || nul == body) return;  // no name, or one too long to be a name
    const uint32_t methodAt = uint32_t(nul - body) + 1;
    // Compression method 0 (zlib) is the only one there is.
    if (methodAt >= length || body[methodAt] != 0) return;
    const uint8_t* stream = body + methodAt + 1;
    const uint32_t streamSize = length - methodAt - 1;

    uint32_t size = 0;
    if (!MeasureInflated(stream, streamSize, limit, size) || size < ICCHeaderSize) return;
    // `size` is at most `limit`, itself bounded by MaxPNGProfileSize, so ProfileSize holds it.
    auto* profile = static_cast<uint8_t*>(AllocateProfileBuffer(size));
    if (profile == nullptr) return;
    if (!Inflate(stream, streamSize, profile, size)) {
        FreeProfileBuffer(profile);
        return;
    }
    found.Profile = profile;
    found.ProfileSize = size;
}

// A chromaticity the transform can use: XYZ divides by y, so 0 < y; z = 1 - x - y cannot be
// negative; x is never negative in a PNG (the integers are unsigned).
bool IsChromaticity(uint32_t x, uint32_t y) {
    return x < PNGScale && y > 0 && y < PNGScale && x + y <= PNGScale;
}

void ReadCHRM(const uint8_t* body, FoundChunks& found) {
    uint32_t values[ChromaticityCount];
    for (uint32_t i = 0; i < ChromaticityCount; ++i) values[i] = BigEndian32(body + 4 * i);
    for (uint32_t i = 0; i < ChromaticityCount; i += 2)
        if (!IsChromaticity(values[i], values[i + 1])) return;
    // Primaries on one line span no gamut: the matrix from them to XYZ would be singular. The
    // values are exact integers, so the cross product tells exactly.
    const int64_t rx = values[2], ry = values[3], gx = values[4], gy = values[5], bx = values[6],
                  by = values[7];
    if ((gx - rx) * (by - ry) - (gy - ry) * (bx - rx) == 0) return;
    std::copy(values, values + ChromaticityCount, found.Chromaticities);
    found.HasChromaticities = true;
}

void ReadChunk(const uint8_t* type, const uint8_t* body, uint32_t length, uint32_t limit,
               FoundChunks& found) {
    const bool iccp = IsType(type, "iCCP"), srgb = IsType(type, "sRGB");
    const bool gama = IsType(type, "gAMA"), chrm = IsType(type, "cHRM");
    // Only the chunks we read are worth their checksum; the first found of each kind counts.
    const bool wanted = (iccp && !found.ProfileTried) || (srgb && !found.SRGB) ||
                        (gama && !found.HasGamma) || (chrm && !found.HasChromaticities);
    if (!wanted) return;
    // The CRC covers the type and the data, which lie together.
    if (crc32(crc32(0, nullptr, 0), type, 4 + length) != BigEndian32(body + length)) return;

    if (iccp) {
        found.ProfileTried = true;
        ReadICCP(body, length, limit, found);
    } else if (srgb) {
        constexpr uint8_t LastRenderingIntent = 3;  // absolute colorimetric
        found.SRGB = length == 1 && body[0] <= LastRenderingIntent;
    } else if (gama) {
        if (length != 4) return;
        const uint32_t value = BigEndian32(body);
        if (value == 0 || value > MaxPNGInteger) return;
        // The chunk holds the encoding exponent; the record wants the decoding one.
        found.Gamma = double(PNGScale) / double(value);
        found.HasGamma = true;
    } else if (length == 4 * ChromaticityCount) {
        ReadCHRM(body, found);
    }
}

}  // namespace

int ReadPNGColorManageInfo(ImageInfo& info, const void* data, int32_t size) noexcept {
    return ReadPNGColorManageInfo(info, data, size, MaxPNGProfileSize);
}

int ReadPNGColorManageInfo(ImageInfo& info, const void* data, int32_t size,
                           uint32_t profileLimit) noexcept {
    if (data == nullptr || size < int32_t(sizeof Signature)) return 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    if (std::memcmp(bytes, Signature, sizeof Signature) != 0) return 0;

    const uint32_t end = uint32_t(size);
    const uint32_t limit = std::min(profileLimit, MaxPNGProfileSize);
    FoundChunks found;
    // A record that holds a profile already keeps it (and the block it may own).
    found.ProfileTried = (info.Flags & (HasProfileData | HasProfileBuffer)) != 0;
    uint32_t pos = sizeof Signature;
    while (Fits(pos, ChunkHeaderSize, end)) {
        const uint32_t length = BigEndian32(bytes + pos);
        const uint8_t* type = bytes + pos + 4;
        // Colour chunks come before the image data; nothing after it concerns us.
        if (IsType(type, "IDAT") || IsType(type, "IEND")) break;
        pos += ChunkHeaderSize;
        // A length past the end ends the walk, the place of the next chunk being unknown. That
        // includes every length above PNG's 2^31 - 1, since `size` is an int32_t.
        if (!Fits(pos, length, end) || !Fits(pos + length, CrcSize, end)) break;
        ReadChunk(type, bytes + pos, length, limit, found);
        pos += length + CrcSize;
    }

    if (found.Profile != nullptr) {
        info.ProfileBuffer = std::exchange(found.Profile, nullptr);
        info.ProfileSize = int32_t(found.ProfileSize);
        info.Flags |= HasProfileBuffer;
    }
    if (found.SRGB) {
        constexpr int32_t ColorSpaceSRGB = 1;  // as Exif counts it
        info.ColorSpace = ColorSpaceSRGB;
        info.Flags |= HasColorSpace;
        // sRGB outranks gAMA and cHRM, which are only an approximation of it in files that
        // carry both.
        return 1;
    }
    if (found.HasGamma) {
        info.Gamma = found.Gamma;
        info.Flags |= HasGamma;
    }
    if (found.HasChromaticities) {
        double* fields[] = {&info.WhitePointX, &info.WhitePointY, &info.RedX,  &info.RedY,
                            &info.GreenX,      &info.GreenY,      &info.BlueX, &info.BlueY};
        for (uint32_t i = 0; i < ChromaticityCount; ++i)
            *fields[i] = double(found.Chromaticities[i]) / PNGScale;
        info.Flags |= HasWhitePoint | HasPrimaries;
    }
    return 1;
}

}  // namespace qorvi::engine
