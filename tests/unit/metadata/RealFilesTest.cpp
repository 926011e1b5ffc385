// Files written by Debian's ImageMagick and exiftool (tests/images) read as their tags say.
#include "metadata/ImageInfoReader.h"
#include "tests/unit/metadata/ReadImage.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace qorvi {
namespace {

std::vector<uint8_t> ImageFile(const std::string& name) {
    std::ifstream in(std::string(QORVI_IMAGE_FOLDER) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << name;
    return {std::istreambuf_iterator<char>(in), {}};
}

// Reads a picture of tests/images.
struct NamedFileRead : ImageReadFixture {
    explicit NamedFileRead(const std::string& name) : ImageReadFixture(ImageFile(name)) {}
};

TEST(RealFiles, OrientationFromExif) {
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const NamedFileRead read("orient" + std::to_string(orientation) + ".jpg");
        EXPECT_EQ(read.Info.Orientation, orientation);
        EXPECT_TRUE(read.Info.Flags & HasOrientation);
    }
    const NamedFileRead tiff("orient6-msb.tif");
    ASSERT_GE(tiff.File.size(), 2u);
    EXPECT_EQ(tiff.File[0], 'M');  // written big-endian indeed
    EXPECT_EQ(tiff.Info.Orientation, 6);
    EXPECT_EQ(NamedFileRead("rgb.jpg").Info.Flags, 0u);
}

TEST(RealFiles, ColourSpaceAndGammaFromExif) {
    const NamedFileRead read("exif-colour.jpg");
    EXPECT_EQ(read.Info.Flags & (HasColorSpace | HasGamma), HasColorSpace | HasGamma);
    EXPECT_EQ(read.Info.ColorSpace, 1);
    EXPECT_DOUBLE_EQ(read.Info.Gamma, 2.2);
}

TEST(RealFiles, ChromaticitiesFromTIFF) {
    // ImageMagick writes sRGB's white point and primaries as rationals of 32-bit floats.
    for (const char* name : {"rgb.tif", "rgb-msb.tif"}) {
        const NamedFileRead read(name);
        const ImageInfo& info = read.Info;
        EXPECT_EQ(info.Flags, HasOrientation | HasWhitePoint | HasPrimaries) << name;
        EXPECT_EQ(info.Orientation, 1);
        EXPECT_NEAR(info.WhitePointX, 0.3127, 1e-6);
        EXPECT_NEAR(info.WhitePointY, 0.3290, 1e-6);
        const double primaries[] = {info.RedX,   info.RedY,  info.GreenX,
                                    info.GreenY, info.BlueX, info.BlueY};
        const double srgb[] = {0.64, 0.33, 0.30, 0.60, 0.15, 0.06};
        for (int i = 0; i < 6; ++i) EXPECT_NEAR(primaries[i], srgb[i], 1e-6) << name << " " << i;
    }
}

TEST(RealFiles, EmbeddedProfiles) {
    const std::vector<uint8_t> small = ImageFile("small.icc"), large = ImageFile("large.icc");
    const NamedFileRead jpeg("profile.jpg");
    EXPECT_TRUE(jpeg.Info.Flags & HasProfileData);
    EXPECT_EQ(jpeg.Profile(), small);
    const NamedFileRead tiff("profile.tif");
    EXPECT_TRUE(tiff.Info.Flags & HasProfileData);
    EXPECT_EQ(tiff.Profile(), small);
    const NamedFileRead split("profile-split.jpg");
    EXPECT_TRUE(split.Info.Flags & HasProfileBuffer);
    EXPECT_EQ(split.Profile(), large);
}

}  // namespace
}  // namespace qorvi
