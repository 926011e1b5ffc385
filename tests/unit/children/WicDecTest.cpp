// wicdec.spi end to end: loaded with LoadLibrary and called through its exports as a host (and
// qorvi.spi) does, on the pictures tests/images makes (see its list for their contents).
#include "base/WinHandles.h"
#include "base/WinText.h"
#include "hostplugins/SusieInterface.h"
#include "hostplugins/SusiePluginList.h"
#include "tests/unit/TestSupport.h"

#include <gtest/gtest.h>

#include <objbase.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace qorvi {
namespace {

std::string ChildPath() { return test::BuiltPath("wicdec.spi"); }
std::string ImagePath(const std::string& name) { return test::BuiltPath("images\\" + name); }

std::string ReadBytes(const std::string& path) {
    std::string bytes = test::ReadWholeFile(path);
    if (bytes.empty()) throw std::runtime_error("cannot read " + path);
    return bytes;
}
std::string Picture(const std::string& name) { return ReadBytes(ImagePath(name)); }

using test::TempFile;

// Bytes that end exactly at a page the process may not touch: a read past them faults.
class FencedBytes {
public:
    explicit FencedBytes(const std::string& bytes) {
        const size_t page = 4096, pages = (bytes.size() + page - 1) / page;
        base_ = static_cast<char*>(
            VirtualAlloc(nullptr, (pages + 1) * page, MEM_RESERVE, PAGE_NOACCESS));
        if (!base_ || (pages && !VirtualAlloc(base_, pages * page, MEM_COMMIT, PAGE_READWRITE)))
            throw std::runtime_error("VirtualAlloc failed");
        data_ = base_ + pages * page - bytes.size();
        std::memcpy(data_, bytes.data(), bytes.size());
    }
    ~FencedBytes() { VirtualFree(base_, 0, MEM_RELEASE); }
    FencedBytes(const FencedBytes&) = delete;
    FencedBytes& operator=(const FencedBytes&) = delete;
    const char* Data() const { return data_; }

private:
    char* base_ = nullptr;
    char* data_ = nullptr;
};

// The child's exports, bound once for the whole program. It has no GetPreview.
struct Child : SusieEntryPoints {
    UniqueModule module;
    IsSupported2Proc IsSupported2 = nullptr;
    UseCMYKColorSpaceProc UseCMYKColorSpace = nullptr;

    static const Child& Get() {
        static const Child child;
        return child;
    }

private:
    Child() : module(LoadLibraryA(ChildPath().c_str())) {
        if (!module) throw std::runtime_error("cannot load " + ChildPath());
        Bind(module.get());
        IsSupported2 = EntryPoint<IsSupported2Proc>(module.get(), "IsSupported2");
        UseCMYKColorSpace = EntryPoint<UseCMYKColorSpaceProc>(module.get(), "UseCMYKColorSpace");
        if (!GetPluginInfo || !IsSupported || !IsSupported2 || !GetPictureInfo || !GetPicture ||
            !ConfigurationDlg || !UseCMYKColorSpace)
            throw std::runtime_error("wicdec.spi lacks one of its exports");
    }
};

// Asks for CMYK while it lives; the child is process-wide, so every test leaves it off.
class CmykOn {
public:
    CmykOn() { Child::Get().UseCMYKColorSpace(-1); }
    ~CmykOn() { Child::Get().UseCMYKColorSpace(0); }
};

struct Pixel {
    int b = 0, g = 0, r = 0, a = 255;
};

// A copy of what GetPicture delivered, checked for the host interface's promises on the way.
struct Bitmap {
    BITMAPINFOHEADER header{};
    std::vector<uint8_t> info;  // header, masks and colour table
    std::vector<uint8_t> bits;
    size_t stride = 0;

