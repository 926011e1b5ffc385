// The WebP reader over RIFF streams built here, and over the pictures Debian's cwebp, webpmux and
// exiftool wrote (tests/images/webp.cmake).
#include "metadata/ImageInfoReader.h"
#include "tests/unit/metadata/ReadImage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace qorvi {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(seed + i * 7);
    return bytes;
}

// TIFF data whose only directory, right after the header, holds Orientation.
Bytes OrientationTiff(uint8_t orientation, bool bigEndian) {
    if (bigEndian)
        return {'M',  'M',  0, 42, 0, 0, 0, 8,                        // directory at 8
                0,    1,                                              // one entry:
                0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, orientation, 0, 0,  // Orientation, 1 SHORT
                0,    0,    0, 0};                                    // no next directory
    return {'I',  'I',  42, 0, 8, 0, 0, 0,                            //
            1,    0,                                                  //
            0x12, 0x01, 3,  0, 1, 0, 0, 0, orientation, 0, 0, 0,      //
            0,    0,    0,  0};
}

Bytes WithExifIdentifier(Bytes tiff) {
    tiff.insert(tiff.begin(), {'E', 'x', 'i', 'f', 0, 0});
    return tiff;
}

struct Chunk {
    std::string FourCC;
    Bytes Payload;
};

// The chunks, each padded to an even length, behind a RIFF header whose size is right unless
// told. A VP8X chunk has no flags set: the reader must not trust them.
Bytes WebP(const std::vector<Chunk>& chunks, std::optional<uint32_t> riffSize = {}) {
    Bytes body{'W', 'E', 'B', 'P'};
    for (const auto& [fourCC, payload] : chunks) {
        body.insert(body.end(), fourCC.begin(), fourCC.end());
        const Bytes size = Le32(uint32_t(payload.size()));
        body.insert(body.end(), size.begin(), size.end());
        body.insert(body.end(), payload.begin(), payload.end());
        if (payload.size() % 2 != 0) body.push_back(0);
    }
    Bytes out{'R', 'I', 'F', 'F'};
    const Bytes size = Le32(riffSize.value_or(uint32_t(body.size())));
    out.insert(out.end(), size.begin(), size.end());
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

const Chunk Extended{"VP8X", Bytes(10)};
const Bytes Profile = Pattern(200, 1);
const Bytes OddProfile = Pattern(129, 2);

TEST(WebPInfo, ReadsTheFirstProfileAndTheFirstExif) {
    const Bytes le = OrientationTiff(6, false), be = OrientationTiff(3, true);
    // An animation's metadata chunks come after its frames.
    std::vector<Chunk> animation{Extended, {"ICCP", Profile}, {"ANIM", Bytes(6)}};
    for (int frame = 0; frame < 300; ++frame)
        animation.push_back({"ANMF", Pattern(31, uint8_t(frame))});
    animation.push_back({"EXIF", le});
    // The size of the XMP chunk, the second one, runs past the end.
    Bytes cutOff = WebP({{"ICCP", Profile}, {"XMP ", Bytes(4)}, {"EXIF", le}});
    cutOff[12 + 8 + Profile.size() + 4] = 0xFF;

    struct Case {
        const char* Name;
        Bytes File;
        int Orientation;  // 0: none
        Bytes Profile;    // empty: none
    } cases[] = {
        {"simple format", WebP({{"VP8L", Pattern(41, 3)}}), 0, {}},
        {"little-endian", WebP({Extended, {"ICCP", Profile}, {"VP8 ", Bytes(20)}, {"EXIF", le}}), 6,
         Profile},
        {"big-endian", WebP({Extended, {"EXIF", be}}), 3, {}},
        {"Exif identifier first", WebP({Extended, {"EXIF", WithExifIdentifier(be)}}), 3, {}},
        {"odd sizes padded", WebP({{"XMP ", Pattern(5, 4)}, {"ICCP", OddProfile}, {"EXIF", le}}), 6,
         OddProfile},
        {"after 300 animation frames", WebP(animation), 6, Profile},
        {"the first of each counts",
         WebP({{"ICCP", Profile}, {"EXIF", be}, {"ICCP", OddProfile}, {"EXIF", le}}), 3, Profile},
        {"profile shorter than an ICC header",
         WebP({{"ICCP", Pattern(127, 5)}, {"EXIF", le}}),
         6,
         {}},
        {"Exif that is no TIFF", WebP({{"EXIF", Pattern(40, 6)}, {"ICCP", Profile}}), 0, Profile},
        {"RIFF size past the end", WebP({{"EXIF", le}}, 0xFFFFFFFF), 6, {}},
        {"RIFF size ends before the Exif", WebP({{"ICCP", Profile}, {"EXIF", le}}, 4 + 8 + 200), 0,
         Profile},
        {"RIFF size ends inside the Exif", WebP({{"EXIF", le}}, 4 + 8 + 20), 0, {}},
        {"RIFF size 0", WebP({{"EXIF", le}}, 0), 0, {}},
        {"a chunk running past the end", cutOff, 0, Profile},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.Name);
        const ImageReadFixture read(test.File);
        EXPECT_EQ(read.Info.Orientation, test.Orientation);
        EXPECT_EQ((read.Info.Flags & HasOrientation) != 0, test.Orientation != 0);
        EXPECT_EQ(read.Profile(), test.Profile);
        EXPECT_EQ((read.Info.Flags & HasProfileData) != 0, !test.Profile.empty());
        if (!test.Profile.empty()) EXPECT_TRUE(read.PointsIntoFile());
        EXPECT_EQ(read.Info.Flags & ~uint32_t{HasOrientation | HasProfileData}, 0u);
    }
}

