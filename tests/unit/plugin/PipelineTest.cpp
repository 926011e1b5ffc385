// ProcessPicture on bitmaps made here, with a stand-in engine in this process: which stages run
// for which picture and mode, what the colour step converts with, and how a failing stage ends.
#include "color/LCMSDll.h"
#include "plugin/ImageBuffer.h"
#include "plugin/Settings.h"
#include "plugin/SusiePluginMain.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace qorvi {
namespace {

struct Transform {
    const CMSInfo* record;
    int32_t width, height, kind;
};
std::vector<Transform> transforms;
std::vector<std::wstring> faults;

// Inverts what it is given, so a test sees which bytes were converted.
void __cdecl InvertingTransform(CMSInfo* info, const ImageInfo*, void* source, void* destination,
                                int32_t sourceStride, int32_t destinationStride, int32_t width,
                                int32_t height, int32_t kind) {
    transforms.push_back({info, width, height, kind});
    auto* in = static_cast<uint8_t*>(source);
    auto* out = static_cast<uint8_t*>(destination);
    if (kind == TransformPalette) {
        for (int32_t i = 0; i < width * 4; ++i) out[i] = i % 4 == 3 ? in[i] : uint8_t(~in[i]);
        return;
    }
    const int32_t inPixel = kind == TransformCMYK ? 4 : 3;
    for (int32_t y = 0; y < height; ++y)
        for (int32_t x = 0; x < width; ++x)
            for (int32_t c = 0; c < 3; ++c)
                out[y * destinationStride + x * 3 + c] =
                    uint8_t(~in[y * sourceStride + x * inPixel + c]);
}

void RecordFault(const wchar_t* message) { faults.emplace_back(message); }

// A JPEG that holds nothing but an Exif orientation.
std::string OrientedJpeg(uint8_t orientation) {
    const char bytes[] =
        "\xFF\xD8\xFF\xE1\x00\x22"
        "Exif\0\0"
        "II*\0\x08\0\0\0"
        "\x01\0"
        "\x12\x01\x03\0\x01\0\0\0\x06\0\0\0"
        "\0\0\0\0"
        "\xFF\xD9";
    std::string jpeg(bytes, sizeof bytes - 1);
    jpeg[30] = char(orientation);
    return jpeg;
}

// What a child hands over: two unlocked movable blocks.
struct ChildOutput {
    HLOCAL info = nullptr, bits = nullptr;
    ~ChildOutput() {
        LocalFree(info);
        LocalFree(bits);
    }
    BITMAPINFOHEADER Header() const {
        BITMAPINFOHEADER h = *static_cast<BITMAPINFOHEADER*>(LocalLock(info));
        LocalUnlock(info);
        return h;
    }
    std::vector<uint8_t> Bytes(HLOCAL block, size_t from, size_t count) const {
        const auto* p = static_cast<const uint8_t*>(LocalLock(block));
        std::vector<uint8_t> bytes(p + from, p + from + count);
        LocalUnlock(block);
        return bytes;
    }
};

// A picture of `bytesPerPixel` 1 (with a grey or a colour table), 3 or 4 whose pixel bytes are
// all `value`.
void MakePicture(ChildOutput& out, int32_t bytesPerPixel, int32_t width, int32_t height,
                 uint8_t value, bool grey = true) {
    UniqueImage image = AllocateImage(bytesPerPixel, width, height);
    ASSERT_TRUE(image);
    ImageBuffer b = image.release();
    std::memset(b.Bits, value, LocalSize(b.BitsHandle));
    auto* table = reinterpret_cast<uint8_t*>(b.Header) + 40;
    for (int i = 0; bytesPerPixel == 1 && i < 256; ++i) {
        table[4 * i] = uint8_t(i);
        table[4 * i + 1] = uint8_t(grey ? i : 255 - i);
        table[4 * i + 2] = uint8_t(i);
    }
    LocalUnlock(b.InfoHandle);
    LocalUnlock(b.BitsHandle);
    out.info = b.InfoHandle;
    out.bits = b.BitsHandle;
}

// A CMYK bitmap as a child delivers it: 32-bit bit fields, a 56-byte header, four zero masks.
void MakeCMYKPicture(ChildOutput& out, int32_t width, int32_t height, uint32_t pixel) {
    out.info = LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, 56);
    auto* h = static_cast<BITMAPINFOHEADER*>(LocalLock(out.info));
    *h = BITMAPINFOHEADER{56, width, height, 1, 32, BI_BITFIELDS, 0, 0, 0, 0, 0};
    LocalUnlock(out.info);
    out.bits = LocalAlloc(LMEM_MOVEABLE, size_t(width) * height * 4);
    auto* bits = static_cast<uint32_t*>(LocalLock(out.bits));
    for (int32_t i = 0; i < width * height; ++i) bits[i] = pixel;
    LocalUnlock(out.bits);
}