    // (x, y) counted from the top left, as the picture is seen.
    Pixel At(int x, int y) const {
        const uint8_t* row = bits.data() + size_t(header.biHeight - 1 - y) * stride;
        Pixel p;
        switch (header.biBitCount) {
        case 8: {
            const uint8_t* entry = info.data() + header.biSize + size_t(row[x]) * 4;
            p.b = entry[0], p.g = entry[1], p.r = entry[2];
            break;
        }
        case 24: p.b = row[x * 3], p.g = row[x * 3 + 1], p.r = row[x * 3 + 2]; break;
        case 32:
            p.b = row[x * 4], p.g = row[x * 4 + 1], p.r = row[x * 4 + 2], p.a = row[x * 4 + 3];
            break;
        }
        return p;
    }
    const uint8_t* Raw(int x, int y) const {
        return bits.data() + size_t(header.biHeight - 1 - y) * stride +
               size_t(x) * header.biBitCount / 8;
    }
};

// Copies and frees the two blocks; records a failure when they break a promise.
Bitmap Take(HLOCAL infoHandle, HLOCAL bitsHandle) {
    Bitmap bitmap;
    UniqueLocal info(infoHandle), bits(bitsHandle);
    EXPECT_TRUE(info && bits);
    if (!info || !bits) return bitmap;
    auto* header = static_cast<const BITMAPINFOHEADER*>(LocalLock(info.get()));
    const uint8_t* pixels = static_cast<const uint8_t*>(LocalLock(bits.get()));
    // Movable blocks: the locked address differs from the handle.
    EXPECT_NE(static_cast<const void*>(header), infoHandle);
    EXPECT_NE(static_cast<const void*>(pixels), bitsHandle);
    bitmap.header = *header;
    EXPECT_GE(header->biSize, sizeof(BITMAPINFOHEADER));
    EXPECT_GT(header->biHeight, 0) << "rows are bottom-up";
    const size_t infoBytes = header->biSize + size_t(header->biClrUsed) * 4;
    EXPECT_GE(LocalSize(info.get()), infoBytes);
    bitmap.info.assign(reinterpret_cast<const uint8_t*>(header),
                       reinterpret_cast<const uint8_t*>(header) + infoBytes);
    bitmap.stride = (size_t(header->biWidth) * header->biBitCount + 31) / 32 * 4;
    const size_t bitsBytes = bitmap.stride * size_t(header->biHeight);
    EXPECT_GE(LocalSize(bits.get()), bitsBytes);
    bitmap.bits.assign(pixels, pixels + std::min<size_t>(bitsBytes, LocalSize(bits.get())));
    LocalUnlock(info.get());
    LocalUnlock(bits.get());
    return bitmap;
}

// The three ways a host hands over a picture, with flag bits a child must ignore mixed in.
enum class Source { Memory, FileAt0, FileAt128 };
const Source AllSources[] = {Source::Memory, Source::FileAt0, Source::FileAt128};
const char* Name(Source source) {
    return source == Source::Memory    ? "memory"
           : source == Source::FileAt0 ? "file at 0"
                                       : "file at 128";
}

// One picture prepared for one kind of input.
class Request {
public:
    Request(const std::string& bytes, Source source) : bytes_(bytes) {
        if (source == Source::Memory) {
            buf_ = bytes_.data(), len_ = long(bytes_.size()), flag_ = SusieInputMemory | 0x80;
        } else {
            const long offset = source == Source::FileAt0 ? 0 : 128;
            file_ = std::make_unique<TempFile>(std::string(size_t(offset), '\x5A') + bytes_);
            buf_ = file_->Path().c_str(), len_ = offset, flag_ = SusieInputFile | 0x100;
        }
    }
    int GetPicture(Bitmap* bitmap, SusieProgressCallback progress = nullptr,
                   SusieLength lData = 0) const {
        HLOCAL info = reinterpret_cast<HLOCAL>(0x1111), bits = reinterpret_cast<HLOCAL>(0x2222);
        int result = Child::Get().GetPicture(buf_, len_, flag_, &info, &bits, progress, lData);
        if (result == SusieSuccess) {
            Bitmap taken = Take(info, bits);
            if (bitmap) *bitmap = std::move(taken);
        } else {
            // Nothing is stored on failure.
            EXPECT_EQ(info, reinterpret_cast<HLOCAL>(0x1111));
            EXPECT_EQ(bits, reinterpret_cast<HLOCAL>(0x2222));
        }
        return result;
    }
    int GetPictureInfo(PictureInfo& info) const {
        return Child::Get().GetPictureInfo(buf_, len_, flag_, &info);
    }

private:
    std::string bytes_;
    std::unique_ptr<TempFile> file_;
    const char* buf_ = nullptr;
    long len_ = 0;
    unsigned flag_ = 0;
};

struct Probe {
    int x, y;
    int r, g, b;
    int a = 255;  // -1: alpha not checked
    bool colour = true;
};
const std::vector<Probe> Quadrants = {
    {16, 12, 255, 0, 0}, {48, 12, 0, 255, 0}, {16, 36, 0, 0, 255}, {48, 36, 200, 30, 60}};
Probe Grey(int x, int y, int v) { return {x, y, v, v, v}; }

struct PictureCase {
    const char* file;
    int bitCount;
    int tolerance;
    std::vector<Probe> probes;
    int width = 64, height = 48;
};
// clang-format off
const PictureCase Pictures[] = {
    {"rgb.jpg", 24, 10, Quadrants},
    {"rgb.png", 24, 0, Quadrants},
    {"rgba.png", 32, 0, {{16, 12, 255, 0, 0, 255}, {48, 12, 0, 255, 0, 127},
                         {16, 36, 0, 0, 255, 64},
                         {48, 36, 0, 0, 0, 0, false}}},
    {"rgba16.png", 32, 1, {{16, 12, 255, 0, 0, 255}, {48, 12, 0, 255, 0, 127},
                           {16, 36, 0, 0, 255, 64},
                           {48, 36, 0, 0, 0, 0, false}}},
    {"grey.png", 8, 0,
     {Grey(16, 12, 10), Grey(48, 12, 100), Grey(16, 36, 180), Grey(48, 36, 250)}},
    {"palette.png", 8, 0, Quadrants},
    {"mono.png", 8, 0, {{16, 24, 255, 0, 0}, {48, 24, 0, 0, 255}}},
    {"rgb16.png", 24, 1, {{0, 0, 19, 129, 205}, {63, 47, 19, 129, 205}}},
    {"rgb.tif", 24, 0, Quadrants},
    {"rgb300dpi.tif", 24, 0, Quadrants},
    {"rgb.bmp", 24, 0, Quadrants},
    {"palette4.bmp", 8, 0, Quadrants},
    {"ramp8.bmp", 8, 1, {Grey(5, 0, 0), Grey(5, 10, 54), Grey(5, 47, 255)}},
    {"rgb.gif", 8, 0, Quadrants},
    {"transparent.gif", 32, 0, {{16, 12, 255, 0, 0, 255}, {48, 12, 0, 0, 0, 0, false},
                                {16, 36, 0, 0, 255, 255}, {48, 36, 200, 30, 60, 255}}},
    {"anim.gif", 8, 0, {{32, 24, 255, 0, 0}}},  // the first frame only
    {"cmyk.jpg", 24, 10, {{16, 24, 0, 255, 255}, {48, 24, 0, 0, 0}}},
    {"cmyk.tif", 24, 1, {{16, 24, 0, 255, 255}, {48, 24, 0, 0, 0}}},
};
// clang-format on

void ExpectProbes(const Bitmap& bitmap, const PictureCase& c) {
    for (const Probe& probe : c.probes) {
        const Pixel p = bitmap.At(probe.x, probe.y);
        SCOPED_TRACE(testing::Message() << "at (" << probe.x << "," << probe.y << ") got rgba("
                                        << p.r << "," << p.g << "," << p.b << "," << p.a << ")");
        if (probe.colour) {
            EXPECT_NEAR(p.r, probe.r, c.tolerance);
            EXPECT_NEAR(p.g, probe.g, c.tolerance);
            EXPECT_NEAR(p.b, probe.b, c.tolerance);
        }
        if (probe.a >= 0) {
            EXPECT_NEAR(p.a, probe.a, c.tolerance);
        }
    }
}

TEST(WicDecPictures, EveryPictureFromMemoryAndFromFilesAtOffsets) {
    for (const PictureCase& c : Pictures) {
        const std::string bytes = Picture(c.file);
        for (Source source : AllSources) {
            SCOPED_TRACE(testing::Message() << c.file << " from " << Name(source));
            Request request(bytes, source);
            Bitmap bitmap;
            ASSERT_EQ(request.GetPicture(&bitmap), SusieSuccess);
            EXPECT_EQ(bitmap.header.biWidth, c.width);
            EXPECT_EQ(bitmap.header.biHeight, c.height);
            EXPECT_EQ(bitmap.header.biBitCount, c.bitCount);
            EXPECT_EQ(bitmap.header.biSize, sizeof(BITMAPINFOHEADER));
            EXPECT_EQ(bitmap.header.biCompression, DWORD(BI_RGB));
            if (c.bitCount == 8) {
                EXPECT_GE(bitmap.header.biClrUsed, 2u);
                EXPECT_LE(bitmap.header.biClrUsed, 256u);
            } else {
                EXPECT_EQ(bitmap.header.biClrUsed, 0u);
            }
            ExpectProbes(bitmap, c);

            // GetPictureInfo tells what GetPicture delivers.
            PictureInfo info;
            std::memset(&info, 0xCC, sizeof info);
            ASSERT_EQ(request.GetPictureInfo(info), SusieSuccess);
            EXPECT_EQ(info.left, 0);
            EXPECT_EQ(info.top, 0);
            EXPECT_EQ(info.width, c.width);
            EXPECT_EQ(info.height, c.height);
            EXPECT_EQ(info.colorDepth, c.bitCount);
            EXPECT_EQ(info.hInfo, nullptr);
        }
    }
}

TEST(WicDecPictures, ResolutionReachesHeaderAndInfo) {
    Request request(Picture("rgb300dpi.tif"), Source::Memory);
    Bitmap bitmap;
    ASSERT_EQ(request.GetPicture(&bitmap), SusieSuccess);
    EXPECT_NEAR(bitmap.header.biXPelsPerMeter, 11811, 1);  // 300 / 0.0254
    EXPECT_NEAR(bitmap.header.biYPelsPerMeter, 11811, 1);
    PictureInfo info{};
    ASSERT_EQ(request.GetPictureInfo(info), SusieSuccess);
    EXPECT_EQ(info.x_density, 300);
    EXPECT_EQ(info.y_density, 300);
}

TEST(WicDecCmyk, MarkedBufferHoldsUninvertedInk) {
    CmykOn on;
    struct Case {
        const char* file;
        int tolerance;
    };
    for (const Case& c : {Case{"cmyk.jpg", 10}, Case{"cmyk.tif", 1}}) {
        for (Source source : {Source::Memory, Source::FileAt128}) {
            SCOPED_TRACE(testing::Message() << c.file << " from " << Name(source));
            Request request(Picture(c.file), source);
            Bitmap bitmap;
            ASSERT_EQ(request.GetPicture(&bitmap), SusieSuccess);
            // The marking qorvi.spi looks for.
            EXPECT_EQ(bitmap.header.biSize, 56u);
            EXPECT_EQ(bitmap.header.biBitCount, 32);
            EXPECT_EQ(bitmap.header.biCompression, DWORD(BI_BITFIELDS));
            EXPECT_EQ(bitmap.header.biClrUsed, 0u);
            ASSERT_EQ(bitmap.info.size(), 56u);
            EXPECT_EQ(std::vector<uint8_t>(bitmap.info.begin() + 40, bitmap.info.end()),
                      std::vector<uint8_t>(16, 0));
            // Bytes C, M, Y, K; 255 is full ink.
            const int cyan[] = {255, 0, 0, 0}, black[] = {0, 0, 0, 255};
            for (int channel = 0; channel < 4; ++channel) {
                EXPECT_NEAR(bitmap.Raw(16, 24)[channel], cyan[channel], c.tolerance)
                    << "cyan, channel " << channel;
                EXPECT_NEAR(bitmap.Raw(48, 24)[channel], black[channel], c.tolerance)
                    << "black, channel " << channel;
            }
            PictureInfo info{};
            ASSERT_EQ(request.GetPictureInfo(info), SusieSuccess);
            EXPECT_EQ(info.colorDepth, 32);
        }
    }
}

TEST(WicDecCmyk, OnlyCmykPicturesChangeAndOffRestoresRgb) {
    Bitmap bitmap;
    {
        CmykOn on;
        // An RGB picture is delivered as before.
        ASSERT_EQ(Request(Picture("rgb.jpg"), Source::Memory).GetPicture(&bitmap), SusieSuccess);
        EXPECT_EQ(bitmap.header.biBitCount, 24);
        EXPECT_EQ(bitmap.header.biSize, sizeof(BITMAPINFOHEADER));
    }
    // Switched off again, CMYK comes as RGB.
    ASSERT_EQ(Request(Picture("cmyk.jpg"), Source::Memory).GetPicture(&bitmap), SusieSuccess);
    EXPECT_EQ(bitmap.header.biBitCount, 24);
    EXPECT_EQ(bitmap.header.biCompression, DWORD(BI_RGB));
}

TEST(WicDecSupport, IsSupportedFromHandleAndHead) {
    const Child& child = Child::Get();
    TempFile text("just some text, not a picture at all");
    std::vector<std::pair<std::string, int>> files = {{text.Path(), 0}};
    for (const PictureCase& c : Pictures) files.emplace_back(ImagePath(c.file), 1);
    for (const auto& [path, expected] : files) {
        SCOPED_TRACE(path);
        UniqueFile file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr));
        ASSERT_TRUE(file);
        const auto handle = reinterpret_cast<ULONG_PTR>(file.get());
        ASSERT_EQ(handle >> 16, 0u) << "a handle this large would read as a pointer";
        EXPECT_EQ(child.IsSupported(path.c_str(), DWORD(handle)) != 0, expected != 0);
        // The host's file position is left where it was.
        EXPECT_EQ(SetFilePointer(file.get(), 0, nullptr, FILE_CURRENT), 0u);

