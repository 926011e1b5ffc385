// The PNG chunk reader over byte streams built here (signature, chunks with their CRC, profiles
// deflated by zlib) and over files ImageMagick wrote.
#include "engine/PngColorInfo.h"
#include "tests/unit/engine/EngineFiles.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace qorvi::engine {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes U32(uint32_t v) { return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)}; }

Bytes Concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// A profile-shaped block: a declared size, then bytes that differ from one profile to the next.
Bytes Profile(uint32_t size, uint8_t seed) {
    Bytes bytes(size);
    for (uint32_t i = 0; i < size; ++i) bytes[i] = uint8_t(seed + i * 13 + (i >> 8));
    const Bytes declared = U32(size);
    std::copy(declared.begin(), declared.end(), bytes.begin());
    return bytes;
}

Bytes Deflate(const Bytes& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    Bytes out(size);
    EXPECT_EQ(compress(out.data(), &size, raw.data(), uLong(raw.size())), Z_OK);
    out.resize(size);
    return out;
}

// One chunk: length, type, data, CRC (or a wrong one).
Bytes Chunk(const char* type, const Bytes& data, bool goodCrc = true) {
    Bytes typed(type, type + 4);
    typed = Concat(typed, data);
    const uint32_t crc = uint32_t(crc32(0, typed.data(), uInt(typed.size())));
    return Concat(Concat(U32(uint32_t(data.size())), typed), U32(goodCrc ? crc : ~crc));
}

Bytes Gama(uint32_t value) { return Chunk("gAMA", U32(value)); }
Bytes Srgb(uint8_t intent = 0) { return Chunk("sRGB", {intent}); }
// White, red, green, blue, each x and y times 100000.
Bytes Chrm(std::vector<uint32_t> values) {
    Bytes data;
    for (uint32_t v : values) data = Concat(data, U32(v));
    return Chunk("cHRM", data);
}
const std::vector<uint32_t> SRGBChromaticities = {31270, 32900, 64000, 33000,
                                                  30000, 60000, 15000, 6000};
// iCCP around a stream as given, or around a profile it deflates.
Bytes IccpStream(const Bytes& stream, const std::string& name, uint8_t method = 0) {
    Bytes data(name.begin(), name.end());
    data.push_back(0);
    data.push_back(method);
    return Chunk("iCCP", Concat(data, stream));
}
Bytes Iccp(const Bytes& profile, const std::string& name = "icc") {
    return IccpStream(Deflate(profile), name);
}

Bytes Png(std::initializer_list<Bytes> chunks) {
    Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    png = Concat(png, Chunk("IHDR", Concat(Concat(U32(1), U32(1)), {8, 2, 0, 0, 0})));
    for (const Bytes& chunk : chunks) png = Concat(png, chunk);
    return png;
}
const Bytes Idat = Chunk("IDAT", Deflate({0, 0, 0, 0}));
const Bytes Iend = Chunk("IEND", {});

// The reader's result on an exact-size heap copy of the bytes (so AddressSanitizer sees any read
// past them), with the record it filled; frees the profile block it got.
struct NamedFileRead {
    explicit NamedFileRead(const Bytes& bytes, uint32_t limit = MaxPNGProfileSize,
                           size_t size = SIZE_MAX) {
        const size_t used = std::min(size, bytes.size());
        std::unique_ptr<uint8_t[]> copy(new uint8_t[used]);
        std::memcpy(copy.get(), bytes.data(), used);
        Result = ReadPNGColorManageInfo(Info, copy.get(), int32_t(used), limit);
    }
    ~NamedFileRead() { FreeProfileBuffer(Info.ProfileBuffer); }
    NamedFileRead(const NamedFileRead&) = delete;
    NamedFileRead& operator=(const NamedFileRead&) = delete;
    Bytes Profile() const {
        const auto* p = static_cast<const uint8_t*>(Info.ProfileBuffer);
        return p ? Bytes(p, p + Info.ProfileSize) : Bytes{};
    }
    ImageInfo Info{};
    int Result = 0;
};