// Takes every free range of the address space while it lives: any block of more than a few
// pages that is allocated meanwhile fails.
class AddressSpaceTaken {
public:
    AddressSpaceTaken() {
        // Room for every 64 KiB of a 4 GiB space, so the list itself never needs memory.
        taken_.reserve(0x10000);
        // Largest pieces first, down to the allocation granularity.
        for (size_t size = size_t(1) << 30; size >= 0x10000; size /= 2)
            while (void* taken = VirtualAlloc(nullptr, size, MEM_RESERVE, PAGE_NOACCESS))
                taken_.push_back(taken);
    }
    ~AddressSpaceTaken() {
        for (void* block : taken_) VirtualFree(block, 0, MEM_RELEASE);
    }

private:
    std::vector<void*> taken_;
};

class Pipeline : public ::testing::Test {
protected:
    void SetUp() override {
        savedEngine = LCMSDll;
        savedReporter = ReportPipelineFault;
        settings.MaxWidth = 1920;
        settings.MaxHeight = 1080;
        LCMSDll = LCMSEntryPoints{};
        LCMSDll.ColorTransform = InvertingTransform;
        ReportPipelineFault = RecordFault;
        transforms.clear();
        faults.clear();
        state.PictureResizer = std::make_unique<TResizer>(1);
        state.ThumbnailResizer = std::make_unique<TResizer>(1);
        SetResizerModes(state, settings);
    }
    void TearDown() override {
        state.PictureResizer.reset();
        state.ThumbnailResizer.reset();
        FreeResizeThreadGroup();
        LCMSDll = savedEngine;
        ReportPipelineFault = savedReporter;
    }
    bool Process(ChildOutput& out, bool preview, const std::string& file = "") {
        TMemoryReader reader(file.data(), uint32_t(file.size()));
        return ProcessPicture(state, settings, reader, out.info, out.bits, preview);
    }

    PluginState state;
    TPluginOption settings;  // the request's snapshot
    LCMSEntryPoints savedEngine;
    FaultReporter savedReporter = nullptr;
};