        std::string head = ReadBytes(path);
        head.resize(SusieHeadBytes, '\0');
        EXPECT_EQ(
            child.IsSupported(path.c_str(), DWORD(reinterpret_cast<ULONG_PTR>(head.data()))) != 0,
            expected != 0);
        EXPECT_EQ(child.IsSupported(nullptr, DWORD(reinterpret_cast<ULONG_PTR>(head.data()))) != 0,
                  expected != 0);
    }
    // Not a handle of an open file.
    EXPECT_EQ(child.IsSupported("x.jpg", 0), 0);
}

TEST(WicDecSupport, IsSupported2ReadsOnlyWhatItIsGiven) {
    const Child& child = Child::Get();
    for (const PictureCase& c : Pictures) {
        const std::string bytes = Picture(c.file);
        SCOPED_TRACE(c.file);
        for (size_t size : {size_t(0), size_t(1), size_t(2), size_t(8), bytes.size()}) {
            const std::string cut = bytes.substr(0, size);
            FencedBytes fenced(cut);
            // Two bytes suffice for "BM" only; from 8 on every signature is complete.
            const bool expected = size >= 8 || (size >= 2 && cut.compare(0, 2, "BM") == 0);
            EXPECT_EQ(child.IsSupported2(fenced.Data(), DWORD(size)) != 0, expected)
                << "size " << size;
        }
    }
    EXPECT_EQ(child.IsSupported2(nullptr, 100), 0);
    FencedBytes junk("QVT1 and not a picture");
    EXPECT_EQ(child.IsSupported2(junk.Data(), 22), 0);
}