constexpr uint32_t GammaChromaticities = HasGamma | HasWhitePoint | HasPrimaries;

TEST(PngColorInfo, OnlyAPNGSignatureIsHandled) {
    ImageInfo info, before;
    std::memset(&info, 0xA5, sizeof info);
    before = info;
    const Bytes png = Png({Srgb()});
    EXPECT_EQ(ReadPNGColorManageInfo(info, nullptr, 100) +
                  ReadPNGColorManageInfo(info, png.data(), 7) +
                  ReadPNGColorManageInfo(info, png.data(), -1),
              0);
    for (size_t i = 0; i < 8; ++i) {
        Bytes changed = png;
        changed[i] ^= 0x20;
        EXPECT_EQ(ReadPNGColorManageInfo(info, changed.data(), int32_t(changed.size())), 0) << i;
    }
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0);

    // The signature alone is a PNG that says nothing.
    const NamedFileRead bare(png, MaxPNGProfileSize, 8);
    EXPECT_NE(bare.Result, 0);
    EXPECT_EQ(bare.Info.Flags, 0u);
}

TEST(PngColorInfo, GammaAndChromaticitiesAsTheRecordCountsThem) {
    const NamedFileRead gama(Png({Gama(45455), Idat, Iend}));
    EXPECT_EQ(gama.Info.Flags, uint32_t(HasGamma));
    EXPECT_NEAR(gama.Info.Gamma, 2.2, 1e-4);  // the decoding exponent, not 0.45455
    EXPECT_DOUBLE_EQ(NamedFileRead(Png({Gama(100000)})).Info.Gamma, 1.0);

    const NamedFileRead chrm(
        Png({Chrm({31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000}), Idat}));
    EXPECT_EQ(chrm.Info.Flags, uint32_t(HasWhitePoint | HasPrimaries));
    const ImageInfo& c = chrm.Info;
    const double read[] = {c.WhitePointX, c.WhitePointY, c.RedX,  c.RedY,
                           c.GreenX,      c.GreenY,      c.BlueX, c.BlueY};
    const double expected[] = {0.3127, 0.329, 0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
    for (int i = 0; i < 8; ++i) EXPECT_DOUBLE_EQ(read[i], expected[i]) << i;
}

TEST(PngColorInfo, TheProfileThenSRGBThenGammaAndChromaticities) {
    const Bytes profile = Profile(500, 2);
    const Bytes chrm = Chrm(SRGBChromaticities);
    struct Case {
        const char* name;
        Bytes png;
        uint32_t flags;
    } cases[] = {
        {"gAMA cHRM", Png({Gama(45455), chrm}), GammaChromaticities},
        {"sRGB", Png({Srgb(3), Idat, Iend}), HasColorSpace},
        {"sRGB gAMA cHRM", Png({Srgb(), Gama(45455), chrm}), HasColorSpace},
        {"sRGB after gAMA cHRM", Png({Gama(45455), chrm, Srgb()}), HasColorSpace},
        {"iCCP", Png({Iccp(profile)}), HasProfileBuffer},
        {"iCCP gAMA cHRM", Png({Iccp(profile), Gama(45455), chrm}),
         HasProfileBuffer | GammaChromaticities},
        {"iCCP sRGB gAMA cHRM", Png({Gama(45455), Iccp(profile), chrm, Srgb()}),
         HasProfileBuffer | HasColorSpace},
        {"iCCP gAMA", Png({Iccp(profile), Gama(45455)}), HasProfileBuffer | HasGamma},
    };
    for (const Case& test : cases) {
        const NamedFileRead read(test.png);
        EXPECT_EQ(read.Info.Flags, test.flags) << test.name;
        if (!(test.flags & HasGamma)) {
            EXPECT_EQ(read.Info.Gamma, 0.0) << test.name;
        }
        if (!(test.flags & HasWhitePoint)) {
            EXPECT_EQ(read.Info.WhitePointX, 0.0) << test.name;
        }
        if (test.flags & HasProfileBuffer) {
            EXPECT_EQ(read.Profile(), profile) << test.name;
        }
        EXPECT_EQ(read.Info.ColorSpace, test.flags & HasColorSpace ? 1 : 0) << test.name;
    }
}

TEST(PngColorInfo, UnsoundChunksCountAsAbsent) {
    const Bytes profile = Profile(400, 3);
    Bytes badCrc = Gama(50000);
    badCrc[10] ^= 1;  // a data byte: the CRC no longer matches
    Bytes truncatedStream = Deflate(profile);
    truncatedStream.resize(truncatedStream.size() / 2);
    Bytes corruptStream = Deflate(profile);
    corruptStream[0] ^= 0xFF;  // no zlib header any more
    Bytes corruptAdler = Deflate(profile);
    corruptAdler.back() ^= 1;  // the inflated bytes are not what was deflated
    struct Case {
        const char* name;
        Bytes chunk;
    } cases[] = {
        {"gAMA with a bad CRC", badCrc},
        {"gAMA of 0", Gama(0)},
        {"gAMA above 2^31-1", Gama(0x80000000u)},
        {"gAMA of 3 bytes", Chunk("gAMA", {0, 0xB1, 0x8F})},
        {"gAMA of 5 bytes", Chunk("gAMA", {0, 0, 0xB1, 0x8F, 0})},
        {"sRGB intent 4", Srgb(4)},
        {"sRGB of 2 bytes", Chunk("sRGB", {0, 0})},
        {"cHRM of 28 bytes", Chunk("cHRM", Bytes(28, 1))},
        {"cHRM white y 0", Chrm({31270, 0, 64000, 33000, 30000, 60000, 15000, 6000})},
        {"cHRM red x 1", Chrm({31270, 32900, 100000, 33000, 30000, 60000, 15000, 6000})},
        {"cHRM green x+y above 1", Chrm({31270, 32900, 64000, 33000, 40000, 60001, 15000, 6000})},
        {"cHRM primaries on a line",
         Chrm({31270, 32900, 60000, 30000, 40000, 20000, 20000, 10000})},
        {"iCCP without a name", IccpStream(Deflate(profile), "", 0)},
        {"iCCP name of 80 bytes", IccpStream(Deflate(profile), std::string(80, 'n'), 0)},
        {"iCCP method 1", IccpStream(Deflate(profile), "icc", 1)},
        {"iCCP without a stream", Chunk("iCCP", {'i', 0})},
        {"iCCP truncated stream", IccpStream(truncatedStream, "icc", 0)},
        {"iCCP corrupt stream", IccpStream(corruptStream, "icc", 0)},
        {"iCCP corrupt checksum", IccpStream(corruptAdler, "icc", 0)},
        {"iCCP of 127 bytes", Iccp(Profile(127, 4))},
    };
    for (const Case& test : cases) {
        // The sound gAMA after the unsound chunk shows that the walk went on, and that an unsound
        // sRGB does not hide it.
        const NamedFileRead read(Png({test.chunk, Gama(45455), Idat}));
        EXPECT_NE(read.Result, 0) << test.name;
        EXPECT_EQ(read.Info.Flags, uint32_t(HasGamma)) << test.name;
        EXPECT_NEAR(read.Info.Gamma, 2.2, 1e-4) << test.name;
    }
    // A name of 79 bytes is still a name, and a chromaticity may have x + y of exactly 1.
    EXPECT_EQ(NamedFileRead(Png({Iccp(profile, std::string(79, 'n'))})).Profile(), profile);
    EXPECT_EQ(
        NamedFileRead(Png({Chrm({34567, 35850, 73470, 26530, 15960, 84040, 3660, 1})})).Info.Flags,
        uint32_t(HasWhitePoint | HasPrimaries));
}

TEST(PngColorInfo, TheFirstSoundChunkOfEachKindCounts) {
    const Bytes first = Profile(300, 5), second = Profile(600, 6);
    const NamedFileRead two(Png({Iccp(first), Gama(50000), Iccp(second), Gama(45455)}));
    EXPECT_EQ(two.Profile(), first);  // the second block is not leaked either (LeakSanitizer)
    EXPECT_DOUBLE_EQ(two.Info.Gamma, 2.0);

    // A broken first iCCP is the only one tried; a broken first gAMA is not.
    Bytes truncated = Deflate(first);
    truncated.pop_back();
    const NamedFileRead broken(
        Png({IccpStream(truncated, "icc", 0), Gama(0), Iccp(second), Gama(50000)}));
    EXPECT_EQ(broken.Info.Flags, uint32_t(HasGamma));
    EXPECT_DOUBLE_EQ(broken.Info.Gamma, 2.0);

    // With a bad CRC the chunk is absent altogether, so the next one is the first.
    Bytes badCrc = Iccp(first);
    badCrc.back() ^= 1;
    EXPECT_EQ(NamedFileRead(Png({badCrc, Iccp(second)})).Profile(), second);
}

TEST(PngColorInfo, TheWalkEndsAtTheImageData) {
    const Bytes chrm = Chrm(SRGBChromaticities);
    EXPECT_EQ(NamedFileRead(Png({Gama(45455), Idat, chrm})).Info.Flags, uint32_t(HasGamma));
    EXPECT_EQ(NamedFileRead(Png({Gama(45455), Iend, chrm})).Info.Flags, uint32_t(HasGamma));
    // An sRGB after the image data does not hide the gAMA before it.
    EXPECT_EQ(NamedFileRead(Png({Gama(45455), Idat, Srgb()})).Info.Flags, uint32_t(HasGamma));
    // Chunks of other kinds are passed over unchecked, however they look inside.
    Bytes text = Chunk("tEXt", Bytes(5000, 0xFF), false);
    EXPECT_EQ(NamedFileRead(Png({text, Gama(45455), Chunk("PLTE", Bytes(6, 0)), chrm})).Info.Flags,
              GammaChromaticities);
}

TEST(PngColorInfo, AFileThatBreaksOffKeepsWhatCameBefore) {
    const Bytes chrm = Chrm(SRGBChromaticities);
    struct Case {
        const char* name;
        Bytes tail;
    } cases[] = {
        {"length beyond the file", Concat(U32(1000), Bytes{'c', 'H', 'R', 'M', 0, 0, 0, 0})},
        {"length of 2^31", Concat(Concat(U32(0x80000000u), Bytes{'c', 'H', 'R', 'M'}), chrm)},
        {"length of 2^32-1", Concat(Concat(U32(0xFFFFFFFFu), Bytes{'t', 'E', 'X', 't'}), chrm)},
        {"header of 7 bytes", Bytes{0, 0, 0, 32, 'c', 'H', 'R'}},
        {"chunk without its CRC", Bytes(chrm.begin(), chrm.end() - 4)},
        {"chunk 1 byte short", Bytes(chrm.begin(), chrm.end() - 1)},
    };
    for (const Case& test : cases) {
        const NamedFileRead read(Concat(Png({Gama(45455)}), test.tail));
        EXPECT_NE(read.Result, 0) << test.name;
        EXPECT_EQ(read.Info.Flags, uint32_t(HasGamma)) << test.name;
    }

    // Every prefix of a file with all four chunks: never a read outside it (AddressSanitizer),
    // and a profile only whole.
    const Bytes profile = Profile(2000, 7);
    const Bytes whole = Png({Iccp(profile), Srgb(), Gama(45455), chrm, Idat, Iend});
    uint32_t flagsSeen = 0;
    for (size_t size = 0; size <= whole.size(); ++size) {
        const NamedFileRead read(whole, MaxPNGProfileSize, size);
        EXPECT_EQ(read.Result != 0, size >= 8) << size;
        if (read.Info.Flags & HasProfileBuffer) {
            EXPECT_EQ(read.Profile(), profile) << size;
        }
        flagsSeen |= read.Info.Flags;
    }
    EXPECT_EQ(flagsSeen, uint32_t(HasProfileBuffer | HasColorSpace));
}

TEST(PngColorInfo, ProfilesAreBounded) {
    const Bytes profile = Profile(1000, 8);
    EXPECT_EQ(NamedFileRead(Png({Iccp(profile)}), 1000).Profile(), profile);
    const NamedFileRead over(Png({Iccp(profile), Gama(45455)}), 999);
    EXPECT_EQ(over.Info.Flags, uint32_t(HasGamma));
    EXPECT_EQ(over.Info.ProfileBuffer, nullptr);

    // A stream of zeros that inflates one byte past the real limit: a few dozen kilobytes in the
    // file, refused without taking the memory.
    Bytes bomb(size_t(MaxPNGProfileSize) + 1, 0);
    const Bytes stream = Deflate(bomb);
    bomb = Bytes();
    ASSERT_LT(stream.size(), 1u << 20);
    ImageInfo info{};
    const Bytes png = Png({IccpStream(stream, "icc", 0)});
    EXPECT_NE(ReadPNGColorManageInfo(info, png.data(), int32_t(png.size())), 0);
    EXPECT_EQ(info.Flags, 0u);
    EXPECT_EQ(info.ProfileBuffer, nullptr);
}

TEST(PngColorInfo, ARecordsProfileAndAFailedAllocationAreKept) {
    const Bytes png = Png({Iccp(Profile(300, 9)), Gama(45455)});
    const ProfileAllocation previous =
        ReplaceProfileAllocation([](uint32_t) -> void* { return nullptr; });
    ImageInfo failed{};
    EXPECT_NE(ReadPNGColorManageInfo(failed, png.data(), int32_t(png.size())), 0);
    ReplaceProfileAllocation(previous);
    EXPECT_EQ(failed.Flags, uint32_t(HasGamma));
    EXPECT_EQ(failed.ProfileBuffer, nullptr);
    EXPECT_EQ(failed.ProfileSize, 0);

    const uint8_t elsewhere[200] = {};
    ImageInfo held{};
    held.ProfileData = elsewhere;
    held.ProfileSize = int32_t(sizeof elsewhere);
    held.Flags = HasProfileData;
    EXPECT_NE(ReadPNGColorManageInfo(held, png.data(), int32_t(png.size())), 0);
    EXPECT_EQ(held.Flags, uint32_t(HasProfileData | HasGamma));
    EXPECT_EQ(held.ProfileData, elsewhere);
    EXPECT_EQ(held.ProfileBuffer, nullptr);
    EXPECT_EQ(held.ProfileSize, int32_t(sizeof elsewhere));
}

Bytes ImageFile(const std::string& name) {
    Bytes bytes = test::ReadBytes(test::ImagePath(name));
    EXPECT_FALSE(bytes.empty()) << name;
    return bytes;
}

TEST(PngColorInfo, FilesImageMagickWrote) {
    // ImageMagick writes sRGB's gamma and chromaticities, no sRGB chunk.
    const NamedFileRead plain(ImageFile("rgb.png"));
    EXPECT_EQ(plain.Info.Flags, GammaChromaticities);
    EXPECT_NEAR(plain.Info.Gamma, 2.2, 1e-4);
    EXPECT_DOUBLE_EQ(plain.Info.WhitePointX, 0.3127);
    EXPECT_DOUBLE_EQ(plain.Info.BlueY, 0.06);

    // With a profile it leaves out gAMA but keeps cHRM.
    const NamedFileRead embedded(ImageFile("profile.png"));
    EXPECT_EQ(embedded.Info.Flags, uint32_t(HasProfileBuffer | HasWhitePoint | HasPrimaries));
    EXPECT_EQ(embedded.Profile(), ImageFile("small.icc"));
}

}  // namespace
}  // namespace qorvi::engine