TEST_F(Pipeline, ConvertsLastWithTheRecordOfItsModeUnlessTheSettingsSayNot) {
    struct Case {
        const char* name;
        bool preview;
        int32_t width, height, mode;
        bool colorManagement;
        const CMSInfo* record;  // null: no conversion
        int32_t convertedWidth, convertedHeight;
    } cases[] = {
        {"picture", false, 300, 200, 3, true, &state.PictureCMSInfo, 300, 200},
        {"picture of thumbnail width", false, 160, 120, 3, true, nullptr, 0, 0},
        {"picture of thumbnail height", false, 100, 160, 3, true, nullptr, 0, 0},
        {"picture inside the thumbnail box", false, 150, 150, 3, true, &state.PictureCMSInfo, 150,
         150},
        {"thumbnail-sized picture, mode 1", false, 160, 120, 1, true, &state.PictureCMSInfo, 160,
         120},
        {"preview, shrunk first", true, 320, 200, 1, true, &state.PreviewCMSInfo, 160, 100},
        {"preview, mode 0", true, 320, 200, 0, true, nullptr, 0, 0},
        {"colour management off", false, 300, 200, 3, false, nullptr, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        transforms.clear();
        settings.ThumbnailCMMode = c.mode;
        settings.ColorManagement = c.colorManagement;
        ChildOutput out;
        MakePicture(out, 3, c.width, c.height, 0x40);
        ASSERT_TRUE(Process(out, c.preview));
        if (c.record == nullptr) {
            EXPECT_TRUE(transforms.empty());
            EXPECT_EQ(out.Bytes(out.bits, 0, 3), std::vector<uint8_t>(3, 0x40));
            continue;
        }
        ASSERT_EQ(transforms.size(), 1u);
        EXPECT_EQ(transforms[0].record, c.record);
        EXPECT_EQ(transforms[0].kind, TransformBGR);
        EXPECT_EQ(transforms[0].width, c.convertedWidth);
        EXPECT_EQ(transforms[0].height, c.convertedHeight);
        EXPECT_EQ(out.Bytes(out.bits, 0, 3), std::vector<uint8_t>(3, 0xBF));
    }
}

TEST_F(Pipeline, PalettedPicturesHaveOnlyTheirTableConvertedAndAreNeverFiltered) {
    // Colour palette: the preview is only decimated (by 4 for a 40 x 40 box at quality 1), the
    // picture keeps its size, and the converted table reaches the header.
    settings.ThumbnailWidth = settings.ThumbnailHeight = 40;
    settings.LimitedOutputSize = true;
    settings.MaxWidth = settings.MaxHeight = 100;
    for (bool preview : {true, false}) {
        SCOPED_TRACE(preview ? "preview" : "picture");
        transforms.clear();
        ChildOutput out;
        MakePicture(out, 1, 1000, 750, 7, false);
        ASSERT_TRUE(Process(out, preview));
        const BITMAPINFOHEADER h = out.Header();
        EXPECT_EQ(h.biBitCount, 8);
        EXPECT_EQ(h.biWidth, preview ? 250 : 1000);
        EXPECT_EQ(h.biHeight, preview ? 188 : 750);
        ASSERT_EQ(transforms.size(), 1u);
        EXPECT_EQ(transforms[0].kind, TransformPalette);
        EXPECT_EQ(transforms[0].width, 256);
        // Entry 7 was (7, 248, 7): inverted, with its reserved byte kept.
        EXPECT_EQ(out.Bytes(out.info, 40 + 4 * 7, 4), (std::vector<uint8_t>{248, 7, 248, 0}));
    }
}

// Decimation leaves a new 8-bit buffer's table empty: the grey ramp must be judged before it, or
// a grey preview would never be shrunk into its box.
TEST_F(Pipeline, GreyPicturesAreDecimatedThenFilteredAndGetTheirRampBack) {
    settings.ThumbnailWidth = settings.ThumbnailHeight = 40;
    ChildOutput out;
    MakePicture(out, 1, 1000, 750, 100);
    ASSERT_TRUE(Process(out, true));
    const BITMAPINFOHEADER h = out.Header();
    EXPECT_EQ(h.biBitCount, 8);
    EXPECT_EQ(h.biWidth, 40);
    EXPECT_EQ(h.biHeight, 30);
    EXPECT_EQ(out.Bytes(out.bits, 0, 4), std::vector<uint8_t>(4, 100));
    EXPECT_EQ(out.Bytes(out.info, 40 + 4 * 200, 4), (std::vector<uint8_t>{55, 55, 55, 0}));
}

TEST_F(Pipeline, CMYKBecomesRGBWhateverTheSettingsAndIsFittedToTheTurnedBoxUnturned) {
    settings.ColorManagement = false;
    settings.LimitedOutputSize = true;
    settings.MaxWidth = 100;
    settings.MaxHeight = 50;
    const std::string turned = OrientedJpeg(6);
    // C = 255, M = 0, Y = 0, K = 0: cyan.
    const uint32_t cyan = 0x000000FF;
    {
        ChildOutput out;
        MakeCMYKPicture(out, 200, 100, cyan);
        ASSERT_TRUE(Process(out, false, turned));
        const BITMAPINFOHEADER h = out.Header();
        EXPECT_EQ(h.biBitCount, 24);
        EXPECT_EQ(h.biWidth, 50);  // fitted into 50 x 100, then not turned
        EXPECT_EQ(h.biHeight, 25);
        ASSERT_EQ(transforms.size(), 1u);
        EXPECT_EQ(transforms[0].kind, TransformCMYK);
        EXPECT_EQ(transforms[0].record, &state.PictureCMSInfo);
    }
    // Without an engine the plain complement: cyan is B, G, R = 255, 255, 0.
    LCMSDll.ColorTransform = nullptr;
    for (uint32_t pixel : {cyan, 0xFF000000u}) {
        ChildOutput out;
        MakeCMYKPicture(out, 8, 4, pixel);
        ASSERT_TRUE(Process(out, true));
        EXPECT_EQ(out.Header().biBitCount, 24);
        EXPECT_EQ(out.Bytes(out.bits, 0, 3),
                  pixel == cyan ? (std::vector<uint8_t>{255, 255, 0}) : std::vector<uint8_t>(3, 0));
    }
}

TEST_F(Pipeline, TurnsPicturesByTheFileAndLeavesThemWhenRotationIsOff) {
    for (bool automatic : {true, false}) {
        settings.AutomaticRotation = automatic;
        ChildOutput out;
        MakePicture(out, 3, 30, 20, 1);
        ASSERT_TRUE(Process(out, false, OrientedJpeg(6)));
        EXPECT_EQ(out.Header().biWidth, automatic ? 20 : 30);
    }
    // A file that breaks off in its Exif block only loses its metadata.
    ChildOutput out;
    MakePicture(out, 3, 30, 20, 1);
    ASSERT_TRUE(Process(out, false, OrientedJpeg(6).substr(0, 24)));
    EXPECT_EQ(out.Header().biWidth, 30);
    EXPECT_TRUE(faults.empty());
}

TEST_F(Pipeline, AStageThatCannotGetItsBufferIsReportedOnceAndFails) {
#ifdef _WIN64
    // Wine keeps a byte per page of every reserved range: taking a 64-bit process's 128 TiB would
    // cost it 32 GiB of memory. The stages' code is the same in both builds; the 32-bit run holds
    // it.
    GTEST_SKIP() << "a 64-bit address space cannot be taken whole";
#endif
    struct Case {
        const char* message;
        bool preview;
        int32_t width, height, orientation;
    } cases[] = {
        {"Error in NormalResize", false, 3000, 2000, 1},
        {"Error in ExifRotation", false, 1000, 800, 6},
        {"Error in NearestNeighborResize", true, 3000, 2400, 1},  // halved for a 500 x 500 box
    };
    settings.LimitedOutputSize = true;
    settings.ThumbnailQuality = 0;
    settings.ThumbnailWidth = settings.ThumbnailHeight = 500;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        faults.clear();
        ChildOutput out;
        MakePicture(out, 3, c.width, c.height, 9);
        const std::string file = OrientedJpeg(uint8_t(c.orientation));
        bool done;
        {
            AddressSpaceTaken full;
            done = Process(out, c.preview, file);
        }
        EXPECT_FALSE(done);
        ASSERT_EQ(faults.size(), 1u);
        EXPECT_EQ(faults[0], std::wstring(c.message, c.message + std::strlen(c.message)));
        // The caller frees what the variables hold: the child's untouched bitmap.
        EXPECT_EQ(out.Header().biWidth, c.width);
        EXPECT_EQ(LocalFlags(out.bits) & LMEM_LOCKCOUNT, 0u);
    }
}

}  // namespace
}  // namespace qorvi