TEST(WicDecInfo, PluginInfoStringsAndTruncation) {
    const Child& child = Child::Get();
    const char* expected[] = {"00IN",         nullptr, "*.jpg;*.jpeg;*.jpe;*.jfif",
                              "JPEG",         "*.png", "PNG",
                              "*.tif;*.tiff", "TIFF",  "*.bmp;*.dib",
                              "BMP",          "*.gif", "GIF"};
    char buffer[256];
    for (int i = 0; i < int(std::size(expected)); ++i) {
        std::memset(buffer, 'X', sizeof buffer);
        const int length = child.GetPluginInfo(i, buffer, sizeof buffer);
        ASSERT_GT(length, 0) << i;
        EXPECT_EQ(size_t(length), std::strlen(buffer)) << i;
        if (expected[i]) {
            EXPECT_STREQ(buffer, expected[i]);
        }
    }
    child.GetPluginInfo(1, buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer).rfind("wicdec ", 0), 0u) << buffer;

    struct Cut {
        int infono, buflen, result;
        const char* text;  // null: the buffer is untouched
    };
    const Cut cuts[] = {{0, 5, 4, "00IN"},     {0, 4, 3, "00I"},      {0, 2, 1, "0"},
                        {0, 1, 0, ""},         {0, 0, 0, nullptr},    {0, -3, 0, nullptr},
                        {12, 256, 0, nullptr}, {-1, 256, 0, nullptr}, {3, 3, 2, "JP"}};
    for (const Cut& cut : cuts) {
        std::memset(buffer, 'X', sizeof buffer);
        EXPECT_EQ(child.GetPluginInfo(cut.infono, buffer, cut.buflen), cut.result)
            << cut.infono << "/" << cut.buflen;
        if (cut.text) {
            EXPECT_STREQ(buffer, cut.text);
        } else {
            EXPECT_EQ(buffer[0], 'X');
        }
        if (cut.buflen >= 0 && cut.buflen < int(sizeof buffer)) {
            EXPECT_EQ(buffer[cut.buflen], 'X') << "nothing beyond buflen";
        }
    }
    EXPECT_EQ(child.ConfigurationDlg(nullptr, 0), SusieNotImplemented);
    EXPECT_EQ(child.ConfigurationDlg(nullptr, 1), SusieNotImplemented);
}

