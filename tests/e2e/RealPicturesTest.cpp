// Real picture files (made by ImageMagick at build time, see tests/images) through qorvi.spi and
// the sample decoder wicdec.spi, as a viewer with both in its plug-in folder would get them.
#include "tests/e2e/PluginHost.h"

#include <gtest/gtest.h>

#include <string>

namespace qorvi::test {
namespace {

struct Expected {
    const char* file;
    int bitCount;
};

// Every test picture is 64 x 48. Pictures with alpha arrive composited, at 24 bits.
constexpr Expected Pictures[] = {
    {"rgb.jpg", 24},     {"rgb.png", 24},   {"rgba.png", 24},      {"grey.png", 8},
    {"palette.png", 8},  {"rgb.tif", 24},   {"rgb300dpi.tif", 24}, {"rgb.bmp", 24},
    {"palette4.bmp", 8}, {"ramp8.bmp", 8},  {"rgb.gif", 8},        {"transparent.gif", 24},
    {"anim.gif", 8},     {"rgb16.png", 24}, {"rgba16.png", 24},
};

class RealPictures : public ::testing::Test {
protected:
    void Load(const std::string& settings = "") {
        folder.AddBuilt("wicdec.spi", "wicdec.spi");
        if (!settings.empty()) folder.AddFile("qorvi.ini", settings);
        plugin.Load();
    }
    static std::string Picture(const char* file) {
        return BuiltPath(std::string("images\\") + file);
    }

    TempPluginFolder folder;
    PluginHost plugin{folder};
};

TEST_F(RealPictures, DecodeWithTheirSizeAndDepthFromFileAndMemory) {
    Load();
    for (const Expected& expected : Pictures) {
        SCOPED_TRACE(expected.file);
        const std::string path = Picture(expected.file);
        const std::string bytes = ReadWholeFile(path);
        ASSERT_FALSE(bytes.empty());

        PictureInfo info{};
        ASSERT_EQ(plugin.GetPictureInfo(path.c_str(), 0, SusieInputFile, &info), SusieSuccess);
        EXPECT_EQ(info.width, 64);
        EXPECT_EQ(info.height, 48);
        EXPECT_EQ(
            plugin.IsSupported(path.c_str(), reinterpret_cast<SusieHandleOrHead>(bytes.data())), 1);

        for (bool memory : {false, true}) {
            ReceivedBitmap out;
            const int result =
                memory ? plugin.GetPicture(bytes.data(), static_cast<SusieLength>(bytes.size()),
                                           SusieInputMemory, &out.info, &out.bits, nullptr, 0)
                       : plugin.GetPicture(path.c_str(), 0, SusieInputFile, &out.info, &out.bits,
                                           nullptr, 0);
            ASSERT_EQ(result, SusieSuccess) << (memory ? "memory" : "file");
            const BITMAPINFOHEADER header = out.Header();
            EXPECT_EQ(header.biWidth, 64);
            EXPECT_EQ(header.biHeight, 48);
            EXPECT_EQ(header.biBitCount, expected.bitCount);
            const size_t stride = (64u * expected.bitCount / 8 + 3) & ~3u;
            EXPECT_GE(out.Bits().size(), stride * 48);
        }

        // The sample decoder has no GetPreview: the picture itself comes back.
        ReceivedBitmap preview;
        ASSERT_EQ(plugin.GetPreview(path.c_str(), 0, SusieInputFile, &preview.info, &preview.bits,
                                    nullptr, 0),
                  SusieSuccess);
        EXPECT_EQ(preview.Header().biWidth, 64);
    }
}

// With colour management on, the decoder is told it may deliver CMYK as such; with it off it
// delivers RGB.
TEST_F(RealPictures, CMYKPicturesFollowTheColourManagementSetting) {
    Load("[Default]\nColorManagement=0\n");
    for (const char* file : {"cmyk.jpg", "cmyk.tif"}) {
        ReceivedBitmap out;
        ASSERT_EQ(plugin.GetPicture(Picture(file).c_str(), 0, SusieInputFile, &out.info, &out.bits,
                                    nullptr, 0),
                  SusieSuccess)
            << file;
        EXPECT_EQ(out.Header().biBitCount, 24) << file;
    }
}

TEST_F(RealPictures, CorruptPicturesFailWithoutHarm) {
    Load();
    for (const Expected& expected : Pictures) {
        const std::string bytes = ReadWholeFile(Picture(expected.file));
        for (size_t cut : {size_t{16}, bytes.size() / 3}) {
            const std::string head = bytes.substr(0, cut);
            ReceivedBitmap out;
            const int result =
                plugin.GetPicture(head.data(), static_cast<SusieLength>(head.size()),
                                  SusieInputMemory, &out.info, &out.bits, nullptr, 0);
            // A decoder may show what it could read of a cut picture; it must not crash or
            // report success without a picture.
            if (result == SusieSuccess) {
                EXPECT_NE(out.info, nullptr) << expected.file << " cut at " << cut;
                EXPECT_NE(out.bits, nullptr) << expected.file << " cut at " << cut;
            }
        }
    }
}

}  // namespace
}  // namespace qorvi::test