TEST(WebPInfo, HandlesEveryCutOfAFileOnceTheHeaderIsThere) {
    const Bytes tiff = OrientationTiff(8, false);
    const Bytes file = WebP({Extended, {"ICCP", OddProfile}, {"EXIF", tiff}});
    const size_t profileEnd = 12 + 18 + 8 + OddProfile.size();
    const size_t exifEnd = profileEnd + 1 + 8 + tiff.size();
    ASSERT_EQ(exifEnd, file.size());
    for (size_t size = 0; size <= file.size(); ++size) {
        SCOPED_TRACE(size);
        Bytes cut(file.begin(), file.begin() + size);
        TMemoryReader reader(cut.data(), uint32_t(size));
        ImageInfo info{};
        EXPECT_EQ(ReadWebPInfo(reader, info), size >= 12);
        EXPECT_EQ(info.ProfileData != nullptr, size >= profileEnd);
        if (info.ProfileData != nullptr) {
            EXPECT_EQ(info.ProfileData, cut.data() + 12 + 18 + 8);
            EXPECT_EQ(info.ProfileSize, int32_t(OddProfile.size()));
        }
        EXPECT_EQ(info.Orientation, size >= exifEnd ? 8 : 0);
    }
    // Other RIFF forms and near misses are somebody else's.
    for (const char* other :
         {"RIFF\x10\0\0\0WAVEfmt ", "RIFX\x10\0\0\0WEBPVP8L", "RIFF\x10\0\0\0WEBQVP8L"}) {
        const std::string text(other, 16);
        TMemoryReader reader(text.data(), uint32_t(text.size()));
        ImageInfo info{};
        EXPECT_FALSE(ReadWebPInfo(reader, info)) << other;
    }
}

Bytes ReadFile(const std::string& folder, const char* name) {
    std::ifstream in(folder + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return {std::istreambuf_iterator<char>(in), {}};
}

TEST(WebPInfo, PicturesOfDebiansTools) {
    const Bytes adobe = ReadFile(QORVI_PROFILE_FOLDER, "compatibleWithAdobeRGB1998.icc");
    struct Case {
        const char* Name;
        int Orientation;
        Bytes Profile;
    } cases[] = {
        {"rgb.webp", 0, {}},
        {"adobe.webp", 0, adobe},
        // WebP decoders leave the picture as stored: ReadImageInfo keeps the orientation for qorvi.
        {"orient6.webp", 6, {}},
        {"exif-prefix.webp", 8, {}},
        {"anim.webp", 8, adobe},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.Name);
        const ImageReadFixture read(ReadFile(QORVI_IMAGE_FOLDER, test.Name));
        EXPECT_EQ(read.Info.Orientation, test.Orientation);
        EXPECT_EQ(read.Profile(), test.Profile);
        if (!test.Profile.empty()) EXPECT_TRUE(read.PointsIntoFile());
    }
}

}  // namespace
}  // namespace qorvi