// Truncations at several lengths and hostile variants of each format: an error code, or a picture
// that keeps every promise, but never a crash or a read past the block.
TEST(WicDecRobust, TruncatedAndCorruptInputs) {
    for (const char* file :
         {"rgb.jpg", "cmyk.jpg", "rgb.png", "palette.png", "rgba16.png", "rgb.tif", "rgb300dpi.tif",
          "rgb.bmp", "palette4.bmp", "rgb.gif", "transparent.gif"}) {
        const std::string bytes = Picture(file);
        std::vector<std::string> variants;
        for (size_t cut : {size_t(1), size_t(2), size_t(4), size_t(8), size_t(16), size_t(33),
                           size_t(64), size_t(100), bytes.size() / 2, bytes.size() - 1})
            if (cut < bytes.size()) variants.push_back(bytes.substr(0, cut));
        // The head kept, the rest scrambled.
        std::string scrambled = bytes;
        for (size_t i = 8; i < scrambled.size(); ++i)
            scrambled[i] = char(scrambled[i] * 31 + i * 7);
        variants.push_back(scrambled);
        // Every eighth byte after the head set to 0xFF.
        std::string spiked = bytes;
        for (size_t i = 16; i < spiked.size(); i += 8) spiked[i] = '\xFF';
        variants.push_back(spiked);

        for (const std::string& variant : variants) {
            SCOPED_TRACE(testing::Message()
                         << file << ", variant of " << variant.size() << " bytes");
            FencedBytes fenced(variant);
            HLOCAL info = nullptr, bits = nullptr;
            const int result = Child::Get().GetPicture(fenced.Data(), long(variant.size()),
                                                       SusieInputMemory, &info, &bits, nullptr, 0);
            if (result == SusieSuccess) {
                Take(info, bits);
            } else {
                EXPECT_TRUE(result == SusieUnsupported || result == 3 || result == SusieOutOfMemory)
                    << result;
                EXPECT_EQ(info, nullptr);
                EXPECT_EQ(bits, nullptr);
            }
            // What the support test refuses, the decoder calls unknown.
            if (!Child::Get().IsSupported2(fenced.Data(), DWORD(variant.size()))) {
                EXPECT_EQ(result, SusieUnsupported);
            }
            PictureInfo pictureInfo{};
            const int infoResult = Child::Get().GetPictureInfo(fenced.Data(), long(variant.size()),
                                                               SusieInputMemory, &pictureInfo);
            EXPECT_TRUE(infoResult == SusieSuccess || infoResult == SusieUnsupported ||
                        infoResult == 3 || infoResult == SusieOutOfMemory)
                << infoResult;
        }
    }
}

TEST(WicDecRobust, EmptyMissingAndUnknownInputs) {
    const Child& child = Child::Get();
    TempFile empty(""), text("GIF8 is not enough");
    const std::string jpeg = Picture("rgb.jpg");
    TempFile picture(jpeg);
    struct Case {
        const char* name;
        const char* buf;
        SusieLength len;
        unsigned flag;
        int result;
    };
    const std::string missing = test::BuiltPath("images") + "\\no such picture.jpg";
    const Case cases[] = {
        {"empty memory", "", 0, SusieInputMemory, SusieUnsupported},
        {"null memory", nullptr, 100, SusieInputMemory, SusieUnsupported},
        {"negative length", jpeg.data(), -5, SusieInputMemory, SusieUnsupported},
        {"empty file", empty.Path().c_str(), 0, SusieInputFile, SusieUnsupported},
        {"unknown file", text.Path().c_str(), 0, SusieInputFile, SusieUnsupported},
        {"missing file", missing.c_str(), 0, SusieInputFile, SusieReadError},
        {"null file name", nullptr, 0, SusieInputFile, SusieReadError},
        {"offset at the end", picture.Path().c_str(), long(jpeg.size()), SusieInputFile,
         SusieUnsupported},
        {"offset past the end", picture.Path().c_str(), long(jpeg.size()) + 1, SusieInputFile,
         SusieReadError},
        {"negative offset", picture.Path().c_str(), -1, SusieInputFile, SusieReadError},
    };
    for (const Case& c : cases) {
        HLOCAL info = nullptr, bits = nullptr;
        EXPECT_EQ(child.GetPicture(c.buf, c.len, c.flag, &info, &bits, nullptr, 0), c.result)
            << c.name;
        EXPECT_EQ(info, nullptr) << c.name;
        PictureInfo pictureInfo{};
        EXPECT_EQ(child.GetPictureInfo(c.buf, c.len, c.flag, &pictureInfo), c.result) << c.name;
    }
    // Missing outputs.
    HLOCAL handle = nullptr;
    EXPECT_EQ(child.GetPicture(jpeg.data(), long(jpeg.size()), SusieInputMemory, nullptr, &handle,
                               nullptr, 0),
              SusieInternalError);
    EXPECT_EQ(child.GetPictureInfo(jpeg.data(), long(jpeg.size()), SusieInputMemory, nullptr),
              SusieInternalError);
}

// A header that claims a picture far beyond what we deliver is refused before anything is
// allocated for it.
TEST(WicDecRobust, OversizedPictureIsRefused) {
    struct Case {
        int32_t width, height;
    };
    for (const Case& c : {Case{40000, 40000}, Case{100000, 20000}, Case{30000, 30000}}) {
        std::string bmp(54, '\0');
        auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&bmp[at], &v, 4); };
        bmp[0] = 'B', bmp[1] = 'M';
        put32(2, 54 + 64);
        put32(10, 54);
        put32(14, 40);
        put32(18, uint32_t(c.width));
        put32(22, uint32_t(c.height));
        bmp[26] = 1, bmp[28] = 32;
        bmp += std::string(64, '\x7F');
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height);
        HLOCAL info = nullptr, bits = nullptr;
        EXPECT_EQ(Child::Get().GetPicture(bmp.data(), long(bmp.size()), SusieInputMemory, &info,
                                          &bits, nullptr, 0),
                  SusieOutOfMemory);
        PictureInfo pictureInfo{};
        EXPECT_EQ(Child::Get().GetPictureInfo(bmp.data(), long(bmp.size()), SusieInputMemory,
                                              &pictureInfo),
                  SusieOutOfMemory);
    }
}

struct ProgressLog {
    std::vector<std::pair<int, int>> calls;
    int abortAt = -1;  // the call (0 first) that answers nonzero
};
int __stdcall RecordProgress(int num, int denom, SusieLength lData) {
    auto* log = reinterpret_cast<ProgressLog*>(lData);
    log->calls.emplace_back(num, denom);
    return int(log->calls.size()) - 1 == log->abortAt;
}

TEST(WicDecProgress, CallbackBracketsDecodingAndCanAbort) {
    struct Case {
        int abortAt;
        int result;
        size_t calls;
    };
    const Request request(Picture("rgb.png"), Source::Memory);
    for (const Case& c : {Case{-1, SusieSuccess, 2}, Case{0, 1, 1}, Case{1, 1, 2}}) {
        SCOPED_TRACE(c.abortAt);
        ProgressLog log;
        log.abortAt = c.abortAt;
        EXPECT_EQ(request.GetPicture(nullptr, RecordProgress, reinterpret_cast<SusieLength>(&log)),
                  c.result);
        ASSERT_EQ(log.calls.size(), c.calls);
        EXPECT_EQ(log.calls[0], std::make_pair(0, 1));
        if (c.calls > 1) {
            EXPECT_EQ(log.calls[1], std::make_pair(1, 1));
        }
    }
}

// Each call brings its own COM apartment and leaves the thread's as it found it.
TEST(WicDecThreads, ApartmentOfTheCallingThreadIsKept) {
    const std::string bytes = Picture("rgb.png");
    struct Case {
        const char* name;
        DWORD prior;  // ~0u: no COM on the thread before the call
    };
    for (const Case& c :
         {Case{"no apartment", ~0u}, Case{"single-threaded", COINIT_APARTMENTTHREADED},
          Case{"multithreaded", COINIT_MULTITHREADED}}) {
        int result = -100;
        HRESULT before = S_OK, after = S_OK;
        std::thread([&] {
            if (c.prior != ~0u) before = CoInitializeEx(nullptr, c.prior);
            result = Request(bytes, Source::Memory).GetPicture(nullptr);
            // Asking for the other apartment kind shows what the thread is left in.
            const DWORD other = c.prior == COINIT_MULTITHREADED ? DWORD(COINIT_APARTMENTTHREADED)
                                                                : DWORD(COINIT_MULTITHREADED);
            after =
                CoInitializeEx(nullptr, c.prior == ~0u ? DWORD(COINIT_APARTMENTTHREADED) : other);
            if (SUCCEEDED(after)) CoUninitialize();
            if (c.prior != ~0u && SUCCEEDED(before)) CoUninitialize();
        }).join();
        EXPECT_EQ(before, S_OK) << c.name;
        EXPECT_EQ(result, SusieSuccess) << c.name;
        // Untouched thread: free for any apartment afterwards; otherwise still in its own.
        EXPECT_EQ(after, c.prior == ~0u ? S_OK : RPC_E_CHANGED_MODE) << c.name;
    }
}

TEST(WicDecThreads, ConcurrentDecodesAgree) {
    const char* files[] = {"rgb.jpg",         "rgba.png", "rgb.tif",
                           "transparent.gif", "cmyk.jpg", "ramp8.bmp"};
    std::vector<Bitmap> reference;
    for (const char* file : files) {
        reference.emplace_back();
        ASSERT_EQ(Request(Picture(file), Source::Memory).GetPicture(&reference.back()),
                  SusieSuccess)
            << file;
    }
    std::vector<int> mismatches(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < 6; ++round) {
                const size_t i = size_t(t + round) % std::size(files);
                Bitmap bitmap;
                if (Request(Picture(files[i]), Source::Memory).GetPicture(&bitmap) !=
                        SusieSuccess ||
                    bitmap.bits != reference[i].bits || bitmap.info != reference[i].info)
                    ++mismatches[size_t(t)];
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

// qorvi.spi's own loader takes the child as an import plug-in without GetPreview.
TEST(WicDecAsChild, LoadsThroughTSusiePlugin) {
    TSusiePlugin plugin;
    ASSERT_TRUE(plugin.LoadFrom(WidenAnsi(ChildPath())));
    EXPECT_EQ(plugin.FormatList, "*.jpg;*.jpeg;*.jpe;*.jfif;*.png;*.tif;*.tiff;*.bmp;*.dib;*.gif");
    EXPECT_EQ(plugin.GetPreview, nullptr);
    EXPECT_NE(plugin.UseCMYKColorSpace, nullptr);
    EXPECT_NE(plugin.IsSupported2, nullptr);
    EXPECT_TRUE(plugin.HasConfigurationDlg);

    const std::string bytes = Picture("rgb.gif");
    EXPECT_TRUE(plugin.CallIsSupported2("", bytes.data(), DWORD(bytes.size())));
    HLOCAL info = nullptr, bits = nullptr;
    EXPECT_EQ(plugin.CallGetPreview(bytes.data(), long(bytes.size()), SusieInputMemory, &info,
                                    &bits, nullptr, 0),
              SusieNotImplemented);
    ASSERT_EQ(plugin.CallGetPicture(bytes.data(), long(bytes.size()), SusieInputMemory, &info,
                                    &bits, nullptr, 0),
              SusieSuccess);
    const Bitmap bitmap = Take(info, bits);
    EXPECT_EQ(bitmap.header.biWidth, 64);
    PictureInfo pictureInfo{};
    EXPECT_EQ(
        plugin.CallGetPictureInfo(bytes.data(), long(bytes.size()), SusieInputMemory, &pictureInfo),
        SusieSuccess);
    EXPECT_EQ(pictureInfo.height, 48);
}

}  // namespace
}  // namespace qorvi
